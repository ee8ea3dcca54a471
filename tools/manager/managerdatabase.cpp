#include "managerdatabase.h"

#include "managerconfig.h"
#include "sqltext.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace
{

const QString kConnectionName = QStringLiteral("kelvarix-manager");

} // namespace

bool ManagerDatabase::open(const ManagerConfig &config)
{
    const ServerSettings &s = config.settings;
    connection.setBaseDir(config.configDir);
    connection.setPort(s.dbPort);
    if (s.dbType.isEmpty()) {
        error = QStringLiteral("no dbType in ") + config.iniPath;
        return false;
    }
    if (!connection.openNamed(s.dbType, s.dbServer, s.dbUsername, s.dbPassword, s.dbName,
                              kConnectionName)) {
        error = connection.lastErrorText().trimmed();
        if (error.isEmpty())
            error = QStringLiteral("driver %1 gave no reason").arg(s.dbType);
        return false;
    }
    return true;
}

void ManagerDatabase::close()
{
    connection.closeAndRemove();
}

bool ManagerDatabase::select(const SqlText &statement, QList<QSqlRecord> *rows, QSqlRecord *shape)
{
    rows->clear();
    QSqlQuery query(connection.database());
    if (!query.exec(statement.toString())) {
        error = query.lastError().text().trimmed();
        return false;
    }
    if (shape)
        *shape = query.record();
    while (query.next())
        rows->append(query.record());
    return true;
}

QSqlRecord ManagerDatabase::first(const SqlText &statement, bool *ok)
{
    QList<QSqlRecord> rows;
    const bool done = select(statement, &rows);
    if (ok)
        *ok = done;
    return rows.isEmpty() ? QSqlRecord() : rows.first();
}

bool ManagerDatabase::exec(const SqlText &statement)
{
    QSqlQuery query(connection.database());
    if (!query.exec(statement.toString())) {
        error = query.lastError().text().trimmed();
        return false;
    }
    return true;
}

int ManagerDatabase::insert(const SqlText &statement)
{
    QSqlQuery query(connection.database());
    if (!query.exec(statement.toString())) {
        error = query.lastError().text().trimmed();
        return -1;
    }
    if (!query.next()) {
        error = QStringLiteral("the database returned no id for the new row");
        return -1;
    }
    return query.value(0).toInt();
}

QString ManagerDatabase::errorText() const
{
    return error;
}

bool ManagerDatabase::begin()
{
    QSqlDatabase db = connection.database();
    if (!db.transaction()) {
        error = db.lastError().text().trimmed();
        return false;
    }
    return true;
}

bool ManagerDatabase::commit()
{
    QSqlDatabase db = connection.database();
    if (!db.commit()) {
        error = db.lastError().text().trimmed();
        db.rollback();
        return false;
    }
    return true;
}

void ManagerDatabase::rollback()
{
    connection.database().rollback();
}
