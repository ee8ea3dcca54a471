#pragma once

#include <QSqlDatabase>
#include <QString>

// One connection of the SQL layer and the text of its last open failure.
// "QPSQL" is PostgreSQL; "QSQLITE" is the embedded default, whose database name is the
// database file (a relative name is taken relative to the base directory).
class DatabaseConnection
{
public:
    DatabaseConnection() = default;
    ~DatabaseConnection();
    DatabaseConnection(const DatabaseConnection &) = delete;
    DatabaseConnection &operator=(const DatabaseConnection &) = delete;

    bool openDefault(const QString &driver, const QString &host, const QString &user,
                     const QString &password, const QString &databaseName);
    bool openNamed(const QString &driver, const QString &host, const QString &user,
                   const QString &password, const QString &databaseName,
                   const QString &connectionName);
    QString lastErrorText() const;
    void closeAndRemove();

    // 0 (the default) leaves the driver's own default port.
    void setPort(int port);
    // Directory that a relative embedded database file name is relative to.
    void setBaseDir(const QString &dir);

    QString connectionName() const;
    QSqlDatabase database() const;
    bool isOpen() const;

    static QString embeddedDatabasePath(const QString &databaseName, const QString &baseDir);

private:
    QString name;
    QString errorText;
    QString baseDir;
    int port = 0;
    bool registered = false;
};
