#include "managerside.h"

#include "pgcluster.h"

#include <QNetworkDatagram>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QTcpSocket>
#include <QTest>

namespace
{

constexpr int kConnectTimeoutMs = 10000;
constexpr int kToolTimeoutMs = 60000;

} // namespace

ManagerSide::ManagerSide(PgCluster &pg, const QString &configDir, int serverManagerPort,
                         int managerPort)
    : pg(pg), connectionName(QStringLiteral("manager-side")), configDir(configDir),
      serverManagerPort(serverManagerPort), managerPort(managerPort)
{
    connect(&noticeSocket, &QUdpSocket::readyRead, this, &ManagerSide::readNotices);
    connect(&presenceTimer, &QTimer::timeout, this, &ManagerSide::presence);
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
    presence();
    presenceTimer.start(intervalMs);
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

int ManagerSide::tool(const QStringList &arguments, QString *output)
{
    QProcess process;
    QStringList all{QStringLiteral("--config-dir"), configDir};
    if (adminId > 0)
        all << QStringLiteral("--user") << QString::number(adminId);
    process.start(QStringLiteral(MANAGER_TOOL_PROGRAM), all + arguments);
    if (!process.waitForStarted(kToolTimeoutMs) || !process.waitForFinished(kToolTimeoutMs)) {
        qWarning() << "manager tool" << arguments << "did not finish:" << process.errorString();
        process.kill();
        process.waitForFinished(kToolTimeoutMs);
        return -1;
    }
    const QByteArray out = process.readAllStandardOutput();
    if (output)
        *output = QString::fromUtf8(out);
    if (process.exitStatus() != QProcess::NormalExit)
        return -1;
    if (process.exitCode() != 0)
        qWarning() << "manager tool" << arguments << "exit" << process.exitCode()
                   << process.readAllStandardError();
    return process.exitCode();
}

bool ManagerSide::addAdministrator(const QString &name)
{
    QString output;
    if (tool({QStringLiteral("add-user"), name, QStringLiteral("--level"), QStringLiteral("1")},
             &output) != 0)
        return false;
    const QRegularExpressionMatch user =
        QRegularExpression(QStringLiteral("^user (\\d+)$"), QRegularExpression::MultilineOption)
            .match(output);
    adminId = user.hasMatch() ? user.captured(1).toInt() : 0;
    return adminId > 0;
}

QList<int> ManagerSide::addJob(const QStringList &options, const QList<int> &machineIds)
{
    QStringList arguments{QStringLiteral("add-job")};
    arguments += options;
    for (int machine : machineIds)
        arguments.append(QString::number(machine));
    QString output;
    if (tool(arguments, &output) != 0)
        return {};
    QList<int> assignments;
    QRegularExpressionMatchIterator lines =
        QRegularExpression(QStringLiteral("^assignment (\\d+) machine (\\d+)$"),
                           QRegularExpression::MultilineOption)
            .globalMatch(output);
    while (lines.hasNext())
        assignments.append(lines.next().captured(1).toInt());
    if (assignments.size() != machineIds.size())
        qWarning() << "unexpected add-job output:" << output;
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

bool ManagerSide::presence()
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, quint16(serverManagerPort));
    if (!socket.waitForConnected(kConnectTimeoutMs))
        return false;
    Command hello;
    initCommand(hello, adminId, CommandType::ManagerHello, 0);
    socket.write(encodeHeader(hello));
    while (socket.bytesToWrite() > 0)
        if (!socket.waitForBytesWritten(kConnectTimeoutMs))
            return false;
    socket.disconnectFromHost();
    return true;
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
