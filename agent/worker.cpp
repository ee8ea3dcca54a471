#include "worker.h"

#include "agentlog.h"
#include "agentsettings.h"
#include "invprobe.h"
#include "serversender.h"

#include <QRegularExpression>
#include <QTimer>
#include <algorithm>

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
    // Without a changes rule nothing was watched; a second one shares the first one's view.
    if (cmd.type == CommandType::ChangesRule &&
        std::none_of(rules.cbegin(), rules.cend(),
                     [](const Command &rule) { return rule.type == CommandType::ChangesRule; }))
        takeStartingPoint();
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
    if (processQuery == ProcessQuery::NotAsked) {
        processQuery =
            query_process_list(processList) == 0 ? ProcessQuery::Read : ProcessQuery::Failed;
    }
    // Without this tick's list every watched process would look stopped.
    if (processQuery == ProcessQuery::Failed)
        return;
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
    // The probes answer 0 on success; a failure text or a half-read list says nothing about
    // what changed.
    const TextCheck hardwareCheck =
        checkText(hardwareSnapshot, query_hardware(hardware) == 0, hardware);
    const TextCheck printerCheck =
        checkText(printerSnapshot, query_printers(printers) == 0, printers);
    const TextCheck networkCheck =
        checkText(networkSnapshot, query_network_adapters(network) == 0, network);
    const ListCheck softwareCheck =
        checkList(softwareSnapshot, query_Registry_software_list(software) == 0, software);

    hardwareSnapshot = hardwareCheck.next;
    printerSnapshot = printerCheck.next;
    networkSnapshot = networkCheck.next;
    softwareSnapshot = softwareCheck.next;
    if (hardwareCheck.changed || printerCheck.changed || networkCheck.changed)
        hardwareAlarm = true;
    newSoftware += softwareCheck.added;
    deletedSoftware += softwareCheck.removed;
}

void Worker::takeStartingPoint()
{
    hardwareSnapshot = printerSnapshot = networkSnapshot = Snapshot<QString>();
    softwareSnapshot = Snapshot<QStringList>();
    changesCheck();
    if (softwareSnapshot.taken)
        qCInfo(lcAgent).nospace() << "changes rule: starting point taken ("
                                  << softwareSnapshot.value.size() << " programs)";
    else
        qCInfo(lcAgent) << "changes rule: software list not readable; the next check that "
                           "reads it takes the starting point";
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
    processQuery = ProcessQuery::NotAsked;
    startedAlarms.clear();
    stoppedAlarms.clear();
    newSoftware.clear();
    deletedSoftware.clear();
    watchedProcesses.removeDuplicates();
    runningProcesses.removeDuplicates();
    stoppedProcesses.removeDuplicates();
}
