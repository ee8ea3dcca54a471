// The application side of a manager connection: installers kept below upload/ and the
// removal of an application with its jobs.
#include "managerserverreceiver.h"
#include "sqltext.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QSqlQuery>
#include <QSqlRecord>

static QString uploadDirectory()
{
    return QDir::currentPath() + QLatin1Char('/') + QLatin1String(kUploadDirName);
}

bool ManagerServerReceiver::isSafeUploadName(const QString &name)
{
    return !name.isEmpty() && name != QLatin1String(".") && !name.contains(QLatin1Char('/')) &&
           !name.contains(QLatin1Char('\\')) && !name.contains(QLatin1String("..")) &&
           !name.contains(QChar(0));
}

void ManagerServerReceiver::removeDirectoryTree(const QString &path)
{
    const QFileInfo top(path);
    if (top.isSymLink()) {
        QFile::remove(path);
        return;
    }
    QDir dir(path);
    if (!dir.exists())
        return;
    const QFileInfoList entries = dir.entryInfoList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::DirsFirst);
    for (const QFileInfo &entry : entries) {
        if (entry.isDir() && !entry.isSymLink())
            removeDirectoryTree(entry.absoluteFilePath());
        else
            QFile::remove(entry.absoluteFilePath());
    }
    QDir().rmdir(path);
}

bool ManagerServerReceiver::storeUploadedInstaller(int applicationId)
{
    uploadTarget.clear();
    QSqlQuery query = SqlText(QStringLiteral("SELECT * FROM applications WHERE id='%1'"))
                          .number(applicationId)
                          .exec();
    if (!query.next()) {
        // Without a name the path would be upload/ itself; nothing there is replaced.
        logMessage(QStringLiteral("No application with id %1: uploaded installer discarded")
                       .arg(applicationId));
        return false;
    }
    const QSqlRecord row = query.record();
    const QString name = row.value(QStringLiteral("name")).toString();
    const QString installerName = row.value(QStringLiteral("fileName")).toString();
    if (!isSafeUploadName(name) || !isSafeUploadName(installerName)) {
        logMessage(QStringLiteral("Refused installer outside the upload directory: ") +
                   QLatin1String(kUploadDirName) + QLatin1Char('/') + name + QLatin1Char('/') +
                   installerName);
        return false;
    }

    QDir cwd = QDir::current();
    if (!cwd.exists(QLatin1String(kUploadDirName)))
        cwd.mkdir(QLatin1String(kUploadDirName));
    const QString target = uploadDirectory() + QLatin1Char('/') + name;
    const QFileInfo targetInfo(target);
    if (targetInfo.exists() || targetInfo.isSymLink())
        removeDirectoryTree(target);
    QDir().mkdir(target);
    uploadTarget = target + QLatin1Char('/') + installerName;
    return true;
}

void ManagerServerReceiver::deleteApplication(int applicationId)
{
    QSqlQuery query = SqlText(QStringLiteral("SELECT * FROM applications WHERE id='%1'"))
                          .number(applicationId)
                          .exec();
    if (!query.next()) {
        logMessage(QStringLiteral("No application with id %1: upload directory left untouched")
                       .arg(applicationId));
    } else if (QDir::current().exists(QLatin1String(kUploadDirName))) {
        const QString name = query.record().value(QStringLiteral("name")).toString();
        if (isSafeUploadName(name))
            removeDirectoryTree(uploadDirectory() + QLatin1Char('/') + name);
        else
            logMessage(QStringLiteral("Refused to delete outside the upload directory: ") +
                       QLatin1String(kUploadDirName) + QLatin1Char('/') + name);
    }

    SqlText(QStringLiteral("DELETE FROM applications WHERE id=%1")).number(applicationId).exec();

    // Every job that installs or removes this application goes, whatever its command.
    QList<int> jobIds;
    QSqlQuery jobs =
        SqlText(QStringLiteral("SELECT * FROM jobs WHERE prm2=%1")).number(applicationId).exec();
    while (jobs.next())
        jobIds.append(jobs.value(0).toInt());
    for (int id : qAsConst(jobIds)) {
        SqlText(QStringLiteral("DELETE FROM job_groups WHERE job=%1")).number(id).exec();
        SqlText(QStringLiteral("DELETE FROM job_machines WHERE job=%1")).number(id).exec();
        SqlText(QStringLiteral("DELETE FROM jobs WHERE id=%1")).number(id).exec();
    }

    Command notice;
    initCommand(notice, 0, CommandType::MachinesChanged, 0);
    emit reportToManager(&notice);
}
