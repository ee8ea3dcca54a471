#include "schedulerule.h"
#include "subnetaddresses.h"

#include <QtTest>

Q_DECLARE_METATYPE(DueDecision)

class TestScheduleRule : public QObject
{
    Q_OBJECT
private slots:
    void decideDue_data();
    void decideDue();
    void subnetAddresses_data();
    void subnetAddresses();
};

namespace
{
const QDateTime kNow(QDate(2026, 3, 15), QTime(12, 0, 0));
constexpr int kOnline = kMachineOnline;
constexpr int kOffline = kMachineOffline;
const DueDecision Due = DueDecision::Due;
const DueDecision Wait = DueDecision::Wait;
} // namespace

void TestScheduleRule::decideDue_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QDateTime>("start");
    QTest::addColumn<int>("count");
    QTest::addColumn<QDateTime>("lastReport");
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<int>("status");
    QTest::addColumn<DueDecision>("expected");

    const QDateTime hourAgo = kNow.addSecs(-3600);
    const QDateTime none;
    // Every repeating type and the once-only type around its start date and window.
    const struct {
        int type;
        const char *name;
        qint64 periodSecs;
    } repeating[] = {{0, "minutes", 5 * 60},        {1, "hours", 5 * 3600},
                     {2, "days", 5 * 86400},        {3, "weeks", 5 * 7 * 86400},
                     {7, "once", 0}};
    for (const auto &r : repeating) {
        const QDateTime start = kNow.addSecs(-r.periodSecs * 3 - 3600);
        QTest::addRow("%s: before the start date", r.name)
            << r.type << kNow.addSecs(30) << 5 << none << kNow << kOnline << Wait;
        QTest::addRow("%s: at the start date", r.name)
            << r.type << kNow << 5 << none << kNow << kOnline << Due;
        QTest::addRow("%s: end of the first window", r.name)
            << r.type << kNow.addSecs(-60) << 5 << none << kNow << kOnline << Due;
        QTest::addRow("%s: window, machine offline", r.name)
            << r.type << kNow.addSecs(-10) << 5 << none << kNow << kOffline << Wait;
        if (r.type == 7) {
            QTest::addRow("once: window passed") << 7 << kNow.addSecs(-61) << 5 << none << kNow
                                                 << kOnline << Wait;
            QTest::addRow("once: window passed while offline, now online")
                << 7 << hourAgo << 0 << none << kNow << kOnline << Wait;
            continue;
        }
        QTest::addRow("%s: reported recently", r.name)
            << r.type << start << 5 << kNow.addSecs(-r.periodSecs + 1) << kNow << kOnline
            << Wait;
        QTest::addRow("%s: reported one period ago", r.name)
            << r.type << start << 5 << kNow.addSecs(-r.periodSecs) << kNow << kOnline << Due;
        QTest::addRow("%s: one period ago, offline", r.name)
            << r.type << start << 5 << kNow.addSecs(-r.periodSecs) << kNow << kOffline << Wait;
        QTest::addRow("%s: never reported after its window", r.name)
            << r.type << start << 5 << none << kNow << kOnline << Due;
    }
    QTest::addRow("minutes: N=5, report 3 minutes ago")
        << 0 << hourAgo << 5 << kNow.addSecs(-180) << kNow << kOnline << Wait;
    QTest::addRow("minutes: N=5, report 5 minutes ago")
        << 0 << hourAgo << 5 << kNow.addSecs(-300) << kNow << kOnline << Due;

    // Calendar months: 31 January plus one month is the end of February.
    const QDateTime jan31(QDate(2026, 1, 31), QTime(9, 0));
    const QDateTime longAgo(QDate(2025, 6, 1), QTime(9, 0));
    QTest::addRow("months: 31 Jan + 1 on 27 Feb")
        << 4 << longAgo << 1 << jan31 << QDateTime(QDate(2026, 2, 27), QTime(9, 0)) << kOnline
        << Wait;
    QTest::addRow("months: 31 Jan + 1 on 28 Feb")
        << 4 << longAgo << 1 << jan31 << QDateTime(QDate(2026, 2, 28), QTime(9, 0)) << kOnline
        << Due;
    QTest::addRow("months: 15 Jan + 2 on 14 Mar")
        << 4 << longAgo << 2 << QDateTime(QDate(2026, 1, 15), QTime(9, 0))
        << QDateTime(QDate(2026, 3, 14), QTime(9, 0)) << kOnline << Wait;

    for (int type : {5, 6, 8}) {
        QTest::addRow("type %d online", type)
            << type << QDateTime() << 0 << none << kNow << kOnline << Due;
    }
    QTest::addRow("immediately, offline: closed")
        << 5 << QDateTime() << 0 << none << kNow << kOffline << DueDecision::CloseOffline;
    QTest::addRow("when online, offline: waits")
        << 6 << QDateTime() << 0 << none << kNow << kOffline << Wait;
    QTest::addRow("new machine, offline: dispatched anyway")
        << 8 << QDateTime() << 0 << none << kNow << kOffline << Due;

    // Any other machine status makes every assignment due at once.
    QTest::addRow("other status: once, window long passed")
        << 7 << hourAgo << 0 << none << kNow << 3 << Due;
    QTest::addRow("other status: before the start date")
        << 0 << kNow.addSecs(600) << 5 << none << kNow << 2 << Due;
    QTest::addRow("other status: immediately")
        << 5 << QDateTime() << 0 << none << kNow << -1 << Due;
    QTest::addRow("unknown schedule type waits")
        << 9 << hourAgo << 1 << none << kNow << kOnline << Wait;
}

void TestScheduleRule::decideDue()
{
    QFETCH(int, type);
    QFETCH(QDateTime, start);
    QFETCH(int, count);
    QFETCH(QDateTime, lastReport);
    QFETCH(QDateTime, now);
    QFETCH(int, status);
    QFETCH(DueDecision, expected);
    QCOMPARE(int(::decideDue(type, start, count, lastReport, now, status)), int(expected));
}

void TestScheduleRule::subnetAddresses_data()
{
    QTest::addColumn<QString>("netIp");
    QTest::addColumn<QString>("mask");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("last");
    QTest::addRow("/24") << "192.168.1.0" << "24" << 254 << "192.168.1.1" << "192.168.1.254";
    QTest::addRow("/24 from a host address") << "192.168.1.77" << "24" << 254 << "192.168.1.1"
                                             << "192.168.1.254";
    QTest::addRow("dotted mask") << "10.1.2.0" << "255.255.255.0" << 254 << "10.1.2.1"
                                 << "10.1.2.254";
    QTest::addRow("/23 carries into the third octet")
        << "10.1.2.0" << "23" << 510 << "10.1.2.1" << "10.1.3.254";
    QTest::addRow("/16") << "172.16.0.0" << "16" << 65534 << "172.16.0.1" << "172.16.255.254";
    QTest::addRow("/30") << "10.0.0.8" << "30" << 2 << "10.0.0.9" << "10.0.0.10";
    QTest::addRow("/31 has no host") << "10.0.0.8" << "31" << 0 << "" << "";
    QTest::addRow("/32 is the address") << "10.0.0.8" << "32" << 1 << "10.0.0.8" << "10.0.0.8";
    QTest::addRow("loopback range") << "127.0.0.5" << "8" << 1 << "127.0.0.1" << "127.0.0.1";
    QTest::addRow("loopback, nonsense mask") << "127.0.0.0" << "x" << 1 << "127.0.0.1"
                                             << "127.0.0.1";
    QTest::addRow("unparsable address") << "10.0.0.300" << "24" << 0 << "" << "";
    QTest::addRow("unparsable mask") << "10.0.0.0" << "abc" << 0 << "" << "";
    QTest::addRow("wider than /16 refused") << "10.0.0.0" << "8" << 0 << "" << "";
}

void TestScheduleRule::subnetAddresses()
{
    QFETCH(QString, netIp);
    QFETCH(QString, mask);
    QFETCH(int, count);
    QFETCH(QString, first);
    QFETCH(QString, last);
    const QStringList addresses = ::subnetAddresses(netIp, mask);
    QCOMPARE(addresses.size(), count);
    if (count > 0) {
        QCOMPARE(addresses.first(), first);
        QCOMPARE(addresses.last(), last);
        QCOMPARE(QSet<QString>(addresses.begin(), addresses.end()).size(), count);
    }
}

QTEST_GUILESS_MAIN(TestScheduleRule)
#include "tst_schedulerule.moc"
