#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <utility>

// Turns the bytes received from the board into answer lines, with no threads and no
// device: the port thread feeds it what it reads. A line ends at CR or LF; empty lines
// are skipped; ACK (the keep-alive answer) is dropped; other control bytes and bytes
// above 0x7E are counted as invalid and dropped. A line longer than the limit is
// thrown away up to its line end.
class LineAssembler
{
public:
    explicit LineAssembler(qsizetype maxLine);

    qsizetype maxLine() const { return m_maxLine; }

    // Calls onLine(const QByteArray&) with each complete line, ending in "\n".
    template <typename OnLine> void feed(const char* data, qsizetype size, OnLine&& onLine);

    // A new command goes out: a half-received line cannot belong to its answer, so it
    // is dropped up to its line end.
    void dropPartialLine();
    void reset();

    // Invalid bytes and over-long lines since the last call.
    int takeInvalid();
    int takeOverlong();

private:
    // False when the byte ends a line; then `m_line` holds the line (or nothing).
    bool take(char c);

    const qsizetype m_maxLine;
    QByteArray m_line;
    bool m_discarding = false;
    int m_invalid = 0;
    int m_overlong = 0;
};

template <typename OnLine>
void LineAssembler::feed(const char* data, qsizetype size, OnLine&& onLine)
{
    for (qsizetype i = 0; i < size; ++i) {
        if (take(data[i]) || m_line.isEmpty())
            continue;
        m_line.append('\n');
        onLine(std::as_const(m_line));
        m_line.clear();
    }
}
