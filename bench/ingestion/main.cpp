// Speed of storing a full inventory document into PostgreSQL, beside inserting the same rows
// directly, in one run against a throwaway cluster. Not part of ctest; see README.md.
#include "databaseconnection.h"
#include "inventorydocument.h"
#include "inventorystore.h"
#include "inventorytemplates.h"
#include "parseinventoryxml.h"
#include "pgcluster.h"
#include "sqltext.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QTextStream>

namespace
{

constexpr int kDefaultDocuments = 20;
constexpr int kMachines = 5;

// Peak resident memory of this process so far, in KiB.
qint64 peakMemoryKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

struct TableRows {
    const char *table;
    const char *columns;
    InventoryTemplates::Section section;
};

// The tables a full document replaces, with the columns their rows fill.
const TableRows kTables[] = {
    {"memories", "memory_id, form, detail, memory_type, size, speed", InventoryTemplates::Memory},
    {"drives", "name, description, filesystem, size, volumeSerialNumber",
     InventoryTemplates::Drives},
    {"cpus",
     "cpu_id, name, manufacturer, description, processorid, architecture, numberofcores, "
     "maxclockspeed",
     InventoryTemplates::Processors},
    {"video_controllers",
     "name,adapterram,acceleratorcapabilities,adapterdactype,driverversion,installeddrivers,"
     "videomode,videoarch,videomemtype",
     InventoryTemplates::Video},
    {"network_adapters",
     "name,adaptertype,manufacturer,macaddress,dhcpenabled,ipaddress,ipsubnet,defaultipgateway,"
     "dhcpserver",
     InventoryTemplates::NetworkAdapters},
    {"softwares", "displayName,publisher,version,installLocation,unistallString",
     InventoryTemplates::RegistrySoftware},
    {"processes", "pid, name, path", InventoryTemplates::Processes},
    {"environment_variables", "name, systemvariable, variablevalue",
     InventoryTemplates::Environment},
    {"os_services", "display_name,name,process_id,path_name,state,start_mode,error_control",
     InventoryTemplates::Services},
    {"printers", "caption,name,status,sharename,portname,network,shared",
     InventoryTemplates::Printers},
    {"start_up_applications", "name,description,command,username,location",
     InventoryTemplates::StartUpApplications},
    {"updates", "name,status,hotfixid,caption,InstalledOn,ServicePackInEffect",
     InventoryTemplates::Updates},
    {"os_users", "caption,domain,fullname,name", InventoryTemplates::Users},
    {"shares", "name,description,caption,path", InventoryTemplates::Shares},
};

// The same rows, replaced with one plain statement per row in one transaction: what the
// database alone costs, without reading the document.
int insertDirectly(QSqlDatabase db, int machineId, const QVector<ValueRows> &sections,
                   const QString &timestamp)
{
    int statements = 0;
    db.transaction();
    for (const TableRows &table : kTables) {
        SqlText(QStringLiteral("DELETE FROM %1 WHERE mid=%2"))
            .fragment(QLatin1String(table.table))
            .number(qint64(machineId))
            .exec(db);
        ++statements;
        for (const QStringList &row : sections.at(table.section)) {
            QStringList literals;
            for (const QString &value : row)
                literals << SqlText::literal(value);
            SqlText(
                QStringLiteral(
                    "INSERT INTO %1 (%2, mid, created_at, updated_at) VALUES (%3, %4, '%5', '%6')"))
                .fragment(QLatin1String(table.table))
                .fragment(QLatin1String(table.columns))
                .fragment(literals.join(QStringLiteral(", ")))
                .number(qint64(machineId))
                .text(timestamp)
                .text(timestamp)
                .exec(db);
            ++statements;
        }
    }
    db.commit();
    return statements;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Inventory ingestion into PostgreSQL"));
    parser.addHelpOption();
    const QCommandLineOption documentsOption(
        QStringLiteral("documents"), QStringLiteral("Documents stored per measurement."),
        QStringLiteral("n"), QString::number(kDefaultDocuments));
    parser.addOption(documentsOption);
    const QCommandLineOption packagesOption(QStringLiteral("packages"),
                                            QStringLiteral("Installed packages in the document."),
                                            QStringLiteral("n"), QStringLiteral("2000"));
    parser.addOption(packagesOption);
    parser.process(app);
    const int documents = qMax(1, parser.value(documentsOption).toInt());
    QTextStream out(stdout);

    PgCluster pg;
    if (!pg.start()) {
        out << "PostgreSQL cluster did not start: " << pg.errorText() << '\n';
        return 1;
    }
    DatabaseConnection connection;
    connection.setPort(pg.port());
    if (!connection.openDefault(QStringLiteral("QPSQL"), pg.host(), pg.userName(), pg.password(),
                                pg.databaseName())) {
        out << "no connection: " << connection.lastErrorText() << '\n';
        return 1;
    }
    QSqlDatabase db = QSqlDatabase::database();

    InventoryDocument::Counts counts;
    counts.packages = qMax(0, parser.value(packagesOption).toInt());
    const QByteArray document = InventoryDocument::build(counts);
    const QString payload = QString::fromLatin1(document.constData(), document.size());
    const QVector<ValueRows> sections =
        ParseInventoryXml::evaluateValues(document, InventoryTemplates::sectionTemplates());
    int rows = 0;
    for (const ValueRows &section : sections)
        rows += section.size();
    out << "document: " << document.size() << " bytes, " << rows << " rows\n";
    const qint64 memoryBefore = peakMemoryKiB();

    // Warm the caches of both sides once.
    ParseInventoryXml::storeInventory(1, payload);

    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < documents; ++i)
        ParseInventoryXml::evaluateValues(document, InventoryTemplates::sectionTemplates());
    const double readMs = timer.nsecsElapsed() / 1e6 / documents;

    timer.restart();
    const QStringList templates = InventoryTemplates::sectionTemplates();
    for (int i = 0; i < documents; ++i) {
        for (const QString &queryTemplate : templates)
            ParseInventoryXml::evaluateTemplate(document, queryTemplate);
    }
    const double perTemplateMs = timer.nsecsElapsed() / 1e6 / documents;

    timer.restart();
    for (int i = 0; i < documents; ++i)
        ParseInventoryXml::storeInventory(1 + i % kMachines, payload);
    const double storeMs = timer.nsecsElapsed() / 1e6 / documents;
    const qint64 memoryPeak = peakMemoryKiB();

    timer.restart();
    for (int i = 0; i < documents; ++i)
        InventoryStore::store(db, 50 + i % kMachines, sections,
                              QStringLiteral("2026-01-01 00:00:00"));
    const double rowsMs = timer.nsecsElapsed() / 1e6 / documents;

    int statements = 0;
    timer.restart();
    for (int i = 0; i < documents; ++i)
        statements = insertDirectly(db, 100 + i % kMachines, sections,
                                    QStringLiteral("2026-01-01 00:00:00"));
    const double directMs = timer.nsecsElapsed() / 1e6 / documents;

    QSqlQuery check(db);
    check.exec(
        QStringLiteral("SELECT COUNT(*) FROM softwares WHERE mid BETWEEN 1 AND %1").arg(kMachines));
    check.next();

    out << "documents per measurement: " << documents << '\n';
    out << QStringLiteral("reading the document (one pass):   %1 ms per document\n")
               .arg(readMs, 0, 'f', 1);
    out << QStringLiteral("reading it template by template:   %1 ms per document\n")
               .arg(perTemplateMs, 0, 'f', 1);
    out << QStringLiteral("storeInventory (read + store):     %1 ms per document, %2 documents/s\n")
               .arg(storeMs, 0, 'f', 1)
               .arg(1000.0 / storeMs, 0, 'f', 2);
    out << QStringLiteral("storing the rows already read:     %1 ms per document\n")
               .arg(rowsMs, 0, 'f', 1);
    out << QStringLiteral("same rows inserted directly:       %1 ms per document, %2 documents/s "
                          "(%3 statements)\n")
               .arg(directMs, 0, 'f', 1)
               .arg(1000.0 / directMs, 0, 'f', 2)
               .arg(statements);
    out << QStringLiteral("peak memory: %1 MiB (%2 MiB before the measurements)\n")
               .arg(memoryPeak / 1024.0, 0, 'f', 1)
               .arg(memoryBefore / 1024.0, 0, 'f', 1);
    out << "software rows of the stored machines: " << check.value(0).toInt() << '\n';
    check = QSqlQuery();
    db = QSqlDatabase();
    connection.closeAndRemove();
    return 0;
}
