#include "fixtureregistry.h"

#include "probelog.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>

namespace
{
const QString kRunValue = QStringLiteral("ZVN Agent");
}

FixtureRegistry::FixtureRegistry(const QString &path) : path(path) {}

bool FixtureRegistry::load()
{
    if (loaded)
        return true;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qCWarning(lcProbe) << "registry fixture" << path << "cannot be read";
        return false;
    }
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
    if (!document.isObject()) {
        qCWarning(lcProbe) << "registry fixture" << path << "is not a JSON object";
        return false;
    }
    root = document.object();
    loaded = true;
    return true;
}

bool FixtureRegistry::save()
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(QJsonDocument(root).toJson());
    return file.commit();
}

bool FixtureRegistry::uninstallEntries(QVector<UninstallEntry> &entries)
{
    if (!load() || root.value(QLatin1String("failUninstall")).toBool())
        return false;
    int index = 0;
    for (const QJsonValue &item : root.value(QLatin1String("uninstall")).toArray()) {
        const QJsonObject object = item.toObject();
        UninstallEntry entry;
        entry.subKey = object.value(QLatin1String("key")).toString(QString::number(index++));
        for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
            if (it.key() != QLatin1String("key"))
                entry.values.insert(it.key(), it.value().toString());
        }
        entries.append(entry);
    }
    return true;
}

bool FixtureRegistry::readRunEntry(QString &value)
{
    if (!load() || root.value(QLatin1String("failRun")).toBool())
        return false;
    value = root.value(QLatin1String("run")).toObject().value(kRunValue).toString();
    return true;
}

bool FixtureRegistry::readApplicationPath(QString &path)
{
    if (!load() || !root.contains(QLatin1String("agent")))
        return false;
    const QJsonValue value =
        root.value(QLatin1String("agent")).toObject().value(QLatin1String("ApplicationPath"));
    if (!value.isString())
        return false;
    path = value.toString();
    return true;
}

bool FixtureRegistry::writeApplicationPath(const QString &path)
{
    if (!load() || root.value(QLatin1String("failAgentWrite")).toBool())
        return false;
    QJsonObject agent = root.value(QLatin1String("agent")).toObject();
    if (agent.value(QLatin1String("ApplicationPath")).toString() == path)
        return true;
    agent.insert(QLatin1String("ApplicationPath"), path);
    root.insert(QLatin1String("agent"), agent);
    return save();
}

int FixtureRegistry::writeRunEntry(const QString &command)
{
    if (!load())
        return 1;
    const int openError = root.value(QLatin1String("runOpenError")).toInt();
    if (openError != 0)
        return openError;
    if (root.value(QLatin1String("failRunWrite")).toBool())
        return 1;
    QJsonObject run = root.value(QLatin1String("run")).toObject();
    run.insert(kRunValue, command);
    root.insert(QLatin1String("run"), run);
    return save() ? 0 : 1;
}

int FixtureRegistry::deleteRunEntry()
{
    if (!load())
        return 1;
    const int openError = root.value(QLatin1String("runOpenError")).toInt();
    if (openError != 0)
        return openError;
    QJsonObject run = root.value(QLatin1String("run")).toObject();
    if (!run.contains(kRunValue))
        return 1;
    run.remove(kRunValue);
    root.insert(QLatin1String("run"), run);
    return save() ? 0 : 1;
}
