#include "xvfbdisplay.h"

#include "pgcluster.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QProcessEnvironment>
#include <cstdio>

namespace
{

constexpr int kStartTimeoutMs = 20000;

} // namespace

XvfbDisplay::~XvfbDisplay()
{
    stop();
}

bool XvfbDisplay::start(bool withTray)
{
    // -displayfd: Xvfb chooses a free display and prints its number once it accepts clients.
    xvfb.start(QStringLiteral("Xvfb"),
               {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                QStringLiteral("0"), QStringLiteral("1280x800x24"), QStringLiteral("-nolisten"),
                QStringLiteral("tcp")});
    if (!xvfb.waitForStarted(kStartTimeoutMs)) {
        error = QStringLiteral("Xvfb could not start: ") + xvfb.errorString();
        return false;
    }
    QByteArray number;
    QDeadlineTimer deadline(kStartTimeoutMs);
    while (!number.contains('\n') && !deadline.hasExpired() && xvfb.state() == QProcess::Running) {
        xvfb.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
        number += xvfb.readAllStandardOutput();
    }
    if (!number.contains('\n')) {
        error = QStringLiteral("Xvfb did not report a display");
        return false;
    }
    displayName = QLatin1Char(':') + QString::fromLatin1(number.trimmed());

    if (withTray) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), displayName);
        tray.setProcessEnvironment(env);
        tray.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        tray.start(QStringLiteral("trayer"),
                   {QStringLiteral("--edge"), QStringLiteral("top"), QStringLiteral("--align"),
                    QStringLiteral("right"), QStringLiteral("--widthtype"), QStringLiteral("pixel"),
                    QStringLiteral("--width"), QStringLiteral("160"), QStringLiteral("--height"),
                    QStringLiteral("32")});
        if (!tray.waitForStarted(kStartTimeoutMs)) {
            error = QStringLiteral("trayer could not start: ") + tray.errorString();
            return false;
        }
    }
    return true;
}

void XvfbDisplay::stop()
{
    for (QProcess *process : {&tray, &xvfb}) {
        if (process->state() == QProcess::NotRunning)
            continue;
        process->terminate();
        if (!process->waitForFinished(5000)) {
            process->kill();
            process->waitForFinished(5000);
        }
    }
}

void XvfbDisplay::use() const
{
    qputenv("DISPLAY", displayName.toLocal8Bit());
    qputenv("QT_QPA_PLATFORM", "xcb");
}

QString XvfbDisplay::display() const
{
    return displayName;
}

QString XvfbDisplay::errorText() const
{
    return error;
}

bool XvfbDisplay::screenshot(const QString &fileName) const
{
    QProcess import;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), displayName);
    import.setProcessEnvironment(env);
    import.start(QStringLiteral("import"),
                 {QStringLiteral("-window"), QStringLiteral("root"), fileName});
    return import.waitForFinished(30000) && import.exitCode() == 0;
}

QString XvfbDisplay::outputDir()
{
    const QString dir = QStringLiteral(KELVARIX_TEST_OUTPUT_DIR);
    QDir().mkpath(dir);
    return dir;
}

int XvfbDisplay::unavailable(const QString &why)
{
    std::fprintf(stderr, "no X display for window tests: %s\n", qPrintable(why));
    return PgCluster::required() ? 1 : 0;
}
