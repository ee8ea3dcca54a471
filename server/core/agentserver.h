#pragma once

#include "job.h"

#include <QList>
#include <QTcpServer>

class MasterServer;

// Listener for agents. Each accepted connection gets its own handler, which lives until the
// connection ends. The pending list holds the assignments whose agents were woken but have
// not fetched them yet.
class AgentServer : public QTcpServer
{
    Q_OBJECT
public:
    explicit AgentServer(MasterServer *masterServer, QObject *parent = nullptr);

    // The jobMachineId of the first pending entry for the machine, removed; 0 when none.
    int takePendingJob(int machineId);
    const QList<Job> &pendingJobList() const { return pendingJobs; }
    MasterServer *master() const { return masterServer; }

public slots:
    void addPendingJobMachineId(QList<Job> jobList);
    void cleanPendingJobMachineId();

protected:
    void incomingConnection(qintptr socketDescriptor) override;

private:
    MasterServer *masterServer;
    QList<Job> pendingJobs;
};
