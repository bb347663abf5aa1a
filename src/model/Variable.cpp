#include "Variable.h"

#include "CallerKey.h"
#include "ModelLog.h"
#include "TextConvert.h"

#include <cmath>
#include <limits>

namespace {

void reportFault(const QString& definition, const QString& part, const QString& why)
{
    qCWarning(lcModel).noquote() << QStringLiteral(
                                        "Variable definition \"%1\": item \"%2\" ignored: %3")
                                        .arg(definition, part, why);
}

// A decimal or floating-point number, or an integer in "0x"/"0b" notation.
bool parseNumber(const QString& text, double* value)
{
    bool ok = false;
    const double v = text.trimmed().toDouble(&ok);
    if (ok && !std::isnan(v)) {
        *value = v;
        return true;
    }
    qint64 i = 0;
    if (TextConvert::toInt64(text, &i)) {
        *value = double(i);
        return true;
    }
    return false;
}

} // namespace

Variable::Variable(const QString& definition)
    : QObject(nullptr), m_min(std::numeric_limits<double>::lowest()),
      m_max(std::numeric_limits<double>::max())
{
    QString valueText;
    bool hasValue = false;
    const QList<TextConvert::Attribute> attributes = TextConvert::attributes(definition);
    for (const TextConvert::Attribute& attribute : attributes) {
        const QString key = attribute.key.toLower();
        const QString& text = attribute.value;
        const QString& part = attribute.item;
        if (key == QLatin1String("variable")) {
            m_name = text;
        } else if (key == QLatin1String("type")) {
            const QString t = text.toLower();
            if (t == QLatin1String("real") || t == QLatin1String("double"))
                m_type = Real;
            else if (t == QLatin1String("int") || t == QLatin1String("integer"))
                m_type = Integer;
            else if (t == QLatin1String("string"))
                m_type = String;
            else
                reportFault(definition, part, QStringLiteral("unknown type"));
        } else if (key == QLatin1String("value")) {
            valueText = text;
            hasValue = true;
        } else if (key == QLatin1String("min") || key == QLatin1String("max")) {
            double v = 0.0;
            if (!parseNumber(text, &v))
                reportFault(definition, part, QStringLiteral("not a number"));
            else if (key == QLatin1String("min"))
                m_min = v;
            else
                m_max = v;
        } else if (key == QLatin1String("description") || key == QLatin1String("desc")) {
            m_description = text;
        } else if (key == QLatin1String("label")) {
            m_label = text;
        } else if (key == QLatin1String("readonly")) {
            bool ro = false;
            if (TextConvert::toBool(text, &ro))
                m_readOnly = ro;
            else
                reportFault(definition, part, QStringLiteral("not a boolean"));
        }
    }
    if (m_name.isEmpty())
        qCWarning(lcModel).noquote()
            << QStringLiteral("Variable definition \"%1\" names no variable").arg(definition);
    if (m_min > m_max)
        qCWarning(lcModel).noquote()
            << QStringLiteral("Variable definition \"%1\": minimum above maximum").arg(definition);

    if (hasValue) {
        if (m_type == String) {
            m_text = valueText.toUtf8();
        } else {
            double v = 0.0;
            if (!parseNumber(valueText, &v))
                reportFault(definition, QStringLiteral("value=") + valueText,
                            QStringLiteral("not a number"));
            else if (v < m_min || v > m_max)
                reportFault(definition, QStringLiteral("value=") + valueText,
                            QStringLiteral("outside [min, max]"));
            else
                m_value = v;
        }
    }
}

Variable::Variable(double value, const QString& name, const QString& description, double min,
                   double max)
    : QObject(nullptr), m_name(name), m_description(description), m_type(Real), m_value(value),
      m_min(min), m_max(max)
{
}

Variable::~Variable() = default;

// A refused write still signals in UpdateAlways mode, so a bound control shows the
// value that stayed.
bool Variable::refuse()
{
    if (m_updateMode == UpdateAlways)
        emit signal_updateSet(m_name);
    return false;
}

bool Variable::store(double value, Type writtenType, quint32 callerKey)
{
    // An integer variable holds whole numbers; a real written to it is rounded.
    if ((m_type == Integer || (m_type == Undefined && writtenType == Integer)) &&
        std::isfinite(value))
        value = std::round(value);
    const bool allowed = !(m_readOnly && callerKey != CallerKey::Internal) && !std::isnan(value) &&
                         value >= m_min && value <= m_max;
    if (!allowed)
        return refuse();
    if (m_type == Undefined)
        m_type = writtenType;
    const bool changed = value != m_value;
    m_value = value;
    if (m_type == String)
        m_text = QByteArray::number(value, 'g', 15);
    if (changed || m_updateMode == UpdateAlways)
        emit signal_updateSet(m_name);
    return true;
}

bool Variable::setValue(double value, quint32 callerKey)
{
    return store(value, Real, callerKey);
}

bool Variable::setValue(int value, quint32 callerKey)
{
    return store(double(value), Integer, callerKey);
}

bool Variable::setText(const QByteArray& text, quint32 callerKey)
{
    if (m_type == Integer || m_type == Real) {
        double v = 0.0;
        if (!parseNumber(QString::fromUtf8(text), &v))
            return refuse();
        return store(v, m_type, callerKey);
    }
    if (m_readOnly && callerKey != CallerKey::Internal)
        return refuse();
    m_type = String;
    const bool changed = text != m_text;
    m_text = text;
    if (changed || m_updateMode == UpdateAlways)
        emit signal_updateSet(m_name);
    return true;
}

Variable& Variable::operator=(double value)
{
    setValue(value, CallerKey::Internal);
    return *this;
}
