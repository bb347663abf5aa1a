#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <chrono>
#include <memory>

class LinkChannel;
class QProcess;
class SerialWorker;
class SimulatedBoard;

// The link to the board.
// Threading: the worker thread (started by connectBoard) owns the serial port and moves
// bytes between it and the two rings. Every public function is called from the GUI
// thread; send() runs its transaction in the caller's thread and blocks until the
// answers or the time-out. Signals are emitted in the GUI thread: during send()
// directly, the worker's reports (log, loss, stream) through queued calls.
class ControlBoard : public QObject
{
    Q_OBJECT
public:
    static constexpr int DefaultTimeoutMs = 500;
    static constexpr int DefaultBaudRate = 115200;
    static constexpr int DefaultKeepAliveMs = 2000;
    static constexpr const char* MockupPort = "mockup";
    static constexpr const char* ScriptPort = "script";

    explicit ControlBoard(QObject* parent = nullptr);
    ~ControlBoard() override;

    // Serial ports found on the machine, then "mockup" and "script".
    static QStringList availablePorts();

    // Opens a serial device (a name from availablePorts or any device path), the
    // simulated board ("mockup") or the script board ("script"), then asks "get VER".
    bool connectBoard(const QString& port);
    void disconnectBoard();
    // Why the last connectBoard failed ("No such file or directory", "Board not
    // responding"); empty after one that succeeded.
    QString connectError() const { return m_connectError; }
    bool isConnected() const;
    QString portName() const;
    bool isMockup() const;

    // One command/answer transaction. A line feed is appended when missing; every
    // non-empty line sent expects one answer line, and each answer restarts the
    // wait. timeoutMs: -1 the link's default, 0 send without waiting. False while not
    // connected or streaming (nothing sent), on an answer holding "err" or on the
    // time-out; the last answer line goes to *answer.
    bool send(const QByteArray& line, QByteArray* answer = nullptr, int timeoutMs = -1);
    // Quitting: the transaction under way ends at once and send() refuses (sends
    // nothing) until allowTransactions(). Process-wide and async-signal-safe, so that a
    // signal handler can end a wait whatever its time-out.
    static void interruptTransactions() noexcept;
    static void allowTransactions() noexcept;
    // The quit's last sequence: transactions are allowed again, and from now on
    // interruptTransactions() changes nothing, so a second signal cannot cut it short.
    static void allowFinalTransactions() noexcept;
    static bool transactionsInterrupted() noexcept;
    // Quitting: every transaction ends within `ms` from now, whatever its time-out, and
    // later lines are not sent; what was not sent or not answered in time is logged as
    // an error. Negative: no limit.
    void setQuitDeadline(int ms);

    // "set %1=%2\n"
    bool set(const QString& name, const QString& value, QByteArray* answer = nullptr);
    // "get %1"; *value written only when the picked value is not empty.
    bool get(const QString& name, QByteArray* value);
    // The value of `name` in an answer line ("K1=V1 K2=V2"); false when it is not there,
    // *value written only when the value is not empty.
    static bool pickValue(QByteArray answer, const QString& name, QByteArray* value);
    // Lines handed to the board so far: tells a caller whether a send() that failed
    // reached the board (which then still carries it out) or was refused.
    quint64 linesSent() const { return m_linesSent; }

    void setBaudRate(int baud);
    int baudRate() const;
    void setTimeout(int ms);
    int timeout() const;
    // Silence after which the keep-alive ENQ goes out (applies from the next connect).
    void setKeepAliveInterval(int ms);
    int keepAliveInterval() const;
    // Communication logging: information entries are emitted only while it is on;
    // errors (negative types) always are.
    void setCommLogging(bool on);
    bool commLogging() const;
    // Interpreter and script path of the "script" board.
    void setScript(const QString& interpreter, const QString& scriptPath);
    QString scriptInterpreter() const;
    QString scriptPath() const;

    // Six CAN: the board restarts.
    void resetBoard();
    // Sends the line that makes the board stream; until the board ends the stream
    // with three NAK, received bytes go to signal_captureData and send() refuses.
    bool startStream(const QByteArray& line);
    bool isStreaming() const;

    // The in-process simulated board while the port is "mockup", else null.
    SimulatedBoard* simulatedBoard() const;

    QString boardId() const;
    QString firmwareVersion() const;

signals:
    void signal_log(int type, QString text);
    void signal_tx();
    void signal_rx();
    void signal_stream(bool on);
    void signal_connected();
    void signal_disconnected();
    void signal_captureData(QByteArray data);

private:
    enum class Mode { None, Serial, Mockup, Script };

    bool sendSerial(const QByteArray& data, const QList<QByteArray>& lines, QByteArray* answer,
                    int timeoutMs);
    // False when they are still owed (a quit interrupted, or no time left): then nothing
    // may be sent.
    bool collectOwedAnswers();
    bool pastQuitDeadline() const;
    // The deadline of a wait of `ms` from now, cut to the quit's deadline.
    std::chrono::steady_clock::time_point waitDeadline(int ms) const;
    void notSentInTime(const QByteArray& data);
    // Logs why, when a quit (interrupted, or out of time) ended the wait for an answer.
    bool quitEndedTheWait(const QByteArray& data);
    bool sendLocal(const QList<QByteArray>& lines, QByteArray* answer, int timeoutMs);
    bool runScript(const QByteArray& line, int timeoutMs, QByteArray* answer);
    static bool waitForScript(QProcess* process, std::chrono::steady_clock::time_point deadline);
    // Logs, signals and checks one answer line; false when it holds "err".
    bool takeAnswer(const QByteArray& sent, const QByteArray& line);
    void logLine(int type, const QByteArray& line);
    void log(int type, const QString& text);
    // A failed transaction: logged only while communication logging is on, as the
    // caller already learns of it from the false result.
    void sendFailed(const QString& text);
    bool openSerial(const QString& port);
    void stopWorker();
    void onLinkLost(quint64 generation, const QString& reason);

    std::unique_ptr<LinkChannel> m_channel;
    SerialWorker* m_worker = nullptr;
    std::unique_ptr<SimulatedBoard> m_simulated;
    Mode m_mode = Mode::None;
    bool m_connected = false;
    bool m_streaming = false;
    quint64 m_generation = 0;
    int m_owedAnswers = 0;
    quint64 m_linesSent = 0;
    std::chrono::steady_clock::time_point m_quitDeadline =
        std::chrono::steady_clock::time_point::max();
    QString m_port;
    QString m_boardId;
    QString m_firmware;
    QString m_connectError;
    QString m_lastSendFailure; // the last failed transaction's reason, logged or not
    QString m_interpreter;
    QString m_script;
    int m_baudRate = DefaultBaudRate;
    int m_timeoutMs = DefaultTimeoutMs;
    int m_keepAliveMs = DefaultKeepAliveMs;
    bool m_commLogging = false;
};
