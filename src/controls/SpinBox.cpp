#include "SpinBox.h"

namespace CustomControls {

SpinBox::SpinBox(QWidget* parent) : QSpinBox(parent), UniversalControl(this)
{
    setMaximum(65535);
    setMouseTracking(true);
}

void SpinBox::setWritable(bool writable)
{
    UniversalControl::setWritable(writable);
    setReadOnly(!writable);
}

double SpinBox::controlValue(bool* ok) const
{
    if (ok)
        *ok = true;
    return value();
}

void SpinBox::setControlRange(double min, double max)
{
    const auto [low, high] = toIntRange(min, max);
    setRange(low, high);
}

void SpinBox::showValue(double value)
{
    setValue(toInt(value));
    m_shown = this->value();
}

QList<QMetaObject::Connection> SpinBox::connectChangeSignal(QObject* context,
                                                            std::function<void()> notify)
{
    // Leaving the box without a change writes nothing (a real value shown rounded
    // must not be written back rounded).
    return {connect(this, &QSpinBox::editingFinished, context, [this, notify] {
        if (!isReadOnly() && value() != m_shown)
            notify();
    })};
}

} // namespace CustomControls
