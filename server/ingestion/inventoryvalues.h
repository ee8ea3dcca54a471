#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

// One section's rows, each the list of its template's values in order.
using ValueRows = QVector<QStringList>;

// The values the server derives from an inventory document: totals, the monitoring row and
// the drive availability. Pure functions over value rows, read by position: a comma or an
// apostrophe inside a value never shifts the value read.
class InventoryValues
{
public:
    struct Totals {
        QString memorySize; // MiB, six-digit form
        int cpuNumbers = 0;
        QString driveSize; // GiB, six-digit form
    };

    struct FreeSpace {
        QString name;
        QString freeSpace;
    };

    // Shorter of fixed and exponent notation, at most six significant digits (1.5e+06).
    static QString sixDigitForm(double value);
    // A value read as a number; 0 for text that is no finite number.
    static double numberOf(const QString &value);

    static Totals totals(const ValueRows &memory, const ValueRows &processors,
                         const ValueRows &drives);

    // Whether a report writes a monitoring row: disk load alone does not count.
    static bool monitoringDue(const ValueRows &cpuLoad, const ValueRows &memoryLoad,
                              const ValueRows &systemObjects, const ValueRows &networkLoad,
                              const ValueRows &batteries);
    // cpuUsagePercentage, memoryUsagePercentage, numberOfProcess, numberOfThread,
    // diskUsagePercentage, netAdapterUsagePercentage, battery; "0" where nothing applies.
    static QStringList monitoringValues(const ValueRows &cpuLoad, const ValueRows &memoryLoad,
                                        const ValueRows &systemObjects, const ValueRows &diskLoad,
                                        const ValueRows &networkLoad, const ValueRows &batteries);

    // The volumes of a disk load (every row but the "_Total" one), in document order.
    static QVector<FreeSpace> driveAvailability(const ValueRows &diskLoad);
};
