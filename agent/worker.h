#pragma once

#include "command.h"

#include <QList>
#include <QObject>
#include <QString>

class QTimer;

// Keeps the alarm rules the server sends and evaluates them on its own timer, in its own thread.
class Worker : public QObject
{
    Q_OBJECT
public:
    Worker(quint32 uuid, const QString &serverAddress, int serverPort, int timerPeriod,
           QObject *parent = nullptr);

    quint32 uuid;
    QString serverAddress;
    int serverPort;
    int timerPeriod;
    QTimer *tickTimer = nullptr;
    // The rules in arrival order, as the server sent them.
    QList<Command> rules;

public slots:
    void alarmJob(Command cmd);
    void startUp();

private slots:
    void workerTimeoutSlot();
};
