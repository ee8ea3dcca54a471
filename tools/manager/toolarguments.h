#pragma once

#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>

// The arguments of one tool command: options written "--name value" or "--name=value",
// switches written "--name", and positional arguments. Values may start with "-" (a
// relative date such as "-2h"), so an option always takes the next argument.
class ToolArguments
{
public:
    ToolArguments(const QStringList &valueOptions, const QStringList &switches);

    // False with errorText() for an unknown option or an option without its value.
    bool parse(const QStringList &arguments);

    bool isSet(const QString &name) const;
    QString value(const QString &name, const QString &fallback = QString()) const;
    // A decimal value within [low, high]; false with errorText() when it is not one.
    bool number(const QString &name, int low, int high, int *result) const;
    QStringList positional() const;
    QString errorText() const;

private:
    QSet<QString> valueOptions;
    QSet<QString> switches;
    QMap<QString, QString> values;
    QSet<QString> setSwitches;
    QStringList positionals;
    mutable QString error;
};
