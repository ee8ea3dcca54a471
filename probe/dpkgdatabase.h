#pragma once

#include "invprobe.h"

#include <QVector>

// The installed packages as the dpkg status file and the file lists beside it record them.
class INVPROBE_EXPORT DpkgDatabase
{
public:
    struct Package {
        QString name;
        QString architecture;
        QString version;
        QString maintainer;
        QString summary;
        QString source; // the source package it was built from; its own name when none given
        // The one directory that holds the package's own files, below which only packages
        // built from the same source have files; empty when there is no such directory.
        QString installLocation;
    };

    static constexpr const char *kStatusFile = "/var/lib/dpkg/status";

    // False when the status file cannot be read; only fully installed packages are listed.
    // Install locations come from the file lists in the "info" directory beside the file.
    static bool installedPackages(const QString &statusFile, QVector<Package> &packages);

private:
    static void findInstallLocations(const QString &infoDir, QVector<Package> &packages);
};
