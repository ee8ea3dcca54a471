#include "probelog.h"

Q_LOGGING_CATEGORY(lcProbe, "kelvarix.probe")
