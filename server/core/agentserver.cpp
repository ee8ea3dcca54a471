#include "agentserver.h"

#include "agentserverreceiver.h"

#include <QSet>
#include <QTcpSocket>

AgentServer::AgentServer(MasterServer *masterServer, QObject *parent)
    : QTcpServer(parent), masterServer(masterServer)
{
}

void AgentServer::incomingConnection(qintptr socketDescriptor)
{
    auto *socket = new QTcpSocket;
    if (!socket->setSocketDescriptor(socketDescriptor, QAbstractSocket::ConnectedState,
                                     QIODevice::ReadWrite)) {
        delete socket;
        return;
    }
    // Not parented to the listener: the handler releases itself when its connection ends.
    new AgentServerReceiver(socket, masterServer, this);
}

int AgentServer::takePendingJob(int machineId)
{
    for (int i = 0; i < pendingJobs.size(); ++i) {
        if (pendingJobs.at(i).machineId == machineId)
            return pendingJobs.takeAt(i).jobMachineId;
    }
    return 0;
}

void AgentServer::addPendingJobMachineId(QList<Job> jobList)
{
    QSet<int> known;
    for (const Job &job : qAsConst(pendingJobs))
        known.insert(job.jobMachineId);
    for (const Job &job : qAsConst(jobList)) {
        if (!known.contains(job.jobMachineId))
            pendingJobs.append(job);
    }
}

void AgentServer::cleanPendingJobMachineId()
{
    pendingJobs.clear();
}
