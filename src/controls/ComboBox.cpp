#include "ComboBox.h"

#include <cmath>

#include <QtMath>

namespace CustomControls {

ComboBox::ComboBox(QWidget* parent) : QComboBox(parent), UniversalControl(this)
{
    setMouseTracking(true);
}

void ComboBox::setWritable(bool writable)
{
    UniversalControl::setWritable(writable);
    setEnabled(writable);
}

bool ComboBox::itemsCarryData() const
{
    for (int i = 0; i < count(); ++i) {
        if (itemData(i).isValid())
            return true;
    }
    return false;
}

double ComboBox::controlValue(bool* ok) const
{
    const int index = currentIndex();
    if (itemsCarryData()) {
        bool converted = false;
        const double v = itemData(index).toDouble(&converted);
        if (ok)
            *ok = index >= 0 && converted;
        return converted ? v : 0.0;
    }
    if (ok)
        *ok = index >= 0;
    return index;
}

void ComboBox::showValue(double value)
{
    if (itemsCarryData()) {
        for (int i = 0; i < count(); ++i) {
            bool converted = false;
            const double v = itemData(i).toDouble(&converted);
            if (converted && v == value) {
                setCurrentIndex(i);
                return;
            }
        }
        setCurrentIndex(-1);
        return;
    }
    // An index past the items would blank the box; show nothing selected instead.
    const bool inRange = std::isfinite(value) && value > -0.5 && value < count() - 0.5;
    setCurrentIndex(inRange ? qRound(value) : -1);
}

QList<QMetaObject::Connection> ComboBox::connectChangeSignal(QObject* context,
                                                             std::function<void()> notify)
{
    return {connect(this, &QComboBox::activated, context, std::move(notify))};
}

} // namespace CustomControls
