#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <atomic>
#include <memory>

// Fixed-size byte ring for exactly one producer thread and one consumer thread.
// The producer only moves the head, the consumer only moves the tail (both atomic),
// so neither needs a lock and no byte is torn. clear() discards unread bytes from
// the consumer side. A write that does not fit is refused whole: unread data is
// never overwritten.
class RingBuffer
{
public:
    static constexpr qsizetype DefaultCapacity = 5000;

    explicit RingBuffer(qsizetype capacity = DefaultCapacity);

    qsizetype capacity() const { return m_capacity; }

    // Producer side.
    qsizetype freeSpace() const;
    // Appends all of data, or nothing when it does not fit (returns false).
    bool write(const char* data, qsizetype size);
    bool write(const QByteArray& data) { return write(data.constData(), data.size()); }

    // Consumer side.
    qsizetype available() const;
    // Moves up to maxSize bytes into dest; returns the count.
    qsizetype read(char* dest, qsizetype maxSize);
    // Takes the next line ending in CR or LF, without its line end; empty lines
    // are skipped. False (nothing consumed but skipped line ends) when no complete
    // line is in the ring.
    bool readLine(QByteArray* line);
    void clear();

    // Empties the ring; only while neither side is in use.
    void reset();

private:
    void copyOut(quint64 from, char* dest, qsizetype size) const;

    const qsizetype m_capacity;
    std::unique_ptr<char[]> m_data;
    // Monotonic byte counters; index = counter % capacity.
    std::atomic<quint64> m_head{0};
    std::atomic<quint64> m_tail{0};
};
