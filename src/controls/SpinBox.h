#pragma once

#include "UniversalControl.h"

#include <QSpinBox>

namespace CustomControls {

// An integer field (0..65535 unless bound to a variable's range); writes on
// editingFinished().
class SpinBox : public QSpinBox, public UniversalControl
{
    Q_OBJECT
public:
    explicit SpinBox(QWidget* parent = nullptr);

    int controlType() const override { return SpinBoxType; }
    void setWritable(bool writable) override;
    double controlValue(bool* ok = nullptr) const override;
    void setControlRange(double min, double max) override;

protected:
    void showValue(double value) override;
    QList<QMetaObject::Connection> connectChangeSignal(QObject* context,
                                                       std::function<void()> notify) override;

private:
    int m_shown = 0;
};

} // namespace CustomControls
