#pragma once

#include "invprobe.h"

#include <QHash>

// Small readers for the text files of /proc, /sys and /etc.
class INVPROBE_EXPORT LinuxFiles
{
public:
    // The whole file as UTF-8 text; empty when it cannot be read.
    static QString readText(const QString &path);
    static QString readFirstLine(const QString &path);
    // The first line as a number; `fallback` when missing or not a number.
    static qint64 readNumber(const QString &path, qint64 fallback = -1);
    // KEY=VALUE lines (os-release, environment files); quotes around values are removed.
    static QHash<QString, QString> readAssignments(const QString &path);
    // "Key:   value" lines (/proc/meminfo, /proc/PID/status).
    static QHash<QString, QString> readColonFields(const QString &path);
    // Names of the entries of a directory, sorted; empty when it cannot be listed.
    static QStringList entries(const QString &dir);
    // The target of a symbolic link; empty when it is none or cannot be read.
    static QString linkTarget(const QString &path);
    // A value with the two 'quote' characters around it removed.
    static QString unquote(const QString &value);
};
