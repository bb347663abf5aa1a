#pragma once

#include "Applet.h"

class Board;
class Ui_Basic;

// The simple motor window: runs motor 1 (HB1-HB3) or motor 2 (HB2-HB4) forward or
// backward with PWM speed control, stops them, and switches HB5 or HB6. Every step is a
// chip register write through SpiController, a Board command or Board's wait: this
// applet only decides their order and values.
class Basic : public Applet
{
    Q_OBJECT
public:
    explicit Basic(QWidget* parent = nullptr);
    ~Basic() override;

    QVariant runFunction(const QString& name, const QVariant& args) override;
    void onDeactivate() override;
    void onActivate() override;
    bool initParameters() override;

private:
    enum class Direction { Forward, Backward };

    void buildCommands();
    void runMotor(int motor, Direction direction);
    void stopMotor(int motor);

    Ui_Basic* ui = nullptr;
};
