#include "noticelistener.h"

#include "jobcodes.h"

#include <QNetworkDatagram>
#include <QUdpSocket>

NoticeListener::NoticeListener(QObject *parent) : QObject(parent), socket(new QUdpSocket(this))
{
    connect(socket, &QUdpSocket::readyRead, this, &NoticeListener::readPending);
}

bool NoticeListener::listen(int port)
{
    if (!socket->bind(QHostAddress(QHostAddress::AnyIPv4), quint16(port))) {
        error = socket->errorString();
        return false;
    }
    return true;
}

int NoticeListener::boundPort() const
{
    return socket->localPort();
}

QString NoticeListener::errorText() const
{
    return error;
}

void NoticeListener::readPending()
{
    while (socket->hasPendingDatagrams()) {
        const QNetworkDatagram datagram = socket->receiveDatagram();
        const QString sender = datagram.senderAddress().toString();
        Command notice;
        if (!decodeDatagram(datagram.data(), notice)) {
            emit datagramRejected(
                sender,
                QStringLiteral("not a Command datagram (%1 bytes)").arg(datagram.data().size()));
            continue;
        }
        const int check = checkCommand(notice);
        if (check != CheckResult::Valid) {
            emit datagramRejected(sender, QStringLiteral("check failed with %1").arg(check));
            continue;
        }
        emit noticeReceived(notice);
    }
}

QString NoticeListener::describe(const Command &notice)
{
    QString line = QStringLiteral("%1 %2 agentId=%3 reference=%4 value=%5 flag=%6")
                       .arg(notice.type)
                       .arg(JobCodes::noticeTypeName(notice.type))
                       .arg(notice.agentId)
                       .arg(notice.reference)
                       .arg(notice.value)
                       .arg(notice.flag);
    const QString text = commandText(notice);
    if (!text.isEmpty())
        line += QStringLiteral(" text=") + text;
    if (!notice.payload.isEmpty())
        line += QStringLiteral(" payload=%1").arg(notice.payload.size());
    return line;
}
