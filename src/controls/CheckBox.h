#pragma once

#include "UniversalControl.h"

#include <QCheckBox>

namespace CustomControls {

// A check box bound to a bit or variable: 1 when ticked, 0 when clear. Writes on
// clicked(); a value set by code ticks it (and emits toggled) but writes nothing.
class CheckBox : public QCheckBox, public UniversalControl
{
    Q_OBJECT
public:
    explicit CheckBox(QWidget* parent = nullptr);

    int controlType() const override { return CheckBoxType; }
    void setWritable(bool writable) override;
    double controlValue(bool* ok = nullptr) const override;
    QString controlText() const override { return text(); }
    void setControlText(const QString& text) override { setText(text); }

protected:
    bool hitButton(const QPoint& pos) const override;
    void showValue(double value) override;
    QList<QMetaObject::Connection> connectChangeSignal(QObject* context,
                                                       std::function<void()> notify) override;
};

} // namespace CustomControls
