#pragma once

#include <QByteArray>
#include <QList>
#include <QMetaObject>
#include <QString>

#include <functional>
#include <utility>

class QObject;
class QWidget;

namespace CustomControls {

// The second base of every bound control: what the applet framework needs to bind a
// widget to a register field, a variable or a command by name, independent of the
// widget class.
class UniversalControl
{
public:
    // Type codes per control class.
    enum Type {
        CheckBoxType = 1,
        PushButtonType = 2,
        SpinBoxType = 3,
        LineEditType = 4,
        RealEditType = 5,
        ComboBoxType = 6,
        SwitchType = 8,
        SliderType = 11
    };

    explicit UniversalControl(QWidget* self);
    virtual ~UniversalControl();
    UniversalControl(const UniversalControl&) = delete;
    UniversalControl& operator=(const UniversalControl&) = delete;

    QWidget* widget() const { return m_self; }
    virtual int controlType() const = 0;

    // Cleared by binding for read-only entries; a non-writable control takes no edits.
    bool isWritable() const { return m_writable; }
    virtual void setWritable(bool writable);

    // The value the control shows; *ok is false when the shown text is not a number.
    virtual double controlValue(bool* ok = nullptr) const = 0;
    // Shows a value without reporting it back as a user change.
    void setControlValue(double value);

    // Accessible name when set, else the name derived from the object name.
    virtual QString bindName() const;

    // Runs `handler` (in `context`'s thread) whenever the user changes the control.
    // Replaces an earlier connection.
    void connectChanged(QObject* context, std::function<void()> handler);
    void disconnectChanged();

    virtual void setControlToolTip(const QString& toolTip);
    // The caption of controls that carry one (check box, push button); empty otherwise.
    virtual QString controlText() const { return QString(); }
    virtual void setControlText(const QString& text) { Q_UNUSED(text) }
    // Free description text the control was given on the form (a switch's label).
    virtual QString description() const { return QString(); }
    virtual void setControlRange(double min, double max)
    {
        Q_UNUSED(min)
        Q_UNUSED(max)
    }
    // The value as raw bytes (string variables, byte arrays).
    // *ok is false when the control's text cannot be read as bytes.
    virtual QByteArray rawBytes(bool* ok = nullptr) const;
    virtual void setRawBytes(const QByteArray& bytes);
    // Runs once when the control is bound.
    virtual void initControl() {}

    // "cbCR0_0" -> "CR0[0]", "cmCR5A_9_8" -> "CR5A[9:8]", "cbNM" -> "NM".
    static QString nameFromObjectName(const QString& objectName);
    // Splits a binding name into name and field (or command and argument):
    // "CR5A[9:8]" -> CR5A, 9:8; "setHB_ON(5,hs)" -> setHB_ON, 5,hs; "Board.DIO[EN]" -> DIO, EN.
    // False when no name results.
    static bool parseName(const QString& bindName, QString* name, QString* field);

protected:
    virtual void showValue(double value) = 0;
    // The widget's own change signal, connected to `notify`.
    virtual QList<QMetaObject::Connection> connectChangeSignal(QObject* context,
                                                               std::function<void()> notify) = 0;
    // Rounds to the nearest int, clamped to the int range (NaN gives the minimum).
    static int toInt(double value);
    // The int range a control bound to [min, max] offers: min rounded up, max rounded
    // down, so that every value it offers is one the variable takes. Where no integer
    // lies inside, the one value min rounded up, which the user then cannot change.
    static std::pair<int, int> toIntRange(double min, double max);

private:
    QWidget* m_self;
    bool m_writable = true;
    bool m_settingValue = false;
    QList<QMetaObject::Connection> m_changed;
};

} // namespace CustomControls
