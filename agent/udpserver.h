#pragma once

#include <QHostAddress>
#include <QObject>
#include <QString>

class QUdpSocket;

// Waits for the server's blind packets and asks the agent to connect when one arrives.
class UdpServer : public QObject
{
    Q_OBJECT
public:
    UdpServer(const QString &serverAddress, int serverPort, int agentPort, bool negotiateOnStartup,
              bool showMainWindow, bool pollServer, int timerPeriod, QObject *parent = nullptr);

    // Binds the agent port; the owner connects the signals first so the first line is seen.
    bool startListening();
    // The check result of a datagram: 0 when it is a well-formed Command, else 28 or 29.
    static int authenticate(const QByteArray &datagram);

    QString serverAddress;
    int serverPort;
    int agentPort;
    bool negotiateOnStartup;
    bool showMainWindow;
    bool pollServer;
    int timerPeriod;
    QUdpSocket *socket = nullptr;
    QHostAddress senderAddress;

signals:
    void connectAgentToServer(QHostAddress address);
    void writeLog(QString msg);

private slots:
    void readPendingDatagrams();
};
