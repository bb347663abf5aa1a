#include "Applet.h"
#include "LogKind.h"

#include "AppletInstances.h"
#include "CallerKey.h"
#include "PushButton.h"
#include "Register.h"
#include "TextConvert.h"
#include "UniversalControl.h"
#include "Variable.h"

#include <QAction>
#include <QLoggingCategory>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMetaObject>

#include <cmath>

Q_LOGGING_CATEGORY(lcApplet, "rmx.applet")

using CustomControls::UniversalControl;

namespace {

const QString kToolTip = QStringLiteral("%1 <font color=#0000ff><br>%2</font><br>");

// A register write takes an unsigned number; anything else (negative, too wide,
// not a number) is refused rather than wrapped.
bool toUnsigned(double value, unsigned int* out)
{
    if (!std::isfinite(value) || value <= -0.5 || value >= 4294967295.5)
        return false;
    *out = static_cast<unsigned int>(std::llround(value));
    return true;
}

bool toUnsigned(const QVariant& value, unsigned int* out)
{
    switch (value.typeId()) {
    case QMetaType::QString:
    case QMetaType::QByteArray: {
        quint32 n = 0;
        if (!TextConvert::toUInt32(value.toString(), &n))
            return false;
        *out = n;
        return true;
    }
    case QMetaType::Bool:
        *out = value.toBool() ? 1u : 0u;
        return true;
    case QMetaType::Double:
    case QMetaType::Float:
        return toUnsigned(value.toDouble(), out);
    default: {
        bool ok = false;
        const qlonglong n = value.toLongLong(&ok);
        if (!ok || n < 0 || n > 0xffffffffLL)
            return false;
        *out = static_cast<unsigned int>(n);
        return true;
    }
    }
}

bool toDouble(const QVariant& value, double* out)
{
    bool ok = false;
    double d = 0;
    if (value.typeId() == QMetaType::QString || value.typeId() == QMetaType::QByteArray) {
        qint64 n = 0;
        if (TextConvert::toInt64(value.toString(), &n)) {
            d = static_cast<double>(n);
            ok = true;
        } else {
            d = value.toString().trimmed().toDouble(&ok);
        }
    } else {
        d = value.toDouble(&ok);
    }
    if (!ok || !std::isfinite(d))
        return false;
    *out = d;
    return true;
}

bool isIntegral(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
        return true;
    default:
        return false;
    }
}

} // namespace

Applet::Applet(QWidget* parent) : QWidget(parent) {}

Applet::~Applet()
{
    // The controls die after this body (with the QWidget base); keep their signals
    // and the model's away from the half-destroyed applet. Every connected control
    // has a destroy watch.
    for (auto it = m_destroyWatch.cbegin(); it != m_destroyWatch.cend(); ++it) {
        disconnect(it.value());
        it.key()->disconnectChanged();
    }
    for (const Parameter& p : std::as_const(m_parameters)) {
        if (p.reg)
            disconnect(p.reg, nullptr, this, nullptr);
        if (p.var)
            disconnect(p.var, nullptr, this, nullptr);
    }
}

bool Applet::setup()
{
    if (m_setupDone) {
        qCWarning(lcApplet) << "setup runs once; ignored for" << objectName();
        return true;
    }
    if (!initParameters()) {
        qCWarning(lcApplet) << "initParameters failed for" << objectName();
        return false;
    }
    m_setupDone = true;

    m_windowAction = new QAction(windowTitle(), this);
    m_windowAction->setCheckable(true);
    m_windowAction->setEnabled(false);
    connect(this, &QWidget::windowTitleChanged, m_windowAction, &QAction::setText);
    // The entry is ticked while the window is open, so a press unticks an open window;
    // one that stands behind another comes forward instead of going.
    connect(m_windowAction, &QAction::triggered, this, [this](bool checked) {
        if (checked || !isWindowInFront())
            showWindow();
        else if (m_container)
            m_container->hide();
    });

    // Bound before connectSlotsByName, so a binding runs ahead of an on_ slot of the
    // same signal.
    const QList<QWidget*> children = findChildren<QWidget*>();
    for (QWidget* child : children) {
        if (auto* control = dynamic_cast<UniversalControl*>(child))
            bindControl(control);
    }

    if (AppletInstances::logs)
        connect(this, &Applet::signal_log, AppletInstances::logs, &Applet::slot_addLog);

    QMetaObject::connectSlotsByName(this);
    slot_updateAllControls();
    return true;
}

bool Applet::addRegister(Register* reg, int expectedSize)
{
    if (!reg || reg->name().isEmpty())
        return false;
    const QString name = reg->name();
    if (expectedSize != -1 && reg->size() != expectedSize)
        qCDebug(lcApplet).noquote()
            << QStringLiteral("Register size control fail : %1 .size %2 != %3")
                   .arg(name)
                   .arg(reg->size())
                   .arg(expectedSize);
    Parameter p;
    p.reg = reg;
    return enterParameter(name, p, reg);
}

bool Applet::addVariable(Variable* var)
{
    if (!var || var->name().isEmpty())
        return false;
    Parameter p;
    p.var = var;
    return enterParameter(var->name(), p, var);
}

// Registers and variables enter the table alike: unique names, change signals to the
// refresh slots, and out of the table when the object goes.
template <typename T>
bool Applet::enterParameter(const QString& name, const Parameter& entry, T* object)
{
    if (m_parameters.contains(name)) {
        qCDebug(lcApplet).noquote()
            << QStringLiteral("Applet %1 already contains %2").arg(objectName(), name);
        return false;
    }
    m_parameters.insert(name, entry);
    m_order.append(name);
    connect(object, &T::signal_updateSet, this, &Applet::slot_updateSet);
    connect(object, &T::signal_updateGet, this, &Applet::slot_updateGet);
    connect(object, &QObject::destroyed, this, [this, name] { removeParameter(name); });
    return true;
}

void Applet::removeParameter(const QString& name)
{
    // The object is going away (it outlived none of its applets' needs): forget it and
    // its bindings rather than keep a dangling pointer.
    auto it = m_parameters.find(name);
    if (it == m_parameters.end())
        return;
    for (UniversalControl* control : std::as_const(it->controls))
        m_bindings.remove(control);
    m_parameters.erase(it);
    m_order.removeAll(name);
}

bool Applet::hasParameter(const QString& name) const
{
    return m_parameters.contains(name);
}

Register* Applet::registerByName(const QString& name) const
{
    return m_parameters.value(name).reg;
}

Variable* Applet::variableByName(const QString& name) const
{
    return m_parameters.value(name).var;
}

QStringList Applet::parameterNames() const
{
    return m_order;
}

QString Applet::descriptorFor(const QString& bindName, const QString& name, const QString& field)
{
    // "CR0[]" addresses the whole register, "FSM" bit 0: keep the brackets as written.
    if (bindName.contains(QLatin1Char('[')) || !field.isEmpty())
        return name + QLatin1Char('[') + field + QLatin1Char(']');
    return name;
}

// A name is taken only as a control binding writes it: "PWM1_DUTY", "FSM" (bit 0),
// "CR0[]", "CR5A[9:8]", "DIO[EN]". Splitting alone would also read "CR2(3:0)", "CR2[3:0"
// or "PWM1_DUTY.junk" as names; those name nothing, nor does a field the register lacks.
bool Applet::parseParameter(const QString& text, QString* name, QString* descriptor) const
{
    const QString written = text.trimmed();
    QString field;
    if (!UniversalControl::parseName(written, name, &field))
        return false;
    const auto it = m_parameters.constFind(*name);
    if (it == m_parameters.constEnd())
        return false;
    *descriptor = descriptorFor(written, *name, field);
    if (*descriptor != written)
        return false;
    if (it->var)
        return *descriptor == *name; // a variable has no fields
    return it->reg && it->reg->fieldInfo(*descriptor).valid;
}

void Applet::bindControl(UniversalControl* control)
{
    if (!control || !control->widget())
        return;
    unbindControl(control);

    if (control->controlType() == UniversalControl::PushButtonType) {
        connectControl(control);
        return;
    }

    control->initControl();
    const QString bind = control->bindName();
    QString name;
    QString field;
    if (!UniversalControl::parseName(bind, &name, &field))
        return;
    auto it = m_parameters.find(name);
    if (it == m_parameters.end())
        return; // names nothing here: stays unbound

    Binding binding;
    binding.name = name;
    binding.descriptor = name;
    QString description;
    if (it->reg) {
        binding.descriptor = descriptorFor(bind, name, field);
        const Register::FieldInfo info = it->reg->fieldInfo(binding.descriptor);
        if (control->controlText().isEmpty())
            control->setControlText(info.name.isEmpty() ? bind : info.name);
        if (it->reg->isReadOnly() || info.readOnly)
            control->setWritable(false);
        description = info.description;
    } else if (it->var) {
        if (it->var->isReadOnly())
            control->setWritable(false);
        control->setControlRange(it->var->min(), it->var->max());
        description = it->var->description();
    }
    control->setControlToolTip(kToolTip.arg(description, bind));

    it->controls.append(control);
    m_bindings.insert(control, binding);
    connectControl(control);
}

void Applet::connectControl(UniversalControl* control)
{
    control->connectChanged(this, [this, control] { controlTriggered(control); });
    m_destroyWatch.insert(control, connect(control->widget(), &QObject::destroyed, this,
                                           [this, control] { unbindControl(control); }));
}

void Applet::unbindControl(UniversalControl* control)
{
    // Only compares the pointer: called while the control is being destroyed.
    auto watch = m_destroyWatch.find(control);
    if (watch != m_destroyWatch.end()) {
        disconnect(watch.value());
        m_destroyWatch.erase(watch);
    }
    auto b = m_bindings.find(control);
    if (b == m_bindings.end())
        return;
    auto p = m_parameters.find(b->name);
    if (p != m_parameters.end())
        p->controls.removeAll(control);
    m_bindings.erase(b);
}

QList<UniversalControl*> Applet::boundControls(const QString& name) const
{
    return m_parameters.value(name).controls;
}

bool Applet::handleParameter(int direction, const QString& name)
{
    if (m_transfersInProgress.contains(name))
        return true;
    m_transfersInProgress.append(name);
    const bool ok = onParameterTransfer(direction, name);
    m_transfersInProgress.removeOne(name);
    return ok;
}

bool Applet::writeParameters(const QStringList& names)
{
    bool all = true;
    for (const QString& name : names) {
        if (handleParameter(0, name))
            continue;
        all = false;
        const QString text =
            QStringLiteral("%1 Parameter %2 fail to write").arg(objectName(), name);
        qCWarning(lcApplet).noquote() << text;
        emit signal_log(LogKind::Warning, text);
    }
    return all;
}

void Applet::activate()
{
    if (!isEnabled())
        return;
    onActivate();
    if (m_windowAction)
        m_windowAction->setEnabled(true);
    m_active = true;
}

void Applet::deactivate()
{
    if (m_windowAction)
        m_windowAction->setEnabled(false);
    onDeactivate();
    m_active = false;
}

void Applet::setContainer(QWidget* container)
{
    m_container = container;
}

bool Applet::isWindowInFront() const
{
    const auto* sub = qobject_cast<QMdiSubWindow*>(m_container.data());
    if (!sub || !sub->mdiArea())
        return true;
    return sub->isVisible() && sub->mdiArea()->activeSubWindow() == sub;
}

void Applet::showWindow()
{
    QWidget* window = m_container ? m_container.data() : this;
    window->show();
    window->raise();
    if (auto* sub = qobject_cast<QMdiSubWindow*>(window); sub && sub->mdiArea())
        sub->mdiArea()->setActiveSubWindow(sub);
    if (m_windowAction)
        m_windowAction->setChecked(true);
}

void Applet::applySubWindowSize(QWidget* subWindow) const
{
    if (!subWindow)
        return;
    // A window that can grow in neither direction has nothing to maximise or size: no
    // maximise button on its title bar, no Maximize or Size in its window menu, no resize
    // cursor on its edges; minimise and close stay.
    auto* sub = qobject_cast<QMdiSubWindow*>(subWindow);
    if (sub && m_fixedWidth && m_fixedHeight)
        sub->setWindowFlags((sub->windowFlags() | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                             Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                             Qt::MSWindowsFixedSizeDialogHint) &
                            ~Qt::WindowMaximizeButtonHint);
    const QSize s = size();
    subWindow->resize(s.width() + 20, s.height() + 40);
    if (m_fixedWidth)
        subWindow->setFixedWidth(s.width() + 10);
    if (m_fixedHeight)
        subWindow->setFixedHeight(s.height() + 35);
}

bool Applet::setValue(const QString& name, const QVariant& value, quint32 callerKey)
{
    if (name.isEmpty() || !value.isValid() || value.isNull())
        return false;
    QString key;
    QString descriptor;
    if (!parseParameter(name, &key, &descriptor))
        return false;
    const Parameter& p = m_parameters[key];
    if (p.reg) {
        unsigned int n = 0;
        if (!toUnsigned(value, &n))
            return false;
        return p.reg->setField(descriptor, n);
    }
    if (!p.var)
        return false;
    if (p.var->type() == Variable::String)
        return p.var->setText(value.toByteArray(), callerKey);
    if (isIntegral(value))
        return p.var->setValue(value.toInt(), callerKey);
    double d = 0;
    if (!toDouble(value, &d))
        return false;
    return p.var->setValue(d, callerKey);
}

QVariant Applet::getValue(const QString& name, quint32 callerKey)
{
    Q_UNUSED(callerKey)
    QString key;
    QString descriptor;
    if (!parseParameter(name, &key, &descriptor))
        return QVariant();
    handleParameter(1, key);
    const Parameter p = m_parameters.value(key);
    if (p.reg)
        return QVariant(p.reg->getField(descriptor));
    if (p.var) {
        if (p.var->type() == Variable::String)
            return QVariant(p.var->text());
        return QVariant(p.var->value());
    }
    return QVariant();
}

bool Applet::onParameterTransfer(int direction, const QString& name)
{
    Q_UNUSED(direction)
    Q_UNUSED(name)
    return true;
}

void Applet::onDeactivate() {}

void Applet::onActivate() {}

QString Applet::parametersToText()
{
    return QString();
}

bool Applet::parametersFromText(const QString& text)
{
    Q_UNUSED(text)
    return false;
}

bool Applet::initParameters()
{
    return true;
}

void Applet::setVectorData(const QString& name, const QVector<double>& values)
{
    Q_UNUSED(name)
    Q_UNUSED(values)
}

QVector<double> Applet::getVectorData(const QString& name)
{
    Q_UNUSED(name)
    return {};
}

void Applet::clearVectorData(const QString& name)
{
    Q_UNUSED(name)
}

int Applet::vectorDataSize(const QString& name)
{
    Q_UNUSED(name)
    return 0;
}

void Applet::slot_addLog(int type, QString text)
{
    Q_UNUSED(type)
    Q_UNUSED(text)
}

void Applet::slot_updateSet(QString name)
{
    if (!m_active)
        return;
    slot_updateControls(name);
    handleParameter(0, name);
    emit signal_RegisterChanged();
}

void Applet::slot_updateGet(QString name)
{
    handleParameter(1, name);
    slot_updateControls(name);
}

void Applet::pushValue(UniversalControl* control, const Binding& binding)
{
    const Parameter p = m_parameters.value(binding.name);
    if (p.reg) {
        control->setControlValue(p.reg->getField(binding.descriptor));
    } else if (p.var) {
        if (p.var->type() == Variable::String)
            control->setRawBytes(p.var->text());
        else
            control->setControlValue(p.var->value());
    }
}

void Applet::slot_updateControls(QString names)
{
    const QString trimmed = names.trimmed();
    QStringList list;
    if (trimmed.isEmpty() || trimmed == QLatin1String("*")) {
        list = m_order;
    } else {
        for (const QString& part : trimmed.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            QString key;
            if (UniversalControl::parseName(part.trimmed(), &key, nullptr))
                list.append(key);
        }
    }
    for (const QString& name : std::as_const(list)) {
        // A copy: a control's signal may rebind or drop controls while we walk.
        const QList<UniversalControl*> controls = m_parameters.value(name).controls;
        for (UniversalControl* control : controls) {
            auto b = m_bindings.constFind(control);
            if (b != m_bindings.constEnd())
                pushValue(control, b.value());
        }
    }
}

void Applet::slot_updateAllControls()
{
    slot_updateControls(QStringLiteral("*"));
}

void Applet::slot_ControlTriggered()
{
    if (auto* control = dynamic_cast<UniversalControl*>(sender()))
        controlTriggered(control);
}

void Applet::controlTriggered(UniversalControl* control)
{
    if (!control)
        return;
    if (control->controlType() == UniversalControl::PushButtonType) {
        auto* button = dynamic_cast<CustomControls::PushButton*>(control);
        if (!button)
            return;
        // Not tested first: a button may run while another command waits in a delay.
        ++m_busy;
        runFunction(button->command(), QVariant(button->argument()));
        --m_busy;
        return;
    }
    auto b = m_bindings.constFind(control);
    if (b == m_bindings.constEnd())
        return;
    const Binding binding = b.value();
    const Parameter p = m_parameters.value(binding.name);
    bool ok = false;
    const double v = control->controlValue(&ok);
    // A refused or unreadable edit writes nothing; the refresh below shows what stands.
    if (control->isWritable()) {
        if (p.reg) {
            unsigned int n = 0;
            if (ok && toUnsigned(v, &n))
                p.reg->setField(binding.descriptor, n);
        } else if (p.var) {
            if (p.var->type() == Variable::String) {
                bool bytesOk = false;
                const QByteArray bytes = control->rawBytes(&bytesOk);
                if (bytesOk)
                    p.var->setText(bytes, CallerKey::External);
            } else if (ok)
                p.var->setValue(v, CallerKey::External);
        }
    }
    slot_updateControls(binding.name);
}

QVariant Applet::dispatchCommand(const QString& name, const QVariant& args)
{
    return m_commands.dispatch(name, args, m_functionHelp);
}
