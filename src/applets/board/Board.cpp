#include "Board.h"

#include "BoardLog.h"

#include "AppletInstances.h"
#include "CallerKey.h"
#include "ChipRegisters.h"
#include "ControlBoard.h"
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
// Configuration register halves of half-bridge hb (1..6); the texts of HB1 are the
// templates of all six.
QString userConfigA(int hb)
{
    return QStringLiteral("T_PC%1[1:0]#HB%1 R/F slope pre-charge time;"
                          "I_PCR%1[2:0]#HB%1 Rising slope pre-charge current;"
                          "I_PCF%1[2:0]#HB%1 Falling slope pre-charge current;"
                          "BLANK%1[1:0]#HB%1 Cross-conduction blanking time;D10=0#;")
        .arg(hb);
}

QString userConfigB(int hb)
{
    return QStringLiteral("SR_CTRL%1[2:0]#HB%1 R/F slope slew phase current;"
                          "T_DLY%1[3:0]#HB%1 VDS overload detect delay;"
                          "VDS%1[2:0]#HB%1 VDS sense treshold;D10=1#;")
        .arg(hb);
}

// Default configuration of every half-bridge: 0x2B9 in the A half (bit 10 clear),
// 0x522 in the B half (bit 10 set).
constexpr unsigned int DefaultConfigA = 697;
constexpr unsigned int DefaultConfigB = 1314;

const QString ClockPicture = QStringLiteral("image: url(:/board/img_signal_clock.png)");
} // namespace

namespace BoardParameters {
Register DIO("@register=DIO;"
             "@bit=EN                @pin=DIO25          @value=1        @dir=OUT;"
             "@bit=PWM1              @pin=DIO14          @value=0        @dir=OUT;"
             "@bit=PWM2              @pin=DIO15          @value=0        @dir=OUT;");
Register FSM("@register=FSM;@bit=FSM                @pin=DIO22          @value=0");
Variable ADC_Result1("@variable=ADC_Result1 @type=real @value=0 @min=0 @max=50");
Variable ADC_Result2("@variable=ADC_Result2 @type=real @value=0 @min=0 @max=50");
Variable ADC_Result4("@variable=ADC_Result4 @type=real @value=0 @min=0 @max=50");
Register initialDio;
Register UCR5A(userConfigA(1), QStringLiteral("UCR5A"));
Register UCR5B(userConfigB(1), QStringLiteral("UCR5B"));
Register UCR6A(userConfigA(2), QStringLiteral("UCR6A"));
Register UCR6B(userConfigB(2), QStringLiteral("UCR6B"));
Register UCR7A(userConfigA(3), QStringLiteral("UCR7A"));
Register UCR7B(userConfigB(3), QStringLiteral("UCR7B"));
Register UCR8A(userConfigA(4), QStringLiteral("UCR8A"));
Register UCR8B(userConfigB(4), QStringLiteral("UCR8B"));
Register UCR9A(userConfigA(5), QStringLiteral("UCR9A"));
Register UCR9B(userConfigB(5), QStringLiteral("UCR9B"));
Register UCR10A(userConfigA(6), QStringLiteral("UCR10A"));
Register UCR10B(userConfigB(6), QStringLiteral("UCR10B"));
Register savedDio(DIO);

QList<Register*> userConfiguration()
{
    return {&UCR5A, &UCR5B, &UCR6A, &UCR6B, &UCR7A,  &UCR7B,
            &UCR8A, &UCR8B, &UCR9A, &UCR9B, &UCR10A, &UCR10B};
}
} // namespace BoardParameters

using namespace BoardParameters;

namespace {
// The commands in the order they are tried, with their help texts.
struct Command
{
    const char* name;
    const char* help;
};

enum CommandIndex {
    CmdSetHbOn,
    CmdSetHbOff,
    CmdSetPwm1Dio,
    CmdSetPwm4Dio = CmdSetPwm1Dio + 3,
    CmdSetPwm1Freq,
    CmdSetPwm4Duty = CmdSetPwm1Freq + 7,
    CmdSetActive,
    CmdSetStandby,
    CmdSetFsm,
    CmdSetForward1,
    CmdSetBackward1,
    CmdSetStop1,
    CmdSetBrake1,
    CmdSetForward2,
    CmdSetBackward2,
    CmdSetStop2,
    CmdSetBrake2,
    CmdGetStatus,
    CmdGetAdc,
    CmdGetAdc1,
    CmdGetAdc2,
    CmdGetVs,
    CmdRefresh,
    CmdSetDefault,
    CmdSetUserConf,
    CmdSetLoaded,
    CommandCount
};

const Command Commands[] = {
    {"setHB_ON", "Turns on HB\nParams : HB number, hs/ls"},
    {"setHB_OFF", "Turns off HB"},
    {"setPWM1_DIO", "Sets PWM1 pin state"},
    {"setPWM2_DIO", "Sets PWM2 pin state"},
    {"setPWM3_DIO", "Sets PWM3 pin state"},
    {"setPWM4_DIO", "Sets PWM4 pin state"},
    {"setPWM1_Freq", "Sets PWM1 Frequency"},
    {"setPWM1_Duty", "Sets PWM1 Duty"},
    {"setPWM2_Freq", "Sets PWM2 Frequency"},
    {"setPWM2_Duty", "Sets PWM2 Duty"},
    {"setPWM3_Freq", "Sets PWM3 Frequency"},
    {"setPWM3_Duty", "Sets PWM3 Duty"},
    {"setPWM4_Freq", "Sets PWM4 Frequency"},
    {"setPWM4_Duty", "Sets PWM4 Duty"},
    {"setActive", "Sets device to Active mode"},
    {"setStandby", "Sets device to Standby mode"},
    {"setFSM", "Sets device to Fail-safe mode"},
    {"setForward1", "Sets device to run forward"},
    {"setBackward1", "Sets device to run backward"},
    {"setStop1", "Sets device to stop"},
    {"setBrake1", "Sets device to stop"},
    {"setForward2", "Sets device to run forward"},
    {"setBackward2", "Sets device to run backward"},
    {"setStop2", "Sets device to stop"},
    {"setBrake2", "Sets device to stop"},
    {"getSTATUS", "Gets device status"},
    {"getADC", "Get all ADC data"},
    {"getADC1", "Get ADC 1 data"},
    {"getADC2", "Get ADC 2 data"},
    {"getVS", "Get VS Value"},
    {"refresh", "Current and Status refreshed"},
    {"setDefault", "Sets Default Configuration Values"},
    {"setUserConf", "Sets User Configuration Values"},
    {"setLoaded", "Sets Loaded Configuration saved in UCR reg Values"},
};
static_assert(sizeof(Commands) / sizeof(Commands[0]) == CommandCount,
              "one entry per command index");

// Compiled once: the refresh timer runs commands every tick.
const QVector<QRegularExpression>& commandPatterns()
{
    static const QVector<QRegularExpression> patterns = [] {
        QVector<QRegularExpression> list;
        for (const Command& command : Commands)
            list << Applet::commandPattern(QString::fromLatin1(command.name));
        return list;
    }();
    return patterns;
}

QVariant emptyText()
{
    return QVariant(QString());
}

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

Board::Board(QWidget* parent) : Applet(parent), ui(new Ui_Board)
{
    ui->setupUi(this);
    if (objectName().isEmpty())
        setObjectName(QStringLiteral("Board"));
    m_clockLabels[0] = ui->lblCLK1;
    m_clockLabels[1] = ui->lblCLK2;
    m_clockLabels[2] = ui->lblCLK3;
    m_clockLabels[3] = ui->lblCLK4;
    m_pinBoxes[0] = ui->cbPWM1_DIO;
    m_pinBoxes[1] = ui->cbPWM2_DIO;
    m_pinBoxes[2] = ui->cbPWM3_DIO;
    m_pinBoxes[3] = ui->cbPWM4_DIO;
    setupSwitches();
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
    spiRun(QStringLiteral("ReadAll"));
    qCDebug(lcBoard) << "Status registers updated";
}

// ---------------------------------------------------------------------------------
// The wait

void Board::Delay(int ms)
{
    if (!m_delayTimer) {
        qCWarning(lcBoard) << "Delay before the applet was set up; not waiting";
        return;
    }
    // A negative interval would never expire and the wait would never end.
    m_delayBusy = true;
    m_delayTimer->start(qMax(0, ms));
    // Sleep in the event dispatcher until something arrives: the window stays live
    // and nested commands run, without burning a core while nothing happens.
    while (m_delayBusy)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
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
        return sendLine("set r219rem=1");
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
        sendLine("set DIO25=1");
        for (QWidget* widget : modeWidgets)
            widget->setEnabled(true);
        if (FSM.getField(QStringLiteral("FSM")) == 0)
            setRoutineEnabled(true);
        spiRun(QStringLiteral("ReadAll"));
        runFunction(QStringLiteral("setUserConf"), emptyText());
    } else {
        sendLine("set DIO25=0");
        for (QWidget* widget : modeWidgets)
            widget->setEnabled(false);
        setRoutineEnabled(false);
    }
}

void Board::on_cbFSM_clicked()
{
    runFunction(QStringLiteral("setFSM"), emptyText());
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
    self()->runFunction(QStringLiteral("refresh"), emptyText());
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
        hb->runFunction(QStringLiteral("setPWM%1_Duty").arg(n), emptyText());
}

void Board::pinBoxClicked(int n)
{
    if (Applet* hb = AppletInstances::hbController)
        hb->runFunction(QStringLiteral("setPWM%1_DIO").arg(n), emptyText());
}

// ---------------------------------------------------------------------------------
// Helpers

Applet* Board::self()
{
    return AppletInstances::board ? AppletInstances::board : this;
}

bool Board::sendLine(const QByteArray& line)
{
    ControlBoard* link = AppletInstances::controlBoard;
    if (!link) {
        qCWarning(lcBoard) << "No board link:" << line << "not sent";
        return false;
    }
    return link->send(line);
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

void Board::spiRun(const QString& command, const QString& argument)
{
    if (Applet* spi = AppletInstances::spiController)
        spi->runFunction(command, argument);
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
    QMap<QString, QString>& help = functionHelpMap();
    const QVector<QRegularExpression>& patterns = commandPatterns();
    for (int i = 0; i < CommandCount; ++i) {
        const QString command = QString::fromLatin1(Commands[i].name);
        if (!help.contains(command))
            help.insert(command, QString::fromLatin1(Commands[i].help));
        if (!patterns.at(i).match(name).hasMatch())
            continue;
        const QVariant result = runCommand(i, args);
        // The configuration commands report false although they ran; the help
        // entries after them are still filled in.
        if (i == CmdSetDefault || i == CmdSetUserConf || i == CmdSetLoaded)
            continue;
        return result;
    }
    return false;
}

QVariant Board::runCommand(int index, const QVariant& args)
{
    switch (index) {
    case CmdSetHbOn:
        return setHalfBridgeOn(args.toString());
    case CmdSetHbOff:
        setHalfBridgeOff(args.toString());
        return true;
    case CmdSetActive:
        setActiveMode();
        return true;
    case CmdSetStandby:
        setStandbyMode();
        return true;
    case CmdSetFsm:
        setFailSafeMode();
        return true;
    case CmdGetStatus:
        spiRun(QStringLiteral("ReadAll"));
        qCDebug(lcBoard) << "Get device status";
        return true;
    case CmdGetAdc:
        self()->runFunction(QStringLiteral("getADC1"), emptyText());
        self()->runFunction(QStringLiteral("getADC2"), emptyText());
        self()->runFunction(QStringLiteral("getVS"), emptyText());
        return true;
    case CmdGetAdc1:
        return measure(QStringLiteral("Isen1"), &ADC_Result1);
    case CmdGetAdc2:
        return measure(QStringLiteral("Isen2"), &ADC_Result2);
    case CmdGetVs:
        return measure(QStringLiteral("AIN5"), &ADC_Result4);
    case CmdRefresh:
        self()->runFunction(QStringLiteral("getADC"), emptyText());
        self()->runFunction(QStringLiteral("getSTATUS"), emptyText());
        qCDebug(lcBoard) << "Current and Status refreshed";
        return true;
    case CmdSetDefault:
        onParameterTransfer(0, QStringLiteral("HBConf_Def"));
        return false;
    case CmdSetUserConf:
        onParameterTransfer(0, QStringLiteral("HBConf_User"));
        return false;
    case CmdSetLoaded:
        sendLoaded();
        return false;
    default:
        break;
    }
    if (index >= CmdSetForward1 && index <= CmdSetBrake2) {
        // Forward, backward, stop and brake of motor 1, then the same of motor 2.
        static_assert(CmdSetBrake2 - CmdSetForward1 == 7 && int(Motion::Brake) == 3,
                      "four motions per motor, in the order of Motion");
        const int offset = index - CmdSetForward1;
        moveMotor(1 + offset / 4, static_cast<Motion>(offset % 4));
        return true;
    }
    if (index >= CmdSetPwm1Dio && index <= CmdSetPwm4Dio) {
        showPinState(index - CmdSetPwm1Dio + 1);
        return true;
    }
    if (index >= CmdSetPwm1Freq && index <= CmdSetPwm4Duty) {
        // Generator settings belong to HBController; without it nothing runs.
        if (Applet* hb = AppletInstances::hbController)
            return hb->runFunction(QString::fromLatin1(Commands[index].name), emptyText());
        qCWarning(lcBoard) << "No HBController:" << Commands[index].name << "not run";
        return false;
    }
    return false;
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
    spiRun(QStringLiteral("WriteCR1"));
    if (highSide) {
        // HB5 takes PWM input 2 (PWM3), every other half-bridge input 3 (PWM4);
        // HB6's selection sits in the B half of CR3.
        const QString half = n.toInt() > 5 ? QStringLiteral("B") : QStringLiteral("A");
        const unsigned int input = n == QLatin1String("5") ? 2u : 3u;
        spiSet(QStringLiteral("CR3%1[PWM%2]").arg(half, n), input);
        spiRun(QStringLiteral("WriteCR3") + half);
    }
    spiSet(QStringLiteral("CR2[HB_PWM%1]").arg(n), highSide ? 1u : 0u);
    spiRun(QStringLiteral("WriteCR2"));
    spiSet(QStringLiteral("CR0[HB_EN%1]").arg(n), 1u);
    spiRun(QStringLiteral("WriteCR0"));
    return true;
}

void Board::setHalfBridgeOff(const QString& halfBridge)
{
    spiSet(QStringLiteral("CR0[HB_EN%1]").arg(halfBridge), 0u);
    spiRun(QStringLiteral("WriteCR0"));
}

void Board::showPinState(int n)
{
    // While the generator is off its pin is a plain output that the box drives;
    // while it runs the pin shows the clock and the box is locked.
    const bool generatorOff = PwmVariables::onOff(n)->value() == 0.0;
    m_clockLabels[n - 1]->setStyleSheet(generatorOff ? QString() : ClockPicture);
    m_pinBoxes[n - 1]->setEnabled(generatorOff);
}

void Board::setActiveMode()
{
    runFunction(QStringLiteral("setUserConf"), emptyText());
    spiSet(QStringLiteral("CR1[10]"), 1u); // DRV_EN
    spiSet(QStringLiteral("CR1[9]"), 1u);  // CP_SW
    spiRun(QStringLiteral("WriteCR1"));
    // Motor 2 (HB2, HB4) runs from PWM input 1, motor 1 (HB1, HB3) from input 0.
    spiSet(QStringLiteral("CR3A[7:6]"), 1u);
    spiSet(QStringLiteral("CR3A[3:2]"), 1u);
    spiSet(QStringLiteral("CR3A[5:4]"), 0u);
    spiSet(QStringLiteral("CR3A[1:0]"), 0u);
    spiRun(QStringLiteral("WriteCR2"));
    spiRun(QStringLiteral("WriteCR3"));
    spiRun(QStringLiteral("ReadSR0"));
    qCDebug(lcBoard) << "Active mode set ";
}

void Board::setStandbyMode()
{
    spiSet(QStringLiteral("CR1[10]"), 0u); // DRV_EN
    spiRun(QStringLiteral("WriteCR1"));
    spiRun(QStringLiteral("ReadSR0"));
    qCDebug(lcBoard) << "Reduced power mode set ";
}

void Board::setFailSafeMode()
{
    if (FSM.getField(QStringLiteral("FSM")) == 1) {
        sendLine("set DIO22=1");
        spiRun(QStringLiteral("ReadSR0"));
        qCDebug(lcBoard) << "Fail-safe mode set ";
        setRoutineEnabled(false);
    } else {
        sendLine("set DIO22=0");
        if (DIO.getField(QStringLiteral("DIO[EN]")) == 1)
            setRoutineEnabled(true);
        spiRun(QStringLiteral("ReadAll"));
        runFunction(QStringLiteral("setUserConf"), emptyText());
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
        spiRun(QStringLiteral("WriteCR0"));
        qCDebug(lcBoard) << "Stop with brake";
        return;
    }

    spiSet(bitOf("CR0", a), 0u);
    spiSet(bitOf("CR0", b), 0u);
    spiRun(QStringLiteral("WriteCR0"));

    // The PWM-driven side: a forward, b backward, neither on stop.
    spiSet(bitOf("CR2", a), motion == Motion::Forward ? 1u : 0u);
    spiSet(bitOf("CR2", b), motion == Motion::Backward ? 1u : 0u);
    spiRun(QStringLiteral("WriteCR2"));
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
    spiRun(QStringLiteral("WriteCR1"));
    spiRun(QStringLiteral("WriteCR0"));
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
