#include "toolcommand.h"

#include <QProcess>

namespace
{

QString shellWord(const QString &word)
{
    if (!word.isEmpty() && !word.contains(QRegExp(QStringLiteral("[^A-Za-z0-9_@%+=:,./-]"))))
        return word;
    QString quoted = word;
    quoted.replace(QLatin1Char('\''), QLatin1String("'\\''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

} // namespace

bool ToolCommand::isValid() const
{
    return !program.isEmpty();
}

QString ToolCommand::text() const
{
    QStringList words{shellWord(program)};
    for (const QString &argument : arguments)
        words << shellWord(argument);
    return words.join(QLatin1Char(' '));
}

void ToolCommand::startOn(QProcess &process) const
{
    process.start(program, arguments);
}
