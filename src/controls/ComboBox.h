#pragma once

#include "UniversalControl.h"

#include <QComboBox>

namespace CustomControls {

// A combo box bound to a field or variable. While its items carry no data (plain
// texts from a form) its value is the current index; items with data give their data.
class ComboBox : public QComboBox, public UniversalControl
{
    Q_OBJECT
public:
    explicit ComboBox(QWidget* parent = nullptr);

    int controlType() const override { return ComboBoxType; }
    void setWritable(bool writable) override;
    double controlValue(bool* ok = nullptr) const override;

protected:
    void showValue(double value) override;
    QList<QMetaObject::Connection> connectChangeSignal(QObject* context,
                                                       std::function<void()> notify) override;

private:
    bool itemsCarryData() const;
};

} // namespace CustomControls
