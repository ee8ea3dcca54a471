#pragma once

#include "invprobe.h"

#include <QVector>

// The package log dpkg writes, together with the older logs logrotate keeps beside it
// (dpkg.log.1, then dpkg.log.2.gz and so on, compressed with gzip).
class INVPROBE_EXPORT DpkgLog
{
public:
    struct Upgrade {
        QString time;    // "yyyy-MM-dd hh:mm:ss", local time as dpkg writes it
        QString package; // with its architecture, as in "libc6:amd64"
        QString oldVersion;
        QString newVersion;
    };

    static constexpr const char *kLogFile = "/var/log/dpkg.log";
    // How far back the history goes.
    static constexpr int kHistoryDays = 365;
    // Guards against a rotation scheme gone wild and against a log that would not fit in
    // memory: more rotations than weekly ones for a year are not looked at, and of a log only
    // its newest 64 MiB are read.
    static constexpr int kMaxRotations = 60;
    static constexpr qint64 kMaxLogBytes = 64 * 1024 * 1024;

    // The current log and the rotated ones that exist, newest first.
    static QStringList logFiles(const QString &currentLog);
    // A log's text, compressed or not. False when it cannot be opened; a damaged compressed
    // log gives the complete lines before the damage.
    static bool readLog(const QString &path, QByteArray &content);
    // The upgrade lines of one log's text in the log's order; `newest` receives the time of
    // its last dated line of any kind.
    static QVector<Upgrade> parse(const QByteArray &text, QString *newest = nullptr);
    // The upgrades of the current log and its rotated predecessors, oldest first, none older
    // than `notBefore`. An upgrade to the same version of the same package that appears more
    // than once (a reinstallation) is listed once, at its newest time.
    static QVector<Upgrade> history(const QString &currentLog, const QString &notBefore);
};
