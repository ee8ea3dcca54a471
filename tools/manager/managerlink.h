#pragma once

#include "command.h"

#include <QString>

// One manager request per TCP connection to the server's manager port. The server sends
// no response, so a request counts as delivered once every byte was written and the
// connection closed in order.
class ManagerLink
{
public:
    static constexpr int kTimeoutMs = 30000;
    static constexpr int kChunkSize = 100000;

    ManagerLink(const QString &host, int port);

    bool send(const Command &request);
    // The request followed by the file's bytes as its payload (an installer upload).
    bool sendFile(Command request, const QString &path);

    QString errorText() const;

private:
    QString host;
    int port;
    QString error;
};
