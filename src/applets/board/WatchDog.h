#pragma once

#include "Applet.h"

class Ui_WatchDog;

// The board's watchdog side: the firmware's watchdog service routine (board variables
// WDen and WDtime), the safety switch on pin DIO21 and the chip's hardware watchdog
// timeout (CR1 bit 8, written through the SpiController applet).
// Board switches the service routine through this applet's "RoutineEN"; SpiController
// copies CR1 bit 8 into "WDTimeout" after each CR1 write.
class WatchDog : public Applet
{
    Q_OBJECT
public:
    explicit WatchDog(QWidget* parent = nullptr);
    ~WatchDog() override;

    // "setRoutineTime": sends the WDTime period; "WDenable": switches the routine as the
    // box shows it. Both return true; any other name returns false.
    QVariant runFunction(const QString& name, const QVariant& args) override;
    // Turns the service routine on with its default period.
    void onActivate() override;
    bool initParameters() override;

private slots:
    // Connected by object name in Applet::setup; their order is part of the interface.
    void on_cbWDdio_toggled(bool checked);
    void on_cbRoutineEN_0_toggled();
    void on_cbWDTimeout_clicked(bool checked);

private:
    void setRoutineTime();
    void enableRoutine();

    Ui_WatchDog* ui = nullptr;
};
