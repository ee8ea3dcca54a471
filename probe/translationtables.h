#pragma once

#include "invprobe.h"

// Numeric codes of the management interface turned into the inventory's words.
// Unknown codes fall back as each table defines (decimal, "Unknown" or empty).
INVPROBE_EXPORT QString architectureText(qint32 value);
INVPROBE_EXPORT QString formFactorText(qint32 value);
INVPROBE_EXPORT QString memoryTypeText(qint32 value);
INVPROBE_EXPORT QString typeDetailText(qint32 value);
INVPROBE_EXPORT QString acceleratorCapabilitiesText(qint32 value);
INVPROBE_EXPORT QString videoArchitectureText(qint32 value);
INVPROBE_EXPORT QString videoMemoryTypeText(qint32 value);
INVPROBE_EXPORT QString batteryStatusText(qint32 value);
