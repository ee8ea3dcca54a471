#include "valueforms.h"

#include "propertyvalue.h"

#include <cmath>

QString escapeText(const QString &text)
{
    // The order matters: "&" first so that the entities added later are not escaped again.
    QString result = text;
    result.replace(QLatin1Char('&'), QLatin1String("&amp;"));
    result.replace(QLatin1Char('%'), QLatin1String("\"%\""));
    result.replace(QLatin1Char('>'), QLatin1String("&gt;"));
    result.replace(QLatin1Char('<'), QLatin1String("&lt;"));
    return result;
}

QString joinTextList(const QStringList &list)
{
    QString result;
    for (const QString &item : list) {
        if (!result.isEmpty())
            result += QLatin1String(" , ");
        result += item;
    }
    return result;
}

QString variantText(const PropertyValue &value)
{
    switch (value.kind()) {
    case PropertyValue::Int32:
        return QString::number(quint32(value.int32Value()));
    case PropertyValue::Int64:
    case PropertyValue::Text:
    case PropertyValue::DateTime:
        return value.textValue();
    case PropertyValue::Boolean:
        return value.booleanValue() ? QStringLiteral("65535") : QStringLiteral("0");
    case PropertyValue::TextList:
        return joinTextList(value.listValue());
    case PropertyValue::None:
        break;
    }
    return QString();
}

QString escapedText(const PropertyValue &value)
{
    return escapeText(variantText(value));
}

QString twoDecimalForm(double value)
{
    return QString::number(value, 'f', 2);
}

QString integerForm(double value)
{
    if (!std::isfinite(value))
        return QStringLiteral("0");
    return QString::number(qint64(std::trunc(value)));
}

QString integerForm(quint64 value)
{
    return QString::number(value);
}

QString sixDigitForm(double value)
{
    return QString::number(value, 'g', 6);
}

QString element(const QString &tag, const QString &text)
{
    return QLatin1Char('<') + tag + QLatin1Char('>') + text + QLatin1String("</") + tag +
           QLatin1Char('>');
}
