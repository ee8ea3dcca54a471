#include "managerside.h"

#include "pgcluster.h"

#include <QNetworkDatagram>
#include <QSqlError>
#include <QSqlQuery>
#include <QTcpSocket>
#include <QTest>

namespace
{

constexpr int kConnectTimeoutMs = 10000;
constexpr int kHandledTimeoutMs = 15000;

} // namespace

ManagerSide::ManagerSide(PgCluster &pg, int serverManagerPort, int managerPort, int adminId)
    : pg(pg), connectionName(QStringLiteral("manager-side")),
      serverManagerPort(serverManagerPort), managerPort(managerPort), adminId(adminId)
{
    connect(&noticeSocket, &QUdpSocket::readyRead, this, &ManagerSide::readNotices);
    connect(&presenceTimer, &QTimer::timeout, this,
            [this] { request(CommandType::ManagerHello); });
}

ManagerSide::~ManagerSide()
{
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(connectionName);
}

bool ManagerSide::open()
{
    db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), connectionName);
    db.setHostName(pg.host());
    db.setPort(pg.port());
    db.setDatabaseName(pg.databaseName());
    db.setUserName(pg.userName());
    db.setPassword(pg.password());
    if (!db.open()) {
        qWarning() << "manager database:" << db.lastError().text();
        return false;
    }
    if (!noticeSocket.bind(QHostAddress(QHostAddress::LocalHost), quint16(managerPort))) {
        qWarning() << "manager notices:" << noticeSocket.errorString();
        return false;
    }
    return true;
}

void ManagerSide::keepPresent(int intervalMs)
{
    request(CommandType::ManagerHello);
    presenceTimer.start(intervalMs);
}

bool ManagerSide::exec(const QString &sql)
{
    QSqlQuery q(db);
    if (!q.exec(sql)) {
        qWarning() << sql << q.lastError().text();
        return false;
    }
    return true;
}

QVariant ManagerSide::value(const QString &sql)
{
    QSqlQuery q(db);
    if (!q.exec(sql)) {
        qWarning() << sql << q.lastError().text();
        return QVariant();
    }
    return q.next() ? q.value(0) : QVariant();
}

int ManagerSide::createJob(int cmd, int prm, int prm2, const QString &prm3, int scheduleType)
{
    QSqlQuery job(db);
    job.prepare(QStringLiteral("INSERT INTO jobs (creator, cmd, prm, prm2, prm3, scheduleType, "
                               "scheduleDate, scheduleCount) VALUES (?, ?, ?, ?, ?, ?, "
                               "LOCALTIMESTAMP(0), 1) RETURNING id"));
    job.addBindValue(adminId);
    job.addBindValue(cmd);
    job.addBindValue(prm);
    job.addBindValue(prm2);
    job.addBindValue(prm3);
    job.addBindValue(scheduleType);
    if (!job.exec() || !job.next()) {
        qWarning() << "job:" << job.lastError().text();
        return 0;
    }
    return job.value(0).toInt();
}

QList<int> ManagerSide::assign(int jobId, const QList<int> &machineIds)
{
    QList<int> assignments;
    for (int machine : machineIds)
        assignments.append(
            value(QStringLiteral("INSERT INTO job_machines (creator, machine, job, active, "
                                 "status) VALUES (%1, %2, %3, 0, 235) RETURNING id")
                      .arg(adminId)
                      .arg(machine)
                      .arg(jobId))
                .toInt());
    return assignments;
}

int ManagerSide::waitForResult(int assignment, int timeoutMs)
{
    const QString active = QStringLiteral("SELECT active FROM job_machines WHERE id=%1");
    if (!QTest::qWaitFor([&] { return value(active.arg(assignment)).toInt() == 2; }, timeoutMs))
        return 0;
    return value(QStringLiteral("SELECT status FROM job_machines WHERE id=%1").arg(assignment))
        .toInt();
}

bool ManagerSide::request(quint8 type, int reference, const QByteArray &file,
                          const std::function<bool()> &handled)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, quint16(serverManagerPort));
    if (!socket.waitForConnected(kConnectTimeoutMs))
        return false;
    Command command;
    initCommand(command, adminId, type, reference);
    command.payloadLength = file.size();
    socket.write(encodeHeader(command) + file);
    while (socket.bytesToWrite() > 0)
        if (!socket.waitForBytesWritten(kConnectTimeoutMs))
            return false;
    const bool done = !handled || QTest::qWaitFor(handled, kHandledTimeoutMs);
    socket.disconnectFromHost();
    if (socket.state() != QAbstractSocket::UnconnectedState)
        socket.waitForDisconnected(kConnectTimeoutMs);
    return done;
}

bool ManagerSide::waitForNotice(int type, int from, int timeoutMs)
{
    return QTest::qWaitFor(
        [&] {
            for (int i = from; i < notices.size(); ++i)
                if (notices.at(i).type == type)
                    return true;
            return false;
        },
        timeoutMs);
}

void ManagerSide::readNotices()
{
    while (noticeSocket.hasPendingDatagrams()) {
        const QNetworkDatagram datagram = noticeSocket.receiveDatagram();
        Command notice;
        if (decodeDatagram(datagram.data(), notice))
            notices.append(notice);
        else
            qWarning() << "undecodable notice of" << datagram.data().size() << "bytes";
    }
}
