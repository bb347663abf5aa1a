#pragma once

#include "Applet.h"
#include "BoardParameters.h"
#include "GeneratorPanels.h"

#include <QStringList>

class QTimer;
class QWidget;
class Register;
class Variable;
class Ui_Board;

// The demonstration board around the chip: enable and fail-safe pins, the PWM
// generators, half-bridges HB5/HB6, the two motors, current and supply measurements,
// status flags and the default, user and loaded configurations of CR5..CR10.
//
// Delay() is the one wait of the board applets: it keeps the event loop running, and
// all callers share one timer and one busy flag, so a wait started inside another
// ends both (see Delay()).
class Board : public Applet
{
    Q_OBJECT
public:
    explicit Board(QWidget* parent = nullptr);
    ~Board() override;

    // Names of the configuration registers ("CR5A".."CR10B") that the last
    // configuration-file load found; the loader fills it, "setLoaded" reads it.
    QStringList loadedRegisters;

    // Waits ms milliseconds while events keep being processed (without spinning).
    // Every call restarts the one shared timer; every wait in progress ends when
    // that timer next expires.
    void Delay(int ms);
    // The program is quitting: the waits in progress end now and later ones return at
    // once, so that no command keeps the program from ending. Commands check
    // waitsCancelled() after a wait and send no further motor command.
    void cancelWaits();
    bool waitsCancelled() const { return m_waitsCancelled; }

    void setupSwitches();
    void saveDioState();
    void restoreDioState();
    void setupRemoteDefaults();

    QVariant runFunction(const QString& name, const QVariant& args) override;
    bool onParameterTransfer(int direction, const QString& name) override;
    void onDeactivate() override;
    void onActivate() override;
    bool initParameters() override;

public slots:
    void on_cbEN_clicked(bool checked);
    void update_status();
    // Stops the shared timer; the wait in progress then ends with the next Delay.
    void Delay_stop();

private slots:
    void on_cbAutoRefresh_toggled(bool checked);
    void slot_Timer_timeout();
    void on_hsPWM1_Duty_sliderMoved(int position);
    void on_hsPWM2_Duty_sliderMoved(int position);
    void on_cbPWM1_DIO_clicked();
    void on_cbPWM2_DIO_clicked();
    void Delay_end();
    void on_cbFSM_clicked();
    void on_cbPWM3_DIO_clicked();
    void on_cbPWM4_DIO_clicked();
    void on_hsPWM3_Duty_sliderMoved(int position);
    void on_hsPWM4_Duty_sliderMoved(int position);

private:
    // In the order of the motor commands (setForwardN, setBackwardN, setStopN, setBrakeN).
    enum class Motion { Forward, Backward, Stop, Brake };

    // The applet that "Board.xxx" reaches: the global instance, else this one.
    Applet* self();
    bool spiSet(const QString& field, unsigned int value);
    unsigned int spiWhole(const QString& registerName);
    void setRoutineEnabled(bool on);
    void dutySliderMoved(int n, int position);
    void pinBoxClicked(int n);

    void buildCommands();
    bool setHalfBridgeOn(const QString& argument);
    void setHalfBridgeOff(const QString& halfBridge);
    void showPinState(int n);
    void setActiveMode();
    void setStandbyMode();
    void setFailSafeMode();
    void moveMotor(int motor, Motion motion);
    bool measure(const QString& boardName, Variable* target);
    void sendLoaded();

    void sendDefaultConfiguration();
    void sendUserConfiguration();

    Ui_Board* ui = nullptr;
    QTimer* m_refreshTimer = nullptr;
    QTimer* m_delayTimer = nullptr;
    bool m_delayBusy = false;
    bool m_waitsCancelled = false;
    GeneratorPanels m_panels;
};
