#pragma once

#include "command.h"

#include <QObject>

class ServerSender;

// Runs the job a server response carries, on the connection that received it. Each job kind
// lives in a handler of its own; this class only routes a response to the handler of its type.
class JobRunner : public QObject
{
    Q_OBJECT
public:
    explicit JobRunner(ServerSender *sender);

    // Starts the job; false when this agent has no handler for the type, in which case the
    // sender answers that it did not understand and closes.
    bool run(const Command &job);

protected:
    ServerSender *sender;
};
