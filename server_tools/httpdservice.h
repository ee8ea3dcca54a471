#pragma once

#include "serverlayout.h"

#include <QString>

class QTextStream;

// The web server as the service "KelvarixHttpServer": Debian's Apache run on the filled
// httpd.conf, which loads its own modules and keeps its pid file and logs under httpd/logs.
// Where systemd runs, installing writes and enables the unit kelvarix-httpd.service, and
// start, stop and restart go through systemctl; elsewhere the installation is recorded beside
// httpd.conf and Apache is started and stopped directly. The state always comes from Apache's
// pid file and /proc. Texts follow the Windows service tools the callers were written for.
class HttpdService
{
public:
    enum class Action { Install, Uninstall, Start, Stop, Restart, Query };

    explicit HttpdService(const ServerLayout &layout);

    int run(Action action, QTextStream &out, QTextStream &err);

    static bool actionFromName(const QString &name, Action *action);
    static QString actionName(Action action);
    static QString serviceName();
    static QString unitName();
    static QString apacheProgram();
    // KELVARIX_SERVICE_MANAGER=none (or systemd) overrides the look at /run/systemd/system.
    static bool systemdRuns();
    static QString unitText(const QString &apache, const QString &conf, const QString &pidFile);
    // What "sc query" would answer for a running, a stopped and a missing service.
    static QString queryText(bool installed, bool running);

    bool isInstalled() const;
    qint64 runningPid() const;

private:
    int install(QTextStream &err);
    int uninstall(QTextStream &err);
    int start(QTextStream &err);
    int stop(QTextStream &err);
    int restart(QTextStream &err);
    int runApache(const QStringList &arguments, QTextStream &err, QByteArray *output = nullptr);
    int runSystemctl(const QStringList &arguments, QTextStream &err);
    bool waitForState(bool running, int timeoutMs) const;
    QString recordFile() const;
    QString unitFile() const;

    ServerLayout layout;
};
