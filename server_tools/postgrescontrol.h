#pragma once

#include "serverlayout.h"

#include <QStringList>

class QTextStream;

// PostgreSQL's own tools run for the machine's cluster. The server refuses to run as root, so
// a root caller runs them as the cluster's owner account, which also owns the cluster's home.
// The cluster's port and socket directory are kept in its postgresql.conf, so that every later
// start, by hand or by the services program, uses the same ones.
class PostgresControl
{
public:
    enum class Action {
        InitCluster,
        Start,
        Stop,
        StopFast,
        Restart,
        Reload,
        Status,
        CreateTmpUser
    };

    explicit PostgresControl(const ServerLayout &layout);

    // Runs one action with the tools' output passed through; returns their exit code.
    int run(Action action, QTextStream &err);

    static bool actionFromName(const QString &name, Action *action);
    static QString actionName(Action action);
    // pg_ctl's directory: PostgreSQL's packaged binaries, the newest major version first.
    static QString binDir();
    // "postgres" for a root caller, otherwise the caller's own account.
    static QString ownerAccount();
    // The lines this layer keeps at the end of postgresql.conf, replacing an earlier block.
    static QString withClusterSettings(const QString &conf, int port, const QString &socketDir);

private:
    int runTool(const QString &tool, const QStringList &arguments, QTextStream &err);
    bool prepareHome(QTextStream &err);
    bool writeClusterSettings(QTextStream &err);

    ServerLayout layout;
};
