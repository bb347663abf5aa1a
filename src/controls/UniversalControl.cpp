#include "UniversalControl.h"

#include <QObject>
#include <QStringList>
#include <QWidget>
#include <QtMath>

#include <algorithm>
#include <cmath>
#include <limits>

namespace CustomControls {

UniversalControl::UniversalControl(QWidget* self) : m_self(self) {}

UniversalControl::~UniversalControl()
{
    disconnectChanged();
}

void UniversalControl::setWritable(bool writable)
{
    m_writable = writable;
}

void UniversalControl::setControlValue(double value)
{
    // A value pushed by the framework is not a user edit: keep it from writing back.
    const bool was = m_settingValue;
    m_settingValue = true;
    showValue(value);
    m_settingValue = was;
}

QString UniversalControl::bindName() const
{
    const QString accessible = m_self->accessibleName();
    if (!accessible.isEmpty())
        return accessible;
    return nameFromObjectName(m_self->objectName());
}

void UniversalControl::connectChanged(QObject* context, std::function<void()> handler)
{
    disconnectChanged();
    if (!context || !handler)
        return;
    m_changed = connectChangeSignal(context, [this, handler = std::move(handler)] {
        if (!m_settingValue)
            handler();
    });
}

void UniversalControl::disconnectChanged()
{
    for (const QMetaObject::Connection& c : std::as_const(m_changed))
        QObject::disconnect(c);
    m_changed.clear();
}

void UniversalControl::setControlToolTip(const QString& toolTip)
{
    m_self->setToolTip(toolTip);
}

QByteArray UniversalControl::rawBytes(bool* ok) const
{
    bool read = false;
    const double v = controlValue(&read);
    if (ok)
        *ok = read;
    return read ? QByteArray::number(v) : QByteArray();
}

void UniversalControl::setRawBytes(const QByteArray& bytes)
{
    bool ok = false;
    const double v = bytes.toDouble(&ok);
    if (ok)
        setControlValue(v);
}

int UniversalControl::toInt(double value)
{
    if (!(value >= std::numeric_limits<int>::min()))
        return std::numeric_limits<int>::min();
    if (value >= std::numeric_limits<int>::max())
        return std::numeric_limits<int>::max();
    return qRound(value);
}

std::pair<int, int> UniversalControl::toIntRange(double min, double max)
{
    const int low = toInt(std::ceil(min));
    const int high = toInt(std::floor(max));
    return {low, std::max(low, high)};
}

QString UniversalControl::nameFromObjectName(const QString& objectName)
{
    QString name = objectName.mid(2);
    int underscores = 0;
    for (QChar& c : name) {
        if (c != QLatin1Char('_'))
            continue;
        if (underscores == 0)
            c = QLatin1Char('[');
        else if (underscores == 1)
            c = QLatin1Char(':');
        ++underscores;
    }
    if (underscores > 0)
        name += QLatin1Char(']');
    return name;
}

bool UniversalControl::parseName(const QString& bindName, QString* name, QString* field)
{
    QString text = bindName;
    for (QChar& c : text) {
        if (c == QLatin1Char('(') || c == QLatin1Char(')') || c == QLatin1Char('[') ||
            c == QLatin1Char(']') || c == QLatin1Char('.'))
            c = QLatin1Char(' ');
    }
    const QStringList parts = text.split(QLatin1Char(' '), Qt::KeepEmptyParts);
    QString n;
    QString f;
    if (parts.size() >= 4) {
        // A leading qualifier (the applet) comes first.
        n = parts.at(1);
        f = parts.at(2);
    } else if (parts.size() >= 2) {
        n = parts.at(0);
        f = parts.at(1);
    } else {
        n = parts.value(0);
    }
    if (name)
        *name = n;
    if (field)
        *field = f;
    return !n.isEmpty();
}

} // namespace CustomControls
