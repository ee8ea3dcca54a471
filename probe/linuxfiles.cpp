#include "linuxfiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

QString LinuxFiles::readText(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    // Files of /proc and /sys report no size, so read until the end.
    return QString::fromUtf8(file.readAll());
}

QString LinuxFiles::readFirstLine(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readLine()).trimmed();
}

qint64 LinuxFiles::readNumber(const QString &path, qint64 fallback)
{
    bool ok = false;
    const qint64 value = readFirstLine(path).toLongLong(&ok);
    return ok ? value : fallback;
}

QString LinuxFiles::unquote(const QString &value)
{
    if (value.size() >= 2 &&
        ((value.startsWith(QLatin1Char('"')) && value.endsWith(QLatin1Char('"'))) ||
         (value.startsWith(QLatin1Char('\'')) && value.endsWith(QLatin1Char('\'')))))
        return value.mid(1, value.size() - 2);
    return value;
}

QHash<QString, QString> LinuxFiles::readAssignments(const QString &path)
{
    QHash<QString, QString> result;
    const QStringList lines = readText(path).split(QLatin1Char('\n'));
    for (QString line : lines) {
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1String("export ")))
            line = line.mid(7).trimmed();
        const int eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0)
            continue;
        result.insert(line.left(eq).trimmed(), unquote(line.mid(eq + 1).trimmed()));
    }
    return result;
}

QHash<QString, QString> LinuxFiles::readColonFields(const QString &path)
{
    QHash<QString, QString> result;
    const QStringList lines = readText(path).split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        const int colon = line.indexOf(QLatin1Char(':'));
        if (colon > 0)
            result.insert(line.left(colon).trimmed(), line.mid(colon + 1).trimmed());
    }
    return result;
}

QStringList LinuxFiles::entries(const QString &dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System, QDir::Name);
}

QString LinuxFiles::linkTarget(const QString &path)
{
    return QFileInfo(path).symLinkTarget();
}
