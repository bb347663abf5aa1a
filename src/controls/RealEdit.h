#pragma once

#include "UniversalControl.h"

#include <QLineEdit>

namespace CustomControls {

// A number field for real values (measurements); writes on editingFinished().
class RealEdit : public QLineEdit, public UniversalControl
{
    Q_OBJECT
public:
    explicit RealEdit(QWidget* parent = nullptr);

    int controlType() const override { return RealEditType; }
    void setWritable(bool writable) override;
    double controlValue(bool* ok = nullptr) const override;

protected:
    void showValue(double value) override;
    QList<QMetaObject::Connection> connectChangeSignal(QObject* context,
                                                       std::function<void()> notify) override;
};

} // namespace CustomControls
