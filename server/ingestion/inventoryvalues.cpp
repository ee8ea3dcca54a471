#include "inventoryvalues.h"

#include <cmath>

namespace
{

const QString kTotal = QStringLiteral("_Total");
const QString kZero = QStringLiteral("0");

bool isTotalRow(const QStringList &row)
{
    for (const QString &value : row) {
        if (value.contains(kTotal))
            return true;
    }
    return false;
}

QString valueAt(const QStringList &row, int index)
{
    return index < row.size() ? row.at(index) : kZero;
}

double sumOf(const ValueRows &rows, int index)
{
    double sum = 0;
    for (const QStringList &row : rows) {
        if (index < row.size())
            sum += InventoryValues::numberOf(row.at(index));
    }
    return std::isfinite(sum) ? sum : 0;
}

} // namespace

QString InventoryValues::sixDigitForm(double value)
{
    return QString::number(value, 'g', 6);
}

double InventoryValues::numberOf(const QString &value)
{
    bool ok = false;
    const double number = value.trimmed().toDouble(&ok);
    return ok && std::isfinite(number) ? number : 0;
}

InventoryValues::Totals InventoryValues::totals(const ValueRows &memory,
                                                const ValueRows &processors,
                                                const ValueRows &drives)
{
    Totals totals;
    totals.memorySize = sixDigitForm(sumOf(memory, 4));
    totals.cpuNumbers = processors.size();
    totals.driveSize = sixDigitForm(sumOf(drives, 3));
    return totals;
}

bool InventoryValues::monitoringDue(const ValueRows &cpuLoad, const ValueRows &memoryLoad,
                                    const ValueRows &systemObjects, const ValueRows &networkLoad,
                                    const ValueRows &batteries)
{
    return !batteries.isEmpty() || !cpuLoad.isEmpty() || !memoryLoad.isEmpty() ||
           !systemObjects.isEmpty() || !networkLoad.isEmpty();
}

QStringList InventoryValues::monitoringValues(const ValueRows &cpuLoad, const ValueRows &memoryLoad,
                                              const ValueRows &systemObjects,
                                              const ValueRows &diskLoad,
                                              const ValueRows &networkLoad,
                                              const ValueRows &batteries)
{
    QStringList values;

    QString cpu = kZero;
    for (const QStringList &row : cpuLoad) {
        if (isTotalRow(row)) {
            cpu = valueAt(row, 1);
            break;
        }
    }
    values << cpu;

    values << (memoryLoad.isEmpty() ? kZero : valueAt(memoryLoad.first(), 1));

    if (systemObjects.isEmpty())
        values << kZero << kZero;
    else
        values << valueAt(systemObjects.first(), 0) << valueAt(systemObjects.first(), 1);

    QString disk = kZero;
    for (const QStringList &row : diskLoad) {
        if (isTotalRow(row)) {
            disk = valueAt(row, 3);
            break;
        }
    }
    values << disk;

    // The first adapter that shows any traffic stands for the machine.
    QString network = kZero;
    for (const QStringList &row : networkLoad) {
        const QString utilization = valueAt(row, 6);
        if (numberOf(utilization) > 0) {
            network = utilization;
            break;
        }
    }
    values << network;

    values << (batteries.isEmpty() ? kZero : valueAt(batteries.first(), 2));
    return values;
}

QVector<InventoryValues::FreeSpace> InventoryValues::driveAvailability(const ValueRows &diskLoad)
{
    QVector<FreeSpace> drives;
    for (const QStringList &row : diskLoad) {
        if (isTotalRow(row))
            continue;
        FreeSpace drive;
        drive.name = valueAt(row, 0);
        drive.freeSpace = valueAt(row, 1);
        drives.append(drive);
    }
    return drives;
}
