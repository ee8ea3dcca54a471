#include "startuplocations.h"

#include <QDir>
#include <unistd.h>

namespace
{

const char kAutostartName[] = "autostart";

// Relative paths in the XDG variables are invalid and ignored, as desktop sessions do.
QStringList configDirs()
{
    QStringList dirs;
    const QStringList listed =
        qEnvironmentVariable("XDG_CONFIG_DIRS").split(QLatin1Char(':'), Qt::SkipEmptyParts);
    for (const QString &dir : listed)
        if (QDir::isAbsolutePath(dir))
            dirs.append(QDir::cleanPath(dir));
    if (dirs.isEmpty())
        dirs.append(QStringLiteral("/etc/xdg"));
    return dirs;
}

QString configHome()
{
    const QString home = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (QDir::isAbsolutePath(home))
        return QDir::cleanPath(home);
    return QDir::homePath() + QLatin1String("/.config");
}

QString below(const QString &base, const char *name)
{
    return base + QLatin1Char('/') + QLatin1String(name);
}

} // namespace

StartUpLocations StartUpLocations::systemWide()
{
    const QString base = configDirs().constFirst();
    StartUpLocations places;
    places.autostartDir = below(base, kAutostartName);
    places.settingsFile = below(base, kSettingsName);
    return places;
}

StartUpLocations StartUpLocations::forUser()
{
    const QString base = configHome();
    StartUpLocations places;
    places.autostartDir = below(base, kAutostartName);
    places.settingsFile = below(base, kSettingsName);
    for (const QString &dir : configDirs()) {
        places.inheritedAutostartDirs.append(below(dir, kAutostartName));
        places.inheritedSettingsFiles.append(below(dir, kSettingsName));
    }
    return places;
}

StartUpLocations StartUpLocations::forCurrentAccount()
{
    return ::geteuid() == 0 ? systemWide() : forUser();
}
