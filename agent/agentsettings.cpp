#include "agentsettings.h"

#include <QStringList>

const char kProductName[] = "Kelvarix";
const char kAgentIniName[] = "Agent.ini";
const char kAgentKeyName[] = "Agent.key";
const char kAgentLogName[] = "Agent.log";

namespace
{

// The value runs from the first "=" to the next one; a line without "=" has none.
bool lineValue(const QString &line, QString *value)
{
    if (!line.contains(QLatin1Char('=')))
        return false;
    *value = line.section(QLatin1Char('='), 1, 1).trimmed();
    return true;
}

// Switches take 1 and 0 only; any other number leaves them as they were.
void applySwitch(const QString &value, bool *target)
{
    const int n = value.toInt();
    if (n == 1)
        *target = true;
    else if (n == 0)
        *target = false;
}

} // namespace

AgentSettings parseAgentIni(const QString &text, AgentSettings settings)
{
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (QString line : lines) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        QString value;
        if (!lineValue(line, &value))
            continue;
        // Keys are matched by prefix, in this order.
        if (line.startsWith(QLatin1String("Address")))
            settings.serverAddress = value;
        else if (line.startsWith(QLatin1String("ServerPort")))
            settings.serverPort = value.toInt();
        else if (line.startsWith(QLatin1String("AgentPort")))
            settings.agentPort = value.toInt();
        else if (line.startsWith(QLatin1String("NegotiateOnStartup")))
            applySwitch(value, &settings.negotiateOnStartup);
        else if (line.startsWith(QLatin1String("ShowMainWindow")))
            applySwitch(value, &settings.showMainWindow);
        else if (line.startsWith(QLatin1String("PollServer")))
            applySwitch(value, &settings.pollServer);
        else if (line.startsWith(QLatin1String("TimerPeriod")))
            settings.timerPeriod = value.toInt();
    }
    return settings;
}

quint32 parseAgentKey(const QString &text)
{
    quint32 uuid = 0;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        if (!line.startsWith(QLatin1String("UUID")) || !line.contains(QLatin1Char('=')))
            continue;
        uuid = line.section(QLatin1Char('='), 1, 1).trimmed().toUInt();
    }
    return uuid;
}

QString agentKeyText(quint32 uuid)
{
    return QLatin1String("[Client]") + QLatin1Char('\n') + QLatin1String("UUID=") +
           QString::number(uuid);
}

int effectiveTimerPeriod(int configuredMs)
{
    return qMax(configuredMs, kMinTimerPeriodMs);
}
