#include "linuxsoftwareclasses.h"

#include "dpkgdatabase.h"
#include "linuxfiles.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QSet>
#include <QSysInfo>
#include <pwd.h>
#include <unistd.h>

namespace
{

const char *const kUnitDirs[] = {"/etc/systemd/system", "/run/systemd/system",
                                 "/lib/systemd/system", "/usr/lib/systemd/system"};
const char *const kCgroupRoots[] = {"/sys/fs/cgroup/system.slice/",
                                    "/sys/fs/cgroup/unified/system.slice/",
                                    "/sys/fs/cgroup/systemd/system.slice/"};
const QString kSystemAutostart = QStringLiteral("/etc/xdg/autostart");

QString currentUserName()
{
    struct passwd entry;
    struct passwd *result = nullptr;
    char buffer[4096];
    if (::getpwuid_r(::getuid(), &entry, buffer, sizeof buffer, &result) == 0 && result)
        return QString::fromLocal8Bit(result->pw_name);
    return QString::number(::getuid());
}

QString homeDirectory()
{
    struct passwd entry;
    struct passwd *result = nullptr;
    char buffer[4096];
    if (::getpwuid_r(::getuid(), &entry, buffer, sizeof buffer, &result) == 0 && result)
        return QString::fromLocal8Bit(result->pw_dir);
    return QDir::homePath();
}

// Units enabled through a *.wants or *.requires link below /etc/systemd/system.
QSet<QString> enabledUnits()
{
    QSet<QString> enabled;
    const QString root = QStringLiteral("/etc/systemd/system/");
    for (const QString &dir : LinuxFiles::entries(root)) {
        if (!dir.endsWith(QLatin1String(".wants")) && !dir.endsWith(QLatin1String(".requires")))
            continue;
        for (const QString &unit : LinuxFiles::entries(root + dir))
            enabled.insert(unit);
    }
    return enabled;
}

QList<qint32> cgroupProcesses(const QString &unit)
{
    QList<qint32> pids;
    for (const char *root : kCgroupRoots) {
        const QString text =
            LinuxFiles::readText(QLatin1String(root) + unit + QLatin1String("/cgroup.procs"));
        for (const QString &line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            pids.append(line.toInt());
        if (!pids.isEmpty())
            break;
    }
    std::sort(pids.begin(), pids.end());
    return pids;
}

} // namespace

QHash<QString, QString> LinuxSoftwareClasses::parseDesktopEntry(const QString &text)
{
    QHash<QString, QString> keys;
    bool inEntry = false;
    for (const QString &raw : text.split(QLatin1Char('\n'))) {
        const QString line = raw.trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inEntry = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        const int eq = line.indexOf(QLatin1Char('='));
        if (!inEntry || eq <= 0 || line.startsWith(QLatin1Char('#')))
            continue;
        const QString key = line.left(eq).trimmed();
        // Localised keys (Name[de]) are not the entry's own name.
        if (!key.contains(QLatin1Char('[')) && !keys.contains(key))
            keys.insert(key, line.mid(eq + 1).trimmed());
    }
    return keys;
}

QVector<ManagementObject>
LinuxSoftwareClasses::updateObjects(const QVector<DpkgLog::Upgrade> &upgrades)
{
    QVector<ManagementObject> updates;
    for (const DpkgLog::Upgrade &upgrade : upgrades) {
        const QString package = upgrade.package.section(QLatin1Char(':'), 0, 0);
        ManagementObject update;
        update.set(QStringLiteral("Name"), PropertyValue::text(package));
        update.set(QStringLiteral("Status"), PropertyValue::text(QStringLiteral("upgrade")));
        update.set(QStringLiteral("HotFixID"),
                   PropertyValue::text(package + QLatin1Char('=') + upgrade.newVersion));
        update.set(QStringLiteral("Caption"),
                   PropertyValue::text(upgrade.package + QLatin1Char(' ') + upgrade.oldVersion +
                                       QLatin1String(" -> ") + upgrade.newVersion));
        update.set(QStringLiteral("InstalledOn"), PropertyValue::text(upgrade.time));
        updates.append(update);
    }
    return updates;
}

bool LinuxSoftwareClasses::processes(QVector<ManagementObject> &instances)
{
    const QStringList entries =
        QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    if (entries.isEmpty())
        return false;
    QList<qint32> pids;
    for (const QString &entry : entries) {
        bool numeric = false;
        const qint32 pid = entry.toInt(&numeric);
        if (numeric)
            pids.append(pid);
    }
    std::sort(pids.begin(), pids.end());
    for (qint32 pid : qAsConst(pids)) {
        const QString dir = QStringLiteral("/proc/%1/").arg(pid);
        const auto status = LinuxFiles::readColonFields(dir + QLatin1String("status"));
        if (status.isEmpty())
            continue; // ended meanwhile
        const QString comm = status.value(QStringLiteral("Name"));
        QString path = QFileInfo(dir + QLatin1String("exe")).symLinkTarget();
        if (path.endsWith(QLatin1String(" (deleted)")))
            path.chop(10);
        // Programs run from anonymous memory have no file to name.
        if (!path.startsWith(QLatin1Char('/')))
            path.clear();
        ManagementObject process;
        process.set(QStringLiteral("ProcessId"), PropertyValue::int32(pid));
        process.set(QStringLiteral("ParentProcessId"),
                    PropertyValue::int32(status.value(QStringLiteral("PPid")).toInt()));
        // The file name of the program, as the kernel's short name is cut at 15 characters.
        process.set(
            QStringLiteral("Name"),
            PropertyValue::text(path.isEmpty() ? comm : path.section(QLatin1Char('/'), -1)));
        if (!path.isEmpty())
            process.set(QStringLiteral("ExecutablePath"), PropertyValue::text(path));
        process.set(QStringLiteral("Description"), PropertyValue::text(comm));
        process.set(QStringLiteral("ThreadCount"),
                    PropertyValue::int32(status.value(QStringLiteral("Threads")).toInt()));
        instances.append(process);
    }
    return true;
}

bool LinuxSoftwareClasses::services(QVector<ManagementObject> &instances)
{
    const QSet<QString> enabled = enabledUnits();
    QSet<QString> seen;
    QStringList units;
    QHash<QString, QString> unitFiles;
    for (const char *dir : kUnitDirs) {
        const QString root = QLatin1String(dir) + QLatin1Char('/');
        for (const QString &unit : LinuxFiles::entries(root)) {
            // Templates are not services by themselves; the first directory wins.
            if (!unit.endsWith(QLatin1String(".service")) || unit.contains(QLatin1String("@.")) ||
                seen.contains(unit))
                continue;
            seen.insert(unit);
            units.append(unit);
            unitFiles.insert(unit, root + unit);
        }
    }
    std::sort(units.begin(), units.end());
    for (const QString &unit : qAsConst(units)) {
        const QString file = unitFiles.value(unit);
        const QFileInfo info(file);
        const QString target = info.isSymLink() ? info.symLinkTarget() : QString();
        const bool masked = target == QLatin1String("/dev/null");
        // An alias link names another unit, which is listed under its own name.
        if (!masked && !target.isEmpty() && QFileInfo(target).fileName() != unit)
            continue;
        const QString text = LinuxFiles::readText(file);
        QString description, exec;
        bool installable = false;
        QString section;
        for (const QString &raw : text.split(QLatin1Char('\n'))) {
            const QString line = raw.trimmed();
            if (line.startsWith(QLatin1Char('['))) {
                section = line;
                installable = installable || line == QLatin1String("[Install]");
                continue;
            }
            if (section == QLatin1String("[Unit]") &&
                line.startsWith(QLatin1String("Description=")) && description.isEmpty())
                description = line.mid(12).trimmed();
            if (section == QLatin1String("[Service]") &&
                line.startsWith(QLatin1String("ExecStart=")) && exec.isEmpty()) {
                exec = line.mid(10).trimmed();
                while (!exec.isEmpty() && QStringLiteral("-@+!:").contains(exec.at(0)))
                    exec.remove(0, 1);
            }
        }
        const QString name = unit.left(unit.size() - 8);
        const QList<qint32> pids = cgroupProcesses(unit);
        ManagementObject service;
        service.set(QStringLiteral("Name"), PropertyValue::text(name));
        service.set(QStringLiteral("DisplayName"),
                    PropertyValue::text(description.isEmpty() ? name : description));
        service.set(QStringLiteral("PathName"), PropertyValue::text(exec));
        service.set(QStringLiteral("ProcessId"),
                    PropertyValue::int32(pids.isEmpty() ? 0 : pids.first()));
        service.set(QStringLiteral("State"),
                    PropertyValue::text(pids.isEmpty() ? QStringLiteral("Stopped")
                                                       : QStringLiteral("Running")));
        service.set(QStringLiteral("Started"), PropertyValue::boolean(!pids.isEmpty()));
        service.set(QStringLiteral("StartMode"),
                    PropertyValue::text(masked                   ? QStringLiteral("Disabled")
                                        : enabled.contains(unit) ? QStringLiteral("Auto")
                                        : installable            ? QStringLiteral("Manual")
                                                                 : QStringLiteral("Static")));
        instances.append(service);
    }
    return true;
}

bool LinuxSoftwareClasses::userAccounts(QVector<ManagementObject> &instances)
{
    // The local account file; reading it directly keeps concurrent calls independent.
    const QString text = LinuxFiles::readText(QStringLiteral("/etc/passwd"));
    if (text.isEmpty())
        return false;
    const QString host = QSysInfo::machineHostName();
    for (const QString &line : text.split(QLatin1Char('\n'))) {
        const QStringList f = line.split(QLatin1Char(':'));
        if (f.size() < 7 || f.at(0).isEmpty() || f.at(0).startsWith(QLatin1Char('+')))
            continue;
        ManagementObject user;
        user.set(QStringLiteral("Name"), PropertyValue::text(f.at(0)));
        user.set(QStringLiteral("Domain"), PropertyValue::text(host));
        user.set(QStringLiteral("Caption"),
                 PropertyValue::text(host + QLatin1Char('\\') + f.at(0)));
        user.set(QStringLiteral("FullName"),
                 PropertyValue::text(f.at(4).section(QLatin1Char(','), 0, 0)));
        user.set(QStringLiteral("SID"), PropertyValue::text(f.at(2)));
        user.set(QStringLiteral("Disabled"),
                 PropertyValue::boolean(f.at(6).endsWith(QLatin1String("nologin")) ||
                                        f.at(6).endsWith(QLatin1String("/false"))));
        instances.append(user);
    }
    return true;
}

bool LinuxSoftwareClasses::updates(QVector<ManagementObject> &instances)
{
    // Without a package log there are simply no updates to tell.
    const QString notBefore = QDateTime::currentDateTime()
                                  .addDays(-DpkgLog::kHistoryDays)
                                  .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    instances += updateObjects(DpkgLog::history(QLatin1String(DpkgLog::kLogFile), notBefore));
    return true;
}

bool LinuxSoftwareClasses::startupCommands(QVector<ManagementObject> &instances)
{
    const QString userDir = homeDirectory() + QLatin1String("/.config/autostart");
    const QList<QPair<QString, QString>> dirs = {{kSystemAutostart, QStringLiteral("All Users")},
                                                 {userDir, currentUserName()}};
    for (const auto &dir : dirs) {
        for (const QString &entry : LinuxFiles::entries(dir.first)) {
            if (!entry.endsWith(QLatin1String(".desktop")))
                continue;
            const auto keys =
                parseDesktopEntry(LinuxFiles::readText(dir.first + QLatin1Char('/') + entry));
            if (keys.value(QStringLiteral("Hidden")) == QLatin1String("true") ||
                !keys.contains(QStringLiteral("Exec")))
                continue;
            ManagementObject command;
            command.set(QStringLiteral("Name"),
                        PropertyValue::text(keys.value(QStringLiteral("Name"), entry)));
            command.set(QStringLiteral("Description"),
                        PropertyValue::text(keys.value(QStringLiteral("Comment"))));
            command.set(QStringLiteral("Command"),
                        PropertyValue::text(keys.value(QStringLiteral("Exec"))));
            command.set(QStringLiteral("User"), PropertyValue::text(dir.second));
            command.set(QStringLiteral("Location"), PropertyValue::text(dir.first));
            instances.append(command);
        }
    }
    return true;
}

bool LinuxSoftwareClasses::environment(QVector<ManagementObject> &instances)
{
    auto add = [&](const QString &name, const QString &value, bool system, const QString &user) {
        ManagementObject variable;
        variable.set(QStringLiteral("Name"), PropertyValue::text(name));
        variable.set(QStringLiteral("VariableValue"), PropertyValue::text(value));
        variable.set(QStringLiteral("SystemVariable"), PropertyValue::boolean(system));
        variable.set(QStringLiteral("UserName"), PropertyValue::text(user));
        instances.append(variable);
    };
    const auto system = LinuxFiles::readAssignments(QStringLiteral("/etc/environment"));
    QStringList names = system.keys();
    std::sort(names.begin(), names.end());
    for (const QString &name : qAsConst(names))
        add(name, system.value(name), true, QStringLiteral("<SYSTEM>"));
    const QProcessEnvironment process = QProcessEnvironment::systemEnvironment();
    names = process.keys();
    std::sort(names.begin(), names.end());
    const QString user = currentUserName();
    for (const QString &name : qAsConst(names))
        add(name, process.value(name), false, user);
    return true;
}

bool LinuxSoftwareClasses::printers(QVector<ManagementObject> &instances)
{
    // CUPS queues; without CUPS there are none.
    const QString text = LinuxFiles::readText(QStringLiteral("/etc/cups/printers.conf"));
    ManagementObject printer;
    bool open = false;
    for (const QString &raw : text.split(QLatin1Char('\n'))) {
        const QString line = raw.trimmed();
        if (line.startsWith(QLatin1String("<Printer ")) ||
            line.startsWith(QLatin1String("<DefaultPrinter "))) {
            const QString name = line.mid(line.indexOf(QLatin1Char(' ')) + 1).chopped(1).trimmed();
            printer = ManagementObject();
            printer.set(QStringLiteral("Name"), PropertyValue::text(name));
            printer.set(QStringLiteral("Caption"), PropertyValue::text(name));
            printer.set(QStringLiteral("Default"),
                        PropertyValue::boolean(line.startsWith(QLatin1String("<Default"))));
            printer.set(QStringLiteral("Shared"), PropertyValue::boolean(false));
            printer.set(QStringLiteral("Network"), PropertyValue::boolean(false));
            open = true;
            continue;
        }
        if (!open)
            continue;
        if (line.startsWith(QLatin1String("</"))) {
            instances.append(printer);
            open = false;
            continue;
        }
        const QString key = line.section(QLatin1Char(' '), 0, 0);
        const QString value = line.section(QLatin1Char(' '), 1).trimmed();
        if (key == QLatin1String("Info") && !value.isEmpty()) {
            printer.set(QStringLiteral("Caption"), PropertyValue::text(value));
        } else if (key == QLatin1String("DeviceURI")) {
            printer.set(QStringLiteral("PortName"), PropertyValue::text(value));
            const QString scheme = value.section(QLatin1Char(':'), 0, 0);
            static const QSet<QString> network = {
                QStringLiteral("ipp"),   QStringLiteral("ipps"),   QStringLiteral("http"),
                QStringLiteral("https"), QStringLiteral("socket"), QStringLiteral("lpd"),
                QStringLiteral("smb"),   QStringLiteral("dnssd")};
            printer.set(QStringLiteral("Network"),
                        PropertyValue::boolean(network.contains(scheme)));
        } else if (key == QLatin1String("State")) {
            // Printer status codes: 3 idle, 4 printing, 7 offline.
            const qint32 code = value == QLatin1String("Idle")         ? 3
                                : value == QLatin1String("Processing") ? 4
                                : value == QLatin1String("Stopped")    ? 7
                                                                       : 2;
            printer.set(QStringLiteral("PrinterStatus"), PropertyValue::int32(code));
        } else if (key == QLatin1String("Shared")) {
            const bool shared = value == QLatin1String("Yes") || value == QLatin1String("True");
            printer.set(QStringLiteral("Shared"), PropertyValue::boolean(shared));
            if (shared)
                printer.set(QStringLiteral("ShareName"), printer.get(QStringLiteral("Name")));
        }
    }
    return true;
}

bool LinuxSoftwareClasses::products(QVector<ManagementObject> &instances)
{
    QVector<DpkgDatabase::Package> packages;
    if (!DpkgDatabase::installedPackages(QLatin1String(DpkgDatabase::kStatusFile), packages))
        return true; // not a dpkg system: no products
    for (const auto &package : qAsConst(packages)) {
        ManagementObject product;
        product.set(QStringLiteral("Name"), PropertyValue::text(package.name));
        product.set(QStringLiteral("Description"), PropertyValue::text(package.summary));
        product.set(QStringLiteral("Version"), PropertyValue::text(package.version));
        product.set(QStringLiteral("ProductID"),
                    PropertyValue::text(package.name + QLatin1Char(':') + package.architecture));
        product.set(QStringLiteral("Vendor"), PropertyValue::text(package.maintainer));
        product.set(QStringLiteral("InstallLocation"),
                    PropertyValue::text(package.installLocation));
        // The file list is written when the package is unpacked.
        QFileInfo list(QStringLiteral("/var/lib/dpkg/info/%1.list").arg(package.name));
        if (!list.exists())
            list.setFile(QStringLiteral("/var/lib/dpkg/info/%1:%2.list")
                             .arg(package.name, package.architecture));
        if (list.exists())
            product.set(
                QStringLiteral("InstallDate"),
                PropertyValue::text(list.lastModified().toString(QStringLiteral("yyyyMMdd"))));
        instances.append(product);
    }
    return true;
}
