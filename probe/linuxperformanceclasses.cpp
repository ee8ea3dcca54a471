#include "linuxperformanceclasses.h"

#include "linuxfiles.h"

#include <QDir>
#include <QThread>

QHash<QString, LinuxPerformanceClasses::CpuTimes>
LinuxPerformanceClasses::parseStat(const QString &statText)
{
    QHash<QString, CpuTimes> result;
    for (const QString &line : statText.split(QLatin1Char('\n'))) {
        if (!line.startsWith(QLatin1String("cpu")))
            continue;
        const QStringList fields = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (fields.size() < 5)
            continue;
        // user nice system idle iowait irq softirq steal; guest time is already in user.
        CpuTimes times;
        for (int i = 1; i < fields.size() && i <= 8; ++i) {
            const quint64 value = fields.at(i).toULongLong();
            times.total += value;
            if (i != 4 && i != 5)
                times.busy += value;
        }
        const QString name = fields.first() == QLatin1String("cpu") ? QStringLiteral("_Total")
                                                                    : fields.first().mid(3);
        result.insert(name, times);
    }
    return result;
}

qint64 LinuxPerformanceClasses::busyPercent(const CpuTimes &before, const CpuTimes &after)
{
    if (after.total <= before.total || after.busy < before.busy)
        return 0;
    const quint64 busy = after.busy - before.busy;
    const quint64 total = after.total - before.total;
    return qint64(qMin<quint64>(100, busy * 100 / total));
}

bool LinuxPerformanceClasses::processorCounters(QVector<ManagementObject> &instances)
{
    const QString path = QStringLiteral("/proc/stat");
    const auto before = parseStat(LinuxFiles::readText(path));
    if (before.isEmpty())
        return false;
    QThread::msleep(kSampleIntervalMs);
    const auto after = parseStat(LinuxFiles::readText(path));

    QStringList names;
    for (auto it = after.constBegin(); it != after.constEnd(); ++it) {
        if (it.key() != QLatin1String("_Total"))
            names.append(it.key());
    }
    std::sort(names.begin(), names.end(),
              [](const QString &a, const QString &b) { return a.toInt() < b.toInt(); });
    names.append(QStringLiteral("_Total"));
    for (const QString &name : qAsConst(names)) {
        ManagementObject cpu;
        cpu.set(QStringLiteral("Name"), PropertyValue::text(name));
        cpu.set(QStringLiteral("PercentProcessorTime"),
                PropertyValue::int64(busyPercent(before.value(name), after.value(name))));
        instances.append(cpu);
    }
    return true;
}

bool LinuxPerformanceClasses::memoryCounters(QVector<ManagementObject> &instances)
{
    const auto meminfo = LinuxFiles::readColonFields(QStringLiteral("/proc/meminfo"));
    if (!meminfo.contains(QStringLiteral("MemTotal")))
        return false;
    auto kib = [&](const char *key) {
        return meminfo.value(QLatin1String(key)).section(QLatin1Char(' '), 0, 0).toULongLong();
    };
    const quint64 available = meminfo.contains(QStringLiteral("MemAvailable"))
                                  ? kib("MemAvailable")
                                  : kib("MemFree") + kib("Buffers") + kib("Cached");
    ManagementObject memory;
    memory.set(QStringLiteral("AvailableMBytes"), PropertyValue::uint64(available / 1024));
    memory.set(QStringLiteral("AvailableKBytes"), PropertyValue::uint64(available));
    memory.set(QStringLiteral("CommittedBytes"), PropertyValue::uint64(kib("Committed_AS") * 1024));
    instances.append(memory);
    return true;
}

bool LinuxPerformanceClasses::objectCounters(QVector<ManagementObject> &instances)
{
    const QStringList entries =
        QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    qint32 processes = 0;
    qint32 threads = 0;
    for (const QString &entry : entries) {
        bool numeric = false;
        entry.toUInt(&numeric);
        if (!numeric)
            continue;
        ++processes;
        // A process that ended meanwhile still counts as one thread.
        const QString count =
            LinuxFiles::readColonFields(QLatin1String("/proc/") + entry + QLatin1String("/status"))
                .value(QStringLiteral("Threads"));
        threads += count.isEmpty() ? 1 : count.toInt();
    }
    if (processes == 0)
        return false;
    ManagementObject objects;
    objects.set(QStringLiteral("Processes"), PropertyValue::int32(processes));
    objects.set(QStringLiteral("Threads"), PropertyValue::int32(threads));
    instances.append(objects);
    return true;
}
