#pragma once

#include "invprobe.h"

#include <QVector>

// The installed packages as the dpkg status file records them.
class INVPROBE_EXPORT DpkgDatabase
{
public:
    struct Package {
        QString name;
        QString architecture;
        QString version;
        QString maintainer;
        QString summary;
    };

    static constexpr const char *kStatusFile = "/var/lib/dpkg/status";

    // False when the status file cannot be read; only fully installed packages are listed.
    static bool installedPackages(const QString &statusFile, QVector<Package> &packages);
};
