#include "managementinterface.h"

#include "fixturemanagementinterface.h"
#include "linuxmanagementinterface.h"

ManagementEnumerator::~ManagementEnumerator() = default;

ManagementInterface::~ManagementInterface() = default;

std::unique_ptr<ManagementInterface> ManagementInterface::create()
{
    const QString fixture = qEnvironmentVariable("INVPROBE_FIXTURE");
    if (!fixture.isEmpty())
        return std::make_unique<FixtureManagementInterface>(fixture);
    return std::make_unique<LinuxManagementInterface>();
}
