#pragma once

#include "Applet.h"

class Register;
class Variable;
class Ui_Application;

// Phase times and cycle count of the demonstration; "StopBit" of Flags asks a running
// demonstration to end. Built before main; Flags is in no applet's table.
namespace ApplicationParameters {
extern Variable RunForw1;  // motor 1 forward phase, s
extern Variable RunBack1;  // motor 1 backward phase, s
extern Variable Interval1; // motor 1 stop after each run, s
extern Variable RunForw2;
extern Variable RunBack2;
extern Variable Interval2;
extern Variable Count; // cycles
extern Register Flags;
} // namespace ApplicationParameters

// A timed demonstration of both motors: each cycle runs motor 1 forward, stop,
// backward, stop, then motor 2 the same, every phase held for its time. "Stop" ends a
// running demonstration from inside its wait (buttons and script requests run there).
// One demonstration runs at a time: "DemoON" while one runs answers false.
class Application : public Applet
{
    Q_OBJECT
public:
    explicit Application(QWidget* parent = nullptr);
    ~Application() override;

    QVariant runFunction(const QString& name, const QVariant& args) override;
    void onDeactivate() override;
    void onActivate() override;
    bool initParameters() override;

private:
    void buildCommands();
    void runDemonstration();
    void stopDemonstration();
    // Leaves the buttons idle again.
    void endDemonstration();

    Ui_Application* ui = nullptr;
    bool m_running = false; // a demonstration runs (maybe further down the stack)
};
