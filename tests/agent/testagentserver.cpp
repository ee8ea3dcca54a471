#include "testagentserver.h"

#include "receiver.h"

#include <QTcpSocket>

namespace
{

class TestServerReceiver : public Receiver
{
public:
    TestServerReceiver(QAbstractSocket *socket, TestAgentServer *server)
        : Receiver(socket), server(server)
    {
        connect(socket, &QAbstractSocket::disconnected, server, [this, server] {
            if (waitingForAgent) {
                ++server->closedByAgent;
                emit server->agentClosed();
            }
        });
    }

protected:
    void processRequest(Command command) override
    {
        const int index = server->requests.size();
        server->requests << command;
        answer = server->policy ? server->policy(command, index) : TestAgentServer::close();
        emit server->requestReceived();
        switch (answer.kind) {
        case TestAgentServer::Answer::Close:
            close();
            return;
        case TestAgentServer::Answer::Silent:
            waitingForAgent = true;
            return;
        case TestAgentServer::Answer::Respond:
            break;
        }
        Command response;
        buildResponse(response);
        if (!answer.file.isEmpty()) {
            sendFile.setFileName(answer.file);
            sendFile.open(QIODevice::ReadOnly);
            response.payloadLength = qint32(sendFile.size());
            sendResponseWithFile(response);
        } else {
            sendResponse(response);
        }
        waitingForAgent = answer.keepOpenAfterReport;
        if (answer.closeAfterResponse)
            close();
    }
    void buildResponse(Command &command) override { command = answer.response; }
    void processReport(Command command) override
    {
        server->reports << command;
        emit server->reportReceived();
        if (!answer.keepOpenAfterReport)
            close();
    }
    void logMessage(const QString &message) override { server->log << message; }

private:
    TestAgentServer *server;
    TestAgentServer::Answer answer;
    bool waitingForAgent = false;
};

} // namespace

TestAgentServer::TestAgentServer(QObject *parent) : QTcpServer(parent) {}

bool TestAgentServer::start()
{
    return listen(QHostAddress::LocalHost, 0);
}

TestAgentServer::Answer TestAgentServer::respond(quint8 type, qint32 agentId, bool keepOpen)
{
    Answer a;
    a.kind = Answer::Respond;
    a.keepOpenAfterReport = keepOpen;
    initCommand(a.response, agentId, type, 0);
    return a;
}

TestAgentServer::Answer TestAgentServer::silent()
{
    Answer a;
    a.kind = Answer::Silent;
    return a;
}

void TestAgentServer::incomingConnection(qintptr descriptor)
{
    auto *socket = new QTcpSocket;
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    new TestServerReceiver(socket, this);
}
