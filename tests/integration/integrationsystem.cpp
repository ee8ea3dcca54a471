#include "integrationsystem.h"

#include "pgcluster.h"

#include <QDeadlineTimer>
#include <QtTest>

namespace
{

// Every table of the schema, so a case starts from what the configuration run leaves.
const QString kEmptyTables = QStringLiteral(
    "DO $$ DECLARE t record; BEGIN "
    "FOR t IN SELECT tablename FROM pg_tables WHERE schemaname = 'public' LOOP "
    "EXECUTE 'TRUNCATE TABLE ' || quote_ident(t.tablename) || ' RESTART IDENTITY CASCADE'; "
    "END LOOP; END $$");
const QString kFixture = QStringLiteral(AGENT_FIXTURE_DIR "/inventory.json");

} // namespace

IntegrationSystem::IntegrationSystem(PgCluster &pg) : pg(pg) {}

IntegrationSystem::~IntegrationSystem()
{
    // Agents first, so that none reports to a server that is going away.
    for (auto &agent : agents)
        agent->stop();
    if (serverProcess)
        serverProcess->stop();
}

bool IntegrationSystem::start()
{
    if (!pg.execAsSuperUser(kEmptyTables)) {
        qWarning() << "cannot empty the tables:" << pg.errorText();
        return false;
    }
    ports = ServerProcess::freePortLines();
    if (!serverDir.isValid() ||
        !ServerProcess::writeServerIni(serverDir.path(), pg.serverIniLines() + ports)) {
        qWarning() << "cannot write Server.ini in" << serverDir.path();
        return false;
    }
    qputenv("KELVARIX_OBSERVER_PERIOD_MS", QByteArray::number(kObserverPeriodMs));
    serverProcess = std::make_unique<ServerProcess>(serverDir.path());
    if (!serverProcess->start() ||
        !serverProcess->waitForMessage(QStringLiteral("Kelvarix Server is running ....."),
                                       kWaitMs)) {
        qWarning().noquote() << "the server did not start:\n" << serverProcess->output();
        return false;
    }

    managerSide = std::make_unique<ManagerSide>(
        pg, serverDir.path(), ServerProcess::portIn(ports, QStringLiteral("ServerManagerPort")),
        ServerProcess::portIn(ports, QStringLiteral("ManagerPort")));
    if (!managerSide->open() || !managerSide->addAdministrator(QStringLiteral("admin"))) {
        qWarning() << "the manager side did not open";
        return false;
    }
    managerSide->keepPresent(kPresenceIntervalMs);
    if (!page.open(webSocketPort(), kWaitMs)) {
        qWarning() << "the browser page did not connect to port" << webSocketPort();
        return false;
    }
    return true;
}

AgentProcess &IntegrationSystem::addAgent()
{
    agents.push_back(std::make_unique<AgentProcess>(
        ServerProcess::portIn(ports, QStringLiteral("ServerAgentPort")), kFixture));
    return *agents.back();
}

bool IntegrationSystem::registerAgents(const QList<AgentProcess *> &starting)
{
    for (AgentProcess *agent : starting)
        if (!agent->start(true))
            return false;
    for (AgentProcess *agent : starting) {
        const int id = agent->waitForIdentity(kWaitMs);
        if (id <= 0) {
            qWarning().noquote() << "agent without identity:\n" << agent->output();
            return false;
        }
        if (!QTest::qWaitFor(
                [&] {
                    return count(
                               QStringLiteral("FROM machines WHERE id=%1 AND status=1").arg(id)) ==
                           1;
                },
                kWaitMs))
            return false;
    }
    return true;
}

int IntegrationSystem::count(const QString &fromClause)
{
    return value(QStringLiteral("SELECT count(*) ") + fromClause).toInt();
}

int IntegrationSystem::runJob(const QStringList &options, int machineId)
{
    const int assignment = managerSide->addJob(options, {machineId}).value(0);
    return assignment > 0 && managerSide->tool({QStringLiteral("job-check")}) == 0 ? assignment : 0;
}

bool IntegrationSystem::hears(BrowserClient &page, const QString &text, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        const QString next = page.takeText(int(qMax<qint64>(1, deadline.remainingTime())));
        if (next == text)
            return true;
    }
    return false;
}
