#include "RingBuffer.h"

#include <QTest>

#include <thread>

class TestRingBuffer : public QObject
{
    Q_OBJECT
private slots:
    void fullRingRefusesWholeWriteAndWrapsAround()
    {
        RingBuffer ring(8);
        QVERIFY(ring.write("12345") && !ring.write("6789") && ring.write("678"));
        char out[8];
        QCOMPARE(ring.read(out, 6), 6);
        QCOMPARE(QByteArray(out, 6), QByteArray("123456"));
        QVERIFY(ring.write("9\nab\n")); // across the end of the storage
        QByteArray first, second;
        QVERIFY(ring.readLine(&first) && ring.readLine(&second));
        QCOMPARE(first + ' ' + second, QByteArray("789 ab"));
    }

    void concurrentProducerAndConsumerLoseNothing()
    {
        // Lines of varying length through a small ring, so it wraps and fills often; CR LF
        // ends each line (the LF left alone is an empty line, skipped).
        RingBuffer ring(97);
        constexpr int Count = 20000;
        auto lineOf = [](int i) {
            return QByteArray(i % 13, 'x') + QByteArray::number(i);
        };
        std::thread producer([&] {
            for (int i = 0; i < Count; ++i)
                while (!ring.write(lineOf(i) + "\r\n"))
                    std::this_thread::yield();
        });
        int next = 0, wrong = 0;
        QByteArray line;
        while (next < Count) {
            if (ring.readLine(&line))
                wrong += line != lineOf(next++);
            else
                std::this_thread::yield();
        }
        producer.join();
        QCOMPARE(wrong, 0);
        QVERIFY(!ring.readLine(&line)); // only the last line's LF was left
        QCOMPARE(ring.available(), 0);
    }
};

QTEST_GUILESS_MAIN(TestRingBuffer)
#include "tst_ringbuffer.moc"
