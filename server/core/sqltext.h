#pragma once

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <type_traits>

// The one place where statement templates are filled. A template holds %1, %2 ... and quotes
// its string values itself ("... WHERE name='%1'"); text() escapes a value so that it can
// never end that literal, number() writes a decimal. All placeholders are replaced in a
// single pass, so a value that itself contains "%2" is stored as it stands.
//
//     SqlText(QStringLiteral("UPDATE machines SET name='%1' WHERE id=%2"))
//         .text(computerName).number(machineId).exec(db);
class SqlText
{
public:
    explicit SqlText(const QString &statementTemplate);

    // A value for a quoted place of the template; apostrophes are doubled.
    SqlText &text(const QString &value);
    // Any integer type (ids, ports, codes, the 16-bit report value) in decimal.
    template <typename T, std::enable_if_t<std::is_integral<T>::value, int> = 0>
    SqlText &number(T value)
    {
        return fragment(QString::number(value));
    }
    SqlText &number(double value);
    // SQL that our own code built from escaped parts (for example a list of literals).
    SqlText &fragment(const QString &sql);

    QString toString() const;

    // Runs the statement on its own; failures are logged for developers and otherwise
    // ignored, as the server does not consult statement results.
    QSqlQuery exec(const QSqlDatabase &db = QSqlDatabase::database()) const;

    // The value written inside a single-quoted literal: apostrophes doubled, NUL removed
    // (no database text type can hold it). Backslashes stay as they are: PostgreSQL
    // connections run with standard_conforming_strings on, SQLite never treats them specially.
    static QString escape(const QString &value);
    // The value as a complete literal, quotes included.
    static QString literal(const QString &value);

private:
    QString statementTemplate;
    QStringList values;
};
