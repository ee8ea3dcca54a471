#include "qwsserver.h"
#include "qwssocket.h"
#include "wsframe.h"
#include "wshandshake.h"

#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

namespace
{

constexpr int waitMs = 5000;
const char sampleKey[] = "dGhlIHNhbXBsZSBub25jZQ==";

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(char(v));
    return out;
}

QByteArray hybiRequest(const QString &keyLine = QStringLiteral("Sec-WebSocket-Key: ") +
                                                QLatin1String(sampleKey),
                       int version = 13)
{
    return QStringLiteral("GET /chat HTTP/1.1\r\nHost: 127.0.0.1:1337\r\nUpgrade: websocket\r\n"
                          "Connection: Upgrade\r\n%1\r\nSec-WebSocket-Version: %2\r\n\r\n")
        .arg(keyLine)
        .arg(version)
        .toLatin1();
}

QByteArray hybiResponse()
{
    return "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
           "Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n\r\n";
}

QByteArray hixieRequest(const QByteArray &key1 = "18x 6]8vM;54 *(5:  {   U1]8  z [  8")
{
    return QByteArray("GET /demo HTTP/1.1\r\nHost: 127.0.0.1:1337\r\nConnection: Upgrade\r\n"
                      "Upgrade: WebSocket\r\nSec-WebSocket-Key1: ") +
           key1 +
           "\r\nSec-WebSocket-Key2: 1_ tx7X d  <  nw  334J702) 7]o}` 0\r\n"
           "Origin: http://example.com\r\n\r\nTm[K T2u";
}

QByteArray hixieResponse()
{
    return "HTTP/1.1 101 WebSocket Protocol Handshake\r\nUpgrade: Websocket\r\n"
           "Connection: Upgrade\r\nSec-WebSocket-Origin: http://example.com\r\n"
           "Sec-WebSocket-Location: ws://127.0.0.1:1337/demo\r\n\r\nfQJ,fN/4F4!~K~MH";
}

// What a browser sends: every client frame masked.
QByteArray clientFrame(bool fin, quint8 opcode, const QByteArray &payload)
{
    const QByteArray key("\x11\x22\x33\x44");
    return WsFrame::frameHeader(fin, opcode, quint64(payload.size()), key) +
           WsFrame::applyMask(payload, key);
}

QByteArray clientText(const QByteArray &text)
{
    return clientFrame(true, WsFrame::Opcode::Text, text);
}

// Accepts a descriptor without wrapping it, as a foreign acceptor would hand it over.
class DescriptorServer : public QTcpServer
{
public:
    qintptr descriptor = -1;

protected:
    void incomingConnection(qintptr handle) override { descriptor = handle; }
};

} // namespace

class TestWsConnection : public QObject
{
    Q_OBJECT

    QWsServer *server = nullptr;
    QList<QTcpSocket *> clients;

    QTcpSocket *connectClient()
    {
        auto *client = new QTcpSocket(this);
        clients << client;
        client->connectToHost(QHostAddress::LocalHost, server->serverPort());
        return client;
    }

    // The listener's own TCP socket for a client, to learn when the server has read a piece.
    QTcpSocket *serverSideOf(QTcpSocket *client)
    {
        QTcpSocket *found = nullptr;
        const auto lookUp = [&] {
            if (client->state() != QAbstractSocket::ConnectedState)
                return false;
            for (QTcpSocket *s : server->findChildren<QTcpSocket *>())
                if (s->peerPort() == client->localPort())
                    found = s;
            return found != nullptr;
        };
        return QTest::qWaitFor(lookUp, waitMs) ? found : nullptr;
    }

    // Writes and returns once the server has read these bytes.
    bool writeAndWaitRead(QTcpSocket *client, QTcpSocket *serverSide, const QByteArray &data)
    {
        QSignalSpy read(serverSide, &QIODevice::readyRead);
        client->write(data);
        return read.wait(waitMs);
    }

    QByteArray readExactly(QTcpSocket *client, int n)
    {
        if (!QTest::qWaitFor([&] { return client->bytesAvailable() >= n; }, waitMs))
            return client->readAll();
        return client->read(n);
    }

    // Upgrades one client connection; the server side is returned taken from the queue.
    QWsSocket *open(QTcpSocket **clientOut, bool hixie = false)
    {
        QSignalSpy upgraded(server, &QWsServer::newConnection);
        QTcpSocket *client = connectClient();
        if (!client->waitForConnected(waitMs))
            return nullptr;
        client->write(hixie ? hixieRequest() : hybiRequest());
        if (!upgraded.wait(waitMs))
            return nullptr;
        const QByteArray expected = hixie ? hixieResponse() : hybiResponse();
        if (readExactly(client, expected.size()) != expected)
            return nullptr;
        *clientOut = client;
        return server->nextPendingConnection();
    }

private slots:
    void init()
    {
        server = new QWsServer;
        QVERIFY(server->listen(QHostAddress::LocalHost, 0));
    }

    void cleanup()
    {
        qDeleteAll(clients);
        clients.clear();
        delete server;
        server = nullptr;
    }

    void handshakeInPieces_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QList<int>>("cuts");
        QTest::addColumn<QByteArray>("response");
        QTest::addRow("RFC 6455 cut inside a line and before the blank line")
            << hybiRequest() << QList<int>{7, 60, hybiRequest().size() - 2} << hybiResponse();
        QTest::addRow("hixie-76 cut inside the eight body bytes")
            << hixieRequest() << QList<int>{30, hixieRequest().size() - 5} << hixieResponse();
    }

    void handshakeInPieces()
    {
        QFETCH(QByteArray, request);
        QFETCH(QList<int>, cuts);
        QFETCH(QByteArray, response);
        QSignalSpy upgraded(server, &QWsServer::newConnection);
        QTcpSocket *client = connectClient();
        QTcpSocket *serverSide = serverSideOf(client);
        QVERIFY(serverSide);
        int from = 0;
        for (int cut : cuts) {
            QVERIFY(writeAndWaitRead(client, serverSide, request.mid(from, cut - from)));
            QCOMPARE(upgraded.count(), 0);
            from = cut;
        }
        client->write(request.mid(from));
        QVERIFY(upgraded.count() || upgraded.wait(waitMs));
        QCOMPARE(readExactly(client, response.size()), response);
        QVERIFY(server->nextPendingConnection());
        QVERIFY(!server->nextPendingConnection());
    }

    void refusedRequestAllowsRetry_data()
    {
        QTest::addColumn<QByteArray>("bad");
        const QString key = QLatin1String(sampleKey);
        QTest::addRow("key of 23 characters")
            << hybiRequest(QStringLiteral("Sec-WebSocket-Key: ") + key.left(23));
        QTest::addRow("version 5 with Sec-WebSocket-Key")
            << hybiRequest(QStringLiteral("Sec-WebSocket-Key: ") + key, 5);
        QTest::addRow("hixie-76 key without spaces") << hixieRequest("1234567");
        QTest::addRow("plain HTTP request") << QByteArray("GET / HTTP/1.1\r\nHost: a\r\n\r\n");
    }

    // A refused request gets no answer; the same connection can still upgrade afterwards.
    void refusedRequestAllowsRetry()
    {
        QFETCH(QByteArray, bad);
        QSignalSpy upgraded(server, &QWsServer::newConnection);
        QTcpSocket *client = connectClient();
        QTcpSocket *serverSide = serverSideOf(client);
        QVERIFY(serverSide);
        QVERIFY(writeAndWaitRead(client, serverSide, bad));
        QCOMPARE(upgraded.count(), 0);
        QCOMPARE(client->state(), QAbstractSocket::ConnectedState);
        client->write(hybiRequest());
        QVERIFY(upgraded.wait(waitMs));
        QCOMPARE(readExactly(client, hybiResponse().size()), hybiResponse());
        QCOMPARE(upgraded.count(), 1);
    }

    void framesBehindHandshakeAreKept()
    {
        QSignalSpy upgraded(server, &QWsServer::newConnection);
        QTcpSocket *client = connectClient();
        QVERIFY(client->waitForConnected(waitMs));
        client->write(hybiRequest() + clientText("early"));
        QVERIFY(upgraded.wait(waitMs));
        QWsSocket *ws = server->nextPendingConnection();
        QSignalSpy texts(ws, qOverload<QString>(&QWsSocket::frameReceived));
        QVERIFY(texts.wait(waitMs));
        QCOMPARE(texts.first().first().toString(), QStringLiteral("early"));
    }

    void incomingMessages_data()
    {
        QTest::addColumn<QList<QByteArray>>("chunks");
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<QList<QByteArray>>("binaries");
        QTest::addColumn<QByteArray>("reply");
        using namespace WsFrame;
        const QByteArray hello = clientText("Hello");
        QTest::addRow("masked text") << QList<QByteArray>{hello} << QStringList{"Hello"}
                                     << QList<QByteArray>{} << QByteArray();
        QTest::addRow("unmasked text")
            << QList<QByteArray>{QByteArray(frameHeader(true, 1, 5) + "Hello")}
            << QStringList{"Hello"} << QList<QByteArray>{} << QByteArray();
        QTest::addRow("one frame cut in header, key and payload")
            << QList<QByteArray>{hello.left(1), hello.mid(1, 3), hello.mid(4, 5), hello.mid(9)}
            << QStringList{"Hello"} << QList<QByteArray>{} << QByteArray();
        QTest::addRow("two frames in one segment")
            << QList<QByteArray>{QByteArray(clientText("one") + clientText("two"))}
            << QStringList{"one", "two"} << QList<QByteArray>{} << QByteArray();
        QTest::addRow("empty text") << QList<QByteArray>{clientText("")} << QStringList{""}
                                    << QList<QByteArray>{} << QByteArray();
        QTest::addRow("UTF-8 text") << QList<QByteArray>{clientText("h\xC3\xA9llo \xE2\x9C\x93")}
                                    << QStringList{QString::fromUtf8("h\xC3\xA9llo \xE2\x9C\x93")}
                                    << QList<QByteArray>{} << QByteArray();
        QTest::addRow("fragmented text with a ping between the fragments")
            << QList<QByteArray>{clientFrame(false, Opcode::Text, "Hel"),
                                 clientFrame(true, Opcode::Ping, "p"),
                                 clientFrame(true, Opcode::Continuation, "lo")}
            << QStringList{"Hello"} << QList<QByteArray>{} << bytes({0x8A, 0x01, 'p'});
        QTest::addRow("fragmented binary typed by its first frame")
            << QList<QByteArray>{clientFrame(false, Opcode::Binary, QByteArray("\x00\x01", 2)),
                                 clientFrame(false, Opcode::Continuation, "\x02"),
                                 clientFrame(true, Opcode::Continuation, "\x03")}
            << QStringList{} << QList<QByteArray>{QByteArray("\x00\x01\x02\x03", 4)}
            << QByteArray();
        QTest::addRow("ping answered with its payload")
            << QList<QByteArray>{clientFrame(true, Opcode::Ping, "ping")} << QStringList{}
            << QList<QByteArray>{} << QByteArray(bytes({0x8A, 0x04}) + "ping");
        QTest::addRow("unknown opcode ignored")
            << QList<QByteArray>{clientFrame(true, 3, "x"), clientText("after")}
            << QStringList{"after"} << QList<QByteArray>{} << QByteArray();
        QTest::addRow("stray continuation ignored")
            << QList<QByteArray>{clientFrame(true, Opcode::Continuation, "x")} << QStringList{}
            << QList<QByteArray>{} << QByteArray();
        QTest::addRow("unsolicited pong ignored")
            << QList<QByteArray>{clientFrame(true, Opcode::Pong, "")} << QStringList{}
            << QList<QByteArray>{} << QByteArray();
    }

    void incomingMessages()
    {
        QFETCH(QList<QByteArray>, chunks);
        QFETCH(QStringList, texts);
        QFETCH(QList<QByteArray>, binaries);
        QFETCH(QByteArray, reply);
        QTcpSocket *client = nullptr;
        QWsSocket *ws = open(&client);
        QVERIFY(ws);
        QTcpSocket *serverSide = serverSideOf(client);
        QVERIFY(serverSide);
        QSignalSpy textSpy(ws, qOverload<QString>(&QWsSocket::frameReceived));
        QSignalSpy binarySpy(ws, qOverload<QByteArray>(&QWsSocket::frameReceived));
        QSignalSpy pongSpy(ws, &QWsSocket::pong);
        for (const QByteArray &chunk : chunks)
            QVERIFY(writeAndWaitRead(client, serverSide, chunk));
        // A closing text marks the end of what this row sent.
        client->write(clientText("END"));
        QTRY_VERIFY_WITH_TIMEOUT(!textSpy.isEmpty() &&
                                     textSpy.last().first().toString() == QLatin1String("END"),
                                 waitMs);
        QStringList gotTexts;
        for (const QList<QVariant> &args : textSpy)
            gotTexts << args.first().toString();
        QCOMPARE(gotTexts, texts + QStringList{"END"});
        QList<QByteArray> gotBinaries;
        for (const QList<QVariant> &args : binarySpy)
            gotBinaries << args.first().toByteArray();
        QCOMPARE(gotBinaries, binaries);
        QCOMPARE(pongSpy.count(), 0);
        if (!reply.isEmpty())
            QCOMPARE(readExactly(client, reply.size()), reply);
        QCOMPARE(client->bytesAvailable(), 0);
        QCOMPARE(client->state(), QAbstractSocket::ConnectedState);
    }

    void oversizeFrameClosesConnection()
    {
        QTcpSocket *client = nullptr;
        QWsSocket *ws = open(&client);
        QVERIFY(ws);
        QSignalSpy gone(ws, &QAbstractSocket::disconnected);
        client->write(WsFrame::frameHeader(true, 2, WsFrame::maxPayloadSize + 1,
                                           QByteArray("\x01\x02\x03\x04")));
        QCOMPARE(readExactly(client, 2), bytes({0x88, 0x00}));
        QVERIFY(gone.count() || gone.wait(waitMs));
        QTRY_COMPARE_WITH_TIMEOUT(client->state(), QAbstractSocket::UnconnectedState, waitMs);
    }

    void peerCloseIsAnswered()
    {
        QTcpSocket *client = nullptr;
        QWsSocket *ws = open(&client);
        QVERIFY(ws);
        QSignalSpy gone(ws, &QAbstractSocket::disconnected);
        client->write(clientFrame(true, WsFrame::Opcode::Close, bytes({0x03, 0xE8})));
        QCOMPARE(readExactly(client, 4), bytes({0x88, 0x02, 0x03, 0xE8}));
        QVERIFY(gone.count() || gone.wait(waitMs));
        QCOMPARE(ws->state(), QAbstractSocket::UnconnectedState);
    }

    void sendWritesFrames()
    {
        QTcpSocket *client = nullptr;
        QWsSocket *ws = open(&client);
        QVERIFY(ws);
        const QString text(3000, QLatin1Char('t'));
        QByteArray expected;
        for (const QByteArray &f : WsFrame::splitIntoFrames(text.toLatin1(), false, 0, false))
            expected += f;
        QCOMPARE(ws->sendText(text), qint64(expected.size()));
        QCOMPARE(readExactly(client, expected.size()), expected);

        // The server's own frames are never masked, binary ones included.
        const QByteArray data(200, '\x07');
        QCOMPARE(ws->sendBinary(data), qint64(data.size() + 4));
        QCOMPARE(readExactly(client, data.size() + 4),
                 QByteArray(bytes({0x82, 0x7E, 0x00, 0xC8}) + data));
        QCOMPARE(ws->sendBinary(QByteArray(3000, 'b')), qint64(3000 + 3 * 4));
        const QByteArray frames = readExactly(client, 3000 + 3 * 4);
        QCOMPARE(quint8(frames.at(0)), quint8(0x02));
        QCOMPARE(quint8(frames.at(1)), quint8(0x7E));
    }

    void pingMeasuresPong()
    {
        QTcpSocket *client = nullptr;
        QWsSocket *ws = open(&client);
        QVERIFY(ws);
        QSignalSpy pongs(ws, &QWsSocket::pong);
        ws->ping();
        QCOMPARE(readExactly(client, 2), bytes({0x89, 0x00}));
        QTimer::singleShot(250, client, [client] {
            client->write(clientFrame(true, WsFrame::Opcode::Pong, QByteArray()));
        });
        QVERIFY(pongs.wait(waitMs));
        const quint64 elapsed = pongs.first().first().toULongLong();
        QVERIFY2(elapsed >= 250 && elapsed < 250 + quint64(waitMs),
                 QByteArray::number(elapsed).constData());
    }

    void closeFromServer_data()
    {
        QTest::addColumn<bool>("hixie");
        QTest::addColumn<bool>("viaDisconnectFromHost");
        QTest::addColumn<QByteArray>("closeFrame");
        QTest::addRow("RFC 6455") << false << false << bytes({0x88, 0x00});
        QTest::addRow("hixie-76") << true << false << bytes({0xFF, 0x00});
        QTest::addRow("RFC 6455 through disconnectFromHost")
            << false << true << bytes({0x88, 0x00});
    }

    void closeFromServer()
    {
        QFETCH(bool, hixie);
        QFETCH(bool, viaDisconnectFromHost);
        QFETCH(QByteArray, closeFrame);
        QTcpSocket *client = nullptr;
        QWsSocket *ws = open(&client, hixie);
        QVERIFY(ws);
        QSignalSpy closing(ws, &QIODevice::aboutToClose);
        QSignalSpy gone(ws, &QAbstractSocket::disconnected);
        // A ping is the same two bytes in either framing.
        ws->ping();
        QCOMPARE(readExactly(client, 2), bytes({0x89, 0x00}));
        if (viaDisconnectFromHost)
            ws->disconnectFromHost();
        else
            ws->close();
        QCOMPARE(readExactly(client, 2), closeFrame);
        QVERIFY(gone.count() || gone.wait(waitMs));
        QCOMPARE(closing.count(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(client->state(), QAbstractSocket::UnconnectedState, waitMs);
    }

    void hixieFraming()
    {
        QTcpSocket *client = nullptr;
        QWsSocket *ws = open(&client, true);
        QVERIFY(ws);
        QCOMPARE(int(ws->version()), 0);
        QTcpSocket *serverSide = serverSideOf(client);
        QVERIFY(serverSide);
        QSignalSpy texts(ws, qOverload<QString>(&QWsSocket::frameReceived));
        // A frame whose end has not arrived waits for it.
        QVERIFY(writeAndWaitRead(client, serverSide, QByteArray("\x00hel", 4)));
        QCOMPARE(texts.count(), 0);
        QVERIFY(writeAndWaitRead(client, serverSide, QByteArray("lo\xFF", 3)));
        QCOMPARE(texts.count(), 1);
        QCOMPARE(texts.takeFirst().first().toString(), QStringLiteral("hello"));
        // An empty message and the closing frame deliver nothing and keep the connection.
        client->write(QByteArray("\x00\xFF\xFF\x00\x00"
                                 "again\xFF",
                                 11));
        QVERIFY(texts.wait(waitMs));
        QCOMPARE(texts.count(), 1);
        QCOMPARE(texts.first().first().toString(), QStringLiteral("again"));
        QCOMPARE(client->state(), QAbstractSocket::ConnectedState);

        const QString accented = QString::fromUtf8("h\xC3\xA9");
        QCOMPARE(ws->sendText(accented), qint64(5));
        QCOMPARE(readExactly(client, 5), QByteArray("\x00h\xC3\xA9\xFF", 5));
    }

    void pendingQueueLimit()
    {
        server->setMaxPendingConnections(2);
        QSignalSpy upgraded(server, &QWsServer::newConnection);
        QList<QTcpSocket *> three;
        for (int i = 0; i < 3; ++i) {
            three << connectClient();
            QVERIFY(three.last()->waitForConnected(waitMs));
            three.last()->write(hybiRequest());
            if (i < 2)
                QVERIFY(upgraded.wait(waitMs));
        }
        QTRY_COMPARE_WITH_TIMEOUT(three.last()->state(), QAbstractSocket::UnconnectedState, waitMs);
        QCOMPARE(three.last()->bytesAvailable(), 0);
        QCOMPARE(upgraded.count(), 2);
        QVERIFY(server->nextPendingConnection());
        QVERIFY(server->nextPendingConnection());
        QVERIFY(!server->nextPendingConnection());
    }

    void adoptDescriptor()
    {
        DescriptorServer acceptor;
        QVERIFY(acceptor.listen(QHostAddress::LocalHost, 0));
        auto *client = new QTcpSocket(this);
        clients << client;
        client->connectToHost(QHostAddress::LocalHost, acceptor.serverPort());
        QTRY_VERIFY_WITH_TIMEOUT(acceptor.descriptor != -1, waitMs);
        QSignalSpy upgraded(server, &QWsServer::newConnection);
        server->adoptDescriptor(int(acceptor.descriptor));
        QCOMPARE(upgraded.count(), 1);
        QWsSocket *ws = server->nextPendingConnection();
        QVERIFY(ws);
        QCOMPARE(int(ws->version()), 13);
        QCOMPARE(ws->peerPort(), client->localPort());
        QCOMPARE(ws->peerAddress(), QHostAddress(QHostAddress::LocalHost));
        QCOMPARE(ws->state(), QAbstractSocket::ConnectedState);
        QSignalSpy texts(ws, qOverload<QString>(&QWsSocket::frameReceived));
        client->write(clientText("adopted"));
        QVERIFY(texts.wait(waitMs));
        QCOMPARE(texts.first().first().toString(), QStringLiteral("adopted"));
        ws->sendText(QStringLiteral("x"));
        QCOMPARE(readExactly(client, 3), QByteArray("\x81\x01x"));
    }

    void clientLeavingBeforeUpgradeIsReleased()
    {
        QTcpSocket *client = connectClient();
        QPointer<QTcpSocket> serverSide = serverSideOf(client);
        QVERIFY(serverSide);
        client->write("GET /chat HTTP/1.1\r\n");
        client->abort();
        QTRY_VERIFY_WITH_TIMEOUT(serverSide.isNull(), waitMs);
    }

    void releasedSocketReleasesItsConnection()
    {
        QTcpSocket *client = nullptr;
        QWsSocket *ws = open(&client);
        QVERIFY(ws);
        QPointer<QTcpSocket> serverSide = serverSideOf(client);
        QVERIFY(serverSide);
        delete ws;
        QTRY_VERIFY_WITH_TIMEOUT(serverSide.isNull(), waitMs);
        QTRY_COMPARE_WITH_TIMEOUT(client->state(), QAbstractSocket::UnconnectedState, waitMs);
    }

    void listenerDestroyedWithLiveConnections()
    {
        QTcpSocket *client = nullptr;
        QPointer<QWsSocket> ws = open(&client);
        QVERIFY(ws);
        connect(ws, &QAbstractSocket::disconnected, ws, &QObject::deleteLater);
        QTcpSocket *waiting = connectClient();
        QVERIFY(serverSideOf(waiting));
        delete server;
        server = nullptr;
        QVERIFY(ws.isNull());
        QTRY_COMPARE_WITH_TIMEOUT(client->state(), QAbstractSocket::UnconnectedState, waitMs);
        QTRY_COMPARE_WITH_TIMEOUT(waiting->state(), QAbstractSocket::UnconnectedState, waitMs);
    }
};

QTEST_GUILESS_MAIN(TestWsConnection)
#include "tst_wsconnection.moc"
