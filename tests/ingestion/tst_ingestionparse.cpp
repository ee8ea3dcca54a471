#include "documentguard.h"
#include "inventorytemplates.h"
#include "inventoryvalues.h"
#include "parseinventoryxml.h"

#include <QElapsedTimer>
#include <QFile>
#include <QtTest>

// Reading documents: the guard in front of the query engine, the templates, and the values
// derived from rows. No database.
class TestIngestionParse : public QObject
{
    Q_OBJECT
private slots:
    void guard_data();
    void guard();
    void transportBytes();
    void rowTexts_data();
    void rowTexts();
    void computerName_data();
    void computerName();
    void valuesMatchRowTexts();
    void failingTemplateEmptiesOnlyItsSection();
    void sixDigitForm_data();
    void sixDigitForm();
    void totals();
    void monitoringValues_data();
    void monitoringValues();
    void driveAvailability();
};

namespace
{

QByteArray fixture(const char *name)
{
    QFile file(QStringLiteral(INGESTION_FIXTURE_DIR "/") + QLatin1String(name));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("missing fixture %s", name);
    return file.readAll();
}

QByteArray wrap(const QByteArray &body)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\" ?><document>" + body + "</document>";
}

QByteArray nested(int depth)
{
    QByteArray open;
    QByteArray close;
    for (int i = 0; i < depth; ++i) {
        open += "<n>";
        close += "</n>";
    }
    return wrap(open + close);
}

ValueRows rowsOf(std::initializer_list<QStringList> rows)
{
    return ValueRows(rows);
}

} // namespace

void TestIngestionParse::guard_data()
{
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<int>("verdict");
    const QByteArray laughs =
        "<?xml version=\"1.0\"?><!DOCTYPE document [<!ENTITY a \"aaaaaaaaaa\">"
        "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\"><!ENTITY c "
        "\"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">"
        "<!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\"><!ENTITY e "
        "\"&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;\">]>"
        "<document><users><user><Caption>&e;&e;&e;&e;</Caption></user></users></document>";
    QTest::addRow("inventory") << fixture("hardware_printers_network_disk.xml")
                               << int(DocumentGuard::Accepted);
    QTest::addRow("empty") << QByteArray() << int(DocumentGuard::Empty);
    QTest::addRow("blanks") << QByteArray(" \r\n") << int(DocumentGuard::Empty);
    QTest::addRow("not xml") << QByteArray("Process Error") << int(DocumentGuard::Malformed);
    QTest::addRow("truncated") << wrap("<users><user><Caption>a</Caption>").left(60)
                               << int(DocumentGuard::Malformed);
    QTest::addRow("undeclared entity") << wrap("<users><user><Caption>&e;</Caption></user></users>")
                                       << int(DocumentGuard::Malformed);
    QTest::addRow("entity expansion") << laughs << int(DocumentGuard::Rejected);
    QTest::addRow("external entity")
        << QByteArray("<?xml version=\"1.0\"?><!DOCTYPE document [<!ENTITY x SYSTEM "
                      "\"file:///etc/passwd\">]>"
                      "<document><users><user><Caption>&x;</Caption></user></users></document>")
        << int(DocumentGuard::Rejected);
    QTest::addRow("nesting at the limit")
        << nested(kMaxDocumentDepth - 1) << int(DocumentGuard::Accepted);
    QTest::addRow("deep nesting") << nested(100000) << int(DocumentGuard::Rejected);
    QTest::addRow("NUL byte") << wrap(QByteArray("<users>\0</users>", 16))
                              << int(DocumentGuard::Rejected);
    QTest::addRow("too many elements")
        << wrap(QByteArray("<a/>").repeated(kMaxDocumentElements)) << int(DocumentGuard::Rejected);
    QTest::addRow("over the size limit")
        << wrap("<x>" + QByteArray(kMaxDocumentBytes, 'a') + "</x>")
        << int(DocumentGuard::Rejected);
}

void TestIngestionParse::guard()
{
    QFETCH(QByteArray, document);
    QFETCH(int, verdict);
    QElapsedTimer timer;
    timer.start();
    const DocumentGuard::Result result = DocumentGuard::check(document);
    QCOMPARE(int(result.verdict), verdict);
    QVERIFY(timer.elapsed() < 10000);
    if (verdict == DocumentGuard::Rejected)
        QVERIFY(!result.reason.isEmpty());
    // The public template evaluation refuses the same documents.
    if (verdict != DocumentGuard::Accepted)
        QVERIFY(ParseInventoryXml::evaluateTemplate(
                    document, InventoryTemplates::sectionTemplate(InventoryTemplates::Users))
                    .isEmpty());
}

void TestIngestionParse::transportBytes()
{
    const QByteArray utf8 = QByteArrayLiteral("J\xc3\xbcrgen \xe2\x82\xac");
    // Off the wire: one character per byte.
    QCOMPARE(DocumentGuard::transportBytes(QString::fromLatin1(utf8.constData(), utf8.size())),
             utf8);
    // Text that cannot have come off the wire is taken as text.
    QCOMPARE(DocumentGuard::transportBytes(QString::fromUtf8(utf8)), utf8);
}

void TestIngestionParse::rowTexts_data()
{
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<int>("section");
    QTest::addColumn<QStringList>("rows");
    const QByteArray lists = fixture("software_and_lists.xml");
    QTest::addRow("drives")
        << fixture("hardware_printers_network_disk.xml") << int(InventoryTemplates::Drives)
        << QStringList{QStringLiteral("'C:','Local Fixed Disk','ext4','465.76','A1B2C3D4'"),
                       QStringLiteral("'D:','Local Fixed Disk','xfs','931.51','E5F6A7B8'")};
    // The engine alone would hand back constructed rows in an order of its own.
    QTest::addRow("document order")
        << fixture("hardware_printers_network_disk.xml") << int(InventoryTemplates::DiskLoad)
        << QStringList{QStringLiteral("'C:','120.50','26','74'"),
                       QStringLiteral("'D:','800.25','86','14'"),
                       QStringLiteral("'_Total','920.75','66','34'")};
    QTest::addRow("escaped forms kept")
        << lists << int(InventoryTemplates::RegistrySoftware)
        << QStringList{QStringLiteral(
                           "'O'Reilly Reader','AT&amp;T &lt;Lab&gt; "
                           "100\"%\"','2.1','/opt/o'reilly','/usr/bin/apt-get remove -y oreilly'"),
                       QStringLiteral("'x'); DELETE FROM softwares; --','J\u00fcrgen M\u00fcller "
                                      "\u20ac','1.0','',''")};
    QTest::addRow("blank after comma")
        << lists << int(InventoryTemplates::Services)
        << QStringList{QStringLiteral("'Print Spooler','cups','812','/usr/sbin/cupsd -l, --config "
                                      "/etc/cups', 'Running','Auto','Normal'")};
    QTest::addRow("absent section") << lists << int(InventoryTemplates::Printers) << QStringList();
    QTest::addRow("empty container")
        << fixture("empty_printers.xml") << int(InventoryTemplates::Printers) << QStringList();
    QTest::addRow("repeated child fails")
        << wrap("<Monitor_Network><adapter><Name>eth0</Name><Utilization>1</"
                "Utilization><Utilization>2</Utilization></adapter></Monitor_Network>")
        << int(InventoryTemplates::NetworkLoad) << QStringList();
}

void TestIngestionParse::rowTexts()
{
    QFETCH(QByteArray, document);
    QFETCH(int, section);
    QFETCH(QStringList, rows);
    QCOMPARE(
        ParseInventoryXml::evaluateTemplate(
            document, InventoryTemplates::sectionTemplate(InventoryTemplates::Section(section))),
        rows);
}

void TestIngestionParse::computerName_data()
{
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<QString>("text");
    QTest::addRow("named") << fixture("hardware_printers_network_disk.xml")
                           << QStringLiteral("'PC-042'");
    QTest::addRow("no pcName") << wrap("<hardware><operatingsystem/></hardware>")
                               << QStringLiteral("''");
    QTest::addRow("no hardware") << fixture("monitoring_only.xml") << QStringLiteral("''");
}

void TestIngestionParse::computerName()
{
    QFETCH(QByteArray, document);
    QFETCH(QString, text);
    QCOMPARE(ParseInventoryXml::computerNameText(document), text);
}

void TestIngestionParse::valuesMatchRowTexts()
{
    // The values read in one pass are exactly the row texts with the quoting taken off;
    // apostrophes and commas inside values stay where they belong.
    for (const char *name :
         {"hardware_printers_network_disk.xml", "monitoring_only.xml", "software_and_lists.xml"}) {
        const QByteArray document = fixture(name);
        const QStringList templates = InventoryTemplates::sectionTemplates();
        const QVector<ValueRows> sections = ParseInventoryXml::evaluateValues(document, templates);
        QCOMPARE(sections.size(), templates.size());
        for (int s = 0; s < templates.size(); ++s) {
            const QStringList texts =
                ParseInventoryXml::evaluateTemplate(document, templates.at(s));
            QCOMPARE(sections.at(s).size(), texts.size());
            for (int r = 0; r < texts.size(); ++r) {
                QStringList quoted;
                for (const QString &value : sections.at(s).at(r))
                    quoted << QLatin1Char('\'') + value + QLatin1Char('\'');
                QString text = texts.at(r);
                text.replace(QLatin1String("', '"), QLatin1String("','"));
                QCOMPARE(quoted.join(QLatin1Char(',')), text);
            }
        }
    }
    const QVector<ValueRows> lists = ParseInventoryXml::evaluateValues(
        fixture("software_and_lists.xml"), InventoryTemplates::sectionTemplates());
    QCOMPARE(lists.at(InventoryTemplates::Users).first().at(2),
             QStringLiteral("Se\u00e1n O'Brien"));
    QCOMPARE(lists.at(InventoryTemplates::Services).first().at(3),
             QStringLiteral("/usr/sbin/cupsd -l, --config /etc/cups"));
    QCOMPARE(lists.at(InventoryTemplates::RegistrySoftware).at(1).at(3), QString());
}

void TestIngestionParse::failingTemplateEmptiesOnlyItsSection()
{
    // Two counter groups in one adapter and a repeated CPU usage: those two sections fail,
    // every other section of the document is read as usual.
    QByteArray document = fixture("software_and_lists.xml");
    document.replace(
        "</document>",
        "<Monitor_Network><adapter><Name>eth0</Name><Utilization>1</Utilization><Utilization>2</"
        "Utilization></adapter></Monitor_Network>"
        "<Monitor_CPU><cpu><Name>_Total</Name><Usage>12</Usage><Usage>13</Usage></cpu></"
        "Monitor_CPU>"
        "<Monitor_Memory><memory><AvailableMBytes>100</AvailableMBytes><UsagePercentage>5</"
        "UsagePercentage></memory></Monitor_Memory>"
        "</document>");
    const QStringList templates = InventoryTemplates::sectionTemplates();
    const QVector<ValueRows> sections = ParseInventoryXml::evaluateValues(document, templates);
    QCOMPARE(sections.size(), int(InventoryTemplates::SectionCount));
    for (int s = 0; s < templates.size(); ++s) {
        const int rows = sections.at(s).size();
        if (s == InventoryTemplates::NetworkLoad || s == InventoryTemplates::CpuLoad)
            QCOMPARE(rows, 0);
        else
            QCOMPARE(rows, ParseInventoryXml::evaluateTemplate(document, templates.at(s)).size());
    }
    QCOMPARE(sections.at(InventoryTemplates::MemoryLoad),
             rowsOf({{QStringLiteral("100"), QStringLiteral("5")}}));
    QCOMPARE(sections.at(InventoryTemplates::RegistrySoftware).size(), 2);
    QCOMPARE(sections.at(InventoryTemplates::Shares).size(), 1);
}

void TestIngestionParse::sixDigitForm_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");
    QTest::addRow("whole") << 8192.0 << QStringLiteral("8192");
    QTest::addRow("two decimals") << 1397.27 << QStringLiteral("1397.27");
    QTest::addRow("six digits") << 43.21449 << QStringLiteral("43.2145");
    QTest::addRow("hundred") << 100.0 << QStringLiteral("100");
    QTest::addRow("exponent") << 1048576.0 << QStringLiteral("1.04858e+06");
    QTest::addRow("exponent round") << 1500000.0 << QStringLiteral("1.5e+06");
    QTest::addRow("zero") << 0.0 << QStringLiteral("0");
}

void TestIngestionParse::sixDigitForm()
{
    QFETCH(double, value);
    QFETCH(QString, text);
    QCOMPARE(InventoryValues::sixDigitForm(value), text);
}

void TestIngestionParse::totals()
{
    const auto bank = [](const char *size) {
        return QStringList{
            QStringLiteral("DIMM"), QString(), QString(), QString(), QLatin1String(size),
            QStringLiteral("2400")};
    };
    const auto drive = [](const char *size) {
        return QStringList{QStringLiteral("C:"), QString(), QString(), QLatin1String(size),
                           QString()};
    };
    const ValueRows cpus = rowsOf({{QStringLiteral("CPU0")}, {QStringLiteral("CPU1")}});
    InventoryValues::Totals t = InventoryValues::totals(rowsOf({bank("4096"), bank("4096")}), cpus,
                                                        rowsOf({drive("465.76"), drive("931.51")}));
    QCOMPARE(t.memorySize, QStringLiteral("8192"));
    QCOMPARE(t.cpuNumbers, 2);
    QCOMPARE(t.driveSize, QStringLiteral("1397.27"));

    // Text that is no finite number counts 0.
    t = InventoryValues::totals(rowsOf({bank("1048576"), bank("n/a"), bank("inf")}), ValueRows(),
                                rowsOf({drive(""), drive("nan")}));
    QCOMPARE(t.memorySize, QStringLiteral("1.04858e+06"));
    QCOMPARE(t.cpuNumbers, 0);
    QCOMPARE(t.driveSize, QStringLiteral("0"));
}

void TestIngestionParse::monitoringValues_data()
{
    QTest::addColumn<ValueRows>("cpu");
    QTest::addColumn<ValueRows>("disk");
    QTest::addColumn<ValueRows>("network");
    QTest::addColumn<QStringList>("values");
    const auto net = [](const QString &name, const char *utilization) {
        return QStringList{name,
                           QStringLiteral("1"),
                           QStringLiteral("2"),
                           QStringLiteral("3"),
                           QStringLiteral("4"),
                           QStringLiteral("5"),
                           QLatin1String(utilization)};
    };
    const ValueRows disks = rowsOf({{QStringLiteral("C:"), QStringLiteral("10.00"),
                                     QStringLiteral("20"), QStringLiteral("80")},
                                    {QStringLiteral("D:"), QStringLiteral("50.00"),
                                     QStringLiteral("50"), QStringLiteral("50")},
                                    {QStringLiteral("_Total"), QStringLiteral("60.00"),
                                     QStringLiteral("40"), QStringLiteral("60")}});
    const ValueRows cpus = rowsOf({{QStringLiteral("0"), QStringLiteral("90")},
                                   {QStringLiteral("_Total"), QStringLiteral("45")}});
    QTest::addRow("nothing") << ValueRows() << ValueRows() << ValueRows()
                             << QStringList{QStringLiteral("0"), QStringLiteral("0"),
                                            QStringLiteral("0"), QStringLiteral("0"),
                                            QStringLiteral("0"), QStringLiteral("0"),
                                            QStringLiteral("0")};
    QTest::addRow("totals rows") << cpus << disks << ValueRows()
                                 << QStringList{QStringLiteral("45"), QStringLiteral("0"),
                                                QStringLiteral("0"),  QStringLiteral("0"),
                                                QStringLiteral("60"), QStringLiteral("0"),
                                                QStringLiteral("0")};
    QTest::addRow("no total rows")
        << rowsOf({{QStringLiteral("0"), QStringLiteral("90")}}) << disks.mid(0, 2) << ValueRows()
        << QStringList{QStringLiteral("0"), QStringLiteral("0"), QStringLiteral("0"),
                       QStringLiteral("0"), QStringLiteral("0"), QStringLiteral("0"),
                       QStringLiteral("0")};
    QTest::addRow("first busy adapter")
        << ValueRows() << ValueRows()
        << rowsOf({net(QStringLiteral("lo"), "0"), net(QStringLiteral("eth0"), "3.5"),
                   net(QStringLiteral("eth1"), "7")})
        << QStringList{QStringLiteral("0"), QStringLiteral("0"), QStringLiteral("0"),
                       QStringLiteral("0"), QStringLiteral("0"), QStringLiteral("3.5"),
                       QStringLiteral("0")};
    // A comma inside a name does not shift the value read.
    QTest::addRow("comma in adapter name")
        << ValueRows() << ValueRows()
        << rowsOf({net(QStringLiteral("Intel(R) Ethernet, rev 2"), "12.5")})
        << QStringList{QStringLiteral("0"), QStringLiteral("0"), QStringLiteral("0"),
                       QStringLiteral("0"), QStringLiteral("0"), QStringLiteral("12.5"),
                       QStringLiteral("0")};
}

void TestIngestionParse::monitoringValues()
{
    QFETCH(ValueRows, cpu);
    QFETCH(ValueRows, disk);
    QFETCH(ValueRows, network);
    QFETCH(QStringList, values);
    QCOMPARE(InventoryValues::monitoringValues(cpu, ValueRows(), ValueRows(), disk, network,
                                               ValueRows()),
             values);
    // Disk load alone writes no monitoring row.
    QCOMPARE(InventoryValues::monitoringDue(cpu, ValueRows(), ValueRows(), network, ValueRows()),
             !cpu.isEmpty() || !network.isEmpty());
}

void TestIngestionParse::driveAvailability()
{
    const ValueRows disks = rowsOf({{QStringLiteral("C:"), QStringLiteral("10.00"),
                                     QStringLiteral("20"), QStringLiteral("80")},
                                    {QStringLiteral("_Total"), QStringLiteral("60.00"),
                                     QStringLiteral("40"), QStringLiteral("60")},
                                    {QStringLiteral("D:"), QStringLiteral("50.00"),
                                     QStringLiteral("50"), QStringLiteral("50")}});
    const QVector<InventoryValues::FreeSpace> drives = InventoryValues::driveAvailability(disks);
    QCOMPARE(drives.size(), 2);
    QCOMPARE(drives.at(0).name, QStringLiteral("C:"));
    QCOMPARE(drives.at(0).freeSpace, QStringLiteral("10.00"));
    QCOMPARE(drives.at(1).name, QStringLiteral("D:"));
    QCOMPARE(drives.at(1).freeSpace, QStringLiteral("50.00"));
}

QTEST_GUILESS_MAIN(TestIngestionParse)
#include "tst_ingestionparse.moc"
