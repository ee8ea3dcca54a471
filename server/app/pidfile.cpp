#include "pidfile.h"

#include <QCoreApplication>
#include <QFile>
#include <QSaveFile>

PidFile::PidFile(const QString &fileName) : path(fileName)
{
    // Written whole or not at all: a reader never sees a half-written number.
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Text)) {
        file.write(QByteArray::number(QCoreApplication::applicationPid()) + '\n');
        written = file.commit();
    }
}

PidFile::~PidFile()
{
    if (!written)
        return;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const qint64 pid = file.readAll().trimmed().toLongLong();
    file.close();
    if (pid == QCoreApplication::applicationPid())
        file.remove();
}

bool PidFile::isWritten() const
{
    return written;
}

QString PidFile::fileName() const
{
    return path;
}
