#include "fixturemanagementinterface.h"

#include "instancelistenumerator.h"
#include "probelog.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace
{

QString jsonText(const QJsonValue &value)
{
    if (value.isString())
        return value.toString();
    if (value.isDouble())
        return QString::number(qint64(value.toDouble()));
    if (value.isBool())
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    return QString();
}

PropertyValue propertyFromJson(const QJsonValue &value)
{
    switch (value.type()) {
    case QJsonValue::String:
        return PropertyValue::text(value.toString());
    case QJsonValue::Bool:
        return PropertyValue::boolean(value.toBool());
    case QJsonValue::Double:
        return PropertyValue::int32(qint32(qint64(value.toDouble())));
    case QJsonValue::Array: {
        QStringList list;
        for (const QJsonValue &item : value.toArray())
            list.append(jsonText(item));
        return PropertyValue::textList(list);
    }
    case QJsonValue::Object: {
        const QJsonObject object = value.toObject();
        if (object.contains(QLatin1String("int64")))
            return PropertyValue::int64(jsonText(object.value(QLatin1String("int64"))));
        if (object.contains(QLatin1String("datetime")))
            return PropertyValue::dateTime(object.value(QLatin1String("datetime")).toString());
        if (object.contains(QLatin1String("int32")))
            return PropertyValue::int32(
                qint32(qint64(object.value(QLatin1String("int32")).toDouble())));
        if (object.contains(QLatin1String("text")))
            return PropertyValue::text(object.value(QLatin1String("text")).toString());
        return PropertyValue();
    }
    default:
        return PropertyValue();
    }
}

} // namespace

FixtureManagementInterface::FixtureManagementInterface(const QString &path) : path(path) {}

ManagementInterface::OpenResult FixtureManagementInterface::open()
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qCWarning(lcProbe) << "fixture" << path << "cannot be read:" << file.errorString();
        return OpenResult::ConnectFailed;
    }
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    if (!document.isObject()) {
        qCWarning(lcProbe) << "fixture" << path << "is not a JSON object:" << error.errorString();
        return OpenResult::ConnectFailed;
    }
    const QJsonObject root = document.object();
    const QString fail = root.value(QLatin1String("failConnection")).toString();
    if (fail == QLatin1String("initialize"))
        return OpenResult::InitializeFailed;
    if (fail == QLatin1String("locator"))
        return OpenResult::LocatorFailed;
    if (fail == QLatin1String("connect"))
        return OpenResult::ConnectFailed;
    if (fail == QLatin1String("security"))
        return OpenResult::SecurityFailed;

    for (const QJsonValue &name : root.value(QLatin1String("failQueries")).toArray())
        failingClasses.insert(name.toString().toLower());
    const QJsonObject classObject = root.value(QLatin1String("classes")).toObject();
    for (auto it = classObject.constBegin(); it != classObject.constEnd(); ++it) {
        QVector<ManagementObject> instances;
        for (const QJsonValue &item : it.value().toArray()) {
            ManagementObject object;
            const QJsonObject properties = item.toObject();
            for (auto p = properties.constBegin(); p != properties.constEnd(); ++p)
                object.set(p.key(), propertyFromJson(p.value()));
            instances.append(object);
        }
        classes.insert(it.key().toLower(), instances);
    }
    return OpenResult::Ok;
}

std::unique_ptr<ManagementEnumerator> FixtureManagementInterface::execQuery(const QString &wql)
{
    WqlQuery query;
    if (!query.parse(wql)) {
        qCWarning(lcProbe) << "fixture does not understand the query" << wql;
        return nullptr;
    }
    const QString key = query.className.toLower();
    if (failingClasses.contains(key))
        return nullptr;
    return std::make_unique<InstanceListEnumerator>(query, classes.value(key));
}
