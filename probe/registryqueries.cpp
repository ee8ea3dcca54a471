// Installed programs and the agent's start-up entry.
#include "invprobe.h"
#include "softwareregistry.h"
#include "valueforms.h"

#include <algorithm>

namespace
{

// Subkey names this long do not fit the enumeration's name buffer and are skipped.
constexpr int kSubKeyNameLimit = 1024;

// A value as text up to its first NUL, in escaped form; a missing value is empty.
QString readRegistryText(const SoftwareRegistry::UninstallEntry &entry, const char *name)
{
    QString value = entry.values.value(QLatin1String(name));
    const int nul = value.indexOf(QChar(0));
    if (nul >= 0)
        value.truncate(nul);
    return escapeText(value);
}

bool readableEntries(QVector<SoftwareRegistry::UninstallEntry> &entries)
{
    if (!SoftwareRegistry::create()->uninstallEntries(entries))
        return false;
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [](const SoftwareRegistry::UninstallEntry &entry) {
                                     return entry.subKey.size() >= kSubKeyNameLimit;
                                 }),
                  entries.end());
    return true;
}

} // namespace

int query_Registry_software(QString &text)
{
    QVector<SoftwareRegistry::UninstallEntry> entries;
    if (!readableEntries(entries))
        return 1;
    QString out = QStringLiteral("<RegistrySoftware>");
    for (const auto &entry : qAsConst(entries)) {
        const QString name = readRegistryText(entry, "DisplayName");
        if (name.isEmpty())
            continue;
        out += QLatin1String("<package>");
        out += element(QStringLiteral("DisplayName"), name);
        out += element(QStringLiteral("Publisher"), readRegistryText(entry, "Publisher"));
        out += element(QStringLiteral("Version"), readRegistryText(entry, "DisplayVersion"));
        out +=
            element(QStringLiteral("InstallLocation"), readRegistryText(entry, "InstallLocation"));
        out +=
            element(QStringLiteral("UnistallString"), readRegistryText(entry, "UninstallString"));
        out += QLatin1String("</package>");
    }
    out += QLatin1String("</RegistrySoftware>");
    text += out;
    return 0;
}

int query_Registry_software_list(QStringList &list)
{
    QVector<SoftwareRegistry::UninstallEntry> entries;
    if (!readableEntries(entries))
        return 1;
    for (const auto &entry : qAsConst(entries)) {
        const QString name = readRegistryText(entry, "DisplayName");
        if (!name.isEmpty())
            list.append(name + QLatin1String("--") + readRegistryText(entry, "DisplayVersion"));
    }
    return 0;
}

int find_uninstaller_location(QString name, QString &location)
{
    QVector<SoftwareRegistry::UninstallEntry> entries;
    if (!readableEntries(entries))
        return -1;
    for (const auto &entry : qAsConst(entries)) {
        const QString displayName = readRegistryText(entry, "DisplayName");
        // Display names are compared in their escaped form, as the list shows them.
        if (displayName.isEmpty() || !displayName.contains(name, Qt::CaseInsensitive))
            continue;
        location += readRegistryText(entry, "UninstallString");
        return 0;
    }
    return -1;
}

int isAgentStartUpEnabled()
{
    QString value;
    if (!SoftwareRegistry::create()->readRunEntry(value))
        return 1;
    const int nul = value.indexOf(QChar(0));
    if (nul >= 0)
        value.truncate(nul);
    return value.isEmpty() ? -1 : 0;
}

int setAgentStartUpEnabled()
{
    auto registry = SoftwareRegistry::create();
    QString path;
    if (!registry->readApplicationPath(path) || path.isEmpty())
        return 1;
    return registry->writeRunEntry(path);
}

int unsetAgentStartUpEnabled()
{
    return SoftwareRegistry::create()->deleteRunEntry();
}

int setAgentApplicationPath(const QString &path)
{
    return SoftwareRegistry::create()->writeApplicationPath(path) ? 0 : 1;
}
