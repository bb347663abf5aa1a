#include "RealEdit.h"

#include <QtMath>

namespace CustomControls {

RealEdit::RealEdit(QWidget* parent) : QLineEdit(parent), UniversalControl(this) {}

void RealEdit::setWritable(bool writable)
{
    UniversalControl::setWritable(writable);
    setReadOnly(!writable);
}

double RealEdit::controlValue(bool* ok) const
{
    bool parsed = false;
    const double v = text().trimmed().toDouble(&parsed);
    parsed = parsed && qIsFinite(v);
    if (ok)
        *ok = parsed;
    return parsed ? v : 0.0;
}

void RealEdit::showValue(double value)
{
    setText(QString::number(value, 'g', 10));
}

QList<QMetaObject::Connection> RealEdit::connectChangeSignal(QObject* context,
                                                             std::function<void()> notify)
{
    // Only text the user edited is written: a read-only display never writes back.
    return {connect(this, &QLineEdit::editingFinished, context, [this, notify] {
        if (!isReadOnly() && isModified())
            notify();
    })};
}

} // namespace CustomControls
