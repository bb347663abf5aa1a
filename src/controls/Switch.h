#pragma once

#include "MySwitch.h"
#include "UniversalControl.h"

namespace CustomControls {

// A bound picture switch. On a form it is a label whose text describes the switch:
// "[<symbol>,<angle>,<mirror>]" or key=value pairs "type=<symbol> angle=<deg>
// mirrorX=<0|1> mirrorY=<0|1>", the symbol being a model number or name of the
// MySwitch model table. A click steps the state and writes the bound parameter.
class Switch : public MySwitch, public UniversalControl
{
    Q_OBJECT
public:
    explicit Switch(QWidget* parent = nullptr);

    MySwitch* mySwitch() { return this; }

    int controlType() const override { return SwitchType; }
    void setWritable(bool writable) override;
    double controlValue(bool* ok = nullptr) const override;
    QString description() const override { return m_description; }
    void initControl() override;

    // Reads a description; true when it names a model (which is then loaded). A text
    // that names none leaves the model as it is, angle 0 and no mirroring.
    bool parseDescription(const QString& text);

protected:
    void showValue(double value) override;
    QList<QMetaObject::Connection> connectChangeSignal(QObject* context,
                                                       std::function<void()> notify) override;

private:
    QString m_description;
};

} // namespace CustomControls
