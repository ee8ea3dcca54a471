#include "udpserver.h"

#include "agentlog.h"
#include "command.h"

#include <QCoreApplication>
#include <QNetworkDatagram>
#include <QUdpSocket>

UdpServer::UdpServer(const QString &serverAddress, int serverPort, int agentPort,
                     bool negotiateOnStartup, bool showMainWindow, bool pollServer, int timerPeriod,
                     QObject *parent)
    : QObject(parent), serverAddress(serverAddress), serverPort(serverPort), agentPort(agentPort),
      negotiateOnStartup(negotiateOnStartup), showMainWindow(showMainWindow),
      pollServer(pollServer), timerPeriod(timerPeriod)
{
}

bool UdpServer::startListening()
{
    socket = new QUdpSocket(this);
    const QHostAddress any(QHostAddress::AnyIPv4);
    if (!socket->bind(any, quint16(agentPort))) {
        // An agent that cannot hear blind packets must say so rather than claim to listen.
        emit writeLog(QStringLiteral("[ERROR] Unable to listen for blind packets on %1:%2: %3")
                          .arg(any.toString())
                          .arg(agentPort)
                          .arg(socket->errorString()));
        return false;
    }
    connect(socket, &QUdpSocket::readyRead, this, &UdpServer::readPendingDatagrams);
    emit writeLog(
        QStringLiteral("BlindPacket listening: %1:%2").arg(any.toString()).arg(agentPort));
    return true;
}

int UdpServer::authenticate(const QByteArray &datagram)
{
    // Too short for a header: the fields count as 0, so the version check fails.
    Command command;
    if (datagram.size() >= kHeaderSize && !decodeDatagram(datagram, command)) {
        command = Command();
        decodeHeader(datagram, command);
    }
    return checkCommand(command);
}

void UdpServer::readPendingDatagrams()
{
    while (socket->hasPendingDatagrams()) {
        const QNetworkDatagram datagram = socket->receiveDatagram(socket->pendingDatagramSize());
        senderAddress = datagram.senderAddress();
        // Only the configured server may wake the agent; others are dropped without a word.
        if (senderAddress.toString() != serverAddress) {
            qCDebug(lcAgent) << "dropped datagram from" << senderAddress.toString();
            continue;
        }
        emit writeLog(QStringLiteral("UPD packet from : %1 on port %2")
                          .arg(senderAddress.toString())
                          .arg(datagram.senderPort()));
        emit writeLog(QStringLiteral("Receiving blind packet"));
        const int r = authenticate(datagram.data());
        if (r != CheckResult::Valid) {
            emit writeLog(
                QCoreApplication::translate("UdpServer", "UDP package failed to authenticate %1")
                    .arg(r));
            continue;
        }
        emit connectAgentToServer(senderAddress);
    }
}
