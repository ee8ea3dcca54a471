#include "ingestionlog.h"

Q_LOGGING_CATEGORY(lcIngestion, "kelvarix.ingestion", QtWarningMsg)
