#include "ScriptProtocol.h"

#include "TextConvert.h"

#include <QList>
#include <QLocale>

#include <cmath>

namespace ScriptProtocol {

namespace {

const QByteArray Ok = "ok\n";
const QByteArray Err = "err\n";

bool validName(const QByteArray& name)
{
    if (name.isEmpty())
        return false;
    for (char c : name) {
        if (static_cast<unsigned char>(c) < 0x20)
            return false;
    }
    return true;
}

} // namespace

bool parseTyped(const QByteArray& text, QVariant* value)
{
    if (text.isEmpty())
        return false;
    const QByteArray body = text.mid(1);
    switch (text.at(0)) {
    case 'i': {
        qint64 v = 0;
        if (!TextConvert::toInt64(QString::fromLatin1(body), &v))
            return false;
        *value = QVariant::fromValue<qlonglong>(v);
        return true;
    }
    case 'f': {
        bool ok = false;
        const double d = body.trimmed().toDouble(&ok);
        if (!ok || !std::isfinite(d))
            return false;
        *value = d;
        return true;
    }
    case 's':
        *value = QString::fromUtf8(body);
        return true;
    case 'x': {
        QByteArray bytes;
        if (!TextConvert::hexToBytes(QString::fromLatin1(body), &bytes))
            return false;
        *value = bytes;
        return true;
    }
    default:
        return false;
    }
}

bool formatTyped(const QVariant& value, QByteArray* text)
{
    switch (value.typeId()) {
    case QMetaType::Bool:
        *text = value.toBool() ? "i1" : "i0";
        return true;
    case QMetaType::Int:
    case QMetaType::Short:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::SChar:
        *text = "i" + QByteArray::number(value.toLongLong());
        return true;
    case QMetaType::UInt:
    case QMetaType::UShort:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
    case QMetaType::UChar:
        *text = "i" + QByteArray::number(value.toULongLong());
        return true;
    case QMetaType::Double:
    case QMetaType::Float: {
        const double d = value.toDouble();
        if (!std::isfinite(d))
            return false;
        *text = "f" + QByteArray::number(d, 'g', QLocale::FloatingPointShortest);
        return true;
    }
    case QMetaType::QString:
    case QMetaType::QChar: {
        // A typed answer has no line end of its own; one inside the text would make a
        // client that reads up to a line end (as for "ok" and "err") stop too early.
        QByteArray utf8 = value.toString().toUtf8();
        utf8.replace('\r', ' ').replace('\n', ' ');
        *text = "s" + utf8;
        return true;
    }
    case QMetaType::QByteArray:
        *text = "x" + value.toByteArray().toHex();
        return true;
    default:
        return false;
    }
}

QByteArray answer(const QByteArray& line, ScriptHandler& handler)
{
    const QList<QByteArray> fields = line.split('\t');
    const QByteArray& verb = fields.at(0);
    if (fields.size() < 2 || !validName(fields.at(1)))
        return Err;
    const QString name = QString::fromUtf8(fields.at(1));

    if (verb == "set") {
        QVariant value;
        if (fields.size() != 3 || !parseTyped(fields.at(2), &value))
            return Err;
        return handler.scriptSet(name, value) ? Ok : Err;
    }
    if (verb == "get") {
        if (fields.size() != 2)
            return Err;
        QByteArray text;
        return formatTyped(handler.scriptGet(name), &text) ? text : Err;
    }
    if (verb == "run") {
        QVariant args = QString();
        if (fields.size() > 3 || (fields.size() == 3 && !parseTyped(fields.at(2), &args)))
            return Err;
        // A command's false result is an answer ("i0"), not a failed request: some
        // commands run and still report false.
        const QVariant result = handler.scriptRun(name, args);
        QByteArray text;
        return formatTyped(result, &text) ? text : Err;
    }
    return Err;
}

} // namespace ScriptProtocol
