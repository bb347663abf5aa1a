#include "ControlBoard.h"
#include "LogKind.h"

#include "LinkChannel.h"
#include "SerialWorker.h"
#include "SimulatedBoard.h"

#include <QProcess>
#include <QSerialPortInfo>

#include <chrono>

namespace {

constexpr int OpenTimeoutMs = 5000;
constexpr int StopTimeoutMs = 2000;
const QString DefaultInterpreter = QStringLiteral("python3");
const QString DefaultScript = QStringLiteral("RMX4218.py");

// The non-empty lines of a command text, without line ends.
// The board ends a line at CR or LF and answers every line that is not empty, so
// both count here: a miscount would pair later answers with the wrong commands.
QList<QByteArray> commandLines(const QByteArray& data)
{
    QList<QByteArray> lines;
    QByteArray line;
    for (const char c : data) {
        if (c != '\n' && c != '\r') {
            line.append(c);
            continue;
        }
        if (!line.isEmpty())
            lines << line;
        line.clear();
    }
    if (!line.isEmpty())
        lines << line;
    return lines;
}

QString printable(const QByteArray& line)
{
    QByteArray text = line;
    while (text.endsWith('\n') || text.endsWith('\r'))
        text.chop(1);
    return QString::fromUtf8(text);
}

} // namespace

ControlBoard::ControlBoard(QObject* parent)
    : QObject(parent), m_channel(std::make_unique<LinkChannel>()),
      m_interpreter(DefaultInterpreter), m_script(DefaultScript)
{
}

ControlBoard::~ControlBoard()
{
    stopWorker();
}

QStringList ControlBoard::availablePorts()
{
    QStringList ports;
    const auto infos = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo& info : infos)
        ports << info.portName();
    ports << QLatin1String(MockupPort) << QLatin1String(ScriptPort);
    return ports;
}

bool ControlBoard::connectBoard(const QString& port)
{
    disconnectBoard(); // also ends the port thread of the previous connection
    m_channel->reset();
    m_port = port;
    m_boardId.clear();
    m_firmware.clear();
    m_connectError.clear();
    m_owedAnswers = 0;

    if (port == QLatin1String(MockupPort)) {
        m_mode = Mode::Mockup;
        if (!m_simulated)
            m_simulated = std::make_unique<SimulatedBoard>();
    } else if (port == QLatin1String(ScriptPort)) {
        m_mode = Mode::Script;
    } else {
        m_mode = Mode::Serial;
        if (!openSerial(port))
            return false;
    }
    m_connected = true;

    QByteArray version;
    m_lastSendFailure.clear();
    if (!get(QStringLiteral("VER"), &version)) {
        log(LogKind::LinkError, QStringLiteral("Board not responding on %1").arg(port));
        m_connectError = QStringLiteral("Board not responding");
        if (!m_lastSendFailure.isEmpty())
            m_connectError += QStringLiteral(" (%1)").arg(m_lastSendFailure);
        m_connected = false;
        stopWorker();
        return false;
    }
    m_firmware = QString::fromUtf8(version);
    m_boardId = port;
    if (m_mode == Mode::Serial) {
        const QSerialPortInfo info(port);
        if (!info.serialNumber().isEmpty())
            m_boardId = info.serialNumber();
        else if (!info.description().isEmpty())
            m_boardId = info.description();
    }
    log(LogKind::LinkInfo, QStringLiteral("Connected to %1, firmware %2").arg(port, m_firmware));
    emit signal_connected();
    return true;
}

bool ControlBoard::openSerial(const QString& port)
{
    const quint64 generation = ++m_generation;
    m_worker = new SerialWorker(m_channel.get(), port, m_baudRate, m_keepAliveMs);
    connect(
        m_worker, &SerialWorker::linkLog, this,
        [this, generation](int type, const QString& text) {
            if (generation == m_generation)
                log(type, text);
        },
        Qt::QueuedConnection);
    connect(
        m_worker, &SerialWorker::linkLost, this,
        [this, generation](const QString& reason) { onLinkLost(generation, reason); },
        Qt::QueuedConnection);
    connect(
        m_worker, &SerialWorker::captureData, this,
        [this, generation](const QByteArray& data) {
            if (generation == m_generation)
                emit signal_captureData(data);
        },
        Qt::QueuedConnection);
    connect(
        m_worker, &SerialWorker::streamEnded, this,
        [this, generation] {
            if (generation != m_generation || !m_streaming)
                return;
            m_streaming = false;
            emit signal_stream(false);
        },
        Qt::QueuedConnection);
    m_worker->start(QThread::HighPriority);

    QString error;
    if (!m_channel->waitOpen(OpenTimeoutMs, &error)) {
        log(LogKind::LinkError, QStringLiteral("Cannot open port %1: %2").arg(port, error));
        m_connectError = error;
        stopWorker();
        return false;
    }
    return true;
}

void ControlBoard::stopWorker()
{
    if (!m_worker)
        return;
    ++m_generation;
    if (!m_worker->stop(StopTimeoutMs)) {
        // Last resort: a thread stuck in the driver must not outlive its owner.
        m_worker->terminate();
        m_worker->wait(StopTimeoutMs);
    }
    delete m_worker;
    m_worker = nullptr;
}

void ControlBoard::disconnectBoard()
{
    const bool wasConnected = m_connected;
    m_connected = false;
    m_streaming = false;
    stopWorker();
    if (wasConnected) {
        log(LogKind::LinkInfo, QStringLiteral("Disconnected from %1").arg(m_port));
        emit signal_disconnected();
    }
}

void ControlBoard::onLinkLost(quint64 generation, const QString& reason)
{
    if (generation != m_generation)
        return;
    log(LogKind::LinkError, reason);
    log(LogKind::LinkError, QStringLiteral("Disconnect due to errors"));
    const bool wasConnected = m_connected;
    m_connected = false;
    if (m_streaming) {
        m_streaming = false;
        emit signal_stream(false);
    }
    stopWorker();
    if (wasConnected)
        emit signal_disconnected();
}

bool ControlBoard::isConnected() const
{
    return m_connected && !(m_mode == Mode::Serial && m_channel->isLost());
}

QString ControlBoard::portName() const
{
    return m_port;
}

bool ControlBoard::isMockup() const
{
    return m_mode == Mode::Mockup;
}

SimulatedBoard* ControlBoard::simulatedBoard() const
{
    return m_mode == Mode::Mockup ? m_simulated.get() : nullptr;
}

void ControlBoard::interruptTransactions() noexcept
{
    int open = LinkChannel::Open;
    LinkChannel::traffic.compare_exchange_strong(open, LinkChannel::Interrupted);
}

void ControlBoard::allowTransactions() noexcept
{
    LinkChannel::traffic.store(LinkChannel::Open);
}

void ControlBoard::allowFinalTransactions() noexcept
{
    LinkChannel::traffic.store(LinkChannel::Final);
}

bool ControlBoard::transactionsInterrupted() noexcept
{
    return LinkChannel::isInterrupted();
}

void ControlBoard::setQuitDeadline(int ms)
{
    m_quitDeadline = ms < 0 ? LinkChannel::Clock::time_point::max()
                            : LinkChannel::Clock::now() + std::chrono::milliseconds(ms);
}

bool ControlBoard::pastQuitDeadline() const
{
    return LinkChannel::Clock::now() >= m_quitDeadline;
}

LinkChannel::Clock::time_point ControlBoard::waitDeadline(int ms) const
{
    return std::min(LinkChannel::Clock::now() + std::chrono::milliseconds(ms), m_quitDeadline);
}

bool ControlBoard::quitEndedTheWait(const QByteArray& data)
{
    if (transactionsInterrupted())
        sendFailed(QStringLiteral("Quitting: no longer waiting for the answer to: %1")
                       .arg(printable(data)));
    else if (pastQuitDeadline())
        log(LogKind::LinkError,
            QStringLiteral("Quitting: out of time, no answer to: %1").arg(printable(data)));
    else
        return false;
    return true;
}

void ControlBoard::notSentInTime(const QByteArray& data)
{
    log(LogKind::LinkError,
        QStringLiteral("Quitting: out of time, not sent: %1").arg(printable(data)));
}

bool ControlBoard::send(const QByteArray& line, QByteArray* answer, int timeoutMs)
{
    if (!isConnected() || m_streaming || transactionsInterrupted())
        return false;
    if (timeoutMs < 0)
        timeoutMs = m_timeoutMs;
    QByteArray data = line;
    if (!data.endsWith('\n'))
        data.append('\n');
    const QList<QByteArray> lines = commandLines(data);
    if (lines.isEmpty())
        return false;
    if (pastQuitDeadline()) {
        notSentInTime(data);
        return false;
    }
    if (m_mode == Mode::Serial)
        return sendSerial(data, lines, answer, timeoutMs);
    return sendLocal(lines, answer, timeoutMs);
}

bool ControlBoard::sendSerial(const QByteArray& data, const QList<QByteArray>& lines,
                              QByteArray* answer, int timeoutMs)
{
    LinkChannel& channel = *m_channel;
    if (!collectOwedAnswers()) {
        if (!transactionsInterrupted())
            notSentInTime(data);
        return false;
    }
    // Anything still unread belongs to an earlier transaction.
    channel.rx.clear();
    channel.dropPartialLine.store(true);
    if (!channel.tx.write(data)) {
        log(LogKind::Error,
            QStringLiteral("Transmit buffer full (%1 of %2 bytes free), not sent: %3")
                .arg(channel.tx.freeSpace())
                .arg(data.size())
                .arg(printable(data.left(60))));
        return false;
    }
    m_linesSent += quint64(lines.size());
    m_worker->wake();
    emit signal_tx();
    if (m_commLogging) {
        for (const QByteArray& sent : lines)
            logLine(LogKind::Transmitted, sent);
    }
    const int expected = int(lines.size());
    if (timeoutMs == 0) {
        m_owedAnswers += expected;
        return true;
    }

    auto deadline = waitDeadline(timeoutMs);
    bool ok = true;
    QByteArray received;
    for (int answered = 0; answered < expected;) {
        quint64 seen = channel.lineCount();
        if (channel.rx.readLine(&received)) {
            ++answered;
            deadline = waitDeadline(timeoutMs);
            if (answer)
                *answer = received;
            ok = takeAnswer(data, received) && ok;
            continue;
        }
        if (channel.waitLine(&seen, deadline))
            continue;
        // A late answer must not pass for the next command's answer.
        m_owedAnswers += expected - answered;
        if (quitEndedTheWait(data))
            return false;
        if (channel.isLost())
            sendFailed(QStringLiteral("Link lost while waiting for the answer to: %1")
                           .arg(printable(data)));
        else
            sendFailed(QStringLiteral("No answer within %1 ms to: %2")
                           .arg(timeoutMs)
                           .arg(printable(data)));
        return false;
    }
    return ok;
}

// Lines sent without waiting, or given up at a time-out, are still owed an answer;
// take those first, or they would be mistaken for the next transaction's answers.
bool ControlBoard::collectOwedAnswers()
{
    if (m_mode != Mode::Serial || m_owedAnswers <= 0)
        return true;
    LinkChannel& channel = *m_channel;
    const auto deadline = waitDeadline(m_timeoutMs);
    while (m_owedAnswers > 0) {
        quint64 seen = channel.lineCount();
        if (channel.rx.readLine(nullptr)) {
            --m_owedAnswers;
        } else if (!channel.waitLine(&seen, deadline)) {
            // Cut short by a quit, they stay owed: the shutdown's lines collect them.
            if (transactionsInterrupted() || pastQuitDeadline())
                return false;
            m_owedAnswers = 0; // the board never answered them
            return true;
        }
    }
    return true;
}

bool ControlBoard::sendLocal(const QList<QByteArray>& lines, QByteArray* answer, int timeoutMs)
{
    bool ok = true;
    for (const QByteArray& line : lines) {
        emit signal_tx();
        if (m_commLogging)
            logLine(LogKind::Transmitted, line);
        QByteArray received;
        if (m_mode == Mode::Mockup) {
            ++m_linesSent;
            received = m_simulated->handleLine(line);
        } else if (!runScript(line, timeoutMs > 0 ? timeoutMs : m_timeoutMs, &received)) {
            return false;
        }
        received = received.trimmed();
        if (answer)
            *answer = received;
        ok = takeAnswer(line, received) && ok;
    }
    return ok;
}

bool ControlBoard::runScript(const QByteArray& line, int timeoutMs, QByteArray* answer)
{
    QProcess process;
    process.setProgram(m_interpreter);
    // An argument list, never a shell string: the line reaches the script verbatim.
    process.setArguments({m_script, QString::fromUtf8(line)});
    process.start(QIODevice::ReadOnly);
    if (!process.waitForStarted(timeoutMs)) {
        sendFailed(QStringLiteral("Cannot start the script interpreter \"%1\": %2")
                       .arg(m_interpreter, process.errorString()));
        return false;
    }
    ++m_linesSent;
    if (!waitForScript(&process, waitDeadline(timeoutMs))) {
        process.kill();
        process.waitForFinished(1000);
        if (!quitEndedTheWait(line))
            sendFailed(QStringLiteral("Script %1 gave no answer within %2 ms to: %3")
                           .arg(m_script)
                           .arg(timeoutMs)
                           .arg(printable(line)));
        return false;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        sendFailed(QStringLiteral("Script %1 failed on \"%2\": %3")
                       .arg(m_script, printable(line),
                            QString::fromLocal8Bit(process.readAllStandardError().trimmed())));
        return false;
    }
    *answer = process.readAllStandardOutput();
    return true;
}

// A script that hangs must not hold a quit up for its whole time-out.
bool ControlBoard::waitForScript(QProcess* process, LinkChannel::Clock::time_point deadline)
{
    using Clock = LinkChannel::Clock;
    const qint64 slice = LinkChannel::InterruptCheck.count();
    while (!transactionsInterrupted()) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (process->waitForFinished(int(qBound(qint64(0), qint64(left.count()), slice))) ||
            process->state() == QProcess::NotRunning)
            return true; // the exit status tells how it ended
        if (left.count() <= slice)
            return false;
    }
    return false;
}

bool ControlBoard::takeAnswer(const QByteArray& sent, const QByteArray& line)
{
    emit signal_rx();
    if (m_commLogging)
        logLine(LogKind::Received, line);
    if (!line.contains("err"))
        return true;
    sendFailed(
        QStringLiteral("Board answered \"%1\" to: %2").arg(printable(line), printable(sent)));
    return false;
}

bool ControlBoard::set(const QString& name, const QString& value, QByteArray* answer)
{
    return send(QStringLiteral("set %1=%2\n").arg(name, value).toUtf8(), answer);
}

bool ControlBoard::get(const QString& name, QByteArray* value)
{
    QByteArray answer;
    return send(QStringLiteral("get %1").arg(name).toUtf8(), &answer) &&
           pickValue(answer, name, value);
}

bool ControlBoard::pickValue(QByteArray answer, const QString& name, QByteArray* value)
{
    answer.replace('\n', QByteArray()).replace('\r', QByteArray());
    const QByteArray key = name.toUtf8();
    const QList<QByteArray> items = answer.split(' ');
    for (const QByteArray& item : items) {
        const int eq = int(item.indexOf('='));
        if (eq < 0 || item.left(eq) != key)
            continue;
        const QByteArray picked = item.mid(eq + 1);
        if (value && !picked.isEmpty())
            *value = picked;
        return true;
    }
    return false;
}

void ControlBoard::resetBoard()
{
    if (!isConnected())
        return;
    if (m_mode == Mode::Serial)
        m_worker->sendControl(QByteArray(6, char(0x18)));
    else if (m_mode == Mode::Mockup)
        m_simulated->reset();
    log(LogKind::LinkInfo, QStringLiteral("Board reset sent on %1").arg(m_port));
}

bool ControlBoard::startStream(const QByteArray& line)
{
    if (m_mode != Mode::Serial || !isConnected() || m_streaming)
        return false;
    // Answers still owed would otherwise turn into stream data.
    collectOwedAnswers();
    m_worker->setStreaming(true);
    if (!send(line, nullptr, 0)) {
        m_worker->setStreaming(false);
        return false;
    }
    // The stream is the answer; nothing is owed after it.
    m_owedAnswers = 0;
    m_streaming = true;
    emit signal_stream(true);
    return true;
}

bool ControlBoard::isStreaming() const
{
    return m_streaming;
}

void ControlBoard::setBaudRate(int baud)
{
    m_baudRate = baud;
    if (m_worker)
        m_worker->setBaudRate(baud);
}

int ControlBoard::baudRate() const
{
    return m_baudRate;
}

void ControlBoard::setTimeout(int ms)
{
    m_timeoutMs = ms < 0 ? DefaultTimeoutMs : ms;
}

int ControlBoard::timeout() const
{
    return m_timeoutMs;
}

void ControlBoard::setKeepAliveInterval(int ms)
{
    m_keepAliveMs = ms;
}

int ControlBoard::keepAliveInterval() const
{
    return m_keepAliveMs;
}

void ControlBoard::setCommLogging(bool on)
{
    m_commLogging = on;
}

bool ControlBoard::commLogging() const
{
    return m_commLogging;
}

void ControlBoard::setScript(const QString& interpreter, const QString& scriptPath)
{
    m_interpreter = interpreter.isEmpty() ? DefaultInterpreter : interpreter;
    m_script = scriptPath.isEmpty() ? DefaultScript : scriptPath;
}

QString ControlBoard::scriptInterpreter() const
{
    return m_interpreter;
}

QString ControlBoard::scriptPath() const
{
    return m_script;
}

QString ControlBoard::boardId() const
{
    return m_boardId;
}

QString ControlBoard::firmwareVersion() const
{
    return m_firmware;
}

void ControlBoard::logLine(int type, const QByteArray& line)
{
    log(type, printable(line));
}

void ControlBoard::log(int type, const QString& text)
{
    if (type < 0 || m_commLogging)
        emit signal_log(type, text);
}

void ControlBoard::sendFailed(const QString& text)
{
    m_lastSendFailure = text;
    if (m_commLogging)
        emit signal_log(LogKind::Error, text);
}
