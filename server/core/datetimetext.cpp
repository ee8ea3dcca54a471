#include "datetimetext.h"

const QString DateTimeText::writeFormat = QStringLiteral("yyyy-MM-dd hh:mm:ss");
const QString DateTimeText::readFormat = QStringLiteral("yyyy-MM-ddThh:mm:ss");

QString DateTimeText::toDatabase(const QDateTime &dateTime)
{
    return dateTime.toLocalTime().toString(writeFormat);
}

QString DateTimeText::now()
{
    return toDatabase(QDateTime::currentDateTime());
}

QString DateTimeText::fromDatabase(const QVariant &value)
{
    if (value.isNull() || !value.isValid())
        return QString();
    switch (value.userType()) {
    case QMetaType::QDateTime:
        // The wall-clock time as written; no zone conversion, the column has none.
        return value.toDateTime().toString(readFormat);
    case QMetaType::QDate:
        return value.toDate().startOfDay().toString(readFormat);
    default:
        break;
    }
    // Stored text: "yyyy-MM-dd hh:mm:ss" or "yyyy-MM-ddThh:mm:ss", possibly followed by
    // fractions of a second or a zone, which the read form does not carry.
    QString text = value.toString().trimmed();
    if (text.size() == 10)
        text += QLatin1String(" 00:00:00");
    if (text.size() < 19)
        return QString();
    text.truncate(19);
    text[10] = QLatin1Char('T');
    if (!QDateTime::fromString(text, readFormat).isValid())
        return QString();
    return text;
}

QDateTime DateTimeText::parse(const QVariant &value)
{
    return QDateTime::fromString(fromDatabase(value), readFormat);
}
