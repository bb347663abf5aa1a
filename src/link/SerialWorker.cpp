#include "SerialWorker.h"
#include "LogKind.h"

#include "LinkChannel.h"
#include "TextConvert.h"

#include <QDeadlineTimer>
#include <QLoggingCategory>
#include <QSerialPort>

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sched.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcLink, "rmx.link", QtInfoMsg)

namespace {
constexpr char ENQ = 0x05;
constexpr char NAK = 0x15;
constexpr int EnqTries = 3;

// How long the thread stays awake after traffic (see stayAwake).
constexpr qint64 SpinNs = 100000;

qint64 nowNs()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

qint64 monotonicMs()
{
    return nowNs() / 1000000;
}

} // namespace

SerialWorker::SerialWorker(LinkChannel* channel, const QString& portName, int baudRate,
                           int keepAliveMs, QObject* parent)
    : QThread(parent), m_channel(channel), m_portName(portName), m_keepAliveMs(keepAliveMs),
      m_wakeFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)), m_baudRate(baudRate),
      m_lines(channel->rx.capacity() - 1)
{
}

SerialWorker::~SerialWorker()
{
    stop(2000);
    if (m_wakeFd >= 0)
        ::close(m_wakeFd);
}

void SerialWorker::signalWake()
{
    const quint64 one = 1;
    // A full counter (never in practice) still leaves the descriptor readable.
    [[maybe_unused]] const ssize_t n = ::write(m_wakeFd, &one, sizeof one);
}

void SerialWorker::wake()
{
    if (!m_channel->wakePending.exchange(true, std::memory_order_acq_rel))
        signalWake();
}

// The flag ends the port thread's stay-awake at once; the descriptor ends its poll().
void SerialWorker::wakeForControl()
{
    m_channel->wakePending.store(true, std::memory_order_release);
    signalWake();
}

void SerialWorker::sendControl(const QByteArray& bytes)
{
    {
        std::lock_guard<std::mutex> lock(m_controlMutex);
        m_control += bytes;
    }
    wakeForControl();
}

void SerialWorker::setBaudRate(int baud)
{
    m_baudRate.store(baud);
    m_baudChanged.store(true);
    wakeForControl();
}

bool SerialWorker::stop(int timeoutMs)
{
    m_stop.store(true);
    if (m_wakeFd >= 0)
        wakeForControl();
    if (!isRunning())
        return true;
    if (wait(QDeadlineTimer(timeoutMs)))
        return true;
    qCWarning(lcLink) << "port thread did not end within" << timeoutMs << "ms";
    return false;
}

void SerialWorker::run()
{
    QSerialPort port;
    port.setPortName(m_portName);
    port.setBaudRate(m_baudRate.load());
    port.setDataBits(QSerialPort::Data8);
    port.setParity(QSerialPort::NoParity);
    port.setStopBits(QSerialPort::OneStop);
    port.setFlowControl(QSerialPort::NoFlowControl);
    if (m_wakeFd < 0) {
        m_channel->reportOpen(
            false,
            QStringLiteral("no wake-up descriptor: %1").arg(TextConvert::systemError(errno)));
        return;
    }
    if (!port.open(QIODevice::ReadWrite)) {
        m_channel->reportOpen(false, port.errorString());
        return;
    }
    // Pseudo-terminals and some virtual ports cannot set RTS; that is harmless.
    if (!port.setRequestToSend(true))
        qCDebug(lcLink) << "RTS not set on" << m_portName << port.errorString();
    port.clearError();
    // Whatever waited in the driver belongs to an earlier session.
    port.clear();
    m_fd = int(port.handle());
    m_quietSinceMs = monotonicMs();
    m_channel->reportOpen(true, QString());

    loop(port);

    m_fd = -1;
    port.close();
}

void SerialWorker::loop(QSerialPort& port)
{
    char buffer[4096];
    // Bytes queued before the thread got here.
    drainTransmit();
    while (!m_stop.load() && !m_gone) {
        int timeoutMs = -1;
        if (m_keepAliveMs > 0) {
            const qint64 now = monotonicMs();
            if (keepAliveDue(now))
                continue;
            timeoutMs = int(std::max<qint64>(0, silenceSinceMs(now) + m_keepAliveMs - now));
        }
        pollfd fds[2] = {{m_fd, short(POLLIN | (m_pending.isEmpty() ? 0 : POLLOUT)), 0},
                         {m_wakeFd, POLLIN, 0}};
        const int ready = stayAwake() ? ::poll(fds, 2, 0) : ::poll(fds, 2, timeoutMs);
        m_lastActivityNs = nowNs();
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            lose(QStringLiteral("Port wait failed on %1: %2")
                     .arg(m_portName, TextConvert::systemError(errno)));
            break;
        }
        if (fds[1].revents & POLLIN) {
            quint64 count;
            [[maybe_unused]] const ssize_t n = ::read(m_wakeFd, &count, sizeof count);
            if (m_stop.load())
                break;
            if (m_baudChanged.exchange(false)) {
                const int baud = m_baudRate.load();
                if (!port.setBaudRate(baud))
                    emit linkLog(LogKind::LinkError, QStringLiteral("Cannot set %1 baud on %2: %3")
                                                         .arg(baud)
                                                         .arg(m_portName, port.errorString()));
            }
            QByteArray control;
            {
                std::lock_guard<std::mutex> lock(m_controlMutex);
                control.swap(m_control);
            }
            if (!control.isEmpty() && !writeBytes(control.constData(), control.size()))
                break;
            drainTransmit();
        }
        const short events = fds[0].revents;
        if (events & POLLIN) {
            const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
            if (n > 0) {
                received(buffer, n);
            } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                lose(QStringLiteral("Port error on %1: %2")
                         .arg(m_portName, n == 0 ? QStringLiteral("device closed")
                                                 : TextConvert::systemError(errno)));
                break;
            }
        } else if (events & (POLLERR | POLLHUP | POLLNVAL)) {
            lose(QStringLiteral("Port error on %1: the device is gone").arg(m_portName));
            break;
        }
        if ((events & POLLOUT) && !flushPending())
            break;
    }
}

// Right after traffic the next byte is usually a few tens of microseconds away;
// staying awake that long saves the thread a slow wake-up from idle. Yielding
// meanwhile lets the GUI thread and the kernel's tty worker run here at once rather
// than wake an idle processor. The receive queue is watched with FIONREAD, not
// poll(): polling a terminal waits for the kernel's pending input flush, which put
// the thread to sleep just as an answer arrived. True when there is something to do.
bool SerialWorker::stayAwake()
{
    if (!m_pending.isEmpty())
        return false; // waiting for the device to take bytes needs poll()
    const qint64 until = m_lastActivityNs + SpinNs;
    while (nowNs() < until) {
        if (m_channel->wakePending.load(std::memory_order_acquire))
            return true;
        int queued = 0;
        // A device that cannot tell is left to poll(), which also reports failures.
        if (::ioctl(m_fd, FIONREAD, &queued) != 0)
            return false;
        if (queued > 0)
            return true;
        sched_yield();
    }
    return false;
}

void SerialWorker::drainTransmit()
{
    m_channel->wakePending.exchange(false, std::memory_order_acq_rel);
    if (m_gone)
        return;
    if (m_channel->dropPartialLine.exchange(false))
        m_lines.dropPartialLine();
    char buffer[RingBuffer::DefaultCapacity];
    while (qsizetype n = m_channel->tx.read(buffer, sizeof buffer)) {
        if (!writeBytes(buffer, n))
            return;
    }
}

bool SerialWorker::writeBytes(const char* data, qsizetype size)
{
    if (!m_pending.isEmpty()) {
        m_pending.append(data, size);
        return true;
    }
    const ssize_t n = ::write(m_fd, data, size_t(size));
    if (n > 0)
        transmitted(n);
    if (n == size)
        return true;
    if (!writeOk(n))
        return false;
    const qsizetype done = std::max<qsizetype>(n, 0);
    m_pending.append(data + done, size - done);
    return true;
}

// A full device (or a signal) only delays the bytes; any other failure loses the link.
bool SerialWorker::writeOk(qint64 written)
{
    if (written >= 0 || errno == EAGAIN || errno == EINTR)
        return true;
    lose(QStringLiteral("Write to %1 failed: %2").arg(m_portName, TextConvert::systemError(errno)));
    return false;
}

bool SerialWorker::flushPending()
{
    const ssize_t n = ::write(m_fd, m_pending.constData(), size_t(m_pending.size()));
    if (!writeOk(n))
        return false;
    if (n > 0) {
        m_pending.remove(0, n);
        transmitted(n);
    }
    return true;
}

// The device takes the bytes at once but the wire needs ten bit times for each; until
// they are out, the board cannot have answered, so that time is no silence.
void SerialWorker::transmitted(qsizetype bytes)
{
    const int baud = m_baudRate.load();
    if (baud <= 0)
        return;
    const qint64 now = nowNs();
    m_txEndNs = std::max(m_txEndNs, now) + qint64(bytes) * 10 * 1000000000LL / baud;
}

qint64 SerialWorker::silenceSinceMs(qint64 nowMs) const
{
    if (!m_pending.isEmpty())
        return nowMs; // still transmitting
    const qint64 txEndMs = (m_txEndNs + 999999) / 1000000;
    return std::max(m_quietSinceMs, txEndMs);
}

bool SerialWorker::keepAliveDue(qint64 nowMs)
{
    if (nowMs - silenceSinceMs(nowMs) < m_keepAliveMs)
        return false;
    if (m_enqTries >= EnqTries) {
        lose(QStringLiteral("No keep-alive answer from %1").arg(m_portName));
        return true;
    }
    ++m_enqTries;
    m_quietSinceMs = nowMs;
    writeBytes(&ENQ, 1);
    return true;
}

void SerialWorker::received(const char* data, qsizetype size)
{
    m_enqTries = 0;
    m_quietSinceMs = monotonicMs();

    if (m_streaming.load()) {
        // A stream ends with three NAK in a row.
        for (qsizetype i = 0; i < size; ++i)
            m_nakRun = data[i] == NAK ? m_nakRun + 1 : 0;
        emit captureData(QByteArray(data, size));
        if (m_nakRun >= 3) {
            m_nakRun = 0;
            m_streaming.store(false);
            emit streamEnded();
        }
        return;
    }

    bool gotLine = false;
    m_lines.feed(data, size, [this, &gotLine](const QByteArray& line) {
        if (m_channel->rx.write(line)) {
            gotLine = true;
            m_rxFull = false;
        } else if (!m_rxFull) {
            // Reported once per episode; a chatty board must not flood the log.
            m_rxFull = true;
            emit linkLog(LogKind::LinkError,
                         QStringLiteral("Receive buffer full, line dropped: %1")
                             .arg(QString::fromLatin1(line.left(60).trimmed())));
        }
    });
    for (int n = m_lines.takeOverlong(); n > 0; --n)
        emit linkLog(
            LogKind::LinkError,
            QStringLiteral("Received line longer than %1 bytes discarded").arg(m_lines.maxLine()));
    m_invalid += m_lines.takeInvalid();
    // Invalid bytes are reported at most once a second, with their count.
    const qint64 now = monotonicMs();
    if (m_invalid && now - m_invalidReportMs >= 1000) {
        emit linkLog(LogKind::LinkError, QStringLiteral("Discarded %1 invalid bytes received on %2")
                                             .arg(m_invalid)
                                             .arg(m_portName));
        m_invalid = 0;
        m_invalidReportMs = now;
    }
    if (gotLine)
        m_channel->notifyLine();
}

void SerialWorker::lose(const QString& reason)
{
    if (m_gone)
        return;
    m_gone = true;
    m_channel->notifyLost();
    emit linkLost(reason);
}
