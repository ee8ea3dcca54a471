// Runs one command against a throwaway PostgreSQL cluster: starts the cluster, hands its
// address and the server's account to the command in KELVARIX_PG_* variables, passes the
// command's exit code on and stops the cluster again.
//
//     web_manager_pg_env ruby bin/rails test test/models

#include "pgcluster.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTextStream>

namespace
{
// CTest's SKIP_RETURN_CODE: no cluster on a machine where it is optional.
constexpr int kSkipExitCode = 77;
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTextStream err(stderr);
    const QStringList command = app.arguments().mid(1);
    if (command.isEmpty()) {
        err << "usage: web_manager_pg_env PROGRAM [ARGUMENTS...]\n";
        return 2;
    }

    PgCluster pg;
    if (!pg.start()) {
        err << "PostgreSQL cluster: " << pg.errorText() << '\n';
        return PgCluster::required() ? 1 : kSkipExitCode;
    }

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("KELVARIX_TEST_DATABASE"), QStringLiteral("postgresql"));
    env.insert(QStringLiteral("KELVARIX_PG_HOST"), pg.host());
    env.insert(QStringLiteral("KELVARIX_PG_PORT"), QString::number(pg.port()));
    env.insert(QStringLiteral("KELVARIX_PG_DATABASE"), pg.databaseName());
    env.insert(QStringLiteral("KELVARIX_PG_USER"), pg.userName());
    env.insert(QStringLiteral("KELVARIX_PG_PASSWORD"), pg.password());
    env.insert(QStringLiteral("KELVARIX_PG_SERVER_INI"),
               pg.serverIniLines().join(QLatin1Char('\n')));

    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.setProcessEnvironment(env);
    process.start(command.first(), command.mid(1));
    if (!process.waitForStarted()) {
        err << "cannot start " << command.first() << ": " << process.errorString() << '\n';
        return 1;
    }
    process.waitForFinished(-1);
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : 1;
}
