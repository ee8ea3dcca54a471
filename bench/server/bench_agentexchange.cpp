// How many agent exchanges (hello, no job, close) the server program handles per second
// against PostgreSQL on loopback, with 1, 16 and 256 agents at once, beside the rate of the
// same statements issued directly, so that the server's own overhead shows as a ratio.
#include "command.h"
#include "pgcluster.h"
#include "serverprocess.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <memory>

namespace
{

constexpr int kRunMs = 5000;
constexpr int kMachines = 256;

// One simulated agent: connects, sends its hello, waits for the server to close, repeats.
class SimulatedAgent : public QObject
{
public:
    SimulatedAgent(quint16 port, int uuid, qint64 *done, const bool *running)
        : port(port), uuid(uuid), done(done), running(running)
    {
        connect(&socket, &QTcpSocket::connected, this, [this] {
            Command hello;
            initCommand(hello, this->uuid, CommandType::Hello, 0);
            hello.value = 6722;
            hello.payload = QStringLiteral("BENCH-%1").arg(this->uuid);
            hello.payloadLength = hello.payload.size();
            socket.write(encodeHeader(hello) + payloadBytes(hello));
        });
        connect(&socket, &QTcpSocket::disconnected, this, [this] {
            ++*this->done;
            next();
        });
        connect(&socket, &QAbstractSocket::errorOccurred, this, [this](auto error) {
            if (error != QAbstractSocket::RemoteHostClosedError)
                QTimer::singleShot(10, this, [this] { next(); });
        });
    }
    void next()
    {
        socket.abort();
        if (*running)
            socket.connectToHost(QHostAddress::LocalHost, port);
    }

private:
    QTcpSocket socket;
    quint16 port;
    int uuid;
    qint64 *done;
    const bool *running;
};

double serverRate(quint16 port, int agents)
{
    qint64 done = 0;
    bool running = true;
    std::vector<std::unique_ptr<SimulatedAgent>> pool;
    for (int i = 0; i < agents; ++i)
        pool.push_back(std::make_unique<SimulatedAgent>(port, i + 1, &done, &running));
    QElapsedTimer clock;
    clock.start();
    for (auto &agent : pool)
        agent->next();
    while (clock.elapsed() < kRunMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    running = false;
    const double rate = double(done) * 1000.0 / double(clock.elapsed());
    return rate;
}

// The statements one such exchange costs the server, issued one after another.
double directRate(QSqlDatabase db)
{
    QSqlQuery query(db);
    qint64 done = 0;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < kRunMs) {
        const int uuid = int(done % kMachines) + 1;
        query.exec(QStringLiteral("SELECT id, peerip FROM machines WHERE uuid='%1' LIMIT 2").arg(uuid));
        while (query.next()) {
        }
        query.exec(QStringLiteral("UPDATE machines SET name='BENCH-%1', peerip='127.0.0.1', "
                                  "updated_at='%2', port='6722', agentType='0', status=1 WHERE "
                                  "id='%1'")
                       .arg(uuid)
                       .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"))));
        query.exec(QStringLiteral("SELECT job, cmd, prm, prm2, prm3, scheduleType FROM job_machines "
                                  "as jm, jobs as j WHERE j.id=jm.job AND jm.id='0' LIMIT 1"));
        ++done;
    }
    return double(done) * 1000.0 / double(clock.elapsed());
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    PgCluster pg;
    if (!pg.start()) {
        std::fprintf(stderr, "PostgreSQL cluster: %s\n", qPrintable(pg.errorText()));
        return 1;
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"));
    db.setHostName(pg.host());
    db.setPort(pg.port());
    db.setDatabaseName(pg.databaseName());
    db.setUserName(pg.userName());
    db.setPassword(pg.password());
    if (!db.open()) {
        std::fprintf(stderr, "database: %s\n", qPrintable(db.lastError().text()));
        return 1;
    }
    QSqlQuery setup(db);
    for (int i = 1; i <= kMachines; ++i)
        setup.exec(QStringLiteral("INSERT INTO machines (id, name, peerip, uuid, status) VALUES "
                                  "(%1, 'BENCH-%1', '127.0.0.1', %1, 1)")
                       .arg(i));
    setup.exec(QStringLiteral("SELECT setval(pg_get_serial_sequence('machines', 'id'), %1)").arg(kMachines));

    QTemporaryDir dir;
    const QStringList ports = ServerProcess::freePortLines();
    ServerProcess::writeServerIni(dir.path(), pg.serverIniLines() + ports);
    ServerProcess server(dir.path());
    if (!server.start() || !server.waitForMessage(QStringLiteral("Kelvarix Server is running ....."))) {
        std::fprintf(stderr, "server did not start:\n%s\n", qPrintable(server.output()));
        return 1;
    }
    quint16 agentPort = 0;
    for (const QString &line : ports)
        if (line.startsWith(QLatin1String("ServerAgentPort=")))
            agentPort = quint16(line.section(QLatin1Char('='), 1).toInt());

    const double direct = directRate(db);
    std::printf("%-8s %16s %16s %8s\n", "agents", "exchanges/s", "direct SQL/s", "ratio");
    for (int agents : {1, 16, 256}) {
        const double rate = serverRate(agentPort, agents);
        std::printf("%-8d %16.1f %16.1f %8.2f\n", agents, rate, direct, direct / (rate > 0 ? rate : 1));
        std::fflush(stdout);
    }
    server.stop();
    return 0;
}
