#include "websocketlog.h"

Q_LOGGING_CATEGORY(lcWebSocket, "kelvarix.websocket")
