#include "databaseconnection.h"
#include "datetimetext.h"
#include "documentguard.h"
#include "parseinventoryxml.h"
#include "pgcluster.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

// Inventory and alarm documents stored against a throwaway PostgreSQL cluster (the default
// connection, as the server uses it) and an SQLite file, both loaded from the schema files.
class TestIngestionStore : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();

    void unreadableDocumentsChangeNothing_data();
    void unreadableDocumentsChangeNothing();
    void hardwareGroupReplaced_data() { drivers(); }
    void hardwareGroupReplaced();
    void monitoringOnly_data() { drivers(); }
    void monitoringOnly();
    void emptyPrintersKeepOldRows_data() { drivers(); }
    void emptyPrintersKeepOldRows();
    void availabilityOnlyForOwnDrives_data() { drivers(); }
    void availabilityOnlyForOwnDrives();
    void memoryTotalInExponentForm_data() { drivers(); }
    void memoryTotalInExponentForm();
    void valuesStoredExactly_data() { drivers(); }
    void valuesStoredExactly();
    void failingStatementDoesNotStopOthers_data() { drivers(); }
    void failingStatementDoesNotStopOthers();
    void readersNeverSeeHalfReplacedSections();
    void alarmsCpuAndDisk_data() { drivers(); }
    void alarmsCpuAndDisk();
    void alarmsAllKindsInOrder_data() { drivers(); }
    void alarmsAllKindsInOrder();
    void alarmsNothingToWrite_data();
    void alarmsNothingToWrite();

private:
    void drivers();
    QSqlDatabase db(const QString &driver) const;
    void storeInventory(const QString &driver, int machineId, const QByteArray &document);
    void storeAlarms(const QString &driver, int machineId, const QByteArray &document);
    QList<QStringList> select(const QString &driver, const QString &sql) const;
    QString snapshot(const QString &driver) const;

    PgCluster pg;
    bool pgReady = false;
    DatabaseConnection pgConnection;
    DatabaseConnection sqliteConnection;
    QTemporaryDir sqliteDir;
    QStringList logLines;
};

namespace
{

const QStringList kTables = {QStringLiteral("os_details"),
                             QStringLiteral("memories"),
                             QStringLiteral("drives"),
                             QStringLiteral("cpus"),
                             QStringLiteral("video_controllers"),
                             QStringLiteral("network_adapters"),
                             QStringLiteral("aggregate_values"),
                             QStringLiteral("softwares"),
                             QStringLiteral("processes"),
                             QStringLiteral("environment_variables"),
                             QStringLiteral("os_services"),
                             QStringLiteral("printers"),
                             QStringLiteral("start_up_applications"),
                             QStringLiteral("updates"),
                             QStringLiteral("os_users"),
                             QStringLiteral("shares"),
                             QStringLiteral("monitorings"),
                             QStringLiteral("alarms")};

QByteArray fixture(const char *name)
{
    QFile file(QStringLiteral(INGESTION_FIXTURE_DIR "/") + QLatin1String(name));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("missing fixture %s", name);
    return file.readAll();
}

// A document as the agent handler receives it: one character per byte.
QString transport(const QByteArray &document)
{
    return QString::fromLatin1(document.constData(), document.size());
}

QStringList row(std::initializer_list<const char *> values)
{
    QStringList list;
    for (const char *value : values)
        list << QString::fromUtf8(value);
    return list;
}

} // namespace

#define SKIP_WITHOUT_PG(driver)                                                                    \
    if ((driver) == QLatin1String("QPSQL") && !pgReady)                                            \
        QSKIP("PostgreSQL not available");

void TestIngestionStore::initTestCase()
{
    QVERIFY(sqliteDir.isValid());
    const QString sqliteFile = sqliteDir.filePath(QStringLiteral("zvn.sqlite"));
    for (const char *file : {"zvn_struct_sqlite.sql", "zvn_fill.sql"}) {
        QProcess shell;
        shell.setStandardInputFile(PgCluster::sqlDir() + QLatin1Char('/') + QLatin1String(file));
        shell.start(QStringLiteral("sqlite3"), {QStringLiteral("-bail"), sqliteFile});
        QVERIFY2(shell.waitForFinished(60000), file);
        QVERIFY2(shell.exitCode() == 0, shell.readAllStandardError().constData());
    }
    QVERIFY(sqliteConnection.openNamed(QStringLiteral("QSQLITE"), QString(), QString(), QString(),
                                       sqliteFile, QStringLiteral("sqlite")));

    pgReady = pg.start();
    if (!pgReady) {
        if (PgCluster::required())
            QFAIL(qPrintable(pg.errorText()));
        qWarning("PostgreSQL cases skipped: %s", qPrintable(pg.errorText()));
        return;
    }
    pgConnection.setPort(pg.port());
    QVERIFY2(pgConnection.openDefault(QStringLiteral("QPSQL"), pg.host(), pg.userName(),
                                      pg.password(), pg.databaseName()),
             qPrintable(pgConnection.lastErrorText()));
}

void TestIngestionStore::cleanupTestCase()
{
    pgConnection.closeAndRemove();
    sqliteConnection.closeAndRemove();
}

void TestIngestionStore::init()
{
    logLines.clear();
    for (const char *driver : {"QSQLITE", "QPSQL"}) {
        if (QLatin1String(driver) == QLatin1String("QPSQL") && !pgReady)
            continue;
        for (const QString &table : kTables) {
            QSqlQuery query(db(QLatin1String(driver)));
            QVERIFY2(query.exec(QStringLiteral("DELETE FROM ") + table),
                     qPrintable(query.lastError().text()));
        }
    }
}

void TestIngestionStore::drivers()
{
    QTest::addColumn<QString>("driver");
    QTest::addRow("SQLite") << QStringLiteral("QSQLITE");
    QTest::addRow("PostgreSQL") << QStringLiteral("QPSQL");
}

QSqlDatabase TestIngestionStore::db(const QString &driver) const
{
    return driver == QLatin1String("QPSQL") ? QSqlDatabase::database()
                                            : sqliteConnection.database();
}

void TestIngestionStore::storeInventory(const QString &driver, int machineId,
                                        const QByteArray &document)
{
    const auto log = [this](const QString &line) { logLines << line; };
    // PostgreSQL goes through the default connection, as the agent handler calls it.
    if (driver == QLatin1String("QPSQL"))
        ParseInventoryXml::storeInventory(machineId, transport(document), log);
    else
        ParseInventoryXml::storeInventory(machineId, transport(document), log, db(driver));
}

void TestIngestionStore::storeAlarms(const QString &driver, int machineId,
                                     const QByteArray &document)
{
    const auto log = [this](const QString &line) { logLines << line; };
    if (driver == QLatin1String("QPSQL"))
        ParseInventoryXml::storeAlarms(machineId, transport(document), log);
    else
        ParseInventoryXml::storeAlarms(machineId, transport(document), log, db(driver));
}

QList<QStringList> TestIngestionStore::select(const QString &driver, const QString &sql) const
{
    QList<QStringList> rows;
    QSqlQuery query(db(driver));
    if (!query.exec(sql)) {
        qWarning("%s: %s", qPrintable(sql), qPrintable(query.lastError().text()));
        return rows;
    }
    while (query.next()) {
        QStringList values;
        for (int i = 0; i < query.record().count(); ++i)
            values << query.value(i).toString();
        rows << values;
    }
    return rows;
}

QString TestIngestionStore::snapshot(const QString &driver) const
{
    QString text;
    for (const QString &table : kTables) {
        for (const QStringList &values :
             select(driver, QStringLiteral("SELECT * FROM %1 ORDER BY id").arg(table)))
            text += table + QLatin1Char(':') + values.join(QLatin1Char('|')) + QLatin1Char('\n');
    }
    return text;
}

void TestIngestionStore::unreadableDocumentsChangeNothing_data()
{
    QTest::addColumn<QString>("driver");
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<bool>("logged");
    const QByteArray laughs = "<?xml version=\"1.0\"?><!DOCTYPE document [<!ENTITY a "
                              "\"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\">"
                              "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\"><!ENTITY c "
                              "\"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">"
                              "<!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\"><!ENTITY e "
                              "\"&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;\">"
                              "<!ENTITY f \"&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;\"><!ENTITY g "
                              "\"&f;&f;&f;&f;&f;&f;&f;&f;&f;&f;\">]>"
                              "<document><RegistrySoftware><package><DisplayName>&g;</"
                              "DisplayName></package></RegistrySoftware></document>";
    const QByteArray external =
        "<?xml version=\"1.0\"?><!DOCTYPE document [<!ENTITY x SYSTEM \"file:///etc/passwd\">]>"
        "<document><RegistrySoftware><package><DisplayName>&x;</DisplayName></package></"
        "RegistrySoftware></document>";
    // A valid inventory followed by 50 MB of packages.
    QByteArray huge = fixture("software_and_lists.xml");
    const QByteArray package =
        "<package><DisplayName>filler</DisplayName><Publisher>x</Publisher></package>";
    huge.replace("</RegistrySoftware>",
                 package.repeated(50 * 1024 * 1024 / package.size()) + "</RegistrySoftware>");
    QByteArray deep =
        "<?xml version=\"1.0\"?><document><process><proc><id>1</id><name>a</name></proc>";
    deep += QByteArray("<n>").repeated(200000) + QByteArray("</n>").repeated(200000) +
            "</process></document>";
    QByteArray truncated = fixture("software_and_lists.xml");
    truncated.chop(40);

    for (const QString &driver : {QStringLiteral("QSQLITE"), QStringLiteral("QPSQL")}) {
        const QByteArray name = driver.toLatin1();
        QTest::addRow("%s empty", name.constData()) << driver << QByteArray() << false;
        QTest::addRow("%s probe failure text", name.constData())
            << driver << QByteArray("Process Error") << false;
        QTest::addRow("%s truncated", name.constData()) << driver << truncated << false;
        QTest::addRow("%s entity expansion", name.constData()) << driver << laughs << true;
        QTest::addRow("%s external entity", name.constData()) << driver << external << true;
        QTest::addRow("%s 50 MB", name.constData()) << driver << huge << true;
        QTest::addRow("%s deep nesting", name.constData()) << driver << deep << true;
    }
}

void TestIngestionStore::unreadableDocumentsChangeNothing()
{
    QFETCH(QString, driver);
    QFETCH(QByteArray, document);
    QFETCH(bool, logged);
    SKIP_WITHOUT_PG(driver);
    storeInventory(driver, 5, fixture("software_and_lists.xml"));
    storeInventory(driver, 5, fixture("hardware_printers_network_disk.xml"));
    const QString before = snapshot(driver);
    QVERIFY(before.contains(QLatin1String("softwares:")));
    logLines.clear();

    QElapsedTimer timer;
    timer.start();
    storeInventory(driver, 5, document);
    storeAlarms(driver, 5, document);
    QVERIFY2(timer.elapsed() < 30000, "an unreadable document must be refused quickly");
    QCOMPARE(snapshot(driver), before);
    QCOMPARE(logLines.size(), logged ? 2 : 0);
    if (logged)
        QVERIFY2(
            logLines.first().startsWith(QLatin1String("Inventory document of machine 5 refused: ")),
            qPrintable(logLines.first()));
}

void TestIngestionStore::hardwareGroupReplaced()
{
    QFETCH(QString, driver);
    SKIP_WITHOUT_PG(driver);
    // Earlier rows of the same machine and another machine's rows.
    for (int mid : {7, 8}) {
        for (const char *sql :
             {"INSERT INTO os_details (OS_Caption, name, mid) VALUES ('Windows XP', 'OLD', %1)",
              "INSERT INTO memories (memory_id, size, mid) VALUES ('OLD', '512', %1)",
              "INSERT INTO drives (name, size, mid) VALUES ('Z:', '10.00', %1)",
              "INSERT INTO cpus (cpu_id, mid) VALUES ('OLD', %1)",
              "INSERT INTO video_controllers (name, mid) VALUES ('OLD', %1)",
              "INSERT INTO network_adapters (name, mid) VALUES ('OLD', %1)",
              "INSERT INTO aggregate_values (memory_size, cpu_numbers, drive_size, mid) VALUES "
              "(512, 1, 10, %1)",
              "INSERT INTO printers (caption, mid) VALUES ('OLD', %1)",
              "INSERT INTO softwares (displayName, mid) VALUES ('OLD', %1)"}) {
            QSqlQuery query(db(driver));
            QVERIFY2(query.exec(QString::fromLatin1(sql).arg(mid)),
                     qPrintable(query.lastError().text()));
        }
    }
    storeInventory(driver, 7, fixture("hardware_printers_network_disk.xml"));

    QCOMPARE(select(driver, QStringLiteral(
                                "SELECT OS_Caption, OS_Version, OS_Servicepack, OS_Architecture, "
                                "OS_SerialNumber, name, mid FROM os_details WHERE mid=7")),
             QList<QStringList>({row({"Debian GNU/Linux 12 (bookworm)", "6.1.0-18-amd64", "0.0",
                                      "x86_64", "4c4c4544-0042", "PC-042", "7"})}));
    QCOMPARE(select(driver, QStringLiteral("SELECT memory_id, form, detail, memory_type, size, "
                                           "speed FROM memories WHERE mid=7 ORDER BY id")),
             QList<QStringList>({row({"DIMM_A1", "DIMM", "DDR", "Synchronous", "4096", "2400"}),
                                 row({"DIMM_B1", "DIMM", "DDR", "Synchronous", "4096", "2400"})}));
    // Availability from the disk load of the same report.
    QCOMPARE(select(driver, QStringLiteral(
                                "SELECT name, description, filesystem, size, volumeSerialNumber, "
                                "available FROM drives WHERE mid=7 ORDER BY id")),
             QList<QStringList>(
                 {row({"C:", "Local Fixed Disk", "ext4", "465.76", "A1B2C3D4", "120.50"}),
                  row({"D:", "Local Fixed Disk", "xfs", "931.51", "E5F6A7B8", "800.25"})}));
    QCOMPARE(
        select(driver,
               QStringLiteral(
                   "SELECT cpu_id, name, manufacturer, description, processorid, architecture, "
                   "numberofcores, maxclockspeed FROM cpus WHERE mid=7 ORDER BY id")),
        QList<QStringList>(
            {row({"CPU0", "Intel(R) Xeon(R) CPU E5-2620 v4 @ 2.10GHz", "GenuineIntel",
                  "Intel64 Family 6 Model 79", "BFEBFBFF000406F1", "x64", "4", "2100"}),
             row({"CPU1", "Intel(R) Xeon(R) CPU E5-2620 v4 @ 2.10GHz", "GenuineIntel",
                  "Intel64 Family 6 Model 79", "BFEBFBFF000406F1", "x64", "4", "2100"})}));
    QCOMPARE(
        select(driver,
               QStringLiteral("SELECT name, adapterram, acceleratorcapabilities, adapterdactype, "
                              "driverversion, installeddrivers, videomode, videoarch, videomemtype "
                              "FROM video_controllers WHERE mid=7")),
        QList<QStringList>({row({"Intel UHD Graphics 630", "1024", "Graphics Accelerator",
                                 "Internal", "i915", "i915", "1920 x 1080", "VGA", "Unknown"})}));
    QCOMPARE(
        select(driver,
               QStringLiteral(
                   "SELECT name, adaptertype, manufacturer, macaddress, dhcpenabled, ipaddress, "
                   "ipsubnet, defaultipgateway, dhcpserver FROM network_adapters WHERE mid=7")),
        QList<QStringList>({row({"eth0", "Ethernet 802.3", "Intel Corporation", "00:1A:2B:3C:4D:5E",
                                 "65535", "10.0.0.42 , fe80::21a:2bff:fe3c:4d5e",
                                 "255.255.255.0 , 64", "10.0.0.1", "10.0.0.2"})}));
    QCOMPARE(select(driver, QStringLiteral("SELECT memory_size, cpu_numbers, drive_size, available "
                                           "FROM aggregate_values WHERE mid=7")),
             QList<QStringList>({row({"8192", "2", "1397.27", "800.25"})}));
    QCOMPARE(select(driver, QStringLiteral("SELECT caption, name, status, sharename, portname, "
                                           "network, shared FROM printers WHERE mid=7")),
             QList<QStringList>({row({"HP LaserJet 4250", "HP LaserJet 4250", "3", "lj4250",
                                      "socket://10.0.0.9:9100", "65535", "0"})}));
    // No software in the document: the old rows stay; disk load alone writes no monitoring row.
    QCOMPARE(select(driver, QStringLiteral("SELECT displayName FROM softwares WHERE mid=7")),
             QList<QStringList>({row({"OLD"})}));
    QCOMPARE(select(driver, QStringLiteral("SELECT COUNT(*) FROM monitorings")),
             QList<QStringList>({row({"0"})}));
    // The other machine is untouched.
    for (const QString &table :
         {QStringLiteral("os_details"), QStringLiteral("memories"), QStringLiteral("drives"),
          QStringLiteral("cpus"), QStringLiteral("printers"), QStringLiteral("aggregate_values")})
        QCOMPARE(select(driver, QStringLiteral("SELECT COUNT(*) FROM %1 WHERE mid=8").arg(table)),
                 QList<QStringList>({row({"1"})}));

    // One ingestion time for every row of the report.
    const QList<QStringList> dates = select(
        driver,
        QStringLiteral("SELECT created_at, updated_at FROM os_details WHERE mid=7 UNION ALL SELECT "
                       "created_at, updated_at FROM drives WHERE mid=7 "
                       "UNION ALL SELECT created_at, updated_at FROM printers WHERE mid=7 UNION "
                       "ALL SELECT created_at, updated_at FROM aggregate_values WHERE mid=7"));
    QCOMPARE(dates.size(), 5);
    const QString first = DateTimeText::fromDatabase(dates.first().first());
    QVERIFY(!first.isEmpty());
    QVERIFY(qAbs(QDateTime::fromString(first, DateTimeText::readFormat)
                     .secsTo(QDateTime::currentDateTime())) < 120);
    for (const QStringList &pair : dates) {
        QCOMPARE(DateTimeText::fromDatabase(pair.at(0)), first);
        QCOMPARE(DateTimeText::fromDatabase(pair.at(1)), first);
    }
}

void TestIngestionStore::monitoringOnly()
{
    QFETCH(QString, driver);
    SKIP_WITHOUT_PG(driver);
    storeInventory(driver, 3, fixture("hardware_printers_network_disk.xml"));
    storeInventory(driver, 3, fixture("software_and_lists.xml"));
    const QList<QStringList> softwareBefore =
        select(driver, QStringLiteral("SELECT * FROM softwares ORDER BY id"));
    const QList<QStringList> osBefore =
        select(driver, QStringLiteral("SELECT * FROM os_details ORDER BY id"));

    storeInventory(driver, 3, fixture("monitoring_only.xml"));
    storeInventory(driver, 3, fixture("monitoring_only.xml"));

    // Appended on every report; the comma inside the loopback adapter's name shifts nothing.
    const QList<QStringList> monitoring = select(
        driver, QStringLiteral("SELECT mid, cpuUsagePercentage, memoryUsagePercentage, "
                               "numberOfProcess, numberOfThread, diskUsagePercentage, "
                               "netAdapterUsagePercentage, battery FROM monitorings ORDER BY id"));
    QCOMPARE(monitoring,
             QList<QStringList>({row({"3", "30", "75.5", "212", "1045", "79", "3.5", "87"}),
                                 row({"3", "30", "75.5", "212", "1045", "79", "3.5", "87"})}));
    QCOMPARE(select(driver,
                    QStringLiteral("SELECT name, available FROM drives WHERE mid=3 ORDER BY id")),
             QList<QStringList>({row({"C:", "99.99"}), row({"D:", "800.25"})}));
    QCOMPARE(select(driver, QStringLiteral("SELECT available FROM aggregate_values WHERE mid=3")),
             QList<QStringList>({row({"99.99"})}));
    QCOMPARE(select(driver, QStringLiteral("SELECT * FROM softwares ORDER BY id")), softwareBefore);
    QCOMPARE(select(driver, QStringLiteral("SELECT * FROM os_details ORDER BY id")), osBefore);
}

void TestIngestionStore::emptyPrintersKeepOldRows()
{
    QFETCH(QString, driver);
    SKIP_WITHOUT_PG(driver);
    storeInventory(driver, 4, fixture("hardware_printers_network_disk.xml"));
    const QString before = snapshot(driver);
    storeInventory(driver, 4, fixture("empty_printers.xml"));
    QCOMPARE(snapshot(driver), before);
    QCOMPARE(select(driver, QStringLiteral("SELECT caption FROM printers WHERE mid=4")),
             QList<QStringList>({row({"HP LaserJet 4250"})}));
}

void TestIngestionStore::availabilityOnlyForOwnDrives()
{
    QFETCH(QString, driver);
    SKIP_WITHOUT_PG(driver);
    storeInventory(driver, 1, fixture("hardware_printers_network_disk.xml"));
    storeInventory(driver, 2, fixture("hardware_printers_network_disk.xml"));
    storeInventory(driver, 2, fixture("monitoring_only.xml"));
    QCOMPARE(
        select(driver, QStringLiteral(
                           "SELECT mid, name, available FROM drives WHERE name='C:' ORDER BY mid")),
        QList<QStringList>({row({"1", "C:", "120.50"}), row({"2", "C:", "99.99"})}));
    QCOMPARE(
        select(driver, QStringLiteral("SELECT mid, available FROM aggregate_values ORDER BY mid")),
        QList<QStringList>({row({"1", "800.25"}), row({"2", "99.99"})}));
}

void TestIngestionStore::memoryTotalInExponentForm()
{
    QFETCH(QString, driver);
    SKIP_WITHOUT_PG(driver);
    QByteArray document = fixture("hardware_printers_network_disk.xml");
    document.replace("<size>4096</size>", "<size>524288</size>");
    document.remove(document.indexOf("<Monitor_Disk>"),
                    document.indexOf("</Monitor_Disk>") + 15 - document.indexOf("<Monitor_Disk>"));
    storeInventory(driver, 6, document);
    // Written as 1.04858e+06, so the column holds 1048580.
    const QList<QStringList> values =
        select(driver,
               QStringLiteral("SELECT memory_size, cpu_numbers FROM aggregate_values WHERE mid=6"));
    QCOMPARE(values.size(), 1);
    QCOMPARE(values.first().at(0).toDouble(), 1048580.0);
    QCOMPARE(values.first().at(1), QStringLiteral("2"));
    // Without a disk load the drives keep the availability they were written with.
    QCOMPARE(select(driver,
                    QStringLiteral("SELECT name, available FROM drives WHERE mid=6 ORDER BY id")),
             QList<QStringList>({row({"C:", "0"}), row({"D:", "0"})}));
}

void TestIngestionStore::valuesStoredExactly()
{
    QFETCH(QString, driver);
    SKIP_WITHOUT_PG(driver);
    storeInventory(driver, 9, fixture("software_and_lists.xml"));
    // Apostrophes, statement text and non-ASCII letters as they stand; the escaped forms of
    // the document's ampersand and angle brackets as the serializer writes them.
    QCOMPARE(
        select(driver, QStringLiteral("SELECT displayName, publisher, version, installLocation, "
                                      "unistallString FROM softwares WHERE mid=9 ORDER BY id")),
        QList<QStringList>(
            {row({"O'Reilly Reader", "AT&amp;T &lt;Lab&gt; 100\"%\"", "2.1", "/opt/o'reilly",
                  "/usr/bin/apt-get remove -y oreilly"}),
             row({"x'); DELETE FROM softwares; --", "Jürgen Müller €", "1.0", "", ""})}));
    QCOMPARE(select(driver, QStringLiteral(
                                "SELECT pid, name, path FROM processes WHERE mid=9 ORDER BY id")),
             QList<QStringList>({row({"1", "systemd", "/usr/lib/systemd/systemd"}),
                                 row({"4242", "kelvarix-agent", "/opt/kelvarix/agent"})}));
    QCOMPARE(
        select(driver, QStringLiteral("SELECT display_name, name, process_id, path_name, state, "
                                      "start_mode, error_control FROM os_services WHERE mid=9")),
        QList<QStringList>(
            {row({"Print Spooler", "cups", "812", "/usr/sbin/cupsd -l, --config /etc/cups",
                  "Running", "Auto", "Normal"})}));
    QCOMPARE(select(driver, QStringLiteral("SELECT name, description, command, username, location "
                                           "FROM start_up_applications WHERE mid=9")),
             QList<QStringList>({row({"kelvarix", "Agent", "/opt/kelvarix/agent --tray", "root",
                                      "/etc/xdg/autostart"})}));
    QCOMPARE(select(driver, QStringLiteral("SELECT name, systemvariable, variablevalue FROM "
                                           "environment_variables WHERE mid=9 ORDER BY id")),
             QList<QStringList>({row({"PATH", "65535", "/usr/local/bin:/usr/bin:/bin"}),
                                 row({"GREETING", "0", "it's 50\"%\" done"})}));
    QCOMPARE(select(driver, QStringLiteral("SELECT name, status, hotfixid, caption, InstalledOn, "
                                           "ServicePackInEffect FROM updates WHERE mid=9")),
             QList<QStringList>(
                 {row({"linux-image", "installed", "KB500", "Kernel update", "2026-01-02", ""})}));
    QCOMPARE(
        select(driver,
               QStringLiteral("SELECT caption, domain, fullname, name FROM os_users WHERE mid=9")),
        QList<QStringList>({row({"PC-042\\obrien", "PC-042", "Seán O'Brien", "obrien"})}));
    QCOMPARE(select(driver, QStringLiteral(
                                "SELECT name, description, caption, path FROM shares WHERE mid=9")),
             QList<QStringList>({row({"public", "Public files", "public", "/srv/public"})}));
    // A second report replaces each section rather than adding to it.
    storeInventory(driver, 9, fixture("software_and_lists.xml"));
    QCOMPARE(select(driver, QStringLiteral("SELECT COUNT(*) FROM softwares")),
             QList<QStringList>({row({"2"})}));
    QCOMPARE(select(driver, QStringLiteral("SELECT COUNT(*) FROM os_services")),
             QList<QStringList>({row({"1"})}));
}

void TestIngestionStore::failingStatementDoesNotStopOthers()
{
    QFETCH(QString, driver);
    SKIP_WITHOUT_PG(driver);
    // The database refuses one process row and every share row.
    QStringList setUp;
    QStringList tearDown;
    if (driver == QLatin1String("QPSQL")) {
        setUp << QStringLiteral("CREATE FUNCTION kx_refuse() RETURNS trigger LANGUAGE plpgsql AS "
                                "$$BEGIN IF NEW.name = 'systemd' OR TG_TABLE_NAME = 'shares' THEN "
                                "RAISE EXCEPTION 'refused'; END IF; RETURN NEW; END$$")
              << QStringLiteral("CREATE TRIGGER kx_refuse_processes BEFORE INSERT ON processes FOR "
                                "EACH ROW EXECUTE FUNCTION kx_refuse()")
              << QStringLiteral("CREATE TRIGGER kx_refuse_shares BEFORE INSERT ON shares FOR EACH "
                                "ROW EXECUTE FUNCTION kx_refuse()");
        tearDown << QStringLiteral("DROP TRIGGER kx_refuse_processes ON processes")
                 << QStringLiteral("DROP TRIGGER kx_refuse_shares ON shares")
                 << QStringLiteral("DROP FUNCTION kx_refuse()");
        for (const QString &sql : setUp)
            QVERIFY2(pg.execAsSuperUser(sql), qPrintable(pg.errorText()));
    } else {
        setUp << QStringLiteral("CREATE TRIGGER kx_refuse_processes BEFORE INSERT ON processes "
                                "WHEN NEW.name = 'systemd' "
                                "BEGIN SELECT RAISE(ABORT, 'refused'); END")
              << QStringLiteral("CREATE TRIGGER kx_refuse_shares BEFORE INSERT ON shares BEGIN "
                                "SELECT RAISE(ABORT, 'refused'); END");
        tearDown << QStringLiteral("DROP TRIGGER kx_refuse_processes")
                 << QStringLiteral("DROP TRIGGER kx_refuse_shares");
        for (const QString &sql : setUp) {
            QSqlQuery query(db(driver));
            QVERIFY2(query.exec(sql), qPrintable(query.lastError().text()));
        }
    }
    QSqlQuery(db(driver))
        .exec(QStringLiteral("INSERT INTO shares (name, mid) VALUES ('old share', 11)"));

    storeInventory(driver, 11, fixture("software_and_lists.xml"));

    for (const QString &sql : tearDown) {
        if (driver == QLatin1String("QPSQL")) {
            QVERIFY2(pg.execAsSuperUser(sql), qPrintable(pg.errorText()));
        } else {
            QSqlQuery query(db(driver));
            QVERIFY2(query.exec(sql), qPrintable(query.lastError().text()));
        }
    }
    // Only the refused rows are missing; statements before and after them went on.
    QCOMPARE(select(driver, QStringLiteral("SELECT name FROM processes WHERE mid=11")),
             QList<QStringList>({row({"kelvarix-agent"})}));
    QCOMPARE(select(driver, QStringLiteral("SELECT COUNT(*) FROM softwares WHERE mid=11")),
             QList<QStringList>({row({"2"})}));
    QCOMPARE(select(driver, QStringLiteral("SELECT COUNT(*) FROM os_services WHERE mid=11")),
             QList<QStringList>({row({"1"})}));
    QCOMPARE(select(driver, QStringLiteral("SELECT COUNT(*) FROM os_users WHERE mid=11")),
             QList<QStringList>({row({"1"})}));
    // The share section's DELETE ran; its INSERT was refused.
    QCOMPARE(select(driver, QStringLiteral("SELECT COUNT(*) FROM shares WHERE mid=11")),
             QList<QStringList>({row({"0"})}));
    // The report's transaction is closed: a new one can start.
    QVERIFY(db(driver).transaction());
    QVERIFY(db(driver).rollback());
}

void TestIngestionStore::readersNeverSeeHalfReplacedSections()
{
    if (!pgReady)
        QSKIP("PostgreSQL not available");
    const QString pgDriver = QStringLiteral("QPSQL");
    storeInventory(pgDriver, 12, fixture("software_and_lists.xml"));
    const QList<QStringList> oldSoftware =
        select(pgDriver, QStringLiteral("SELECT * FROM softwares WHERE mid=12 ORDER BY id"));
    QByteArray next = fixture("software_and_lists.xml");
    next.replace("O'Reilly Reader", "O'Reilly Reader 3");
    next.replace("systemd", "init");

    // Another session holds the last table the report writes, so the report stops there.
    DatabaseConnection locker;
    locker.setPort(pg.port());
    QVERIFY(locker.openNamed(QStringLiteral("QPSQL"), pg.host(), pg.userName(), pg.password(),
                             pg.databaseName(), QStringLiteral("locker")));
    QVERIFY(locker.database().transaction());
    QSqlQuery lock(locker.database());
    QVERIFY2(lock.exec(QStringLiteral("LOCK TABLE shares IN ACCESS EXCLUSIVE MODE")),
             qPrintable(lock.lastError().text()));

    QThread *writer = QThread::create([this, next] {
        DatabaseConnection connection;
        connection.setPort(pg.port());
        if (!connection.openNamed(QStringLiteral("QPSQL"), pg.host(), pg.userName(), pg.password(),
                                  pg.databaseName(), QStringLiteral("writer")))
            return;
        ParseInventoryXml::storeInventory(12, transport(next), ParseInventoryXml::LogFunction(),
                                          connection.database());
        connection.closeAndRemove();
    });
    writer->start();
    QTRY_COMPARE_WITH_TIMEOUT(
        select(pgDriver,
               QStringLiteral("SELECT COUNT(*) FROM pg_stat_activity WHERE wait_event_type = "
                              "'Lock' AND backend_type = 'client backend'")),
        QList<QStringList>({row({"1"})}), 20000);
    // The writer is inside its report: software and processes are already replaced there,
    // but a reader still sees the machine as it was.
    QCOMPARE(select(pgDriver, QStringLiteral("SELECT * FROM softwares WHERE mid=12 ORDER BY id")),
             oldSoftware);
    QCOMPARE(
        select(pgDriver,
               QStringLiteral("SELECT COUNT(*) FROM processes WHERE mid=12 AND name='systemd'")),
        QList<QStringList>({row({"1"})}));

    QVERIFY(locker.database().commit());
    QVERIFY(writer->wait(20000));
    delete writer;
    locker.closeAndRemove();
    QCOMPARE(select(pgDriver,
                    QStringLiteral("SELECT displayName FROM softwares WHERE mid=12 ORDER BY id"))
                 .first(),
             row({"O'Reilly Reader 3"}));
    QCOMPARE(select(pgDriver,
                    QStringLiteral("SELECT COUNT(*) FROM processes WHERE mid=12 AND name='init'")),
             QList<QStringList>({row({"1"})}));
    QCOMPARE(select(pgDriver, QStringLiteral("SELECT COUNT(*) FROM shares WHERE mid=12")),
             QList<QStringList>({row({"1"})}));
}

void TestIngestionStore::alarmsCpuAndDisk()
{
    QFETCH(QString, driver);
    SKIP_WITHOUT_PG(driver);
    storeAlarms(driver, 12, fixture("alarms_cpu_disk.xml"));
    const QList<QStringList> rows = select(
        driver, QStringLiteral(
                    "SELECT alarm_id, data, mid, created_at, updated_at FROM alarms ORDER BY id"));
    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows.at(0).mid(0, 3), row({"22", "95", "12"}));
    QCOMPARE(rows.at(1).mid(0, 3), row({"23", "91", "12"}));
    const QString date = DateTimeText::fromDatabase(rows.at(0).at(3));
    QVERIFY(!date.isEmpty());
    for (const QStringList &alarm : rows) {
        QCOMPARE(DateTimeText::fromDatabase(alarm.at(3)), date);
        QCOMPARE(DateTimeText::fromDatabase(alarm.at(4)), date);
    }
    // Alarms only ever add rows.
    storeAlarms(driver, 12, fixture("alarms_cpu_disk.xml"));
    QCOMPARE(select(driver, QStringLiteral("SELECT COUNT(*) FROM alarms")),
             QList<QStringList>({row({"4"})}));
}

void TestIngestionStore::alarmsAllKindsInOrder()
{
    QFETCH(QString, driver);
    SKIP_WITHOUT_PG(driver);
    storeAlarms(driver, 13, fixture("alarms_all_kinds.xml"));
    QCOMPARE(
        select(driver,
               QStringLiteral("SELECT alarm_id, data FROM alarms WHERE mid=13 ORDER BY id")),
        QList<QStringList>({row({"22", "80.5"}), row({"24", "93"}), row({"23", "91"}),
                            row({"30", "notepad.exe"}), row({"30", "o'brien.sh"}),
                            row({"30", "firefox"}), row({"31", "sshd"}), row({"27", "1"}),
                            row({"28", "GIMP 2.10"}), row({"29", "Vim"}), row({"29", "Émacs"})}));
}

void TestIngestionStore::alarmsNothingToWrite_data()
{
    QTest::addColumn<QString>("driver");
    QTest::addColumn<QByteArray>("document");
    for (const QString &driver : {QStringLiteral("QSQLITE"), QStringLiteral("QPSQL")}) {
        const QByteArray name = driver.toLatin1();
        QTest::addRow("%s empty alarms", name.constData()) << driver << fixture("alarms_empty.xml");
        QTest::addRow("%s no alarms element", name.constData())
            << driver << fixture("empty_printers.xml");
        QTest::addRow("%s unescaped name", name.constData())
            << driver
            << QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\" "
                          "?><document><alarms><startedAlarmProcesses><process>a&b</process></"
                          "startedAlarmProcesses></alarms></document>");
    }
}

void TestIngestionStore::alarmsNothingToWrite()
{
    QFETCH(QString, driver);
    QFETCH(QByteArray, document);
    SKIP_WITHOUT_PG(driver);
    storeAlarms(driver, 14, document);
    QCOMPARE(select(driver, QStringLiteral("SELECT COUNT(*) FROM alarms")),
             QList<QStringList>({row({"0"})}));
}

QTEST_GUILESS_MAIN(TestIngestionStore)
#include "tst_ingestionstore.moc"
