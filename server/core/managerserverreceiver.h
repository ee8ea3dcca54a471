#pragma once

#include "command.h"
#include "receiver.h"

#include <QString>

class MasterServer;
class QTcpSocket;

// Handles one manager connection: checks that the sender is a known administrator, then acts
// on its single request (an uploaded installer, a deleted application, a presence notice that
// may ask for a discovery or a job check). Nothing is sent back.
class ManagerServerReceiver : public Receiver
{
    Q_OBJECT
public:
    ManagerServerReceiver(QTcpSocket *socket, MasterServer *masterServer);

    // Deletes a directory with everything below it; failures are ignored. A symbolic link is
    // removed as a link, never followed, so nothing outside the tree is touched.
    static void removeDirectoryTree(const QString &path);
    // A name that can stand as one directory or file name below upload/ and nothing more.
    static bool isSafeUploadName(const QString &name);

    // Where the last accepted upload goes; empty when the upload was refused.
    QString uploadTarget;

signals:
    void writeLog(QString Msg);
    void signalJobCheck(int uid);
    void signalDiscoveryCheck();
    void connectedAdminSignal(QString managerIp);
    void reportToManager(TCommand *command);

private slots:
    // Managers only send to the server, so there is no send progress to follow.
    void fileUploadStatusSlot(int progressPercentage) override;

protected:
    void processRequest(Command request) override;
    void buildResponse(Command &response) override;
    void processReport(Command report) override;
    void logMessage(const QString &message) override;

private:
    bool storeUploadedInstaller(int applicationId);
    void deleteApplication(int applicationId);
    void discardUpload();
    void dropSignalConnections();
};
