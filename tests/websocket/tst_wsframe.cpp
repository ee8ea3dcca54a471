#include "qwssocket.h"
#include "wsframe.h"

#include <QtTest>

Q_DECLARE_METATYPE(WsParseStatus)
Q_DECLARE_METATYPE(WsFrame::HixieKind)

namespace
{

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(char(v));
    return out;
}

// Header length of an unmasked frame as written by the writer.
int headerSize(const QByteArray &frame)
{
    const int length = quint8(frame.at(1)) & 0x7F;
    return length == 126 ? 4 : length == 127 ? 10 : 2;
}

} // namespace

class TestWsFrame : public QObject
{
    Q_OBJECT
private slots:
    void defaultLimit() { QCOMPARE(QWsSocket::defaultFrameLimit, 1400); }

    void textFrames_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("frameLimit");
        QTest::addColumn<QList<QByteArray>>("headers");
        QTest::addColumn<QList<int>>("payloadSizes");

        QTest::addRow("empty") << 0 << 0 << QList<QByteArray>{bytes({0x81, 0x00})} << QList<int>{0};
        QTest::addRow("five characters")
            << 5 << 0 << QList<QByteArray>{bytes({0x81, 0x05})} << QList<int>{5};
        QTest::addRow("125 bytes, 7-bit length")
            << 125 << 0 << QList<QByteArray>{bytes({0x81, 0x7D})} << QList<int>{125};
        QTest::addRow("200 bytes, 16-bit length")
            << 200 << 0 << QList<QByteArray>{bytes({0x81, 0x7E, 0x00, 0xC8})} << QList<int>{200};
        QTest::addRow("3000 bytes in three frames")
            << 3000 << 0
            << QList<QByteArray>{bytes({0x01, 0x7E, 0x05, 0x78}), bytes({0x00, 0x7E, 0x05, 0x78}),
                                 bytes({0x80, 0x7E, 0x00, 0xC8})}
            << QList<int>{1400, 1400, 200};
        QTest::addRow("exactly 1400 bytes")
            << 1400 << 0 << QList<QByteArray>{bytes({0x01, 0x7E, 0x05, 0x78}), bytes({0x80, 0x00})}
            << QList<int>{1400, 0};
        QTest::addRow("70000 bytes in one frame, 64-bit length")
            << 70000 << 100000
            << QList<QByteArray>{bytes({0x81, 0x7F, 0, 0, 0, 0, 0, 0x01, 0x11, 0x70})}
            << QList<int>{70000};
        QTest::addRow("caller's limit")
            << 5 << 2
            << QList<QByteArray>{bytes({0x01, 0x02}), bytes({0x00, 0x02}), bytes({0x80, 0x01})}
            << QList<int>{2, 2, 1};
    }

    void textFrames()
    {
        QFETCH(int, size);
        QFETCH(int, frameLimit);
        QFETCH(QList<QByteArray>, headers);
        QFETCH(QList<int>, payloadSizes);
        QByteArray data(size, Qt::Uninitialized);
        for (int i = 0; i < size; ++i)
            data[i] = char('a' + i % 26);

        const QList<QByteArray> frames = WsFrame::splitIntoFrames(data, false, frameLimit, false);
        QCOMPARE(frames.size(), headers.size());
        QByteArray joined;
        for (int i = 0; i < frames.size(); ++i) {
            QCOMPARE(frames.at(i).left(headers.at(i).size()), headers.at(i));
            QCOMPARE(frames.at(i).size() - headerSize(frames.at(i)), payloadSizes.at(i));
            joined += frames.at(i).mid(headers.at(i).size());
        }
        QCOMPARE(joined, data);
    }

    void maskedFramesShareOneKeyPerMessage()
    {
        const QByteArray data(3000, 'z');
        const QList<QByteArray> frames = WsFrame::splitIntoFrames(data, true, 0, true);
        QCOMPARE(frames.size(), 3);
        const QByteArray key = frames.first().mid(4, 4);
        QByteArray joined;
        for (int i = 0; i < frames.size(); ++i) {
            const QByteArray &f = frames.at(i);
            QCOMPARE(quint8(f.at(0)) & 0x0F, i == 0 ? 2 : 0);
            QCOMPARE(bool(quint8(f.at(0)) & 0x80), i == 2);
            QVERIFY(quint8(f.at(1)) & 0x80);
            QCOMPARE(f.mid(4, 4), key);
            // Each frame is masked from its own first payload byte.
            joined += WsFrame::applyMask(f.mid(8), key);
        }
        QCOMPARE(joined, data);

        // A 32-bit key repeating by chance three times in a row would be a broken generator.
        const QByteArray second = WsFrame::splitIntoFrames(data, true, 0, true).first().mid(4, 4);
        const QByteArray third = WsFrame::splitIntoFrames(data, true, 0, true).first().mid(4, 4);
        QVERIFY(second != key || third != key);
    }

    void frameHeaderMaskBit()
    {
        QCOMPARE(WsFrame::frameHeader(true, 1, 3, QByteArray("\x01\x02\x03\x04")),
                 bytes({0x81, 0x83, 1, 2, 3, 4}));
        QCOMPARE(WsFrame::frameHeader(true, 1, 3, QByteArray("\x01\x02\x03")), bytes({0x81, 0x03}));
    }

    void parseHybiFrame_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<bool>("fin");
        QTest::addColumn<int>("opcode");
        QTest::addColumn<QByteArray>("payload");

        const QByteArray key("\x37\xfa\x21\x3d");
        QTest::addRow("masked text")
            << QByteArray(bytes({0x81, 0x85}) + key + WsFrame::applyMask("Hello", key)) << true << 1
            << QByteArray("Hello");
        QTest::addRow("unmasked text")
            << QByteArray(bytes({0x81, 0x05}) + "Hello") << true << 1 << QByteArray("Hello");
        QTest::addRow("fragment without FIN")
            << QByteArray(bytes({0x01, 0x03}) + "Hel") << false << 1 << QByteArray("Hel");
        QTest::addRow("empty close") << bytes({0x88, 0x00}) << true << 8 << QByteArray();
        const QByteArray big(300, 'b');
        QTest::addRow("16-bit length, masked")
            << QByteArray(bytes({0x82, 0xFE, 0x01, 0x2C}) + key + WsFrame::applyMask(big, key))
            << true << 2 << big;
        const QByteArray large(70000, 'L');
        QTest::addRow("64-bit length")
            << QByteArray(WsFrame::frameHeader(true, 2, 70000) + large) << true << 2 << large;
    }

    // Every prefix of a frame waits for more; the whole frame parses, nothing more is taken.
    void parseHybiFrame()
    {
        QFETCH(QByteArray, frame);
        QFETCH(bool, fin);
        QFETCH(int, opcode);
        QFETCH(QByteArray, payload);
        const int step = frame.size() > 1000 ? 997 : 1;
        for (int n = 0; n < frame.size(); n += step)
            QCOMPARE(WsFrame::parseHybiFrame(frame.left(n)).status, WsParseStatus::Incomplete);
        const WsFrame::HybiParse p = WsFrame::parseHybiFrame(frame + bytes({0x89, 0x00}));
        QCOMPARE(p.status, WsParseStatus::Ok);
        QCOMPARE(p.consumed, frame.size());
        QCOMPARE(p.frame.fin, fin);
        QCOMPARE(int(p.frame.opcode), opcode);
        QCOMPARE(p.frame.payload, payload);
    }

    // A declared length beyond the limit is refused from the header alone, before any payload.
    void parseHybiFrameTooLong_data()
    {
        QTest::addColumn<QByteArray>("header");
        QTest::addRow("64-bit length beyond the limit")
            << WsFrame::frameHeader(true, 2, WsFrame::maxPayloadSize + 1);
        QTest::addRow("64-bit length with the top bit set")
            << bytes({0x82, 0xFF, 0x80, 0, 0, 0, 0, 0, 0, 0x05});
    }

    void parseHybiFrameTooLong()
    {
        QFETCH(QByteArray, header);
        QCOMPARE(WsFrame::parseHybiFrame(header).status, WsParseStatus::Bad);
        QCOMPARE(WsFrame::parseHybiFrame(WsFrame::frameHeader(true, 2, 1000), 999).status,
                 WsParseStatus::Bad);
    }

    void parseHixieFrame_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<WsParseStatus>("status");
        QTest::addColumn<WsFrame::HixieKind>("kind");
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<int>("consumed");
        using K = WsFrame::HixieKind;
        const auto ok = WsParseStatus::Ok;
        QTest::addRow("text") << QByteArray(bytes({0x00}) + "hello" + bytes({0xFF, 0x00})) << ok
                              << K::Text << QByteArray("hello") << 7;
        QTest::addRow("empty text") << bytes({0x00, 0xFF}) << ok << K::Text << QByteArray() << 2;
        QTest::addRow("closing frame")
            << bytes({0xFF, 0x00}) << ok << K::Skipped << QByteArray() << 2;
        QTest::addRow("length frame of 130 bytes")
            << QByteArray(bytes({0xFF, 0x81, 0x02}) + QByteArray(130, 'x') + "rest") << ok
            << K::Skipped << QByteArray() << 133;
        QTest::addRow("unknown frame type")
            << QByteArray("\x41\x42\x00\xFF", 4) << ok << K::Unknown << QByteArray() << 4;
        QTest::addRow("text without its end")
            << QByteArray(bytes({0x00}) + "hel") << WsParseStatus::Incomplete << K::Text
            << QByteArray() << 0;
        QTest::addRow("length not finished")
            << bytes({0xFF, 0x81}) << WsParseStatus::Incomplete << K::Text << QByteArray() << 0;
        QTest::addRow("length frame not all there")
            << QByteArray(bytes({0xFF, 0x05}) + "abc") << WsParseStatus::Incomplete << K::Text
            << QByteArray() << 0;
        QTest::addRow("length beyond the limit")
            << bytes({0xFF, 0x88, 0x80, 0x80, 0x80, 0x01}) << WsParseStatus::Bad << K::Text
            << QByteArray() << 0;
    }

    void parseHixieFrame()
    {
        QFETCH(QByteArray, input);
        QFETCH(WsParseStatus, status);
        QFETCH(WsFrame::HixieKind, kind);
        QFETCH(QByteArray, payload);
        QFETCH(int, consumed);
        const WsFrame::HixieParse p = WsFrame::parseHixieFrame(input);
        QCOMPARE(p.status, status);
        QCOMPARE(p.consumed, consumed);
        if (status != WsParseStatus::Ok)
            return;
        QCOMPARE(p.kind, kind);
        QCOMPARE(p.payload, payload);
    }
};

QTEST_GUILESS_MAIN(TestWsFrame)
#include "tst_wsframe.moc"
