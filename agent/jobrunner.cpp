#include "jobrunner.h"

#include "agentlog.h"
#include "serversender.h"

JobRunner::JobRunner(ServerSender *sender) : QObject(sender), sender(sender) {}

bool JobRunner::run(const Command &job)
{
    // Handlers for command lines, inventories, deployments and removals register here.
    switch (job.type) {
    default:
        qCDebug(lcAgent) << "no handler for job type" << job.type;
        return false;
    }
}
