#include "signalwatcher.h"

#include <QSocketNotifier>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace
{

// The handler may only write to a descriptor; the rest happens in the event loop.
int signalPipe[2] = {-1, -1};

void onSignal(int signalNumber)
{
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    const ssize_t written = ::write(signalPipe[0], &byte, 1);
    (void)written;
}

void watch(int signalNumber)
{
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(signalNumber, &action, nullptr);
}

void restore(int signalNumber)
{
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    ::sigaction(signalNumber, &action, nullptr);
}

} // namespace

SignalWatcher::SignalWatcher(bool suspendable, QObject *parent) : QObject(parent)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0)
        return;
    ::fcntl(signalPipe[0], F_SETFL, O_NONBLOCK);
    ::fcntl(signalPipe[1], F_SETFL, O_NONBLOCK);
    notifier = new QSocketNotifier(signalPipe[1], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &SignalWatcher::readSignal);
    watch(SIGTERM);
    watch(SIGINT);
    watch(SIGHUP);
    if (suspendable) {
        watch(SIGUSR1);
        watch(SIGUSR2);
    }
}

SignalWatcher::~SignalWatcher()
{
    for (int s : {SIGTERM, SIGINT, SIGHUP, SIGUSR1, SIGUSR2})
        restore(s);
    delete notifier;
    ::close(signalPipe[0]);
    ::close(signalPipe[1]);
    signalPipe[0] = signalPipe[1] = -1;
}

void SignalWatcher::readSignal()
{
    unsigned char byte = 0;
    while (::read(signalPipe[1], &byte, 1) == 1) {
        switch (byte) {
        case SIGUSR1:
            emit pauseRequested();
            break;
        case SIGUSR2:
            emit resumeRequested();
            break;
        default:
            emit terminationRequested(byte);
            break;
        }
    }
}
