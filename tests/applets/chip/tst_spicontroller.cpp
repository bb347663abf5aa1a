#include "ChipTestRig.h"

#include <QSignalSpy>
#include <QTest>

using namespace ChipRegisters;

namespace {
const QString WriteError = QStringLiteral("SpiController:Spi register write error");
const QString ReadError = QStringLiteral("SpiController:SPI register read error");
const QString ChainWriteError = QStringLiteral("SpiController:Chain spi register write error");
const QString ChainReadError = QStringLiteral("SpiController:Chain spi register read error");

QStringList logTexts(const QSignalSpy& spy)
{
    QStringList texts;
    for (const QList<QVariant>& entry : spy)
        texts << QStringLiteral("%1 %2").arg(entry.at(0).toInt()).arg(entry.at(1).toString());
    return texts;
}

const QStringList StatusNames = {"SR0", "SR1", "SR3", "SR4", "SR5", "SR7"};
const QStringList AnswerNames = StatusNames + QStringList{"NM", "ADDR", "DATA"};

QString err(const QString& text)
{
    return QStringLiteral("-1 ") + text;
}
} // namespace

class TestSpiController : public QObject
{
    Q_OBJECT

private:
    ChipTestRig rig;

private slots:
    void initTestCase() { QVERIFY(rig.start()); }
    void init() { rig.reset(); }

    void registerMapLayout_data();
    void registerMapLayout();
    void registerSizesAndReadOnly();

    void commandSendsExactFrames_data();
    void commandSendsExactFrames();
    void frameTravelsAsSetThenGet();

    void answerDecodesIntoStatusRegister_data();
    void answerDecodesIntoStatusRegister();
    void answerWithUnmappedAddressUpdatesNoStatusRegister();

    void readAllSendsSevenCr0FramesInOneChain();
    void chainFramesCarryWdBitAndAddress();
    void clearResetsImagesAndSendsNothing();

    void requestReadRefusesInvalidNumbers_data();
    void requestReadRefusesInvalidNumbers();
    void helpMapListsEveryCommand();

    void writeCr1UpdatesWatchDogTimeout();
    void registersClearedReportRestoresConfiguration();

    void failedTransferLogsAndKeepsStatus_data();
    void failedTransferLogsAndKeepsStatus();
    void failedChainLogsAndEmptiesBuffer();
    void chainWhoseAnswersStopPartWayFails();
};

void TestSpiController::registerMapLayout_data()
{
    QTest::addColumn<QString>("descriptor");
    QTest::addColumn<int>("hi");
    QTest::addColumn<int>("lo");

    QTest::newRow("CR0 HB_EN1") << "CR0[HB_EN1]" << 0 << 0;
    QTest::newRow("CR0 HB_EN6") << "CR0[HB_EN6]" << 5 << 5;
    QTest::newRow("CR0 SOA") << "CR0[SOA]" << 9 << 7;
    QTest::newRow("CR0 SOA_MODE") << "CR0[SOA_MODE]" << 10 << 10;
    QTest::newRow("CR1 HB_MODE3") << "CR1[HB_MODE3]" << 2 << 2;
    QTest::newRow("CR1 WD_CFG") << "CR1[WD_CFG]" << 8 << 8;
    QTest::newRow("CR1 CP_SW") << "CR1[CP_SW]" << 9 << 9;
    QTest::newRow("CR1 DRV_EN") << "CR1[DRV_EN]" << 10 << 10;
    QTest::newRow("CR2 HB_PWM6") << "CR2[HB_PWM6]" << 5 << 5;
    QTest::newRow("CR3A PWM1") << "CR3A[PWM1]" << 1 << 0;
    QTest::newRow("CR3A PWM5") << "CR3A[PWM5]" << 9 << 8;
    QTest::newRow("CR3B PWM6") << "CR3B[PWM6]" << 1 << 0;
    QTest::newRow("CR5A T_PC1") << "CR5A[T_PC1]" << 1 << 0;
    QTest::newRow("CR6A I_PCR2") << "CR6A[I_PCR2]" << 4 << 2;
    QTest::newRow("CR7A I_PCF3") << "CR7A[I_PCF3]" << 7 << 5;
    QTest::newRow("CR8A BLANK4") << "CR8A[BLANK4]" << 9 << 8;
    QTest::newRow("CR9B SR_CTRL5") << "CR9B[SR_CTRL5]" << 2 << 0;
    QTest::newRow("CR10B T_DLY6") << "CR10B[T_DLY6]" << 6 << 3;
    QTest::newRow("CR10B VDS6") << "CR10B[VDS6]" << 9 << 7;
    QTest::newRow("SR0 HB_QSB") << "SR0[HB_QSB]" << 1 << 1;
    QTest::newRow("SR0 RCF") << "SR0[RCF]" << 10 << 10;
    QTest::newRow("SR0 TM") << "SR0[TM]" << 11 << 11;
    QTest::newRow("SR1 SWL1") << "SR1[SWL1]" << 0 << 0;
    QTest::newRow("SR1 SWH6") << "SR1[SWH6]" << 11 << 11;
    QTest::newRow("SR3 VDS_H1") << "SR3[VDS_H1]" << 1 << 1;
    QTest::newRow("SR3 VDS_L6") << "SR3[VDS_L6]" << 10 << 10;
    QTest::newRow("SR5 HB_OUT6") << "SR5[HB_OUT6]" << 5 << 5;
    QTest::newRow("SR7 D11") << "SR7[D11]" << 11 << 11;
    QTest::newRow("CR14 D10") << "CR14[D10]" << 10 << 10;
    QTest::newRow("ADDR") << "ADDR[ADDR]" << 2 << 0;
    QTest::newRow("DATA") << "DATA[DATA]" << 11 << 0;
}

void TestSpiController::registerMapLayout()
{
    QFETCH(QString, descriptor);
    QFETCH(int, hi);
    QFETCH(int, lo);
    Register* reg = rig.spi->registerByName(descriptor.section(QLatin1Char('['), 0, 0));
    QVERIFY(reg);
    const Register::FieldInfo info = reg->fieldInfo(descriptor);
    QVERIFY(info.valid);
    QCOMPARE(info.hi, hi);
    QCOMPARE(info.lo, lo);
}

void TestSpiController::registerSizesAndReadOnly()
{
    const QStringList readOnly = {"NM", "SR0", "SR1", "SR3", "SR4", "SR5", "SR7"};
    const QStringList names = rig.spi->parameterNames();
    QCOMPARE(names.size(), 30);
    for (const QString& name : names) {
        Register* reg = rig.spi->registerByName(name);
        QVERIFY2(reg, qPrintable(name));
        QCOMPARE(reg->isReadOnly(), readOnly.contains(name));
        int size = 11;
        if (name.startsWith(QLatin1String("SR")) || name == QLatin1String("DATA"))
            size = 12;
        else if (name == QLatin1String("NM") || name == QLatin1String("WD"))
            size = 1;
        else if (name == QLatin1String("ADDR"))
            size = 3;
        QVERIFY2(reg->size() == size, qPrintable(name));
    }
    QCOMPARE(WD.fieldInfo(QStringLiteral("WD[WD]")).description,
             QStringLiteral("ignored by firmware due to WD service routine"));
    // The halves sharing an address differ in bit 10 from the start.
    QCOMPARE(CR3A.bit(10), 0);
    QCOMPARE(CR10B.bit(10), 1);
}

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
}

void TestSpiController::commandSendsExactFrames()
{
    QFETCH(QStringList, writes);
    QFETCH(QString, command);
    QFETCH(QVariant, args);
    QFETCH(QList<int>, frames);

    for (const QString& w : writes) {
        const QString descriptor = w.section(QLatin1Char('='), 0, 0);
        QVERIFY2(rig.write(descriptor, w.section(QLatin1Char('='), 1).toUInt()), qPrintable(w));
    }
    QSignalSpy log(rig.spi.get(), &Applet::signal_log);
    QCOMPARE(rig.spi->runFunction(command, args), QVariant(true));
    QCOMPARE(rig.frames(), frames);
    QVERIFY2(log.isEmpty(), qPrintable(logTexts(log).join(QLatin1Char('\n'))));
}

void TestSpiController::frameTravelsAsSetThenGet()
{
    rig.write(QStringLiteral("CR1[CP_SW]"), 1);
    rig.write(QStringLiteral("CR1[HB_MODE1]"), 1);
    QVERIFY(rig.spi->runFunction(QStringLiteral("WriteCR1"), QString()).toBool());
    const QStringList lines = rig.sim()->receivedLines();
    QCOMPARE(lines, (QStringList{"set SPI0CS0DATA=021201", "get SPI0CS0DATA"}));
    QCOMPARE(rig.sim()->chipRegister(1), quint16(0x201));
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
}

void TestSpiController::answerDecodesIntoStatusRegister()
{
    QFETCH(int, number);
    QFETCH(int, bits);
    const QStringList& all = StatusNames;
    const QString name = QStringLiteral("SR%1").arg(number);
    for (const QString& other : all)
        rig.spi->registerByName(other)->setField(other + QStringLiteral("[]"), 0xAAA);

    // The frame that selects the register is answered with SR0, the poll with the register.
    rig.sim()->setStatusRegister(0, 0xAAA);
    rig.sim()->setStatusRegister(number, quint16(bits));
    rig.sim()->setVariable(QStringLiteral("DIO25"), QStringLiteral("1")); // normal mode
    QVERIFY(rig.spi->runFunction(QStringLiteral("ReadSR%1").arg(number), QString()).toBool());

    QCOMPARE(rig.field(name + QStringLiteral("[11:0]")), unsigned(bits));
    QCOMPARE(rig.field(QStringLiteral("ADDR[]")), unsigned(number));
    QCOMPARE(rig.field(QStringLiteral("DATA[]")), unsigned(bits));
    QCOMPARE(rig.field(QStringLiteral("NM[]")), 1u);
    for (const QString& other : all) {
        if (other != name)
            QVERIFY2(rig.field(other + QStringLiteral("[]")) == 0xAAA, qPrintable(other));
    }
}

void TestSpiController::answerWithUnmappedAddressUpdatesNoStatusRegister()
{
    rig.sim()->setStatusRegister(2, 0x321);
    rig.sim()->setStatusRegister(0, 0x0F0); // answers the frame that selects address 2
    for (const QString& sr : StatusNames)
        rig.spi->registerByName(sr)->setField(sr + QStringLiteral("[]"), 0x0F0);
    // Select status address 2, then any frame carries its answer.
    QVERIFY(rig.spi->runFunction(QStringLiteral("RequestRead"), 2).toBool());
    QVERIFY(rig.spi->runFunction(QStringLiteral("WriteCR0"), QString()).toBool());
    QCOMPARE(rig.field(QStringLiteral("ADDR[]")), 2u);
    QCOMPARE(rig.field(QStringLiteral("DATA[]")), 0x321u);
    for (const QString& sr : StatusNames)
        QVERIFY2(rig.field(sr + QStringLiteral("[]")) == 0x0F0, qPrintable(sr));
}

void TestSpiController::readAllSendsSevenCr0FramesInOneChain()
{
    rig.write(QStringLiteral("CR0[HB_EN1]"), 1);
    rig.write(QStringLiteral("CR0[SOA_MODE]"), 1);
    QVERIFY(rig.spi->runFunction(QStringLiteral("WriteCR0"), QString()).toBool());
    const QMap<int, int> status = {{0, 0x201}, {1, 0x111}, {3, 0x333},
                                   {4, 0x444}, {5, 0x015}, {7, 0x777}};
    for (auto it = status.cbegin(); it != status.cend(); ++it)
        rig.sim()->setStatusRegister(it.key(), quint16(it.value()));
    rig.sim()->clearChipFrames();
    rig.sim()->clearReceivedLines();

    QSignalSpy log(rig.spi.get(), &Applet::signal_log);
    QVERIFY(rig.spi->runFunction(QStringLiteral("ReadAll"), QString()).toBool());

    QList<int> expected;
    for (int soa : {0, 1, 3, 4, 5, 7, 0})
        expected << (0x401 | (soa << 7));
    QCOMPARE(rig.frames(), expected);
    const QStringList lines = rig.sim()->receivedLines();
    QCOMPARE(lines.size(), 8);
    QStringList items;
    for (int frame : expected)
        items << QStringLiteral("SPI0CS0DATA=02%1").arg(frame, 4, 16, QLatin1Char('0')).toUpper();
    QCOMPARE(lines.first(), QStringLiteral("set ") + items.join(QLatin1Char(' ')));
    for (int i = 1; i < 8; ++i)
        QCOMPARE(lines.at(i), QStringLiteral("get SPI0CS0DATA"));
    // Each answer carries the register the frame before it selected: all six refreshed.
    for (auto it = status.cbegin(); it != status.cend(); ++it)
        QCOMPARE(rig.field(QStringLiteral("SR%1[]").arg(it.key())), unsigned(it.value()));
    QCOMPARE(rig.field(QStringLiteral("CR0[SOA]")), 0u);
    QCOMPARE(rig.spi->chainLength(), 0);
    QVERIFY(log.isEmpty());
}

void TestSpiController::chainFramesCarryWdBitAndAddress()
{
    rig.write(QStringLiteral("WD[]"), 1);
    rig.spi->addToChain(5, 0x2B9);
    rig.spi->addToChain(5, 0x522 | 0xF800); // bits above 10 never reach the frame
    rig.spi->addToChain(10, 0x7FF);
    QCOMPARE(rig.spi->chainLength(), 3);
    QVERIFY(rig.spi->sendChain());
    QCOMPARE(rig.frames(), (QList<int>{0x5AB9, 0x5D22, 0xAFFF}));
    QCOMPARE(rig.sim()->chipRegister(5), quint16(0x2B9));
    QCOMPARE(rig.sim()->chipRegister(5, true), quint16(0x522));
    QCOMPARE(rig.spi->chainLength(), 0);
    // An empty chain sends nothing.
    rig.sim()->clearReceivedLines();
    QVERIFY(rig.spi->sendChain());
    QVERIFY(rig.sim()->receivedLines().isEmpty());
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
        if (cleared.contains(name))
            QVERIFY2(value == cleared.value(name), qPrintable(name));
        else
            QVERIFY2(value & 1, qPrintable(name + QStringLiteral(" must be kept")));
    }
    QVERIFY(rig.sim()->receivedLines().isEmpty());
}

void TestSpiController::requestReadRefusesInvalidNumbers_data()
{
    QTest::addColumn<QVariant>("args");
    QTest::newRow("8") << QVariant(8);
    QTest::newRow("negative") << QVariant(-1);
    QTest::newRow("text 9") << QVariant(QStringLiteral("9"));
    QTest::newRow("not a number") << QVariant(QStringLiteral("SR3"));
    QTest::newRow("empty") << QVariant(QString());
}

void TestSpiController::requestReadRefusesInvalidNumbers()
{
    QFETCH(QVariant, args);
    rig.write(QStringLiteral("CR0[SOA]"), 4);
    QSignalSpy log(rig.spi.get(), &Applet::signal_log);
    QCOMPARE(rig.spi->runFunction(QStringLiteral("RequestRead"), args), QVariant(false));
    QCOMPARE(log.size(), 1);
    QCOMPARE(log.first().at(0).toInt(), -1);
    QVERIFY(rig.sim()->chipFrames().isEmpty());
    QCOMPARE(rig.field(QStringLiteral("CR0[]")), 4u << 7);
}

void TestSpiController::helpMapListsEveryCommand()
{
    rig.spi->functionHelpMap().clear();
    QCOMPARE(rig.spi->runFunction(QString(), QString()), QVariant(false));
    QCOMPARE(rig.spi->runFunction(QStringLiteral("writecr0"), QString()), QVariant(false));
    QStringList expected = {"WriteCR0", "WriteCR1",    "WriteCR2", "WriteCR3A", "WriteCR3B",
                            "WriteCR3", "RequestRead", "ReadAll",  "Clear"};
    for (int n = 5; n <= 10; ++n)
        expected << QStringLiteral("WriteCR%1").arg(n) << QStringLiteral("WriteCR%1A").arg(n)
                 << QStringLiteral("WriteCR%1B").arg(n);
    for (int n : {0, 1, 3, 4, 5, 7})
        expected << QStringLiteral("ReadSR%1").arg(n);
    QStringList keys = rig.spi->functionHelpMap().keys();
    expected.sort();
    QCOMPARE(keys, expected);
    for (const QString& text : rig.spi->functionHelpMap())
        QVERIFY(!text.isEmpty());
    QVERIFY(rig.sim()->receivedLines().isEmpty());
}

void TestSpiController::writeCr1UpdatesWatchDogTimeout()
{
    RecordingApplet watchDog;
    AppletInstances::watchDog = &watchDog;
    rig.write(QStringLiteral("CR1[WD_CFG]"), 1);
    QVERIFY(rig.spi->runFunction(QStringLiteral("WriteCR1"), QString()).toBool());
    rig.write(QStringLiteral("CR1[WD_CFG]"), 0);
    // Also after a failed write: the image is what the watchdog must follow.
    AppletInstances::controlBoard = nullptr;
    QVERIFY(!rig.spi->runFunction(QStringLiteral("WriteCR1"), QString()).toBool());
    AppletInstances::controlBoard = &rig.board;
    AppletInstances::watchDog = nullptr;
    QCOMPARE(watchDog.calls, (QStringList{"set:WDTimeout=1@ff001234", "set:WDTimeout=0@ff001234"}));
}

void TestSpiController::registersClearedReportRestoresConfiguration()
{
    RecordingApplet board;
    RecordingApplet watchDog;
    AppletInstances::board = &board;
    AppletInstances::watchDog = &watchDog;
    rig.write(QStringLiteral("CR0[HB_EN1]"), 1);
    rig.write(QStringLiteral("CR1[WD_CFG]"), 1);

    // On the simulated board the report is ignored.
    rig.spi->on_cbSR0_10_stateChanged(Qt::Checked);
    QVERIFY(board.calls.isEmpty());
    QCOMPARE(rig.field(QStringLiteral("CR0[]")), 1u);

    // A real board (here one not connected, which is not the simulated one).
    ControlBoard real;
    AppletInstances::controlBoard = &real;
    rig.spi->on_cbSR0_10_stateChanged(Qt::Unchecked);
    QVERIFY(board.calls.isEmpty());
    rig.spi->on_cbSR0_10_stateChanged(Qt::Checked);
    AppletInstances::controlBoard = &rig.board;
    AppletInstances::board = nullptr;
    AppletInstances::watchDog = nullptr;

    QCOMPARE(board.calls, QStringList{"run:setUserConf"});
    QCOMPARE(rig.field(QStringLiteral("CR0[]")), 0u);
    QCOMPARE(rig.field(QStringLiteral("CR3B[]")), 1024u);
    // Cleared before the watchdog hears of it: CR1 bit 8 is now 0.
    QCOMPARE(watchDog.calls, QStringList{"set:WDTimeout=0@ff001234"});
}

void TestSpiController::failedTransferLogsAndKeepsStatus_data()
{
    QTest::addColumn<bool>("connected"); // false: no board link at all
    QTest::addColumn<QString>("command");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QStringList>("log");

    QTest::newRow("write, no link") << false << "WriteCR0" << false << QStringList{err(WriteError)};
    QTest::newRow("write, not connected")
        << true << "WriteCR2" << false << QStringList{err(WriteError)};
    QTest::newRow("pair write reports nothing but logs both")
        << false << "WriteCR6" << true << QStringList{err(WriteError), err(WriteError)};
    QTest::newRow("request read") << false << "RequestRead" << true << QStringList{err(WriteError)};
    QTest::newRow("status read") << true << "ReadSR3" << false
                                 << QStringList{err(WriteError), err(ReadError)};
}

void TestSpiController::failedTransferLogsAndKeepsStatus()
{
    QFETCH(bool, connected);
    QFETCH(QString, command);
    QFETCH(bool, result);
    QFETCH(QStringList, log);

    for (const QString& sr : AnswerNames) {
        Register* reg = rig.spi->registerByName(sr);
        reg->setField(sr + QStringLiteral("[0]"), 1);
    }
    ControlBoard closed;
    AppletInstances::controlBoard = connected ? &closed : nullptr;
    QSignalSpy spy(rig.spi.get(), &Applet::signal_log);
    const QVariant out = rig.spi->runFunction(command, QStringLiteral("1"));
    AppletInstances::controlBoard = &rig.board;

    QCOMPARE(out, QVariant(result));
    QCOMPARE(logTexts(spy), log);
    for (const QString& sr : AnswerNames)
        QVERIFY2(rig.field(sr + QStringLiteral("[]")) == 1, qPrintable(sr));
}

void TestSpiController::failedChainLogsAndEmptiesBuffer()
{
    NM.setField(QStringLiteral("NM[]"), 1);
    SR0.setField(QStringLiteral("SR0[]"), 0x400);

    AppletInstances::controlBoard = nullptr;
    QSignalSpy spy(rig.spi.get(), &Applet::signal_log);
    QCOMPARE(rig.spi->runFunction(QStringLiteral("ReadAll"), QString()), QVariant(false));
    QCOMPARE(rig.spi->chainLength(), 0);
    rig.spi->addToChain(1, 0);
    QVERIFY(!rig.spi->sendChain());
    QCOMPARE(rig.spi->chainLength(), 0);
    AppletInstances::controlBoard = &rig.board;
    QCOMPARE(logTexts(spy), (QStringList{err(ChainWriteError), err(ChainWriteError)}));
    // A chain that never reached the board leaves the status as it was.
    QCOMPARE(rig.field(QStringLiteral("SR0[]")), 0x400u);
    QCOMPARE(rig.field(QStringLiteral("NM[]")), 1u);

    // The next chain carries only its own frames.
    rig.sim()->clearChipFrames();
    rig.spi->addToChain(2, 5);
    QVERIFY(rig.spi->sendChain());
    QCOMPARE(rig.frames(), QList<int>{0x2005});
}

void TestSpiController::chainWhoseAnswersStopPartWayFails()
{
    // The board keeps a bounded answer queue; a chain longer than it gets answers for
    // its last frames only, and the reads run dry before the chain's end.
    const int frames = 1100;
    for (int i = 0; i < frames; ++i)
        rig.spi->addToChain(4, i & 0x7FF);
    QSignalSpy spy(rig.spi.get(), &Applet::signal_log);
    QVERIFY(!rig.spi->sendChain());
    QCOMPARE(rig.spi->chainLength(), 0);
    QCOMPARE(logTexts(spy), QStringList{err(ChainReadError)});
    QCOMPARE(rig.sim()->chipFrames().size(), frames);

    // Nothing stale is left behind for the next transfer.
    rig.sim()->clearChipFrames();
    QVERIFY(rig.spi->runFunction(QStringLiteral("WriteCR2"), QString()).toBool());
    QCOMPARE(rig.frames(), QList<int>{0x2000});
}

QTEST_MAIN(TestSpiController)
#include "tst_spicontroller.moc"
