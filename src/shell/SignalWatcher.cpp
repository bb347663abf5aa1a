#include "SignalWatcher.h"

#include "ShellLog.h"

#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int Watched[] = {SIGTERM, SIGINT};
// [0] is written by the handler, [1] read by the notifier.
int g_fds[2] = {-1, -1};
using Action = void (*)() noexcept;
std::atomic<Action> g_immediate{nullptr};
static_assert(std::atomic<Action>::is_always_lock_free, "read in a signal handler");

} // namespace

SignalWatcher::SignalWatcher(QObject* parent) : QObject(parent)
{
    if (g_fds[0] >= 0) {
        qCWarning(lcShell) << "a second signal watcher is not set up";
        return;
    }
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_fds) != 0) {
        qCWarning(lcShell) << "no socket pair for signals:" << std::strerror(errno);
        g_fds[0] = g_fds[1] = -1;
        return;
    }
    m_notifier = new QSocketNotifier(qintptr(g_fds[1]), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SignalWatcher::readSignals);
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = &SignalWatcher::handle;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signalNumber : Watched)
        ::sigaction(signalNumber, &action, nullptr);
}

SignalWatcher::~SignalWatcher()
{
    if (!m_notifier)
        return;
    // The program is ending: a late signal must not turn its normal end into a kill.
    for (int signalNumber : Watched)
        std::signal(signalNumber, SIG_IGN);
    delete m_notifier;
    ::close(g_fds[0]);
    ::close(g_fds[1]);
    g_fds[0] = g_fds[1] = -1;
}

// Runs in the signal handler: only async-signal-safe calls.
void SignalWatcher::handle(int signalNumber)
{
    const int saved = errno;
    if (const Action action = g_immediate.load())
        action();
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] const ssize_t n = ::write(g_fds[0], &byte, 1);
    errno = saved;
}

void SignalWatcher::setImmediateAction(void (*action)() noexcept)
{
    g_immediate.store(action);
}

void SignalWatcher::readSignals()
{
    unsigned char bytes[16];
    ssize_t n = 0;
    while ((n = ::read(g_fds[1], bytes, sizeof bytes)) > 0) {
        for (ssize_t i = 0; i < n; ++i)
            emit signal_received(bytes[i]);
    }
}
