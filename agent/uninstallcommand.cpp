#include "uninstallcommand.h"

#include <QFileInfo>
#include <QRegularExpression>

static const QString kWindowsInstaller = QStringLiteral("MsiExec.exe");

static QString plainPath(QString text)
{
    text.remove(QLatin1Char('"'));
    text.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return text;
}

bool isExistingFile(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() && !info.isDir();
}

UninstallCommand UninstallCommand::fromLocation(const QString &location, const QString &extra,
                                                const std::function<bool(const QString &)> &isFile)
{
    UninstallCommand c;
    const QStringList pieces =
        plainPath(location).split(QRegularExpression(QStringLiteral("\\s+")), Qt::KeepEmptyParts);
    bool found = false;
    for (const QString &piece : pieces) {
        if (found) {
            c.parameters += piece + QLatin1Char(' ');
            continue;
        }
        c.program += piece;
        if (c.program == kWindowsInstaller || isFile(c.program))
            found = true;
        else
            c.program += QLatin1Char(' ');
    }
    if (c.program == kWindowsInstaller && c.parameters.startsWith(QLatin1String("/I")))
        c.parameters.replace(QLatin1String("/I"), QLatin1String("/x"));
    c.parameters += extra;
    return c;
}

UninstallCommand UninstallCommand::fromName(const QString &name, const QString &extra)
{
    UninstallCommand c;
    c.program = plainPath(name);
    c.parameters = extra;
    return c;
}
