#pragma once

#include <QObject>

class QSocketNotifier;

// Turns the process signals the agent programs are controlled with (a service manager's stop,
// a session's end, a terminal's interrupt) into Qt signals in the main thread.
class SignalWatcher : public QObject
{
    Q_OBJECT
public:
    explicit SignalWatcher(bool suspendable, QObject *parent = nullptr);
    ~SignalWatcher() override;

signals:
    void terminationRequested(int signalNumber);
    void pauseRequested();
    void resumeRequested();

private slots:
    void readSignal();

private:
    QSocketNotifier *notifier = nullptr;
};
