#pragma once

#include "softwareregistry.h"

#include <QJsonObject>

// The three stores kept in one JSON file, for tests; changes are written back to it.
//   {"uninstall": [{"key": "k1", "DisplayName": "AT&T Tools", "DisplayVersion": "1.0"}],
//    "run": {"ZVN Agent": "/opt/agent"}, "agent": {"ApplicationPath": "/opt/agent"},
//    "failUninstall": false, "failRun": false, "runOpenError": 0, "failRunWrite": false}
// Without "agent" the agent's settings are missing; "runOpenError" is the error opening
// the start-up list for a change gives; "failAgentWrite" makes recording the path fail.
class INVPROBE_EXPORT FixtureRegistry : public SoftwareRegistry
{
public:
    explicit FixtureRegistry(const QString &path);
    bool uninstallEntries(QVector<UninstallEntry> &entries) override;
    bool readRunEntry(QString &value) override;
    bool readApplicationPath(QString &path) override;
    bool writeApplicationPath(const QString &path) override;
    int writeRunEntry(const QString &command) override;
    int deleteRunEntry() override;

private:
    bool load();
    bool save();

    QString path;
    QJsonObject root;
    bool loaded = false;
};
