#include "agentprocess.h"

#include "agenttestutil.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QTest>
#include <csignal>

namespace
{

constexpr int kStopTimeoutMs = 20000;
const QString kProgramName = QStringLiteral("KelvarixAgentService");
// Worker ticks of a second keep alarm tests short.
constexpr int kTimerPeriodMs = 1000;

} // namespace

AgentProcess::AgentProcess(int serverPort, const QString &inventoryFixture)
    : fixture(inventoryFixture), serverPort(serverPort), agentPort(freeUdpPort())
{
    process.setProcessChannelMode(QProcess::MergedChannels);
    setRegistry(R"({"uninstall": [], "run": {}})");
}

AgentProcess::~AgentProcess()
{
    stop();
}

bool AgentProcess::setRegistry(const QByteArray &json)
{
    return writeTextFile(dir.filePath(QStringLiteral("registry.json")), json);
}

bool AgentProcess::start(bool negotiateOnStartup)
{
    const QString program = dir.filePath(kProgramName);
    if (!QFile::exists(program) && !QFile::copy(QStringLiteral(AGENT_SERVICE_PROGRAM), program))
        return false;
    const QByteArray ini =
        "[Client]\nAddress=127.0.0.1\nServerPort=" + QByteArray::number(serverPort) +
        "\nAgentPort=" + QByteArray::number(agentPort) +
        "\nPollServer=0\nNegotiateOnStartup=" + QByteArray(negotiateOnStartup ? "1" : "0") +
        "\nTimerPeriod=" + QByteArray::number(kTimerPeriodMs) + "\n";
    if (!writeTextFile(dir.filePath(QStringLiteral("Agent.ini")), ini))
        return false;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("INVPROBE_FIXTURE"), fixture);
    env.insert(QStringLiteral("INVPROBE_REGISTRY"), dir.filePath(QStringLiteral("registry.json")));
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(dir.path());
    process.start(program, QStringList());
    return process.waitForStarted(kStopTimeoutMs);
}

bool AgentProcess::stop()
{
    if (process.state() == QProcess::NotRunning)
        return false;
    ::kill(pid_t(process.processId()), SIGTERM);
    if (!process.waitForFinished(kStopTimeoutMs)) {
        process.kill();
        process.waitForFinished(kStopTimeoutMs);
    }
    collected += process.readAll();
    return true;
}

bool AgentProcess::isRunning() const
{
    return process.state() != QProcess::NotRunning;
}

int AgentProcess::machineId() const
{
    const QByteArray key = readTextFile(dir.filePath(QStringLiteral("Agent.key")));
    const QByteArray prefix("[Client]\nUUID=");
    return key.startsWith(prefix) ? key.mid(prefix.size()).trimmed().toInt() : 0;
}

int AgentProcess::waitForIdentity(int timeoutMs)
{
    if (!QTest::qWaitFor([this] { return machineId() > 0; }, timeoutMs))
        return 0;
    return machineId();
}

QByteArray AgentProcess::log() const
{
    return readTextFile(dir.filePath(QStringLiteral("Agent.log")));
}

QByteArray AgentProcess::output()
{
    collected += process.readAll();
    return collected;
}
