#include "mainwindow.h"
#include "masterserver.h"
#include "pidfile.h"
#include "serverresources.h"
#include "serverrunner.h"
#include "terminationwatcher.h"

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QSystemTrayIcon>
#include <csignal>
#include <cstdio>
#include <cstring>

namespace
{

const QString kPidFileName = QStringLiteral("KelvarixServer.pid");

const char kUsage[] =
    "Usage: KelvarixServer [--headless] [--config-dir DIR]\n"
    "  --headless        run without window and tray; log entries also go to standard output;\n"
    "                    a port that cannot be bound ends the program with exit code 3\n"
    "  --config-dir DIR  directory of Server.ini and Server.log (default: the program's "
    "directory)\n";

// Headless, a port that cannot be bound ends the program, so that a service manager notices
// and restarts it instead of keeping a server that some clients cannot reach.
constexpr int kExitListenFailed = 3;

// Beside Server.log: the configuration directory, or the program's own.
QString pidFilePath(const QString &configDir)
{
    const QString dir = configDir.isEmpty() ? QCoreApplication::applicationDirPath() : configDir;
    return QDir(dir).filePath(kPidFileName);
}

int runHeadless(int argc, char **argv, const QString &configDir)
{
    // A closed standard output (a pager that quit, a lost terminal) must not end the server.
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication app(argc, argv);
    const PidFile pidFile(pidFilePath(configDir));
    TerminationWatcher watcher;
    QObject::connect(&watcher, &TerminationWatcher::terminationRequested, &app,
                     &QCoreApplication::quit);
    auto *server = new MasterServer(configDir);
    server->setEchoToStandardOutput(true);
    QObject::connect(server, &MasterServer::listenFailed, &app, [&app](int port) {
        std::fprintf(stderr, "KelvarixServer: cannot listen on port %d; exiting\n", port);
        std::fflush(stderr);
        app.exit(kExitListenFailed);
    });
    ServerRunner runner(server);
    runner.start();
    return app.exec();
}

int runWindow(int argc, char **argv, const QString &configDir)
{
    initServerResources();
    QApplication app(argc, argv);
    TerminationWatcher watcher;
    QObject::connect(&watcher, &TerminationWatcher::terminationRequested, &app,
                     &QCoreApplication::quit);
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        // Also on the terminal: whoever started the program there may not see the box.
        std::fputs("KelvarixServer: I couldn't detect any system tray on this system "
                   "(--headless runs without one).\n",
                   stderr);
        std::fflush(stderr);
        QMessageBox::critical(nullptr, QObject::tr("Systray"),
                              QObject::tr("I couldn't detect any system tray on this system."));
        return 1;
    }
    // Closing the window only hides it; Exit ends the program.
    QApplication::setQuitOnLastWindowClosed(false);
    const PidFile pidFile(pidFilePath(configDir));
    MainWindow window(configDir);
    window.show();
    return app.exec();
}

} // namespace

int main(int argc, char **argv)
{
    bool headless = false;
    QString configDir;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--headless") == 0) {
            headless = true;
        } else if (std::strcmp(argv[i], "--config-dir") == 0 && i + 1 < argc) {
            configDir = QDir(QString::fromLocal8Bit(argv[++i])).absolutePath();
        } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        } else {
            std::fprintf(stderr, "KelvarixServer: unknown argument %s\n%s", argv[i], kUsage);
            return 2;
        }
    }
    return headless ? runHeadless(argc, argv, configDir) : runWindow(argc, argv, configDir);
}
