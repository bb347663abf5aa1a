#include "RingBuffer.h"

#include <QTest>

#include <thread>

class TestRingBuffer : public QObject
{
    Q_OBJECT
private slots:
    void readLineSplitsAtCrOrLf_data();
    void readLineSplitsAtCrOrLf();
    void partialLineStaysUntilItsEnd();
    void fullRingRefusesWholeWriteAndKeepsData();
    void wrapsAroundTheEnd();
    void clearDropsOnlyUnreadBytes();
    void concurrentProducerAndConsumerLoseNothing();
};

void TestRingBuffer::readLineSplitsAtCrOrLf_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("lf") << QByteArray("a=1\nb=2\n") << QStringList{"a=1", "b=2"};
    QTest::newRow("crlf") << QByteArray("a=1\r\nb=2\r\n") << QStringList{"a=1", "b=2"};
    QTest::newRow("cr") << QByteArray("a\rb\r") << QStringList{"a", "b"};
    QTest::newRow("empty lines skipped") << QByteArray("\r\n\n\rx\n\n") << QStringList{"x"};
    QTest::newRow("no end") << QByteArray("abc") << QStringList{};
}

void TestRingBuffer::readLineSplitsAtCrOrLf()
{
    QFETCH(QByteArray, input);
    QFETCH(QStringList, lines);
    RingBuffer ring(64);
    QVERIFY(ring.write(input));
    QStringList got;
    QByteArray line;
    while (ring.readLine(&line))
        got << QString::fromLatin1(line);
    QCOMPARE(got, lines);
}

void TestRingBuffer::partialLineStaysUntilItsEnd()
{
    RingBuffer ring(16);
    QVERIFY(ring.write("VER=1."));
    QByteArray line;
    QVERIFY(!ring.readLine(&line));
    QCOMPARE(ring.available(), 6);
    QVERIFY(ring.write("2\r\n"));
    QVERIFY(ring.readLine(&line));
    QCOMPARE(line, QByteArray("VER=1.2"));
}

void TestRingBuffer::fullRingRefusesWholeWriteAndKeepsData()
{
    RingBuffer ring(8);
    QVERIFY(ring.write("12345"));
    QVERIFY(!ring.write("6789"));
    QCOMPARE(ring.available(), 5);
    QVERIFY(ring.write("678"));
    QCOMPARE(ring.freeSpace(), 0);
    QVERIFY(!ring.write("9"));
    char out[8];
    QCOMPARE(ring.read(out, 8), 8);
    QCOMPARE(QByteArray(out, 8), QByteArray("12345678"));
}

void TestRingBuffer::wrapsAroundTheEnd()
{
    RingBuffer ring(10);
    QByteArray line;
    for (int round = 0; round < 25; ++round) {
        const QByteArray text = QByteArray::number(round * 37);
        QVERIFY(ring.write(text + "\r\n"));
        QVERIFY(ring.readLine(&line));
        QCOMPARE(line, text);
    }
}

void TestRingBuffer::clearDropsOnlyUnreadBytes()
{
    RingBuffer ring(16);
    QVERIFY(ring.write("old\nstale"));
    ring.clear();
    QCOMPARE(ring.available(), 0);
    QCOMPARE(ring.freeSpace(), 16);
    QVERIFY(ring.write("new\n"));
    QByteArray line;
    QVERIFY(ring.readLine(&line));
    QCOMPARE(line, QByteArray("new"));
}

void TestRingBuffer::concurrentProducerAndConsumerLoseNothing()
{
    // Lines of varying length through a small ring, so it wraps and fills often.
    RingBuffer ring(97);
    constexpr int Count = 20000;
    std::thread producer([&ring] {
        for (int i = 0; i < Count; ++i) {
            const QByteArray line = QByteArray(i % 13, 'x') + QByteArray::number(i) + "\r\n";
            while (!ring.write(line))
                std::this_thread::yield();
        }
    });
    int expected = 0;
    QByteArray line;
    while (expected < Count) {
        if (!ring.readLine(&line)) {
            std::this_thread::yield();
            continue;
        }
        const QByteArray want = QByteArray(expected % 13, 'x') + QByteArray::number(expected);
        if (line != want) {
            producer.join();
            QFAIL(qPrintable(
                QStringLiteral("line %1 read as %2").arg(expected).arg(QString::fromLatin1(line))));
        }
        ++expected;
    }
    producer.join();
    QVERIFY(!ring.readLine(&line)); // only the last line's LF was left
    QCOMPARE(ring.available(), 0);
}

QTEST_GUILESS_MAIN(TestRingBuffer)
#include "tst_ringbuffer.moc"
