#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QtGlobal>

// Small, pure conversions between texts and values used by the board answers,
// the scripting pipe and the configuration files.
namespace TextConvert {

// Decimal, "0x…" hexadecimal or "0b…" binary, optionally negative; surrounding
// blanks ignored. False for anything else or an overflow.
bool toInt64(const QString& text, qint64* value);
bool toUInt32(const QString& text, quint32* value);
// "TRUE"/"FALSE" (any case) or a number (non-zero is true).
bool toBool(const QString& text, bool* value);
// Hex bytes with blanks ignored ("02 a1ff"); false for an odd count or a non-hex digit.
bool hexToBytes(const QString& text, QByteArray* bytes);
// Upper-case hex bytes separated by one blank ("02 A1 FF").
QString bytesToHex(const QByteArray& bytes);
// "K1=V1 K2=V2" (blank-separated items; an item without "=" gets an empty value).
QList<QPair<QString, QString>> keyValues(const QString& text);
// The value of one key in such a list; false when the key is absent.
bool valueOf(const QString& text, const QString& key, QString* value);
// One "@key=value" item of a register or variable definition.
struct Attribute
{
    QString key;   // trimmed
    QString value; // trimmed; empty for an item without "="
    QString item;  // the whole item, trimmed, without its "@" (for messages)
};
// The items of "@K1=V1 @K2=V2"; blank items are skipped.
QList<Attribute> attributes(const QString& text);
// The system's text for an errno value, for messages.
QString systemError(int error);

} // namespace TextConvert
