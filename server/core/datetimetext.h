#pragma once

#include <QDateTime>
#include <QString>
#include <QVariant>

// Date-times go to the database as "yyyy-MM-dd hh:mm:ss" (local time) and come back as
// "yyyy-MM-ddThh:mm:ss", whichever driver answers: PostgreSQL hands back a QDateTime,
// SQLite the stored text. Every reader of a date-time column goes through fromDatabase.
class DateTimeText
{
public:
    static const QString writeFormat;
    static const QString readFormat;

    static QString toDatabase(const QDateTime &dateTime);
    // The current local time in the written form.
    static QString now();

    // A column value in the read form; empty for NULL or text that is no date-time.
    static QString fromDatabase(const QVariant &value);
    // The same value parsed with the read form (invalid when there is none).
    static QDateTime parse(const QVariant &value);
};
