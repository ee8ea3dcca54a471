#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM and SIGINT into a clean quit of the event loop, so that a headless server
// stopped by systemd or a terminal ends its thread and closes its database connection.
class TerminationWatcher : public QObject
{
    Q_OBJECT
public:
    explicit TerminationWatcher(QObject *parent = nullptr);
    ~TerminationWatcher() override;

signals:
    void terminationRequested(int signalNumber);

private:
    void readSignal();

    QSocketNotifier *notifier = nullptr;
};
