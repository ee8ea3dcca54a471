#include "worker.h"

#include <QRegularExpression>

#include "agentlog.h"
#include "agentsettings.h"
#include "invprobe.h"
#include "serversender.h"

#include <QRegularExpression>
#include <QTimer>

namespace
{

// Measures a figure once per tick: the probe's bare figure, 0 when it is not a number.
void measure(double &figure, int (*probe)(QString &, bool))
{
    if (figure != kNotMeasured)
        return;
    QString text;
    probe(text, true);
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    figure = ok ? value : 0.0;
}

QString figureText(double figure)
{
    return QString::number(figure, 'g', 6);
}

} // namespace

Worker::Worker(quint32 uuid, const QString &serverAddress, int serverPort, int timerPeriod,
               QObject *parent)
    : QObject(parent), uuid(uuid), serverAddress(serverAddress), serverPort(serverPort),
      timerPeriod(timerPeriod)
{
    registerCommandMetaType();
}

void Worker::startUp()
{
    clearFindings();
    tickTimer = new QTimer(this);
    connect(tickTimer, &QTimer::timeout, this, &Worker::workerTimeoutSlot);
    tickTimer->start(effectiveTimerPeriod(timerPeriod));
}

void Worker::alarmJob(Command cmd)
{
    if (cmd.type == CommandType::RemoveRule) {
        for (int i = 0; i < rules.size(); ++i) {
            if (rules[i].value == cmd.value) {
                rules.removeAt(i);
                break;
            }
        }
        return;
    }
    rules.append(cmd);
}

void Worker::identityChanged(quint32 newUuid)
{
    uuid = newUuid;
}

void Worker::workerTimeoutSlot()
{
    bool changesChecked = false;
    for (const Command &rule : qAsConst(rules)) {
        switch (rule.type) {
        case CommandType::CpuRule:
            processorCheck(rule.flag);
            break;
        case CommandType::DiskRule:
            diskCheck(rule.flag);
            break;
        case CommandType::MemoryRule:
            memoryCheck(rule.flag);
            break;
        case CommandType::ProcessRule:
            processCheck(commandText(rule));
            break;
        case CommandType::ChangesRule:
            if (!changesChecked)
                changesCheck();
            changesChecked = true;
            break;
        default:
            break;
        }
    }
    if (hasFindings()) {
        // The document travels one character per UTF-8 byte.
        const QByteArray bytes = alarmDocument().toUtf8();
        new ServerSender(uuid, serverAddress, serverPort,
                         QString::fromLatin1(bytes.constData(), bytes.size()), 0, false, nullptr,
                         this);
    }
    clearFindings();
}

bool Worker::hasFindings() const
{
    return cpuAlarm || memoryAlarm || diskAlarm || !startedAlarms.isEmpty() ||
           !stoppedAlarms.isEmpty() || hardwareAlarm || !newSoftware.isEmpty() ||
           !deletedSoftware.isEmpty();
}

void Worker::processorCheck(int threshold)
{
    measure(cpuFigure, monitor_cpu);
    if (threshold < cpuFigure)
        cpuAlarm = true;
}

void Worker::diskCheck(int threshold)
{
    measure(diskFigure, monitor_disk);
    if (threshold < diskFigure)
        diskAlarm = true;
}

void Worker::memoryCheck(int threshold)
{
    measure(memoryFigure, monitor_memory);
    if (threshold < memoryFigure)
        memoryAlarm = true;
}

void Worker::processCheck(const QString &name)
{
    if (processList.isEmpty())
        query_process_list(processList);
    const bool running = processList.contains(name, Qt::CaseInsensitive);
    if (!watchedProcesses.contains(name, Qt::CaseInsensitive)) {
        // First sight only records the state.
        watchedProcesses.append(name);
        (running ? runningProcesses : stoppedProcesses).append(name);
    } else if (stoppedProcesses.contains(name, Qt::CaseInsensitive) && running) {
        startedAlarms.append(name);
        stoppedProcesses.removeAll(name);
        runningProcesses.append(name);
    } else if (runningProcesses.contains(name, Qt::CaseInsensitive) && !running) {
        stoppedAlarms.append(name);
        runningProcesses.removeAll(name);
        stoppedProcesses.append(name);
    }
}

void Worker::changesCheck()
{
    QString hardware;
    QString printers;
    QString network;
    QStringList software;
    query_hardware(hardware);
    query_printers(printers);
    query_network_adapters(network);
    query_Registry_software_list(software);

    if (hardwareSnapshot.isEmpty()) {
        hardwareSnapshot = hardware;
        printerSnapshot = printers;
        networkSnapshot = network;
    } else if (hardware != hardwareSnapshot || printers != printerSnapshot ||
               network != networkSnapshot) {
        hardwareAlarm = true;
        hardwareSnapshot = hardware;
        printerSnapshot = printers;
        networkSnapshot = network;
    }

    if (softwareSnapshot.isEmpty()) {
        softwareSnapshot = software;
    } else if (software != softwareSnapshot) {
        for (const QString &entry : qAsConst(softwareSnapshot))
            if (!software.contains(entry, Qt::CaseInsensitive))
                deletedSoftware.append(entry);
        for (const QString &entry : qAsConst(software))
            if (!softwareSnapshot.contains(entry, Qt::CaseInsensitive))
                newSoftware.append(entry);
        softwareSnapshot = software;
    }
}

// Names go into the document as element text. Names from the probe library are escaped
// already; a rule's process name is not, and one bare "&" or "<" would make the server
// refuse the whole document, so only what is not yet escaped is escaped here.
static QString elementText(const QString &name)
{
    static const QRegularExpression bareAmpersand(
        QStringLiteral("&(?!(amp|lt|gt|quot|apos|#[0-9]+|#x[0-9A-Fa-f]+);)"));
    QString text = name;
    text.replace(bareAmpersand, QStringLiteral("&amp;"));
    text.replace(QLatin1Char('<'), QLatin1String("&lt;"));
    text.replace(QLatin1Char('>'), QLatin1String("&gt;"));
    return text;
}

QString Worker::alarmDocument() const
{
    QString d = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\" ?><document><alarms>");
    if (cpuAlarm)
        d += QStringLiteral("<cpuAlarm><value>%1</value></cpuAlarm>").arg(figureText(cpuFigure));
    if (memoryAlarm)
        d += QStringLiteral("<memoryAlarm><value>%1</value></memoryAlarm>")
                 .arg(figureText(memoryFigure));
    if (diskAlarm)
        d += QStringLiteral("<diskAlarm><value>%1</value></diskAlarm>").arg(figureText(diskFigure));
    auto group = [&d](const char *container, const char *item, const QStringList &names) {
        if (names.isEmpty())
            return;
        d += QLatin1Char('<') + QLatin1String(container) + QLatin1Char('>');
        for (const QString &name : names)
            d += QLatin1Char('<') + QLatin1String(item) + QLatin1Char('>') + elementText(name) +
                 QLatin1String("</") + QLatin1String(item) + QLatin1Char('>');
        d += QLatin1String("</") + QLatin1String(container) + QLatin1Char('>');
    };
    group("startedAlarmProcesses", "process", startedAlarms);
    group("stoppedAlarmProcesses", "process", stoppedAlarms);
    if (hardwareAlarm)
        d += QLatin1String("<hardwareChangesAlarm><value>1</value></hardwareChangesAlarm>");
    group("newSoftwareAlarm", "software", newSoftware);
    group("deletedSoftwareAlarm", "software", deletedSoftware);
    d += QLatin1String("</alarms></document>");
    return d;
}

void Worker::clearFindings()
{
    cpuFigure = memoryFigure = diskFigure = kNotMeasured;
    cpuAlarm = memoryAlarm = diskAlarm = hardwareAlarm = false;
    processList.clear();
    startedAlarms.clear();
    stoppedAlarms.clear();
    newSoftware.clear();
    deletedSoftware.clear();
    watchedProcesses.removeDuplicates();
    runningProcesses.removeDuplicates();
    stoppedProcesses.removeDuplicates();
}
