#include "receiver.h"
#include "sender.h"
#include "testagentserver.h"
#include "worker.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>

// The worker's checks over the fixture probes, delivering to a loopback server.
class TestWorker : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void threshold_data();
    void threshold();
    void figuresMeasuredOncePerTick();
    void removedRuleIsNotChecked();
    void processStartsAndStops();
    void processNamesStayWellFormed();
    void softwareList_data();
    void softwareList();
    void textSection_data();
    void textSection();
    void changes();
    void changesFromTheRuleOn();
    void unreadableSectionsReportNothing();

private:
    void writeMachine();
    void writeRegistry(const QStringList &packages, bool unreadable = false);
    void addRule(quint8 type, quint16 value, quint8 flag, const QString &text = QString());
    // Runs one tick; the document it sent, or an empty text when it sent nothing.
    QString tick();
    static QString document(const QString &alarms);

    QTemporaryDir dir;
    QScopedPointer<TestAgentServer> server;
    QScopedPointer<Worker> worker;
    QString cpuText;
    QStringList processes;
    QStringList printers;
    QStringList failingClasses;
};

void TestWorker::initTestCase()
{
    registerCommandMetaType();
    qputenv("INVPROBE_FIXTURE", dir.filePath(QStringLiteral("machine.json")).toLocal8Bit());
    qputenv("INVPROBE_REGISTRY", dir.filePath(QStringLiteral("registry.json")).toLocal8Bit());
}

void TestWorker::init()
{
    server.reset(new TestAgentServer);
    QVERIFY(server->start());
    worker.reset(new Worker(42, QStringLiteral("127.0.0.1"), server->serverPort(), 3600000));
    cpuText = QStringLiteral("60");
    processes = QStringList{QStringLiteral("System"), QStringLiteral("notepad.exe")};
    printers = QStringList{QStringLiteral("Office Laser")};
    failingClasses.clear();
    writeMachine();
    writeRegistry({QStringLiteral("Editor")});
}

void TestWorker::cleanup()
{
    worker.reset();
    QTRY_COMPARE(Sender::liveCount(), 0);
    QTRY_COMPARE(Receiver::liveCount(), 0);
    server.reset();
}

// Processor at cpuText, memory 75 % used (256 of 1024 MiB free), disk 91 % used.
void TestWorker::writeMachine()
{
    QJsonArray processList;
    for (const QString &name : qAsConst(processes))
        processList.append(QJsonObject{{"Name", name}});
    QJsonArray printerList;
    for (const QString &name : qAsConst(printers))
        printerList.append(QJsonObject{{"Name", name}});
    const QJsonObject classes{
        {"Win32_PerfFormattedData_PerfOS_Processor",
         QJsonArray{QJsonObject{{"Name", "0"}, {"PercentProcessorTime", "3"}},
                    QJsonObject{{"Name", "_Total"}, {"PercentProcessorTime", cpuText}}}},
        {"Win32_PhysicalMemory",
         QJsonArray{QJsonObject{{"Capacity", QJsonObject{{"int64", "1073741824"}}}}}},
        {"Win32_PerfFormattedData_PerfOS_Memory",
         QJsonArray{QJsonObject{{"AvailableMBytes", 256}}}},
        {"Win32_PerfFormattedData_PerfDisk_LogicalDisk",
         QJsonArray{
             QJsonObject{{"Name", "_Total"}, {"PercentFreeSpace", 9}, {"FreeMegabytes", 900}}}},
        {"Win32_Process", processList},
        {"Win32_Printer", printerList},
        {"Win32_ComputerSystem", QJsonArray{QJsonObject{{"Name", "WS-1"}}}}};
    QFile f(qEnvironmentVariable("INVPROBE_FIXTURE"));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(QJsonDocument(QJsonObject{{"classes", classes},
                                      {"failQueries", QJsonArray::fromStringList(failingClasses)}})
                .toJson());
}

// An unreadable list makes the software probe fail, as a package database in the middle of
// being rewritten does.
void TestWorker::writeRegistry(const QStringList &packages, bool unreadable)
{
    QJsonArray entries;
    for (const QString &name : packages)
        entries.append(
            QJsonObject{{"key", name}, {"DisplayName", name}, {"DisplayVersion", "1.0"}});
    QFile f(qEnvironmentVariable("INVPROBE_REGISTRY"));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(QJsonDocument(QJsonObject{{"uninstall", entries},
                                      {"run", QJsonObject()},
                                      {"failUninstall", unreadable}})
                .toJson());
}

void TestWorker::addRule(quint8 type, quint16 value, quint8 flag, const QString &text)
{
    Command rule;
    initCommand(rule, 42, type, 0);
    rule.value = value;
    rule.flag = flag;
    setCommandText(rule, text);
    worker->alarmJob(rule);
}

QString TestWorker::tick()
{
    const int before = server->requests.size();
    QMetaObject::invokeMethod(worker.data(), "workerTimeoutSlot", Qt::DirectConnection);
    // The delivery, if any, was created by the tick itself.
    if (Sender::liveCount() == 0)
        return QString();
    if (!QTest::qWaitFor([&] { return server->requests.size() > before; }, 10000))
        return QStringLiteral("<no delivery>");
    const Command request = server->requests.last();
    if (request.type != CommandType::AlarmReport || request.agentId != 42)
        return QStringLiteral("<wrong request>");
    const QByteArray bytes = request.payload.toLatin1();
    if (!QTest::qWaitFor([] { return Sender::liveCount() == 0; }, 10000))
        return QStringLiteral("<delivery not released>");
    return QString::fromUtf8(bytes);
}

QString TestWorker::document(const QString &alarms)
{
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\" ?><document><alarms>") +
           alarms + QStringLiteral("</alarms></document>");
}

void TestWorker::threshold_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("threshold");
    QTest::addColumn<QString>("cpu");
    QTest::addColumn<QString>("alarm");
    QTest::addRow("processor equal is no alarm") << 22 << 80 << "80"
                                                 << "";
    QTest::addRow("processor above") << 22 << 80 << "80.5"
                                     << "<cpuAlarm><value>80.5</value></cpuAlarm>";
    QTest::addRow("six significant digits") << 22 << 10 << "12.3456789"
                                            << "<cpuAlarm><value>12.3457</value></cpuAlarm>";
    QTest::addRow("not a number counts as 0") << 22 << 0 << "n/a"
                                              << "";
    QTest::addRow("memory above") << 24 << 70 << ""
                                  << "<memoryAlarm><value>75</value></memoryAlarm>";
    QTest::addRow("memory equal") << 24 << 75 << ""
                                  << "";
    QTest::addRow("disk above") << 23 << 90 << ""
                                << "<diskAlarm><value>91</value></diskAlarm>";
    QTest::addRow("disk below") << 23 << 95 << ""
                                << "";
}

void TestWorker::threshold()
{
    QFETCH(int, type);
    QFETCH(int, threshold);
    QFETCH(QString, cpu);
    QFETCH(QString, alarm);
    cpuText = cpu;
    writeMachine();
    addRule(quint8(type), 7, quint8(threshold));
    const QString expected = alarm.isEmpty() ? QString() : document(alarm);
    QCOMPARE(tick(), expected);
    // A condition that persists is reported again.
    QCOMPARE(tick(), expected);
}

// Two processor rules measure once; the figures keep their order in the document.
void TestWorker::figuresMeasuredOncePerTick()
{
    addRule(CommandType::DiskRule, 1, 10);
    addRule(CommandType::CpuRule, 2, 90);
    addRule(CommandType::MemoryRule, 3, 10);
    addRule(CommandType::CpuRule, 4, 50);
    QCOMPARE(tick(), document("<cpuAlarm><value>60</value></cpuAlarm>"
                              "<memoryAlarm><value>75</value></memoryAlarm>"
                              "<diskAlarm><value>91</value></diskAlarm>"));
    // The next tick measures afresh.
    cpuText = QStringLiteral("40");
    writeMachine();
    QCOMPARE(tick(), document("<memoryAlarm><value>75</value></memoryAlarm>"
                              "<diskAlarm><value>91</value></diskAlarm>"));
}

void TestWorker::removedRuleIsNotChecked()
{
    addRule(CommandType::CpuRule, 22, 10);
    addRule(CommandType::CpuRule, 23, 95);
    addRule(CommandType::RemoveRule, 22, 0);
    QCOMPARE(worker->rules.size(), 1);
    QCOMPARE(tick(), QString());
    QCOMPARE(server->requests.size(), 0);
}

void TestWorker::processStartsAndStops()
{
    addRule(CommandType::ProcessRule, 5, 0, QStringLiteral("NOTEPAD.EXE"));
    addRule(CommandType::ProcessRule, 6, 0, QStringLiteral("backup.exe"));
    // First sight records the state only.
    QCOMPARE(tick(), QString());
    processes.removeAll(QStringLiteral("notepad.exe"));
    writeMachine();
    QCOMPARE(tick(), document("<stoppedAlarmProcesses><process>NOTEPAD.EXE</process>"
                              "</stoppedAlarmProcesses>"));
    QCOMPARE(tick(), QString());
    // A process list that cannot be read says nothing about what runs.
    processes << QStringLiteral("Notepad.exe") << QStringLiteral("BACKUP.EXE");
    failingClasses = QStringList{QStringLiteral("Win32_Process")};
    writeMachine();
    QCOMPARE(tick(), QString());
    failingClasses.clear();
    writeMachine();
    QCOMPARE(tick(), document("<startedAlarmProcesses><process>NOTEPAD.EXE</process>"
                              "<process>backup.exe</process></startedAlarmProcesses>"));
    QCOMPARE(tick(), QString());
    QCOMPARE(server->requests.size(), 2);
}

// Process names come from the probe library in their escaped form; the document keeps
// that form as it is and stays readable.
void TestWorker::processNamesStayWellFormed()
{
    processes << QStringLiteral("R&D<1>.exe");
    writeMachine();
    addRule(CommandType::ProcessRule, 5, 0, QStringLiteral("r&amp;d&lt;1&gt;.exe"));
    QCOMPARE(tick(), QString());
    processes.removeAll(QStringLiteral("R&D<1>.exe"));
    writeMachine();
    const QString doc = tick();
    QCOMPARE(doc, document("<stoppedAlarmProcesses><process>r&amp;d&lt;1&gt;.exe</process>"
                           "</stoppedAlarmProcesses>"));
    QXmlStreamReader reader(doc);
    while (!reader.atEnd())
        reader.readNext();
    QVERIFY2(!reader.hasError(), qPrintable(reader.errorString()));
}

void TestWorker::softwareList_data()
{
    QTest::addColumn<bool>("taken");
    QTest::addColumn<QStringList>("previous");
    QTest::addColumn<bool>("queryOk");
    QTest::addColumn<QStringList>("current");
    QTest::addColumn<bool>("nextTaken");
    QTest::addColumn<QStringList>("next");
    QTest::addColumn<QStringList>("added");
    QTest::addColumn<QStringList>("removed");
    const QStringList none;
    const QStringList a{"A--1"};
    const QStringList ab{"A--1", "B--2"};
    QTest::addRow("first read is the starting point")
        << false << none << true << ab << true << ab << none << none;
    QTest::addRow("an empty first read is a starting point too")
        << false << none << true << none << true << none << none << none;
    QTest::addRow("failed query before the starting point")
        << false << none << false << none << false << none << none << none;
    QTest::addRow("failed query keeps the snapshot")
        << true << ab << false << none << true << ab << none << none;
    QTest::addRow("failed query with a half-read list")
        << true << ab << false << a << true << ab << none << none;
    QTest::addRow("last program removed") << true << a << true << none << true << none << none << a;
    QTest::addRow("installed onto an empty list")
        << true << none << true << a << true << a << a << none;
    QTest::addRow("unchanged") << true << ab << true << ab << true << ab << none << none;
    QTest::addRow("one in, one out") << true << ab << true << QStringList{"B--2", "C--3"} << true
                                     << QStringList{"B--2", "C--3"} << QStringList{"C--3"} << a;
    QTest::addRow("order only") << true << ab << true << QStringList{"B--2", "A--1"} << true
                                << QStringList{"B--2", "A--1"} << none << none;
    QTest::addRow("letter case only")
        << true << a << true << QStringList{"a--1"} << true << QStringList{"a--1"} << none << none;
}

void TestWorker::softwareList()
{
    QFETCH(bool, taken);
    QFETCH(QStringList, previous);
    QFETCH(bool, queryOk);
    QFETCH(QStringList, current);
    const ListCheck check = checkList({taken, previous}, queryOk, current);
    QTEST(check.next.taken, "nextTaken");
    QTEST(check.next.value, "next");
    QTEST(check.added, "added");
    QTEST(check.removed, "removed");
}

void TestWorker::textSection_data()
{
    QTest::addColumn<bool>("taken");
    QTest::addColumn<QString>("previous");
    QTest::addColumn<bool>("queryOk");
    QTest::addColumn<QString>("current");
    QTest::addColumn<bool>("nextTaken");
    QTest::addColumn<QString>("next");
    QTest::addColumn<bool>("changed");
    const QString one = QStringLiteral("<Printers><Name>Office</Name></Printers>");
    const QString two = QStringLiteral("<Printers><Name>Label</Name></Printers>");
    const QString failure = QStringLiteral("Query for printers failed.");
    QTest::addRow("first read is the starting point")
        << false << "" << true << one << true << one << false;
    QTest::addRow("failure text is no starting point")
        << false << "" << false << failure << false << "" << false;
    QTest::addRow("unchanged") << true << one << true << one << true << one << false;
    QTest::addRow("changed") << true << one << true << two << true << two << true;
    QTest::addRow("emptied") << true << one << true << "" << true << "" << true;
    QTest::addRow("failure text is no change")
        << true << one << false << failure << true << one << false;
}

void TestWorker::textSection()
{
    QFETCH(bool, taken);
    QFETCH(QString, previous);
    QFETCH(bool, queryOk);
    QFETCH(QString, current);
    const TextCheck check = checkText({taken, previous}, queryOk, current);
    QTEST(check.next.taken, "nextTaken");
    QTEST(check.next.value, "next");
    QTEST(check.changed, "changed");
}

void TestWorker::changes()
{
    addRule(CommandType::ChangesRule, 8, 0);
    addRule(CommandType::ChangesRule, 9, 0);
    // The rule's arrival recorded what is there.
    QCOMPARE(tick(), QString());
    writeRegistry({QStringLiteral("Editor"), QStringLiteral("Viewer")});
    QCOMPARE(tick(), document("<newSoftwareAlarm><software>Viewer--1.0</software>"
                              "</newSoftwareAlarm>"));
    QCOMPARE(tick(), QString());
    writeRegistry({QStringLiteral("Viewer")});
    printers << QStringLiteral("Label Printer");
    writeMachine();
    QCOMPARE(tick(), document("<hardwareChangesAlarm><value>1</value></hardwareChangesAlarm>"
                              "<deletedSoftwareAlarm><software>Editor--1.0</software>"
                              "</deletedSoftwareAlarm>"));
    QCOMPARE(tick(), QString());
    // Down to an empty list and up again: both are changes.
    writeRegistry({});
    QCOMPARE(tick(), document("<deletedSoftwareAlarm><software>Viewer--1.0</software>"
                              "</deletedSoftwareAlarm>"));
    writeRegistry({QStringLiteral("Player")});
    QCOMPARE(tick(), document("<newSoftwareAlarm><software>Player--1.0</software>"
                              "</newSoftwareAlarm>"));
}

// What changes between the rule's arrival and the first tick is reported; a rule that comes
// back after its removal starts from the machine as it is then.
void TestWorker::changesFromTheRuleOn()
{
    addRule(CommandType::ChangesRule, 26, 0);
    writeRegistry({});
    QCOMPARE(tick(), document("<deletedSoftwareAlarm><software>Editor--1.0</software>"
                              "</deletedSoftwareAlarm>"));
    addRule(CommandType::RemoveRule, 26, 0);
    writeRegistry({QStringLiteral("Viewer")});
    QCOMPARE(tick(), QString());
    addRule(CommandType::ChangesRule, 26, 0);
    QCOMPARE(tick(), QString());
    // A second rule does not move the starting point of the first.
    writeRegistry({QStringLiteral("Viewer"), QStringLiteral("Player")});
    addRule(CommandType::ChangesRule, 27, 0);
    QCOMPARE(tick(), document("<newSoftwareAlarm><software>Player--1.0</software>"
                              "</newSoftwareAlarm>"));
}

// A section that cannot be read is left out of the check; its snapshot waits for a reading
// that works.
void TestWorker::unreadableSectionsReportNothing()
{
    writeRegistry({}, true);
    failingClasses = QStringList{QStringLiteral("Win32_Printer")};
    writeMachine();
    addRule(CommandType::ChangesRule, 8, 0);
    QCOMPARE(tick(), QString());
    // The first readings that work are the starting point.
    writeRegistry({QStringLiteral("Editor")});
    failingClasses.clear();
    writeMachine();
    QCOMPARE(tick(), QString());

    writeRegistry({}, true);
    failingClasses = QStringList{QStringLiteral("Win32_Printer")};
    writeMachine();
    QCOMPARE(tick(), QString());
    QCOMPARE(tick(), QString());
    // Readable again and as before: still nothing; then a real change.
    writeRegistry({QStringLiteral("Editor")});
    failingClasses.clear();
    writeMachine();
    QCOMPARE(tick(), QString());
    writeRegistry({QStringLiteral("Editor"), QStringLiteral("Viewer")});
    printers << QStringLiteral("Label Printer");
    writeMachine();
    QCOMPARE(tick(), document("<hardwareChangesAlarm><value>1</value></hardwareChangesAlarm>"
                              "<newSoftwareAlarm><software>Viewer--1.0</software>"
                              "</newSoftwareAlarm>"));
}

QTEST_GUILESS_MAIN(TestWorker)
#include "tst_worker.moc"
