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

    void transferCommand_data();
    void transferCommand();
    void clockChangeIsSentWhileActive();
};

void TestSpiRaw::transferCommand_data()
{
    QTest::addColumn<QVariant>("args");
    QTest::addColumn<int>("frame"); // -1: refused
    QTest::newRow("hex text") << QVariant(QStringLiteral("5a01")) << 0x5A01;
    QTest::newRow("0x text") << QVariant(QStringLiteral(" 0x2004 ")) << 0x2004;
    QTest::newRow("int") << QVariant(0xD000) << 0xD000;
    QTest::newRow("empty: the form field") << QVariant(QString()) << 0x1F00;
    QTest::newRow("not hex") << QVariant(QStringLiteral("xyz")) << -1;
    QTest::newRow("too wide") << QVariant(QStringLiteral("12345")) << -1;
    QTest::newRow("int too wide") << QVariant(0x10000) << -1;
    QTest::newRow("negative") << QVariant(-1) << -1;
}

void TestSpiRaw::transferCommand()
{
    QFETCH(QVariant, args);
    QFETCH(int, frame);
    auto* tx = rig.raw->findChild<QLineEdit*>(QStringLiteral("leTxFrame"));
    auto* rx = rig.raw->findChild<QLineEdit*>(QStringLiteral("leRxFrame"));
    QVERIFY(tx && rx);
    tx->setText(QStringLiteral("1f00"));
    rig.sim()->setStatusRegister(0, 0x123);
    QSignalSpy log(rig.raw.get(), &Applet::signal_log);
    QCOMPARE(rig.raw->runFunction(QStringLiteral("Transfer"), args), QVariant(frame >= 0));
    QCOMPARE(log.size(), frame >= 0 ? 0 : 1);
    if (frame < 0) {
        QVERIFY(rig.sim()->receivedLines().isEmpty());
        return;
    }
    QCOMPARE(rig.frames(), QList<int>{frame});
    QCOMPARE(tx->text(), QStringLiteral("%1").arg(frame, 4, 16, QLatin1Char('0')).toUpper());
    QCOMPARE(rx->text(), QStringLiteral("0123"));
}

void TestSpiRaw::clockChangeIsSentWhileActive()
{
    // Inactive: the change stays in the model.
    QVERIFY(rig.raw->setValue(QStringLiteral("SPIFreq"), 500000, CallerKey::External));
    QVERIFY(rig.sim()->receivedLines().isEmpty());

    rig.raw->activate();
    QVERIFY(rig.raw->setValue(QStringLiteral("SPIFreq"), 2000000, CallerKey::External));
    QVERIFY(!rig.raw->setValue(QStringLiteral("SPIFreq"), 0, CallerKey::External));
    QVERIFY(!rig.raw->setValue(QStringLiteral("SPIFreq"), 50000000, CallerKey::External));
    QCOMPARE(rig.raw->variableByName(QStringLiteral("SPIFreq"))->value(), 2000000.0);
    QCOMPARE(rig.sim()->receivedLines(), QStringList{"set SPI0CS0SPEED=2000000"});
    QCOMPARE(rig.sim()->variable(QStringLiteral("SPI0CS0SPEED")), QStringLiteral("2000000"));
}

QTEST_MAIN(TestSpiRaw)
#include "tst_spiraw.moc"
