#pragma once

#include "command.h"

#include <QObject>
#include <QString>

class QUdpSocket;

// Receives the server's notices to managers: one Command per UDP datagram on the
// manager port. Datagrams that are no valid Command are reported and dropped.
class NoticeListener : public QObject
{
    Q_OBJECT
public:
    explicit NoticeListener(QObject *parent = nullptr);

    // Binds every IPv4 address at port (0 picks a free one, see boundPort()).
    bool listen(int port);
    int boundPort() const;
    QString errorText() const;

    // One line per notice, the same for the same Command:
    // "<type> <name> agentId=<n> reference=<n> value=<n> flag=<n>" and, when the Command
    // carries them, " text=<text>" and " payload=<characters>".
    static QString describe(const Command &notice);

signals:
    void noticeReceived(const Command &notice);
    void datagramRejected(const QString &sender, const QString &reason);

private:
    void readPending();

    QUdpSocket *socket;
    QString error;
};
