#include "servicebase.h"

#include "signalwatcher.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QProcess>
#include <QTextStream>

#include <cstdio>

const char kDefaultUnitDirectory[] = "/etc/systemd/system";
const char kUnitFileName[] = "kelvarix-agent.service";

// The shipped unit names this directory; an installed unit names the program's own.
static const char kShippedProgramDirectory[] = "/opt/kelvarix/agent";

ServiceBase::ServiceBase(int argc, char **argv, const QString &name)
    : argc(argc), argv(argv), name(name), description(name)
{
}

ServiceBase::~ServiceBase() = default;

void ServiceBase::stop() {}
void ServiceBase::pause() {}
void ServiceBase::resume() {}
void ServiceBase::processCommand(int) {}

void ServiceBase::createApplication(int &argc, char **argv)
{
    app.reset(new QCoreApplication(argc, argv));
}

int ServiceBase::executeApplication()
{
    return QCoreApplication::exec();
}

QString ServiceBase::unitDirectory()
{
    const QString dir = qEnvironmentVariable("KELVARIX_SYSTEMD_UNIT_DIR");
    return dir.isEmpty() ? QLatin1String(kDefaultUnitDirectory) : dir;
}

// The unit template is compiled into this static library, which must register it itself.
static void initUnitResource()
{
    Q_INIT_RESOURCE(agentservice);
}

QString ServiceBase::unitFileText(const QString &programPath)
{
    initUnitResource();
    QFile shipped(QStringLiteral(":/service/kelvarix-agent.service"));
    if (!shipped.open(QIODevice::ReadOnly))
        return QString();
    const QByteArray bytes = shipped.readAll();
    QString text = QString::fromUtf8(bytes.constData(), bytes.size());
    const QFileInfo program(programPath);
    text.replace(QLatin1String(kShippedProgramDirectory) + QLatin1Char('/') +
                     QLatin1String("KelvarixAgentService"),
                 program.absoluteFilePath());
    text.replace(QLatin1String(kShippedProgramDirectory), program.absolutePath());
    return text;
}

int ServiceBase::exec()
{
    createApplication(argc, argv);
    QCoreApplication::setApplicationName(name);
    QCoreApplication::setApplicationVersion(QStringLiteral(KELVARIX_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(description);
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption foreground({QStringLiteral("e"), QStringLiteral("foreground")},
                                        QStringLiteral("Run in the foreground (the default)."));
    const QCommandLineOption install({QStringLiteral("i"), QStringLiteral("install")},
                                     QStringLiteral("Install the systemd unit."));
    const QCommandLineOption uninstall({QStringLiteral("u"), QStringLiteral("uninstall")},
                                       QStringLiteral("Remove the systemd unit."));
    parser.addOptions({foreground, install, uninstall});
    parser.process(*app);

    if (parser.isSet(install))
        return installUnit();
    if (parser.isSet(uninstall))
        return uninstallUnit();
    return run();
}

int ServiceBase::run()
{
    // Received files land below the working directory, which belongs beside the program.
    QDir::setCurrent(QCoreApplication::applicationDirPath());

    SignalWatcher watcher(flags & CanBeSuspended);
    QObject::connect(&watcher, &SignalWatcher::terminationRequested, app.get(),
                     [](int) { QCoreApplication::quit(); });
    QObject::connect(&watcher, &SignalWatcher::pauseRequested, app.get(), [this] { pause(); });
    QObject::connect(&watcher, &SignalWatcher::resumeRequested, app.get(), [this] { resume(); });

    start();
    const int code = executeApplication();
    stop();
    return code;
}

int ServiceBase::installUnit()
{
    QTextStream err(stderr);
    const QString text = unitFileText(QCoreApplication::applicationFilePath());
    const QString path = unitDirectory() + QLatin1Char('/') + QLatin1String(kUnitFileName);
    QFile unit(path);
    if (text.isEmpty() || !unit.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        unit.write(text.toUtf8()) < 0 || !unit.flush()) {
        err << "Unable to write " << path << ": " << unit.errorString() << '\n';
        return 1;
    }
    unit.close();
    QTextStream(stdout) << "Installed " << path << '\n';
    if (unitDirectory() == QLatin1String(kDefaultUnitDirectory))
        QProcess::execute(QStringLiteral("systemctl"), {QStringLiteral("daemon-reload")});
    return 0;
}

int ServiceBase::uninstallUnit()
{
    const QString path = unitDirectory() + QLatin1Char('/') + QLatin1String(kUnitFileName);
    if (QFile::exists(path) && !QFile::remove(path)) {
        QTextStream(stderr) << "Unable to remove " << path << '\n';
        return 1;
    }
    QTextStream(stdout) << "Removed " << path << '\n';
    if (unitDirectory() == QLatin1String(kDefaultUnitDirectory))
        QProcess::execute(QStringLiteral("systemctl"), {QStringLiteral("daemon-reload")});
    return 0;
}
