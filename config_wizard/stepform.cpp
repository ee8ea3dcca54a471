#include "stepform.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QVBoxLayout>
#include <QWizardPage>

StepForm StepForm::build(QWizardPage *page, const QString &labelText)
{
    StepForm form;
    page->setWindowTitle(QWizardPage::tr("WizardPage"));
    page->resize(400, 300);
    form.label = new QLabel(labelText, page);
    form.label->setWordWrap(true);
    form.progressBar = new QProgressBar(page);
    form.progressBar->setTextVisible(false);
    form.log = new QPlainTextEdit(page);
    form.log->setReadOnly(true);
    auto *box = new QVBoxLayout(page);
    box->addWidget(form.label);
    box->addWidget(form.progressBar);
    box->addWidget(form.log);
    form.process = new QProcess(page);
    form.stepTimer = new QTimer(page);
    form.stepTimer->setSingleShot(true);
    return form;
}
