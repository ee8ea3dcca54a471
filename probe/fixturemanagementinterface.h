#pragma once

#include "managementinterface.h"

#include <QSet>
#include <QVector>

// Class instances read from a JSON file, for tests. The file looks like
//   {"failConnection": "connect", "failQueries": ["Win32_Printer"],
//    "classes": {"Win32_Process": [{"ProcessId": 4, "Name": "a&b"}]}}
// A JSON string is a text, true/false a boolean, an integer a 32-bit integer, an array a
// list of texts, null no value; {"int64": "123"}, {"datetime": "..."}, {"int32": -1},
// {"text": "..."} name the kind explicitly. "failConnection" is one of "initialize",
// "locator", "connect" or "security"; a class in "failQueries" fails every query on it.
class INVPROBE_EXPORT FixtureManagementInterface : public ManagementInterface
{
public:
    explicit FixtureManagementInterface(const QString &path);
    OpenResult open() override;
    std::unique_ptr<ManagementEnumerator> execQuery(const QString &wql) override;

private:
    QString path;
    QHash<QString, QVector<ManagementObject>> classes;
    QSet<QString> failingClasses;
};
