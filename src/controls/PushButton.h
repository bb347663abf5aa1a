#pragma once

#include "UniversalControl.h"

#include <QPushButton>

namespace CustomControls {

// A command button: its click runs a named function of the applet it sits in. The
// command and argument come from the accessible name ("setHB_OFF(5)") or, without
// one, from the object name "pb<Applet>_<command>[_<argument>]"; worked out once, on
// first use, and kept.
class PushButton : public QPushButton, public UniversalControl
{
    Q_OBJECT
public:
    explicit PushButton(QWidget* parent = nullptr);

    int controlType() const override { return PushButtonType; }
    double controlValue(bool* ok = nullptr) const override;
    QString controlText() const override { return text(); }
    void setControlText(const QString& text) override { setText(text); }

    QString command() const;
    QString argument() const;
    // The applet part of the object name ("Board" for pbBoard_setForward1); empty
    // when the command comes from the accessible name.
    QString appletName() const;

protected:
    void showValue(double value) override { Q_UNUSED(value) }
    QList<QMetaObject::Connection> connectChangeSignal(QObject* context,
                                                       std::function<void()> notify) override;

private:
    void resolveCommand() const;

    mutable bool m_resolved = false;
    mutable QString m_applet;
    mutable QString m_command;
    mutable QString m_argument;
};

} // namespace CustomControls
