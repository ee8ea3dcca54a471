#pragma once

#include "inventoryvalues.h"

#include <QSqlDatabase>
#include <QString>
#include <QVector>

// Writes the sections of one inventory document for a machine: the hardware group replaced
// as one, each other table replaced when its section has rows, one monitoring row appended,
// the drive availability overwritten. Sections are indexed by InventoryTemplates::Section.
class InventoryStore
{
public:
    static void store(const QSqlDatabase &db, int machineId, const QVector<ValueRows> &sections,
                      const QString &timestamp);
};
