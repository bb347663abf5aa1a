#pragma once

#include <QByteArray>
#include <QString>
#include <QThread>

#include <atomic>

class LinkChannel;
class QSerialPort;
class QTimer;

// The thread that owns the serial port. It moves bytes from the transmit ring to
// the port and assembles received bytes into lines for the receive ring, answers
// nothing itself but watches the board with the keep-alive (ENQ/ACK). The port and
// its timer are created and deleted in this thread; the other thread talks to it
// only through the LinkChannel and the thread-safe functions below.
class SerialWorker : public QThread
{
    Q_OBJECT
public:
    SerialWorker(LinkChannel* channel, const QString& portName, int baudRate, int keepAliveMs,
                 QObject* parent = nullptr);
    ~SerialWorker() override;

    // Thread-safe: ask the worker to write the transmit ring now.
    void wake();
    // Thread-safe: raw control bytes (board reset, end of stream).
    void sendControl(const QByteArray& bytes);
    void setBaudRate(int baud);
    void setStreaming(bool on) { m_streaming.store(on); }
    // Closes the port and ends the thread; waits at most timeoutMs.
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
    void drainTransmit();
    void onReadyRead();
    void onKeepAlive();
    void receiveLine();
    void lose(const QString& reason);

    LinkChannel* const m_channel;
    const QString m_portName;
    const int m_keepAliveMs;
    std::atomic<int> m_baudRate;
    std::atomic<bool> m_streaming{false};

    // Worker-thread state.
    QSerialPort* m_port = nullptr;
    QTimer* m_keepAlive = nullptr;
    QObject* m_context = nullptr;
    QByteArray m_line;
    bool m_discarding = false;
    int m_enqTries = 0;
    int m_nakRun = 0;
    bool m_gone = false;
};
