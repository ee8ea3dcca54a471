#pragma once

#include "inventoryvalues.h"

#include <QSqlDatabase>
#include <QString>
#include <QVector>

// Adds one alarms row per alarm of a document; kinds are indexed by
// InventoryTemplates::AlarmKind and written in that order.
class AlarmStore
{
public:
    static void store(const QSqlDatabase &db, int machineId, const QVector<ValueRows> &kinds,
                      const QString &timestamp);
};
