#include "TextConvert.h"

#include <QRegularExpression>

#include <cmath>
#include <cstring>
#include <limits>

namespace TextConvert {

namespace {

int digitValue(QChar c)
{
    const ushort u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

// Unsigned magnitude in the given base; false on an empty text, a foreign digit or an
// overflow past 64 bits.
bool parseMagnitude(QStringView digits, int base, quint64* magnitude)
{
    if (digits.isEmpty())
        return false;
    quint64 result = 0;
    for (QChar c : digits) {
        const int d = digitValue(c);
        if (d < 0 || d >= base)
            return false;
        if (result > (std::numeric_limits<quint64>::max() - quint64(d)) / quint64(base))
            return false;
        result = result * quint64(base) + quint64(d);
    }
    *magnitude = result;
    return true;
}

} // namespace

bool toInt64(const QString& text, qint64* value)
{
    QStringView t = QStringView(text).trimmed();
    bool negative = false;
    if (!t.isEmpty() && (t.front() == u'-' || t.front() == u'+')) {
        negative = t.front() == u'-';
        t = t.mid(1);
    }
    int base = 10;
    if (t.size() > 2 && t.front() == u'0') {
        const QChar p = t.at(1).toLower();
        if (p == u'x')
            base = 16;
        else if (p == u'b')
            base = 2;
        if (base != 10)
            t = t.mid(2);
    }
    quint64 magnitude = 0;
    if (!parseMagnitude(t, base, &magnitude))
        return false;
    const quint64 limit = negative ? quint64(std::numeric_limits<qint64>::max()) + 1u
                                   : quint64(std::numeric_limits<qint64>::max());
    if (magnitude > limit)
        return false;
    if (value) {
        if (negative)
            *value = magnitude == limit ? std::numeric_limits<qint64>::min() : -qint64(magnitude);
        else
            *value = qint64(magnitude);
    }
    return true;
}

bool toUInt32(const QString& text, quint32* value)
{
    qint64 v = 0;
    if (!toInt64(text, &v) || v < 0 || v > qint64(std::numeric_limits<quint32>::max()))
        return false;
    if (value)
        *value = quint32(v);
    return true;
}

bool toBool(const QString& text, bool* value)
{
    const QString t = text.trimmed();
    bool result = false;
    if (t.compare(QLatin1String("TRUE"), Qt::CaseInsensitive) == 0) {
        result = true;
    } else if (t.compare(QLatin1String("FALSE"), Qt::CaseInsensitive) == 0) {
        result = false;
    } else {
        qint64 i = 0;
        if (toInt64(t, &i)) {
            result = i != 0;
        } else {
            bool ok = false;
            const double d = t.toDouble(&ok);
            if (!ok || std::isnan(d))
                return false;
            result = d != 0.0;
        }
    }
    if (value)
        *value = result;
    return true;
}

bool hexToBytes(const QString& text, QByteArray* bytes)
{
    QByteArray result;
    result.reserve(text.size() / 2);
    int high = -1;
    for (QChar c : text) {
        if (c.isSpace())
            continue;
        const int d = digitValue(c);
        if (d < 0)
            return false;
        if (high < 0) {
            high = d;
        } else {
            result.append(char((high << 4) | d));
            high = -1;
        }
    }
    if (high >= 0)
        return false;
    if (bytes)
        *bytes = result;
    return true;
}

QString bytesToHex(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

QList<QPair<QString, QString>> keyValues(const QString& text)
{
    // Board answers pass through here on every transaction: compile the pattern once.
    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    QList<QPair<QString, QString>> result;
    const QStringList items = text.split(blanks, Qt::SkipEmptyParts);
    for (const QString& item : items) {
        const int eq = item.indexOf(u'=');
        if (eq < 0)
            result.append({item, QString()});
        else
            result.append({item.left(eq), item.mid(eq + 1)});
    }
    return result;
}

bool valueOf(const QString& text, const QString& key, QString* value)
{
    const auto pairs = keyValues(text);
    for (const auto& pair : pairs) {
        if (pair.first == key) {
            if (value)
                *value = pair.second;
            return true;
        }
    }
    return false;
}

QList<Attribute> attributes(const QString& text)
{
    QList<Attribute> result;
    const QStringList parts = text.split(u'@', Qt::SkipEmptyParts);
    for (const QString& rawPart : parts) {
        const QString part = rawPart.trimmed();
        if (part.isEmpty())
            continue;
        const int eq = part.indexOf(u'=');
        if (eq < 0)
            result.append({part, QString(), part});
        else
            result.append({part.left(eq).trimmed(), part.mid(eq + 1).trimmed(), part});
    }
    return result;
}

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace TextConvert
