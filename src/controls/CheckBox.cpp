#include "CheckBox.h"

namespace CustomControls {

CheckBox::CheckBox(QWidget* parent) : QCheckBox(parent), UniversalControl(this) {}

void CheckBox::setWritable(bool writable)
{
    UniversalControl::setWritable(writable);
    // A read-only box keeps its normal look and tool tip but takes no clicks or keys.
    setFocusPolicy(writable ? Qt::StrongFocus : Qt::NoFocus);
}

bool CheckBox::hitButton(const QPoint& pos) const
{
    return isWritable() && QCheckBox::hitButton(pos);
}

double CheckBox::controlValue(bool* ok) const
{
    if (ok)
        *ok = true;
    return isChecked() ? 1.0 : 0.0;
}

void CheckBox::showValue(double value)
{
    setChecked(value != 0.0);
}

QList<QMetaObject::Connection> CheckBox::connectChangeSignal(QObject* context,
                                                             std::function<void()> notify)
{
    return {connect(this, &QCheckBox::clicked, context, std::move(notify))};
}

} // namespace CustomControls
