#include "serverharness.h"

#include "masterserver.h"
#include "pgcluster.h"
#include "serverprocess.h"

#include <QDir>
#include <QNetworkDatagram>
#include <QSqlQuery>
#include <QTcpSocket>
#include <QTest>
#include <QUdpSocket>

static const QString kRequestLogged = QStringLiteral("Receive request from: 127.0.0.1");

ServerHarness::ServerHarness(PgCluster &pg) : pg(pg), previousDir(QDir::currentPath()) {}

ServerHarness::~ServerHarness()
{
    qDeleteAll(sockets);
    masterServer.reset();
    QDir::setCurrent(previousDir);
}

bool ServerHarness::start(const QStringList &extraLines)
{
    if (!dir.isValid() ||
        !ServerProcess::writeServerIni(dir.path(), pg.serverIniLines() +
                                                       ServerProcess::freePortLines() + extraLines))
        return false;
    QDir::setCurrent(dir.path());
    masterServer = std::make_unique<MasterServer>(dir.path());
    QObject::connect(masterServer.get(), &MasterServer::writeUILog, masterServer.get(),
                     [this](const QString &msg) { messages.append(msg); });
    masterServer->init();
    return true;
}

int ServerHarness::serverManagerPort() const
{
    return masterServer->serverSettings().ServerManagerPort;
}
int ServerHarness::serverAgentPort() const
{
    return masterServer->serverSettings().ServerAgentPort;
}
int ServerHarness::managerPort() const
{
    return masterServer->serverSettings().ManagerPort;
}
int ServerHarness::agentPort() const
{
    return masterServer->serverSettings().AgentPort;
}
int ServerHarness::webSocketPort() const
{
    return masterServer->serverSettings().WebSocketPort;
}

bool ServerHarness::managerRequest(quint8 type, int adminId, int reference, const QByteArray &file)
{
    auto *socket = new QTcpSocket;
    sockets.append(socket);
    socket->connectToHost(QHostAddress::LocalHost, quint16(serverManagerPort()));
    if (!QTest::qWaitFor([socket] { return socket->state() == QAbstractSocket::ConnectedState; },
                         5000))
        return false;
    const int before = messages.count(kRequestLogged);
    Command request;
    initCommand(request, adminId, type, reference);
    request.payloadLength = file.size();
    socket->write(encodeHeader(request) + file);
    const bool handled =
        QTest::qWaitFor([&] { return messages.count(kRequestLogged) > before; }, 10000);
    socket->disconnectFromHost();
    return handled;
}

bool ServerHarness::agentHello(int uuid, const QString &computerName)
{
    auto *socket = new QTcpSocket;
    sockets.append(socket);
    socket->connectToHost(QHostAddress::LocalHost, quint16(serverAgentPort()));
    if (!QTest::qWaitFor([socket] { return socket->state() == QAbstractSocket::ConnectedState; },
                         5000))
        return false;
    Command hello;
    initCommand(hello, uuid, CommandType::Hello, 0);
    hello.payload = computerName;
    hello.payloadLength = computerName.size();
    socket->write(encodeHeader(hello) + payloadBytes(hello));
    // Without a pending job the server closes as soon as the machine is registered.
    return QTest::qWaitFor(
        [socket] { return socket->state() == QAbstractSocket::UnconnectedState; }, 10000);
}

void ServerHarness::tick()
{
    QMetaObject::invokeMethod(masterServer.get(), "observerTimeoutSlot");
}

bool ServerHarness::waitForMessage(const QString &message, int count, int timeoutMs) const
{
    return QTest::qWaitFor([&] { return messages.count(message) >= count; }, timeoutMs);
}

bool ServerHarness::takeDatagram(QUdpSocket &socket, Command *command, quint16 *senderPort,
                                 int timeoutMs)
{
    if (!socket.hasPendingDatagrams() &&
        !QTest::qWaitFor([&socket] { return socket.hasPendingDatagrams(); }, timeoutMs))
        return false;
    const QNetworkDatagram datagram = socket.receiveDatagram();
    if (senderPort)
        *senderPort = quint16(datagram.senderPort());
    return decodeDatagram(datagram.data(), *command);
}

QList<int> ServerHarness::typesUntilTick(QUdpSocket &socket, int timeoutMs)
{
    QList<int> types;
    Command command;
    while (takeDatagram(socket, &command, nullptr, timeoutMs)) {
        types.append(command.type);
        if (command.type == CommandType::ObserverTick)
            break;
    }
    return types;
}

QList<int> ServerHarness::column(const QString &sql)
{
    QList<int> values;
    QSqlQuery query(sql);
    while (query.next())
        values.append(query.value(0).toInt());
    return values;
}
