#include "wshandshake.h"

#include <QtTest>

Q_DECLARE_METATYPE(WsParseStatus)

namespace
{

QByteArray lines(const QStringList &headers, const QByteArray &body = QByteArray())
{
    return (headers.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n\r\n")).toLatin1() + body;
}

// The hixie-76 draft's worked example.
const char exampleKey1[] = "18x 6]8vM;54 *(5:  {   U1]8  z [  8";
const char exampleKey2[] = "1_ tx7X d  <  nw  334J702) 7]o}` 0";
const char exampleKey3[] = "Tm[K T2u";
const char exampleDigest[] = "fQJ,fN/4F4!~K~MH";
const char sampleKey[] = "dGhlIHNhbXBsZSBub25jZQ==";
const char sampleAccept[] = "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=";

QByteArray hixieRequest(const QString &host, const QString &extra = QString())
{
    QStringList h{QStringLiteral("GET /demo HTTP/1.1"),
                  QStringLiteral("Host: ") + host,
                  QStringLiteral("Connection: Upgrade"),
                  QStringLiteral("Upgrade: WebSocket"),
                  QStringLiteral("Sec-WebSocket-Key1: ") + QLatin1String(exampleKey1),
                  QStringLiteral("Sec-WebSocket-Key2: ") + QLatin1String(exampleKey2),
                  QStringLiteral("Origin: http://example.com")};
    if (!extra.isEmpty())
        h << extra;
    return lines(h, exampleKey3);
}

QByteArray hybiRequest(int version, const QString &keyLine, const QStringList &extra = {})
{
    QStringList h{QStringLiteral("GET /chat HTTP/1.1"),
                  QStringLiteral("Host: server.example.com"),
                  QStringLiteral("Upgrade: websocket"),
                  QStringLiteral("Connection: Upgrade"),
                  keyLine,
                  QStringLiteral("Sec-WebSocket-Version: %1").arg(version)};
    h << extra;
    return lines(h);
}

QString keyLine(const QString &key)
{
    return QStringLiteral("Sec-WebSocket-Key: ") + key;
}

} // namespace

class TestWsHandshake : public QObject
{
    Q_OBJECT
private slots:
    void acceptKeyVector()
    {
        QCOMPARE(WsHandshake::hybiAcceptKey(QLatin1String(sampleKey)), QLatin1String(sampleAccept));
    }

    void hixieDigestVector()
    {
        const QByteArray digest = WsHandshake::hixieDigest(
            QLatin1String(exampleKey1), QLatin1String(exampleKey2), QLatin1String(exampleKey3));
        QCOMPARE(digest, QByteArray(exampleDigest));
    }

    void hixieKeyWithoutSpaces()
    {
        QVERIFY(WsHandshake::hixieDigest(QStringLiteral("123456"), QLatin1String(exampleKey2),
                                         QLatin1String(exampleKey3))
                    .isEmpty());
    }

    void bigEndianChars_data()
    {
        QTest::addColumn<quint32>("number");
        QTest::addColumn<QByteArray>("expected");
        QTest::addRow("zero") << 0u << QByteArray(4, '\0');
        QTest::addRow("one byte") << 0xABu << QByteArray("\0\0\0\xAB", 4);
        QTest::addRow("four bytes") << 0x01020304u << QByteArray("\x01\x02\x03\x04", 4);
        QTest::addRow("inner zero") << 0x01000200u << QByteArray("\x01\0\x02\0", 4);
        QTest::addRow("largest") << 0xFFFFFFFFu << QByteArray(4, '\xFF');
    }

    void bigEndianChars()
    {
        QFETCH(quint32, number);
        QFETCH(QByteArray, expected);
        const QString chars = WsHandshake::bigEndianChars(number, 4);
        QCOMPARE(chars.size(), 4);
        QCOMPARE(chars.toLatin1(), expected);
    }

    void parseRequest_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<WsParseStatus>("status");
        QTest::addColumn<int>("version");
        QTest::addColumn<QString>("origin");
        QTest::addColumn<int>("consumed");

        const QString key = QLatin1String(sampleKey);
        const QByteArray hixie = hixieRequest(QStringLiteral("example.com"));
        QTest::addRow("hixie-76 without version")
            << hixie << WsParseStatus::Ok << 0 << "http://example.com" << hixie.size();
        QTest::addRow("hixie-76 waits for its eight body bytes")
            << hixie.left(hixie.size() - 3) << WsParseStatus::Incomplete << 0 << "" << 0;
        QTest::addRow("hixie-76 with trailing bytes")
            << QByteArray(hixie + QByteArray("\x00hi\xFF", 4)) << WsParseStatus::Ok << 0
            << "http://example.com" << hixie.size();
        QByteArray noSpace = hixie;
        noSpace.replace(QByteArray(QByteArray("Key1: ") + exampleKey1),
                        QByteArray("Key1: 12345678"));
        QTest::addRow("hixie-76 key without spaces")
            << noSpace << WsParseStatus::Bad << 0 << "" << noSpace.size();
        QTest::addRow("version 13 with 24-character key")
            << hybiRequest(13, keyLine(key)) << WsParseStatus::Ok << 13 << "" << -1;
        QTest::addRow("key of 23 characters")
            << hybiRequest(13, keyLine(key.left(23))) << WsParseStatus::Bad << 13 << "" << -1;
        QTest::addRow("key of 25 characters") << hybiRequest(13, keyLine(key + QLatin1Char('A')))
                                              << WsParseStatus::Bad << 13 << "" << -1;
        QTest::addRow("two spaces after the colon")
            << hybiRequest(13, QStringLiteral("Sec-WebSocket-Key:  ") + key) << WsParseStatus::Bad
            << 13 << "" << -1;
        QTest::addRow("lower-case header name")
            << hybiRequest(13, QStringLiteral("sec-websocket-key: ") + key) << WsParseStatus::Bad
            << 13 << "" << -1;
        QTest::addRow("version 4 with Sec-WebSocket-Key")
            << hybiRequest(4, keyLine(key)) << WsParseStatus::Bad << 4 << "" << -1;
        QTest::addRow("version 5 with Sec-WebSocket-Key")
            << hybiRequest(5, keyLine(key)) << WsParseStatus::Bad << 5 << "" << -1;
        const QStringList origins{QStringLiteral("Origin: http://plain.example"),
                                  QStringLiteral("Sec-WebSocket-Origin: http://draft.example")};
        QTest::addRow("version 8 origin from Sec-WebSocket-Origin")
            << hybiRequest(8, keyLine(key), origins) << WsParseStatus::Ok << 8
            << "http://draft.example" << -1;
        QTest::addRow("version 13 origin from Origin")
            << hybiRequest(13, keyLine(key), origins) << WsParseStatus::Ok << 13
            << "http://plain.example" << -1;
        QTest::addRow("no Host") << lines({QStringLiteral("GET /chat HTTP/1.1"), keyLine(key),
                                           QStringLiteral("Sec-WebSocket-Version: 13")})
                                 << WsParseStatus::Bad << 13 << "" << -1;
        QTest::addRow("no resource")
            << lines({QStringLiteral("GET  HTTP/1.1"), QStringLiteral("Host: a"), keyLine(key),
                      QStringLiteral("Sec-WebSocket-Version: 13")})
            << WsParseStatus::Bad << 13 << "" << -1;
        QTest::addRow("line break inside a value")
            << hybiRequest(13, keyLine(key), {QStringLiteral("Sec-WebSocket-Protocol: a\nX: b")})
            << WsParseStatus::Bad << 13 << "" << -1;
        QTest::addRow("header block not finished") << hybiRequest(13, keyLine(key)).chopped(2)
                                                   << WsParseStatus::Incomplete << 0 << "" << 0;
        QTest::addRow("endless header block")
            << QByteArray(WsHandshake::maxRequestSize + 1, 'x') << WsParseStatus::Bad << 0 << ""
            << WsHandshake::maxRequestSize + 1;
    }

    void parseRequest()
    {
        QFETCH(QByteArray, request);
        QFETCH(WsParseStatus, status);
        QFETCH(int, version);
        QFETCH(QString, origin);
        QFETCH(int, consumed);
        const WsHandshake::Parse p = WsHandshake::parseRequest(request);
        QCOMPARE(p.status, status);
        QCOMPARE(p.consumed, consumed < 0 ? request.size() : consumed);
        if (status == WsParseStatus::Incomplete)
            return;
        QCOMPARE(p.request.handshakeVersion, version);
        if (status == WsParseStatus::Ok)
            QCOMPARE(p.request.origin, origin);
    }

    void response_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("expected");
        const QByteArray hixieHead = "HTTP/1.1 101 WebSocket Protocol Handshake\r\n"
                                     "Upgrade: Websocket\r\n"
                                     "Connection: Upgrade\r\n"
                                     "Sec-WebSocket-Origin: http://example.com\r\n";
        QTest::addRow("hixie-76 location with port")
            << hixieRequest(QStringLiteral("example.com:8080"))
            << QByteArray(hixieHead + "Sec-WebSocket-Location: ws://example.com:8080/demo\r\n\r\n" +
                          exampleDigest);
        QTest::addRow("hixie-76 location without port")
            << hixieRequest(QStringLiteral("example.com"))
            << QByteArray(hixieHead + "Sec-WebSocket-Location: ws://example.com/demo\r\n\r\n" +
                          exampleDigest);
        QTest::addRow("hixie-76 echoes the subprotocol")
            << hixieRequest(QStringLiteral("example.com"),
                            QStringLiteral("Sec-WebSocket-Protocol: chat"))
            << QByteArray(hixieHead +
                          "Sec-WebSocket-Location: ws://example.com/demo\r\n"
                          "Sec-WebSocket-Protocol: chat\r\n\r\n" +
                          exampleDigest);
        const QByteArray hybiAnswer = QByteArray("HTTP/1.1 101 Switching Protocols\r\n"
                                                 "Upgrade: websocket\r\n"
                                                 "Connection: Upgrade\r\n"
                                                 "Sec-WebSocket-Accept: ") +
                                      sampleAccept + "\r\n\r\n";
        QTest::addRow("RFC 6455 answer")
            << hybiRequest(13, keyLine(QLatin1String(sampleKey))) << hybiAnswer;
        QTest::addRow("RFC 6455 never echoes subprotocol or origin")
            << hybiRequest(13, keyLine(QLatin1String(sampleKey)),
                           {QStringLiteral("Sec-WebSocket-Protocol: chat"),
                            QStringLiteral("Origin: http://example.com")})
            << hybiAnswer;
    }

    void response()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, expected);
        const WsHandshake::Parse p = WsHandshake::parseRequest(request);
        QCOMPARE(p.status, WsParseStatus::Ok);
        QCOMPARE(WsHandshake::response(p.request), expected);
    }

    // Digest bytes of value zero must reach the wire like any other.
    void hixieDigestWithZeroBytesSentWhole()
    {
        const QByteArray request = hixieRequest(QStringLiteral("example.com"));
        WsHandshake::Parse p = WsHandshake::parseRequest(request);
        QCOMPARE(p.status, WsParseStatus::Ok);
        // Search a body whose digest holds a zero byte; one in 16 bodies does on average.
        for (int i = 0; i < 4096; ++i) {
            p.request.key3 = QString::number(10000000 + i);
            const QByteArray digest =
                WsHandshake::hixieDigest(p.request.key1, p.request.key2, p.request.key3);
            if (!digest.contains('\0'))
                continue;
            QVERIFY(WsHandshake::response(p.request).endsWith(QByteArray("\r\n\r\n" + digest)));
            return;
        }
        QFAIL("no body with a zero digest byte found");
    }
};

QTEST_GUILESS_MAIN(TestWsHandshake)
#include "tst_wshandshake.moc"
