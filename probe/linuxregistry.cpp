#include "linuxregistry.h"

#include "dpkgdatabase.h"
#include "probelog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <cerrno>
#include <unistd.h>

namespace
{

// Result 1 already means "writing failed", so a system error that happens to be 1 (EPERM)
// is reported as the access error it is.
int openErrorCode(int error)
{
    if (error == 0)
        return EIO;
    return error == EPERM ? EACCES : error;
}

// The start of an absolute removal command line; the package name follows it.
QString removalCommandPrefix()
{
    const QString apt = QStandardPaths::findExecutable(QStringLiteral("apt-get"));
    if (!apt.isEmpty())
        return apt + QLatin1String(" remove -y ");
    const QString dpkg = QStandardPaths::findExecutable(QStringLiteral("dpkg"));
    return (dpkg.isEmpty() ? QStringLiteral("/usr/bin/dpkg") : dpkg) + QLatin1String(" --remove ");
}

} // namespace

LinuxRegistry::LinuxRegistry()
    : LinuxRegistry(QLatin1String(DpkgDatabase::kStatusFile), QLatin1String(kAutostartDir),
                    QLatin1String(kAgentSettingsFile))
{
}

LinuxRegistry::LinuxRegistry(const QString &dpkgStatusFile, const QString &autostartDir,
                             const QString &agentSettingsFile)
    : statusFile(dpkgStatusFile), autostartDir(autostartDir), settingsFile(agentSettingsFile)
{
}

bool LinuxRegistry::uninstallEntries(QVector<UninstallEntry> &entries)
{
    QVector<DpkgDatabase::Package> packages;
    if (!DpkgDatabase::installedPackages(statusFile, packages))
        return false;
    const QString removal = removalCommandPrefix();
    for (const auto &package : qAsConst(packages)) {
        UninstallEntry entry;
        entry.subKey = package.name + QLatin1Char(':') + package.architecture;
        entry.values.insert(QStringLiteral("DisplayName"), package.name);
        entry.values.insert(QStringLiteral("DisplayVersion"), package.version);
        entry.values.insert(QStringLiteral("Publisher"), package.maintainer);
        entry.values.insert(QStringLiteral("InstallLocation"), package.installLocation);
        entry.values.insert(QStringLiteral("UninstallString"), removal + package.name);
        entries.append(entry);
    }
    return true;
}

QString LinuxRegistry::entryPath() const
{
    return autostartDir + QLatin1Char('/') + QLatin1String(kAutostartFile);
}

bool LinuxRegistry::readRunEntry(QString &value)
{
    value.clear();
    QFile file(entryPath());
    if (!file.exists())
        return true;
    if (!file.open(QIODevice::ReadOnly)) {
        qCWarning(lcProbe) << "autostart entry" << file.fileName() << "cannot be read";
        return false;
    }
    bool inEntry = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(QLatin1Char('[')))
            inEntry = line == QLatin1String("[Desktop Entry]");
        else if (inEntry && line.startsWith(QLatin1String("Exec=")))
            value = unquoteExec(line.mid(5));
    }
    return true;
}

bool LinuxRegistry::readApplicationPath(QString &path)
{
    QFile file(settingsFile);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(QLatin1String("ApplicationPath="))) {
            path = line.mid(16).section(QLatin1Char('='), 0, 0).trimmed();
            return true;
        }
    }
    return false;
}

int LinuxRegistry::writeRunEntry(const QString &command)
{
    QDir dir(autostartDir);
    if (!dir.exists() && !dir.mkpath(QStringLiteral(".")))
        return openErrorCode(errno);
    if (::access(QFile::encodeName(autostartDir).constData(), W_OK) != 0)
        return openErrorCode(errno);
    QSaveFile file(entryPath());
    if (!file.open(QIODevice::WriteOnly))
        return 1;
    const QString content = QLatin1String("[Desktop Entry]\nType=Application\nName=ZVN Agent\n") +
                            QLatin1String("Exec=") + quoteExec(command) +
                            QLatin1String("\nX-GNOME-Autostart-enabled=true\n");
    file.write(content.toUtf8());
    return file.commit() ? 0 : 1;
}

int LinuxRegistry::deleteRunEntry()
{
    // No autostart directory means no entry to delete.
    if (!QFileInfo(autostartDir).isDir())
        return 1;
    if (::access(QFile::encodeName(autostartDir).constData(), W_OK) != 0)
        return openErrorCode(errno);
    QFile file(entryPath());
    if (!file.exists())
        return 1;
    return file.remove() ? 0 : 1;
}

QString LinuxRegistry::quoteExec(const QString &program)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    bool needsQuotes = false;
    for (QChar c : program)
        needsQuotes = needsQuotes || reserved.contains(c);
    QString escaped;
    for (QChar c : program) {
        if (c == QLatin1Char('%'))
            escaped += QLatin1String("%%");
        else if (needsQuotes && (c == QLatin1Char('"') || c == QLatin1Char('`') ||
                                 c == QLatin1Char('$') || c == QLatin1Char('\\')))
            escaped += QLatin1Char('\\') + c;
        else
            escaped += c;
    }
    if (needsQuotes)
        escaped = QLatin1Char('"') + escaped + QLatin1Char('"');
    // The value level of a desktop entry doubles every backslash once more.
    escaped.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    return escaped;
}

QString LinuxRegistry::unquoteExec(const QString &exec)
{
    QString value;
    for (int i = 0; i < exec.size(); ++i) {
        if (exec.at(i) == QLatin1Char('\\') && i + 1 < exec.size()) {
            const QChar next = exec.at(++i);
            value += next == QLatin1Char('s') ? QChar(QLatin1Char(' ')) : next;
        } else {
            value += exec.at(i);
        }
    }
    value.replace(QLatin1String("%%"), QLatin1String("%"));
    if (value.size() < 2 || !value.startsWith(QLatin1Char('"')) ||
        !value.endsWith(QLatin1Char('"')))
        return value;
    QString plain;
    for (int i = 1; i + 1 < value.size(); ++i) {
        if (value.at(i) == QLatin1Char('\\') && i + 2 < value.size())
            ++i;
        plain += value.at(i);
    }
    return plain;
}
