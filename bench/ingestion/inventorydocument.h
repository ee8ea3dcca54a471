#pragma once

#include <QByteArray>

// A full inventory document of the size a busy workstation reports: every section, with
// the given numbers of processes, packages, services and environment variables.
class InventoryDocument
{
public:
    struct Counts {
        int processes = 300;
        int packages = 2000;
        int services = 200;
        int variables = 50;
    };

    static QByteArray build(const Counts &counts);
};
