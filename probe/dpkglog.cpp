#include "dpkglog.h"

#include "probelog.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <zlib.h>

namespace
{

constexpr int kReadChunk = 65536;
constexpr int kDateSize = 10; // yyyy-MM-dd
constexpr int kTimeSize = 8;  // hh:mm:ss

// Keeps the newest part of an overlong log: whole lines, ending with the log's end.
void keepTail(QByteArray &content, qint64 limit)
{
    if (content.size() <= limit)
        return;
    content.remove(0, int(content.size() - limit));
    const int firstBreak = content.indexOf('\n');
    content.remove(0, firstBreak < 0 ? content.size() : firstBreak + 1);
}

} // namespace

QStringList DpkgLog::logFiles(const QString &currentLog)
{
    QStringList files;
    if (QFileInfo::exists(currentLog))
        files.append(currentLog);
    // logrotate numbers its old logs without gaps; the newest one may stay uncompressed.
    for (int n = 1; n <= kMaxRotations; ++n) {
        const QString plain = currentLog + QLatin1Char('.') + QString::number(n);
        const QString compressed = plain + QLatin1String(".gz");
        if (QFileInfo::exists(plain))
            files.append(plain);
        else if (QFileInfo::exists(compressed))
            files.append(compressed);
        else
            break;
    }
    return files;
}

bool DpkgLog::readLog(const QString &path, QByteArray &content)
{
    content.clear();
    // zlib reads a file that is not gzip-compressed as it is, so one reader serves both;
    // gzip members written one after the other are read as one text, as gzip itself does.
    gzFile file = ::gzopen(QFile::encodeName(path).constData(), "rb");
    if (!file) {
        qCDebug(lcProbe) << "package log" << path << "cannot be opened";
        return false;
    }
    QByteArray chunk(kReadChunk, Qt::Uninitialized);
    for (;;) {
        const int got = ::gzread(file, chunk.data(), unsigned(chunk.size()));
        if (got <= 0)
            break;
        content.append(chunk.constData(), got);
        // Trims in steps rather than on every chunk.
        if (content.size() > 2 * kMaxLogBytes)
            keepTail(content, kMaxLogBytes);
    }
    // A log cut short ends without error from gzread but leaves one behind.
    int code = Z_OK;
    const char *error = ::gzerror(file, &code);
    const bool damaged = code != Z_OK;
    if (damaged)
        qCDebug(lcProbe) << "package log" << path << "is damaged:" << error;
    ::gzclose(file);
    keepTail(content, kMaxLogBytes);
    // A line cut off by damage may be missing its later fields.
    if (damaged && !content.endsWith('\n'))
        content.truncate(content.lastIndexOf('\n') + 1);
    return true;
}

QVector<DpkgLog::Upgrade> DpkgLog::parse(const QByteArray &text, QString *newest)
{
    QVector<Upgrade> upgrades;
    for (const QByteArray &line : text.split('\n')) {
        const QList<QByteArray> f = line.simplified().split(' ');
        if (f.size() < 3 || f.at(0).size() != kDateSize || f.at(1).size() != kTimeSize)
            continue;
        const QString time = QString::fromLatin1(f.at(0) + ' ' + f.at(1));
        if (newest)
            *newest = time;
        if (f.size() < 6 || f.at(2) != "upgrade")
            continue;
        upgrades.append({time, QString::fromUtf8(f.at(3)), QString::fromUtf8(f.at(4)),
                         QString::fromUtf8(f.at(5))});
    }
    return upgrades;
}

QVector<DpkgLog::Upgrade> DpkgLog::history(const QString &currentLog, const QString &notBefore)
{
    // Read newest first, so that reading can stop at the first log that is wholly too old.
    QVector<QVector<Upgrade>> perLog;
    for (const QString &path : logFiles(currentLog)) {
        QByteArray content;
        if (!readLog(path, content))
            continue;
        QString newest;
        perLog.prepend(parse(content, &newest));
        if (!newest.isEmpty() && newest < notBefore)
            break;
    }
    QVector<Upgrade> all;
    for (const auto &log : qAsConst(perLog)) {
        for (const Upgrade &upgrade : log) {
            if (upgrade.time >= notBefore)
                all.append(upgrade);
        }
    }
    // Oldest first, so the last position of a package and version is its newest.
    QHash<QString, int> latest;
    for (int i = 0; i < all.size(); ++i)
        latest.insert(all.at(i).package + QLatin1Char('=') + all.at(i).newVersion, i);
    QVector<Upgrade> history;
    for (int i = 0; i < all.size(); ++i) {
        if (latest.value(all.at(i).package + QLatin1Char('=') + all.at(i).newVersion) == i)
            history.append(all.at(i));
    }
    return history;
}
