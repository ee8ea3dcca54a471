#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QUdpSocket>

// A UDP port nobody holds right now, for agents that must listen in tests.
inline quint16 freeUdpPort()
{
    QUdpSocket probe;
    if (!probe.bind(QHostAddress(QHostAddress::AnyIPv4), 0))
        return 0;
    return probe.localPort();
}

inline bool writeTextFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

inline QByteArray readTextFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// Open descriptors of this process; a leak of sockets shows here.
inline int openDescriptors()
{
    return QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).size();
}
