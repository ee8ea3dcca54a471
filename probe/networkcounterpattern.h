#pragma once

#include "invprobe.h"

// The LIKE pattern that finds an adapter's interface counters from the adapter's name:
// "Intel(R) PRO/1000 MT Network Connection" gives "Intel% PRO_1000 MT Network Connection".
INVPROBE_EXPORT QString networkCounterPattern(const QString &adapterName);
