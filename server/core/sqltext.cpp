#include "sqltext.h"

#include "serverlog.h"

#include <QSqlError>

SqlText::SqlText(const QString &statementTemplate) : statementTemplate(statementTemplate) {}

SqlText &SqlText::text(const QString &value)
{
    values.append(escape(value));
    return *this;
}

SqlText &SqlText::number(double value)
{
    values.append(QString::number(value, 'g', 15));
    return *this;
}

SqlText &SqlText::fragment(const QString &sql)
{
    values.append(sql);
    return *this;
}

QString SqlText::toString() const
{
    QString result;
    result.reserve(statementTemplate.size() + 16 * values.size());
    const int length = statementTemplate.size();
    int i = 0;
    while (i < length) {
        const QChar c = statementTemplate.at(i);
        if (c == QLatin1Char('%') && i + 1 < length && statementTemplate.at(i + 1).isDigit()) {
            // Up to two digits, as the framework's own placeholders.
            int end = i + 1;
            int index = 0;
            while (end < length && end < i + 3 && statementTemplate.at(end).isDigit()) {
                index = index * 10 + statementTemplate.at(end).digitValue();
                ++end;
            }
            if (index >= 1 && index <= values.size()) {
                result += values.at(index - 1);
                i = end;
                continue;
            }
        }
        result += c;
        ++i;
    }
    return result;
}

QSqlQuery SqlText::exec(const QSqlDatabase &db) const
{
    QSqlQuery query(db);
    const QString statement = toString();
    if (!query.exec(statement))
        qCWarning(lcServer) << "statement failed:" << statement << query.lastError().text();
    return query;
}

QString SqlText::escape(const QString &value)
{
    QString escaped = value;
    escaped.remove(QChar(0));
    escaped.replace(QLatin1Char('\''), QLatin1String("''"));
    return escaped;
}

QString SqlText::literal(const QString &value)
{
    return QLatin1Char('\'') + escape(value) + QLatin1Char('\'');
}
