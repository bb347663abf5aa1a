#include "LineEdit.h"

#include "TextConvert.h"

#include <QAction>
#include <QActionGroup>
#include <QContextMenuEvent>
#include <QMenu>
#include <QtMath>

namespace CustomControls {

LineEdit::LineEdit(QWidget* parent) : QLineEdit(parent), UniversalControl(this)
{
    setFocusPolicy(Qt::WheelFocus);
    m_baseGroup = new QActionGroup(this);
    m_baseGroup->setExclusive(true);
    addBaseAction(QStringLiteral("HEX"), Hex);
    addBaseAction(QStringLiteral("BIN"), Bin);
    addBaseAction(QStringLiteral("DEC"), Dec)->setChecked(true);
    addBaseAction(QStringLiteral("ARRAY"), Array);
}

QAction* LineEdit::addBaseAction(const QString& text, int base)
{
    auto* action = new QAction(text, m_baseGroup);
    action->setCheckable(true);
    action->setData(base);
    connect(action, &QAction::triggered, this, [this, base] { setBase(base); });
    return action;
}

void LineEdit::setWritable(bool writable)
{
    UniversalControl::setWritable(writable);
    setReadOnly(!writable);
}

void LineEdit::setBase(int base)
{
    if (base != Hex && base != Bin && base != Dec && base != Array)
        return;
    bool ok = false;
    const double v = controlValue(&ok);
    m_base = base;
    for (QAction* action : m_baseGroup->actions())
        action->setChecked(action->data().toInt() == base);
    if (ok)
        setControlValue(v);
}

void LineEdit::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu* menu = createStandardContextMenu();
    menu->addSeparator();
    menu->addActions(m_baseGroup->actions());
    menu->exec(event->globalPos());
    delete menu;
}

QString LineEdit::formatValue(double value, int base)
{
    const bool whole = value == std::floor(value) && std::fabs(value) < 9.0e15;
    if (base == Dec || !whole || value < 0)
        return whole ? QString::number(static_cast<qint64>(value))
                     : QString::number(value, 'g', 12);
    const quint64 n = static_cast<quint64>(value);
    switch (base) {
    case Hex:
        return QStringLiteral("0x") + QString::number(n, 16);
    case Bin:
        return QStringLiteral("0b") + QString::number(n, 2);
    case Array: {
        QByteArray bytes;
        quint64 rest = n;
        do {
            bytes.prepend(static_cast<char>(rest & 0xff));
            rest >>= 8;
        } while (rest != 0);
        return TextConvert::bytesToHex(bytes);
    }
    default:
        return QString::number(n);
    }
}

bool LineEdit::parseValue(const QString& text, int base, double* value)
{
    const QString t = text.trimmed();
    if (t.isEmpty())
        return false;
    bool ok = false;
    double v = 0;
    switch (base) {
    case Dec: {
        qint64 n = 0;
        if (!t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive) &&
            !t.startsWith(QLatin1String("0b"), Qt::CaseInsensitive) &&
            TextConvert::toInt64(t, &n)) {
            v = static_cast<double>(n);
            ok = true;
        } else {
            v = t.toDouble(&ok);
            ok = ok && qIsFinite(v);
        }
        break;
    }
    case Hex:
    case Bin: {
        QString digits = t;
        const QString prefix = base == Hex ? QStringLiteral("0x") : QStringLiteral("0b");
        if (digits.startsWith(prefix, Qt::CaseInsensitive))
            digits = digits.mid(2);
        const quint64 n = digits.toULongLong(&ok, base);
        v = static_cast<double>(n);
        break;
    }
    case Array: {
        QByteArray bytes;
        ok = TextConvert::hexToBytes(t, &bytes) && !bytes.isEmpty() && bytes.size() <= 8;
        quint64 n = 0;
        for (char b : std::as_const(bytes))
            n = (n << 8) | static_cast<quint8>(b);
        v = static_cast<double>(n);
        break;
    }
    default:
        return false;
    }
    if (ok && value)
        *value = v;
    return ok;
}

double LineEdit::controlValue(bool* ok) const
{
    double v = 0;
    const bool parsed = parseValue(text(), m_base, &v);
    if (ok)
        *ok = parsed;
    return parsed ? v : 0.0;
}

void LineEdit::showValue(double value)
{
    setText(formatValue(value, m_base));
}

QByteArray LineEdit::rawBytes(bool* ok) const
{
    bool read = true;
    QByteArray bytes;
    if (m_base == Array)
        read = TextConvert::hexToBytes(text(), &bytes);
    else
        bytes = text().toUtf8();
    if (ok)
        *ok = read;
    return read ? bytes : QByteArray();
}

void LineEdit::setRawBytes(const QByteArray& bytes)
{
    setText(m_base == Array ? TextConvert::bytesToHex(bytes) : QString::fromUtf8(bytes));
}

QList<QMetaObject::Connection> LineEdit::connectChangeSignal(QObject* context,
                                                             std::function<void()> notify)
{
    // Return always writes; leaving the field writes only text the user edited, so a
    // mere focus change never writes back a rounded display. The refresh after a
    // write clears the modified flag, so Return does not write twice.
    return {connect(this, &QLineEdit::returnPressed, context,
                    [this, notify] {
                        if (!isReadOnly())
                            notify();
                    }),
            connect(this, &QLineEdit::editingFinished, context, [this, notify] {
                if (!isReadOnly() && isModified())
                    notify();
            })};
}

} // namespace CustomControls
