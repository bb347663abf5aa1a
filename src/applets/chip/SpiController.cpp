#include "SpiController.h"
#include "LogKind.h"

#include "AppletInstances.h"
#include "CallerKey.h"
#include "ChipLog.h"
#include "ChipRegisters.h"
#include "ControlBoard.h"
#include "Register.h"
#include "SpiRaw.h"
#include "TextConvert.h"
#include "ui_spicontroller.h"

#include <QByteArray>

using namespace ChipRegisters;

namespace {

// Address nibble of the status poll frame: the chip answers it with the selected
// status register and changes nothing.
constexpr int PollAddress = 0xD;
constexpr int ChainAnswerTimeoutMs = 2000;
constexpr unsigned int DataMask = 0x7FF;

const QString FrameKey = QStringLiteral("SPI0CS0DATA");
const QString WriteError = QStringLiteral("SpiController:Spi register write error");
const QString ReadError = QStringLiteral("SpiController:SPI register read error");
const QString ChainWriteError = QStringLiteral("SpiController:Chain spi register write error");
const QString ChainReadError = QStringLiteral("SpiController:Chain spi register read error");

// The status register an answer's address field names, or null (addresses 2 and 6).
Register* statusRegister(unsigned int address)
{
    switch (address) {
    case 0:
        return &SR0;
    case 1:
        return &SR1;
    case 3:
        return &SR3;
    case 4:
        return &SR4;
    case 5:
        return &SR5;
    case 7:
        return &SR7;
    default:
        return nullptr;
    }
}

QString field(const Register& reg, const char* selector)
{
    return reg.name() + QLatin1Char('[') + QLatin1String(selector) + QLatin1Char(']');
}

void setWhole(Register& reg, unsigned int value)
{
    reg.setField(field(reg, ""), value);
}

} // namespace

SpiController::SpiController(QWidget* parent) : Applet(parent), m_ui(new Ui_SpiController)
{
    m_ui->setupUi(this);
    setObjectName(QStringLiteral("SpiController"));
    setWindowTitle(QStringLiteral("SpiController"));
    m_fixedWidth = true;
    m_fixedHeight = true;
    buildCommands();
}

SpiController::~SpiController()
{
    delete m_ui;
}

bool SpiController::initParameters()
{
    struct Entry
    {
        Register* reg;
        int size;
    };
    const Entry entries[] = {
        {&NM, 1},    {&ADDR, 3},  {&WD, 1},     {&CR0, 11},  {&CR1, 11},  {&CR2, 7},
        {&CR3A, 11}, {&CR3B, 11}, {&CR4, 11},   {&CR5A, 11}, {&CR6A, 11}, {&CR7A, 11},
        {&CR8A, 11}, {&CR9A, 11}, {&CR10A, 11}, {&CR5B, 11}, {&CR6B, 11}, {&CR7B, 11},
        {&CR8B, 11}, {&CR9B, 11}, {&CR10B, 11}, {&CR12, 11}, {&CR14, 11}, {&SR0, 12},
        {&SR1, 12},  {&SR3, 12},  {&SR4, 12},   {&SR5, 12},  {&SR7, 12},  {&DATA, 12},
    };
    for (const Entry& e : entries) {
        if (!addRegister(e.reg, e.size))
            return false;
    }
    return true;
}

void SpiController::buildCommands()
{
    CommandTable& table = commandTable();
    table = CommandTable(CommandTable::Matching::Exact);
    auto add = [&table](const QString& name, const QString& help,
                        std::function<bool(const QVariant&)> run) {
        table.add(name, help,
                  [run = std::move(run)](const QVariant& args) { return QVariant(run(args)); });
    };

    add(QStringLiteral("WriteCR0"), QStringLiteral("Writes CR0 (output enables, SOA) to the chip"),
        [this](const QVariant&) { return writeRegister(CR0, 0); });
    add(QStringLiteral("WriteCR1"),
        QStringLiteral("Writes CR1 (modes, WD_CFG, CP_SW, DRV_EN) and updates WatchDog WDTimeout"),
        [this](const QVariant&) {
            const bool ok = writeRegister(CR1, 1);
            updateWatchDogTimeout();
            return ok;
        });
    add(QStringLiteral("WriteCR2"), QStringLiteral("Writes CR2 (PWM enables) to the chip"),
        [this](const QVariant&) { return writeRegister(CR2, 2); });
    add(QStringLiteral("WriteCR3A"), QStringLiteral("Writes CR3A (PWM inputs of HB1..HB5)"),
        [this](const QVariant&) {
            CR3A.setField(field(CR3A, "10"), 0);
            return writeRegister(CR3A, 3);
        });
    add(QStringLiteral("WriteCR3B"), QStringLiteral("Writes CR3B (PWM input of HB6)"),
        [this](const QVariant&) {
            CR3B.setField(field(CR3B, "10:4"), 64);
            return writeRegister(CR3B, 3);
        });
    add(QStringLiteral("WriteCR3"), QStringLiteral("Writes CR3A, then CR3B"),
        [this](const QVariant& args) {
            runFunction(QStringLiteral("WriteCR3A"), args);
            runFunction(QStringLiteral("WriteCR3B"), args);
            return true;
        });
    for (int address = 5; address <= 10; ++address) {
        const QString n = QString::number(address);
        const QString hb = QString::number(address - 4);
        add(QStringLiteral("WriteCR%1A").arg(n),
            QStringLiteral("Writes CR%1A (HB%2 pre-charge and blanking)").arg(n, hb),
            [this, address](const QVariant&) { return writeHalf(address, false); });
        add(QStringLiteral("WriteCR%1B").arg(n),
            QStringLiteral("Writes CR%1B (HB%2 slew, delay and VDS threshold)").arg(n, hb),
            [this, address](const QVariant&) { return writeHalf(address, true); });
        add(QStringLiteral("WriteCR%1").arg(n),
            QStringLiteral("Writes CR%1A, then CR%1B (HB%2 configuration)").arg(n, hb),
            [this, address](const QVariant&) {
                writeHalf(address, false);
                writeHalf(address, true);
                return true;
            });
    }
    add(QStringLiteral("RequestRead"),
        QStringLiteral("Selects the status register (argument 0..7) the chip answers with"),
        [this](const QVariant& args) { return requestRead(args); });
    for (int number : {0, 1, 3, 4, 5, 7}) {
        add(QStringLiteral("ReadSR%1").arg(number),
            QStringLiteral("Reads status register SR%1 from the chip").arg(number),
            [this, number](const QVariant&) { return readStatus(number); });
    }
    add(QStringLiteral("ReadAll"), QStringLiteral("Reads NM and all status registers in one chain"),
        [this](const QVariant&) { return readAll(); });
    add(QStringLiteral("Clear"),
        QStringLiteral("Resets the local register images (nothing is sent to the chip)"),
        [this](const QVariant&) {
            clearImages();
            // "Clear" runs after a disconnect, when this applet is inactive and its
            // controls do not follow the images by themselves.
            if (!isActive())
                slot_updateAllControls();
            return true;
        });
}

QVariant SpiController::runFunction(const QString& name, const QVariant& args)
{
    return dispatchCommand(name, args);
}

quint16 SpiController::requestFrame(int address, unsigned int bits)
{
    return quint16(((unsigned(address) & 0xF) << 12) | (unsigned(WD.bit(0)) << 11) |
                   (bits & DataMask));
}

bool SpiController::transferFrame(quint16 frame, quint16* answer)
{
    auto* raw = qobject_cast<SpiRaw*>(AppletInstances::spiRaw);
    if (!raw) {
        qCWarning(lcChip) << "no SpiRaw applet to carry the frame";
        return false;
    }
    return raw->transfer(frame, answer);
}

bool SpiController::writeRegister(Register& reg, int address)
{
    quint16 answer = 0;
    if (!transferFrame(requestFrame(address, reg.value(true)), &answer)) {
        emit signal_log(LogKind::Error, WriteError);
        return false;
    }
    decodeAnswer(answer);
    return true;
}

bool SpiController::writeHalf(int address, bool bHalf)
{
    Register& reg = *configRegister(address, bHalf);
    reg.setField(field(reg, "10"), bHalf ? 1 : 0);
    return writeRegister(reg, address);
}

bool SpiController::requestRead(const QVariant& args)
{
    // Buttons and scripts pass text, other applets an int.
    quint32 number = 0;
    bool ok = false;
    switch (args.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong: {
        const qlonglong n = args.toLongLong();
        ok = n >= 0 && n <= 7;
        number = quint32(n);
        break;
    }
    default: {
        // No number selects SR0, as an unsigned conversion of the empty text gives.
        const QString text = args.toString().trimmed();
        ok = text.isEmpty() || (TextConvert::toUInt32(text, &number) && number <= 7);
        break;
    }
    }
    if (!ok) {
        // A wider number or other text would leave SOA unchanged and read the wrong
        // register.
        emit signal_log(LogKind::Error,
                        QStringLiteral("SpiController:RequestRead needs a status register "
                                       "number 0..7, not \"%1\"")
                            .arg(args.toString()));
        return false;
    }
    CR0.setField(field(CR0, "10"), 1);
    CR0.setField(field(CR0, "9:7"), number);
    writeRegister(CR0, 0);
    return true;
}

bool SpiController::readStatus(int number)
{
    if (!requestRead(number))
        return false;
    quint16 answer = 0;
    if (!transferFrame(requestFrame(PollAddress, 0), &answer)) {
        emit signal_log(LogKind::Error, ReadError);
        return false;
    }
    decodeAnswer(answer);
    return true;
}

bool SpiController::readAll()
{
    for (unsigned int soa : {0u, 1u, 3u, 4u, 5u, 7u, 0u}) {
        CR0.setField(field(CR0, "9:7"), soa);
        addToChain(0, int(CR0.value(true)));
    }
    return sendChainInternal(true);
}

void SpiController::clearImages()
{
    for (Register* reg : {&CR0, &CR1, &CR2, &CR3A, &CR4, &CR12, &CR14})
        setWhole(*reg, 0);
    setWhole(CR3B, 1024);
    for (Register* reg : {&SR1, &SR3, &SR4, &SR5})
        setWhole(*reg, 0);
}

void SpiController::addToChain(int address, int bits)
{
    if (address < 0 || address > 0xF)
        qCWarning(lcChip) << "chain frame address" << address << "out of range 0..15";
    m_chain += QStringLiteral(" %1=%2").arg(
        FrameKey, SpiRaw::frameValue(requestFrame(address, unsigned(bits))));
    ++m_chainFrames;
}

bool SpiController::sendChain()
{
    return sendChainInternal(false);
}

bool SpiController::sendChainInternal(bool clearStatus)
{
    // The buffer is emptied first, so a failed chain never goes out again with the next.
    const QByteArray line = QByteArrayLiteral("set") + m_chain.toUtf8();
    const int count = m_chainFrames;
    m_chain.clear();
    m_chainFrames = 0;
    if (count == 0)
        return true;

    auto* raw = qobject_cast<SpiRaw*>(AppletInstances::spiRaw);
    if (!raw || !raw->sendFrames(line, count)) {
        emit signal_log(LogKind::Error, ChainWriteError);
        return false;
    }
    // Cleared only once the frames reached the board, so a link failure never shows
    // an all-clear status that the chip did not report.
    if (clearStatus) {
        setWhole(NM, 0);
        setWhole(SR0, 0);
    }

    bool ok = true;
    for (int i = 0; i < count; ++i) {
        QByteArray reply;
        if (!raw->fetchAnswer(&reply, ChainAnswerTimeoutMs)) {
            qCWarning(lcChip) << "chain answers stopped after" << i << "of" << count;
            ok = false;
            break;
        }
        reply.replace('\r', "").replace('\n', "");
        QString value;
        quint16 answer = 0;
        if (!TextConvert::valueOf(QString::fromUtf8(reply), FrameKey, &value) ||
            !SpiRaw::parseFrame(value.toUtf8(), &answer)) {
            // Keep reading: each frame's answer stays queued on the board until fetched,
            // and a skipped one would be taken for the answer of a later transfer.
            qCWarning(lcChip) << "chain answer" << i << "is not a frame:" << reply;
            ok = false;
            continue;
        }
        decodeAnswer(answer);
    }
    if (!ok)
        emit signal_log(LogKind::Error, ChainReadError);
    return ok;
}

void SpiController::decodeAnswer(quint16 answer)
{
    const unsigned int address = (answer >> 13) & 0x7;
    const unsigned int bits = answer & 0xFFF;
    setWhole(ADDR, address);
    setWhole(NM, (answer >> 12) & 0x1);
    setWhole(DATA, bits);
    if (Register* status = statusRegister(address))
        status->setField(field(*status, "11:0"), bits);
}

void SpiController::updateWatchDogTimeout()
{
    if (AppletInstances::watchDog) {
        AppletInstances::watchDog->setValue(QStringLiteral("WDTimeout"), CR1.bit(8),
                                            CallerKey::Internal);
    }
}

void SpiController::on_cbSR0_10_stateChanged(int state)
{
    if (state == Qt::Unchecked)
        return;
    // The simulated chip never loses its registers; without a link there is nothing to
    // restore.
    ControlBoard* board = AppletInstances::controlBoard;
    if (!board || board->isMockup())
        return;
    runFunction(QStringLiteral("Clear"), QString());
    if (AppletInstances::board)
        AppletInstances::board->runFunction(QStringLiteral("setUserConf"), QString());
    updateWatchDogTimeout();
}
