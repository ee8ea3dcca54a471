#pragma once

#include <QLoggingCategory>

// Developer diagnostics of the server; the user-visible log goes through MasterServer::writeLog.
Q_DECLARE_LOGGING_CATEGORY(lcServer)
