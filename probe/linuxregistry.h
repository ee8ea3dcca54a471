#pragma once

#include "softwareregistry.h"

// The software list and the start-up entry on a Debian system: installed dpkg packages, an
// XDG autostart entry for the agent, and a small settings file naming the agent's program.
class INVPROBE_EXPORT LinuxRegistry : public SoftwareRegistry
{
public:
    static constexpr const char *kAutostartDir = "/etc/xdg/autostart";
    static constexpr const char *kAutostartFile = "zvn-agent.desktop";
    // One line "ApplicationPath=/path/to/agent", written by the agent's installation.
    static constexpr const char *kAgentSettingsFile = "/etc/kelvarix/zvn-agent.conf";

    LinuxRegistry();
    LinuxRegistry(const QString &dpkgStatusFile, const QString &autostartDir,
                  const QString &agentSettingsFile);

    bool uninstallEntries(QVector<UninstallEntry> &entries) override;
    bool readRunEntry(QString &value) override;
    bool readApplicationPath(QString &path) override;
    int writeRunEntry(const QString &command) override;
    int deleteRunEntry() override;

    // Desktop-entry quoting of one program path for the Exec key, and back.
    static QString quoteExec(const QString &program);
    static QString unquoteExec(const QString &exec);

private:
    QString entryPath() const;

    QString statusFile;
    QString autostartDir;
    QString settingsFile;
};
