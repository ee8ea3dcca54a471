#pragma once

#include "serverlayout.h"
#include "toolcommand.h"

#include <QString>
#include <QStringList>

// The server machine's tools behind one interface for the set-up wizard, its uninstaller and
// the services program. Each Windows tool those programs were written for has one Linux
// counterpart here: PostgreSQL's pg_ctl and createuser run as the cluster's owner, Apache as
// the service "KelvarixHttpServer", the web manager through its start and pid scripts, and
// the server program through its pid file. Commands run on the caller's QProcess; their
// outputs are read by the readers below, which know the texts the callers rely on.
class ServerTools
{
public:
    enum class State { Running, Stopped, Unknown };
    enum class Postgres { InitCluster, Start, Stop, StopFast, Restart, Reload, Status };
    enum class Httpd { Install, Uninstall, Start, Stop, Restart, Query };

    explicit ServerTools(const ServerLayout &layout);

    const ServerLayout &layout() const;
    // kelvarix-ctl: beside the running program, else beside the layout's programs.
    QString ctlProgram() const;

    // pg_ctl with the cluster directory (start with the log file; stop without waiting).
    ToolCommand postgres(Postgres action) const;
    // createuser -s -d -l -r -w -h 127.0.0.1 tmp_user, on the cluster's port.
    ToolCommand createTmpUser() const;
    // httpd -k ... -n "KelvarixHttpServer", and sc query KelvarixHttpServer.
    ToolCommand httpd(Httpd action) const;
    // The web manager's process id, then the separator the caller reads up to.
    ToolCommand webManagerPid(const QString &separator) const;
    // taskkill /PID, or /F /PID: an invalid command for ids below 1.
    ToolCommand terminate(qint64 pid, bool force) const;
    // tasklist and taskkill /F /IM, reduced to the server program of this machine.
    ToolCommand serverQuery() const;
    ToolCommand serverStop(bool force) const;

    // The web manager's address as the web server offers it, "host:port" from the ServerName
    // and Listen lines of httpd.conf; false (and an empty address) when it cannot be read.
    bool managerAddress(QString *address) const;
    static QString managerAddressFrom(const QString &httpdConf);

    // Detached starts: the web manager's start script and the server program.
    bool startWebManager() const;
    bool startServer(const QStringList &arguments = QStringList()) const;

    // "4  RUNNING" / "1  STOPPED" in a service query.
    static State httpdState(const QString &output);
    // "server is running" / "no server running" in pg_ctl status.
    static State postgresState(const QString &output);
    // The number before the separator on the first line; 0 when there is none.
    static qint64 pidFromOutput(const QString &output, const QString &separator);
    // A server query that lists the server program.
    static bool serverListed(const QString &output);

    static QString uninstallerSeparator();
    static QString servicesSeparator();

private:
    ToolCommand ctl(const QStringList &arguments) const;

    ServerLayout machine;
};
