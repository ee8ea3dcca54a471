#include "agentservice.h"

#include "agent.h"
#include "agentsettings.h"

#include <QCoreApplication>
#include <QObject>

#include <cstdio>

static QString serviceTitle()
{
    return QStringLiteral("%1 Agent Service").arg(QLatin1String(kProductName));
}

AgentService::AgentService(int argc, char **argv) : ServiceBase(argc, argv, serviceTitle())
{
    setServiceDescription(serviceTitle());
    setServiceFlags(CanBeSuspended);
}

AgentService::~AgentService()
{
    stop();
}

void AgentService::start()
{
    agent = new Agent(true, QCoreApplication::applicationDirPath());
    // Without a window the lines also go to standard output, which systemd keeps in the journal.
    QObject::connect(agent, &Agent::writeUiLogSignal, agent, [](const QString &line) {
        const QByteArray bytes = line.toUtf8();
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
        std::fflush(stdout);
    });
    agent->startUp();
}

void AgentService::stop()
{
    delete agent;
    agent = nullptr;
}
