#pragma once

#include "invprobe.h"

#include <QString>
#include <QStringList>

// One property of one management-interface result object, in the few kinds the
// inventory needs. 64-bit counters travel as decimal text, as the interface delivers them.
class INVPROBE_EXPORT PropertyValue
{
public:
    enum Kind { None, Int32, Int64, Text, Boolean, DateTime, TextList };

    PropertyValue() = default;
    static PropertyValue int32(qint32 value);
    static PropertyValue int64(const QString &decimal);
    static PropertyValue int64(qint64 value);
    static PropertyValue uint64(quint64 value);
    static PropertyValue text(const QString &value);
    static PropertyValue boolean(bool value);
    static PropertyValue dateTime(const QString &value);
    static PropertyValue textList(const QStringList &value);

    Kind kind() const { return valueKind; }
    bool isNone() const { return valueKind == None; }
    qint32 int32Value() const { return number; }
    bool booleanValue() const { return flag; }
    const QString &textValue() const { return str; }
    const QStringList &listValue() const { return list; }

    // Numeric readings used by computed elements; anything that is not a number reads as 0.
    quint64 toUInt64() const;
    qint64 toInt64() const;
    qint32 toInt32() const;
    double toDouble() const;

    bool operator==(const PropertyValue &other) const;

private:
    Kind valueKind = None;
    qint32 number = 0;
    bool flag = false;
    QString str;
    QStringList list;
};
