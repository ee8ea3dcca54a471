#pragma once

#include "command.h"

#include <QList>
#include <QTcpServer>
#include <functional>

// Plays the server side of the agent's exchanges over loopback and records what arrives.
class TestAgentServer : public QTcpServer
{
    Q_OBJECT
public:
    // What to do with one request.
    struct Answer {
        enum Kind { Respond, Close, Silent } kind = Close;
        Command response;
        // For file-carrying responses: the file sent as payload.
        QString file;
        // The server leaves the connection open after its response (and the report, if any),
        // so only the agent can end the exchange.
        bool keepOpenAfterReport = false;
        // The server closes right after its response, as one that goes away mid-job would.
        bool closeAfterResponse = false;
    };
    using Policy = std::function<Answer(const Command &request, int index)>;

    explicit TestAgentServer(QObject *parent = nullptr);
    bool start();

    static Answer respond(quint8 type, qint32 agentId = 0, bool keepOpen = false);
    static Answer close() { return Answer(); }
    static Answer silent();

    Policy policy;
    QList<Command> requests;
    QList<Command> reports;
    // Connections the agent ended on its own while the server kept them open.
    int closedByAgent = 0;
    QStringList log;

signals:
    void requestReceived();
    void reportReceived();
    void agentClosed();

protected:
    void incomingConnection(qintptr descriptor) override;
};
