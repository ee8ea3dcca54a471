#include "databaseconnection.h"

#include "serverlog.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>

namespace
{

const QString kSqliteDriver = QStringLiteral("QSQLITE");
const QString kPostgresDriver = QStringLiteral("QPSQL");

} // namespace

DatabaseConnection::~DatabaseConnection()
{
    closeAndRemove();
}

bool DatabaseConnection::openDefault(const QString &driver, const QString &host,
                                     const QString &user, const QString &password,
                                     const QString &databaseName)
{
    return openNamed(driver, host, user, password, databaseName,
                     QLatin1String(QSqlDatabase::defaultConnection));
}

bool DatabaseConnection::openNamed(const QString &driver, const QString &host, const QString &user,
                                   const QString &password, const QString &databaseName,
                                   const QString &connectionName)
{
    closeAndRemove();
    name = connectionName;
    errorText.clear();

    QSqlDatabase db = QSqlDatabase::addDatabase(driver, name);
    registered = true;

    QString database = databaseName;
    if (driver == kSqliteDriver) {
        database = embeddedDatabasePath(databaseName, baseDir);
        // SQLite would quietly create an empty file; the server never creates tables,
        // so a missing database is a failure to open, not a new database.
        if (databaseName.isEmpty() || !QFileInfo::exists(database)) {
            errorText = QStringLiteral("Database file not found: ") + database;
            qCWarning(lcServer) << errorText;
            return false;
        }
    }

    db.setHostName(host);
    db.setUserName(user);
    db.setPassword(password);
    db.setDatabaseName(database);
    if (port > 0)
        db.setPort(port);

    if (!db.open()) {
        errorText = db.lastError().text();
        qCWarning(lcServer) << "database open failed:" << name << errorText;
        return false;
    }
    if (driver == kPostgresDriver) {
        // Backslashes in literals are then plain characters, as the escaping relies on.
        QSqlQuery query(db);
        query.exec(QStringLiteral("SET standard_conforming_strings = on"));
    }
    return true;
}

QString DatabaseConnection::lastErrorText() const
{
    return errorText;
}

void DatabaseConnection::closeAndRemove()
{
    if (!registered)
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(name, false);
        if (db.isOpen())
            db.close();
    }
    // No handle may outlive the registration.
    QSqlDatabase::removeDatabase(name);
    registered = false;
}

void DatabaseConnection::setPort(int port)
{
    this->port = port;
}

void DatabaseConnection::setBaseDir(const QString &dir)
{
    baseDir = dir;
}

QString DatabaseConnection::connectionName() const
{
    return name;
}

QSqlDatabase DatabaseConnection::database() const
{
    return QSqlDatabase::database(name, false);
}

bool DatabaseConnection::isOpen() const
{
    return registered && database().isOpen();
}

QString DatabaseConnection::embeddedDatabasePath(const QString &databaseName,
                                                 const QString &baseDir)
{
    if (databaseName.isEmpty() || QDir::isAbsolutePath(databaseName) || baseDir.isEmpty())
        return databaseName;
    return QDir(baseDir).filePath(databaseName);
}
