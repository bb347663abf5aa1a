#include "Register.h"

#include "ModelLog.h"
#include "TextConvert.h"

namespace {

constexpr int MaxBits = 32;

// A bit number in a selector: plain decimal digits only.
bool parseBitNumber(QStringView text, int* number)
{
    text = text.trimmed();
    if (text.isEmpty() || text.size() > 4)
        return false;
    int n = 0;
    for (QChar c : text) {
        if (c < u'0' || c > u'9')
            return false;
        n = n * 10 + (c.unicode() - '0');
    }
    *number = n;
    return true;
}

// Field and bit names must not look like a bit number or carry descriptor syntax.
bool isValidName(const QString& name)
{
    if (name.isEmpty())
        return false;
    const QChar first = name.front();
    if (!(first.isLetter() || first == u'_'))
        return false;
    for (QChar c : name) {
        if (!(c.isLetterOrNumber() || c == u'_'))
            return false;
    }
    return true;
}

// "hi:lo" around the colon at `colon`; false unless both sides are bit numbers.
bool parseBitRange(QStringView selector, int colon, int* hi, int* lo)
{
    return parseBitNumber(selector.left(colon), hi) && parseBitNumber(selector.mid(colon + 1), lo);
}

// One "[" at `open`, closed by the "]" at `close` that ends the text.
bool isBracketedTail(const QString& text, int open, int close)
{
    return close == text.size() - 1 && close > open && text.indexOf(u'[', open + 1) < 0;
}

bool fitsWidth(quint32 value, int width)
{
    return width >= 32 || (value >> width) == 0;
}

using TextConvert::Attribute;

} // namespace

Register::Register() : QObject(nullptr) {}

Register::Register(const QString& definition, const QString& name)
    : QObject(nullptr), m_name(name), m_definition(definition)
{
    parse(definition);
}

Register::Register(const Register& other) : QObject(nullptr)
{
    copyFrom(other);
}

Register& Register::operator=(const Register& other)
{
    if (this != &other)
        copyFrom(other);
    return *this;
}

Register::~Register() = default;

void Register::copyFrom(const Register& other)
{
    m_name = other.m_name;
    m_definition = other.m_definition;
    m_bits = other.m_bits;
    m_fields = other.m_fields;
    m_readOnly = other.m_readOnly;
    m_updateMode = other.m_updateMode;
}

void Register::reportFault(const QString& item, const QString& why) const
{
    qCWarning(lcModel).noquote() << QStringLiteral(
                                        "Register definition \"%1\": item \"%2\" ignored: %3")
                                        .arg(m_definition, item, why);
}

void Register::parse(const QString& definition)
{
    const QStringList items = definition.split(u';');
    bool first = true;
    for (const QString& rawItem : items) {
        const QString item = rawItem.trimmed();
        if (item.isEmpty())
            continue;
        if (item.startsWith(u'@'))
            parseAttributeItem(item, first);
        else
            parseFieldItem(item);
        first = false;
    }
}

int Register::fieldIndex(const QString& name) const
{
    for (int i = 0; i < m_fields.size(); ++i) {
        if (m_fields.at(i).name == name)
            return i;
    }
    return -1;
}

void Register::parseAttributeItem(const QString& item, bool first)
{
    struct NewBit
    {
        Bit bit;
        bool readOnly = false;
    };
    QVector<NewBit> newBits;
    QList<Attribute> pending; // attributes written before the item's first "bit" key
    bool registerReadOnly = false;
    bool readOnlySeen = false;
    QString registerName;

    const QList<Attribute> pairs = TextConvert::attributes(item);
    for (const Attribute& pair : pairs) {
        if (pair.key == QLatin1String("bit")) {
            if (!isValidName(pair.value)) {
                reportFault(item, QStringLiteral("invalid bit name \"%1\"").arg(pair.value));
                return;
            }
            NewBit nb;
            nb.bit.name = pair.value;
            newBits.append(nb);
            for (const Attribute& p : qAsConst(pending))
                newBits.last().bit.attributes.insert(p.key, p.value);
            pending.clear();
        } else if (pair.key == QLatin1String("register")) {
            registerName = pair.value;
        } else if (pair.key.isEmpty()) {
            reportFault(item, QStringLiteral("attribute without a key"));
            return;
        } else if (newBits.isEmpty()) {
            pending.append(pair);
        } else {
            newBits.last().bit.attributes.insert(pair.key, pair.value);
        }
    }

    // Keys of an item without a bit describe the register itself.
    for (const Attribute& p : qAsConst(pending)) {
        if (p.key == QLatin1String("readonly")) {
            bool ro = false;
            if (!TextConvert::toBool(p.value, &ro)) {
                reportFault(item, QStringLiteral("\"readonly\" is not a boolean"));
                return;
            }
            registerReadOnly = ro;
            readOnlySeen = true;
        }
    }

    for (NewBit& nb : newBits) {
        const QString valueText = nb.bit.attributes.take(QStringLiteral("value"));
        if (!valueText.isEmpty()) {
            quint32 v = 0;
            if (!TextConvert::toUInt32(valueText, &v) || v > 1) {
                reportFault(item, QStringLiteral("bit value \"%1\" is not 0 or 1").arg(valueText));
                return;
            }
            nb.bit.value = int(v);
        }
        const auto ro = nb.bit.attributes.constFind(QStringLiteral("readonly"));
        if (ro != nb.bit.attributes.constEnd()) {
            bool flag = false;
            if (!TextConvert::toBool(ro.value(), &flag)) {
                reportFault(item, QStringLiteral("\"readonly\" is not a boolean"));
                return;
            }
            nb.readOnly = flag;
        }
    }
    for (int i = 0; i < newBits.size(); ++i) {
        const QString& bitName = newBits.at(i).bit.name;
        if (fieldIndex(bitName) >= 0) {
            reportFault(item, QStringLiteral("name \"%1\" used twice").arg(bitName));
            return;
        }
        for (int j = 0; j < i; ++j) {
            if (newBits.at(j).bit.name == bitName) {
                reportFault(item, QStringLiteral("name \"%1\" used twice").arg(bitName));
                return;
            }
        }
    }
    if (m_bits.size() + newBits.size() > MaxBits) {
        reportFault(item, QStringLiteral("register wider than %1 bits").arg(MaxBits));
        return;
    }

    if (!registerName.isEmpty() && m_name.isEmpty())
        m_name = registerName;
    if (readOnlySeen) {
        if (first)
            m_readOnly = registerReadOnly;
        else
            reportFault(item, QStringLiteral("\"@readonly\" is only read as the first item"));
    }
    for (const NewBit& nb : qAsConst(newBits)) {
        Field field;
        field.name = nb.bit.name;
        field.hi = field.lo = m_bits.size();
        field.readOnly = nb.readOnly;
        m_fields.append(field);
        m_bits.append(nb.bit);
    }
}

void Register::parseFieldItem(const QString& item)
{
    const int hash = item.indexOf(u'#');
    QString head = (hash < 0 ? item : item.left(hash)).trimmed();
    const QString description = hash < 0 ? QString() : item.mid(hash + 1).trimmed();

    QString valueText;
    bool hasValue = false;
    const int eq = head.indexOf(u'=');
    if (eq >= 0) {
        valueText = head.mid(eq + 1).trimmed();
        head = head.left(eq).trimmed();
        hasValue = true;
    }

    QString name = head;
    int width = 1;
    const int open = head.indexOf(u'[');
    if (open >= 0) {
        const int close = head.indexOf(u']');
        if (close < 0)
            return reportFault(item, QStringLiteral("unclosed bracket"));
        if (!isBracketedTail(head, open, close))
            return reportFault(item, QStringLiteral("malformed bit range"));
        name = head.left(open).trimmed();
        const QString selector = head.mid(open + 1, close - open - 1);
        const int colon = selector.indexOf(u':');
        if (colon >= 0) {
            int hi = 0;
            int lo = 0;
            if (!parseBitRange(selector, colon, &hi, &lo))
                return reportFault(item, QStringLiteral("bit range is not two numbers"));
            if (hi < lo)
                return reportFault(item, QStringLiteral("high bit below low bit"));
            if (hi >= MaxBits)
                return reportFault(item, QStringLiteral("bit number past %1").arg(MaxBits - 1));
            width = hi - lo + 1;
        } else {
            int n = 0;
            if (!parseBitNumber(selector, &n))
                return reportFault(item, QStringLiteral("bit number is not a number"));
            if (n >= MaxBits)
                return reportFault(item, QStringLiteral("bit number past %1").arg(MaxBits - 1));
        }
    } else if (head.contains(u']')) {
        return reportFault(item, QStringLiteral("malformed bit range"));
    }

    if (!isValidName(name))
        return reportFault(item, QStringLiteral("invalid field name \"%1\"").arg(name));
    if (fieldIndex(name) >= 0)
        return reportFault(item, QStringLiteral("name \"%1\" used twice").arg(name));
    if (m_bits.size() + width > MaxBits)
        return reportFault(item, QStringLiteral("register wider than %1 bits").arg(MaxBits));

    quint32 initial = 0;
    if (hasValue) {
        if (!TextConvert::toUInt32(valueText, &initial))
            return reportFault(item, QStringLiteral("value \"%1\" is not a number").arg(valueText));
        if (!fitsWidth(initial, width))
            return reportFault(item, QStringLiteral("value %1 wider than the field").arg(initial));
    }

    Field field;
    field.name = name;
    field.description = description;
    field.lo = m_bits.size();
    field.hi = field.lo + width - 1;
    m_fields.append(field);
    for (int i = 0; i < width; ++i) {
        Bit b;
        b.name = name;
        b.value = int((initial >> i) & 1u);
        m_bits.append(b);
    }
}

QString Register::bitName(int index) const
{
    if (index < 0 || index >= m_bits.size())
        return QString();
    return m_bits.at(index).name;
}

QString Register::bitAttribute(int index, const QString& key) const
{
    if (index < 0 || index >= m_bits.size())
        return QString();
    return m_bits.at(index).attributes.value(key);
}

bool Register::splitDescriptor(const QString& descriptor, QString* registerName, QString* selector)
{
    const QString d = descriptor.trimmed();
    if (d.isEmpty())
        return false;
    const int open = d.indexOf(u'[');
    const int close = d.indexOf(u']');
    QString reg;
    QString sel;
    if (open < 0) {
        if (close >= 0)
            return false;
        reg = d;
    } else {
        if (!isBracketedTail(d, open, close))
            return false;
        reg = d.left(open).trimmed();
        sel = d.mid(open + 1, close - open - 1).trimmed();
        if (sel.isNull())
            sel = QLatin1String(""); // empty but not null: the whole register
    }
    // The register part may be left out, but what stands there must be a name:
    // "CR2(3:0)" is no descriptor (it would read bit 0).
    if (!reg.isEmpty() && !isValidName(reg))
        return false;
    if (registerName)
        *registerName = reg;
    if (selector)
        *selector = sel;
    return true;
}

bool Register::resolve(const QString& descriptor, int* hi, int* lo) const
{
    QString selector;
    if (!splitDescriptor(descriptor, nullptr, &selector) || m_bits.isEmpty())
        return false;
    int h = 0;
    int l = 0;
    if (selector.isNull()) {
        // No brackets: the range stays 0..0.
    } else if (selector.isEmpty()) {
        h = m_bits.size() - 1;
    } else if (const int colon = selector.indexOf(u':'); colon >= 0) {
        if (!parseBitRange(selector, colon, &h, &l) || h < l)
            return false;
    } else if (parseBitNumber(selector, &h)) {
        l = h;
    } else {
        // Not a bit number: a field or bit name (names never start with a digit).
        const int index = fieldIndex(selector);
        if (index < 0)
            return false;
        h = m_fields.at(index).hi;
        l = m_fields.at(index).lo;
    }
    if (h >= m_bits.size() || l < 0)
        return false;
    *hi = h;
    *lo = l;
    return true;
}

unsigned int Register::getField(const QString& descriptor) const
{
    int hi = 0;
    int lo = 0;
    if (!resolve(descriptor, &hi, &lo))
        return 0;
    quint32 result = 0;
    for (int i = lo; i <= hi; ++i)
        result |= quint32(m_bits.at(i).value & 1) << (i - lo);
    return result;
}

bool Register::setField(const QString& descriptor, unsigned int value)
{
    int hi = 0;
    int lo = 0;
    if (!resolve(descriptor, &hi, &lo))
        return false;
    const int width = hi - lo + 1;
    if (!fitsWidth(value, width))
        return false;
    bool changed = false;
    for (int i = lo; i <= hi; ++i) {
        const int b = int((quint32(value) >> (i - lo)) & 1u);
        if (m_bits.at(i).value != b) {
            m_bits[i].value = b;
            changed = true;
        }
    }
    if (changed || m_updateMode == UpdateAlways)
        emit signal_updateSet(m_name);
    return true;
}

int Register::bit(int index) const
{
    if (index < 0 || index >= m_bits.size())
        return 0;
    return m_bits.at(index).value;
}

unsigned int Register::value(bool lsbFirst)
{
    emit signal_updateGet(m_name);
    const int n = m_bits.size();
    quint32 result = 0;
    for (int i = 0; i < n; ++i) {
        const quint32 b = quint32(m_bits.at(i).value & 1);
        result |= lsbFirst ? b << i : b << (n - 1 - i);
    }
    return result;
}

Register::FieldInfo Register::fieldInfo(const QString& descriptor) const
{
    FieldInfo info;
    int hi = 0;
    int lo = 0;
    if (!resolve(descriptor, &hi, &lo))
        return info;
    info.valid = true;
    info.hi = hi;
    info.lo = lo;
    info.readOnly = m_readOnly;
    for (const Field& field : m_fields) {
        if (field.hi == hi && field.lo == lo) {
            info.name = field.name;
            info.description = field.description;
        }
        if (field.readOnly && field.lo <= hi && field.hi >= lo)
            info.readOnly = true;
    }
    return info;
}
