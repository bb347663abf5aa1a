#pragma once

#include "Applet.h"
#include "GeneratorPanels.h"

class Ui_HBController;

// The half-bridge and PWM window ("HB Controller"). Its pages edit the chip's register
// images (shared with SpiController) and the four PWM generators' variables (shared
// with Board, Basic and Application). Register edits send nothing by themselves: the
// commands write them to the chip. While active, every change of a generator's on/off
// or duty variable, made on any form or by a script, becomes board lines at once.
class HBController : public Applet
{
    Q_OBJECT
public:
    explicit HBController(QWidget* parent = nullptr);
    ~HBController() override;

    QVariant runFunction(const QString& name, const QVariant& args) override;
    bool onParameterTransfer(int direction, const QString& name) override;
    void onActivate() override;
    bool initParameters() override;

    void setupSwitches();

public slots:
    // Configures all four generators on the board ("*" through the transfer hook).
    void update_hw();

private slots:
    void on_hsPWM1_Duty_sliderMoved(int position);
    void on_hsPWM2_Duty_sliderMoved(int position);
    void on_hsPWM3_Duty_sliderMoved(int position);
    void on_hsPWM4_Duty_sliderMoved(int position);
    void on_cbPWM1_DIO_clicked();
    void on_cbPWM2_DIO_clicked();
    void on_cbPWM3_DIO_clicked();
    void on_cbPWM4_DIO_clicked();

private:
    void buildCommands();
    void dutySliderMoved(int n, int position);
    void runOwn(const QString& command);

    // The transfer hook's steps for generator n (1..4).
    void switchStep(int n);
    void configurationStep(int n);
    void dutyStep(int n);

    // Board lines of generator n: frequency, duty and pin level.
    void sendFrequency(int n);
    void sendDuty(int n);
    void sendPinLevel(int n);

    void writeHalfBridge(int halfBridge);
    void readHalfBridges();

    Ui_HBController* ui = nullptr;
    GeneratorPanels m_panels;
};
