#pragma once

#include "serversettings.h"

#include <QString>

// Where the tool finds the server: the directory of Server.ini (the database settings and
// the ports), the server's address, and the administrator the requests are sent for.
class ManagerConfig
{
public:
    // Directory of Server.ini when no --config-dir is given: KELVARIX_CONFIG_DIR, else the
    // tool's own directory, where an installation keeps it beside the server program.
    static QString defaultConfigDir();

    // Reads configDir/Server.ini; false with errorText() when the file cannot be read.
    bool load(const QString &configDir);

    QString configDir;
    QString iniPath;
    ServerSettings settings;
    QString serverHost = QStringLiteral("127.0.0.1");
    int userId = 1;
    QString errorText;
};
