#include "agentlog.h"

Q_LOGGING_CATEGORY(lcAgent, "kelvarix.agent", QtInfoMsg)
