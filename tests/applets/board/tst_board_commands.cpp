// Board::runFunction: dispatch, help texts and the board lines and SPI frames each
// group of commands sends.

#include "BoardRig.h"
#include "CallerKey.h"
#include "PwmVariables.h"
#include "Register.h"
#include "Variable.h"

#include <QElapsedTimer>
#include <QTimer>
#include <QtTest>

class TestBoardCommands : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<BoardRig> rig;

    QVariant run(const QString& name, const QString& args = QString())
    {
        return rig->board->runFunction(name, args);
    }

    static QList<unsigned int> chipImages()
    {
        using namespace ChipRegisters;
        return {CR0.value(true), CR1.value(true), CR2.value(true), CR3A.value(true),
                CR3B.value(true)};
    }

private slots:
    void init() { rig = std::make_unique<BoardRig>(); }
    void cleanup() { rig.reset(); }

    void emptyNameOnlyFillsTheHelpMap();
    void matchedNameFillsHelpUpToItself();
    void namesMatchWholeAndCaseSensitive_data();
    void namesMatchWholeAndCaseSensitive();

    void halfBridgeOn_data();
    void halfBridgeOn();
    void halfBridgeOnWithoutModeIsRefused_data();
    void halfBridgeOnWithoutModeIsRefused();

    void motorRunsWaitWithOutputsOff_data();
    void motorRunsWaitWithOutputsOff();
    void brakeChainsPwmAndModesThenDisablesOutputs();

    void activeModeConfiguresDriverAndPwmInputs();
    void standbyClearsDriverEnable();
    void failSafePinFollowsFsmRegister();

    void measurementsScaleAndRefuseOutOfRange_data();
    void measurementsScaleAndRefuseOutOfRange();
    void measurementWithoutBoardGivesZeroAndFalse();
    void getAdcReadsAllThree();

    void configurationCommandsReportFalse();
    void loadedRegistersGoOutWithTheirHalfBit();
    void generatorCommandsGoToHbController();
};

void TestBoardCommands::emptyNameOnlyFillsTheHelpMap()
{
    QCOMPARE(run(QString()), QVariant(false));
    const QMap<QString, QString> help = rig->board->functionHelpMap();
    QCOMPARE(help.size(), 34);
    QCOMPARE(help.value("setHB_ON"), QStringLiteral("Turns on HB\nParams : HB number, hs/ls"));
    QCOMPARE(help.value("setPWM4_Duty"), QStringLiteral("Sets PWM4 Duty"));
    QCOMPARE(help.value("setBrake2"), QStringLiteral("Sets device to stop"));
    QCOMPARE(help.value("setLoaded"),
             QStringLiteral("Sets Loaded Configuration saved in UCR reg Values"));
    QVERIFY(rig->lines().isEmpty());

    QCOMPARE(run(QString()), QVariant(false));
    QCOMPARE(rig->board->functionHelpMap(), help);

    // Entries that exist are never rewritten.
    rig->board->functionHelpMap().insert("getVS", "mine");
    run(QString());
    QCOMPARE(rig->board->functionHelpMap().value("getVS"), QStringLiteral("mine"));
}

void TestBoardCommands::matchedNameFillsHelpUpToItself()
{
    QCOMPARE(run("setHB_OFF", "5"), QVariant(true));
    QCOMPARE(rig->board->functionHelpMap().keys(), (QStringList{"setHB_OFF", "setHB_ON"}));

    // The configuration commands go on through the table, so all entries exist.
    QCOMPARE(run("setDefault"), QVariant(false));
    QCOMPARE(rig->board->functionHelpMap().size(), 34);
}

void TestBoardCommands::namesMatchWholeAndCaseSensitive_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("lower case") << "sethb_on";
    QTest::newRow("upper case") << "SETHB_ON";
    QTest::newRow("trailing blank") << "setHB_ON ";
    QTest::newRow("prefix") << "setHB_O";
    QTest::newRow("longer") << "setHB_ONX";
    QTest::newRow("wildcard in request") << "setHB_*";
    QTest::newRow("any") << "*";
    QTest::newRow("scripting form") << "Board.setHB_ON";
}

void TestBoardCommands::namesMatchWholeAndCaseSensitive()
{
    QFETCH(QString, name);
    const QList<unsigned int> before = chipImages();
    QCOMPARE(run(name, "5,hs"), QVariant(false));
    QVERIFY(rig->lines().isEmpty());
    QCOMPARE(chipImages(), before);
}

void TestBoardCommands::halfBridgeOn_data()
{
    QTest::addColumn<QString>("args");
    QTest::addColumn<int>("hb");
    QTest::addColumn<int>("mode");       // CR1[HB_MODEn]
    QTest::addColumn<int>("pwm");        // CR2[HB_PWMn]
    QTest::addColumn<QString>("select"); // PWM input selection field, empty: untouched
    QTest::addColumn<int>("input");
    QTest::addColumn<QList<int>>("addresses");

    QTest::newRow("HB5 high side")
        << "5,hs" << 5 << 1 << 1 << "CR3A[9:8]" << 2 << QList<int>{0, 1, 3, 2, 0};
    QTest::newRow("HB6 high side, upper case")
        << "6,HS" << 6 << 1 << 1 << "CR3B[1:0]" << 3 << QList<int>{0, 1, 3, 2, 0};
    QTest::newRow("HB6 low side") << "6,ls" << 6 << 0 << 0 << "" << 0 << QList<int>{0, 1, 2, 0};
    QTest::newRow("blank before mode is low side")
        << "5, hs" << 5 << 0 << 0 << "" << 0 << QList<int>{0, 1, 2, 0};
    QTest::newRow("HB2 high side")
        << "2,hs" << 2 << 1 << 1 << "CR3A[3:2]" << 3 << QList<int>{0, 1, 3, 2, 0};
}

void TestBoardCommands::halfBridgeOn()
{
    QFETCH(QString, args);
    QFETCH(int, hb);
    QFETCH(int, mode);
    QFETCH(int, pwm);
    QFETCH(QString, select);
    QFETCH(int, input);
    QFETCH(QList<int>, addresses);
    using namespace ChipRegisters;
    CR0.setField(QStringLiteral("CR0[%1]").arg(hb - 1), 1); // on before: switched off first
    const unsigned int cr3a = CR3A.value(true);
    const unsigned int cr3b = CR3B.value(true);

    QCOMPARE(run("setHB_ON", args), QVariant(true));
    QCOMPARE(rig->addresses(), addresses);
    const QList<quint16> frames = rig->frames();
    QCOMPARE(frames.first() & (1u << (hb - 1)), 0u); // output disabled first
    QCOMPARE(CR1.bit(hb - 1), mode);
    QCOMPARE(CR2.bit(hb - 1), pwm);
    QCOMPARE(CR0.bit(hb - 1), 1);
    QCOMPARE(int(frames.last() >> (hb - 1)) & 1, 1);
    if (select.isEmpty()) {
        QCOMPARE(CR3A.value(true), cr3a);
        QCOMPARE(CR3B.value(true), cr3b);
    } else {
        Register& reg = select.startsWith("CR3A") ? CR3A : CR3B;
        QCOMPARE(int(reg.getField(select)), input);
        QCOMPARE(int(frames.at(2) & 0x7FF), int(reg.value(true) & 0x7FF));
    }
}

void TestBoardCommands::halfBridgeOnWithoutModeIsRefused_data()
{
    QTest::addColumn<QString>("args");
    QTest::newRow("empty") << "";
    QTest::newRow("number only") << "5";
    QTest::newRow("mode only") << "hs";
}

void TestBoardCommands::halfBridgeOnWithoutModeIsRefused()
{
    QFETCH(QString, args);
    ChipRegisters::CR0.setField(QStringLiteral("CR0[4]"), 1);
    const QList<unsigned int> before = chipImages();
    QCOMPARE(run("setHB_ON", args), QVariant(false));
    QVERIFY(rig->lines().isEmpty());
    QCOMPARE(chipImages(), before);
}

void TestBoardCommands::motorRunsWaitWithOutputsOff_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<unsigned int>("a"); // mask of the forward PWM side
    QTest::addColumn<unsigned int>("b"); // mask of the backward PWM side
    QTest::addColumn<int>("direction");  // 1 forward, -1 backward, 0 stop

    QTest::newRow("forward 1") << "setForward1" << 0x4u << 0x1u << 1;
    QTest::newRow("backward 1") << "setBackward1" << 0x4u << 0x1u << -1;
    QTest::newRow("stop 1") << "setStop1" << 0x4u << 0x1u << 0;
    QTest::newRow("forward 2") << "setForward2" << 0x8u << 0x2u << 1;
    QTest::newRow("backward 2") << "setBackward2" << 0x8u << 0x2u << -1;
    QTest::newRow("stop 2") << "setStop2" << 0x8u << 0x2u << 0;
}

void TestBoardCommands::motorRunsWaitWithOutputsOff()
{
    QFETCH(QString, command);
    QFETCH(unsigned int, a);
    QFETCH(unsigned int, b);
    QFETCH(int, direction);
    using namespace ChipRegisters;
    const unsigned int both = a | b;
    CR0.setField(QStringLiteral("CR0[5:0]"), both); // running before: switched off first
    const unsigned int pwm = direction > 0 ? a : direction < 0 ? b : 0u;

    QList<int> duringWait;
    QTimer::singleShot(50, rig->board.get(), [&] { duringWait = rig->addresses(); });
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(run(command), QVariant(true));
    const qint64 took = clock.elapsed();
    const QList<quint16> frames = rig->frames();
    QCOMPARE(frames.at(0) & both, 0u);
    QCOMPARE(frames.at(1) & both, pwm);
    QCOMPARE(CR2.value(true) & both, pwm);

    if (direction == 0) {
        QVERIFY2(took < 90, qPrintable(QString::number(took)));
        QCOMPARE(rig->addresses(), (QList<int>{0, 2}));
        QCOMPARE(CR0.value(true) & both, 0u);
        return;
    }
    // CR0 off, CR2, then 100 ms with the outputs off, then CR1 and CR0 on.
    QVERIFY2(took >= 95, qPrintable(QString::number(took)));
    QCOMPARE(duringWait, (QList<int>{0, 2}));
    QCOMPARE(rig->addresses(), (QList<int>{0, 2, 1, 0}));
    QCOMPARE(frames.at(2) & both, pwm); // the PWM-driven side on its high side
    QCOMPARE(frames.at(3) & both, both);
    QCOMPARE(CR1.value(true) & both, pwm);
    QCOMPARE(CR0.value(true) & both, both);
    QCOMPARE(CR0.value(true) & ~both & 0xF, 0u); // the other motor untouched
    QVERIFY(!rig->board->isDelayBusy());
}

void TestBoardCommands::brakeChainsPwmAndModesThenDisablesOutputs()
{
    using namespace ChipRegisters;
    run("setForward2");
    rig->forget();
    QList<int> duringWait;
    QTimer::singleShot(25, rig->board.get(), [&] { duringWait = rig->addresses(); });
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(run("setBrake2"), QVariant(true));
    QVERIFY2(clock.elapsed() >= 45, qPrintable(QString::number(clock.elapsed())));

    QCOMPARE(rig->chainSizes(), QList<int>{2});
    QCOMPARE(duringWait, (QList<int>{2, 1}));
    QCOMPARE(rig->addresses(), (QList<int>{2, 1, 0}));
    const QList<quint16> frames = rig->frames();
    QCOMPARE(frames.at(0) & 0xA, 0);
    QCOMPARE(frames.at(1) & 0xA, 0);
    QCOMPARE(frames.at(2) & 0xA, 0);
    QCOMPARE(CR0.value(true) & 0xA, 0u);
}

void TestBoardCommands::activeModeConfiguresDriverAndPwmInputs()
{
    using namespace ChipRegisters;
    CR3A.setField(QStringLiteral("CR3A[9:0]"), 0x3FF);
    QCOMPARE(run("setActive"), QVariant(true));
    QCOMPARE(CR1.bit(10), 1);
    QCOMPARE(CR1.bit(9), 1);
    QCOMPARE(CR3A.getField(QStringLiteral("CR3A[7:0]")), 0x44u); // HB2, HB4 from input 1
    QCOMPARE(CR3A.getField(QStringLiteral("CR3A[9:8]")), 3u);    // HB5 untouched
    // User configuration chain, CR1, CR2, CR3A, CR3B, then the SR0 request.
    QCOMPARE(rig->chainSizes().value(0), 12);
    const QList<int> addresses = rig->addresses().mid(12);
    QCOMPARE(addresses, (QList<int>{1, 2, 3, 3, 0}));
}

void TestBoardCommands::standbyClearsDriverEnable()
{
    ChipRegisters::CR1.setField(QStringLiteral("CR1[10]"), 1);
    QCOMPARE(run("setStandby"), QVariant(true));
    QCOMPARE(ChipRegisters::CR1.bit(10), 0);
    QCOMPARE(rig->addresses(), (QList<int>{1, 0}));
    QCOMPARE(rig->frames().first() & 0x400, 0);
}

void TestBoardCommands::failSafePinFollowsFsmRegister()
{
    BoardParameters::FSM.setField(QStringLiteral("FSM"), 1);
    QCOMPARE(run("setFSM"), QVariant(true));
    QCOMPARE(rig->pinLines().value(0), QStringLiteral("set DIO22=1"));
    QCOMPARE(rig->watchDog.writes.size(), 1);
    QCOMPARE(rig->watchDog.writes.first().value.toInt(), 0);
    QVERIFY(rig->chainSizes().isEmpty());

    rig->forget();
    BoardParameters::FSM.setField(QStringLiteral("FSM"), 0);
    QCOMPARE(run("setFSM"), QVariant(true));
    QCOMPARE(rig->pinLines().value(0), QStringLiteral("set DIO22=0"));
    QCOMPARE(rig->watchDog.writes.size(), 1); // EN is set
    QCOMPARE(rig->watchDog.writes.first().value.toInt(), 1);
    QCOMPARE(rig->chainSizes(), (QList<int>{7, 12})); // status, then user configuration
}

void TestBoardCommands::measurementsScaleAndRefuseOutOfRange_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("boardName");
    QTest::addColumn<QString>("reading");
    QTest::addColumn<QString>("variable");
    QTest::addColumn<double>("expected");

    QTest::newRow("supply") << "getVS"
                            << "AIN5"
                            << "2048"
                            << "ADC_Result4" << 48.0;
    QTest::newRow("current 1") << "getADC1"
                               << "Isen1"
                               << "1500"
                               << "ADC_Result1" << 1.5;
    QTest::newRow("current 2") << "getADC2"
                               << "Isen2"
                               << "250"
                               << "ADC_Result2" << 0.25;
    QTest::newRow("current above 50 A kept") << "getADC1"
                                             << "Isen1"
                                             << "50001"
                                             << "ADC_Result1" << 7.0;
    QTest::newRow("supply above 50 V kept") << "getVS"
                                            << "AIN5"
                                            << "4095"
                                            << "ADC_Result4" << 7.0;
    QTest::newRow("not a number") << "getADC2"
                                  << "Isen2"
                                  << "n/a"
                                  << "ADC_Result2" << 0.0;
}

void TestBoardCommands::measurementsScaleAndRefuseOutOfRange()
{
    QFETCH(QString, command);
    QFETCH(QString, boardName);
    QFETCH(QString, reading);
    QFETCH(QString, variable);
    QFETCH(double, expected);
    Variable* target = rig->board->variableByName(variable);
    QVERIFY(target);
    QVERIFY(target->setValue(7.0, CallerKey::Internal));
    rig->sim()->setVariable(boardName, reading);

    QCOMPARE(run(command), QVariant(true));
    QCOMPARE(rig->pinLines(), QStringList{"get " + boardName});
    QCOMPARE(target->value(), expected);
}

void TestBoardCommands::measurementWithoutBoardGivesZeroAndFalse()
{
    BoardParameters::ADC_Result1 = 3.0;
    rig->link.disconnectBoard();
    QCOMPARE(run("getADC1"), QVariant(false));
    QCOMPARE(BoardParameters::ADC_Result1.value(), 0.0);
    AppletInstances::controlBoard = nullptr;
    BoardParameters::ADC_Result1 = 3.0;
    QCOMPARE(run("getADC1"), QVariant(false));
    QCOMPARE(BoardParameters::ADC_Result1.value(), 0.0);
}

void TestBoardCommands::getAdcReadsAllThree()
{
    QCOMPARE(run("getADC"), QVariant(true));
    QCOMPARE(rig->pinLines(), (QStringList{"get Isen1", "get Isen2", "get AIN5"}));
    rig->forget();
    QCOMPARE(run("refresh"), QVariant(true));
    QCOMPARE(rig->pinLines().mid(0, 3), (QStringList{"get Isen1", "get Isen2", "get AIN5"}));
    QCOMPARE(rig->chainSizes(), QList<int>{7});
}

void TestBoardCommands::configurationCommandsReportFalse()
{
    QCOMPARE(run("setDefault"), QVariant(false));
    QCOMPARE(rig->chainSizes(), QList<int>{12});
    QCOMPARE(ChipRegisters::CR10B.value(true), 1314u);
    rig->forget();
    QCOMPARE(run("setUserConf"), QVariant(false));
    QCOMPARE(rig->chainSizes(), QList<int>{12});
    rig->forget();
    rig->board->loadedRegisters.clear();
    QCOMPARE(run("setLoaded"), QVariant(false));
    QVERIFY(rig->lines().isEmpty()); // an empty chain sends nothing
}

void TestBoardCommands::loadedRegistersGoOutWithTheirHalfBit()
{
    using namespace ChipRegisters;
    rig->board->loadedRegisters = QStringList{"CR5A", "CR5B"};
    QVERIFY(rig->board->setValue("UCR5A[10:0]", 0x7FF, CallerKey::Internal));
    QVERIFY(rig->board->setValue("UCR5B[10:0]", 0, CallerKey::Internal));
    CR6A.setField(QStringLiteral("CR6A[10:0]"), 0x11);

    QCOMPARE(run("setLoaded"), QVariant(false));
    QCOMPARE(CR5A.getField(QStringLiteral("CR5A[10:0]")), 0x3FFu);
    QCOMPARE(CR5B.getField(QStringLiteral("CR5B[10:0]")), 0x400u);
    QCOMPARE(CR6A.getField(QStringLiteral("CR6A[10:0]")), 0x11u); // not loaded
    QCOMPARE(rig->frames(), (QList<quint16>{BoardRig::frame(5, 0x3FF), BoardRig::frame(5, 0x400)}));
    QCOMPARE(rig->chainSizes(), QList<int>{2});

    rig->forget();
    rig->board->loadedRegisters = QStringList{"CR10B"};
    QVERIFY(rig->board->setValue("UCR10B[10:0]", 0x155, CallerKey::Internal));
    run("setLoaded");
    QCOMPARE(rig->frames(), QList<quint16>{BoardRig::frame(10, 0x555)});
}

void TestBoardCommands::generatorCommandsGoToHbController()
{
    rig->hbController.result = false;
    QCOMPARE(run("setPWM2_Duty"), QVariant(false));
    rig->hbController.result = true;
    QCOMPARE(run("setPWM4_Freq", "ignored"), QVariant(true));
    QCOMPARE(rig->hbController.runs.size(), 2);
    QCOMPARE(rig->hbController.runs.at(0).name, QStringLiteral("setPWM2_Duty"));
    QCOMPARE(rig->hbController.runs.at(1).name, QStringLiteral("setPWM4_Freq"));
    QCOMPARE(rig->hbController.runs.at(1).value.toString(), QString());
    QVERIFY(rig->lines().isEmpty());

    AppletInstances::hbController = nullptr;
    QCOMPARE(run("setPWM1_Freq"), QVariant(false));
}

QTEST_MAIN(TestBoardCommands)
#include "tst_board_commands.moc"
