#include "PushButton.h"

namespace CustomControls {

PushButton::PushButton(QWidget* parent) : QPushButton(parent), UniversalControl(this)
{
    setMouseTracking(true);
}

double PushButton::controlValue(bool* ok) const
{
    if (ok)
        *ok = false;
    return 0.0;
}

void PushButton::resolveCommand() const
{
    if (m_resolved)
        return;
    m_resolved = true;
    const QString accessible = accessibleName();
    if (!accessible.isEmpty()) {
        parseName(accessible, &m_command, &m_argument);
        return;
    }
    const QStringList parts = objectName().mid(2).split(QLatin1Char('_'));
    m_applet = parts.value(0);
    m_command = parts.value(1);
    m_argument = parts.mid(2).join(QLatin1Char('_'));
}

QString PushButton::command() const
{
    resolveCommand();
    return m_command;
}

QString PushButton::argument() const
{
    resolveCommand();
    return m_argument;
}

QString PushButton::appletName() const
{
    resolveCommand();
    return m_applet;
}

QList<QMetaObject::Connection> PushButton::connectChangeSignal(QObject* context,
                                                               std::function<void()> notify)
{
    return {connect(this, &QPushButton::clicked, context, std::move(notify))};
}

} // namespace CustomControls
