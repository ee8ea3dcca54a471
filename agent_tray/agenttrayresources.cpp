#include "agenttrayresources.h"

#include <QtGlobal>

void initAgentTrayResources()
{
    Q_INIT_RESOURCE(agent);
}
