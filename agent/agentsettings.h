#pragma once

#include <QString>

// Defaults an agent starts with before Agent.ini is read.
constexpr int kDefaultServerPort = 6720;
constexpr int kDefaultAgentPort = 6722;
constexpr int kDefaultTimerPeriodMs = 60000;
// Timers never run faster than this, whatever the configured period says.
constexpr int kMinTimerPeriodMs = 1000;

extern const char kProductName[];
extern const char kAgentIniName[];
extern const char kAgentKeyName[];
extern const char kAgentLogName[];

// What Agent.ini can set.
struct AgentSettings {
    QString serverAddress;
    int serverPort = kDefaultServerPort;
    int agentPort = kDefaultAgentPort;
    bool negotiateOnStartup = false;
    bool showMainWindow = false;
    bool pollServer = false;
    int timerPeriod = kDefaultTimerPeriodMs;
};

// Agent.ini lines, applied one by one over `settings`; the last line of a key wins.
AgentSettings parseAgentIni(const QString &text, AgentSettings settings = AgentSettings());

// The identity in Agent.key text: the last UUID line, 0 when there is none.
quint32 parseAgentKey(const QString &text);

// Agent.key as written after the server assigned an identity (no final line end).
QString agentKeyText(quint32 uuid);

// Period a timer actually runs with for a configured period.
int effectiveTimerPeriod(int configuredMs);
