#include "Slider.h"

namespace CustomControls {

Slider::Slider(QWidget* parent) : QSlider(parent), UniversalControl(this)
{
    setMouseTracking(true);
}

void Slider::setWritable(bool writable)
{
    UniversalControl::setWritable(writable);
    setEnabled(writable);
}

double Slider::controlValue(bool* ok) const
{
    if (ok)
        *ok = true;
    return value();
}

void Slider::setControlRange(double min, double max)
{
    const auto [low, high] = toIntRange(min, max);
    setRange(low, high);
}

void Slider::showValue(double value)
{
    setValue(toInt(value));
}

QList<QMetaObject::Connection> Slider::connectChangeSignal(QObject* context,
                                                           std::function<void()> notify)
{
    return {connect(this, &QSlider::valueChanged, context, std::move(notify))};
}

} // namespace CustomControls
