#include "agentsettings.h"
#include "agenttrayresources.h"
#include "invprobe.h"
#include "mainwindow.h"
#include "signalwatcher.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMessageBox>
#include <QSystemTrayIcon>
#include <QTimer>
#include <cstdio>

namespace
{

// Started with the desktop session, the agent may come up before the panel that holds the
// notification area, so it waits a little for one before giving up.
constexpr int kTrayWaitMs = 10000;
constexpr int kTrayPollMs = 200;

bool systemTrayAppears(const bool &stopRequested)
{
    QElapsedTimer waited;
    waited.start();
    while (!QSystemTrayIcon::isSystemTrayAvailable()) {
        if (stopRequested || waited.hasExpired(kTrayWaitMs))
            return false;
        QEventLoop pause;
        QTimer::singleShot(kTrayPollMs, &pause, &QEventLoop::quit);
        pause.exec();
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    initAgentTrayResources();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("KelvarixAgent"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("The %1 agent in the notification area.").arg(QLatin1String(kProductName)));
    parser.addHelpOption();
    const QCommandLineOption configDir(
        QStringLiteral("config-dir"),
        QStringLiteral("Directory of Agent.ini, Agent.key and Agent.log (default: the "
                       "program's directory)."),
        QStringLiteral("DIR"));
    parser.addOption(configDir);
    parser.process(app);
    const QString directory = parser.isSet(configDir) ? QDir(parser.value(configDir)).absolutePath()
                                                      : QCoreApplication::applicationDirPath();

    // A session that ends, or a terminal's interrupt, quits as Exit does.
    bool stopRequested = false;
    SignalWatcher watcher(false);
    QObject::connect(&watcher, &SignalWatcher::terminationRequested, &app, [&stopRequested](int) {
        stopRequested = true;
        QCoreApplication::quit();
    });

    if (!systemTrayAppears(stopRequested)) {
        if (stopRequested)
            return 0;
        // Also on the terminal: whoever started the program there may not see the box.
        std::fputs("KelvarixAgent: I couldn't detect any system tray on this system.\n", stderr);
        std::fflush(stderr);
        QMessageBox::critical(
            nullptr, QObject::tr("%1 Agent - Systray").arg(QLatin1String(kProductName)),
            QObject::tr("I couldn't detect any system tray on this system."), QMessageBox::Ok);
        return 1;
    }

    // Received files land below the working directory, which belongs beside Agent.ini.
    QDir::setCurrent(directory);
    // What the start-up entry starts: this program, wherever it was installed.
    if (setAgentApplicationPath(QCoreApplication::applicationFilePath()) != 0)
        std::fputs("KelvarixAgent: unable to record the program's path; the start-up entry "
                   "cannot be added.\n",
                   stderr);

    QApplication::setQuitOnLastWindowClosed(false);
    MainWindow window(directory);
    return app.exec();
}
