#pragma once

#include "databaseconnection.h"
#include "serversettings.h"

#include <QFile>
#include <QObject>
#include <QString>
#include <QStringList>

// The server's central object. It lives in the server thread and owns everything the server
// does there: the log file, the configuration, the default database connection and (as they
// arrive) the listeners and the observer timer. The window only shows what it emits.
class MasterServer : public QObject
{
    Q_OBJECT
public:
    // programDir overrides the directory of Server.ini, Server.log and a relative embedded
    // database file; empty means the executable's directory.
    explicit MasterServer(const QString &programDir = QString(), QObject *parent = nullptr);
    ~MasterServer() override;

    // Headless mode: every log entry is also written to standard output.
    void setEchoToStandardOutput(bool echo);

    const ServerSettings &serverSettings() const;
    QString programDirectory() const;

signals:
    void writeUILog(QString Msg);
    void writeConnectionsLog(QString msg, int componentType, bool clear = false);

public slots:
    void init();
    void writeLog(QString msg);
    void checkDB();

private:
    bool openLogFile();
    void readConfiguration();
    bool startServers();
    void writeLogFile(const QString &msg);

    QString programDirOverride;
    QString programDir;
    QFile logFile;
    ServerSettings settings;
    DatabaseConnection dbConnection;
    bool echoToStandardOutput = false;
};
