#include "SpiRaw.h"
#include "LogKind.h"

#include "AppletInstances.h"
#include "ChipLog.h"
#include "ControlBoard.h"
#include "Variable.h"
#include "ui_spiraw.h"

#include <QByteArray>
#include <QRegularExpression>
#include <QRegularExpressionValidator>

namespace {

const QString FrameKey = QStringLiteral("SPI0CS0DATA");
const QString SpeedKey = QStringLiteral("SPI0CS0SPEED");

// The board's SPI clock in Hz, sent to the board whenever it changes.
Variable SPIFreq(1000000, QStringLiteral("SPIFreq"), QStringLiteral("SPI clock in Hz"), 1000,
                 10000000);

// A frame as four upper-case hex digits.
QString hexDigits(quint16 frame)
{
    return QStringLiteral("%1").arg(frame, 4, 16, QLatin1Char('0')).toUpper();
}

bool isHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

} // namespace

SpiRaw::SpiRaw(QWidget* parent) : Applet(parent), m_ui(new Ui_SpiRaw)
{
    m_ui->setupUi(this);
    setObjectName(QStringLiteral("SpiRaw"));
    setWindowTitle(QStringLiteral("SpiRaw"));
    m_fixedWidth = true;
    m_fixedHeight = true;
    m_ui->leTxFrame->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("(0[xX])?[0-9A-Fa-f]{1,4}")), m_ui->leTxFrame));

    CommandTable& table = commandTable();
    table = CommandTable(CommandTable::Matching::Exact);
    table.add(QStringLiteral("Transfer"),
              QStringLiteral("Sends one 16-bit SPI frame (hex; the frame field when empty) and "
                             "shows the answer"),
              [this](const QVariant& args) { return QVariant(sendFrame(args)); });
    table.add(QStringLiteral("setSPIFreq"),
              QStringLiteral("Sends the SPI clock SPIFreq (Hz) to the board"),
              [this](const QVariant&) { return QVariant(sendClock()); });
}

SpiRaw::~SpiRaw()
{
    delete m_ui;
}

bool SpiRaw::initParameters()
{
    return addVariable(&SPIFreq);
}

QString SpiRaw::frameValue(quint16 frame)
{
    return QStringLiteral("02") + hexDigits(frame);
}

bool SpiRaw::parseFrame(const QByteArray& text, quint16* frame)
{
    const QByteArray digits = text.trimmed();
    if (digits.size() != 4)
        return false;
    for (char c : digits) {
        if (!isHexDigit(c))
            return false;
    }
    if (frame)
        *frame = quint16(digits.toUInt(nullptr, 16));
    return true;
}

bool SpiRaw::sendFrames(const QByteArray& line, int frames)
{
    ControlBoard* board = AppletInstances::controlBoard;
    if (!board || !dropQueuedAnswers())
        return false;
    const quint64 sent = board->linesSent();
    QByteArray answer;
    const bool ok = board->send(line, &answer);
    // Refused ("err") the frames queue nothing; unanswered, the board still takes them.
    if (board->linesSent() != sent && !answer.contains("err"))
        m_queuedAnswers += frames;
    return ok;
}

bool SpiRaw::fetchAnswer(QByteArray* line, int timeoutMs)
{
    ControlBoard* board = AppletInstances::controlBoard;
    if (!board)
        return false;
    const quint64 sent = board->linesSent();
    QByteArray answer;
    const bool ok = board->send(QByteArrayLiteral("get ") + FrameKey.toUtf8(), &answer, timeoutMs);
    // "err": the board holds no answer at all.
    if (board->linesSent() != sent)
        m_queuedAnswers = answer.contains("err") ? 0 : qMax(0, m_queuedAnswers - 1);
    if (line)
        *line = answer;
    return ok;
}

bool SpiRaw::dropQueuedAnswers()
{
    const int stale = m_queuedAnswers;
    while (m_queuedAnswers > 0) {
        if (!fetchAnswer(nullptr)) {
            if (m_queuedAnswers == 0)
                break; // the board had none left
            qCWarning(lcChip) << m_queuedAnswers << "earlier answers still queued on the board";
            return false;
        }
    }
    if (stale > 0)
        qCDebug(lcChip) << "dropped" << stale << "answers of earlier frames";
    return true;
}

bool SpiRaw::transfer(quint16 frame, quint16* answer)
{
    if (!AppletInstances::controlBoard) {
        qCWarning(lcChip) << "SPI transfer without a board link";
        return false;
    }
    const QString value = frameValue(frame);
    if (!sendFrames(QStringLiteral("set %1=%2\n").arg(FrameKey, value).toUtf8(), 1)) {
        qCWarning(lcChip).noquote() << "SPI frame" << value << "not accepted";
        return false;
    }
    QByteArray line, reply;
    if (!fetchAnswer(&line) || !ControlBoard::pickValue(line, FrameKey, &reply)) {
        qCWarning(lcChip) << "no answer frame";
        return false;
    }
    quint16 decoded = 0;
    if (!parseFrame(reply, &decoded)) {
        qCWarning(lcChip) << "answer frame is not four hex digits:" << reply;
        return false;
    }
    if (answer)
        *answer = decoded;
    return true;
}

QVariant SpiRaw::runFunction(const QString& name, const QVariant& args)
{
    return dispatchCommand(name, args);
}

bool SpiRaw::onParameterTransfer(int direction, const QString& name)
{
    if (direction == 0 && name == SPIFreq.name())
        return sendClock();
    return true;
}

bool SpiRaw::sendFrame(const QVariant& args)
{
    quint16 frame = 0;
    const bool numeric = args.typeId() == QMetaType::Int || args.typeId() == QMetaType::UInt ||
                         args.typeId() == QMetaType::LongLong ||
                         args.typeId() == QMetaType::ULongLong;
    QString text = numeric ? QString() : args.toString().trimmed();
    if (!numeric && text.isEmpty())
        text = m_ui->leTxFrame->text().trimmed();
    bool ok = false;
    if (numeric) {
        const qlonglong n = args.toLongLong();
        ok = n >= 0 && n <= 0xFFFF;
        frame = quint16(n);
    } else {
        QString digits = text;
        if (digits.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
            digits = digits.mid(2);
        uint n = 0;
        if (!digits.isEmpty() && digits.size() <= 4) {
            n = digits.toUInt(&ok, 16);
            ok = ok && n <= 0xFFFF;
        }
        frame = quint16(n);
    }
    if (!ok) {
        emit signal_log(LogKind::Error,
                        QStringLiteral("SpiRaw:Invalid SPI frame \"%1\" (up to four hex "
                                       "digits expected)")
                            .arg(numeric ? args.toString() : text));
        return false;
    }

    m_ui->leTxFrame->setText(hexDigits(frame));
    quint16 answer = 0;
    if (!transfer(frame, &answer)) {
        m_ui->leRxFrame->clear();
        emit signal_log(LogKind::Error, QStringLiteral("SpiRaw:SPI transfer error"));
        return false;
    }
    m_ui->leRxFrame->setText(hexDigits(answer));
    return true;
}

bool SpiRaw::sendClock()
{
    ControlBoard* board = AppletInstances::controlBoard;
    const QString hz = QString::number(qint64(SPIFreq.value()));
    if (!board || !board->set(SpeedKey, hz)) {
        emit signal_log(LogKind::Error, QStringLiteral("SpiRaw:SPI clock %1 Hz not set").arg(hz));
        return false;
    }
    return true;
}
