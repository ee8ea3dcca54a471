#pragma once

#include "readerwriter.h"

#include <QAbstractSocket>
#include <QObject>

// Server-side end of one exchange on an accepted socket: request, response, report.
class Receiver : public QObject, public ReaderWriter
{
    Q_OBJECT
public:
    explicit Receiver(QAbstractSocket *socket, QObject *parent = nullptr);
    ~Receiver() override;

    void sendResponse(const Command &command);
    // The caller has opened sendFile; the header announces its size.
    void sendResponseWithFile(const Command &command);
    static bool isFileCarrying(quint8 type);
    static int liveCount();

    QAbstractSocket *socket;
    int phase = 1;

signals:
    void writeFileChunkSignal();
    void fileUploadStatusSignal(int percent);
    void closed();

public slots:
    void displayError(QAbstractSocket::SocketError socketError);
    void close();

private slots:
    void receiveRequest();
    void writeFileChunkSlot();
    virtual void fileUploadStatusSlot(int percent);

protected:
    virtual void processRequest(Command command) = 0;
    virtual void buildResponse(Command &command) = 0;
    virtual void processReport(Command command) = 0;
    virtual void logMessage(const QString &message) = 0;

    QString peerText() const;
    bool isClosed() const { return closing; }

private:
    bool closing = false;
};
