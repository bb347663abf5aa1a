#include "ChipTestRig.h"

#include "Variable.h"

#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

class TestSpiRaw : public QObject
{
    Q_OBJECT

private:
    ChipTestRig rig;

private slots:
    void initTestCase() { QVERIFY(rig.start()); }
    void init()
    {
        rig.reset();
        rig.raw->deactivate();
    }

    void parseFrameAcceptsOnlyFourHexDigits_data();
    void parseFrameAcceptsOnlyFourHexDigits();
    void transferSendsFrameAndReadsAnswer();
    void transferFailsWithoutLink();
    void transferCommandTakesTextIntOrFormField_data();
    void transferCommandTakesTextIntOrFormField();
    void transferCommandRefusesBadFrames_data();
    void transferCommandRefusesBadFrames();
    void clockChangeIsSentWhileActive();
    void clockOutsideRangeIsRefused();
};

void TestSpiRaw::parseFrameAcceptsOnlyFourHexDigits_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("frame");
    QTest::newRow("upper") << QByteArray("ABCD") << true << 0xABCD;
    QTest::newRow("lower, blanks") << QByteArray(" 0a1f\r") << true << 0x0A1F;
    QTest::newRow("three digits") << QByteArray("123") << false << 0;
    QTest::newRow("five digits") << QByteArray("12345") << false << 0;
    QTest::newRow("not hex") << QByteArray("12G4") << false << 0;
    QTest::newRow("prefix") << QByteArray("0x12") << false << 0;
    QTest::newRow("sign") << QByteArray("+123") << false << 0;
    QTest::newRow("err") << QByteArray("err") << false << 0;
    QTest::newRow("empty") << QByteArray() << false << 0;
}

void TestSpiRaw::parseFrameAcceptsOnlyFourHexDigits()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, ok);
    QFETCH(int, frame);
    quint16 out = 0x5555;
    QCOMPARE(SpiRaw::parseFrame(text, &out), ok);
    QCOMPARE(int(out), ok ? frame : 0x5555);
}

void TestSpiRaw::transferSendsFrameAndReadsAnswer()
{
    rig.sim()->setStatusRegister(0, 0x0A5);
    rig.sim()->setVariable(QStringLiteral("DIO25"), QStringLiteral("1"));
    quint16 answer = 0;
    QVERIFY(rig.raw->transfer(0xABCD, &answer));
    QCOMPARE(rig.sim()->receivedLines(),
             (QStringList{"set SPI0CS0DATA=02ABCD", "get SPI0CS0DATA"}));
    QCOMPARE(rig.frames(), QList<int>{0xABCD});
    QCOMPARE(answer, quint16(0x10A5)); // address 0, NM, SR0 data
}

void TestSpiRaw::transferFailsWithoutLink()
{
    quint16 answer = 0x1234;
    AppletInstances::controlBoard = nullptr;
    QVERIFY(!rig.raw->transfer(0x0001, &answer));
    ControlBoard closed;
    AppletInstances::controlBoard = &closed;
    QVERIFY(!rig.raw->transfer(0x0001, &answer));
    AppletInstances::controlBoard = &rig.board;
    QCOMPARE(answer, quint16(0x1234));
}

void TestSpiRaw::transferCommandTakesTextIntOrFormField_data()
{
    QTest::addColumn<QVariant>("args");
    QTest::addColumn<int>("frame");
    QTest::newRow("hex text") << QVariant(QStringLiteral("5a01")) << 0x5A01;
    QTest::newRow("0x text") << QVariant(QStringLiteral(" 0x2004 ")) << 0x2004;
    QTest::newRow("short text") << QVariant(QStringLiteral("7")) << 0x0007;
    QTest::newRow("int") << QVariant(0xD000) << 0xD000;
    QTest::newRow("empty: the form field") << QVariant(QString()) << 0x1F00;
}

void TestSpiRaw::transferCommandTakesTextIntOrFormField()
{
    QFETCH(QVariant, args);
    QFETCH(int, frame);
    auto* tx = rig.raw->findChild<QLineEdit*>(QStringLiteral("leTxFrame"));
    auto* rx = rig.raw->findChild<QLineEdit*>(QStringLiteral("leRxFrame"));
    QVERIFY(tx && rx);
    tx->setText(QStringLiteral("1f00"));
    rig.sim()->setStatusRegister(0, 0x123);
    QSignalSpy log(rig.raw.get(), &Applet::signal_log);
    QCOMPARE(rig.raw->runFunction(QStringLiteral("Transfer"), args), QVariant(true));
    QCOMPARE(rig.frames(), QList<int>{frame});
    QCOMPARE(tx->text(), QStringLiteral("%1").arg(frame, 4, 16, QLatin1Char('0')).toUpper());
    QCOMPARE(rx->text(), QStringLiteral("0123"));
    QVERIFY(log.isEmpty());
}

void TestSpiRaw::transferCommandRefusesBadFrames_data()
{
    QTest::addColumn<QVariant>("args");
    QTest::newRow("not hex") << QVariant(QStringLiteral("xyz"));
    QTest::newRow("too wide") << QVariant(QStringLiteral("12345"));
    QTest::newRow("int too wide") << QVariant(0x10000);
    QTest::newRow("negative") << QVariant(-1);
}

void TestSpiRaw::transferCommandRefusesBadFrames()
{
    QFETCH(QVariant, args);
    QSignalSpy log(rig.raw.get(), &Applet::signal_log);
    QCOMPARE(rig.raw->runFunction(QStringLiteral("Transfer"), args), QVariant(false));
    QCOMPARE(log.size(), 1);
    QCOMPARE(log.first().at(0).toInt(), -1);
    QVERIFY(rig.sim()->receivedLines().isEmpty());
}

void TestSpiRaw::clockChangeIsSentWhileActive()
{
    Variable* clock = rig.raw->variableByName(QStringLiteral("SPIFreq"));
    QVERIFY(clock);
    // Inactive (no board yet): the change stays in the model.
    QVERIFY(rig.raw->setValue(QStringLiteral("SPIFreq"), 500000, CallerKey::External));
    QVERIFY(rig.sim()->receivedLines().isEmpty());

    rig.raw->activate();
    QVERIFY(rig.raw->setValue(QStringLiteral("SPIFreq"), 2000000, CallerKey::External));
    QCOMPARE(rig.sim()->receivedLines(), QStringList{"set SPI0CS0SPEED=2000000"});
    QCOMPARE(rig.sim()->variable(QStringLiteral("SPI0CS0SPEED")), QStringLiteral("2000000"));

    rig.sim()->clearReceivedLines();
    QCOMPARE(rig.raw->runFunction(QStringLiteral("setSPIFreq"), QString()), QVariant(true));
    QCOMPARE(rig.sim()->receivedLines(), QStringList{"set SPI0CS0SPEED=2000000"});

    AppletInstances::controlBoard = nullptr;
    QSignalSpy log(rig.raw.get(), &Applet::signal_log);
    QCOMPARE(rig.raw->runFunction(QStringLiteral("setSPIFreq"), QString()), QVariant(false));
    AppletInstances::controlBoard = &rig.board;
    QCOMPARE(log.size(), 1);
}

void TestSpiRaw::clockOutsideRangeIsRefused()
{
    rig.raw->activate();
    Variable* clock = rig.raw->variableByName(QStringLiteral("SPIFreq"));
    const double before = clock->value();
    QVERIFY(!rig.raw->setValue(QStringLiteral("SPIFreq"), 0, CallerKey::External));
    QVERIFY(!rig.raw->setValue(QStringLiteral("SPIFreq"), 50000000, CallerKey::External));
    QCOMPARE(clock->value(), before);
    QVERIFY(rig.sim()->receivedLines().isEmpty());
}

QTEST_MAIN(TestSpiRaw)
#include "tst_spiraw.moc"
