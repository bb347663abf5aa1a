#pragma once

#include "RingBuffer.h"

#include <QString>
#include <QtGlobal>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

// What the GUI thread and the serial worker share: the two rings and the wake-ups.
// The GUI thread produces into tx and consumes rx; the worker the other way round.
// The GUI thread sleeps on the condition variable until the worker reports a new
// line, the end of the link or the result of opening the port.
class LinkChannel
{
public:
    using Clock = std::chrono::steady_clock;

    RingBuffer tx;
    RingBuffer rx;

    // Set by the GUI thread before it queues a new command, so the worker drops a
    // half-received line that cannot belong to the new answer.
    std::atomic<bool> dropPartialLine{false};
    // True while a wake-up of the worker is pending and not yet taken; saves one
    // per line. Both sides swap it (acq_rel) so the worker sees the bytes.
    std::atomic<bool> wakePending{false};

    // Called by the worker once the port is open (ok) or could not be opened.
    void reportOpen(bool ok, const QString& error);
    // GUI thread: waits for reportOpen; false on failure or time-out.
    bool waitOpen(int timeoutMs, QString* error);

    // Worker: a complete line went into rx.
    void notifyLine();
    // Worker: the link is gone; wakes any waiter.
    void notifyLost();
    bool isLost() const;

    // Lines reported so far; the starting `seen` for waitLine.
    quint64 lineCount() const;
    // GUI thread: sleeps until a line arrived after `seen` (returns true), the link
    // is lost, the deadline passes or the waits are interrupted (false). `seen` is
    // updated.
    bool waitLine(quint64* seen, Clock::time_point deadline);

    // Process-wide state of the traffic. Open; Interrupted by a quit: every wait for a
    // line ends at once and nothing is sent; Final: the quit's last sequence, sent
    // whatever further interrupts come. Changed from a signal handler too, which may
    // only use a lock-free atomic; so waitLine looks at it every InterruptCheck instead
    // of being woken.
    enum Traffic : int { Open, Interrupted, Final };
    static std::atomic<int> traffic;
    static bool isInterrupted() { return traffic.load() == Interrupted; }
    static constexpr std::chrono::milliseconds InterruptCheck{20};

    void reset();

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_cond;
    quint64 m_lines = 0;
    bool m_lost = false;
    int m_open = 0; // 0 pending, 1 open, -1 failed
    QString m_openError;
};
