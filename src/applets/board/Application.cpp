#include "Application.h"

#include "BoardLog.h"

#include "AppletCalls.h"
#include "AppletInstances.h"
#include "Board.h"
#include "PwmVariables.h"
#include "Register.h"
#include "Variable.h"
#include "ui_application.h"

namespace ApplicationParameters {
Variable RunForw1("@variable=RunForw1 @type=real @value=5 @min=0 @max=99.9");
Variable RunBack1("@variable=RunBack1 @type=real @value=5 @min=0 @max=99.9");
Variable Interval1("@variable=Interval1 @type=real @value=1 @min=0 @max=99");
Variable RunForw2("@variable=RunForw2 @type=real @value=5 @min=0 @max=99.9");
Variable RunBack2("@variable=RunBack2 @type=real @value=5 @min=0 @max=99.9");
Variable Interval2("@variable=Interval2 @type=real @value=1 @min=0 @max=99");
Variable Count("@variable=Count @type=real @value=1 @min=1 @max=99");
Register Flags("@register=Flags;@bit=StopBit          @value=0");
} // namespace ApplicationParameters

using namespace ApplicationParameters;

namespace {

const QString StopBit = QStringLiteral("StopBit");

// A stop, or the program quitting, ends the run at its next check.
bool stopRequested()
{
    const auto* board = qobject_cast<const Board*>(AppletInstances::board);
    return Flags.getField(StopBit) == 1 || (board && board->waitsCancelled());
}

struct Phase
{
    const char* command; // of Basic
    Variable* time;
    const char* trace;
};

const Phase Phases[] = {
    {"setForward1", &RunForw1, "Run Forward, timer set to: "},
    {"setStop1", &Interval1, "Stop, timer set to: "},
    {"setBackward1", &RunBack1, "Run Backward, timer set to: "},
    {"setStop1", &Interval1, "Stop, timer set to: "},
    {"setForward2", &RunForw2, "Run Forward, timer set to: "},
    {"setStop2", &Interval2, "Stop, timer set to: "},
    {"setBackward2", &RunBack2, "Run Backward, timer set to: "},
    {"setStop2", &Interval2, "Stop, timer set to: "},
};

// Seconds to milliseconds, truncated: 1.0004 s waits 1000 ms.
int waitMs(const Variable& time)
{
    return static_cast<int>(time.value() * 1000.0);
}

} // namespace

Application::Application(QWidget* parent) : Applet(parent), ui(new Ui_Application)
{
    ui->setupUi(this);
    if (objectName().isEmpty())
        setObjectName(QStringLiteral("Application"));
    buildCommands();
    setWindowTitle(QStringLiteral("Application"));
    m_fixedWidth = true;
    m_fixedHeight = true;
}

Application::~Application()
{
    delete ui;
}

bool Application::initParameters()
{
    for (Variable* v : {&RunForw1, &RunBack1, &Interval1, &RunForw2, &RunBack2, &Interval2, &Count,
                        PwmVariables::duty(1), PwmVariables::duty(2)})
        addVariable(v);
    return true;
}

void Application::onActivate()
{
    ui->pbApplication_Stop->setEnabled(false);
    showWindow();
}

// A running demonstration goes on without a board; its commands then fail quietly.
void Application::onDeactivate() {}

QVariant Application::runFunction(const QString& name, const QVariant& args)
{
    return dispatchCommand(name, args);
}

void Application::buildCommands()
{
    commandTable().add(QStringLiteral("DemoON"), QStringLiteral("Starts Demo application"),
                       [this](const QVariant&) {
                           // A second run would nest inside the first one's wait, and
                           // one Stop would end only the inner one.
                           if (m_running)
                               return QVariant(false);
                           runDemonstration();
                           return QVariant(true);
                       });
    commandTable().add(QStringLiteral("Stop"), QStringLiteral("Stops motor movement"),
                       [this](const QVariant&) {
                           stopDemonstration();
                           return QVariant(true);
                       });
}

void Application::runDemonstration()
{
    m_running = true;
    ui->pbApplication_DemoON->setEnabled(false);
    ui->pbApplication_Stop->setEnabled(true);
    auto* board = qobject_cast<Board*>(AppletInstances::board);
    quint8 cycles = 0;
    // Count and the phase times are read as the run goes: edits made in the window
    // during a wait apply from the next cycle or phase on.
    while (Count.value() > double(cycles)) {
        for (const Phase& phase : Phases) {
            if (stopRequested()) {
                Flags.setField(StopBit, 0);
                endDemonstration();
                return;
            }
            AppletCalls::run(AppletInstances::basic, QLatin1String(phase.command));
            qCDebug(lcBoard).noquote() << QStringLiteral("%1%2 ms")
                                              .arg(QLatin1String(phase.trace))
                                              .arg(waitMs(*phase.time));
            if (!stopRequested() && board)
                board->Delay(waitMs(*phase.time));
        }
        if (stopRequested()) {
            Flags.setField(StopBit, 0);
            endDemonstration();
            return;
        }
        ++cycles;
        qCDebug(lcBoard).noquote() << QStringLiteral("End of cycle number %1").arg(cycles);
    }
    endDemonstration();
}

void Application::endDemonstration()
{
    m_running = false;
    ui->pbApplication_DemoON->setEnabled(true);
    ui->pbApplication_Stop->setEnabled(false);
}

void Application::stopDemonstration()
{
    auto* board = qobject_cast<Board*>(AppletInstances::board);
    // A pulse on the fail-safe pin stops the drivers; active mode brings them back.
    BoardParameters::FSM.setField(QStringLiteral("FSM"), 1);
    AppletCalls::board(QStringLiteral("setFSM"));
    Flags.setField(StopBit, 1);
    if (board) {
        // Ends the wait a running demonstration is in, together with this one.
        board->Delay_stop();
        board->Delay(100);
    }
    BoardParameters::FSM.setField(QStringLiteral("FSM"), 0);
    AppletCalls::board(QStringLiteral("setFSM"));
    AppletCalls::board(QStringLiteral("setActive"));
    qCDebug(lcBoard).noquote() << QStringLiteral("\n Stop \n");
}
