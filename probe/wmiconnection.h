#pragma once

#include "managementinterface.h"

// The state of one probe call: the backend, opened once, released when the call returns.
class INVPROBE_EXPORT WmiConnection
{
public:
    WmiConnection();
    explicit WmiConnection(std::unique_ptr<ManagementInterface> backend);

    // False with the failure text of the stage that failed.
    bool open(QString &failureText);
    std::unique_ptr<ManagementEnumerator> query(const QString &wql);

private:
    std::unique_ptr<ManagementInterface> backend;
};
