// libFuzzer target for the receive side of the board link: the assembly of received bytes
// into answer lines. Input: a first byte that sets the line limit, then the received bytes.
// However the bytes are cut into reads, the same lines come out.
#include "LineAssembler.h"

#include <QByteArray>
#include <QList>

#include <cstdint>
#include <cstdlib>

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

struct Outcome
{
    QList<QByteArray> lines;
    int invalid = 0;
    int overlong = 0;
};

// Reads of the sizes the bytes themselves give (1 to 16), or one read of everything.
Outcome assemble(qsizetype maxLine, const QByteArray& bytes, bool oneRead)
{
    LineAssembler assembler(maxLine);
    Outcome out;
    for (qsizetype at = 0; at < bytes.size();) {
        const qsizetype n =
            oneRead ? bytes.size()
                    : qMin<qsizetype>(1 + (uchar(bytes.at(at)) & 15), bytes.size() - at);
        assembler.feed(bytes.constData() + at, n,
                       [&](const QByteArray& line) { out.lines << line; });
        out.invalid += assembler.takeInvalid();
        out.overlong += assembler.takeOverlong();
        at += n;
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1 || size > 65536)
        return 0;
    const qsizetype maxLine = 1 + data[0] % 64;
    const QByteArray bytes(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    const Outcome whole = assemble(maxLine, bytes, true);
    const Outcome pieces = assemble(maxLine, bytes, false);
    check(whole.lines == pieces.lines);
    check(whole.invalid == pieces.invalid && whole.overlong == pieces.overlong);
    qsizetype kept = 0;
    for (const QByteArray& line : whole.lines) {
        // Non-empty, within the limit, one line end, printable text or TAB before it.
        check(line.size() >= 2 && line.size() <= maxLine + 1 && line.endsWith('\n'));
        for (qsizetype i = 0; i + 1 < line.size(); ++i)
            check((line.at(i) >= 0x20 && line.at(i) < 0x7f) || line.at(i) == '\t');
        kept += line.size() - 1;
    }
    // Every byte is a kept line's, a line end, ACK, counted invalid or in a dropped line.
    check(kept + whole.invalid <= bytes.size());
    check(whole.overlong * (maxLine + 1) <= bytes.size());
    return 0;
}
