#include "SimulatedBoard.h"

#include <QRegularExpression>

namespace {

const QRegularExpression& pwmName()
{
    static const QRegularExpression re(QStringLiteral("^PWM[0-3](CONF|START|FREQ|DUTY)$"));
    return re;
}

// The board's digital pins: "0" or "1", "0" at power-on.
constexpr const char* Pins[] = {"DIO21", "DIO22", "DIO25", "r219rem", "WDen"};

bool isPin(const QString& key)
{
    for (const char* pin : Pins) {
        if (key == QLatin1String(pin))
            return true;
    }
    return false;
}

// Measured motor currents: computed from the chip and board state on every read.
bool isMotorCurrent(const QString& key)
{
    return key == QLatin1String("Isen1") || key == QLatin1String("Isen2");
}

const QString SpiData = QStringLiteral("SPI0CS0DATA");
// A real board's answer queue is finite; the oldest answers go first.
constexpr int MaxQueuedAnswers = 1024;
constexpr int MaxReceivedLines = 10000;

} // namespace

SimulatedBoard::SimulatedBoard()
{
    reset();
}

void SimulatedBoard::reset()
{
    m_variables.clear();
    for (const char* pin : Pins)
        m_variables.insert(QLatin1String(pin), QStringLiteral("0"));
    m_variables.insert(QStringLiteral("WDtime"), QStringLiteral("0"));
    for (int k = 0; k < 4; ++k) {
        const QString p = QStringLiteral("PWM%1").arg(k);
        m_variables.insert(p + QLatin1String("CONF"), QStringLiteral("0"));
        m_variables.insert(p + QLatin1String("START"), QStringLiteral("0"));
        m_variables.insert(p + QLatin1String("FREQ"), QStringLiteral("20000"));
        m_variables.insert(p + QLatin1String("DUTY"), QStringLiteral("0"));
    }
    m_variables.insert(QStringLiteral("SPI0CS0SPEED"), QStringLiteral("1000000"));
    m_variables.insert(QStringLiteral("VER"), QLatin1String(Version));
    m_variables.insert(QStringLiteral("AIN5"), QStringLiteral("512"));
    m_controlA.clear();
    m_controlB.clear();
    m_status.clear();
    m_answerQueue.clear();
}

QByteArray SimulatedBoard::handleLine(const QByteArray& line)
{
    QByteArray text = line;
    while (text.endsWith('\n') || text.endsWith('\r'))
        text.chop(1);
    const QString command = QString::fromUtf8(text);
    // Bounded, so a long session on the simulated board does not grow without end.
    m_received << command;
    if (m_received.size() > MaxReceivedLines)
        m_received.removeFirst();
    return answer(command.trimmed()).toUtf8() + "\r\n";
}

QString SimulatedBoard::answer(const QString& text)
{
    const QStringList words = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.size() < 2)
        return QStringLiteral("err");
    const QStringList items = words.mid(1);
    if (words.first() == QLatin1String("set"))
        return answerSet(items);
    if (words.first() == QLatin1String("get"))
        return answerGet(items);
    return QStringLiteral("err");
}

bool SimulatedBoard::isValidSet(const QString& key, const QString& value, bool hasValue) const
{
    if (key == SpiData) {
        static const QRegularExpression frame(QStringLiteral("^02[0-9A-Fa-f]{4}$"));
        return hasValue && frame.match(value).hasMatch();
    }
    if (isPin(key))
        return !hasValue || value == QLatin1String("0") || value == QLatin1String("1");
    if (key.endsWith(QLatin1String("CONF")) || key.endsWith(QLatin1String("START"))) {
        if (!pwmName().match(key).hasMatch())
            return false;
        return !hasValue || value == QLatin1String("0") || value == QLatin1String("1");
    }
    const bool numeric = pwmName().match(key).hasMatch() || key == QLatin1String("WDtime") ||
                         key == QLatin1String("SPI0CS0SPEED");
    if (!numeric)
        return false; // unknown, or read-only (VER, measurements)
    if (!hasValue)
        return true;
    bool ok = false;
    const double number = value.toDouble(&ok);
    if (!ok || number < 0)
        return false;
    return !key.endsWith(QLatin1String("DUTY")) || number <= 100;
}

QString SimulatedBoard::answerSet(const QStringList& items)
{
    // Check every item first so that a refused line changes nothing.
    for (const QString& item : items) {
        const int eq = item.indexOf(QLatin1Char('='));
        const QString key = eq < 0 ? item : item.left(eq);
        if (!isValidSet(key, eq < 0 ? QString() : item.mid(eq + 1), eq >= 0))
            return QStringLiteral("err");
    }
    QStringList echoed;
    for (const QString& item : items) {
        const int eq = item.indexOf(QLatin1Char('='));
        const QString key = eq < 0 ? item : item.left(eq);
        if (key == SpiData) {
            m_answerQueue << clockFrame(quint16(item.mid(eq + 3).toUInt(nullptr, 16)));
            while (m_answerQueue.size() > MaxQueuedAnswers)
                m_answerQueue.removeFirst();
        } else if (eq >= 0) {
            m_variables.insert(key, item.mid(eq + 1));
        } else if (key.endsWith(QLatin1String("CONF")) || key.endsWith(QLatin1String("START"))) {
            m_variables.insert(key, QStringLiteral("1"));
        }
        echoed << item;
    }
    return echoed.join(QLatin1Char(' '));
}

QString SimulatedBoard::answerGet(const QStringList& items)
{
    QStringList pairs;
    for (const QString& key : items) {
        QString value;
        if (key.contains(QLatin1Char('=')) || !readValue(key, &value))
            return QStringLiteral("err");
        pairs << key + QLatin1Char('=') + value;
    }
    return pairs.join(QLatin1Char(' '));
}

bool SimulatedBoard::readValue(const QString& key, QString* value)
{
    if (key == SpiData) {
        if (m_answerQueue.isEmpty())
            return false;
        *value =
            QStringLiteral("%1").arg(m_answerQueue.takeFirst(), 4, 16, QLatin1Char('0')).toUpper();
        return true;
    }
    if (m_variables.contains(key)) {
        *value = m_variables.value(key);
        return true;
    }
    if (isMotorCurrent(key)) {
        *value = QString::number(motorCurrent(key.right(1).toInt()));
        return true;
    }
    return false;
}

QString SimulatedBoard::variable(const QString& name) const
{
    if (!m_variables.contains(name) && isMotorCurrent(name))
        return QString::number(motorCurrent(name.right(1).toInt()));
    return m_variables.value(name);
}

void SimulatedBoard::setVariable(const QString& name, const QString& value)
{
    m_variables.insert(name, value);
}

bool SimulatedBoard::normalMode() const
{
    return m_variables.value(QStringLiteral("DIO25")) == QLatin1String("1") &&
           m_variables.value(QStringLiteral("DIO22")) != QLatin1String("1");
}

int SimulatedBoard::motorCurrent(int motor) const
{
    // Motor 1 lies between HB1 and HB3, motor 2 between HB2 and HB4; board
    // generator 0 drives motor 1, generator 1 motor 2.
    const quint16 bridges = motor == 1 ? 0x5 : 0xA;
    const bool enabled = (m_controlA.value(0) & bridges) == bridges;
    const bool driverOn = (m_controlA.value(1) & 0x400) &&
                          m_variables.value(QStringLiteral("DIO25")) == QLatin1String("1");
    if (!enabled || !driverOn)
        return 0;
    const double duty = m_variables.value(QStringLiteral("PWM%1DUTY").arg(motor - 1)).toDouble();
    return int(duty * 20);
}

quint16 SimulatedBoard::clockFrame(quint16 frame)
{
    m_frames << frame;
    // The answer carries the status register selected by the frames before this one.
    const quint16 cr0 = m_controlA.value(0);
    const int selected = (cr0 & 0x400) ? (cr0 >> 7) & 0x7 : 0;
    const quint16 answer = quint16((selected << 13) | (normalMode() ? 0x1000 : 0) |
                                   (m_status.value(selected) & 0xFFF));
    const int address = frame >> 12;
    const quint16 data = frame & 0x7FF;
    if (address == 3 || (address >= 5 && address <= 10))
        ((data & 0x400) ? m_controlB : m_controlA).insert(address, data);
    else if (address <= 2 || address == 4 || address == 12 || address == 14)
        m_controlA.insert(address, data);
    return answer;
}

quint16 SimulatedBoard::chipRegister(int address, bool bHalf) const
{
    return (bHalf ? m_controlB : m_controlA).value(address);
}

void SimulatedBoard::setStatusRegister(int number, quint16 bits)
{
    m_status.insert(number, bits & 0xFFF);
}
