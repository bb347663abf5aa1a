#pragma once

#include "LineAssembler.h"

#include <QByteArray>
#include <QString>
#include <QThread>

#include <atomic>
#include <mutex>

class LinkChannel;
class QSerialPort;

// The thread that owns the serial port. It moves bytes from the transmit ring to
// the port, assembles received bytes into lines for the receive ring and watches
// the board with the keep-alive (ENQ/ACK). QSerialPort opens, sets up and closes
// the device in this thread; the bytes themselves go through one poll() loop on the
// device and a wake-up descriptor, so a command or an answer costs no event-loop
// round. Other threads talk to it only through the LinkChannel and the thread-safe
// functions below.
class SerialWorker : public QThread
{
    Q_OBJECT
public:
    SerialWorker(LinkChannel* channel, const QString& portName, int baudRate, int keepAliveMs,
                 QObject* parent = nullptr);
    ~SerialWorker() override;

    // Thread-safe: tells the thread that the transmit ring has bytes.
    void wake();
    // Thread-safe: raw control bytes (board reset).
    void sendControl(const QByteArray& bytes);
    void setBaudRate(int baud);
    void setStreaming(bool on) { m_streaming.store(on); }
    // Ends the thread (closing the port); waits at most timeoutMs.
    bool stop(int timeoutMs);

signals:
    // All emitted from the worker thread; connect them queued.
    void linkLog(int type, QString text);
    void linkLost(QString reason);
    void captureData(QByteArray data);
    void streamEnded();

protected:
    void run() override;

private:
    void loop(QSerialPort& port);
    bool stayAwake();
    void signalWake();
    void wakeForControl();
    void drainTransmit();
    bool writeBytes(const char* data, qsizetype size);
    bool writeOk(qint64 written);
    bool flushPending();
    void received(const char* data, qsizetype size);
    void transmitted(qsizetype bytes);
    // Start of the silence the keep-alive counts: the last byte received, the last
    // ENQ or the end of the transmission, whichever is latest.
    qint64 silenceSinceMs(qint64 nowMs) const;
    bool keepAliveDue(qint64 nowMs);
    void lose(const QString& reason);

    LinkChannel* const m_channel;
    const QString m_portName;
    const int m_keepAliveMs;
    int m_wakeFd = -1;
    std::atomic<int> m_baudRate;
    std::atomic<bool> m_baudChanged{false};
    std::atomic<bool> m_streaming{false};
    std::atomic<bool> m_stop{false};
    std::mutex m_controlMutex;
    QByteArray m_control; // guarded by m_controlMutex

    // Worker-thread state.
    int m_fd = -1;
    qint64 m_lastActivityNs = 0; // end of the last poll(); starts the stay-awake
    QByteArray m_pending;        // bytes the device did not take yet
    LineAssembler m_lines;
    bool m_rxFull = false;
    int m_invalid = 0;
    qint64 m_invalidReportMs = -1000000;
    bool m_gone = false;
    int m_enqTries = 0;
    int m_nakRun = 0;
    qint64 m_quietSinceMs = 0; // last byte received or ENQ sent
    qint64 m_txEndNs = 0;      // when the bytes written so far are out on the wire
};
