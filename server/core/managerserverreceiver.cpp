#include "managerserverreceiver.h"

#include "masterserver.h"
#include "sqltext.h"

#include <QFile>
#include <QSqlQuery>
#include <QTcpSocket>

ManagerServerReceiver::ManagerServerReceiver(QTcpSocket *socket, MasterServer *masterServer)
    : Receiver(socket)
{
    connect(this, &ManagerServerReceiver::writeLog, masterServer, &MasterServer::writeLog);
    connect(this, &ManagerServerReceiver::signalJobCheck, masterServer,
            qOverload<int>(&MasterServer::jobCheck));
    connect(this, &ManagerServerReceiver::signalDiscoveryCheck, masterServer,
            &MasterServer::discoveryCheck);
    connect(this, &ManagerServerReceiver::connectedAdminSignal, masterServer,
            &MasterServer::managerConnected);
    connect(this, &ManagerServerReceiver::reportToManager, masterServer,
            &MasterServer::informAdmins);
    // A connection that ends before its request is complete leaves no half file behind.
    connect(this, &Receiver::closed, this, [this] {
        if (phase == 1)
            discardUpload();
    });
}

void ManagerServerReceiver::fileUploadStatusSlot(int) {}

void ManagerServerReceiver::logMessage(const QString &message)
{
    emit writeLog(message);
}

void ManagerServerReceiver::buildResponse(Command &) {}

void ManagerServerReceiver::processReport(Command report)
{
    // Only the first request counts; a file sent after it has no use and is not kept.
    if (isFileCarrying(report.type))
        discardUpload();
}

void ManagerServerReceiver::processRequest(Command request)
{
    const int uid = request.agentId;
    QSqlQuery user =
        SqlText(QStringLiteral("SELECT * FROM users WHERE id='%1'")).number(uid).exec();
    if (!user.next()) {
        // Requests of unknown administrators are ignored, and so is what they uploaded.
        if (isFileCarrying(request.type))
            discardUpload();
        dropSignalConnections();
        return;
    }

    switch (request.type) {
    case CommandType::FileUpload:
        if (!storeUploadedInstaller(request.reference)) {
            discardUpload();
        } else if (!QFile::rename(fileName, uploadTarget)) {
            logMessage(QStringLiteral("Unable to move uploaded installer to: ") + uploadTarget);
            discardUpload();
        }
        break;
    case CommandType::DeleteApplication:
        deleteApplication(request.reference);
        break;
    case CommandType::Identity:
        emit connectedAdminSignal(peerText());
        emit signalDiscoveryCheck();
        break;
    case CommandType::ManagerHello:
    case CommandType::Discovery:
        emit connectedAdminSignal(peerText());
        break;
    case CommandType::Hello:
        emit connectedAdminSignal(peerText());
        emit signalJobCheck(uid);
        break;
    default:
        break;
    }
    dropSignalConnections();
}

void ManagerServerReceiver::discardUpload()
{
    if (!fileName.isEmpty() && QFile::exists(fileName))
        QFile::remove(fileName);
}

void ManagerServerReceiver::dropSignalConnections()
{
    // Only the five outward signals: the endpoint's own wiring stays so that the handler can
    // still close and release itself, and nothing here touches the server object.
    disconnect(this, &ManagerServerReceiver::writeLog, nullptr, nullptr);
    disconnect(this, &ManagerServerReceiver::signalJobCheck, nullptr, nullptr);
    disconnect(this, &ManagerServerReceiver::signalDiscoveryCheck, nullptr, nullptr);
    disconnect(this, &ManagerServerReceiver::connectedAdminSignal, nullptr, nullptr);
    disconnect(this, &ManagerServerReceiver::reportToManager, nullptr, nullptr);
}
