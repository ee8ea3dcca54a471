#include "serverresources.h"

#include <QtGlobal>

void initServerResources()
{
    Q_INIT_RESOURCE(server);
}
