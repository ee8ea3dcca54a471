#include "toolarguments.h"

ToolArguments::ToolArguments(const QStringList &valueOptions, const QStringList &switches)
    : valueOptions(QSet<QString>(valueOptions.begin(), valueOptions.end())),
      switches(QSet<QString>(switches.begin(), switches.end()))
{
}

bool ToolArguments::parse(const QStringList &arguments)
{
    bool optionsEnded = false;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        if (optionsEnded || !argument.startsWith(QLatin1String("--")) || argument.size() == 2) {
            if (argument == QLatin1String("--") && !optionsEnded) {
                optionsEnded = true;
                continue;
            }
            positionals.append(argument);
            continue;
        }
        QString name = argument.mid(2);
        QString inlineValue;
        const int equals = name.indexOf(QLatin1Char('='));
        const bool hasInline = equals >= 0;
        if (hasInline) {
            inlineValue = name.mid(equals + 1);
            name.truncate(equals);
        }
        if (switches.contains(name) && !hasInline) {
            setSwitches.insert(name);
        } else if (valueOptions.contains(name)) {
            if (hasInline) {
                values.insert(name, inlineValue);
            } else if (i + 1 < arguments.size()) {
                values.insert(name, arguments.at(++i));
            } else {
                error = QStringLiteral("option --%1 needs a value").arg(name);
                return false;
            }
        } else {
            error = QStringLiteral("unknown option --%1").arg(name);
            return false;
        }
    }
    return true;
}

bool ToolArguments::isSet(const QString &name) const
{
    return values.contains(name) || setSwitches.contains(name);
}

QString ToolArguments::value(const QString &name, const QString &fallback) const
{
    return values.value(name, fallback);
}

bool ToolArguments::number(const QString &name, int low, int high, int *result) const
{
    if (!values.contains(name))
        return true;
    bool ok = false;
    const int n = values.value(name).toInt(&ok, 10);
    if (!ok || n < low || n > high) {
        error = QStringLiteral("--%1 takes a whole number from %2 to %3, not \"%4\"")
                    .arg(name)
                    .arg(low)
                    .arg(high)
                    .arg(values.value(name));
        return false;
    }
    *result = n;
    return true;
}

QStringList ToolArguments::positional() const
{
    return positionals;
}

QString ToolArguments::errorText() const
{
    return error;
}
