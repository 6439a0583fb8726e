#include "signalwatch.h"

#include <QSocketNotifier>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {
int g_Pipe[2] = {-1, -1};
volatile sig_atomic_t g_StopPending = 0;

void OnSignal(int number)
{
    const int saved = errno;
    if (number != SIGHUP)
        g_StopPending = 1;
    const unsigned char byte = static_cast<unsigned char>(number);
    // Nothing else is safe in a handler; a full pipe already holds a wake-up.
    [[maybe_unused]] const ssize_t n = write(g_Pipe[1], &byte, 1);
    errno = saved;
}
} // namespace

SignalWatch::SignalWatch(QObject* parent) : QObject(parent)
{
    if (pipe2(g_Pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int number : {SIGTERM, SIGINT, SIGHUP})
        sigaction(number, &action, nullptr);
    m_Notifier = new QSocketNotifier(g_Pipe[0], QSocketNotifier::Read, this);
    connect(m_Notifier, &QSocketNotifier::activated, this, &SignalWatch::Read);
}

bool SignalWatch::StopPending()
{
    return g_StopPending != 0;
}

SignalWatch::~SignalWatch()
{
    for (int number : {SIGTERM, SIGINT, SIGHUP})
        signal(number, SIG_DFL);
    for (int& fd : g_Pipe) {
        if (fd >= 0)
            close(fd);
        fd = -1;
    }
}

void SignalWatch::Read()
{
    unsigned char byte = 0;
    while (read(g_Pipe[0], &byte, 1) == 1) {
        if (byte == SIGHUP)
            emit Reopen();
        else
            emit Stop();
    }
}
