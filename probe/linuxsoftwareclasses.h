#pragma once

#include "dpkglog.h"
#include "managementobject.h"

#include <QVector>

// Processes, services, accounts, updates, start-up entries, environment, printers and
// installed packages of this machine.
class INVPROBE_EXPORT LinuxSoftwareClasses
{
public:
    // The [Desktop Entry] keys of a .desktop file's text.
    static QHash<QString, QString> parseDesktopEntry(const QString &text);
    // One Win32_QuickFixEngineering object per package upgrade.
    static QVector<ManagementObject> updateObjects(const QVector<DpkgLog::Upgrade> &upgrades);

    static bool processes(QVector<ManagementObject> &instances);
    static bool services(QVector<ManagementObject> &instances);
    static bool userAccounts(QVector<ManagementObject> &instances);
    static bool updates(QVector<ManagementObject> &instances);
    static bool startupCommands(QVector<ManagementObject> &instances);
    static bool environment(QVector<ManagementObject> &instances);
    static bool printers(QVector<ManagementObject> &instances);
    static bool products(QVector<ManagementObject> &instances);
};
