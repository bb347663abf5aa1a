// The Board applet: the shared wait, the transfer hook, the life cycle, the form's
// bindings and slots, and the PWM generator variables.

#include "BoardRig.h"
#include "CallerKey.h"
#include "PwmVariables.h"
#include "Register.h"
#include "Variable.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QSlider>
#include <QSpinBox>
#include <QTimer>
#include <QtTest>

#include <ctime>

class TestBoard : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<BoardRig> rig;

    template <typename T> T* widget(const char* name)
    {
        T* w = rig->board->findChild<T*>(QString::fromLatin1(name));
        if (!w)
            qFatal("form has no widget %s", name);
        return w;
    }

private slots:
    // The PWM variables are shared globals: check their definitions before any test
    // writes them.
    void pwmVariablesHaveTheirDefinitions_data();
    void pwmVariablesHaveTheirDefinitions();
    void pwmVariablesRefuseOutOfRange();

    void init() { rig = std::make_unique<BoardRig>(); }
    void cleanup() { rig.reset(); }

    void parameterTableIsInOrder();
    void windowIsNamedBoardAndFixedSize();

    void nestedDelaysEndWithTheLastTimer();
    void stoppedDelayEndsWithTheNextDelay();
    void delayDoesNotSpin();
    void delayKeepsTheWindowLive();

    void hookActsOnlyOnItsNamesAndWrites_data();
    void hookActsOnlyOnItsNamesAndWrites();
    void defaultConfigurationIsTwelveChainedFrames();
    void userConfigurationResendsTheChipImages();

    void activationSendsRemoteModeDefaultsAndReadsStatus();
    void enableBoxSwitchesModeWidgetsAndRoutine();
    void enableWithFailSafeLeavesRoutineAlone();
    void autoRefreshRunsAtThePeriodUntilStopped();
    void deactivationStopsAutoRefresh();

    void buttonsRunTheirCommands();
    void dutySliderWritesAndAsksHbController();
    void pinStateFollowsGeneratorSwitch();
};

void TestBoard::pwmVariablesHaveTheirDefinitions_data()
{
    QTest::addColumn<int>("generator");
    for (int n = 1; n <= 4; ++n)
        QTest::newRow(qPrintable(QStringLiteral("PWM%1").arg(n))) << n;
}

void TestBoard::pwmVariablesHaveTheirDefinitions()
{
    QFETCH(int, generator);
    Variable* onOff = PwmVariables::onOff(generator);
    Variable* freq = PwmVariables::frequency(generator);
    Variable* duty = PwmVariables::duty(generator);
    Variable* pin = PwmVariables::pinState(generator);

    QCOMPARE(onOff->name(), QStringLiteral("PWM%1OnOff").arg(generator));
    QCOMPARE(freq->name(), QStringLiteral("PWM%1_FREQ").arg(generator));
    QCOMPARE(duty->name(), QStringLiteral("PWM%1_DUTY").arg(generator));
    QCOMPARE(pin->name(), QStringLiteral("PWM%1_DIO").arg(generator));

    // The on/off texts have no type item and no blank before @value: still 1, 0..1.
    QCOMPARE(onOff->value(), 1.0);
    QCOMPARE(onOff->min(), 0.0);
    QCOMPARE(onOff->max(), 1.0);
    QCOMPARE(freq->value(), 20000.0);
    QCOMPARE(freq->min(), 1.0);
    QCOMPARE(freq->max(), 25000.0);
    QCOMPARE(duty->value(), 50.0);
    QCOMPARE(duty->min(), 0.0);
    QCOMPARE(duty->max(), 100.0);
    QCOMPARE(pin->value(), 0.0);
    QCOMPARE(pin->max(), 1.0);
    QCOMPARE(PwmVariables::onOff(generator + 4), nullptr);
}

void TestBoard::pwmVariablesRefuseOutOfRange()
{
    QVERIFY(!PwmVariables::PWM3_FREQ.setValue(25001.0, CallerKey::Internal));
    QCOMPARE(PwmVariables::PWM3_FREQ.value(), 20000.0);
    QVERIFY(!PwmVariables::PWM2_DUTY.setValue(-1.0, CallerKey::External));
    QVERIFY(!PwmVariables::PWM2_DUTY.setValue(101.0, CallerKey::External));
    QCOMPARE(PwmVariables::PWM2_DUTY.value(), 50.0);
}

void TestBoard::parameterTableIsInOrder()
{
    QStringList expected{"DIO"};
    for (int n = 1; n <= 4; ++n)
        expected << QStringLiteral("PWM%1OnOff").arg(n) << QStringLiteral("PWM%1_FREQ").arg(n)
                 << QStringLiteral("PWM%1_DUTY").arg(n) << QStringLiteral("PWM%1_DIO").arg(n);
    expected << "CR0"
             << "CR1"
             << "SR0"
             << "SR3"
             << "NM"
             << "FSM";
    for (int n = 5; n <= 10; ++n)
        expected << QStringLiteral("UCR%1A").arg(n) << QStringLiteral("UCR%1B").arg(n);
    expected << "ADC_Result1"
             << "ADC_Result2"
             << "ADC_Result4";
    QCOMPARE(rig->board->parameterNames(), expected);

    // The user configuration halves take the chip layout of their half-bridge.
    Register* a = rig->board->registerByName(QStringLiteral("UCR10A"));
    Register* b = rig->board->registerByName(QStringLiteral("UCR7B"));
    QCOMPARE(a->size(), 11);
    QCOMPARE(b->size(), 11);
    QCOMPARE(a->fieldInfo(QStringLiteral("UCR10A[BLANK6]")).description,
             QStringLiteral("HB6 Cross-conduction blanking time"));
    QCOMPARE(a->fieldInfo(QStringLiteral("UCR10A[I_PCF6]")).lo, 5);
    QCOMPARE(b->fieldInfo(QStringLiteral("UCR7B[VDS3]")).hi, 9);
    QCOMPARE(a->bit(10), 0);
    QCOMPARE(b->bit(10), 1);

    QCOMPARE(BoardParameters::DIO.bitName(2), QStringLiteral("PWM2"));
    QCOMPARE(BoardParameters::initialDio.size(), 3);
}

void TestBoard::windowIsNamedBoardAndFixedSize()
{
    QCOMPARE(rig->board->objectName(), QStringLiteral("Board"));
    QCOMPARE(rig->board->windowTitle(), QStringLiteral("Board"));
    QVERIFY(rig->board->fixedWidth());
    QVERIFY(rig->board->fixedHeight());
}

void TestBoard::nestedDelaysEndWithTheLastTimer()
{
    Board* board = rig->board.get();
    QElapsedTimer clock;
    qint64 innerEnd = -1;
    QTimer::singleShot(200, board, [&] {
        board->Delay(100);
        innerEnd = clock.elapsed();
    });
    clock.start();
    board->Delay(1000);
    const qint64 outerEnd = clock.elapsed();

    // Both end when the inner timer (started at 200 ms for 100 ms) expires.
    QVERIFY2(innerEnd >= 280, qPrintable(QString::number(innerEnd)));
    QVERIFY2(outerEnd >= innerEnd && outerEnd < 800, qPrintable(QString::number(outerEnd)));
    QVERIFY(!board->isDelayBusy());
}

void TestBoard::stoppedDelayEndsWithTheNextDelay()
{
    Board* board = rig->board.get();
    QElapsedTimer clock;
    qint64 stoppedAt = -1;
    bool busyAfterStop = false;
    QTimer::singleShot(100, board, [&] {
        board->Delay_stop();
        busyAfterStop = board->isDelayBusy();
        stoppedAt = clock.elapsed();
        board->Delay(100);
    });
    clock.start();
    board->Delay(5000);
    const qint64 end = clock.elapsed();

    QVERIFY(busyAfterStop);
    QVERIFY2(end - stoppedAt >= 90, qPrintable(QString::number(end - stoppedAt)));
    QVERIFY2(end < 2000, qPrintable(QString::number(end)));
}

void TestBoard::delayDoesNotSpin()
{
    const std::clock_t before = std::clock();
    rig->board->Delay(1000);
    const double cpuSeconds = double(std::clock() - before) / CLOCKS_PER_SEC;
    // A loop that polls without sleeping burns the whole second.
    QVERIFY2(cpuSeconds < 0.3, qPrintable(QString::number(cpuSeconds)));

    // A negative wait ends at once instead of never.
    QElapsedTimer clock;
    clock.start();
    rig->board->Delay(-1);
    QVERIFY(clock.elapsed() < 500);
}

void TestBoard::delayKeepsTheWindowLive()
{
    // A script request or button press during a wait runs a whole command.
    Board* board = rig->board.get();
    rig->sim()->setVariable(QStringLiteral("AIN5"), QStringLiteral("1024"));
    QVariant result;
    QTimer::singleShot(20, board, [&] { result = board->runFunction("getVS", QString()); });
    board->Delay(200);
    QCOMPARE(result, QVariant(true));
    QCOMPARE(BoardParameters::ADC_Result4.value(), 24.0);
}

void TestBoard::hookActsOnlyOnItsNamesAndWrites_data()
{
    QTest::addColumn<int>("direction");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("expectedLines");
    QTest::addColumn<int>("expectedFrames");

    QTest::newRow("remote mode") << 0 << "R219_REMOTE" << QStringList{"set r219rem=1"} << 0;
    QTest::newRow("remote mode read") << 1 << "R219_REMOTE" << QStringList{} << 0;
    QTest::newRow("other direction") << 2 << "HBConf_Def" << QStringList{} << 0;
    QTest::newRow("defaults read") << 1 << "HBConf_Def" << QStringList{} << 0;
    QTest::newRow("user read") << 1 << "HBConf_User" << QStringList{} << 0;
    QTest::newRow("name case") << 0 << "r219_remote" << QStringList{} << 0;
    QTest::newRow("own parameter") << 0 << "PWM1_DUTY" << QStringList{} << 0;
    QTest::newRow("chip register") << 0 << "CR0" << QStringList{} << 0;
    QTest::newRow("defaults") << 0 << "HBConf_Def" << QStringList{} << 12;
}

void TestBoard::hookActsOnlyOnItsNamesAndWrites()
{
    QFETCH(int, direction);
    QFETCH(QString, name);
    QFETCH(QStringList, expectedLines);
    QFETCH(int, expectedFrames);

    QVERIFY(rig->board->onParameterTransfer(direction, name));
    QCOMPARE(rig->pinLines(), expectedLines);
    QCOMPARE(rig->frames().size(), expectedFrames);
}

void TestBoard::defaultConfigurationIsTwelveChainedFrames()
{
    ChipRegisters::CR7B.setField(QStringLiteral("CR7B[10:0]"), 0x400);
    QVERIFY(rig->board->onParameterTransfer(0, QStringLiteral("HBConf_Def")));

    QList<quint16> expected;
    for (int n = 5; n <= 10; ++n)
        expected << BoardRig::frame(n, 697) << BoardRig::frame(n, 1314);
    QCOMPARE(rig->frames(), expected);
    QCOMPARE(rig->chainSizes(), QList<int>{12});

    using namespace ChipRegisters;
    for (Register* a : {&CR5A, &CR6A, &CR7A, &CR8A, &CR9A, &CR10A})
        QCOMPARE(a->value(true), 697u);
    for (Register* b : {&CR5B, &CR6B, &CR7B, &CR8B, &CR9B, &CR10B})
        QCOMPARE(b->value(true), 1314u);
}

void TestBoard::userConfigurationResendsTheChipImages()
{
    // The user registers differ; the chip images (just defaulted) are what goes out.
    BoardParameters::UCR5A.setField(QStringLiteral("UCR5A[10:0]"), 0x123);
    QVERIFY(rig->board->onParameterTransfer(0, QStringLiteral("HBConf_Def")));
    rig->forget();
    QVERIFY(rig->board->onParameterTransfer(0, QStringLiteral("HBConf_User")));

    QList<quint16> expected;
    for (int n = 5; n <= 10; ++n)
        expected << BoardRig::frame(n, 697) << BoardRig::frame(n, 1314);
    QCOMPARE(rig->frames(), expected);
    QCOMPARE(rig->chainSizes(), QList<int>{12});
}

void TestBoard::activationSendsRemoteModeDefaultsAndReadsStatus()
{
    rig->board->activate();
    QVERIFY(rig->board->isActive());
    QVERIFY(rig->lines().isEmpty()); // the status update comes 10 ms later
    QTRY_VERIFY_WITH_TIMEOUT(rig->chainSizes().size() == 2, 3000);

    QCOMPARE(rig->pinLines().value(0), QStringLiteral("set r219rem=1"));
    QCOMPARE(rig->chainSizes(), (QList<int>{12, 7})); // defaults, then "ReadAll"
    const QList<quint16> frames = rig->frames();
    QCOMPARE(frames.first(), BoardRig::frame(5, 697));
    QCOMPARE(frames.last() >> 12, 0); // ReadAll requests through CR0
}

void TestBoard::enableBoxSwitchesModeWidgetsAndRoutine()
{
    auto* en = widget<QCheckBox>("cbEN");
    const char* modeWidgets[] = {"pbBoard_setActive",          "pbBoard_setStandby",
                                 "pbBoard_setDefault",         "frame_Board_MotorControl",
                                 "frame_Board_MotorControl_2", "groupBox_Board_Status"};
    const char* alwaysUsable[] = {"pbBoard_setLoaded", "cbEN",        "cbFSM",
                                  "groupBox",          "groupBox_33", "tab_2"};
    QVERIFY(en->isChecked());

    en->click(); // off
    QCOMPARE(BoardParameters::DIO.getField(QStringLiteral("DIO[EN]")), 0u);
    QCOMPARE(rig->pinLines(), QStringList{"set DIO25=0"});
    for (const char* name : modeWidgets)
        QVERIFY2(!widget<QWidget>(name)->isEnabled(), name);
    for (const char* name : alwaysUsable)
        QVERIFY2(widget<QWidget>(name)->isEnabled(), name);
    QCOMPARE(rig->watchDog.writes.size(), 1);
    QCOMPARE(rig->watchDog.writes.first().name, QStringLiteral("RoutineEN"));
    QCOMPARE(rig->watchDog.writes.first().value.toInt(), 0);
    QVERIFY(rig->frames().isEmpty());

    rig->forget();
    en->click(); // on: pin, routine, status read, user configuration
    QCOMPARE(BoardParameters::DIO.getField(QStringLiteral("DIO[EN]")), 1u);
    QCOMPARE(rig->pinLines(), QStringList{"set DIO25=1"});
    QCOMPARE(rig->lines().first(), QStringLiteral("set DIO25=1"));
    for (const char* name : modeWidgets)
        QVERIFY2(widget<QWidget>(name)->isEnabled(), name);
    QCOMPARE(rig->watchDog.writes.size(), 1);
    QCOMPARE(rig->watchDog.writes.first().value.toInt(), 1);
    QCOMPARE(rig->chainSizes(), (QList<int>{7, 12}));
}

void TestBoard::enableWithFailSafeLeavesRoutineAlone()
{
    auto* en = widget<QCheckBox>("cbEN");
    en->click();
    BoardParameters::FSM.setField(QStringLiteral("FSM"), 1);
    rig->forget();
    en->click();
    BoardParameters::FSM.setField(QStringLiteral("FSM"), 0);
    QCOMPARE(rig->pinLines(), QStringList{"set DIO25=1"});
    QVERIFY(rig->watchDog.writes.isEmpty());
}

void TestBoard::autoRefreshRunsAtThePeriodUntilStopped()
{
    auto* period = widget<QSpinBox>("lePeriod");
    auto* autoRefresh = widget<QCheckBox>("cbAutoRefresh");
    auto* timer = rig->board->findChild<QTimer*>(QStringLiteral("refreshTimer"));
    QVERIFY(timer);
    QCOMPARE(period->value(), 2000);

    period->setValue(1000);
    QElapsedTimer clock;
    clock.start();
    autoRefresh->setChecked(true);
    QVERIFY(timer->isActive());
    QCOMPARE(timer->interval(), 1000);

    const auto refreshes = [this] {
        return rig->lines().count(QStringLiteral("get Isen1"));
    };
    QTRY_VERIFY_WITH_TIMEOUT(refreshes() >= 1, 3000);
    QVERIFY2(clock.elapsed() >= 900, qPrintable(QString::number(clock.elapsed())));
    // A refresh reads the currents, the supply and the status registers.
    QVERIFY(rig->lines().contains(QStringLiteral("get AIN5")));
    QVERIFY(!rig->chainSizes().isEmpty());

    autoRefresh->setChecked(false);
    QVERIFY(!timer->isActive());
    const int seen = refreshes();
    QTest::qWait(1300);
    QCOMPARE(refreshes(), seen);

    period->setValue(2000);
    autoRefresh->setChecked(true);
    QCOMPARE(timer->interval(), 2000);
    autoRefresh->setChecked(false);
}

void TestBoard::deactivationStopsAutoRefresh()
{
    auto* autoRefresh = widget<QCheckBox>("cbAutoRefresh");
    auto* timer = rig->board->findChild<QTimer*>(QStringLiteral("refreshTimer"));
    rig->board->activate();
    QTRY_VERIFY_WITH_TIMEOUT(rig->chainSizes().size() == 2, 3000);
    autoRefresh->setChecked(true);
    QVERIFY(timer->isActive());
    rig->forget();

    rig->board->deactivate();
    QVERIFY(!timer->isActive());
    // Back to remote mode and the default configuration before the link closes.
    QCOMPARE(rig->pinLines(), QStringList{"set r219rem=1"});
    QCOMPARE(rig->chainSizes(), QList<int>{12});
    autoRefresh->setChecked(false);
}

void TestBoard::buttonsRunTheirCommands()
{
    // Bound by object name although the accessible name is set empty.
    widget<QAbstractButton>("pbBoard_setDefault")->click();
    QCOMPARE(rig->chainSizes(), QList<int>{12});

    rig->forget();
    widget<QAbstractButton>("pb1")->click(); // setHB_ON(5,hs)
    QCOMPARE(ChipRegisters::CR3A.getField(QStringLiteral("CR3A[9:8]")), 2u);
    QCOMPARE(ChipRegisters::CR0.bit(4), 1);
    QCOMPARE(rig->addresses(), (QList<int>{0, 1, 3, 2, 0}));

    rig->forget();
    widget<QAbstractButton>("pb2")->click(); // setHB_OFF(5)
    QCOMPARE(ChipRegisters::CR0.bit(4), 0);
    QCOMPARE(rig->addresses(), QList<int>{0});

    rig->forget();
    widget<QAbstractButton>("pbBoard_setCL1_Freq")->click();
    QCOMPARE(rig->hbController.runs.size(), 1);
    QCOMPARE(rig->hbController.runs.first().name, QStringLiteral("setPWM1_Freq"));
    QCOMPARE(rig->hbController.runs.first().value.toString(), QString());
}

void TestBoard::dutySliderWritesAndAsksHbController()
{
    auto* slider = widget<QSlider>("hsPWM3_Duty");
    emit slider->sliderMoved(30);
    QCOMPARE(PwmVariables::PWM3_DUTY.value(), 30.0);
    QCOMPARE(rig->hbController.runs.size(), 1);
    QCOMPARE(rig->hbController.runs.first().name, QStringLiteral("setPWM3_Duty"));
    PwmVariables::PWM3_DUTY = 50;

    // Without HBController the slider still writes the variable.
    AppletInstances::hbController = nullptr;
    emit slider->sliderMoved(40);
    QCOMPARE(PwmVariables::PWM3_DUTY.value(), 40.0);
    PwmVariables::PWM3_DUTY = 50;
}

void TestBoard::pinStateFollowsGeneratorSwitch()
{
    auto* label = widget<QLabel>("lblCLK2");
    auto* pin = widget<QCheckBox>("cbPWM2_DIO");
    PwmVariables::PWM2OnOff = 0;
    QCOMPARE(rig->board->runFunction(QStringLiteral("setPWM2_DIO"), QString()), QVariant(true));
    QVERIFY(label->styleSheet().isEmpty());
    QVERIFY(pin->isEnabled());

    PwmVariables::PWM2OnOff = 1;
    rig->board->runFunction(QStringLiteral("setPWM2_DIO"), QString());
    QCOMPARE(label->styleSheet(), QStringLiteral("image: url(:/board/img_signal_clock.png)"));
    QVERIFY(!pin->isEnabled());
    QVERIFY(rig->lines().isEmpty());

    // The pin box asks HBController to drive the pin.
    PwmVariables::PWM2OnOff = 0;
    rig->board->runFunction(QStringLiteral("setPWM2_DIO"), QString());
    pin->click();
    QCOMPARE(rig->hbController.runs.size(), 1);
    QCOMPARE(rig->hbController.runs.first().name, QStringLiteral("setPWM2_DIO"));
    QCOMPARE(PwmVariables::PWM2_DIO.value(), 1.0);
    PwmVariables::PWM2_DIO = 0;
    PwmVariables::PWM2OnOff = 1;
}

QTEST_MAIN(TestBoard)
#include "tst_board.moc"
