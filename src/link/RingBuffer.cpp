#include "RingBuffer.h"

#include <algorithm>
#include <cstring>

RingBuffer::RingBuffer(qsizetype capacity)
    : m_capacity(std::max<qsizetype>(capacity, 1)), m_data(new char[size_t(m_capacity)])
{
}

qsizetype RingBuffer::freeSpace() const
{
    const quint64 head = m_head.load(std::memory_order_relaxed);
    const quint64 tail = m_tail.load(std::memory_order_acquire);
    return m_capacity - qsizetype(head - tail);
}

bool RingBuffer::write(const char* data, qsizetype size)
{
    if (size <= 0)
        return true;
    if (size > freeSpace())
        return false;
    const quint64 head = m_head.load(std::memory_order_relaxed);
    const qsizetype start = qsizetype(head % quint64(m_capacity));
    const qsizetype first = std::min(size, m_capacity - start);
    std::memcpy(m_data.get() + start, data, size_t(first));
    if (first < size)
        std::memcpy(m_data.get(), data + first, size_t(size - first));
    m_head.store(head + quint64(size), std::memory_order_release);
    return true;
}

qsizetype RingBuffer::available() const
{
    const quint64 head = m_head.load(std::memory_order_acquire);
    const quint64 tail = m_tail.load(std::memory_order_relaxed);
    return qsizetype(head - tail);
}

void RingBuffer::copyOut(quint64 from, char* dest, qsizetype size) const
{
    const qsizetype start = qsizetype(from % quint64(m_capacity));
    const qsizetype first = std::min(size, m_capacity - start);
    std::memcpy(dest, m_data.get() + start, size_t(first));
    if (first < size)
        std::memcpy(dest + first, m_data.get(), size_t(size - first));
}

qsizetype RingBuffer::read(char* dest, qsizetype maxSize)
{
    const quint64 tail = m_tail.load(std::memory_order_relaxed);
    const qsizetype size = std::min(available(), maxSize);
    if (size <= 0)
        return 0;
    copyOut(tail, dest, size);
    m_tail.store(tail + quint64(size), std::memory_order_release);
    return size;
}

bool RingBuffer::readLine(QByteArray* line)
{
    const quint64 head = m_head.load(std::memory_order_acquire);
    quint64 tail = m_tail.load(std::memory_order_relaxed);
    auto at = [this](quint64 pos) {
        return m_data[size_t(pos % quint64(m_capacity))];
    };
    while (tail != head && (at(tail) == '\r' || at(tail) == '\n'))
        ++tail;
    m_tail.store(tail, std::memory_order_release);
    for (quint64 end = tail; end != head; ++end) {
        const char c = at(end);
        if (c != '\r' && c != '\n')
            continue;
        if (line) {
            line->resize(qsizetype(end - tail));
            copyOut(tail, line->data(), line->size());
        }
        m_tail.store(end + 1, std::memory_order_release);
        return true;
    }
    return false;
}

void RingBuffer::clear()
{
    m_tail.store(m_head.load(std::memory_order_acquire), std::memory_order_release);
}

void RingBuffer::reset()
{
    m_head.store(0, std::memory_order_relaxed);
    m_tail.store(0, std::memory_order_relaxed);
}
