#include "HBController.h"

#include "BoardLog.h"

#include "AppletCalls.h"
#include "AppletInstances.h"
#include "CallerKey.h"
#include "ChipRegisters.h"
#include "GeneratorPanels.h"
#include "PwmVariables.h"
#include "Variable.h"
#include "ui_hbcontroller.h"

#include <QTimer>

#include <cmath>

namespace {

// Settings every generator gets when the board connects.
constexpr int DefaultFrequencyHz = 20000;
constexpr int DefaultDutyPercent = 50;

// Board lines carry whole numbers; the variables keep their fractions.
qint64 truncated(double value)
{
    return static_cast<qint64>(std::trunc(value));
}

} // namespace

HBController::HBController(QWidget* parent)
    : Applet(parent), ui(new Ui_HBController), m_panels(GeneratorPanels::setUpForm(this, ui))
{
    if (objectName().isEmpty())
        setObjectName(QStringLiteral("HBController"));
    buildCommands();
    setWindowTitle(QStringLiteral("HB Controller"));
    m_fixedWidth = true;
    m_fixedHeight = true;
}

HBController::~HBController()
{
    delete ui;
}

bool HBController::initParameters()
{
    setupSwitches();
    using namespace ChipRegisters;
    for (Register* reg : {&NM,    &CR0,  &CR1,  &CR2,  &CR3A, &CR3B, &CR4,  &CR5A, &CR5B,
                          &CR6A,  &CR6B, &CR7A, &CR7B, &CR8A, &CR8B, &CR9A, &CR9B, &CR10A,
                          &CR10B, &CR12, &CR14, &SR0,  &SR1,  &SR3,  &SR4,  &SR5,  &SR7})
        addRegister(reg);
    for (Variable* variable : PwmVariables::tableOrder())
        addVariable(variable);
    return true;
}

void HBController::setupSwitches()
{
    ui->csPWM1OnOff->setModel(6);
    ui->csPWM2OnOff->setModel(6);
    ui->csPWM3OnOff->setModel(6);
    ui->csPWM4OnOff->setModel(6);
}

void HBController::onActivate()
{
    QTimer::singleShot(10, this, &HBController::update_hw);
}

void HBController::update_hw()
{
    // Directly, not through the re-entry guard: the configuration step's own writes
    // must reach the hook again for the duty lines.
    onParameterTransfer(0, QStringLiteral("*"));
}

// ---------------------------------------------------------------------------------
// Transfer hook

bool HBController::onParameterTransfer(int direction, const QString& name)
{
    if (direction != 0)
        return true; // reads cause no board traffic
    const bool all = name == QLatin1String("*");
    for (int n = 1; n <= 4; ++n) {
        if (all || name == QStringLiteral("PWM%1OnOff").arg(n))
            switchStep(n);
        // No parameter bears the bare generator name: only "*" configures.
        if (all || name == QStringLiteral("PWM%1").arg(n))
            configurationStep(n);
        if (name == QStringLiteral("PWM%1_DUTY").arg(n) && PwmVariables::onOff(n)->value() != 0)
            dutyStep(n);
    }
    return true;
}

void HBController::switchStep(int n)
{
    const int k = n - 1;
    AppletCalls::board(QStringLiteral("setPWM%1_DIO").arg(n));
    const double v = PwmVariables::onOff(n)->value();
    qCDebug(lcBoard).noquote() << QStringLiteral("PWM%1 generator On/Off ").arg(n) << v;
    if (v == 0) {
        // Generators 1 and 2 hold their pin at the box's level; 3 and 4 go low.
        if (n <= 2)
            runOwn(QStringLiteral("setPWM%1_DIO").arg(n));
        else
            AppletCalls::sendLine(QStringLiteral("set PWM%1DUTY=0").arg(k));
        m_panels.showRunning(n, false);
    } else {
        AppletCalls::sendLine(QStringLiteral("set PWM%1CONF").arg(k));
        AppletCalls::sendLine(QStringLiteral("set PWM%1START").arg(k));
        runOwn(QStringLiteral("setPWM%1_Duty").arg(n));
        runOwn(QStringLiteral("setPWM%1_Freq").arg(n));
        m_panels.showRunning(n, true);
    }
    slot_updateControls(QStringLiteral("PWM%1OnOff").arg(n));
}

void HBController::configurationStep(int n)
{
    const int k = n - 1;
    qCDebug(lcBoard).noquote() << QStringLiteral("QRVmcu PWM%1 configuration").arg(n);
    if (n == 1)
        AppletCalls::sendLine(QStringLiteral("set PWM%1CONF").arg(k));
    AppletCalls::sendLine(QStringLiteral("set PWM%1FREQ=%2").arg(k).arg(DefaultFrequencyHz));
    AppletCalls::sendLine(QStringLiteral("set PWM%1DUTY=%2").arg(k).arg(DefaultDutyPercent));
    // Back to the values just sent; a changed duty reaches this hook again and goes out
    // once more while the generator runs.
    setValue(QStringLiteral("PWM%1_FREQ").arg(n), QVariant(DefaultFrequencyHz),
             CallerKey::Internal);
    setValue(QStringLiteral("PWM%1_DUTY").arg(n), QVariant(DefaultDutyPercent),
             CallerKey::Internal);
}

void HBController::dutyStep(int n)
{
    const double d = PwmVariables::duty(n)->value();
    AppletCalls::sendLine(QStringLiteral("set PWM%1DUTY=%2").arg(n - 1).arg(truncated(d)));
    qCDebug(lcBoard).noquote() << QStringLiteral("PWM%1 Duty-cycle Changed to ").arg(n) << d;
}

// ---------------------------------------------------------------------------------
// Slots

void HBController::on_hsPWM1_Duty_sliderMoved(int position)
{
    dutySliderMoved(1, position);
}

void HBController::on_hsPWM2_Duty_sliderMoved(int position)
{
    dutySliderMoved(2, position);
}

void HBController::on_hsPWM3_Duty_sliderMoved(int position)
{
    dutySliderMoved(3, position);
}

void HBController::on_hsPWM4_Duty_sliderMoved(int position)
{
    dutySliderMoved(4, position);
}

void HBController::on_cbPWM1_DIO_clicked()
{
    runOwn(QStringLiteral("setPWM1_DIO"));
}

void HBController::on_cbPWM2_DIO_clicked()
{
    runOwn(QStringLiteral("setPWM2_DIO"));
}

void HBController::on_cbPWM3_DIO_clicked()
{
    runOwn(QStringLiteral("setPWM3_DIO"));
}

void HBController::on_cbPWM4_DIO_clicked()
{
    runOwn(QStringLiteral("setPWM4_DIO"));
}

void HBController::dutySliderMoved(int n, int position)
{
    // Out of range is refused; the command then sends the value that stands.
    PwmVariables::duty(n)->setValue(position, CallerKey::Internal);
    runOwn(QStringLiteral("setPWM%1_Duty").arg(n));
}

void HBController::runOwn(const QString& command)
{
    runFunction(command, AppletCalls::noArgument());
}

// ---------------------------------------------------------------------------------
// Commands

QVariant HBController::runFunction(const QString& name, const QVariant& args)
{
    return dispatchCommand(name, args);
}

void HBController::buildCommands()
{
    // Exact names, no help texts; every command that runs answers true whatever its
    // transfers report (the chip applet logs its own failures).
    CommandTable& table = commandTable();
    table = CommandTable(CommandTable::Matching::Exact);
    const auto done = [](auto action) {
        return [action](const QVariant&) {
            action();
            return QVariant(true);
        };
    };
    table.add(QStringLiteral("WriteCR1"), QString(),
              done([] { AppletCalls::spi(QStringLiteral("WriteCR1")); }));
    for (int hb = 1; hb <= 6; ++hb)
        table.add(QStringLiteral("WriteHB%1").arg(hb), QString(),
                  done([this, hb] { writeHalfBridge(hb); }));
    table.add(QStringLiteral("ReadHB"), QString(), done([this] { readHalfBridges(); }));
    table.add(QStringLiteral("ReadHB7"), QString(), done([] {
                  // Status address 2 holds no register; the answer updates none.
                  AppletCalls::spi(QStringLiteral("RequestRead"), QVariant(2));
                  AppletCalls::spi(QStringLiteral("ReadSR5"));
              }));
    table.add(QStringLiteral("ReadSR0"), QString(),
              done([] { AppletCalls::spi(QStringLiteral("ReadSR0")); }));
    for (int hb = 1; hb <= 6; ++hb)
        table.add(QStringLiteral("WriteRead%1").arg(hb), QString(), done([this, hb] {
                      runOwn(QStringLiteral("WriteHB%1").arg(hb));
                      runOwn(QStringLiteral("ReadHB"));
                  }));
    for (int n = 1; n <= 4; ++n) {
        table.add(QStringLiteral("setPWM%1_Freq").arg(n), QString(),
                  done([this, n] { sendFrequency(n); }));
        table.add(QStringLiteral("setPWM%1_Duty").arg(n), QString(),
                  done([this, n] { sendDuty(n); }));
        table.add(QStringLiteral("setPWM%1_DIO").arg(n), QString(),
                  done([this, n] { sendPinLevel(n); }));
    }
}

void HBController::writeHalfBridge(int halfBridge)
{
    // CR0..CR2 are shared by all six, so every write also sends the others' bits.
    AppletCalls::spi(QStringLiteral("WriteCR0"));
    AppletCalls::spi(QStringLiteral("WriteCR1"));
    AppletCalls::spi(QStringLiteral("WriteCR2"));
    AppletCalls::spi(halfBridge == 6 ? QStringLiteral("WriteCR3B") : QStringLiteral("WriteCR3A"));
    AppletCalls::spi(QStringLiteral("WriteCR%1").arg(halfBridge + 4));
}

void HBController::readHalfBridges()
{
    // SR1 (gate outputs), SR3 (overloads) and SR5 (outputs) of all six half-bridges;
    // the CR0 image keeps the SR5 selection.
    AppletCalls::spi(QStringLiteral("RequestRead"), QVariant(1));
    AppletCalls::spi(QStringLiteral("RequestRead"), QVariant(3));
    AppletCalls::spi(QStringLiteral("ReadSR5"));
}

void HBController::sendFrequency(int n)
{
    const double f = PwmVariables::frequency(n)->value();
    AppletCalls::sendLine(QStringLiteral("set PWM%1FREQ=%2").arg(n - 1).arg(truncated(f)));
    qCDebug(lcBoard).noquote() << QStringLiteral("PWM%1 Frequency Changed to ").arg(n) << f;
}

void HBController::sendDuty(int n)
{
    if (PwmVariables::onOff(n)->value() == 0)
        return; // a stopped generator keeps its pin level
    dutyStep(n);
}

void HBController::sendPinLevel(int n)
{
    // A partly ticked box counts as ticked.
    const int level = m_panels.pinBox(n)->checkState() != Qt::Unchecked ? 100 : 0;
    AppletCalls::sendLine(QStringLiteral("set PWM%1DUTY=%2").arg(n - 1).arg(level));
    qCDebug(lcBoard).noquote()
        << QStringLiteral("PWM%1 Duty-cycle Changed to %2").arg(n).arg(level);
}
