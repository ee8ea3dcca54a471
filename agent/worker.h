#pragma once

#include "command.h"
#include "snapshot.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

class QTimer;

// A figure of this tick that has not been measured yet.
constexpr double kNotMeasured = -1.0;

// Keeps the alarm rules the server sends and evaluates them on its own timer, in its own thread;
// what one tick finds goes to the server as one alarm document.
class Worker : public QObject
{
    Q_OBJECT
public:
    Worker(quint32 uuid, const QString &serverAddress, int serverPort, int timerPeriod,
           QObject *parent = nullptr);

    // The alarm document of this tick's findings.
    QString alarmDocument() const;
    // Whether this tick found anything to report.
    bool hasFindings() const;

    quint32 uuid;
    QString serverAddress;
    int serverPort;
    int timerPeriod;
    QTimer *tickTimer = nullptr;
    // The rules in arrival order, as the server sent them.
    QList<Command> rules;

    double cpuFigure = kNotMeasured;
    double memoryFigure = kNotMeasured;
    double diskFigure = kNotMeasured;
    bool cpuAlarm = false;
    bool memoryAlarm = false;
    bool diskAlarm = false;
    bool hardwareAlarm = false;
    Snapshot<QString> hardwareSnapshot;
    Snapshot<QString> printerSnapshot;
    Snapshot<QString> networkSnapshot;
    Snapshot<QStringList> softwareSnapshot;
    QStringList watchedProcesses;
    QStringList runningProcesses;
    QStringList stoppedProcesses;
    QStringList processList;
    // Whether this tick has asked for the process list yet, and with what result.
    enum class ProcessQuery { NotAsked, Read, Failed };
    ProcessQuery processQuery = ProcessQuery::NotAsked;
    QStringList startedAlarms;
    QStringList stoppedAlarms;
    QStringList newSoftware;
    QStringList deletedSoftware;

public slots:
    void alarmJob(Command cmd);
    void startUp();
    // The agent received a new identity; alarms must carry it from now on.
    void identityChanged(quint32 newUuid);

private slots:
    void workerTimeoutSlot();

private:
    void processorCheck(int threshold);
    void diskCheck(int threshold);
    void memoryCheck(int threshold);
    void processCheck(const QString &name);
    void changesCheck();
    // The changes rule compares with the machine as it was when the rule arrived.
    void takeStartingPoint();
    void clearFindings();
};
