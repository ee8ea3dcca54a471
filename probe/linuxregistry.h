#pragma once

#include "softwareregistry.h"
#include "startuplocations.h"

// The software list and the start-up entry on a Debian system: installed dpkg packages, an
// XDG autostart entry for the agent, and a small settings file naming the agent's program
// (one line "ApplicationPath=/path/to/agent", recorded by the agent program when it starts).
class INVPROBE_EXPORT LinuxRegistry : public SoftwareRegistry
{
public:
    static constexpr const char *kAutostartFile = "zvn-agent.desktop";

    // The dpkg database and the current account's start-up places.
    LinuxRegistry();
    LinuxRegistry(const QString &dpkgStatusFile, const StartUpLocations &places);
    // Own places only, nothing inherited.
    LinuxRegistry(const QString &dpkgStatusFile, const QString &autostartDir,
                  const QString &agentSettingsFile);

    bool uninstallEntries(QVector<UninstallEntry> &entries) override;
    bool readRunEntry(QString &value) override;
    bool readApplicationPath(QString &path) override;
    bool writeApplicationPath(const QString &path) override;
    int writeRunEntry(const QString &command) override;
    int deleteRunEntry() override;

    // Desktop-entry quoting of one program path for the Exec key, and back.
    static QString quoteExec(const QString &program);
    static QString unquoteExec(const QString &exec);

private:
    QString entryPath() const;
    bool inheritedEntryActive() const;
    int writableAutostartDir() const;

    QString statusFile;
    StartUpLocations places;
};
