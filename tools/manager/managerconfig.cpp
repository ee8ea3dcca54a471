#include "managerconfig.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

QString ManagerConfig::defaultConfigDir()
{
    const QString fromEnvironment = qEnvironmentVariable("KELVARIX_CONFIG_DIR");
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    return QCoreApplication::applicationDirPath();
}

bool ManagerConfig::load(const QString &dir)
{
    configDir = QDir(dir).absolutePath();
    iniPath = QDir(configDir).filePath(QStringLiteral("Server.ini"));
    settings = ServerSettings();
    QFile file(iniPath);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        errorText = QStringLiteral("cannot read %1: %2").arg(iniPath, file.errorString());
        return false;
    }
    settings.applyAll(file);
    return true;
}
