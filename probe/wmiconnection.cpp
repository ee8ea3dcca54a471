#include "wmiconnection.h"

#include "probelog.h"

WmiConnection::WmiConnection() : backend(ManagementInterface::create()) {}

WmiConnection::WmiConnection(std::unique_ptr<ManagementInterface> backend)
    : backend(std::move(backend))
{
}

bool WmiConnection::open(QString &failureText)
{
    switch (backend->open()) {
    case ManagementInterface::OpenResult::Ok:
        return true;
    case ManagementInterface::OpenResult::InitializeFailed:
        failureText = QStringLiteral("Failed to initialize COM library");
        break;
    case ManagementInterface::OpenResult::LocatorFailed:
        failureText = QStringLiteral("Failed to create IWbemLocator object.");
        break;
    case ManagementInterface::OpenResult::ConnectFailed:
        failureText = QStringLiteral("Could not connect.");
        break;
    case ManagementInterface::OpenResult::SecurityFailed:
        failureText = QStringLiteral("Could not set proxy blanket");
        break;
    }
    return false;
}

std::unique_ptr<ManagementEnumerator> WmiConnection::query(const QString &wql)
{
    auto result = backend->execQuery(wql);
    if (!result)
        qCDebug(lcProbe) << "query failed:" << wql;
    return result;
}
