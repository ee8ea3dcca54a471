#include "testlayout.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>
#include <csignal>
#include <sys/types.h>
#include <unistd.h>

namespace
{

constexpr int kInstallTimeoutMs = 120000;

bool copyTree(const QString &from, const QString &to)
{
    QDir source(from);
    if (!QDir().mkpath(to))
        return false;
    for (const QFileInfo &entry : source.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot)) {
        const QString target = to + QLatin1Char('/') + entry.fileName();
        if (entry.isDir()) {
            if (!copyTree(entry.filePath(), target))
                return false;
        } else if (!QFile::copy(entry.filePath(), target)) {
            return false;
        }
    }
    return true;
}

void openToOthers(const QString &path)
{
    QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::ReadOther |
                                    QFileDevice::ExeOther | QFileDevice::ReadGroup |
                                    QFileDevice::ExeGroup);
}

// Stops the process named in a pid file when it still is the program the file belongs to.
void stopByPidFile(const QString &pidFile, const QString &name)
{
    QFile file(pidFile);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const qint64 pid = file.readAll().trimmed().toLongLong();
    if (pid < 1)
        return;
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    if (!comm.open(QIODevice::ReadOnly))
        return;
    const QString command = QString::fromLocal8Bit(comm.readAll().trimmed());
    if (!name.isEmpty() && !command.startsWith(name))
        return;
    ::kill(pid_t(pid), SIGTERM);
    for (int i = 0; i < 100 && QFileInfo::exists(QStringLiteral("/proc/%1").arg(pid)); ++i)
        QThread::msleep(50);
}

} // namespace

TestLayout::TestLayout() : root(QDir::tempPath() + QStringLiteral("/kx-layout-XXXXXX"))
{
    if (root.isValid()) {
        openToOthers(root.path());
        base = root.filePath(QStringLiteral("base"));
        QDir().mkpath(base);
        openToOthers(base);
    }
}

TestLayout::~TestLayout()
{
    stopLeftovers();
}

void TestLayout::stopLeftovers()
{
    if (base.isEmpty())
        return;
    stopByPidFile(base + QStringLiteral("/httpd/logs/httpd.pid"), QStringLiteral("apache2"));
    stopByPidFile(base + QStringLiteral("/application/tmp/pids/server.pid"), QString());
    stopByPidFile(programDir() + QStringLiteral("/KelvarixServer.pid"),
                  QStringLiteral("KelvarixServer"));
    const QString data = base + QStringLiteral("/postgresql/data");
    if (QFileInfo::exists(data + QStringLiteral("/postmaster.pid"))) {
        QFile pidFile(data + QStringLiteral("/postmaster.pid"));
        if (pidFile.open(QIODevice::ReadOnly)) {
            const qint64 pid = pidFile.readLine().trimmed().toLongLong();
            // Immediate shutdown: the cluster is thrown away with the folder.
            if (pid > 0)
                ::kill(pid_t(pid), SIGQUIT);
            for (int i = 0;
                 pid > 0 && i < 200 && QFileInfo::exists(QStringLiteral("/proc/%1").arg(pid)); ++i)
                QThread::msleep(50);
        }
    }
}

bool TestLayout::isValid() const
{
    return !base.isEmpty();
}

QString TestLayout::templatesDir()
{
    return QStringLiteral(KELVARIX_LAYOUT_DIR);
}

QString TestLayout::buildDir()
{
    return QStringLiteral(KELVARIX_BUILD_DIR);
}

bool TestLayout::install()
{
    QProcess cmake;
    cmake.setProcessChannelMode(QProcess::MergedChannels);
    cmake.start(QStringLiteral("cmake"),
                {QStringLiteral("--install"), buildDir(), QStringLiteral("--prefix"), base});
    if (!cmake.waitForFinished(kInstallTimeoutMs) || cmake.exitStatus() != QProcess::NormalExit ||
        cmake.exitCode() != 0) {
        error =
            QStringLiteral("cmake --install failed: ") + QString::fromLocal8Bit(cmake.readAll());
        return false;
    }
    return true;
}

bool TestLayout::copyTemplates()
{
    if (!copyTree(templatesDir(), base)) {
        error = QStringLiteral("cannot copy the layout's templates");
        return false;
    }
    QDir(base).mkpath(QStringLiteral("kelvarix/sql"));
    for (const char *file : {"zvn_struct_postgresql.sql", "zvn_fill.sql"}) {
        if (!QFile::copy(QStringLiteral(KELVARIX_SQL_DIR "/") + QLatin1String(file),
                         programDir() + QStringLiteral("/sql/") + QLatin1String(file))) {
            error = QStringLiteral("cannot copy the SQL files");
            return false;
        }
    }
    for (const char *dir :
         {"kelvarix/upload", "postgresql", "httpd/logs", "httpd/cgi-bin", "application/config"})
        QDir(base).mkpath(QLatin1String(dir));
    return true;
}

bool TestLayout::writeServicesIni(int postgresPort, int webManagerPort)
{
    return writeFile(QStringLiteral("kelvarix/Services.ini"),
                     QStringLiteral("PostgresPort=%1\nWebManagerPort=%2\n")
                         .arg(postgresPort)
                         .arg(webManagerPort));
}

QString TestLayout::baseDir() const
{
    return base;
}

QString TestLayout::programDir() const
{
    return base + QStringLiteral("/kelvarix");
}

QString TestLayout::errorText() const
{
    return error;
}

QString TestLayout::readFile(const QString &relativePath) const
{
    QFile file(base + QLatin1Char('/') + relativePath);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll());
}

bool TestLayout::writeFile(const QString &relativePath, const QString &text) const
{
    const QString path = base + QLatin1Char('/') + relativePath;
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(text.toUtf8()) == text.toUtf8().size();
}
