#pragma once

#include <QString>

// The running server's process id in a file beside Server.log, so that the services program
// and the uninstaller find this very process instead of killing every program of that name.
// Written when created, removed at a clean exit — unless another server has taken the file
// over meanwhile.
class PidFile
{
public:
    explicit PidFile(const QString &fileName);
    ~PidFile();
    PidFile(const PidFile &) = delete;
    PidFile &operator=(const PidFile &) = delete;

    bool isWritten() const;
    QString fileName() const;

private:
    QString path;
    bool written = false;
};
