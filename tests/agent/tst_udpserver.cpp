#include "agent.h"
#include "agenttestutil.h"
#include "receiver.h"
#include "sender.h"
#include "testagentserver.h"
#include "udpserver.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

Q_DECLARE_METATYPE(QHostAddress)

// Blind packets over loopback: who may wake the agent and what a bad datagram logs.
class TestUdpServer : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void datagrams_data();
    void datagrams();
    void foreignSenderIsIgnored();
    void portInUseIsReported();
    void blindPacketWakesAgent();

private:
    static QByteArray blindPacket(quint8 type = CommandType::BlindPacket);
    static void send(const QByteArray &bytes, const QString &from, quint16 port);
};

void TestUdpServer::initTestCase()
{
    registerCommandMetaType();
    qRegisterMetaType<QHostAddress>();
    // The whole 127/8 block is loopback; a second sender address is needed.
    QUdpSocket other;
    if (!other.bind(QHostAddress(QStringLiteral("127.0.0.2")), 0))
        QSKIP("127.0.0.2 is not available as a loopback source address");
}

QByteArray TestUdpServer::blindPacket(quint8 type)
{
    Command c;
    initCommand(c, 1, type, 0);
    c.payload = QStringLiteral("BPacket");
    c.payloadLength = c.payload.size();
    return encodeDatagram(c);
}

void TestUdpServer::send(const QByteArray &bytes, const QString &from, quint16 port)
{
    QUdpSocket s;
    QVERIFY(s.bind(QHostAddress(from), 0));
    QCOMPARE(s.writeDatagram(bytes, QHostAddress::LocalHost, port), qint64(bytes.size()));
}

void TestUdpServer::datagrams_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<bool>("wakes");
    QTest::addColumn<QString>("failure");

    QTest::addRow("blind packet") << blindPacket() << true << QString();
    QTest::addRow("type 7 wakes as well") << blindPacket(7) << true << QString();
    QTest::addRow("header without payload") << blindPacket().left(kHeaderSize) << true << QString();
    QTest::addRow("empty datagram")
        << QByteArray() << false << "UDP package failed to authenticate 28";
    QTest::addRow("too short for a header")
        << blindPacket().left(50) << false << "UDP package failed to authenticate 28";
    QByteArray bad = blindPacket();
    bad[0] = 2;
    QTest::addRow("wrong version") << bad << false << "UDP package failed to authenticate 28";
    bad = blindPacket();
    bad[1] = char(0xAB);
    QTest::addRow("wrong signature") << bad << false << "UDP package failed to authenticate 29";
}

void TestUdpServer::datagrams()
{
    QFETCH(QByteArray, datagram);
    QFETCH(bool, wakes);
    QFETCH(QString, failure);

    UdpServer udp(QStringLiteral("127.0.0.1"), 6720, 0, false, false, false, 60000);
    QSignalSpy log(&udp, &UdpServer::writeLog);
    QSignalSpy wake(&udp, &UdpServer::connectAgentToServer);
    QVERIFY(udp.startListening());
    QCOMPARE(log.takeFirst().first().toString(),
             QStringLiteral("BlindPacket listening: 0.0.0.0:0"));
    const quint16 port = udp.socket->localPort();

    QUdpSocket client;
    QVERIFY(client.bind(QHostAddress(QHostAddress::LocalHost), 0));
    client.writeDatagram(datagram, QHostAddress::LocalHost, port);
    QTRY_COMPARE(log.size(), wakes ? 2 : 3);
    QCOMPARE(log[0].first().toString(),
             QStringLiteral("UPD packet from : 127.0.0.1 on port %1").arg(client.localPort()));
    QCOMPARE(log[1].first().toString(), QStringLiteral("Receiving blind packet"));
    if (wakes) {
        QTRY_COMPARE(wake.size(), 1);
        QCOMPARE(wake[0].first().value<QHostAddress>(), QHostAddress(QHostAddress::LocalHost));
    } else {
        QCOMPARE(log[2].first().toString(), failure);
        QCOMPARE(wake.size(), 0);
    }
}

// Server at 127.0.0.1, datagram from 127.0.0.2: nothing at all; the next one still counts.
void TestUdpServer::foreignSenderIsIgnored()
{
    UdpServer udp(QStringLiteral("127.0.0.1"), 6720, 0, false, false, false, 60000);
    QVERIFY(udp.startListening());
    QSignalSpy log(&udp, &UdpServer::writeLog);
    QSignalSpy wake(&udp, &UdpServer::connectAgentToServer);
    const quint16 port = udp.socket->localPort();
    send(blindPacket(), QStringLiteral("127.0.0.2"), port);
    send(blindPacket(), QStringLiteral("127.0.0.2"), port);
    send(blindPacket(), QStringLiteral("127.0.0.1"), port);
    QTRY_COMPARE(wake.size(), 1);
    QTRY_VERIFY(!udp.socket->hasPendingDatagrams());
    QCOMPARE(wake.size(), 1);
    QCOMPARE(log.size(), 2);
    QVERIFY(log[0].first().toString().startsWith(QLatin1String("UPD packet from : 127.0.0.1 ")));
}

void TestUdpServer::portInUseIsReported()
{
    QUdpSocket holder;
    QVERIFY(holder.bind(QHostAddress(QHostAddress::AnyIPv4), 0));
    UdpServer udp(QStringLiteral("127.0.0.1"), 6720, holder.localPort(), false, false, false,
                  60000);
    QSignalSpy log(&udp, &UdpServer::writeLog);
    QVERIFY(!udp.startListening());
    QCOMPARE(log.size(), 1);
    QVERIFY(log[0].first().toString().startsWith(
        QStringLiteral("[ERROR] Unable to listen for blind packets on 0.0.0.0:%1")
            .arg(holder.localPort())));
}

// A listening agent answers a blind packet from its server, named in Agent.ini and resolved
// once at start, with a hello.
void TestUdpServer::blindPacketWakesAgent()
{
    QTemporaryDir dir;
    TestAgentServer server;
    QVERIFY(server.start());
    const quint16 udp = freeUdpPort();
    QVERIFY(
        writeTextFile(dir.filePath(QStringLiteral("Agent.ini")),
                      "Address = localhost\nServerPort=" + QByteArray::number(server.serverPort()) +
                          "\nPollServer=0\nAgentPort=" + QByteArray::number(udp) + '\n'));
    {
        Agent agent(true, dir.path());
        agent.startUp();
        QVERIFY(agent.udpServer);
        send(blindPacket(), QStringLiteral("127.0.0.2"), udp);
        send(blindPacket(), QStringLiteral("127.0.0.1"), udp);
        QTRY_COMPARE(server.requests.size(), 1);
        QCOMPARE(int(server.requests[0].type), 12);
        QCOMPARE(int(server.requests[0].flag), 1);
        QTRY_COMPARE(Sender::liveCount(), 0);
        QCOMPARE(server.requests.size(), 1);
    }
    const QByteArray log = readTextFile(dir.filePath(QStringLiteral("Agent.log")));
    QVERIFY(log.contains("BlindPacket listening: 0.0.0.0:" + QByteArray::number(udp)));
    QVERIFY(log.contains("Connecting to Server @ 127.0.0.1:" +
                         QByteArray::number(server.serverPort())));
}

QTEST_GUILESS_MAIN(TestUdpServer)
#include "tst_udpserver.moc"
