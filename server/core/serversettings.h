#pragma once

#include <QString>

class QIODevice;

// Default ports; Server.ini may override each of them.
constexpr int kDefaultServerManagerPort = 6717;
constexpr int kDefaultServerAgentPort = 6720;
constexpr int kDefaultManagerPort = 6718;
constexpr int kDefaultAgentPort = 6722;
constexpr int kDefaultWebSocketPort = 1337;

// The values read from Server.ini. Lines are matched by key prefix at the very start of the
// line; the value runs from the first "=" to the next one, trimmed.
struct ServerSettings {
    QString dbServer;
    QString dbUsername;
    QString dbPassword;
    QString dbName;
    QString dbType;
    int ServerManagerPort = kDefaultServerManagerPort;
    int ServerAgentPort = kDefaultServerAgentPort;
    int ManagerPort = kDefaultManagerPort;
    int AgentPort = kDefaultAgentPort;
    // TCP port of the browsers' WebSocket notices.
    int WebSocketPort = kDefaultWebSocketPort;
    // Not written by the configuration program: 0 keeps the database driver's default port,
    // which is what a standard installation uses.
    int dbPort = 0;

    // Applies one line of Server.ini; returns false when the line names no known key.
    bool applyLine(const QString &line);
    // Applies every line of an open device, in order, so a repeated key keeps its last value.
    void applyAll(QIODevice &device);

    // The value part of a line: after the first "=", up to the next "=", trimmed.
    // A line without "=" has no value (valueFound is set to false).
    static QString lineValue(const QString &line, bool *valueFound = nullptr);
};
