#include "worker.h"

#include "agentlog.h"
#include "agentsettings.h"

#include <QTimer>

Worker::Worker(quint32 uuid, const QString &serverAddress, int serverPort, int timerPeriod,
               QObject *parent)
    : QObject(parent), uuid(uuid), serverAddress(serverAddress), serverPort(serverPort),
      timerPeriod(timerPeriod)
{
    registerCommandMetaType();
}

void Worker::startUp()
{
    tickTimer = new QTimer(this);
    connect(tickTimer, &QTimer::timeout, this, &Worker::workerTimeoutSlot);
    tickTimer->start(effectiveTimerPeriod(timerPeriod));
}

void Worker::alarmJob(Command cmd)
{
    if (cmd.type == CommandType::RemoveRule) {
        for (int i = 0; i < rules.size(); ++i) {
            if (rules[i].value == cmd.value) {
                rules.removeAt(i);
                break;
            }
        }
        return;
    }
    rules.append(cmd);
}

// This build keeps the rules but has no checks to run on them yet, so a tick reports nothing.
void Worker::workerTimeoutSlot()
{
    qCDebug(lcAgent) << "worker tick with" << rules.size() << "rules";
}
