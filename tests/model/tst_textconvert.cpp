#include "TextConvert.h"

#include <QTest>

#include <limits>

class TestTextConvert : public QObject
{
    Q_OBJECT

private slots:
    void integers_data();
    void integers();
    void unsigned32();
    void booleans_data();
    void booleans();
    void hexBytes_data();
    void hexBytes();
    void keyValueLists();
};

void TestTextConvert::integers_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<qint64>("value");
    QTest::newRow("decimal") << " 42 " << true << qint64(42);
    QTest::newRow("negative") << "-17" << true << qint64(-17);
    QTest::newRow("hex") << "0x2B9" << true << qint64(0x2B9);
    QTest::newRow("hex upper") << "0XfF" << true << qint64(255);
    QTest::newRow("binary") << "0b101" << true << qint64(5);
    QTest::newRow("negative hex") << "-0x10" << true << qint64(-16);
    QTest::newRow("max") << "9223372036854775807" << true << std::numeric_limits<qint64>::max();
    QTest::newRow("min") << "-9223372036854775808" << true << std::numeric_limits<qint64>::min();
    QTest::newRow("overflow") << "9223372036854775808" << false << qint64(0);
    QTest::newRow("hex overflow") << "0x10000000000000000" << false << qint64(0);
    QTest::newRow("bad binary") << "0b102" << false << qint64(0);
    QTest::newRow("prefix only") << "0x" << false << qint64(0);
    QTest::newRow("empty") << "" << false << qint64(0);
    QTest::newRow("trailing text") << "12ab" << false << qint64(0);
    QTest::newRow("inner blank") << "1 2" << false << qint64(0);
    QTest::newRow("fraction") << "1.5" << false << qint64(0);
}

void TestTextConvert::integers()
{
    QFETCH(QString, text);
    QFETCH(bool, ok);
    qint64 value = 0;
    QCOMPARE(TextConvert::toInt64(text, &value), ok);
    if (ok)
        QTEST(value, "value");
}

void TestTextConvert::unsigned32()
{
    quint32 v = 0;
    QVERIFY(TextConvert::toUInt32(QStringLiteral("0xFFFFFFFF"), &v));
    QCOMPARE(v, 0xFFFFFFFFu);
    QVERIFY(!TextConvert::toUInt32(QStringLiteral("0x100000000"), &v));
    QVERIFY(!TextConvert::toUInt32(QStringLiteral("-1"), &v));
    QCOMPARE(v, 0xFFFFFFFFu);
}

void TestTextConvert::booleans_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<bool>("value");
    QTest::newRow("TRUE") << "TRUE" << true << true;
    QTest::newRow("false any case") << " False" << true << false;
    QTest::newRow("one") << "1" << true << true;
    QTest::newRow("zero") << "0" << true << false;
    QTest::newRow("hex") << "0x10" << true << true;
    QTest::newRow("real") << "0.5" << true << true;
    QTest::newRow("word") << "yes" << false << false;
    QTest::newRow("empty") << "" << false << false;
}

void TestTextConvert::booleans()
{
    QFETCH(QString, text);
    QFETCH(bool, ok);
    bool value = false;
    QCOMPARE(TextConvert::toBool(text, &value), ok);
    if (ok)
        QTEST(value, "value");
}

void TestTextConvert::hexBytes_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("blanks ignored") << "02 a1ff" << true << QByteArray("\x02\xa1\xff", 3);
    QTest::newRow("split digit pair") << "0 2" << true << QByteArray("\x02", 1);
    QTest::newRow("empty") << "  " << true << QByteArray();
    QTest::newRow("odd count") << "02 a" << false << QByteArray();
    QTest::newRow("non-hex") << "0g" << false << QByteArray();
}

void TestTextConvert::hexBytes()
{
    QFETCH(QString, text);
    QFETCH(bool, ok);
    QByteArray bytes("unchanged");
    QCOMPARE(TextConvert::hexToBytes(text, &bytes), ok);
    QTEST(ok ? bytes : QByteArray(), "bytes");
    if (!ok)
        QCOMPARE(bytes, QByteArray("unchanged"));
    if (ok) {
        QByteArray back;
        QVERIFY(TextConvert::hexToBytes(TextConvert::bytesToHex(bytes), &back));
        QCOMPARE(back, bytes);
    }
}

void TestTextConvert::keyValueLists()
{
    const QString text = QStringLiteral("  VER=1.2  DIO25=1\tflag SPI0CS0DATA=02a1=b ");
    const auto pairs = TextConvert::keyValues(text);
    QCOMPARE(pairs.size(), 4);
    QCOMPARE(pairs.at(2).first, QStringLiteral("flag"));
    QVERIFY(pairs.at(2).second.isEmpty());
    QString value;
    QVERIFY(TextConvert::valueOf(text, QStringLiteral("DIO25"), &value));
    QCOMPARE(value, QStringLiteral("1"));
    QVERIFY(TextConvert::valueOf(text, QStringLiteral("SPI0CS0DATA"), &value));
    QCOMPARE(value, QStringLiteral("02a1=b")); // only the first "=" splits
    QVERIFY(!TextConvert::valueOf(text, QStringLiteral("VE"), &value));
    QCOMPARE(TextConvert::bytesToHex(QByteArray("\x02\xa1", 2)), QStringLiteral("02 A1"));
}

QTEST_GUILESS_MAIN(TestTextConvert)
#include "tst_textconvert.moc"
