#include "managementobject.h"

#include <QSet>

void ManagementObject::set(const QString &name, const PropertyValue &value)
{
    properties.insert(name.toLower(), value);
}

PropertyValue ManagementObject::get(const QString &name) const
{
    return properties.value(name.toLower());
}

bool ManagementObject::has(const QString &name) const
{
    return properties.contains(name.toLower());
}

void ManagementObject::restrictTo(const QStringList &names)
{
    QSet<QString> keep;
    for (const QString &name : names)
        keep.insert(name.toLower());
    for (auto it = properties.begin(); it != properties.end();) {
        if (keep.contains(it.key()))
            ++it;
        else
            it = properties.erase(it);
    }
}
