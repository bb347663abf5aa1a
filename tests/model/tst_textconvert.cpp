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
        row("1 2", {}, {});
        row("0.5", {}, true);
        row(" False", {}, false);
        row("", {}, {});
        row("yes", {}, {});
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

    void hexBytes_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("blanks ignored") << "02 a1ff" << true << QByteArray("\x02\xa1\xff", 3);
        QTest::newRow("odd count") << "02 a" << false << QByteArray("unchanged");
        QTest::newRow("non-hex") << "0g" << false << QByteArray("unchanged");
    }
    void hexBytes()
    {
        QFETCH(QString, text);
        QByteArray bytes("unchanged");
        QTEST(TextConvert::hexToBytes(text, &bytes), "ok");
        QTEST(bytes, "bytes");
        QByteArray back;
        QVERIFY(TextConvert::hexToBytes(TextConvert::bytesToHex(bytes), &back));
        QCOMPARE(back, bytes);
    }

    void keyValueLists()
    {
        const QString text = QStringLiteral("  VER=1.2  DIO25=1\tflag SPI0CS0DATA=02a1=b ");
        const auto pairs = TextConvert::keyValues(text);
        QCOMPARE(pairs.size(), 4);
        QString value;
        QVERIFY(TextConvert::valueOf(text, QStringLiteral("SPI0CS0DATA"), &value));
        QCOMPARE(value, QStringLiteral("02a1=b")); // only the first "=" splits
        QVERIFY(!TextConvert::valueOf(text, QStringLiteral("VE"), &value));
        QCOMPARE(TextConvert::bytesToHex(QByteArray("\x02\xa1", 2)), QStringLiteral("02 A1"));
    }
};

QTEST_GUILESS_MAIN(TestTextConvert)
#include "tst_textconvert.moc"
