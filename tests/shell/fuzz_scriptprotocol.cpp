// libFuzzer target for the scripting pipe's request parser and typed values. Input: request
// lines as a client sends them; the handler answers each request with a value made from
// the request's own bytes, so that every kind of answer is formatted.
#include "ScriptProtocol.h"

#include <QByteArray>
#include <QList>
#include <QVariant>
#include <QtGlobal>

#include <cstdint>
#include <cstdlib>

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

// A value of each type the applets answer with, picked by the name.
QVariant valueFor(const QString& name)
{
    const QByteArray utf8 = name.toUtf8();
    const qint64 big = qint64(qHash(utf8)) - (qint64(1) << 40);
    const QVariant values[] = {
        QVariant(), utf8.size() % 2 == 0, big, uint(utf8.size()), utf8.toDouble() / 3.0, name,
        utf8,       QStringList{name}};
    return values[utf8.isEmpty() ? 0 : uchar(utf8.at(0)) % 8];
}

class Handler : public ScriptHandler
{
public:
    bool scriptSet(const QString& name, const QVariant& value) override
    {
        check(value.isValid());
        return name.size() % 2 == 0;
    }
    QVariant scriptGet(const QString& name) override { return valueFor(name); }
    QVariant scriptRun(const QString& name, const QVariant& args) override
    {
        check(args.isValid());
        return valueFor(name + args.toString());
    }
};

// An answer is "ok\n", "err\n" or a typed value with no line end.
void checkAnswer(const QByteArray& answer)
{
    if (answer == "ok\n" || answer == "err\n")
        return;
    check(!answer.isEmpty() && QByteArray("ifsx").contains(answer.at(0)));
    check(!answer.contains('\n') && !answer.contains('\r'));
    // What the program answers, a client can send back.
    QVariant value;
    check(ScriptProtocol::parseTyped(answer, &value));
}

// A typed value that parses formats back to one that parses to the same value.
void checkRoundTrip(const QByteArray& typed)
{
    QVariant value;
    if (!ScriptProtocol::parseTyped(typed, &value))
        return;
    QByteArray text;
    check(ScriptProtocol::formatTyped(value, &text));
    QVariant again;
    check(ScriptProtocol::parseTyped(text, &again));
    if (value.typeId() == QMetaType::QString)
        check(again.toString() == value.toString().replace(u'\r', u' ').replace(u'\n', u' '));
    else
        check(again == value);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 8192)
        return 0;
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    Handler handler;
    for (const QByteArray& line : input.split('\n')) {
        checkAnswer(ScriptProtocol::answer(line, handler));
        for (const QByteArray& field : line.split('\t'))
            checkRoundTrip(field);
    }
    return 0;
}
