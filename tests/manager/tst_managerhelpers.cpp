#include "command.h"
#include "jobcodes.h"
#include "noticelistener.h"
#include "toolarguments.h"

#include <QSignalSpy>
#include <QUdpSocket>
#include <QtTest>

// The tool's pure rules (names, dates, arguments) and its notice listener over loopback.
class TestManagerHelpers : public QObject
{
    Q_OBJECT
private slots:
    void scheduleDates_data();
    void scheduleDates();
    void names_data();
    void names();
    void arguments_data();
    void arguments();
    void listenerPrintsNoticesAndDropsForeignDatagrams();
};

void TestManagerHelpers::scheduleDates_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected"); // empty: invalid

    QTest::addRow("now") << QStringLiteral("now") << QStringLiteral("2026-05-06T10:00:00");
    QTest::addRow("empty is now") << QString() << QStringLiteral("2026-05-06T10:00:00");
    QTest::addRow("seconds ahead")
        << QStringLiteral("+90s") << QStringLiteral("2026-05-06T10:01:30");
    QTest::addRow("minutes ahead")
        << QStringLiteral("+5m") << QStringLiteral("2026-05-06T10:05:00");
    QTest::addRow("hours back") << QStringLiteral("-2h") << QStringLiteral("2026-05-06T08:00:00");
    QTest::addRow("day ahead") << QStringLiteral("+1d") << QStringLiteral("2026-05-07T10:00:00");
    QTest::addRow("written form") << QStringLiteral("2026-03-04 05:06:07")
                                  << QStringLiteral("2026-03-04T05:06:07");
    QTest::addRow("read form") << QStringLiteral("2026-03-04T05:06:07")
                               << QStringLiteral("2026-03-04T05:06:07");
    QTest::addRow("no sign") << QStringLiteral("5m") << QString();
    QTest::addRow("unknown unit") << QStringLiteral("+5w") << QString();
    QTest::addRow("no time") << QStringLiteral("2026-03-04") << QString();
    QTest::addRow("no such day") << QStringLiteral("2026-02-30 10:00:00") << QString();
}

void TestManagerHelpers::scheduleDates()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    const QDateTime now(QDate(2026, 5, 6), QTime(10, 0, 0));
    const QDateTime date = JobCodes::scheduleDate(text, now);
    if (expected.isEmpty())
        QVERIFY(!date.isValid());
    else
        QCOMPARE(date.toString(QStringLiteral("yyyy-MM-ddThh:mm:ss")), expected);
}

void TestManagerHelpers::names_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("commandCode");
    QTest::addColumn<QString>("schedule");
    QTest::addColumn<int>("scheduleType");

    QTest::addRow("inventory immediately")
        << QStringLiteral("inventory") << 2 << QStringLiteral("immediately") << 5;
    QTest::addRow("rule removal every N months")
        << QStringLiteral("remove-rule") << 33 << QStringLiteral("months") << 4;
    QTest::addRow("numbers") << QStringLiteral("19") << 19 << QStringLiteral("8") << 8;
    QTest::addRow("out of range") << QStringLiteral("256") << -1 << QStringLiteral("9") << -1;
    QTest::addRow("unknown names")
        << QStringLiteral("Inventory") << -1 << QStringLiteral("daily") << -1;
}

void TestManagerHelpers::names()
{
    QFETCH(QString, command);
    QFETCH(int, commandCode);
    QFETCH(QString, schedule);
    QFETCH(int, scheduleType);
    QCOMPARE(JobCodes::commandCode(command), commandCode);
    QCOMPARE(JobCodes::scheduleType(schedule), scheduleType);
    // Every name reads back as itself.
    if (commandCode >= 0 && JobCodes::isJobCommand(commandCode))
        QCOMPARE(JobCodes::commandCode(JobCodes::commandName(commandCode)), commandCode);
    if (scheduleType >= 0)
        QCOMPARE(JobCodes::scheduleType(JobCodes::scheduleName(scheduleType)), scheduleType);
}

void TestManagerHelpers::arguments_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("date");
    QTest::addColumn<QStringList>("positional");

    QTest::addRow("value that looks like an option")
        << QStringList{QStringLiteral("--date"), QStringLiteral("-2h"), QStringLiteral("pc")}
        << true << QStringLiteral("-2h") << QStringList{QStringLiteral("pc")};
    QTest::addRow("inline value") << QStringList{QStringLiteral("--date=+5m")} << true
                                  << QStringLiteral("+5m") << QStringList();
    QTest::addRow("positional after the end of options")
        << QStringList{QStringLiteral("--"), QStringLiteral("--date")} << true << QString()
        << QStringList{QStringLiteral("--date")};
    QTest::addRow("switch") << QStringList{QStringLiteral("--quiet"), QStringLiteral("1")} << true
                            << QString() << QStringList{QStringLiteral("1")};
    QTest::addRow("missing value")
        << QStringList{QStringLiteral("--date")} << false << QString() << QStringList();
    QTest::addRow("unknown option")
        << QStringList{QStringLiteral("--force")} << false << QString() << QStringList();
    QTest::addRow("switch with a value")
        << QStringList{QStringLiteral("--quiet=1")} << false << QString() << QStringList();
}

void TestManagerHelpers::arguments()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, ok);
    QFETCH(QString, date);
    QFETCH(QStringList, positional);
    ToolArguments parser({QStringLiteral("date")}, {QStringLiteral("quiet")});
    QCOMPARE(parser.parse(arguments), ok);
    if (!ok) {
        QVERIFY(!parser.errorText().isEmpty());
        return;
    }
    QCOMPARE(parser.value(QStringLiteral("date")), date);
    QCOMPARE(parser.positional(), positional);
}

void TestManagerHelpers::listenerPrintsNoticesAndDropsForeignDatagrams()
{
    NoticeListener listener;
    QVERIFY(listener.listen(0));
    QSignalSpy notices(&listener, &NoticeListener::noticeReceived);
    QSignalSpy rejected(&listener, &NoticeListener::datagramRejected);
    QUdpSocket sender;
    const quint16 port = quint16(listener.boundPort());

    Command bad;
    initCommand(bad, 0, CommandType::ObserverTick, 0);
    bad.signature = 0xAB;
    sender.writeDatagram(encodeDatagram(bad), QHostAddress::LocalHost, port);
    sender.writeDatagram(QByteArray("hello"), QHostAddress::LocalHost, port);
    // An agent's report as the server forwards it: header kept, payload emptied.
    Command report;
    initCommand(report, 42, CommandType::InventoryResult, 0);
    report.value = ResultCode::Succeeded;
    setCommandText(report, QStringLiteral("1111111111"));
    sender.writeDatagram(encodeDatagram(report), QHostAddress::LocalHost, port);

    QTRY_COMPARE_WITH_TIMEOUT(notices.size(), 1, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(rejected.size(), 2, 10000);
    QCOMPARE(rejected.at(0).at(1).toString(), QStringLiteral("check failed with 29"));
    QCOMPARE(rejected.at(1).at(1).toString(), QStringLiteral("not a Command datagram (5 bytes)"));
    QCOMPARE(NoticeListener::describe(notices.at(0).at(0).value<Command>()),
             QStringLiteral("15 InventoryResult agentId=42 reference=0 value=236 flag=0 "
                            "text=1111111111"));
}

QTEST_GUILESS_MAIN(TestManagerHelpers)
#include "tst_managerhelpers.moc"
