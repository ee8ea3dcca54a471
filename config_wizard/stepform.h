#pragma once

#include <QProcess>
#include <QString>
#include <QTimer>

class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QWizardPage;

// What the configuration run's page and the uninstaller's share: a label, a progress bar
// without text and a read-only log under each other, and one process whose signals, and the
// timer that bounds each waited step, reach the page's handlers of the same names.
struct StepForm {
    QLabel *label = nullptr;
    QProgressBar *progressBar = nullptr;
    QPlainTextEdit *log = nullptr;
    QProcess *process = nullptr;
    QTimer *stepTimer = nullptr;

    static StepForm build(QWizardPage *page, const QString &labelText);

    template <class Page> void connectTo(Page *page) const
    {
        QObject::connect(process, &QProcess::readyReadStandardError, page,
                         &Page::storeStandardError);
        QObject::connect(process, &QProcess::readyReadStandardOutput, page,
                         &Page::storeStandardOutput);
        QObject::connect(process, &QProcess::errorOccurred, page, &Page::operationError);
        QObject::connect(process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished),
                         page, &Page::operationFinished);
        QObject::connect(stepTimer, &QTimer::timeout, page, &Page::stepTimedOut);
    }
};
