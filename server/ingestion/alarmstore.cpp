#include "alarmstore.h"

#include "ingestionlog.h"
#include "inventorytemplates.h"
#include "reporttransaction.h"
#include "sqltext.h"

void AlarmStore::store(const QSqlDatabase &db, int machineId, const QVector<ValueRows> &kinds,
                       const QString &timestamp)
{
    if (kinds.size() != InventoryTemplates::AlarmKindCount)
        return;
    if (!db.isOpen()) {
        qCWarning(lcIngestion) << "alarms of machine" << machineId << "not stored: no database";
        return;
    }
    const QString mid = QString::number(machineId);
    const QString date = SqlText::literal(timestamp);
    QStringList tuples;
    for (int kind = 0; kind < kinds.size(); ++kind) {
        const QString alarmId = SqlText::literal(QString::number(
            InventoryTemplates::alarmId(static_cast<InventoryTemplates::AlarmKind>(kind))));
        for (const QStringList &row : kinds.at(kind)) {
            const QString data = row.isEmpty() ? QString() : row.first();
            tuples << ReportTransaction::tuple({alarmId, SqlText::literal(data), mid, date, date});
        }
    }
    if (tuples.isEmpty())
        return;
    ReportTransaction transaction(db);
    transaction.insertRows(
        QStringLiteral("INSERT into alarms (alarm_id, data, mid, created_at, updated_at) VALUES "),
        tuples);
    transaction.commit();
}
