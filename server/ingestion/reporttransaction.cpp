#include "reporttransaction.h"

#include "ingestionlog.h"

#include <QSqlError>
#include <QSqlQuery>

namespace
{

// Keeps single statements well below the drivers' limits (SQLite refuses texts above 1 MB).
constexpr int kMaxRowsPerStatement = 250;
constexpr int kMaxStatementChars = 256 * 1024;

const QString kSavepoint = QStringLiteral("SAVEPOINT kx_statement");
const QString kRollbackTo = QStringLiteral("ROLLBACK TO SAVEPOINT kx_statement");
const QString kRelease = QStringLiteral("RELEASE SAVEPOINT kx_statement");

bool execPlain(const QSqlDatabase &db, const QString &statement)
{
    QSqlQuery query(db);
    if (query.exec(statement))
        return true;
    qCWarning(lcIngestion) << statement << "failed:" << query.lastError().text();
    return false;
}

} // namespace

ReportTransaction::ReportTransaction(const QSqlDatabase &db) : db(db)
{
    open = this->db.isOpen() && this->db.transaction();
    if (!open)
        qCWarning(lcIngestion) << "no transaction, statements run one by one:"
                               << this->db.lastError().text();
}

ReportTransaction::~ReportTransaction()
{
    commit();
}

bool ReportTransaction::run(const SqlText &statement)
{
    if (open)
        execPlain(db, kSavepoint);
    QSqlQuery query(db);
    const QString text = statement.toString();
    const bool ok = query.exec(text);
    if (!ok) {
        ++failures;
        qCWarning(lcIngestion) << "statement failed:" << text.left(300) << query.lastError().text();
        if (open)
            execPlain(db, kRollbackTo);
    }
    if (open)
        execPlain(db, kRelease);
    return ok;
}

QString ReportTransaction::tuple(const QStringList &literals)
{
    return QLatin1Char('(') + literals.join(QStringLiteral(", ")) + QLatin1Char(')');
}

bool ReportTransaction::runBatch(const QString &insertPrefix, const QStringList &tuples)
{
    if (tuples.size() == 1)
        return run(SqlText(insertPrefix + QStringLiteral("%1")).fragment(tuples.first()));
    if (run(SqlText(insertPrefix + QStringLiteral("%1"))
                .fragment(tuples.join(QStringLiteral(", ")))))
        return true;
    // The failed batch counted once; now find the rows the database refuses.
    --failures;
    bool all = true;
    for (const QString &row : tuples)
        all = run(SqlText(insertPrefix + QStringLiteral("%1")).fragment(row)) && all;
    return all;
}

void ReportTransaction::insertRows(const QString &insertPrefix, const QStringList &tuples)
{
    QStringList batch;
    int chars = 0;
    for (const QString &row : tuples) {
        if (!batch.isEmpty() &&
            (batch.size() >= kMaxRowsPerStatement || chars + row.size() > kMaxStatementChars)) {
            runBatch(insertPrefix, batch);
            batch.clear();
            chars = 0;
        }
        batch << row;
        chars += row.size() + 2;
    }
    if (!batch.isEmpty())
        runBatch(insertPrefix, batch);
}

void ReportTransaction::commit()
{
    if (!open)
        return;
    open = false;
    if (!db.commit()) {
        qCWarning(lcIngestion) << "commit failed:" << db.lastError().text();
        db.rollback();
    }
}
