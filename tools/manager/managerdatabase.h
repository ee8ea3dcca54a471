#pragma once

#include "databaseconnection.h"

#include <QList>
#include <QSqlRecord>
#include <QString>

class ManagerConfig;
class SqlText;

// The tool's own connection to the server's database, opened with the settings of
// Server.ini. Unlike the server, the tool reports every failed statement: an administrator
// must learn that a job was not stored.
class ManagerDatabase
{
public:
    ManagerDatabase() = default;
    ManagerDatabase(const ManagerDatabase &) = delete;
    ManagerDatabase &operator=(const ManagerDatabase &) = delete;

    bool open(const ManagerConfig &config);
    void close();

    // All rows of a query; false (and errorText()) when the statement failed. With shape,
    // also the result's columns, which a query without rows still has.
    bool select(const SqlText &statement, QList<QSqlRecord> *rows, QSqlRecord *shape = nullptr);
    // The first row, or an empty record when there is none or the statement failed.
    QSqlRecord first(const SqlText &statement, bool *ok = nullptr);
    bool exec(const SqlText &statement);
    // An INSERT ... RETURNING id; the new id, or -1 when the statement failed.
    int insert(const SqlText &statement);

    // Several statements that stand or fall together (a job and its assignments).
    bool begin();
    bool commit();
    void rollback();

    QString errorText() const;

private:
    DatabaseConnection connection;
    QString error;
};
