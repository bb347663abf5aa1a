#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

// The simulated board and the chip on it, answering command lines as the firmware
// does. Used in process by the "mockup" port and served on a pseudo-terminal by
// tools/boardsim. Not thread-safe: one owner at a time.
class SimulatedBoard
{
public:
    SimulatedBoard();

    // Answers one command line (without its line end); the answer ends in CR LF.
    QByteArray handleLine(const QByteArray& line);

    // The last 10,000 lines received, in order, without line ends (tests, tracing).
    QStringList receivedLines() const { return m_received; }
    void clearReceivedLines() { m_received.clear(); }

    // Board variables and pins by name ("DIO25", "PWM0DUTY", "AIN5", "VER", ...).
    QString variable(const QString& name) const;
    void setVariable(const QString& name, const QString& value);

    // SPI frames clocked to the chip, in order.
    QList<quint16> chipFrames() const { return m_frames; }
    void clearChipFrames() { m_frames.clear(); }
    // A control register image by address (3, 5..10 have A and B halves).
    quint16 chipRegister(int address, bool bHalf = false) const;
    // Forces a status register's data bits (tests: fault flags).
    void setStatusRegister(int number, quint16 bits);

    // Power-on state (the board reset): pins, variables, chip registers and the
    // queued answers; the traces of received lines and frames stay.
    void reset();

    static constexpr const char* Version = "QRVmcu-SIM-1.0";

private:
    QString answer(const QString& text);
    QString answerSet(const QStringList& items);
    QString answerGet(const QStringList& items);
    bool isValidSet(const QString& key, const QString& value, bool hasValue) const;
    bool readValue(const QString& key, QString* value);
    quint16 clockFrame(quint16 frame);
    bool normalMode() const;
    int motorCurrent(int motor) const;

    QStringList m_received;
    QList<quint16> m_frames;
    QMap<QString, QString> m_variables;
    QMap<int, quint16> m_controlA;
    QMap<int, quint16> m_controlB;
    QMap<int, quint16> m_status;
    QList<quint16> m_answerQueue;
};
