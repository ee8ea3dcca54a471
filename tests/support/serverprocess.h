#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// The KelvarixServer program run headless with its configuration in a directory of the
// test's choosing (--config-dir); standard output carries every log entry.
//
//     ServerProcess server(dir.path());
//     ServerProcess::writeServerIni(dir.path(), pg.serverIniLines());
//     QVERIFY(server.start());
//     QVERIFY(server.waitForMessage("Kelvarix Server is running ....."));
class ServerProcess
{
public:
    explicit ServerProcess(const QString &configDir);
    ~ServerProcess();

    static QString programPath();
    static bool writeServerIni(const QString &dir, const QStringList &lines);
    // The embedded database zvn.sqlite in `dir`, made from the repository's SQLite schema and
    // fill files as the sqlite3 program reads them, and a Server.ini for it with free ports
    // (handed back in `ports`).
    static bool writeSqliteSetup(const QString &dir, QStringList *ports);
    // Server.ini lines that give each configurable port a free one, so that servers of
    // parallel tests never collide on the defaults.
    static QStringList freePortLines();
    // The port a "Key=N" line of such a list gives, or 0.
    static int portIn(const QStringList &lines, const QString &key);

    // With a display name the program runs with its window on that X display instead of
    // headless; its messages are then read from Server.log.
    void setDisplay(const QString &display);

    bool start(const QStringList &extraArguments = QStringList());
    // Waits until a log entry with exactly this message has been written.
    bool waitForMessage(const QString &message, int timeoutMs = 30000);
    // The messages printed so far (the text after the date-time and " - ").
    QStringList messages();
    QString output();
    // Ends the program (SIGTERM, then kill) and returns whether it was still running.
    bool stop();

    QProcess &process();

private:
    void readOutput();

    QString configDir;
    QString displayName;
    QProcess serverProcess;
    QByteArray buffer;
    QStringList lines;
};
