#include "LineAssembler.h"

#include <utility>

namespace {
constexpr char ACK = 0x06;
} // namespace

LineAssembler::LineAssembler(qsizetype maxLine) : m_maxLine(qMax<qsizetype>(maxLine, 1))
{
    m_line.reserve(m_maxLine + 1);
}

bool LineAssembler::take(char c)
{
    if (c == '\r' || c == '\n') {
        if (m_discarding) {
            m_discarding = false;
            m_line.clear();
        }
        return false;
    }
    if ((c >= 0x20 && c < 0x7f) || c == '\t') {
        if (m_discarding)
            return true;
        if (m_line.size() >= m_maxLine) {
            ++m_overlong;
            m_line.clear();
            m_discarding = true;
            return true;
        }
        m_line.append(c);
    } else if (c != ACK) {
        // ACK answers the keep-alive; any byte already counted as a sign of life.
        ++m_invalid;
    }
    return true;
}

void LineAssembler::dropPartialLine()
{
    if (m_line.isEmpty())
        return;
    // The rest of that line is still on its way: skip it up to its line end.
    m_line.clear();
    m_discarding = true;
}

void LineAssembler::reset()
{
    m_line.clear();
    m_discarding = false;
    m_invalid = 0;
    m_overlong = 0;
}

int LineAssembler::takeInvalid()
{
    return std::exchange(m_invalid, 0);
}

int LineAssembler::takeOverlong()
{
    return std::exchange(m_overlong, 0);
}
