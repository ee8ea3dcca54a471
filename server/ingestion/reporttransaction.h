#pragma once

#include "sqltext.h"

#include <QSqlDatabase>
#include <QString>
#include <QStringList>

// Runs the statements of one report in one transaction, so that a reader sees a machine's
// sections either as they were or fully replaced, while each statement still stands on its
// own: it runs under a savepoint, and a failing one is rolled back alone and the others go
// on (PostgreSQL would otherwise refuse everything after the first error).
class ReportTransaction
{
public:
    explicit ReportTransaction(const QSqlDatabase &db);
    ~ReportTransaction();
    ReportTransaction(const ReportTransaction &) = delete;
    ReportTransaction &operator=(const ReportTransaction &) = delete;

    // False when the statement failed; it then left nothing behind.
    bool run(const SqlText &statement);
    // "INSERT ... VALUES " followed by the tuples, many rows per statement; a failing batch is
    // retried row by row so that only the rows the database refuses are missing.
    void insertRows(const QString &insertPrefix, const QStringList &tuples);
    // A tuple "(v1, v2, ...)" of ready literals or numbers.
    static QString tuple(const QStringList &literals);

    void commit();
    int failedStatements() const { return failures; }

private:
    bool runBatch(const QString &insertPrefix, const QStringList &tuples);

    QSqlDatabase db;
    bool open = false;
    int failures = 0;
};
