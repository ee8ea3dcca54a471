#pragma once

#include <QLoggingCategory>

// Developer diagnostics of inventory and alarm ingestion; user-visible lines go through the
// log function the caller passes in.
Q_DECLARE_LOGGING_CATEGORY(lcIngestion)
