#include "Basic.h"

#include "BoardLog.h"

#include "AppletCalls.h"
#include "AppletInstances.h"
#include "Board.h"
#include "CallerKey.h"
#include "PwmVariables.h"
#include "ui_basic.h"

namespace {

// A field of the chip's register images; nothing is sent.
void chipField(const QString& field, int value)
{
    if (Applet* spi = AppletInstances::spiController)
        spi->setValue(field, QVariant(value), CallerKey::Internal);
}

// What differs between the four run commands.
struct RunPlan
{
    QString enables[2];   // the motor's two output enables
    QString generator;    // its PWM on/off variable
    QStringList pwmSetup; // PWM input selection and PWM enables, "field=value" in order
    QString cr3Write;
    QString modes[2]; // HB_MODE fields, "field=value"
    const char* trace;
};

RunPlan planFor(int motor, bool forward)
{
    if (motor == 1)
        return {{QStringLiteral("CR0[2]"), QStringLiteral("CR0[0]")},
                QStringLiteral("PWM1OnOff"),
                {QStringLiteral("CR3A[5:4]=0"), QStringLiteral("CR3A[1:0]=0"),
                 forward ? QStringLiteral("CR2[2]=1") : QStringLiteral("CR2[2]=0"),
                 forward ? QStringLiteral("CR2[0]=0") : QStringLiteral("CR2[0]=1")},
                QStringLiteral("WriteCR3A"),
                {forward ? QStringLiteral("CR1[2]=1") : QStringLiteral("CR1[2]=0"),
                 forward ? QStringLiteral("CR1[0]=0") : QStringLiteral("CR1[0]=1")},
                forward ? "Configure Motor 1 and Run forward"
                        : "Configure Motor 1 and Run backward"};
    return {{QStringLiteral("CR0[3]"), QStringLiteral("CR0[1]")},
            QStringLiteral("PWM2OnOff"),
            {forward ? QStringLiteral("CR2[3]=1") : QStringLiteral("CR2[3]=0"),
             forward ? QStringLiteral("CR2[1]=0") : QStringLiteral("CR2[1]=1"),
             QStringLiteral("CR3A[7:6]=1"), QStringLiteral("CR3A[3:2]=1")},
            QStringLiteral("WriteCR3"),
            {forward ? QStringLiteral("CR1[3]=1") : QStringLiteral("CR1[3]=0"),
             forward ? QStringLiteral("CR1[1]=0") : QStringLiteral("CR1[1]=1")},
            forward ? "Configure Motor 2 and Run forward" : "Configure Motor 2 and Run backward"};
}

void chipAssignment(const QString& assignment)
{
    chipField(assignment.section(QLatin1Char('='), 0, 0),
              assignment.section(QLatin1Char('='), 1).toInt());
}

} // namespace

Basic::Basic(QWidget* parent) : Applet(parent), ui(new Ui_Basic)
{
    ui->setupUi(this);
    if (objectName().isEmpty())
        setObjectName(QStringLiteral("Basic"));
    buildCommands();
    setWindowTitle(QStringLiteral("Basic"));
    m_fixedWidth = true;
    m_fixedHeight = true;
}

Basic::~Basic()
{
    delete ui;
}

bool Basic::initParameters()
{
    for (int n = 1; n <= 4; ++n)
        addVariable(PwmVariables::duty(n));
    return true;
}

void Basic::onActivate()
{
    showWindow();
}

void Basic::onDeactivate() {}

QVariant Basic::runFunction(const QString& name, const QVariant& args)
{
    return dispatchCommand(name, args);
}

void Basic::buildCommands()
{
    CommandTable& table = commandTable();
    const auto motorCommand = [this, &table](const char* name, const char* help, auto action) {
        table.add(QLatin1String(name), QLatin1String(help), [this, action](const QVariant&) {
            action(this);
            return QVariant(true);
        });
    };
    motorCommand("setForward1", "Sets device to run forward",
                 [](Basic* b) { b->runMotor(1, Direction::Forward); });
    motorCommand("setBackward1", "Sets device to run backward",
                 [](Basic* b) { b->runMotor(1, Direction::Backward); });
    motorCommand("setStop1", "Sets device to stop", [](Basic* b) { b->stopMotor(1); });
    motorCommand("setForward2", "Sets device to run forward",
                 [](Basic* b) { b->runMotor(2, Direction::Forward); });
    motorCommand("setBackward2", "Sets device to run backward",
                 [](Basic* b) { b->runMotor(2, Direction::Backward); });
    motorCommand("setStop2", "Sets device to stop", [](Basic* b) { b->stopMotor(2); });
    // The half-bridge switches are Board's; its answer is the answer.
    table.add(
        QStringLiteral("setHB_ON"), QStringLiteral("Same as board fnc"),
        [](const QVariant& args) { return AppletCalls::board(QStringLiteral("setHB_ON"), args); });
    table.add(
        QStringLiteral("setHB_OFF"), QStringLiteral("Same as board fnc"),
        [](const QVariant& args) { return AppletCalls::board(QStringLiteral("setHB_OFF"), args); });
}

void Basic::runMotor(int motor, Direction direction)
{
    const RunPlan plan = planFor(motor, direction == Direction::Forward);
    auto* board = qobject_cast<Board*>(AppletInstances::board);

    chipField(QStringLiteral("CR1[10]"), 1); // DRV_EN
    chipField(QStringLiteral("CR1[9]"), 1);  // CP_SW
    AppletCalls::spi(QStringLiteral("WriteCR1"));
    AppletCalls::board(QStringLiteral("setDefault"));
    // Both outputs stay off while the motor is reconfigured.
    chipField(plan.enables[0], 0);
    chipField(plan.enables[1], 0);
    AppletCalls::spi(QStringLiteral("WriteCR0"));
    if (board) {
        board->setValue(QStringLiteral("DIO[EN]"), QVariant(1), CallerKey::Internal);
        board->on_cbEN_clicked(true);
        // Starts the generator through HBController only when it was off.
        board->setValue(plan.generator, QVariant(1), CallerKey::Internal);
    }
    for (const QString& assignment : plan.pwmSetup)
        chipAssignment(assignment);
    AppletCalls::spi(QStringLiteral("WriteCR2"));
    AppletCalls::spi(plan.cr3Write);
    if (board) {
        board->Delay(50);
        if (board->waitsCancelled())
            return; // quitting: the outputs stay off
    }
    chipField(plan.enables[0], 1);
    chipField(plan.enables[1], 1);
    chipAssignment(plan.modes[0]);
    chipAssignment(plan.modes[1]);
    AppletCalls::spi(QStringLiteral("WriteCR1"));
    AppletCalls::spi(QStringLiteral("WriteCR0"));
    qCDebug(lcBoard) << plan.trace;
}

void Basic::stopMotor(int motor)
{
    // Only the outputs go off; modes, PWM, EN pin and generators stay as they are.
    const RunPlan plan = planFor(motor, true);
    AppletCalls::board(QStringLiteral("setDefault"));
    chipField(plan.enables[0], 0);
    chipField(plan.enables[1], 0);
    AppletCalls::spi(QStringLiteral("WriteCR0"));
    qCDebug(lcBoard) << "Stop";
}
