#include "SerialWorker.h"

#include "LinkChannel.h"

#include <QLoggingCategory>
#include <QSerialPort>
#include <QTimer>

Q_LOGGING_CATEGORY(lcLink, "rmx.link")

namespace {
constexpr char ENQ = 0x05;
constexpr char ACK = 0x06;
constexpr char NAK = 0x15;
constexpr int EnqTries = 3;

bool isFatal(QSerialPort::SerialPortError error)
{
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
    case QSerialPort::PermissionError:
    case QSerialPort::OpenError:
    case QSerialPort::NotOpenError:
    case QSerialPort::ResourceError:
    case QSerialPort::ReadError:
    case QSerialPort::WriteError:
        return true;
    default:
        return false;
    }
}
} // namespace

SerialWorker::SerialWorker(LinkChannel* channel, const QString& portName, int baudRate,
                           int keepAliveMs, QObject* parent)
    : QThread(parent), m_channel(channel), m_portName(portName), m_keepAliveMs(keepAliveMs),
      m_baudRate(baudRate)
{
}

SerialWorker::~SerialWorker()
{
    stop(2000);
}

void SerialWorker::wake()
{
    if (!m_channel->wakePending.exchange(true, std::memory_order_acq_rel))
        m_channel->postToWorker([this] { drainTransmit(); });
}

void SerialWorker::sendControl(const QByteArray& bytes)
{
    m_channel->postToWorker([this, bytes] {
        if (m_port && m_port->isOpen()) {
            m_port->write(bytes);
            m_port->flush();
        }
    });
}

void SerialWorker::setBaudRate(int baud)
{
    m_baudRate.store(baud);
    m_channel->postToWorker([this, baud] {
        if (m_port && m_port->isOpen() && !m_port->setBaudRate(baud))
            emit linkLog(-1000, QStringLiteral("Cannot set %1 baud on %2: %3")
                                    .arg(baud)
                                    .arg(m_portName, m_port->errorString()));
    });
}

bool SerialWorker::stop(int timeoutMs)
{
    if (!isRunning())
        return true;
    quit();
    if (wait(QDeadlineTimer(timeoutMs)))
        return true;
    qCWarning(lcLink) << "port thread did not end within" << timeoutMs << "ms";
    return false;
}

void SerialWorker::run()
{
    QObject context;
    QSerialPort port;
    port.setPortName(m_portName);
    port.setBaudRate(m_baudRate.load());
    port.setDataBits(QSerialPort::Data8);
    port.setParity(QSerialPort::NoParity);
    port.setStopBits(QSerialPort::OneStop);
    port.setFlowControl(QSerialPort::NoFlowControl);
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

    QTimer keepAlive;
    keepAlive.setTimerType(Qt::PreciseTimer);
    keepAlive.setInterval(m_keepAliveMs);
    m_port = &port;
    m_keepAlive = &keepAlive;
    m_context = &context;

    connect(&port, &QSerialPort::readyRead, &context, [this] { onReadyRead(); });
    connect(&port, &QSerialPort::errorOccurred, &context,
            [this](QSerialPort::SerialPortError error) {
                if (error == QSerialPort::NoError || !m_port)
                    return;
                const QString text = m_port->errorString();
                if (isFatal(error)) {
                    lose(QStringLiteral("Port error on %1: %2").arg(m_portName, text));
                } else if (error != QSerialPort::UnsupportedOperationError &&
                           error != QSerialPort::TimeoutError) {
                    emit linkLog(-1000, QStringLiteral("Port error on %1: %2").arg(m_portName, text));
                    m_port->clearError();
                }
            });
    connect(&keepAlive, &QTimer::timeout, &context, [this] { onKeepAlive(); });
    if (m_keepAliveMs > 0)
        keepAlive.start();

    m_channel->setWorkerContext(&context);
    m_channel->reportOpen(true, QString());
    // Bytes queued before the context was known are written now.
    drainTransmit();
    exec();

    m_channel->setWorkerContext(nullptr);
    keepAlive.stop();
    if (port.isOpen())
        port.close();
    m_port = nullptr;
    m_keepAlive = nullptr;
    m_context = nullptr;
}

void SerialWorker::drainTransmit()
{
    m_channel->wakePending.exchange(false, std::memory_order_acq_rel);
    if (!m_port || !m_port->isOpen())
        return;
    if (m_channel->dropPartialLine.exchange(false)) {
        m_line.clear();
        m_discarding = false;
    }
    char buffer[RingBuffer::DefaultCapacity];
    bool wrote = false;
    while (qsizetype n = m_channel->tx.read(buffer, sizeof buffer)) {
        if (m_port->write(buffer, n) != n) {
            lose(QStringLiteral("Write to %1 failed: %2").arg(m_portName, m_port->errorString()));
            return;
        }
        wrote = true;
    }
    if (wrote)
        m_port->flush();
}

void SerialWorker::onReadyRead()
{
    if (m_gone)
        return;
    const QByteArray data = m_port->readAll();
    if (data.isEmpty())
        return;
    m_enqTries = 0;
    if (m_keepAlive->isActive())
        m_keepAlive->start();

    if (m_streaming.load()) {
        // A stream ends with three NAK in a row.
        for (char c : data)
            m_nakRun = c == NAK ? m_nakRun + 1 : 0;
        emit captureData(data);
        if (m_nakRun >= 3) {
            m_nakRun = 0;
            m_streaming.store(false);
            emit streamEnded();
        }
        return;
    }

    int invalid = 0;
    bool gotLine = false;
    const qsizetype maxLine = m_channel->rx.capacity() - 1;
    for (char c : data) {
        if (c == '\r' || c == '\n') {
            if (m_discarding) {
                m_discarding = false;
            } else if (!m_line.isEmpty()) {
                m_line.append('\n');
                if (m_channel->rx.write(m_line))
                    gotLine = true;
                else
                    emit linkLog(-1000, QStringLiteral("Receive buffer full, line dropped: %1")
                                            .arg(QString::fromLatin1(m_line.left(60).trimmed())));
                m_line.clear();
            }
        } else if (c == ACK) {
            // keep-alive answer, already counted above
        } else if ((c >= 0x20 && c < 0x7f) || c == '\t') {
            if (m_discarding)
                continue;
            if (m_line.size() >= maxLine) {
                emit linkLog(-1000, QStringLiteral("Received line longer than %1 bytes discarded")
                                        .arg(maxLine));
                m_line.clear();
                m_discarding = true;
                continue;
            }
            m_line.append(c);
        } else {
            ++invalid;
        }
    }
    if (invalid)
        emit linkLog(-1000, QStringLiteral("Discarded %1 invalid bytes received on %2")
                                .arg(invalid)
                                .arg(m_portName));
    if (gotLine)
        m_channel->notifyLine();
}

void SerialWorker::onKeepAlive()
{
    if (m_enqTries >= EnqTries) {
        lose(QStringLiteral("No keep-alive answer from %1").arg(m_portName));
        return;
    }
    ++m_enqTries;
    m_port->write(&ENQ, 1);
    m_port->flush();
}

void SerialWorker::lose(const QString& reason)
{
    if (!m_port || m_gone)
        return;
    m_gone = true;
    m_keepAlive->stop();
    m_channel->setWorkerContext(nullptr);
    m_channel->notifyLost();
    if (m_port->isOpen())
        m_port->close();
    emit linkLost(reason);
    quit();
}
