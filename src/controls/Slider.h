#pragma once

#include "UniversalControl.h"

#include <QSlider>

namespace CustomControls {

// A slider bound to a variable; every change by the user writes it.
class Slider : public QSlider, public UniversalControl
{
    Q_OBJECT
public:
    explicit Slider(QWidget* parent = nullptr);

    int controlType() const override { return SliderType; }
    void setWritable(bool writable) override;
    double controlValue(bool* ok = nullptr) const override;
    void setControlRange(double min, double max) override;

protected:
    void showValue(double value) override;
    QList<QMetaObject::Connection> connectChangeSignal(QObject* context,
                                                       std::function<void()> notify) override;
};

} // namespace CustomControls
