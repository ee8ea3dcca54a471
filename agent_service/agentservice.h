#pragma once

#include "servicebase.h"

class Agent;

// Runs the agent without a window: the Agent in the main thread, its Worker in a thread of its own.
class AgentService : public ServiceBase
{
public:
    AgentService(int argc, char **argv);
    ~AgentService() override;

protected:
    void start() override;
    void stop() override;

private:
    Agent *agent = nullptr;
};
