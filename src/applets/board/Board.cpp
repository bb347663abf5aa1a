#include "Board.h"

#include "BoardLog.h"

#include "AppletCalls.h"
#include "AppletInstances.h"
#include "CallerKey.h"
#include "ChipRegisters.h"
#include "ControlBoard.h"
#include "GeneratorPanels.h"
#include "PwmVariables.h"
#include "Register.h"
#include "SpiController.h"
#include "Variable.h"
#include "ui_board.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QRegularExpression>
#include <QTimer>

namespace {
// Default configuration of every half-bridge: 0x2B9 in the A half (bit 10 clear),
// 0x522 in the B half (bit 10 set).
constexpr unsigned int DefaultConfigA = 697;
constexpr unsigned int DefaultConfigB = 1314;

} // namespace

using namespace BoardParameters;

namespace {
// The applet that sends chained frames, or null when there is none; then a warning
// names what is not sent, if anything.
SpiController* chainController(const char* unsent = nullptr)
{
    auto* spi = qobject_cast<SpiController*>(AppletInstances::spiController);
    if (!spi && unsent)
        qCWarning(lcBoard).nospace() << "No SpiController: " << unsent << " not sent";
    return spi;
}
} // namespace

Board::Board(QWidget* parent)
    : Applet(parent), ui(new Ui_Board), m_panels(GeneratorPanels::setUpForm(this, ui))
{
    if (objectName().isEmpty())
        setObjectName(QStringLiteral("Board"));
    setupSwitches();
    buildCommands();
    setWindowTitle(QStringLiteral("Board"));
    m_fixedWidth = true;
    m_fixedHeight = true;
}

Board::~Board()
{
    delete ui;
}

bool Board::initParameters()
{
    addRegister(&DIO);
    for (Variable* variable : PwmVariables::tableOrder())
        addVariable(variable);
    addRegister(&ChipRegisters::CR0);
    addRegister(&ChipRegisters::CR1);
    addRegister(&ChipRegisters::SR0);
    addRegister(&ChipRegisters::SR3);
    addRegister(&ChipRegisters::NM);
    addRegister(&FSM);
    for (Register* reg : userConfiguration())
        addRegister(reg);
    addVariable(&ADC_Result1);
    addVariable(&ADC_Result2);
    addVariable(&ADC_Result4);

    initialDio = DIO;

    // The timers belong to the applet (one instance in the program), so every
    // caller of Delay shares them. Setup runs once; a second run keeps them.
    if (!m_refreshTimer) {
        m_refreshTimer = new QTimer(this);
        m_refreshTimer->setObjectName(QStringLiteral("refreshTimer"));
        m_refreshTimer->setInterval(1000);
        connect(m_refreshTimer, &QTimer::timeout, this, &Board::slot_Timer_timeout);
    }
    if (!m_delayTimer) {
        m_delayTimer = new QTimer(this);
        m_delayTimer->setObjectName(QStringLiteral("delayTimer"));
        m_delayTimer->setSingleShot(true);
        m_delayTimer->setTimerType(Qt::PreciseTimer);
        connect(m_delayTimer, &QTimer::timeout, this, &Board::Delay_end);
    }
    return true;
}

// ---------------------------------------------------------------------------------
// Life cycle

void Board::onActivate()
{
    savedDio = DIO;
    QTimer::singleShot(10, this, &Board::update_status);
}

void Board::onDeactivate()
{
    if (m_refreshTimer && m_refreshTimer->isActive())
        m_refreshTimer->stop();
    setupRemoteDefaults();
}

void Board::setupSwitches()
{
    ui->csPWM1OnOff->setModel(6);
    ui->csPWM2OnOff->setModel(6);
    ui->csPWM3OnOff->setModel(6);
    ui->csPWM4OnOff->setModel(6);
}

void Board::saveDioState()
{
    savedDio = DIO;
    slot_updateAllControls();
}

void Board::restoreDioState()
{
    DIO = initialDio;
    ui->cbAutoRefresh->setChecked(false);
    saveDioState();
}

void Board::setupRemoteDefaults()
{
    saveDioState();
    onParameterTransfer(0, QStringLiteral("R219_REMOTE"));
    onParameterTransfer(0, QStringLiteral("HBConf_Def"));
}

void Board::update_status()
{
    setupRemoteDefaults();
    AppletCalls::spi(QStringLiteral("ReadAll"));
    qCDebug(lcBoard) << "Status registers updated";
}

// ---------------------------------------------------------------------------------
// The wait

void Board::Delay(int ms)
{
    if (m_waitsCancelled)
        return;
    if (!m_delayTimer) {
        qCWarning(lcBoard) << "Delay before the applet was set up; not waiting";
        return;
    }
    // A negative interval would never expire and the wait would never end.
    m_delayBusy = true;
    m_delayTimer->start(qMax(0, ms));
    // Sleep in the event dispatcher until something arrives: the window stays live
    // and nested commands run, without burning a core while nothing happens.
    while (m_delayBusy && !m_waitsCancelled)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

void Board::cancelWaits()
{
    m_waitsCancelled = true;
    m_delayBusy = false;
    if (m_delayTimer)
        m_delayTimer->stop();
}

void Board::Delay_stop()
{
    if (m_delayTimer && m_delayTimer->isActive())
        m_delayTimer->stop();
}

void Board::Delay_end()
{
    m_delayBusy = false;
}

// ---------------------------------------------------------------------------------
// Transfer hook

bool Board::onParameterTransfer(int direction, const QString& name)
{
    if (direction != 0)
        return true;
    if (name == QLatin1String("R219_REMOTE"))
        return AppletCalls::sendLine(QStringLiteral("set r219rem=1"));
    if (name == QLatin1String("HBConf_Def")) {
        sendDefaultConfiguration();
        return true;
    }
    if (name == QLatin1String("HBConf_User")) {
        sendUserConfiguration();
        return true;
    }
    return true;
}

void Board::sendDefaultConfiguration()
{
    SpiController* spi = chainController("default configuration");
    if (!spi)
        return;
    for (int n = 5; n <= 10; ++n) {
        spiSet(QStringLiteral("CR%1A[10:0]").arg(n), DefaultConfigA);
        spi->addToChain(n, int(DefaultConfigA));
        spiSet(QStringLiteral("CR%1B[10:0]").arg(n), DefaultConfigB);
        spi->addToChain(n, int(DefaultConfigB));
    }
    spi->sendChain();
}

void Board::sendUserConfiguration()
{
    SpiController* spi = chainController("user configuration");
    if (!spi)
        return;
    for (int n = 5; n <= 10; ++n) {
        spi->addToChain(n, int(ChipRegisters::configRegister(n, false)->value(true)));
        spi->addToChain(n, int(ChipRegisters::configRegister(n, true)->value(true)));
    }
    spi->sendChain();
}

// ---------------------------------------------------------------------------------
// Slots

void Board::on_cbEN_clicked(bool checked)
{
    DIO.setField(QStringLiteral("DIO[EN]"), checked ? 1u : 0u);
    QWidget* const modeWidgets[] = {ui->pbBoard_setActive,          ui->pbBoard_setStandby,
                                    ui->pbBoard_setDefault,         ui->frame_Board_MotorControl,
                                    ui->frame_Board_MotorControl_2, ui->groupBox_Board_Status};
    if (checked) {
        AppletCalls::sendLine(QStringLiteral("set DIO25=1"));
        for (QWidget* widget : modeWidgets)
            widget->setEnabled(true);
        if (FSM.getField(QStringLiteral("FSM")) == 0)
            setRoutineEnabled(true);
        AppletCalls::spi(QStringLiteral("ReadAll"));
        runFunction(QStringLiteral("setUserConf"), AppletCalls::noArgument());
    } else {
        AppletCalls::sendLine(QStringLiteral("set DIO25=0"));
        for (QWidget* widget : modeWidgets)
            widget->setEnabled(false);
        setRoutineEnabled(false);
    }
}

void Board::on_cbFSM_clicked()
{
    runFunction(QStringLiteral("setFSM"), AppletCalls::noArgument());
    qCDebug(lcBoard) << FSM.getField(QStringLiteral("FSM"));
}

void Board::on_cbAutoRefresh_toggled(bool checked)
{
    if (!checked) {
        m_refreshTimer->stop();
        return;
    }
    bool ok = false;
    const unsigned int period = ui->lePeriod->text().toUInt(&ok, 10);
    if (!ok || period == 0) {
        ui->cbAutoRefresh->setChecked(false);
        return;
    }
    m_refreshTimer->setInterval(int(period));
    m_refreshTimer->start();
}

void Board::slot_Timer_timeout()
{
    self()->runFunction(QStringLiteral("refresh"), AppletCalls::noArgument());
}

void Board::on_hsPWM1_Duty_sliderMoved(int position)
{
    dutySliderMoved(1, position);
}

void Board::on_hsPWM2_Duty_sliderMoved(int position)
{
    dutySliderMoved(2, position);
}

void Board::on_hsPWM3_Duty_sliderMoved(int position)
{
    dutySliderMoved(3, position);
}

void Board::on_hsPWM4_Duty_sliderMoved(int position)
{
    dutySliderMoved(4, position);
}

void Board::on_cbPWM1_DIO_clicked()
{
    pinBoxClicked(1);
}

void Board::on_cbPWM2_DIO_clicked()
{
    pinBoxClicked(2);
}

void Board::on_cbPWM3_DIO_clicked()
{
    pinBoxClicked(3);
}

void Board::on_cbPWM4_DIO_clicked()
{
    pinBoxClicked(4);
}

void Board::dutySliderMoved(int n, int position)
{
    PwmVariables::duty(n)->setValue(double(position), CallerKey::Internal);
    if (Applet* hb = AppletInstances::hbController)
        hb->runFunction(QStringLiteral("setPWM%1_Duty").arg(n), AppletCalls::noArgument());
}

void Board::pinBoxClicked(int n)
{
    if (Applet* hb = AppletInstances::hbController)
        hb->runFunction(QStringLiteral("setPWM%1_DIO").arg(n), AppletCalls::noArgument());
}

// ---------------------------------------------------------------------------------
// Helpers

Applet* Board::self()
{
    return AppletInstances::board ? AppletInstances::board : this;
}

bool Board::spiSet(const QString& field, unsigned int value)
{
    if (Applet* spi = AppletInstances::spiController)
        return spi->setValue(field, value, CallerKey::Internal);
    return false;
}

unsigned int Board::spiWhole(const QString& registerName)
{
    if (Applet* spi = AppletInstances::spiController)
        return spi->getValue(registerName + QStringLiteral("[]"), CallerKey::Internal).toUInt();
    return 0;
}

void Board::setRoutineEnabled(bool on)
{
    if (Applet* watchDog = AppletInstances::watchDog)
        watchDog->setValue(QStringLiteral("RoutineEN"), on ? 1 : 0, CallerKey::Internal);
}

// ---------------------------------------------------------------------------------
// Commands

QVariant Board::runFunction(const QString& name, const QVariant& args)
{
    return dispatchCommand(name, args);
}

void Board::buildCommands()
{
    CommandTable& table = commandTable();
    const auto done = [](auto action) {
        return [action](const QVariant& args) {
            action(args);
            return QVariant(true);
        };
    };
    table.add(QStringLiteral("setHB_ON"), QStringLiteral("Turns on HB\nParams : HB number, hs/ls"),
              [this](const QVariant& args) { return QVariant(setHalfBridgeOn(args.toString())); });
    table.add(QStringLiteral("setHB_OFF"), QStringLiteral("Turns off HB"),
              done([this](const QVariant& args) { setHalfBridgeOff(args.toString()); }));
    for (int n = 1; n <= 4; ++n)
        table.add(QStringLiteral("setPWM%1_DIO").arg(n),
                  QStringLiteral("Sets PWM%1 pin state").arg(n),
                  done([this, n](const QVariant&) { showPinState(n); }));
    for (int n = 1; n <= 4; ++n) {
        // Generator settings belong to HBController; its result is the answer.
        for (const char* what : {"Freq", "Duty"}) {
            const QString command = QStringLiteral("setPWM%1_%2").arg(n).arg(QLatin1String(what));
            const QString help = QStringLiteral("Sets PWM%1 %2")
                                     .arg(n)
                                     .arg(qstrcmp(what, "Freq") == 0 ? QStringLiteral("Frequency")
                                                                     : QStringLiteral("Duty"));
            table.add(command, help, [command](const QVariant&) {
                if (Applet* hb = AppletInstances::hbController)
                    return hb->runFunction(command, AppletCalls::noArgument());
                qCWarning(lcBoard) << "No HBController:" << command << "not run";
                return QVariant(false);
            });
        }
    }
    table.add(QStringLiteral("setActive"), QStringLiteral("Sets device to Active mode"),
              done([this](const QVariant&) { setActiveMode(); }));
    table.add(QStringLiteral("setStandby"), QStringLiteral("Sets device to Standby mode"),
              done([this](const QVariant&) { setStandbyMode(); }));
    table.add(QStringLiteral("setFSM"), QStringLiteral("Sets device to Fail-safe mode"),
              done([this](const QVariant&) { setFailSafeMode(); }));
    for (int motor = 1; motor <= 2; ++motor) {
        const struct
        {
            const char* name;
            const char* help;
            Motion motion;
        } motions[] = {{"setForward", "Sets device to run forward", Motion::Forward},
                       {"setBackward", "Sets device to run backward", Motion::Backward},
                       {"setStop", "Sets device to stop", Motion::Stop},
                       {"setBrake", "Sets device to stop", Motion::Brake}};
        for (const auto& m : motions) {
            const Motion motion = m.motion;
            table.add(QLatin1String(m.name) + QString::number(motor), QLatin1String(m.help),
                      done([this, motor, motion](const QVariant&) { moveMotor(motor, motion); }));
        }
    }
    table.add(QStringLiteral("getSTATUS"), QStringLiteral("Gets device status"),
              done([this](const QVariant&) {
                  AppletCalls::spi(QStringLiteral("ReadAll"));
                  qCDebug(lcBoard) << "Get device status";
              }));
    table.add(QStringLiteral("getADC"), QStringLiteral("Get all ADC data"),
              done([this](const QVariant&) {
                  self()->runFunction(QStringLiteral("getADC1"), AppletCalls::noArgument());
                  self()->runFunction(QStringLiteral("getADC2"), AppletCalls::noArgument());
                  self()->runFunction(QStringLiteral("getVS"), AppletCalls::noArgument());
              }));
    table.add(QStringLiteral("getADC1"), QStringLiteral("Get ADC 1 data"), [this](const QVariant&) {
        return QVariant(measure(QStringLiteral("Isen1"), &ADC_Result1));
    });
    table.add(QStringLiteral("getADC2"), QStringLiteral("Get ADC 2 data"), [this](const QVariant&) {
        return QVariant(measure(QStringLiteral("Isen2"), &ADC_Result2));
    });
    table.add(QStringLiteral("getVS"), QStringLiteral("Get VS Value"), [this](const QVariant&) {
        return QVariant(measure(QStringLiteral("AIN5"), &ADC_Result4));
    });
    table.add(QStringLiteral("refresh"), QStringLiteral("Current and Status refreshed"),
              done([this](const QVariant&) {
                  self()->runFunction(QStringLiteral("getADC"), AppletCalls::noArgument());
                  self()->runFunction(QStringLiteral("getSTATUS"), AppletCalls::noArgument());
                  qCDebug(lcBoard) << "Current and Status refreshed";
              }));
    // The configuration commands report false although they ran.
    table.add(
        QStringLiteral("setDefault"), QStringLiteral("Sets Default Configuration Values"),
        done([this](const QVariant&) { onParameterTransfer(0, QStringLiteral("HBConf_Def")); }),
        CommandTable::Result::ReportsFalse);
    table.add(
        QStringLiteral("setUserConf"), QStringLiteral("Sets User Configuration Values"),
        done([this](const QVariant&) { onParameterTransfer(0, QStringLiteral("HBConf_User")); }),
        CommandTable::Result::ReportsFalse);
    table.add(QStringLiteral("setLoaded"),
              QStringLiteral("Sets Loaded Configuration saved in UCR reg Values"),
              done([this](const QVariant&) { sendLoaded(); }), CommandTable::Result::ReportsFalse);
}

bool Board::setHalfBridgeOn(const QString& argument)
{
    const QStringList parts = argument.split(QLatin1Char(','));
    if (parts.size() < 2) {
        // Without a mode the request is ambiguous; change nothing on the chip.
        qCWarning(lcBoard) << "setHB_ON needs \"half-bridge,hs|ls\", got" << argument;
        return false;
    }
    const QString n = parts.at(0);
    // Compared untrimmed: "5, hs" selects the low side.
    const bool highSide = parts.at(1).toLower() == QLatin1String("hs");

    runFunction(QStringLiteral("setHB_OFF"), n);

    spiSet(QStringLiteral("CR1[HB_MODE%1]").arg(n), highSide ? 1u : 0u);
    AppletCalls::spi(QStringLiteral("WriteCR1"));
    if (highSide) {
        // HB5 takes PWM input 2 (PWM3), every other half-bridge input 3 (PWM4);
        // HB6's selection sits in the B half of CR3.
        const QString half = n.toInt() > 5 ? QStringLiteral("B") : QStringLiteral("A");
        const unsigned int input = n == QLatin1String("5") ? 2u : 3u;
        spiSet(QStringLiteral("CR3%1[PWM%2]").arg(half, n), input);
        AppletCalls::spi(QStringLiteral("WriteCR3") + half);
    }
    spiSet(QStringLiteral("CR2[HB_PWM%1]").arg(n), highSide ? 1u : 0u);
    AppletCalls::spi(QStringLiteral("WriteCR2"));
    spiSet(QStringLiteral("CR0[HB_EN%1]").arg(n), 1u);
    AppletCalls::spi(QStringLiteral("WriteCR0"));
    return true;
}

void Board::setHalfBridgeOff(const QString& halfBridge)
{
    spiSet(QStringLiteral("CR0[HB_EN%1]").arg(halfBridge), 0u);
    AppletCalls::spi(QStringLiteral("WriteCR0"));
}

void Board::showPinState(int n)
{
    // While the generator is off its pin is a plain output that the box drives;
    // while it runs the pin shows the clock and the box is locked.
    const bool generatorOff = PwmVariables::onOff(n)->value() == 0.0;
    m_panels.showRunning(n, !generatorOff);
}

void Board::setActiveMode()
{
    runFunction(QStringLiteral("setUserConf"), AppletCalls::noArgument());
    spiSet(QStringLiteral("CR1[10]"), 1u); // DRV_EN
    spiSet(QStringLiteral("CR1[9]"), 1u);  // CP_SW
    AppletCalls::spi(QStringLiteral("WriteCR1"));
    // Motor 2 (HB2, HB4) runs from PWM input 1, motor 1 (HB1, HB3) from input 0.
    spiSet(QStringLiteral("CR3A[7:6]"), 1u);
    spiSet(QStringLiteral("CR3A[3:2]"), 1u);
    spiSet(QStringLiteral("CR3A[5:4]"), 0u);
    spiSet(QStringLiteral("CR3A[1:0]"), 0u);
    AppletCalls::spi(QStringLiteral("WriteCR2"));
    AppletCalls::spi(QStringLiteral("WriteCR3"));
    AppletCalls::spi(QStringLiteral("ReadSR0"));
    qCDebug(lcBoard) << "Active mode set ";
}

void Board::setStandbyMode()
{
    spiSet(QStringLiteral("CR1[10]"), 0u); // DRV_EN
    AppletCalls::spi(QStringLiteral("WriteCR1"));
    AppletCalls::spi(QStringLiteral("ReadSR0"));
    qCDebug(lcBoard) << "Reduced power mode set ";
}

void Board::setFailSafeMode()
{
    if (FSM.getField(QStringLiteral("FSM")) == 1) {
        AppletCalls::sendLine(QStringLiteral("set DIO22=1"));
        AppletCalls::spi(QStringLiteral("ReadSR0"));
        qCDebug(lcBoard) << "Fail-safe mode set ";
        setRoutineEnabled(false);
    } else {
        AppletCalls::sendLine(QStringLiteral("set DIO22=0"));
        if (DIO.getField(QStringLiteral("DIO[EN]")) == 1)
            setRoutineEnabled(true);
        AppletCalls::spi(QStringLiteral("ReadAll"));
        runFunction(QStringLiteral("setUserConf"), AppletCalls::noArgument());
    }
}

void Board::moveMotor(int motor, Motion motion)
{
    // Motor 1 lies between HB1 (b) and HB3 (a), motor 2 between HB2 (b) and HB4 (a).
    const int a = motor == 1 ? 2 : 3;
    const int b = motor == 1 ? 0 : 1;
    const auto bitOf = [](const char* reg, int bit) {
        return QStringLiteral("%1[%2]").arg(QLatin1String(reg)).arg(bit);
    };

    if (motion == Motion::Brake) {
        // PWM and modes off in one chained transfer (both sides low), then outputs off.
        spiSet(bitOf("CR2", a), 0u);
        spiSet(bitOf("CR2", b), 0u);
        SpiController* spi = chainController();
        if (spi)
            spi->addToChain(2, int(spiWhole(QStringLiteral("CR2"))));
        spiSet(bitOf("CR1", a), 0u);
        spiSet(bitOf("CR1", b), 0u);
        if (spi) {
            spi->addToChain(1, int(spiWhole(QStringLiteral("CR1"))));
            spi->sendChain();
        }
        Delay(50);
        spiSet(bitOf("CR0", a), 0u);
        spiSet(bitOf("CR0", b), 0u);
        AppletCalls::spi(QStringLiteral("WriteCR0"));
        qCDebug(lcBoard) << "Stop with brake";
        return;
    }

    spiSet(bitOf("CR0", a), 0u);
    spiSet(bitOf("CR0", b), 0u);
    AppletCalls::spi(QStringLiteral("WriteCR0"));

    // The PWM-driven side: a forward, b backward, neither on stop.
    spiSet(bitOf("CR2", a), motion == Motion::Forward ? 1u : 0u);
    spiSet(bitOf("CR2", b), motion == Motion::Backward ? 1u : 0u);
    AppletCalls::spi(QStringLiteral("WriteCR2"));
    if (motion == Motion::Stop) {
        qCDebug(lcBoard) << "Stop";
        return;
    }

    // Outputs stay off for 100 ms before the modes change and both are enabled.
    spiSet(bitOf("CR0", a), 1u);
    spiSet(bitOf("CR0", b), 1u);
    spiSet(bitOf("CR1", a), motion == Motion::Forward ? 1u : 0u);
    spiSet(bitOf("CR1", b), motion == Motion::Backward ? 1u : 0u);
    Delay(100);
    if (m_waitsCancelled)
        return; // quitting: the outputs stay off
    AppletCalls::spi(QStringLiteral("WriteCR1"));
    AppletCalls::spi(QStringLiteral("WriteCR0"));
    qCDebug(lcBoard) << (motion == Motion::Forward ? "Run forward" : "Run backward");
}

bool Board::measure(const QString& boardName, Variable* target)
{
    QByteArray text;
    ControlBoard* link = AppletInstances::controlBoard;
    const bool ok = link && link->get(boardName, &text);
    double value = double(QString::fromLatin1(text).toFloat()); // 0 when empty
    if (boardName == QLatin1String("AIN5"))
        value = value * 3.0 * 16.0 * 0.00048828125; // 12-bit reading of VS/16 at 3 V
    else
        value = value / 1000.0; // mA to A
    // Out of range (0..50) is refused and the last reading stays.
    target->setValue(value, CallerKey::Internal);
    return ok;
}

void Board::sendLoaded()
{
    SpiController* spi = chainController("loaded configuration");
    if (!spi)
        return;
    static const QRegularExpression digits(QStringLiteral("(\\d+)"));
    for (const QString& s : loadedRegisters) {
        const unsigned int user =
            getValue(QStringLiteral("U%1[]").arg(s), CallerKey::Internal).toUInt();
        // The A half keeps bit 10 clear, the B half set.
        const unsigned int value =
            s.contains(QLatin1Char('A')) ? (user & ~0x400u) : (user | 0x400u);
        spiSet(s + QStringLiteral("[10:0]"), value);
        const QRegularExpressionMatch address = digits.match(s);
        if (!address.hasMatch()) {
            qCWarning(lcBoard) << "setLoaded: no register address in" << s;
            continue;
        }
        spi->addToChain(address.captured(1).toInt(), int(spiWhole(s)));
    }
    spi->sendChain();
}
