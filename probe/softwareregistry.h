#pragma once

#include "invprobe.h"

#include <QHash>
#include <QVector>
#include <memory>

// The three stores the software list and the agent's start-up entry live in: the installed
// programs, the list of programs started at log-on and the agent's own settings.
class INVPROBE_EXPORT SoftwareRegistry
{
public:
    struct UninstallEntry {
        QString subKey;
        // Raw values by name: DisplayName, Publisher, DisplayVersion, InstallLocation,
        // UninstallString.
        QHash<QString, QString> values;
    };

    virtual ~SoftwareRegistry();
    // False when the list of installed programs cannot be opened.
    virtual bool uninstallEntries(QVector<UninstallEntry> &entries) = 0;
    // False when the start-up list cannot be opened; a missing entry reads as empty.
    virtual bool readRunEntry(QString &value) = 0;
    // False when the agent's settings or their application path cannot be read.
    virtual bool readApplicationPath(QString &path) = 0;
    // Records the agent's program path; false when it cannot be kept.
    virtual bool writeApplicationPath(const QString &path) = 0;
    // 0 written; 1 writing the entry failed; otherwise the error of opening the list.
    virtual int writeRunEntry(const QString &command) = 0;
    // 0 deleted; 1 deleting failed or there was no entry; otherwise the error of opening.
    virtual int deleteRunEntry() = 0;

    // The fixture named by INVPROBE_REGISTRY when set, the running system otherwise.
    static std::unique_ptr<SoftwareRegistry> create();
};
