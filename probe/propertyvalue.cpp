#include "propertyvalue.h"

PropertyValue PropertyValue::int32(qint32 value)
{
    PropertyValue v;
    v.valueKind = Int32;
    v.number = value;
    return v;
}

PropertyValue PropertyValue::int64(const QString &decimal)
{
    PropertyValue v;
    v.valueKind = Int64;
    v.str = decimal;
    return v;
}

PropertyValue PropertyValue::int64(qint64 value)
{
    return int64(QString::number(value));
}

PropertyValue PropertyValue::uint64(quint64 value)
{
    return int64(QString::number(value));
}

PropertyValue PropertyValue::text(const QString &value)
{
    PropertyValue v;
    v.valueKind = Text;
    v.str = value;
    return v;
}

PropertyValue PropertyValue::boolean(bool value)
{
    PropertyValue v;
    v.valueKind = Boolean;
    v.flag = value;
    return v;
}

PropertyValue PropertyValue::dateTime(const QString &value)
{
    PropertyValue v;
    v.valueKind = DateTime;
    v.str = value;
    return v;
}

PropertyValue PropertyValue::textList(const QStringList &value)
{
    PropertyValue v;
    v.valueKind = TextList;
    v.list = value;
    return v;
}

quint64 PropertyValue::toUInt64() const
{
    switch (valueKind) {
    case Int32:
        return quint32(number);
    case Boolean:
        return flag ? 1 : 0;
    case Int64:
    case Text: {
        bool ok = false;
        const quint64 value = str.trimmed().toULongLong(&ok);
        if (ok)
            return value;
        const qint64 signedValue = str.trimmed().toLongLong(&ok);
        return ok ? quint64(signedValue) : 0;
    }
    case TextList:
        return list.isEmpty() ? 0 : PropertyValue::text(list.first()).toUInt64();
    default:
        return 0;
    }
}

qint64 PropertyValue::toInt64() const
{
    switch (valueKind) {
    case Int32:
        return number;
    case Int64:
    case Text: {
        bool ok = false;
        const qint64 value = str.trimmed().toLongLong(&ok);
        return ok ? value : qint64(toUInt64());
    }
    default:
        return qint64(toUInt64());
    }
}

qint32 PropertyValue::toInt32() const
{
    if (valueKind == Int32)
        return number;
    return qint32(toInt64());
}

double PropertyValue::toDouble() const
{
    switch (valueKind) {
    case Int32:
        return number;
    case Int64:
    case Text: {
        bool ok = false;
        const double value = str.trimmed().toDouble(&ok);
        return ok ? value : 0.0;
    }
    default:
        return double(toUInt64());
    }
}

bool PropertyValue::operator==(const PropertyValue &other) const
{
    return valueKind == other.valueKind && number == other.number && flag == other.flag &&
           str == other.str && list == other.list;
}
