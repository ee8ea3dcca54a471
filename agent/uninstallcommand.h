#pragma once

#include <QString>
#include <functional>

// The program and parameters that remove an installed application.
struct UninstallCommand {
    QString program;
    QString parameters;

    // From the uninstall string of the software list: pieces separated by white space are joined
    // until they name an existing file (or the Windows installer), the rest are its parameters;
    // the installer's /I (install) becomes /x (remove); `extra` is appended.
    static UninstallCommand fromLocation(const QString &location, const QString &extra,
                                         const std::function<bool(const QString &)> &isFile);
    // No uninstall string: the application's name is taken as the program itself.
    static UninstallCommand fromName(const QString &name, const QString &extra);

    QString line() const { return program + QLatin1Char(' ') + parameters; }
};

// Default test for fromLocation: an existing file that is not a directory.
bool isExistingFile(const QString &path);
