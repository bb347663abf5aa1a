#include "ChipTestRig.h"

#include <QSignalSpy>
#include <QTest>

using namespace ChipRegisters;

namespace {
QStringList logTexts(const QSignalSpy& spy)
{
    QStringList texts;
    for (const QList<QVariant>& entry : spy)
        texts << QStringLiteral("%1 %2").arg(entry.at(0).toInt()).arg(entry.at(1).toString());
    return texts;
}
const QString WriteError = QStringLiteral("-1 SpiController:Spi register write error");
const QString ReadError = QStringLiteral("-1 SpiController:SPI register read error");
const QStringList StatusNames = {"SR0", "SR1", "SR3", "SR4", "SR5", "SR7"};
} // namespace

class TestSpiController : public QObject
{
    Q_OBJECT

private:
    ChipTestRig rig;

private slots:
    void initTestCase() { QVERIFY(rig.start()); }
    void init() { rig.reset(); }

    void commandSendsExactFrames_data();
    void commandSendsExactFrames();
    void answerDecodesIntoStatusRegister_data();
    void answerDecodesIntoStatusRegister();
    void readAllSendsSevenCr0FramesInOneChain();
    void clearResetsImagesAndSendsNothing();
    void helpMapAndExactNames();
    void watchDogAndBoardFollowTheChip();
    void failedTransferLogsAndKeepsStatus_data();
    void failedTransferLogsAndKeepsStatus();
    void failedChainLogsAndEmptiesBuffer();
};

void TestSpiController::commandSendsExactFrames_data()
{
    QTest::addColumn<QStringList>("writes");
    QTest::addColumn<QString>("command");
    QTest::addColumn<QVariant>("args");
    QTest::addColumn<QList<int>>("frames");

    const QVariant none = QString();
    QTest::newRow("WriteCR0") << QStringList{"CR0[HB_EN1]=1", "CR0[SOA]=5"} << "WriteCR0" << none
                              << QList<int>{0x0281};
    QTest::newRow("WriteCR0 with WD")
        << QStringList{"WD[]=1", "CR0[HB_EN6]=1"} << "WriteCR0" << none << QList<int>{0x0820};
    QTest::newRow("WriteCR1") << QStringList{"CR1[DRV_EN]=1", "CR1[WD_CFG]=1", "CR1[HB_MODE2]=1"}
                              << "WriteCR1" << none << QList<int>{0x1502};
    QTest::newRow("WriteCR2 clears 10:7") << QStringList{"CR2[10:7]=15", "CR2[HB_PWM3]=1"}
                                          << "WriteCR2" << none << QList<int>{0x2004};
    QTest::newRow("WriteCR3A clears bit 10")
        << QStringList{"CR3A[PWM5]=2", "CR3A[10]=1"} << "WriteCR3A" << none << QList<int>{0x3200};
    QTest::newRow("WriteCR3B sets 10:4 to 64")
        << QStringList{"CR3B[9:0]=1023"} << "WriteCR3B" << none << QList<int>{0x340F};
    QTest::newRow("WriteCR3 both halves") << QStringList{"CR3A[PWM1]=1", "CR3B[PWM6]=3"}
                                          << "WriteCR3" << none << QList<int>{0x3001, 0x3403};
    QTest::newRow("WriteCR5A clears bit 10")
        << QStringList{"CR5A[10]=1", "CR5A[BLANK1]=3"} << "WriteCR5A" << none << QList<int>{0x5300};
    QTest::newRow("WriteCR10B sets bit 10") << QStringList{"CR10B[10]=0", "CR10B[VDS6]=7"}
                                            << "WriteCR10B" << none << QList<int>{0xA780};
    QTest::newRow("WriteCR7 A then B") << QStringList{"CR7A[T_PC3]=3", "CR7B[T_DLY3]=15"}
                                       << "WriteCR7" << none << QList<int>{0x7003, 0x7478};
    QTest::newRow("RequestRead int")
        << QStringList{"CR0[HB_EN2]=1"} << "RequestRead" << QVariant(3) << QList<int>{0x0582};
    QTest::newRow("RequestRead text")
        << QStringList{} << "RequestRead" << QVariant("7") << QList<int>{0x0780};
    QTest::newRow("ReadSR5") << QStringList{} << "ReadSR5" << none << QList<int>{0x0680, 0xD000};
    QTest::newRow("ReadSR0 with WD")
        << QStringList{"WD[]=1"} << "ReadSR0" << none << QList<int>{0x0C00, 0xD800};
    // Refused: nothing sent, one error logged.
    for (const char* bad : {"8", "-1", "SR3", ""})
        QTest::newRow(qPrintable(QStringLiteral("RequestRead '%1'").arg(bad)))
            << QStringList{} << "RequestRead" << QVariant(bad) << QList<int>{};
}

void TestSpiController::commandSendsExactFrames()
{
    QFETCH(QStringList, writes);
    QFETCH(QString, command);
    QFETCH(QVariant, args);
    QFETCH(QList<int>, frames);

    for (const QString& w : writes)
        QVERIFY(rig.write(w.section(QLatin1Char('='), 0, 0), w.section('=', 1).toUInt()));
    QSignalSpy log(rig.spi.get(), &Applet::signal_log);
    QCOMPARE(rig.spi->runFunction(command, args), QVariant(!frames.isEmpty()));
    QCOMPARE(rig.frames(), frames);
    QCOMPARE(log.size(), frames.isEmpty() ? 1 : 0);
    // Each frame travels as a set with "02" and four hex digits, then a get for the answer.
    const QStringList lines = rig.sim()->receivedLines();
    for (int i = 0; i < frames.size(); ++i) {
        const QString hex = QStringLiteral("%1").arg(frames.at(i), 4, 16, QChar('0')).toUpper();
        QCOMPARE(lines.value(2 * i), QStringLiteral("set SPI0CS0DATA=02") + hex);
        QCOMPARE(lines.value(2 * i + 1), QStringLiteral("get SPI0CS0DATA"));
    }
}

void TestSpiController::answerDecodesIntoStatusRegister_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<int>("bits");
    QTest::newRow("SR0") << 0 << 0xC01;
    QTest::newRow("SR1") << 1 << 0x555;
    QTest::newRow("SR3") << 3 << 0xFFF;
    QTest::newRow("SR4") << 4 << 0x800;
    QTest::newRow("SR5") << 5 << 0x03F;
    QTest::newRow("SR7") << 7 << 0x123;
    QTest::newRow("address 2: no status image") << 2 << 0x321;
}

void TestSpiController::answerDecodesIntoStatusRegister()
{
    QFETCH(int, number);
    QFETCH(int, bits);
    const QString name = QStringLiteral("SR%1").arg(number);
    for (const QString& sr : StatusNames)
        rig.spi->registerByName(sr)->setField(sr + QStringLiteral("[]"), 0xAAA);
    // The frame that selects the register is answered with SR0, the next one with the register.
    rig.sim()->setStatusRegister(0, 0xAAA);
    rig.sim()->setStatusRegister(number, quint16(bits));
    rig.sim()->setVariable(QStringLiteral("DIO25"), QStringLiteral("1")); // normal mode
    QVERIFY(rig.spi->runFunction(QStringLiteral("RequestRead"), number).toBool());
    QVERIFY(rig.spi->runFunction(QStringLiteral("WriteCR2"), QString()).toBool());

    QCOMPARE(rig.field(QStringLiteral("ADDR[]")), unsigned(number));
    QCOMPARE(rig.field(QStringLiteral("DATA[]")), unsigned(bits));
    QCOMPARE(rig.field(QStringLiteral("NM[]")), 1u);
    for (const QString& sr : StatusNames)
        QCOMPARE(rig.field(sr + QStringLiteral("[]")), sr == name ? unsigned(bits) : 0xAAAu);
}

void TestSpiController::readAllSendsSevenCr0FramesInOneChain()
{
    rig.write(QStringLiteral("CR0[HB_EN1]"), 1);
    rig.write(QStringLiteral("CR0[SOA_MODE]"), 1);
    const QMap<int, int> status = {{0, 0x201}, {1, 0x111}, {3, 0x333},
                                   {4, 0x444}, {5, 0x015}, {7, 0x777}};
    for (auto it = status.cbegin(); it != status.cend(); ++it)
        rig.sim()->setStatusRegister(it.key(), quint16(it.value()));

    QSignalSpy log(rig.spi.get(), &Applet::signal_log);
    QVERIFY(rig.spi->runFunction(QStringLiteral("ReadAll"), QString()).toBool());

    QList<int> expected;
    QStringList items;
    for (int soa : {0, 1, 3, 4, 5, 7, 0}) {
        expected << (0x401 | (soa << 7));
        items << QStringLiteral("SPI0CS0DATA=02%1").arg(expected.last(), 4, 16, QChar('0')).toUpper();
    }
    QCOMPARE(rig.frames(), expected);
    const QStringList lines = rig.sim()->receivedLines();
    QCOMPARE(lines.size(), 8);
    QCOMPARE(lines.first(), QStringLiteral("set ") + items.join(QLatin1Char(' ')));
    QCOMPARE(lines.count(QStringLiteral("get SPI0CS0DATA")), 7);
    // Each answer carries the register the frame before it selected: all six refreshed.
    for (auto it = status.cbegin(); it != status.cend(); ++it)
        QCOMPARE(rig.field(QStringLiteral("SR%1[]").arg(it.key())), unsigned(it.value()));
    QCOMPARE(rig.spi->chainLength(), 0);
    QVERIFY(log.isEmpty());
}

void TestSpiController::clearResetsImagesAndSendsNothing()
{
    const QStringList all = rig.spi->parameterNames();
    for (const QString& name : all)
        rig.spi->registerByName(name)->setField(name + QStringLiteral("[0]"), 1);
    QVERIFY(rig.spi->runFunction(QStringLiteral("Clear"), QString()).toBool());

    const QMap<QString, unsigned> cleared = {{"CR0", 0},     {"CR1", 0}, {"CR2", 0},  {"CR3A", 0},
                                             {"CR3B", 1024}, {"CR4", 0}, {"CR12", 0}, {"CR14", 0},
                                             {"SR1", 0},     {"SR3", 0}, {"SR4", 0},  {"SR5", 0}};
    for (const QString& name : all) {
        const unsigned value = rig.field(name + QStringLiteral("[]"));
        QVERIFY2(cleared.contains(name) ? value == cleared.value(name) : (value & 1),
                 qPrintable(name));
    }
    QVERIFY(rig.sim()->receivedLines().isEmpty());
}

void TestSpiController::helpMapAndExactNames()
{
    rig.spi->functionHelpMap().clear();
    QCOMPARE(rig.spi->runFunction(QString(), QString()), QVariant(false));
    QCOMPARE(rig.spi->runFunction(QStringLiteral("writecr0"), QString()), QVariant(false));
    QCOMPARE(rig.spi->functionHelpMap().size(), 9 + 18 + 6);
    QVERIFY(rig.spi->functionHelpMap().contains(QStringLiteral("ReadSR7")));
    QVERIFY(rig.sim()->receivedLines().isEmpty());
}

void TestSpiController::watchDogAndBoardFollowTheChip()
{
    RecordingApplet board;
    RecordingApplet watchDog;
    AppletInstances::board = &board;
    AppletInstances::watchDog = &watchDog;
    rig.write(QStringLiteral("CR1[WD_CFG]"), 1);
    QVERIFY(rig.spi->runFunction(QStringLiteral("WriteCR1"), QString()).toBool());
    rig.write(QStringLiteral("CR0[HB_EN1]"), 1);

    // "Registers cleared" is ignored on the simulated board.
    rig.spi->on_cbSR0_10_stateChanged(Qt::Checked);
    QVERIFY(board.calls.isEmpty());
    QCOMPARE(rig.field(QStringLiteral("CR0[]")), 1u);

    ControlBoard real; // not connected, and not the simulated one
    AppletInstances::controlBoard = &real;
    rig.spi->on_cbSR0_10_stateChanged(Qt::Unchecked);
    QVERIFY(board.calls.isEmpty());
    rig.spi->on_cbSR0_10_stateChanged(Qt::Checked);
    AppletInstances::controlBoard = &rig.board;
    AppletInstances::board = nullptr;
    AppletInstances::watchDog = nullptr;

    QCOMPARE(board.calls, QStringList{"run:setUserConf"});
    QCOMPARE(rig.field(QStringLiteral("CR0[]")), 0u);
    // Cleared before the watchdog hears of it: CR1 bit 8 is now 0.
    QCOMPARE(watchDog.calls,
             (QStringList{"set:WDTimeout=1@ff001234", "set:WDTimeout=0@ff001234"}));
}

void TestSpiController::failedTransferLogsAndKeepsStatus_data()
{
    QTest::addColumn<bool>("connected"); // false: no board link at all
    QTest::addColumn<QString>("command");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QStringList>("log");

    QTest::newRow("write, no link") << false << "WriteCR0" << false << QStringList{WriteError};
    QTest::newRow("write, not connected") << true << "WriteCR2" << false << QStringList{WriteError};
    QTest::newRow("pair write reports nothing but logs both")
        << false << "WriteCR6" << true << QStringList{WriteError, WriteError};
    QTest::newRow("status read") << true << "ReadSR3" << false
                                 << QStringList{WriteError, ReadError};
}

void TestSpiController::failedTransferLogsAndKeepsStatus()
{
    QFETCH(bool, connected);
    QFETCH(QString, command);
    QFETCH(bool, result);
    QFETCH(QStringList, log);

    const QStringList answerNames = StatusNames + QStringList{"NM", "ADDR", "DATA"};
    for (const QString& sr : answerNames)
        rig.spi->registerByName(sr)->setField(sr + QStringLiteral("[0]"), 1);
    ControlBoard closed;
    AppletInstances::controlBoard = connected ? &closed : nullptr;
    QSignalSpy spy(rig.spi.get(), &Applet::signal_log);
    const QVariant out = rig.spi->runFunction(command, QStringLiteral("1"));
    AppletInstances::controlBoard = &rig.board;

    QCOMPARE(out, QVariant(result));
    QCOMPARE(logTexts(spy), log);
    for (const QString& sr : answerNames)
        QVERIFY2(rig.field(sr + QStringLiteral("[]")) == 1, qPrintable(sr));
}

void TestSpiController::failedChainLogsAndEmptiesBuffer()
{
    SR0.setField(QStringLiteral("SR0[]"), 0x400);
    AppletInstances::controlBoard = nullptr;
    QSignalSpy spy(rig.spi.get(), &Applet::signal_log);
    QCOMPARE(rig.spi->runFunction(QStringLiteral("ReadAll"), QString()), QVariant(false));
    AppletInstances::controlBoard = &rig.board;
    QCOMPARE(logTexts(spy), QStringList{"-1 SpiController:Chain spi register write error"});
    QCOMPARE(rig.spi->chainLength(), 0);
    QCOMPARE(rig.field(QStringLiteral("SR0[]")), 0x400u);

    // The next chain carries only its own frames, the WD bit and bits 10:0 of the data.
    rig.write(QStringLiteral("WD[]"), 1);
    rig.spi->addToChain(5, 0x522 | 0xF800);
    rig.spi->addToChain(10, 0x7FF);
    QVERIFY(rig.spi->sendChain());
    QCOMPARE(rig.frames(), (QList<int>{0x5D22, 0xAFFF}));
}

QTEST_MAIN(TestSpiController)
#include "tst_spicontroller.moc"
