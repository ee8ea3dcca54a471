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

const QByteArray kApplicationPathKey = QByteArrayLiteral("ApplicationPath=");

bool hasLineBreak(const QString &text)
{
    return text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r'));
}

// The agent's entry as a desktop session sees it.
struct AutostartEntry {
    bool exists = false;
    bool readable = false;
    // Hidden entries count as deleted, and hide system-wide entries of the same name.
    bool hidden = false;
    QString exec;
};

AutostartEntry readAutostartEntry(const QString &path)
{
    AutostartEntry entry;
    QFile file(path);
    entry.exists = file.exists();
    if (!entry.exists || !file.open(QIODevice::ReadOnly))
        return entry;
    entry.readable = true;
    bool inGroup = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(QLatin1Char('[')))
            inGroup = line == QLatin1String("[Desktop Entry]");
        else if (!inGroup)
            continue;
        else if (line.startsWith(QLatin1String("Exec=")))
            entry.exec = LinuxRegistry::unquoteExec(line.mid(5));
        else if (line == QLatin1String("Hidden=true") ||
                 line == QLatin1String("X-GNOME-Autostart-enabled=false"))
            entry.hidden = true;
    }
    return entry;
}

// `keys` follow the common head of every entry this program writes.
bool writeEntryFile(const QString &path, const QString &keys)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QString content = QLatin1String("[Desktop Entry]\nType=Application\nName=Kelvarix "
                                          "Agent\nComment=Starts the Kelvarix agent with the "
                                          "desktop session\n") +
                            keys;
    file.write(content.toUtf8());
    return file.commit();
}

// The rest of the line after the key: a path may itself contain "=".
bool readRecordedPath(const QString &fileName, QString &path)
{
    QFile file(fileName);
    if (fileName.isEmpty() || !file.open(QIODevice::ReadOnly))
        return false;
    while (!file.atEnd()) {
        QByteArray line = file.readLine();
        while (line.endsWith('\n') || line.endsWith('\r'))
            line.chop(1);
        if (line.startsWith(kApplicationPathKey)) {
            path = QString::fromUtf8(line.mid(kApplicationPathKey.size()));
            return true;
        }
    }
    return false;
}

} // namespace

LinuxRegistry::LinuxRegistry()
    : LinuxRegistry(QLatin1String(DpkgDatabase::kStatusFile), StartUpLocations::forCurrentAccount())
{
}

LinuxRegistry::LinuxRegistry(const QString &dpkgStatusFile, const StartUpLocations &places)
    : statusFile(dpkgStatusFile), places(places)
{
}

LinuxRegistry::LinuxRegistry(const QString &dpkgStatusFile, const QString &autostartDir,
                             const QString &agentSettingsFile)
    : statusFile(dpkgStatusFile)
{
    places.autostartDir = autostartDir;
    places.settingsFile = agentSettingsFile;
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
    return places.autostartDir + QLatin1Char('/') + QLatin1String(kAutostartFile);
}

bool LinuxRegistry::inheritedEntryActive() const
{
    for (const QString &dir : places.inheritedAutostartDirs) {
        const AutostartEntry entry =
            readAutostartEntry(dir + QLatin1Char('/') + QLatin1String(kAutostartFile));
        // The first one found decides, as in a desktop session.
        if (entry.exists)
            return entry.readable && !entry.hidden && !entry.exec.isEmpty();
    }
    return false;
}

bool LinuxRegistry::readRunEntry(QString &value)
{
    value.clear();
    const AutostartEntry own = readAutostartEntry(entryPath());
    if (own.exists) {
        if (!own.readable) {
            qCWarning(lcProbe) << "autostart entry" << entryPath() << "cannot be read";
            return false;
        }
        if (!own.hidden)
            value = own.exec;
        return true;
    }
    for (const QString &dir : places.inheritedAutostartDirs) {
        const AutostartEntry entry =
            readAutostartEntry(dir + QLatin1Char('/') + QLatin1String(kAutostartFile));
        if (!entry.exists)
            continue;
        if (entry.readable && !entry.hidden)
            value = entry.exec;
        break;
    }
    return true;
}

bool LinuxRegistry::readApplicationPath(QString &path)
{
    for (const QString &file : QStringList(places.settingsFile) + places.inheritedSettingsFiles) {
        if (readRecordedPath(file, path))
            return true;
    }
    return false;
}

bool LinuxRegistry::writeApplicationPath(const QString &path)
{
    if (path.isEmpty() || hasLineBreak(path) || places.settingsFile.isEmpty())
        return false;
    QString recorded;
    if (readRecordedPath(places.settingsFile, recorded) && recorded == path)
        return true;
    const QString dir = QFileInfo(places.settingsFile).absolutePath();
    if (!QDir().mkpath(dir)) {
        qCWarning(lcProbe) << "cannot create" << dir;
        return false;
    }
    QSaveFile file(places.settingsFile);
    if (!file.open(QIODevice::WriteOnly)) {
        qCWarning(lcProbe) << "cannot write" << places.settingsFile << file.errorString();
        return false;
    }
    file.write(QByteArrayLiteral("# The program the agent's start-up entry starts; recorded by "
                                 "the agent when it starts.\n") +
               kApplicationPathKey + path.toUtf8() + '\n');
    return file.commit();
}

int LinuxRegistry::writableAutostartDir() const
{
    QDir dir(places.autostartDir);
    if (!dir.exists() && !dir.mkpath(QStringLiteral(".")))
        return openErrorCode(errno);
    if (::access(QFile::encodeName(places.autostartDir).constData(), W_OK) != 0)
        return openErrorCode(errno);
    return 0;
}

int LinuxRegistry::writeRunEntry(const QString &command)
{
    const int openError = writableAutostartDir();
    if (openError != 0)
        return openError;
    // A line break would end the Exec key and start a key of its own.
    if (command.isEmpty() || hasLineBreak(command))
        return 1;
    return writeEntryFile(entryPath(), QLatin1String("Exec=") + quoteExec(command) +
                                           QLatin1String("\nX-GNOME-Autostart-enabled=true\n"))
               ? 0
               : 1;
}

int LinuxRegistry::deleteRunEntry()
{
    const AutostartEntry own = readAutostartEntry(entryPath());
    const bool ownActive = own.exists && !own.hidden;
    const bool inherited = inheritedEntryActive();
    if (!ownActive && (own.exists || !inherited))
        return 1;
    const int openError = writableAutostartDir();
    if (openError != 0)
        return openError;
    // A system-wide entry keeps starting the agent in this user's session unless an entry of
    // the user's own hides it.
    if (inherited)
        return writeEntryFile(entryPath(), QStringLiteral("Hidden=true\n")) ? 0 : 1;
    return QFile::remove(entryPath()) ? 0 : 1;
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
