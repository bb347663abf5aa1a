#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

class SimulatedBoard;

// The link to the board.
// Threading: the worker thread (started by connectBoard) owns the serial port and moves
// bytes between it and the two rings. Every public function is called from the GUI
// thread; send() runs its transaction in the caller's thread and blocks until the
// answers or the time-out. Signals are emitted to the GUI thread (queued).
class ControlBoard : public QObject
{
    Q_OBJECT
public:
    static constexpr int DefaultTimeoutMs = 500;
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
    bool isConnected() const;
    QString portName() const;
    bool isMockup() const;

    // One command/answer transaction; see the implementation for the exact rules.
    // timeoutMs: -1 the link's default, 0 no wait.
    bool send(const QByteArray& line, QByteArray* answer = nullptr, int timeoutMs = -1);
    // "set %1=%2\n"
    bool set(const QString& name, const QString& value, QByteArray* answer = nullptr);
    // "get %1"; *value written only when the picked value is not empty.
    bool get(const QString& name, QByteArray* value);

    void setBaudRate(int baud);
    int baudRate() const;
    void setTimeout(int ms);
    int timeout() const;
    // Communication logging: information entries are emitted only while it is on;
    // errors (negative types) always are.
    void setCommLogging(bool on);
    bool commLogging() const;
    // Interpreter and script path of the "script" board.
    void setScript(const QString& interpreter, const QString& scriptPath);

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
};
