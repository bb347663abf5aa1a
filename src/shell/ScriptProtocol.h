#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>

// What serves the scripting requests ("set", "get", "run"). MainApp is the program's
// handler; tests supply their own.
class ScriptHandler
{
public:
    virtual ~ScriptHandler() = default;
    virtual bool scriptSet(const QString& name, const QVariant& value) = 0;
    // An invalid QVariant is a failure.
    virtual QVariant scriptGet(const QString& name) = 0;
    virtual QVariant scriptRun(const QString& name, const QVariant& args) = 0;
    // False once no request may be started any more (the program is quitting).
    virtual bool acceptsRequests() const { return true; }
};

// The text protocol of the scripting pipe: one request per line, fields separated by TAB.
//   set <TAB> name <TAB> typed value   -> "ok\n" or "err\n"
//   get <TAB> name                     -> typed value or "err\n"
//   run <TAB> name [<TAB> typed value] -> typed result or "err\n"
// A typed value is one letter and its text: i (integer, decimal, "0x…" or "0b…"),
// f (real), s (text), x (hex bytes), with no line end. Boolean results are "i1" / "i0".
namespace ScriptProtocol {

// Longest request line accepted (without its line end).
constexpr int MaxLineLength = 64 * 1024;

bool parseTyped(const QByteArray& text, QVariant* value);
// False for a value that has no typed form (invalid, lists, ...).
bool formatTyped(const QVariant& value, QByteArray* text);
// The answer to one request line (without its line end): "ok\n", "err\n" or a typed
// value without line end.
QByteArray answer(const QByteArray& line, ScriptHandler& handler);

} // namespace ScriptProtocol
