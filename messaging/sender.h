#pragma once

#include "readerwriter.h"

#include <QAbstractSocket>
#include <QObject>

class QTcpSocket;

// Agent-side end of one exchange: request, response, report, then closed and released.
class Sender : public QObject, public ReaderWriter
{
    Q_OBJECT
public:
    Sender(const QString &host, int port, QObject *parent = nullptr);
    ~Sender() override;

    void openConnection();
    static bool isFileCarrying(quint8 type);
    // Endpoints alive in this process; a long-running agent must come back to zero.
    static int liveCount();

    int state = 0;
    int port;
    QString host;
    QTcpSocket *socket = nullptr;

signals:
    void writeFileChunkSignal();
    void fileUploadStatusSignal(int percent);
    // Emitted once by close(), before the endpoint drops its connections.
    void closed();

public slots:
    void sendRequest();
    void receiveResponse();
    void displayError(QAbstractSocket::SocketError socketError);
    void close();

private slots:
    void writeFileChunkSlot();
    virtual void fileUploadStatusSlot(int percent);

protected:
    virtual Command buildRequest() = 0;
    virtual void processResponse(Command command) = 0;
    virtual Command makeCommand(quint8 type, quint16 value) = 0;
    virtual void logMessage(const QString &message) = 0;
    virtual void socketErrorOccurred();

    bool isClosed() const { return closing; }

private:
    bool closing = false;
};
