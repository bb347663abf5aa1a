// libFuzzer target for the register definition and descriptor parsers. Input: a
// definition, then descriptors (as scripts send them), one a line.
#include "Register.h"

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <cstdint>
#include <cstdlib>

namespace {

void discardMessage(QtMsgType, const QMessageLogContext&, const QString&) {}

void check(bool condition)
{
    if (!condition)
        std::abort();
}

void fuzzRegister(const QString& definition, const QStringList& descriptors)
{
    Register reg(definition, QString());
    // The fields cover the register's bits in order, without a gap or an overlap.
    check(reg.size() >= 0 && reg.size() <= 32);
    int next = 0;
    for (const Register::Field& f : reg.fields()) {
        check(f.lo == next && f.hi >= f.lo && f.hi < reg.size());
        next = f.hi + 1;
    }
    check(next == reg.size());
    for (int i = 0; i < reg.size(); ++i)
        check(reg.bit(i) == 0 || reg.bit(i) == 1);

    quint32 seed = 0x9E3779B9u;
    for (const QString& d : descriptors) {
        QString name, selector;
        Register::splitDescriptor(d, &name, &selector);
        const Register::FieldInfo info = reg.fieldInfo(d);
        const unsigned int before = reg.value();
        seed = seed * 1664525u + 1013904223u;
        const unsigned int width = info.valid ? unsigned(info.hi - info.lo + 1) : 1u;
        const unsigned int v = width >= 32 ? seed : seed & ((1u << width) - 1u);
        const bool stored = reg.setField(d, v);
        check(stored ? info.valid && reg.getField(d) == v : reg.value() == before);
        // A value one bit too wide is always refused; what names no field reads 0.
        check(!info.valid || width >= 32 || !reg.setField(d, 1u << width));
        check(info.valid || reg.getField(d) == 0);
        reg.value(false);
    }
    Register copy(reg);
    check(copy.value() == reg.value() && copy.size() == reg.size());
    Register assigned;
    assigned = copy;
    check(assigned.value(false) == reg.value(false));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    qInstallMessageHandler(discardMessage);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 4096)
        return 0;
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    QStringList lines = text.split(u'\n');
    const QString definition = lines.takeFirst();
    fuzzRegister(definition, lines);
    return 0;
}
