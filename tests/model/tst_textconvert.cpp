#include "TextConvert.h"

#include <QTest>

class TestTextConvert : public QObject
{
    Q_OBJECT

private slots:
    void numbersAndBooleans_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QVariant>("integer"); // invalid: refused
        QTest::addColumn<QVariant>("boolean");
        auto row = [](const char* text, const QVariant& i, const QVariant& b) {
            QTest::newRow(text) << QString(text) << i << b;
        };
        row(" 42 ", qint64(42), true);
        row("-0x10", qint64(-16), true);
        row("0b101", qint64(5), true);
        row("-9223372036854775808", std::numeric_limits<qint64>::min(), true);
        row("0x10000000000000000", {}, {});
        row("0b102", {}, {});
        row("0.5", {}, true);
        row(" False", {}, false);
        row("", {}, {});
    }
    void numbersAndBooleans()
    {
        QFETCH(QString, text);
        QFETCH(QVariant, integer);
        QFETCH(QVariant, boolean);
        qint64 i = 0;
        QCOMPARE(TextConvert::toInt64(text, &i), integer.isValid());
        QCOMPARE(QVariant(i), integer.isValid() ? integer : QVariant(i));
        bool b = false;
        QCOMPARE(TextConvert::toBool(text, &b), boolean.isValid());
        QCOMPARE(QVariant(b), boolean.isValid() ? boolean : QVariant(b));
    }

    void byteStringsAndKeyValues()
    {
        QByteArray bytes;
        QVERIFY(TextConvert::hexToBytes(QStringLiteral("02 a1f f"), &bytes)); // blanks ignored
        QCOMPARE(TextConvert::bytesToHex(bytes), QStringLiteral("02 A1 FF"));
        for (const char* bad : {"02 a", "0g"})
            QVERIFY(!TextConvert::hexToBytes(QString(bad), &bytes));
        QCOMPARE(bytes, QByteArray("\x02\xa1\xff", 3)); // a refused text changes nothing
        const QString text = QStringLiteral("  VER=1.2  DIO25=1\tflag SPI0CS0DATA=02a1=b ");
        QCOMPARE(TextConvert::keyValues(text).size(), 4);
        QString value;
        QVERIFY(TextConvert::valueOf(text, QStringLiteral("SPI0CS0DATA"), &value));
        QCOMPARE(value, QStringLiteral("02a1=b")); // only the first "=" splits
        QVERIFY(!TextConvert::valueOf(text, QStringLiteral("VE"), &value));
    }
};

QTEST_GUILESS_MAIN(TestTextConvert)
#include "tst_textconvert.moc"
