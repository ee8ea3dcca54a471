#pragma once

#include <QList>
#include <QMetaType>
#include <QString>

// One dispatch entry: where the blind packet goes and which assignment it announces.
struct Job {
    Job() = default;
    Job(const QString &ip, int port, int jobMachineId, int machineId)
        : ip(ip), jobMachineId(jobMachineId), machineId(machineId), port(port)
    {
    }

    QString ip;
    int jobMachineId = 0;
    int machineId = 0;
    int port = 0;
};

Q_DECLARE_METATYPE(Job)
Q_DECLARE_METATYPE(QList<Job>)

void registerJobMetaTypes();
