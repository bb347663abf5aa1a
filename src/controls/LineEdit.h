#pragma once

#include "UniversalControl.h"

#include <QLineEdit>

class QAction;
class QActionGroup;

namespace CustomControls {

// A number field bound to a field or variable. Its context menu chooses the base the
// value is shown and parsed in: HEX ("0x1f"), BIN ("0b101"), DEC (the default) or
// ARRAY (the value's bytes as hex pairs, most significant first: "01 ff").
// Writes on returnPressed() and editingFinished().
class LineEdit : public QLineEdit, public UniversalControl
{
    Q_OBJECT
public:
    enum Base { Hex = 16, Bin = 2, Dec = 10, Array = 256 };

    explicit LineEdit(QWidget* parent = nullptr);

    int controlType() const override { return LineEditType; }
    void setWritable(bool writable) override;
    double controlValue(bool* ok = nullptr) const override;
    QByteArray rawBytes(bool* ok = nullptr) const override;
    void setRawBytes(const QByteArray& bytes) override;

    int base() const { return m_base; }
    // Re-shows the current value in the new base.
    void setBase(int base);

    static QString formatValue(double value, int base);
    static bool parseValue(const QString& text, int base, double* value);

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void showValue(double value) override;
    QList<QMetaObject::Connection> connectChangeSignal(QObject* context,
                                                       std::function<void()> notify) override;

private:
    QAction* addBaseAction(const QString& text, int base);

    int m_base = Dec;
    QActionGroup* m_baseGroup = nullptr;
};

} // namespace CustomControls
