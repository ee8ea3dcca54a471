#pragma once

#include "invprobe.h"

#include <QString>
#include <QStringList>

// Where the agent's start-up entry and its recorded program path live, after the XDG base
// directories. Root's entry is system-wide, so that every desktop session starts the agent;
// anyone else's is the user's own, and a user's session also starts the system-wide entries
// unless the user's own entry of the same name overrides them.
struct INVPROBE_EXPORT StartUpLocations {
    // Entries are written to and removed from here.
    QString autostartDir;
    // "ApplicationPath=..." is recorded here.
    QString settingsFile;
    // Read after the own ones, in order: the system-wide places a user's session also sees.
    QStringList inheritedAutostartDirs;
    QStringList inheritedSettingsFiles;

    static constexpr const char *kSettingsName = "kelvarix/zvn-agent.conf";

    // The first of XDG_CONFIG_DIRS (/etc/xdg by default).
    static StartUpLocations systemWide();
    // XDG_CONFIG_HOME (~/.config by default), inheriting every XDG_CONFIG_DIRS entry.
    static StartUpLocations forUser();
    // systemWide() for root, forUser() for anyone else.
    static StartUpLocations forCurrentAccount();
};
