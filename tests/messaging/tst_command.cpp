#include "command.h"
#include "readerwriter.h"

#include <QBuffer>
#include <QThread>
#include <QtTest>

class TestCommand : public QObject
{
    Q_OBJECT
private slots:
    void blindPacketWorkedExample();
    void headerFieldOffsets_data();
    void headerFieldOffsets();
    void emptyPayloadIsHeaderOnly();
    void nullStringDatagram();
    void datagramRoundTrip();
    void checkCommand_data();
    void checkCommand();
    void textIsCutToHundredBytes_data();
    void textIsCutToHundredBytes();
    void everyByteSurvivesPayload();
    void headerRoundTripThroughDevice();
    void queuedCopyKeepsEverything();
};

static QByteArray hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text));
}

void TestCommand::blindPacketWorkedExample()
{
    Command c;
    initCommand(c, 1, CommandType::BlindPacket, 5);
    c.payload = QStringLiteral("BPacket");
    c.payloadLength = c.payload.size();
    const QByteArray bytes = encodeDatagram(c);
    QCOMPARE(bytes.size(), 136);
    QCOMPARE(bytes.left(14), hex("01AA0000000100000005" "0B" "0000" "00"));
    QCOMPARE(bytes.mid(14, 100), QByteArray(100, '\0'));
    QCOMPARE(bytes.mid(114, 4), hex("00000007"));
    QCOMPARE(bytes.mid(118), hex("0000000E" "0042005000610063006B00650074"));

    Command back;
    QVERIFY(decodeDatagram(bytes, back));
    QCOMPARE(back.reference, 5);
    QCOMPARE(back.type, quint8(CommandType::BlindPacket));
    QCOMPARE(back.payload, QStringLiteral("BPacket"));
}

void TestCommand::headerFieldOffsets_data()
{
    QTest::addColumn<int>("field");
    QTest::addColumn<qint64>("number");
    QTest::addColumn<int>("offset");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addRow("value 236") << 0 << qint64(236) << 11 << hex("00EC");
    QTest::addRow("value 65535") << 0 << qint64(65535) << 11 << hex("FFFF");
    QTest::addRow("agentId -1") << 1 << qint64(-1) << 2 << hex("FFFFFFFF");
    QTest::addRow("reference 0x01020304") << 2 << qint64(0x01020304) << 6 << hex("01020304");
    QTest::addRow("flag 200") << 3 << qint64(200) << 13 << hex("C8");
    QTest::addRow("payloadLength 70000") << 4 << qint64(70000) << 114 << hex("00011170");
}

void TestCommand::headerFieldOffsets()
{
    QFETCH(int, field);
    QFETCH(qint64, number);
    QFETCH(int, offset);
    QFETCH(QByteArray, bytes);
    Command c;
    initCommand(c, 0, CommandType::JobResult, 0);
    switch (field) {
    case 0: c.value = quint16(number); break;
    case 1: c.agentId = qint32(number); break;
    case 2: c.reference = qint32(number); break;
    case 3: c.flag = quint8(number); break;
    case 4: c.payloadLength = qint32(number); break;
    }
    const QByteArray header = encodeHeader(c);
    QCOMPARE(header.size(), kHeaderSize);
    QCOMPARE(header.mid(offset, bytes.size()), bytes);
    Command back;
    QVERIFY(decodeHeader(header, back));
    QCOMPARE(encodeHeader(back), header);
}

void TestCommand::emptyPayloadIsHeaderOnly()
{
    Command c;
    initCommand(c, 7, CommandType::Hello, 0);
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    ReaderWriter::writeCommand(c, &buffer);
    QCOMPARE(buffer.data().size(), 118);
    QCOMPARE(buffer.data().mid(114, 4), hex("00000000"));
}

void TestCommand::nullStringDatagram()
{
    Command c;
    initCommand(c, 1, CommandType::BlindPacket, 0);
    QVERIFY(c.payload.isNull());
    const QByteArray bytes = encodeDatagram(c);
    QCOMPARE(bytes.size(), 122);
    QCOMPARE(bytes.mid(118), hex("FFFFFFFF"));
    Command back;
    QVERIFY(decodeDatagram(bytes, back));
    QVERIFY(back.payload.isNull());
}

void TestCommand::datagramRoundTrip()
{
    Command c;
    initCommand(c, 42, CommandType::JobResult, 9);
    c.value = ResultCode::Succeeded;
    setCommandText(c, QStringLiteral("r\u00e9sum\u00e9"));
    c.payload = QStringLiteral("output \u20ac with UTF-16 beyond Latin-1");
    c.payloadLength = c.payload.size();
    Command back;
    QVERIFY(decodeDatagram(encodeDatagram(c), back));
    QCOMPARE(back.agentId, 42);
    QCOMPARE(back.value, quint16(236));
    QCOMPARE(commandText(back), QStringLiteral("r\u00e9sum\u00e9"));
    QCOMPARE(back.payload, c.payload);
    QVERIFY(!decodeDatagram(encodeHeader(c), back));
}

void TestCommand::checkCommand_data()
{
    QTest::addColumn<QByteArray>("start");
    QTest::addColumn<int>("result");
    QTest::addRow("valid") << hex("01AA") << 0;
    QTest::addRow("version 2 with good signature") << hex("02AA") << 28;
    QTest::addRow("version 0 and bad signature") << hex("0000") << 28;
    QTest::addRow("bad signature") << hex("01AB") << 29;
}

void TestCommand::checkCommand()
{
    QFETCH(QByteArray, start);
    QFETCH(int, result);
    Command c;
    initCommand(c, 0, CommandType::Hello, 0);
    QByteArray header = encodeHeader(c);
    header.replace(0, 2, start);
    Command back;
    QVERIFY(decodeHeader(header, back));
    QCOMPARE(::checkCommand(back), result);
}

void TestCommand::textIsCutToHundredBytes_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("kept");
    QTest::addRow("short") << 5 << 5;
    QTest::addRow("99 keeps its terminator") << 99 << 99;
    QTest::addRow("exactly 100") << 100 << 100;
    QTest::addRow("150") << 150 << 100;
}

void TestCommand::textIsCutToHundredBytes()
{
    QFETCH(int, length);
    QFETCH(int, kept);
    QString text;
    for (int i = 0; i < length; ++i)
        text += QChar(QLatin1Char(char('a' + i % 26)));
    Command c;
    initCommand(c, 0, CommandType::CommandLine, 0);
    setCommandText(c, text);
    const QByteArray header = encodeHeader(c);
    QCOMPARE(header.mid(14, kept), text.left(kept).toLatin1());
    if (kept < 100)
        QCOMPARE(header.mid(14 + kept), QByteArray(100 - kept, '\0') + hex("00000000"));
    Command back;
    QVERIFY(decodeHeader(header, back));
    QCOMPARE(commandText(back), text.left(kept));
}

void TestCommand::everyByteSurvivesPayload()
{
    QByteArray all;
    for (int i = 0; i < 256; ++i)
        all.append(char(i));
    Command c;
    initCommand(c, 0, CommandType::JobResult, 0);
    c.payload = QString::fromLatin1(all.constData(), all.size());
    c.payloadLength = payloadBytes(c).size();
    QBuffer buffer;
    buffer.open(QIODevice::ReadWrite);
    ReaderWriter::writeCommand(c, &buffer);
    QCOMPARE(buffer.data().mid(kHeaderSize), all);
    buffer.seek(0);
    Command back;
    QVERIFY(ReaderWriter::readHeader(back, &buffer));
    ReaderWriter::appendPayload(back, &buffer);
    QCOMPARE(back.payloadLength, 256);
    QCOMPARE(back.payload.toLatin1(), all);
}

void TestCommand::headerRoundTripThroughDevice()
{
    Command c;
    initCommand(c, -1, CommandType::NoJob, 123456);
    c.value = 0xBEEF;
    c.flag = 0xFF;
    setCommandTextBytes(c, QByteArray("\xff\x01text", 6));
    QBuffer buffer;
    buffer.open(QIODevice::ReadWrite);
    ReaderWriter::writeHeader(c, &buffer);
    buffer.seek(0);
    Command back;
    QVERIFY(ReaderWriter::readHeader(back, &buffer));
    QCOMPARE(encodeHeader(back), encodeHeader(c));
    QCOMPARE(back.value, quint16(0xBEEF));
}

class Relay : public QObject
{
    Q_OBJECT
signals:
    void carry(Command command);
public slots:
    void take(Command command)
    {
        received = command;
        QThread::currentThread()->quit();
    }

public:
    Command received;
};

void TestCommand::queuedCopyKeepsEverything()
{
    registerCommandMetaType();
    Command c;
    initCommand(c, 17, CommandType::AlarmReport, 3);
    c.value = 25;
    c.flag = 80;
    setCommandText(c, QStringLiteral("notepad.exe"));
    c.payload = QStringLiteral("<Alarms/>");
    c.payloadLength = 9;

    QThread thread;
    Relay sender;
    Relay receiver;
    receiver.moveToThread(&thread);
    connect(&sender, &Relay::carry, &receiver, &Relay::take, Qt::QueuedConnection);
    thread.start();
    emit sender.carry(c);
    QVERIFY(thread.wait(5000));
    QCOMPARE(encodeHeader(receiver.received), encodeHeader(c));
    QCOMPARE(receiver.received.payload, c.payload);
}

QTEST_GUILESS_MAIN(TestCommand)
#include "tst_command.moc"
