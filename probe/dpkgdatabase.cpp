#include "dpkgdatabase.h"

#include "probelog.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <sys/stat.h>

namespace
{

// Places every package hooks into (commands, configuration, documentation, menus, icons,
// service units, boot hooks, debugging symbols) or keeps its state in say nothing about
// where a package itself lives.
const char *const kSharedPlaces[] = {
    "/etc/",
    "/var/",
    "/bin/",
    "/sbin/",
    "/usr/bin/",
    "/usr/sbin/",
    "/usr/games/",
    "/usr/share/doc/",
    "/usr/share/doc-base/",
    "/usr/share/gtk-doc/",
    "/usr/share/man/",
    "/usr/share/info/",
    "/usr/share/lintian/",
    "/usr/share/bug/",
    "/usr/share/menu/",
    "/usr/share/applications/",
    "/usr/share/icons/",
    "/usr/share/pixmaps/",
    "/usr/share/metainfo/",
    "/usr/share/appdata/",
    "/usr/share/mime/",
    "/usr/share/bash-completion/",
    "/usr/share/zsh/",
    "/usr/share/initramfs-tools/",
    "/lib/systemd/",
    "/usr/lib/systemd/",
    "/lib/udev/",
    "/usr/lib/udev/",
    "/usr/lib/tmpfiles.d/",
    "/usr/lib/sysusers.d/",
    "/usr/lib/debug/",
};

// Marks a directory below which more than one source package has files.
const QString kMixed = QStringLiteral("\n");

bool inSharedPlace(const QByteArray &path)
{
    for (const char *place : kSharedPlaces) {
        if (path.startsWith(place))
            return true;
    }
    return false;
}

// "/usr/lib/foo" -> "/usr/lib"; the root is the empty text.
QByteArray parentOf(const QByteArray &path)
{
    return path.left(qMax(0, path.lastIndexOf('/')));
}

// The directories that directly hold a package's own files. A file list names directories
// as well as files, the root first as "/."; a listed path is a directory when another listed
// path lies in it.
QSet<QByteArray> fileDirectories(const QByteArray &list)
{
    const QList<QByteArray> paths = list.split('\n');
    QSet<QByteArray> parents;
    for (const QByteArray &path : paths)
        parents.insert(parentOf(path));
    QSet<QByteArray> dirs;
    for (const QByteArray &path : paths) {
        if (path.startsWith('/') && path != "/." && !parents.contains(path) && !inSharedPlace(path))
            dirs.insert(parentOf(path));
    }
    return dirs;
}

QByteArray commonDirectory(const QSet<QByteArray> &dirs)
{
    if (dirs.isEmpty())
        return QByteArray();
    QByteArray common = *dirs.constBegin();
    for (const QByteArray &dir : dirs) {
        while (!common.isEmpty() && dir != common && !dir.startsWith(common + '/'))
            common = parentOf(common);
    }
    return common;
}

QByteArray fileList(const QString &infoDir, const DpkgDatabase::Package &package)
{
    // Packages installable for several architectures name their list with the architecture.
    QFile file(infoDir + QLatin1Char('/') + package.name + QLatin1String(".list"));
    if (!file.exists())
        file.setFileName(infoDir + QLatin1Char('/') + package.name + QLatin1Char(':') +
                         package.architecture + QLatin1String(".list"));
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

// dpkg rewrites the status file on every change and adds or renames file lists in the info
// directory, so their modification times and the status file's size tell whether a reading
// is still current.
struct DatabaseStamp {
    QString statusFile;
    qint64 statusModified = -1;
    qint64 statusSize = -1;
    qint64 infoModified = -1;

    bool operator==(const DatabaseStamp &other) const
    {
        return statusFile == other.statusFile && statusModified == other.statusModified &&
               statusSize == other.statusSize && infoModified == other.infoModified;
    }
};

qint64 nanoseconds(const struct timespec &time)
{
    return qint64(time.tv_sec) * 1000000000 + time.tv_nsec;
}

DatabaseStamp stampOf(const QString &statusFile, const QString &infoDir)
{
    DatabaseStamp stamp;
    struct stat status, info;
    if (::stat(QFile::encodeName(statusFile).constData(), &status) != 0)
        return stamp;
    stamp.statusFile = statusFile;
    stamp.statusModified = nanoseconds(status.st_mtim);
    stamp.statusSize = status.st_size;
    if (::stat(QFile::encodeName(infoDir).constData(), &info) == 0)
        stamp.infoModified = nanoseconds(info.st_mtim);
    return stamp;
}

// Reading every file list takes a good part of a second on a loaded machine, and the agent's
// change watch asks for the software list on every tick. Each thread keeps its own last
// reading, so no thread ever waits for another.
struct LastReading {
    DatabaseStamp stamp;
    QVector<DpkgDatabase::Package> packages;
};
thread_local LastReading lastReading;

} // namespace

bool DpkgDatabase::installedPackages(const QString &statusFile, QVector<Package> &packages)
{
    const QString infoDir = QFileInfo(statusFile).absolutePath() + QLatin1String("/info");
    // Taken before reading: a change made meanwhile makes the next call read again.
    const DatabaseStamp stamp = stampOf(statusFile, infoDir);
    if (!stamp.statusFile.isEmpty() && stamp == lastReading.stamp) {
        packages += lastReading.packages;
        return true;
    }
    QFile file(statusFile);
    if (!file.open(QIODevice::ReadOnly)) {
        qCDebug(lcProbe) << "dpkg status" << statusFile << "cannot be read";
        return false;
    }
    QVector<Package> found;
    Package current;
    bool installed = false;
    auto finish = [&]() {
        if (installed && !current.name.isEmpty()) {
            if (current.source.isEmpty())
                current.source = current.name;
            found.append(current);
        }
        current = Package();
        installed = false;
    };
    while (!file.atEnd()) {
        const QByteArray raw = file.readLine();
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.isEmpty()) {
            finish();
            continue;
        }
        // Continuation lines of long fields start with a blank.
        const int colon = line.indexOf(QLatin1Char(':'));
        if (colon <= 0 || raw.startsWith(' ') || raw.startsWith('\t'))
            continue;
        const QString field = line.left(colon);
        const QString value = line.mid(colon + 1).trimmed();
        if (field == QLatin1String("Package"))
            current.name = value;
        else if (field == QLatin1String("Status"))
            installed = value.endsWith(QLatin1String(" installed"));
        else if (field == QLatin1String("Architecture"))
            current.architecture = value;
        else if (field == QLatin1String("Version"))
            current.version = value;
        else if (field == QLatin1String("Maintainer"))
            current.maintainer = value;
        else if (field == QLatin1String("Description"))
            current.summary = value;
        else if (field == QLatin1String("Source"))
            current.source = value.section(QLatin1Char(' '), 0, 0); // "name (version)"
    }
    finish();
    findInstallLocations(infoDir, found);
    packages += found;
    lastReading = {stamp, found};
    return true;
}

void DpkgDatabase::findInstallLocations(const QString &infoDir, QVector<Package> &packages)
{
    QVector<QByteArray> candidates(packages.size());
    // Which source package's files lie below each directory (kMixed for several).
    QHash<QByteArray, QString> owners;
    for (int i = 0; i < packages.size(); ++i) {
        const QSet<QByteArray> dirs = fileDirectories(fileList(infoDir, packages.at(i)));
        candidates[i] = commonDirectory(dirs);
        const QString &source = packages.at(i).source;
        for (QByteArray dir : dirs) {
            for (; !dir.isEmpty(); dir = parentOf(dir)) {
                auto owner = owners.find(dir);
                if (owner == owners.end()) {
                    owners.insert(dir, source);
                    continue;
                }
                // Directories above one already marked were marked along with it.
                if (*owner == source || *owner == kMixed)
                    break;
                *owner = kMixed;
            }
        }
    }
    for (int i = 0; i < packages.size(); ++i) {
        // The top directories (/usr, /opt) belong to the system, whoever has files there.
        if (candidates.at(i).lastIndexOf('/') > 0 &&
            owners.value(candidates.at(i)) == packages.at(i).source)
            packages[i].installLocation = QString::fromUtf8(candidates.at(i));
    }
}
