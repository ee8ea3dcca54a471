#include "messaginglog.h"

Q_LOGGING_CATEGORY(lcMessaging, "kelvarix.messaging")
