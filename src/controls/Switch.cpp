#include "Switch.h"

#include "TextConvert.h"

#include <QRegularExpression>

namespace CustomControls {

namespace {
bool flag(const QString& text)
{
    bool on = false;
    return TextConvert::toBool(text, &on) && on;
}
} // namespace

Switch::Switch(QWidget* parent) : MySwitch(parent), UniversalControl(this) {}

void Switch::setWritable(bool writable)
{
    UniversalControl::setWritable(writable);
    setClickable(writable);
}

double Switch::controlValue(bool* ok) const
{
    if (ok)
        *ok = true;
    return value();
}

void Switch::initControl()
{
    parseDescription(labelText());
}

bool Switch::parseDescription(const QString& text)
{
    m_description = text;
    const QString t = text.trimmed();
    QString symbol;
    int angleValue = 0;
    bool mx = false;
    bool my = false;
    if (t.startsWith(QLatin1Char('['))) {
        QString inner = t.mid(1);
        const int close = inner.indexOf(QLatin1Char(']'));
        // "[button]90,1" and "[button,90,1]" both read as symbol, angle, mirror.
        if (close >= 0)
            inner = inner.left(close) + QLatin1Char(',') + inner.mid(close + 1);
        const QStringList parts =
            inner.split(QRegularExpression(QStringLiteral("[,\\s]+")), Qt::SkipEmptyParts);
        symbol = parts.value(0);
        angleValue = parts.value(1).toInt();
        mx = flag(parts.value(2));
    } else {
        QString v;
        if (TextConvert::valueOf(t, QStringLiteral("type"), &v))
            symbol = v;
        if (TextConvert::valueOf(t, QStringLiteral("angle"), &v))
            angleValue = v.toInt();
        if (TextConvert::valueOf(t, QStringLiteral("mirrorX"), &v))
            mx = flag(v);
        if (TextConvert::valueOf(t, QStringLiteral("mirrorY"), &v))
            my = flag(v);
    }
    const Model* m = findModel(symbol);
    if (!m) {
        setOrientation(0, false, false);
        return false;
    }
    setModel(m->id);
    setOrientation(angleValue, mx, my);
    return true;
}

void Switch::showValue(double value)
{
    setValue(value);
}

QList<QMetaObject::Connection> Switch::connectChangeSignal(QObject* context,
                                                           std::function<void()> notify)
{
    return {connect(this, &MySwitch::clicked, context, std::move(notify))};
}

} // namespace CustomControls
