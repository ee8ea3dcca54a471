#pragma once

#include "propertyvalue.h"

#include <QHash>

// One result object of a query. Property names are matched ignoring case, as the
// management interface does.
class INVPROBE_EXPORT ManagementObject
{
public:
    void set(const QString &name, const PropertyValue &value);
    PropertyValue get(const QString &name) const;
    bool has(const QString &name) const;
    // Keeps only the named properties (a column list in the query).
    void restrictTo(const QStringList &names);

private:
    QHash<QString, PropertyValue> properties;
};
