#include "softwareregistry.h"

#include "fixtureregistry.h"
#include "linuxregistry.h"

SoftwareRegistry::~SoftwareRegistry() = default;

std::unique_ptr<SoftwareRegistry> SoftwareRegistry::create()
{
    const QString fixture = qEnvironmentVariable("INVPROBE_REGISTRY");
    if (!fixture.isEmpty())
        return std::make_unique<FixtureRegistry>(fixture);
    return std::make_unique<LinuxRegistry>();
}
