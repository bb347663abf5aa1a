#include "LinkChannel.h"

#include <algorithm>

static_assert(std::atomic<int>::is_always_lock_free, "changed from a signal handler");
std::atomic<int> LinkChannel::traffic{LinkChannel::Open};

void LinkChannel::reportOpen(bool ok, const QString& error)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_open = ok ? 1 : -1;
        m_openError = error;
    }
    m_cond.notify_all();
}

bool LinkChannel::waitOpen(int timeoutMs, QString* error)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    const bool done =
        m_cond.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return m_open != 0; });
    if (!done) {
        *error = QStringLiteral("no answer from the port thread");
        return false;
    }
    *error = m_openError;
    return m_open == 1;
}

void LinkChannel::notifyLine()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_lines;
    }
    m_cond.notify_all();
}

void LinkChannel::notifyLost()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_lost = true;
    }
    m_cond.notify_all();
}

bool LinkChannel::isLost() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lost;
}

quint64 LinkChannel::lineCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lines;
}

bool LinkChannel::waitLine(quint64* seen, Clock::time_point deadline)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    const auto ended = [&] {
        return m_lines != *seen || m_lost;
    };
    while (!isInterrupted() &&
           !m_cond.wait_until(lock, std::min(deadline, Clock::now() + InterruptCheck), ended)) {
        if (Clock::now() >= deadline)
            break;
    }
    const bool arrived = m_lines != *seen;
    *seen = m_lines;
    return arrived;
}

void LinkChannel::reset()
{
    tx.reset();
    rx.reset();
    dropPartialLine.store(false);
    wakePending.store(false);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_lines = 0;
    m_lost = false;
    m_open = 0;
    m_openError.clear();
}
