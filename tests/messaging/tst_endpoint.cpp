#include "receiver.h"
#include "sender.h"

#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

// Server-side handler under test: records what it gets and answers as told.
class TestReceiver : public Receiver
{
    Q_OBJECT
public:
    enum Answer { TextAnswer, FileAnswer, NoAnswer };
    // Outlives the handler, which releases itself once its connection closes.
    struct Journal {
        QStringList log;
        QList<Command> requests;
        QList<Command> reports;
        QList<int> progress;
        QString receivedFile;
    };
    TestReceiver(QAbstractSocket *socket, Answer answer, const QString &file, Journal *journal)
        : Receiver(socket), answer(answer), file(file), j(journal)
    {
    }

protected:
    void processRequest(Command command) override
    {
        j->requests << command;
        j->receivedFile = fileName;
        Command response;
        buildResponse(response);
        if (answer == NoAnswer) {
            close();
        } else if (answer == FileAnswer) {
            sendFile.setFileName(file);
            sendFile.open(QIODevice::ReadOnly);
            response.payloadLength = qint32(sendFile.size());
            sendResponseWithFile(response);
        } else {
            sendResponse(response);
        }
    }
    void buildResponse(Command &command) override
    {
        initCommand(command, 77, answer == FileAnswer ? CommandType::Deploy
                                                      : CommandType::CommandLine, 0);
        setCommandText(command, QStringLiteral("echo hi"));
        command.payload = QStringLiteral("response-body");
        command.payloadLength = command.payload.size();
    }
    // As the real server does, the exchange ends with the report.
    void processReport(Command command) override
    {
        j->reports << command;
        close();
    }
    void logMessage(const QString &message) override { j->log << message; }
    void fileUploadStatusSlot(int percent) override { j->progress << percent; }

private:
    Answer answer;
    QString file;
    Journal *j;
};

// Agent-side endpoint under test: sends its request, records the response, reports.
class TestSender : public Sender
{
    Q_OBJECT
public:
    TestSender(quint16 port, const Command &request) : Sender(QStringLiteral("127.0.0.1"), port),
          request(request)
    {
    }
    Command request;
    QStringList log;
    QList<Command> responses;
    QString receivedFile;
    QList<int> progress;
    bool sendReport = true;

    void start() { openConnection(); }

protected:
    Command buildRequest() override { return request; }
    void processResponse(Command command) override
    {
        responses << command;
        receivedFile = fileName;
        if (sendReport) {
            Command report = makeCommand(CommandType::JobResult, ResultCode::Succeeded);
            report.payload = QStringLiteral("hello\n\n");
            report.payloadLength = report.payload.size();
            writeCommand(report, socket);
        }
    }
    Command makeCommand(quint8 type, quint16 value) override
    {
        Command c;
        initCommand(c, 77, type, 0);
        c.value = value;
        return c;
    }
    void logMessage(const QString &message) override { log << message; }
    void fileUploadStatusSlot(int percent) override { progress << percent; }
};

class TestEndpoint : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void pieces_data();
    void pieces();
    void refusedHeaders_data();
    void refusedHeaders();
    void fullExchange();
    void fileResponseInChunks();
    void fileRequestToServer();
    void serverClosesWithoutAnswer();
    void refusedConnectionIsReleased();
    void sameMillisecondNamesDiffer();
    void unwritableUploadDirectoryCloses();
    void endpointsAreReleased();

private:
    void listen(TestReceiver::Answer answer, const QString &file = QString());
    Command hello(const QString &payload = QStringLiteral("HOST")) const;
    QByteArray wire(const Command &c) const;

    QTemporaryDir dir;
    QTcpServer server;
    std::list<TestReceiver::Journal> journals;
    QList<QPointer<TestReceiver>> receivers;
    TestReceiver::Answer answer = TestReceiver::TextAnswer;
    QString answerFile;
};

void TestEndpoint::initTestCase()
{
    registerCommandMetaType();
    QVERIFY(dir.isValid());
    QVERIFY(QDir::setCurrent(dir.path()));
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    connect(&server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *s = server.nextPendingConnection())
        {
            journals.emplace_back();
            receivers << new TestReceiver(s, answer, answerFile, &journals.back());
        }
    });
}

void TestEndpoint::init()
{
    receivers.clear();
    journals.clear();
    answer = TestReceiver::TextAnswer;
}

void TestEndpoint::cleanup()
{
    for (auto &r : receivers)
        if (r)
            r->close();
    QTRY_COMPARE(Receiver::liveCount(), 0);
    QTRY_COMPARE(Sender::liveCount(), 0);
}

void TestEndpoint::listen(TestReceiver::Answer a, const QString &file)
{
    answer = a;
    answerFile = file;
}

Command TestEndpoint::hello(const QString &payload) const
{
    Command c;
    initCommand(c, 0, CommandType::Hello, 0);
    c.value = 6722;
    c.payload = payload;
    c.payloadLength = payload.size();
    return c;
}

QByteArray TestEndpoint::wire(const Command &c) const
{
    return encodeHeader(c) + payloadBytes(c);
}

// Raw bytes written in separate segments reach the handler as one request.
void TestEndpoint::pieces_data()
{
    QTest::addColumn<QList<int>>("cuts");
    QTest::addColumn<int>("extra");
    QTest::addRow("whole") << QList<int>{} << 0;
    QTest::addRow("header split at 50") << QList<int>{50} << 0;
    QTest::addRow("header split at 117") << QList<int>{117} << 0;
    QTest::addRow("payload in three segments") << QList<int>{130, 2000, 5000} << 0;
    QTest::addRow("extra bytes after payload") << QList<int>{} << 17;
}

void TestEndpoint::pieces()
{
    QFETCH(QList<int>, cuts);
    QFETCH(int, extra);
    QString body;
    for (int i = 0; i < 8000; ++i)
        body += QChar(QLatin1Char(char(i % 256)));
    Command request = hello(body);
    const QByteArray bytes = wire(request) + QByteArray(extra, 'x');

    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, server.serverPort());
    QVERIFY(client.waitForConnected(5000));
    QTRY_COMPARE(int(journals.size()), 1);
    int from = 0;
    for (int cut : cuts) {
        client.write(bytes.mid(from, cut - from));
        QVERIFY(client.waitForBytesWritten(5000));
        from = cut;
        QTest::qWait(30);
        if (cut < kHeaderSize)
            QVERIFY(journals.front().requests.isEmpty());
    }
    client.write(bytes.mid(from));
    QTRY_COMPARE(journals.front().requests.size(), 1);
    const Command got = journals.front().requests[0];
    QCOMPARE(got.payload.left(body.size()), body);
    QCOMPARE(got.payload.size(), body.size() + extra);
    QCOMPARE(journals.front().log.count(QStringLiteral("Receive request from: 127.0.0.1")), 1);
}

void TestEndpoint::refusedHeaders_data()
{
    QTest::addColumn<int>("version");
    QTest::addColumn<int>("signature");
    QTest::addColumn<qint32>("length");
    QTest::addColumn<QString>("line");
    QTest::addRow("bad version") << 2 << 0xAA << 0 << "Received Command Error: 28";
    QTest::addRow("bad signature") << 1 << 0xAB << 0 << "Received Command Error: 29";
    QTest::addRow("negative length") << 1 << 0xAA << -5
                                     << "Refused payload length -5 of type 12";
    QTest::addRow("text beyond limit") << 1 << 0xAA << kMaxTextPayload + 1
                                       << "Refused text payload of 67108865 bytes (limit "
                                          "67108864) of type 12";
}

void TestEndpoint::refusedHeaders()
{
    QFETCH(int, version);
    QFETCH(int, signature);
    QFETCH(qint32, length);
    QFETCH(QString, line);
    Command c = hello(QString());
    c.version = quint8(version);
    c.signature = quint8(signature);
    c.payloadLength = length;

    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, server.serverPort());
    QVERIFY(client.waitForConnected(5000));
    client.write(encodeHeader(c));
    QTRY_COMPARE(client.state(), QAbstractSocket::UnconnectedState);
    QCOMPARE(int(journals.size()), 1);
    QTRY_VERIFY(journals.front().log.contains(line));
    QTRY_COMPARE(Receiver::liveCount(), 0);
}

void TestEndpoint::fullExchange()
{
    auto *sender = new TestSender(server.serverPort(), hello());
    QStringList senderLog;
    QList<Command> responses;
    connect(sender, &Sender::closed, this, [&] {
        senderLog = sender->log;
        responses = sender->responses;
    });
    sender->start();
    QTRY_VERIFY(!journals.empty() && journals.front().reports.size() == 1);
    const QStringList serverLog = journals.front().log;
    QCOMPARE(journals.front().requests[0].payload, QStringLiteral("HOST"));
    QCOMPARE(journals.front().reports[0].value, quint16(236));
    QCOMPARE(journals.front().reports[0].payload, QStringLiteral("hello\n\n"));
    QCOMPARE(serverLog.mid(0, 3),
             (QStringList{"Receive request from: 127.0.0.1", "Send response to: 127.0.0.1",
                          "Receive report from: 127.0.0.1"}));
    if (receivers[0])
        receivers[0]->close();
    QTRY_COMPARE(Sender::liveCount(), 0);
    QCOMPARE(senderLog.mid(0, 2),
             (QStringList{"Send request to: 127.0.0.1", "Receive response from: 127.0.0.1"}));
    QCOMPARE(responses.size(), 1);
    QCOMPARE(commandText(responses[0]), QStringLiteral("echo hi"));
    QCOMPARE(responses[0].payload, QStringLiteral("response-body"));
}

static QByteArray patternBytes(int size)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 7 + i / 256) & 0xFF);
    return bytes;
}

void TestEndpoint::fileResponseInChunks()
{
    const QByteArray content = patternBytes(250000);
    QFile source(dir.filePath(QStringLiteral("installer.bin")));
    QVERIFY(source.open(QIODevice::WriteOnly));
    source.write(content);
    source.close();
    listen(TestReceiver::FileAnswer, source.fileName());

    auto *sender = new TestSender(server.serverPort(), hello());
    sender->sendReport = false;
    QString received;
    connect(sender, &Sender::closed, this, [&] { received = sender->receivedFile; });
    sender->start();
    QTRY_VERIFY(!journals.empty() && journals.front().progress.size() == 4);
    QCOMPARE(journals.front().progress, (QList<int>{40, 80, 100, 100}));
    if (receivers[0])
        receivers[0]->close();
    QTRY_COMPARE(Sender::liveCount(), 0);

    QVERIFY(received.startsWith(dir.path() + QLatin1String("/upload/")));
    QVERIFY(received.endsWith(QLatin1String(".tmp")));
    QFile got(received);
    QVERIFY(got.open(QIODevice::ReadOnly));
    QCOMPARE(got.readAll(), content);
}

void TestEndpoint::fileRequestToServer()
{
    const QByteArray content = patternBytes(123457);
    QFile source(dir.filePath(QStringLiteral("upload-me.zip")));
    QVERIFY(source.open(QIODevice::WriteOnly));
    source.write(content);
    source.close();

    Command request;
    initCommand(request, 3, CommandType::FileUpload, 12);
    request.payloadLength = content.size();
    auto *sender = new TestSender(server.serverPort(), request);
    sender->sendReport = false;
    sender->sendFile.setFileName(source.fileName());
    QVERIFY(sender->sendFile.open(QIODevice::ReadOnly));
    QList<int> progress;
    connect(sender, &Sender::fileUploadStatusSignal, this, [&](int p) { progress << p; });
    sender->start();
    QTRY_VERIFY(!journals.empty() && journals.front().requests.size() == 1);
    QCOMPARE(journals.front().requests[0].reference, 12);
    QFile got(journals.front().receivedFile);
    QVERIFY(got.open(QIODevice::ReadOnly));
    QCOMPARE(got.readAll(), content);
    QCOMPARE(progress.last(), 100);
    if (receivers[0])
        receivers[0]->close();
}

void TestEndpoint::serverClosesWithoutAnswer()
{
    listen(TestReceiver::NoAnswer);
    auto *sender = new TestSender(server.serverPort(), hello());
    int responses = -1;
    QStringList log;
    connect(sender, &Sender::closed, this, [&] {
        responses = sender->responses.size();
        log = sender->log;
    });
    sender->start();
    QTRY_COMPARE(Sender::liveCount(), 0);
    QCOMPARE(responses, 0);
    QVERIFY(!log.contains(QStringLiteral("Receive response from: 127.0.0.1")));
}

void TestEndpoint::refusedConnectionIsReleased()
{
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
    const quint16 port = closed.serverPort();
    closed.close();
    auto *sender = new TestSender(port, hello());
    QStringList log;
    connect(sender, &Sender::closed, this, [&] { log = sender->log; });
    sender->start();
    QTRY_COMPARE(Sender::liveCount(), 0);
    QVERIFY(log.contains(QStringLiteral("The connection was refused by the peer host.")));
}

// Exposes the temporary-file naming for a direct check.
class NamingProbe : public ReaderWriter
{
public:
    QString next()
    {
        QString failure;
        if (!openReceiveFile(&failure))
            return failure;
        receiveFile.close();
        return fileName;
    }
};

void TestEndpoint::sameMillisecondNamesDiffer()
{
    NamingProbe a;
    NamingProbe b;
    const QString first = a.next();
    const QString second = b.next();
    QVERIFY(first.endsWith(QLatin1String(".tmp")));
    QVERIFY(second.endsWith(QLatin1String(".tmp")));
    QVERIFY(first != second);
}

void TestEndpoint::unwritableUploadDirectoryCloses()
{
    QTemporaryDir other;
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(other.path()));
    QFile blocker(other.filePath(QStringLiteral("upload")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();

    Command c;
    initCommand(c, 1, CommandType::FileUpload, 4);
    c.payloadLength = 1000;
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, server.serverPort());
    QVERIFY(client.waitForConnected(5000));
    client.write(encodeHeader(c) + QByteArray(500, 'z'));
    QTRY_COMPARE(client.state(), QAbstractSocket::UnconnectedState);
    QDir::setCurrent(previous);
    QTRY_VERIFY(receivers[0].isNull() ||
                journals.front().log.filter(QStringLiteral("Unable to create directory")).size());
}

// A long-running agent or server must not accumulate finished endpoints.
void TestEndpoint::endpointsAreReleased()
{
    const int exchanges = 200;
    for (int i = 0; i < exchanges; ++i) {
        (new TestSender(server.serverPort(), hello()))->start();
        if (i % 20 == 19)
            QTRY_VERIFY_WITH_TIMEOUT(int(journals.size()) == i + 1, 10000);
    }
    QTRY_VERIFY_WITH_TIMEOUT(Sender::liveCount() == 0 && Receiver::liveCount() == 0, 20000);
    int reports = 0;
    for (const auto &j : journals)
        reports += j.reports.size();
    QCOMPARE(reports, exchanges);
}

QTEST_GUILESS_MAIN(TestEndpoint)
#include "tst_endpoint.moc"
