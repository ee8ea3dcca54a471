// The probes over this machine's own Linux backend: well-formed sections with plausible,
// cross-checked values.
#include "invprobe.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QSysInfo>
#include <QXmlQuery>
#include <QtConcurrent>
#include <QtTest>
#include <cmath>
#include <unistd.h>

using Probe = int (*)(QString &);
Q_DECLARE_METATYPE(Probe)

class TestLinuxProbe : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void sections_data();
    void sections();
    void wholeDocument();
    void diskDocument();
    void hardwareValues();
    void hardwareSnapshotIsStable();
    void ownProcess();
    void installedPackage();
    void bareFigures_data();
    void bareFigures();
    void loopbackAdapter();
    void counterInstances();
    void diskUsageAsDf();
    void adapterMakers();
    void concurrentCalls();
};

// Evaluates an XQuery over the fragment wrapped in a root element; empty on a parse error.
static QString evaluate(const QString &fragment, const QString &xquery)
{
    QXmlQuery query;
    if (!query.setFocus(QStringLiteral("<document>") + fragment + QStringLiteral("</document>")))
        return QString();
    query.setQuery(xquery);
    QString result;
    if (!query.isValid() || !query.evaluateTo(&result))
        return QString();
    return result.trimmed();
}

void TestLinuxProbe::initTestCase()
{
    // The running system answers, not a fixture.
    qunsetenv("INVPROBE_FIXTURE");
    qunsetenv("INVPROBE_REGISTRY");
}

void TestLinuxProbe::sections_data()
{
    QTest::addColumn<Probe>("probe");
    QTest::addColumn<QString>("root");
    QTest::addColumn<QString>("item");
    QTest::addRow("hardware") << Probe(query_hardware) << "hardware"
                              << "operatingsystem";
    QTest::addRow("printers") << Probe(query_printers) << "Printers"
                              << "";
    QTest::addRow("network adapters") << Probe(query_network_adapters) << "NetworkAdapters"
                                      << "Adapter";
    QTest::addRow("disk monitor") << Probe([](QString &t) { return monitor_disk(t, false); })
                                  << "Monitor_Disk"
                                  << "disk";
    QTest::addRow("registry software") << Probe(query_Registry_software) << "RegistrySoftware"
                                       << "package";
    QTest::addRow("processes") << Probe(query_process) << "process"
                               << "proc";
    QTest::addRow("cpu monitor") << Probe([](QString &t) { return monitor_cpu(t, false); })
                                 << "Monitor_CPU"
                                 << "cpu";
    QTest::addRow("memory monitor")
        << Probe([](QString &t) { return monitor_memory(t, false); }) << "Monitor_Memory"
        << "memory";
    QTest::addRow("os objects") << Probe(monitor_os_objects) << "Monitor_OS_Objects"
                                << "os_objects";
    QTest::addRow("network monitor") << Probe(monitor_network) << "Monitor_Network"
                                     << "";
    QTest::addRow("batteries") << Probe(monitor_battery) << "Batteries"
                               << "";
    QTest::addRow("services") << Probe(query_os_services) << "services"
                              << "service";
    QTest::addRow("start-up") << Probe(query_startUp_applications) << "startUpApplications"
                              << "";
    QTest::addRow("environment") << Probe(query_environment_variables) << "EnvironmentVars"
                                 << "Variable";
    QTest::addRow("updates") << Probe(query_updates) << "Updates"
                             << "";
    QTest::addRow("users") << Probe(query_users) << "users"
                           << "user";
    QTest::addRow("shares") << Probe(query_shares) << "shares"
                            << "";
    QTest::addRow("uptime") << Probe(query_uptime) << "uptime_info"
                            << "uptime";
    QTest::addRow("installed software") << Probe(query_WMI_software) << "software"
                                        << "package";
}

void TestLinuxProbe::sections()
{
    QFETCH(Probe, probe);
    QFETCH(QString, root);
    QFETCH(QString, item);
    QString text;
    QCOMPARE(probe(text), 0);
    QVERIFY2(text.startsWith(QLatin1Char('<') + root + QLatin1Char('>')),
             qPrintable(text.left(200)));
    QVERIFY(text.endsWith(QLatin1String("</") + root + QLatin1Char('>')));
    QCOMPARE(evaluate(text, QStringLiteral("count(/document/*)")), QStringLiteral("1"));
    QCOMPARE(evaluate(text, QStringLiteral("name(/document/*)")), root);
    // Sections this machine certainly has content for.
    if (!item.isEmpty())
        QVERIFY2(evaluate(text, QStringLiteral("count(/document/%1/%2)").arg(root, item)).toInt() >=
                     1,
                 qPrintable(text.left(300)));
}

void TestLinuxProbe::wholeDocument()
{
    QString document = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\" ?><document>");
    const Probe all[] = {query_hardware,
                         query_printers,
                         query_network_adapters,
                         [](QString &t) { return monitor_disk(t, false); },
                         query_Registry_software,
                         query_process,
                         [](QString &t) { return monitor_cpu(t, false); },
                         [](QString &t) { return monitor_memory(t, false); },
                         monitor_os_objects,
                         monitor_network,
                         monitor_battery,
                         query_os_services,
                         query_startUp_applications,
                         query_environment_variables,
                         query_updates,
                         query_users,
                         query_shares};
    for (Probe probe : all)
        QCOMPARE(probe(document), 0);
    document += QLatin1String("</document>");
    QXmlQuery query;
    QVERIFY(query.setFocus(document));
    query.setQuery(QStringLiteral("count(/document/*)"));
    QString count;
    QVERIFY(query.evaluateTo(&count));
    QCOMPARE(count.trimmed(), QStringLiteral("17"));
}

void TestLinuxProbe::diskDocument()
{
    QString text;
    QCOMPARE(query_disks(text), 0);
    QVERIFY(text.startsWith(QLatin1String("<?xml version=\"1.0\"?><system><Disks>")));
    QXmlQuery query;
    QVERIFY2(query.setFocus(text), qPrintable(text.left(300)));
}

void TestLinuxProbe::hardwareValues()
{
    QString text;
    QCOMPARE(query_hardware(text), 0);
    QCOMPARE(evaluate(text, QStringLiteral("string(/document/hardware/pcName)")),
             QSysInfo::machineHostName());
    QVERIFY(!evaluate(text, QStringLiteral("string(/document/hardware/operatingsystem/caption)"))
                 .isEmpty());
    QCOMPARE(evaluate(text, QStringLiteral("string(/document/hardware/operatingsystem/version)")),
             QSysInfo::kernelVersion());
    const int logical =
        evaluate(text,
                 QStringLiteral(
                     "string(/document/hardware/InfoCPU/GeneralCPU/NumberOfLogicalProcessors)"))
            .toInt();
    QCOMPARE(logical, int(::sysconf(_SC_NPROCESSORS_ONLN)));
    QVERIFY(evaluate(text, QStringLiteral("count(/document/hardware/InfoCPU/CPU)")).toInt() >= 1);
    // Either module banks or the summary bank carry the memory size.
    const qint64 memory =
        evaluate(text, QStringLiteral("sum(/document/hardware/memory/bank/size)")).toLongLong();
    const qint64 pages = ::sysconf(_SC_PHYS_PAGES) * ::sysconf(_SC_PAGESIZE) / 1048576;
    QVERIFY2(memory >= pages * 9 / 10 && memory <= pages * 2, qPrintable(QString::number(memory)));
    QVERIFY(evaluate(text, QStringLiteral("count(/document/hardware/Drives/Drive[Name = '/'])"))
                    .toInt() == 1 ||
            evaluate(text, QStringLiteral("count(/document/hardware/Drives/Drive)")).toInt() >= 1);
}

void TestLinuxProbe::hardwareSnapshotIsStable()
{
    // The agent compares snapshots to notice hardware changes: two calls must agree.
    QString first, second;
    QCOMPARE(query_hardware(first), 0);
    QCOMPARE(query_hardware(second), 0);
    QCOMPARE(second, first);
}

void TestLinuxProbe::ownProcess()
{
    const QString program = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    QStringList list;
    QCOMPARE(query_process_list(list), 0);
    QVERIFY2(list.contains(program), qPrintable(list.join(QLatin1Char(','))));

    QString text;
    QCOMPARE(query_process(text), 0);
    QCOMPARE(
        evaluate(text,
                 QStringLiteral("string(/document/process/proc[id = %1]/name)").arg(::getpid())),
        program);
    QCOMPARE(
        evaluate(text,
                 QStringLiteral("string(/document/process/proc[id = %1]/path)").arg(::getpid())),
        QFileInfo(QCoreApplication::applicationFilePath()).canonicalFilePath());
}

void TestLinuxProbe::installedPackage()
{
    QProcess dpkg;
    dpkg.start(QStringLiteral("dpkg-query"),
               {QStringLiteral("-W"), QStringLiteral("-f=${Version}"), QStringLiteral("dpkg")});
    QVERIFY(dpkg.waitForFinished(30000));
    const QString version = QString::fromUtf8(dpkg.readAllStandardOutput()).trimmed();
    QVERIFY(!version.isEmpty());

    QStringList list;
    QCOMPARE(query_Registry_software_list(list), 0);
    QVERIFY2(list.contains(QStringLiteral("dpkg--") + version), qPrintable(version));

    QString text;
    QCOMPARE(query_Registry_software(text), 0);
    const QString removal = evaluate(
        text,
        QStringLiteral(
            "string(/document/RegistrySoftware/package[DisplayName = 'dpkg']/UnistallString)"));
    QVERIFY2(removal.startsWith(QLatin1Char('/')) && removal.endsWith(QLatin1String(" dpkg")),
             qPrintable(removal));

    QString location;
    QCOMPARE(find_uninstaller_location(QStringLiteral("DPKG"), location), 0);
    QVERIFY(location.startsWith(QLatin1Char('/')));
}

void TestLinuxProbe::bareFigures_data()
{
    QTest::addColumn<Probe>("probe");
    QTest::addRow("cpu") << Probe([](QString &t) { return monitor_cpu(t, true); });
    QTest::addRow("memory") << Probe([](QString &t) { return monitor_memory(t, true); });
    QTest::addRow("disk") << Probe([](QString &t) { return monitor_disk(t, true); });
}

void TestLinuxProbe::bareFigures()
{
    QFETCH(Probe, probe);
    QString text;
    QCOMPARE(probe(text), 0);
    bool ok = false;
    const double value = text.toDouble(&ok);
    QVERIFY2(ok, qPrintable(text));
    QVERIFY2(value >= 0 && value <= 100, qPrintable(text));
}

void TestLinuxProbe::loopbackAdapter()
{
    QString text;
    QCOMPARE(query_network_adapters(text), 0);
    QVERIFY2(evaluate(text, QStringLiteral(
                                "string(/document/NetworkAdapters/Adapter[Name = 'lo']/IPAddress)"))
                 .contains(QLatin1String("127.0.0.1")),
             qPrintable(text.left(500)));
    QString objects;
    QCOMPARE(monitor_os_objects(objects), 0);
    const int processes = evaluate(objects, QStringLiteral("string(//Processes)")).toInt();
    QVERIFY(processes >= 1);
    QVERIFY(evaluate(objects, QStringLiteral("string(//Threads)")).toInt() >= processes);
}

void TestLinuxProbe::counterInstances()
{
    // One CPU instance per logical processor plus "_Total"; the disks end with "_Total".
    QString cpu;
    QCOMPARE(monitor_cpu(cpu, false), 0);
    QCOMPARE(evaluate(cpu, QStringLiteral("count(//cpu)")).toLong(),
             ::sysconf(_SC_NPROCESSORS_ONLN) + 1);
    QCOMPARE(evaluate(cpu, QStringLiteral("string(//cpu[last()]/Name)")), QStringLiteral("_Total"));
    QString disk;
    QCOMPARE(monitor_disk(disk, false), 0);
    QCOMPARE(evaluate(disk, QStringLiteral("string(//disk[last()]/Name)")),
             QStringLiteral("_Total"));
    const int free =
        evaluate(disk, QStringLiteral("string(//disk[last()]/PercentFreeSpace)")).toInt();
    const int used =
        evaluate(disk, QStringLiteral("string(//disk[last()]/PercentUsageSpace)")).toInt();
    QCOMPARE(free + used, 100);
}

// df's used and available 1K-blocks and Use% for each mount point, in the order given.
static QList<QStringList> dfFigures(const QStringList &mountPoints)
{
    QProcess df;
    df.start(QStringLiteral("df"),
             QStringList{QStringLiteral("-k"), QStringLiteral("--output=used,avail,pcent")} +
                 mountPoints);
    if (!df.waitForFinished(30000) || df.exitCode() != 0)
        return {};
    QList<QStringList> rows;
    const QStringList lines =
        QString::fromUtf8(df.readAllStandardOutput()).split(QLatin1Char('\n'));
    for (const QString &line : lines.mid(1)) {
        const QStringList fields =
            line.simplified().remove(QLatin1Char('%')).split(QLatin1Char(' '));
        if (fields.size() == 3)
            rows.append(fields);
    }
    return rows;
}

void TestLinuxProbe::diskUsageAsDf()
{
    // The usage a disk alarm compares is df's Use%, for each file system and for all of them.
    QString text;
    QCOMPARE(monitor_disk(text, false), 0);
    const int count = evaluate(text, QStringLiteral("count(//disk)")).toInt();
    QVERIFY(count >= 1);
    QStringList mountPoints;
    QList<int> usage;
    for (int i = 1; i < count; ++i) {
        mountPoints.append(evaluate(text, QStringLiteral("string(//disk[%1]/Name)").arg(i)));
        usage.append(
            evaluate(text, QStringLiteral("string(//disk[%1]/PercentUsageSpace)").arg(i)).toInt());
    }
    const QList<QStringList> df = dfFigures(mountPoints);
    QCOMPARE(df.size(), mountPoints.size());
    quint64 used = 0, available = 0;
    for (int i = 0; i < df.size(); ++i) {
        QVERIFY2(qAbs(usage.at(i) - df.at(i).at(2).toInt()) <= 1,
                 qPrintable(mountPoints.at(i) + QLatin1String(": ") + QString::number(usage.at(i)) +
                            QLatin1String(" vs df ") + df.at(i).at(2)));
        used += df.at(i).at(0).toULongLong();
        available += df.at(i).at(1).toULongLong();
    }
    QString bare;
    QCOMPARE(monitor_disk(bare, true), 0);
    const double dfTotal = used + available == 0 ? 0 : std::ceil(used * 100.0 / (used + available));
    QVERIFY2(qAbs(bare.toInt() - dfTotal) <= 1,
             qPrintable(bare + QLatin1String(" vs df ") + QString::number(dfTotal)));
}

void TestLinuxProbe::adapterMakers()
{
    // Every adapter on a bus is named after its maker, not after its driver.
    QString text;
    QCOMPARE(query_network_adapters(text), 0);
    const int count = evaluate(text, QStringLiteral("count(//Adapter)")).toInt();
    int physical = 0;
    for (int i = 1; i <= count; ++i) {
        const QString name = evaluate(text, QStringLiteral("string(//Adapter[%1]/Name)").arg(i));
        const QString device = QStringLiteral("/sys/class/net/%1/device").arg(name);
        if (!QFileInfo::exists(device))
            continue;
        ++physical;
        const QString maker =
            evaluate(text, QStringLiteral("string(//Adapter[%1]/Manufacturer)").arg(i));
        const QString driver =
            QFileInfo(QFileInfo(device + QLatin1String("/driver")).symLinkTarget()).fileName();
        QVERIFY2(!maker.isEmpty() && maker != driver,
                 qPrintable(name + QLatin1String(": ") + maker));
    }
    if (physical == 0)
        QSKIP("this machine has no network adapter on a bus");
}

void TestLinuxProbe::concurrentCalls()
{
    // Calls keep only stack state, so threads may probe at the same time.
    QList<QFuture<QString>> futures;
    for (int i = 0; i < 4; ++i) {
        futures.append(QtConcurrent::run([i]() {
            QString text;
            const int result = i % 2 ? query_hardware(text) : monitor_cpu(text, false);
            return result == 0 ? text : QString();
        }));
    }
    for (auto &future : futures) {
        const QString text = future.result();
        QVERIFY(!text.isEmpty());
        QCOMPARE(evaluate(text, QStringLiteral("count(/document/*)")), QStringLiteral("1"));
    }
}

QTEST_GUILESS_MAIN(TestLinuxProbe)
#include "tst_linuxprobe.moc"
