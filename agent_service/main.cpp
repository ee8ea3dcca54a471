#include "agentservice.h"

int main(int argc, char **argv)
{
    AgentService service(argc, argv);
    return service.exec();
}
