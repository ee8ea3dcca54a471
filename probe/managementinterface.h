#pragma once

#include "managementobject.h"

#include <memory>

// Forward-only results of one query.
class INVPROBE_EXPORT ManagementEnumerator
{
public:
    virtual ~ManagementEnumerator();
    // Fills `object` with the next result; false at the end.
    virtual bool next(ManagementObject &object) = 0;
};

// The management interface the probes need: open a connection, run a query, step through
// its objects and read their properties; everything is released by destruction.
class INVPROBE_EXPORT ManagementInterface
{
public:
    enum class OpenResult { Ok, InitializeFailed, LocatorFailed, ConnectFailed, SecurityFailed };

    virtual ~ManagementInterface();
    virtual OpenResult open() = 0;
    // Null when the query cannot run.
    virtual std::unique_ptr<ManagementEnumerator> execQuery(const QString &wql) = 0;

    // The fixture named by INVPROBE_FIXTURE when set, the running system otherwise.
    static std::unique_ptr<ManagementInterface> create();
};
