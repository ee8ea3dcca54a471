#include "databaseconnection.h"
#include "invprobe.h"
#include "parseinventoryxml.h"
#include "pgcluster.h"

#include <QHash>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QXmlStreamReader>
#include <QtTest>

// A document rendered by the probe library over its fixture backend, stored in PostgreSQL:
// every row of every table must hold the values of its element, read here independently of
// the query templates.
class TestProbeIngestion : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void tablesHoldTheDocument_data();
    void tablesHoldTheDocument();
    void monitoringRow();

private:
    QList<QStringList> select(const QString &sql) const;

    PgCluster pg;
    DatabaseConnection connection;
    QByteArray document;
};

namespace
{

const int kMachine = 21;

// The rows of a repeated element: its children's texts in the given order, escaped as the
// serializer writes text.
QList<QStringList> elementRows(const QByteArray &document, const QString &rowPath,
                               const QStringList &children)
{
    QList<QStringList> rows;
    QXmlStreamReader reader(document);
    QStringList path;
    QHash<QString, QString> current;
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isStartElement()) {
            path << reader.name().toString();
            const QString joined = path.join(QLatin1Char('/'));
            if (joined == rowPath) {
                current.clear();
            } else if (joined.startsWith(rowPath + QLatin1Char('/')) &&
                       path.size() == rowPath.count(QLatin1Char('/')) + 2) {
                const QString name = path.last();
                QString text = reader.readElementText(QXmlStreamReader::IncludeChildElements);
                path.removeLast();
                text.replace(QLatin1Char('&'), QLatin1String("&amp;"));
                text.replace(QLatin1Char('<'), QLatin1String("&lt;"));
                text.replace(QLatin1Char('>'), QLatin1String("&gt;"));
                current.insert(name, text);
            }
        } else if (reader.isEndElement()) {
            if (path.join(QLatin1Char('/')) == rowPath) {
                QStringList row;
                for (const QString &child : children)
                    row << current.value(child);
                rows << row;
            }
            path.removeLast();
        }
    }
    return rows;
}

} // namespace

void TestProbeIngestion::initTestCase()
{
    qputenv("INVPROBE_FIXTURE", PROBE_FIXTURE_DIR "/machine.json");
    qputenv("INVPROBE_REGISTRY", PROBE_FIXTURE_DIR "/registry.json");
    KELVARIX_REQUIRE_PG(pg);
    connection.setPort(pg.port());
    QVERIFY2(connection.openDefault(QStringLiteral("QPSQL"), pg.host(), pg.userName(),
                                    pg.password(), pg.databaseName()),
             qPrintable(connection.lastErrorText()));

    // The sections in the agent's order, each fragment from the library.
    QString text = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\" ?><document>");
    QString fragment;
    const auto add = [&](int result) {
        QCOMPARE(result, 0);
        text += fragment;
        fragment.clear();
    };
    add(query_hardware(fragment));
    add(query_printers(fragment));
    add(query_network_adapters(fragment));
    add(monitor_disk(fragment, false));
    add(query_Registry_software(fragment));
    add(query_process(fragment));
    add(monitor_cpu(fragment, false));
    add(monitor_memory(fragment, false));
    add(monitor_os_objects(fragment));
    add(monitor_network(fragment));
    add(monitor_battery(fragment));
    add(query_os_services(fragment));
    add(query_startUp_applications(fragment));
    add(query_environment_variables(fragment));
    add(query_updates(fragment));
    add(query_users(fragment));
    add(query_shares(fragment));
    text += QStringLiteral("</document>");
    document = text.toUtf8();

    const QByteArray payload = document;
    ParseInventoryXml::storeInventory(kMachine,
                                      QString::fromLatin1(payload.constData(), payload.size()));
}

void TestProbeIngestion::cleanupTestCase()
{
    connection.closeAndRemove();
    qunsetenv("INVPROBE_FIXTURE");
    qunsetenv("INVPROBE_REGISTRY");
}

QList<QStringList> TestProbeIngestion::select(const QString &sql) const
{
    QList<QStringList> rows;
    QSqlQuery query;
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

void TestProbeIngestion::tablesHoldTheDocument_data()
{
    QTest::addColumn<QString>("table");
    QTest::addColumn<QString>("columns");
    QTest::addColumn<QString>("rowPath");
    QTest::addColumn<QStringList>("children");
    const auto add = [](const char *table, const char *columns, const char *rowPath,
                        const char *children) {
        QTest::newRow(table) << QString::fromLatin1(table) << QString::fromLatin1(columns)
                             << QString::fromLatin1(rowPath)
                             << QString::fromLatin1(children).split(QLatin1Char(' '));
    };
    add("os_details", "OS_Caption, OS_Version, OS_Servicepack, OS_Architecture, OS_SerialNumber",
        "document/hardware/operatingsystem", "caption version servicepack osarch serialNumber");
    add("cpus",
        "cpu_id, name, manufacturer, description, processorid, architecture, numberofcores, "
        "maxclockspeed",
        "document/hardware/InfoCPU/CPU",
        "DeviceID Name Manufacturer Description ProcessorID Architecture NumberOfCores "
        "MaxClockSpeed");
    add("memories", "memory_id, form, detail, memory_type, size, speed",
        "document/hardware/memory/bank", "id formfactor detail typedetail size speed");
    add("drives", "name, description, filesystem, size, volumeSerialNumber",
        "document/hardware/Drives/Drive", "Name Description Filesystem Size VolumeSerialNumber");
    add("video_controllers",
        "name, adapterram, acceleratorcapabilities, adapterdactype, driverversion, "
        "installeddrivers, videomode, videoarch, videomemtype",
        "document/hardware/VideoController",
        "Name AdapterRAM AcceleratorCapabilities AdapterDACType DriverVersion "
        "InstalledDisplayDrivers VideoModeDescription VideoArchitecture VideoMemoryType");
    add("network_adapters",
        "name, adaptertype, manufacturer, macaddress, dhcpenabled, ipaddress, ipsubnet, "
        "defaultipgateway, dhcpserver",
        "document/NetworkAdapters/Adapter",
        "Name AdapterType Manufacturer MACAddress DHCPEnabled IPAddress IPSubnet DefaultIPGateway "
        "DHCPServer");
    add("printers", "caption, name, status, sharename, portname, network, shared",
        "document/Printers/Printer", "Caption Name Status ShareName PortName Network Shared");
    add("softwares", "displayName, publisher, version, installLocation, unistallString",
        "document/RegistrySoftware/package",
        "DisplayName Publisher Version InstallLocation UnistallString");
    add("processes", "pid, name, path", "document/process/proc", "id name path");
    add("os_services",
        "display_name, name, process_id, path_name, state, start_mode, error_control",
        "document/services/service",
        "DisplayName Name ProcessId PathName State StartMode ErrorControl");
    add("start_up_applications", "name, description, command, username, location",
        "document/startUpApplications/Application", "Name Description Command User Location");
    add("environment_variables", "name, systemvariable, variablevalue",
        "document/EnvironmentVars/Variable", "Name SystemVariable VariableValue");
    add("updates", "name, status, hotfixid, caption, InstalledOn, ServicePackInEffect",
        "document/Updates/Update", "Name Status HotFixID Caption InstalledOn ServicePackInEffect");
    add("os_users", "caption, domain, fullname, name", "document/users/user",
        "Caption Domain FullName Name");
    add("shares", "name, description, caption, path", "document/shares/share",
        "Name Description Caption Path");
}

void TestProbeIngestion::tablesHoldTheDocument()
{
    QFETCH(QString, table);
    QFETCH(QString, columns);
    QFETCH(QString, rowPath);
    QFETCH(QStringList, children);
    const QList<QStringList> expected = elementRows(document, rowPath, children);
    // The fixture machine has no printers; every other table has rows.
    QVERIFY(!expected.isEmpty() || table == QLatin1String("printers"));
    QCOMPARE(select(QStringLiteral("SELECT %1 FROM %2 WHERE mid=%3 ORDER BY id")
                        .arg(columns, table)
                        .arg(kMachine)),
             expected);
}

void TestProbeIngestion::monitoringRow()
{
    const QList<QStringList> rows = select(
        QStringLiteral(
            "SELECT cpuUsagePercentage, memoryUsagePercentage, numberOfProcess, numberOfThread, "
            "diskUsagePercentage, battery FROM monitorings WHERE mid=%1")
            .arg(kMachine));
    QCOMPARE(rows.size(), 1);
    const auto total = [this](const char *rowPath, const char *child) {
        for (const QStringList &row : elementRows(document, QLatin1String(rowPath),
                                                  {QStringLiteral("Name"), QLatin1String(child)})) {
            if (row.first() == QLatin1String("_Total"))
                return row.last();
        }
        return QStringLiteral("0");
    };
    QCOMPARE(rows.first().at(0), total("document/Monitor_CPU/cpu", "Usage"));
    QCOMPARE(rows.first().at(1),
             elementRows(document, QStringLiteral("document/Monitor_Memory/memory"),
                         {QStringLiteral("UsagePercentage")})
                 .first()
                 .first());
    QCOMPARE(rows.first().mid(2, 2),
             elementRows(document, QStringLiteral("document/Monitor_OS_Objects/os_objects"),
                         {QStringLiteral("Processes"), QStringLiteral("Threads")})
                 .first());
    QCOMPARE(rows.first().at(4), total("document/Monitor_Disk/disk", "PercentUsageSpace"));
    const QList<QStringList> batteries =
        elementRows(document, QStringLiteral("document/Batteries/Battery"),
                    {QStringLiteral("EstimatedChargeRemaining")});
    QCOMPARE(rows.first().at(5),
             batteries.isEmpty() ? QStringLiteral("0") : batteries.first().first());
}

QTEST_GUILESS_MAIN(TestProbeIngestion)
#include "tst_probeingestion.moc"
