#include "terminationwatcher.h"

#include <QSocketNotifier>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace
{

// The handler may only write to a descriptor; the rest happens in the event loop.
int signalFds[2] = {-1, -1};

void onSignal(int signalNumber)
{
    const char byte = char(signalNumber);
    ssize_t written = ::write(signalFds[0], &byte, 1);
    (void)written;
}

} // namespace

TerminationWatcher::TerminationWatcher(QObject *parent) : QObject(parent)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalFds) != 0)
        return;
    notifier = new QSocketNotifier(signalFds[1], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &TerminationWatcher::readSignal);

    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

TerminationWatcher::~TerminationWatcher()
{
    if (signalFds[0] < 0)
        return;
    signal(SIGTERM, SIG_DFL);
    signal(SIGINT, SIG_DFL);
    ::close(signalFds[0]);
    ::close(signalFds[1]);
    signalFds[0] = signalFds[1] = -1;
}

void TerminationWatcher::readSignal()
{
    char byte = 0;
    if (::read(signalFds[1], &byte, 1) == 1)
        emit terminationRequested(int(byte));
}
