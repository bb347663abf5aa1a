// libFuzzer target for the ".dorvel" configuration parser. Input: the file's text.
#include "ConfigLoader.h"

#include <QSet>
#include <QString>
#include <QtGlobal>

#include <cstdint>
#include <cstdlib>

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 16384)
        return 0;
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const ConfigLoader::Result r = ConfigLoader::parse(text);
    const qsizetype lines = text.count(u'\n') + 1;
    if (!r.ok) {
        // Refused whole, with a message that names a line of the file (or none).
        check(r.entries.isEmpty() && !r.error.isEmpty());
        check(r.errorLine >= 0 && r.errorLine <= lines);
        return 0;
    }
    check(!r.entries.isEmpty() && r.error.isEmpty());
    const QStringList known = ConfigLoader::registerNames();
    QSet<QString> seen;
    QString written;
    for (const ConfigLoader::Entry& e : r.entries) {
        check(known.contains(e.name) && !seen.contains(e.name));
        seen.insert(e.name);
        check(e.value <= ConfigLoader::MaxValue);
        check(e.line > 0 && e.line <= lines);
        written += QStringLiteral("%1\n{\n0x%2\n}\n").arg(e.name).arg(e.value, 0, 16);
    }
    // What was read, written back in the file format, reads the same.
    const ConfigLoader::Result again = ConfigLoader::parse(written);
    check(again.ok && again.entries.size() == r.entries.size());
    for (qsizetype i = 0; i < r.entries.size(); ++i)
        check(again.entries.at(i).name == r.entries.at(i).name &&
              again.entries.at(i).value == r.entries.at(i).value);
    return 0;
}
