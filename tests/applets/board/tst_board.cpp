// The Board applet on the simulated board: the shared wait, the transfer hook, the life cycle,
// its window's bindings and the commands only Board carries out itself. The generators, the
// motors of Basic and the demonstration are tested with the real applets beside this.

#include "BoardAppletsRig.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QSlider>
#include <QSpinBox>
#include <QTimer>
#include <QtTest>
#include <ctime>

using namespace ChipRegisters;

namespace {
// The configuration images every "HBConf_Def" sends: A then B for CR5..CR10.
QList<quint16> defaultFrames()
{
    QList<quint16> expected;
    for (int n = 5; n <= 10; ++n)
        expected << quint16(n << 12 | 697) << quint16(n << 12 | 1314);
    return expected;
}
} // namespace

class TestBoard : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<BoardAppletsRig> rig;

    template <typename T> T* widget(const char* name)
    {
        return rig->board->findChild<T*>(QLatin1String(name));
    }
    QVariant run(const QString& name, const QString& args = QString())
    {
        return rig->board->runFunction(name, args);
    }
    unsigned routineEnabled() const
    {
        return rig->watchDog->getValue(QStringLiteral("RoutineEN"), CallerKey::Internal).toUInt();
    }

private slots:
    void init() { rig = std::make_unique<BoardAppletsRig>(); }
    void cleanup() { rig.reset(); }

    // Of every applet's window.
    void everyControlResolves()
    {
        for (Applet* applet : rig->all())
            BoardAppletsRig::checkEveryControlResolves(applet);
    }

    // A nested wait (a stop served inside a running phase) is the demonstration's; the
    // script tests stop a running one.
    void delayDoesNotSpin()
    {
        const std::clock_t before = std::clock();
        rig->board->Delay(1000);
        // A loop that polls without sleeping burns the whole second.
        QVERIFY(double(std::clock() - before) / CLOCKS_PER_SEC < 0.3);
        QElapsedTimer clock;
        clock.start();
        rig->board->Delay(-1); // a negative wait ends at once instead of never
        QVERIFY(clock.elapsed() < 500);
    }

    // Activation sends remote mode and the default images; the user configuration then
    // sends the chip's images (just defaulted), not the user registers; reads and other
    // names send nothing.
    void activationAndHookSendTheDefaultImages()
    {
        rig->board->activate();
        QVERIFY(rig->lines().isEmpty()); // the status update comes 10 ms later
        QTRY_COMPARE_WITH_TIMEOUT(rig->chainSizes(), (QList<int>{12, 7}), 3000); // then ReadAll
        QCOMPARE(rig->boardLines().value(0), QStringLiteral("set r219rem=1"));
        QCOMPARE(rig->frames(false).mid(0, 12), defaultFrames());
        BoardParameters::UCR5A.setField(QStringLiteral("UCR5A[10:0]"), 0x123);
        rig->forget();
        QVERIFY(rig->board->onParameterTransfer(1, QStringLiteral("HBConf_Def")) &&
                rig->board->onParameterTransfer(0, QStringLiteral("r219_remote")));
        QVERIFY(rig->lines().isEmpty());
        QVERIFY(rig->board->onParameterTransfer(0, QStringLiteral("HBConf_User")));
        QCOMPARE(rig->frames(false), defaultFrames());
        QCOMPARE(rig->chainSizes(), QList<int>{12});
        // Deactivation stops the auto-refresh.
        widget<QCheckBox>("cbAutoRefresh")->setChecked(true);
        rig->board->deactivate();
        QVERIFY(!rig->board->findChild<QTimer*>(QStringLiteral("refreshTimer"))->isActive());
    }

    void enableAndFailSafeSwitchWidgetsAndRoutine()
    {
        auto* en = widget<QCheckBox>("cbEN");
        auto* motor = widget<QWidget>("frame_Board_MotorControl");
        en->click(); // off: the mode and motor controls too, not the enable box itself
        QCOMPARE(rig->lines(), QStringList{"set DIO25=0"});
        QVERIFY(!motor->isEnabled() && en->isEnabled() && routineEnabled() == 0);
        rig->forget();
        en->click(); // on: pin, routine, status read, user configuration
        QCOMPARE(rig->lines().first(), QStringLiteral("set DIO25=1"));
        QVERIFY(motor->isEnabled() && routineEnabled() == 1);
        QCOMPARE(rig->chainSizes(), (QList<int>{7, 12}));

        // Fail-safe mode: the routine stops at once (the board hears of it through the active
        // WatchDog); enabling meanwhile leaves it alone.
        rig->activate(rig->watchDog.get());
        const auto setFsm = [this](unsigned on) {
            rig->forget();
            BoardParameters::FSM.setField(QStringLiteral("FSM"), on);
            return run("setFSM").toBool() ? rig->boardLines().value(0) : QString();
        };
        QCOMPARE(setFsm(1), QStringLiteral("set DIO22=1"));
        QCOMPARE(rig->boardLines(), (QStringList{"set DIO22=1", "set WDen=0"}));
        QCOMPARE(routineEnabled(), 0u);
        en->click();
        en->click();
        QCOMPARE(routineEnabled(), 0u);
        QCOMPARE(setFsm(0), QStringLiteral("set DIO22=0"));
        QCOMPARE(routineEnabled(), 1u);                   // EN is set
        QCOMPARE(rig->chainSizes(), (QList<int>{7, 12})); // status, user configuration
    }

    void autoRefreshRunsAtThePeriodUntilStopped()
    {
        auto* autoRefresh = widget<QCheckBox>("cbAutoRefresh");
        widget<QSpinBox>("lePeriod")->setValue(1000);
        QElapsedTimer clock;
        clock.start();
        autoRefresh->setChecked(true);
        const QString refresh = QStringLiteral("get Isen1");
        QTRY_VERIFY_WITH_TIMEOUT(rig->lines().contains(refresh), 3000);
        QVERIFY2(clock.elapsed() >= 900, qPrintable(QString::number(clock.elapsed())));
        // A refresh reads the currents, the supply and the status registers.
        QVERIFY(rig->lines().contains(QStringLiteral("get AIN5")) && !rig->chainSizes().isEmpty());
        autoRefresh->setChecked(false);
        const qsizetype seen = rig->lines().count(refresh);
        QTest::qWait(1300);
        QCOMPARE(rig->lines().count(refresh), seen);
    }

    void buttonAndSliderRunTheirCommandsOnce()
    {
        // A second connection by name would run the command twice.
        widget<QAbstractButton>("pbBoard_refresh")->click();
        QCOMPARE(rig->lines().count(QStringLiteral("get Isen1")), 1);
        // The sliders run HBController's commands; without it they are skipped.
        rig->forget();
        emit widget<QSlider>("hsPWM3_Duty")->sliderMoved(30);
        QCOMPARE(rig->lines(), QStringList{"set PWM2DUTY=30"}); // the duty set, then sent
        AppletInstances::hbController = nullptr;
        QCOMPARE(run("setPWM1_Freq"), QVariant(false));
    }

    void halfBridgeOn_data()
    {
        QTest::addColumn<QString>("args");
        QTest::addColumn<int>("highSide"); // -1: refused
        QTest::newRow("5,hs") << "5,hs" << 1;
        QTest::newRow("6,HS") << "6,HS" << 1;
        QTest::newRow("6,ls") << "6,ls" << 0;
        QTest::newRow("5, hs is low side") << "5, hs" << 0;
        for (const char* refused : {"", "5", "hs"})
            QTest::newRow(refused) << refused << -1;
    }

    // The output goes off first, then the mode, for the high side the PWM input (HB5 from
    // generator 3, HB6 from 4 in CR3's B half), the PWM enable, and the output on again.
    void halfBridgeOn()
    {
        QFETCH(QString, args);
        QFETCH(int, highSide);
        const int hb = args.startsWith('6') ? 6 : 5;
        CR0.setField(QStringLiteral("CR0[%1]").arg(hb - 1), 1);
        QCOMPARE(run("setHB_ON", args), QVariant(highSide >= 0));
        if (highSide < 0) {
            QVERIFY(rig->frames().isEmpty() && CR0.bit(hb - 1) == 1);
            return;
        }
        QCOMPARE(rig->addresses(), (highSide ? QList<int>{0, 1, 3, 2, 0} : QList<int>{0, 1, 2, 0}));
        const QList<quint16> frames = rig->frames();
        QCOMPARE((frames.first() >> (hb - 1) & 1) * 2 + (frames.last() >> (hb - 1) & 1),
                 1); // off, on
        QCOMPARE(CR1.bit(hb - 1) + CR2.bit(hb - 1), 2 * highSide);
        if (highSide) {
            Register& cr3 = hb == 5 ? CR3A : CR3B;
            QCOMPARE(cr3.getField(hb == 5 ? "CR3A[9:8]" : "CR3B[1:0]"), hb == 5 ? 2u : 3u);
            QCOMPARE(frames.at(2) & 0x7FFu, cr3.value(true) & 0x7FF);
        }
    }

    void motorCommandsWaitWithOutputsOff_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<unsigned>("both"); // the motor's two sides
        QTest::addColumn<QList<int>>("addresses");
        QTest::addColumn<QList<int>>("motorBits"); // of each frame
        QTest::addColumn<int>("waitMs");           // after the first two frames
        QTest::newRow("forward 1")
            << "setForward1" << 0x5u << QList<int>{0, 2, 1, 0} << QList<int>{0, 4, 4, 5} << 100;
        QTest::newRow("backward 2")
            << "setBackward2" << 0xAu << QList<int>{0, 2, 1, 0} << QList<int>{0, 2, 2, 0xA} << 100;
        QTest::newRow("stop 1") << "setStop1" << 0x5u << QList<int>{0, 2} << QList<int>{0, 0} << 0;
        QTest::newRow("brake 2") << "setBrake2" << 0xAu << QList<int>{2, 1, 0}
                                 << QList<int>{0, 0, 0} << 50;
    }

    // A run: CR0 off, CR2 (the PWM-driven side), 100 ms with the outputs off, then CR1
    // (that side on its high side) and CR0 on; a stop ends after CR2, at once. A brake:
    // PWM and modes off in one chain, 50 ms, then the outputs off.
    void motorCommandsWaitWithOutputsOff()
    {
        QFETCH(QString, command);
        QFETCH(unsigned, both);
        QFETCH(int, waitMs);
        for (Register* reg : {&CR0, &CR1, &CR2}) // running before: every bit of the motor set
            QVERIFY(reg->setField(reg->name() + "[3:0]", both));
        QList<int> duringWait;
        if (waitMs > 0) // seen halfway through the wait
            QTimer::singleShot(waitMs / 2, rig->board.get(),
                               [&] { duringWait = rig->addresses(); });
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(run(command), QVariant(true));
        const qint64 took = clock.elapsed();
        QList<int> motorBits;
        for (quint16 frame : rig->frames())
            motorBits << int(frame & both);
        QTEST(motorBits, "motorBits");
        QTEST(rig->addresses(), "addresses");
        QCOMPARE(rig->chainSizes(), command == "setBrake2" ? QList<int>{2} : QList<int>{});
        QVERIFY2(waitMs ? took >= waitMs - 5 && duringWait == rig->addresses().mid(0, 2)
                        : took < 90,
                 qPrintable(QString::number(took)));
        QCOMPARE(CR0.value(true) & ~both & 0xF, 0u); // the other motor untouched
    }

    // Active: user configuration, drivers on, motor 2 (HB2, HB4) from PWM input 1 and
    // motor 1 from input 0; reduced power: drivers off.
    void activeAndStandbyModes()
    {
        CR3A.setField(QStringLiteral("CR3A[9:0]"), 0x3FF);
        QCOMPARE(run("setActive"), QVariant(true));
        QCOMPARE(rig->chainSizes().value(0), 12);
        QCOMPARE(rig->addresses(false).mid(12), (QList<int>{1, 2, 3, 3, 0}));
        QVERIFY(CR1.bit(10) + CR1.bit(9) == 2 && CR3A.getField("CR3A[9:0]") == 0x344u);
        rig->forget();
        QCOMPARE(run("setStandby"), QVariant(true));
        QCOMPARE(rig->addresses(false), (QList<int>{1, 0}));
        QCOMPARE(rig->frames(false).first() & 0x400, 0);
    }

    void measurementsScaleAndRefuseOutOfRange_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("reading");
        QTest::addColumn<double>("expected"); // 7: the value before, kept
        QTest::newRow("supply") << "getVS" << QStringLiteral("2048") << 48.0;
        QTest::newRow("current 1") << "getADC1" << QStringLiteral("1500") << 1.5;
        QTest::newRow("current above 50 A") << "getADC1" << QStringLiteral("50001") << 7.0;
        QTest::newRow("supply above 50 V") << "getVS" << QStringLiteral("4095") << 7.0;
        QTest::newRow("not a number") << "getADC2" << QStringLiteral("n/a") << 0.0;
    }

    void measurementsScaleAndRefuseOutOfRange()
    {
        QFETCH(QString, command);
        QFETCH(QString, reading);
        using namespace BoardParameters;
        const QMap<QString, QPair<QString, Variable*>> measured{
            {"getVS", {"AIN5", &ADC_Result4}},
            {"getADC1", {"Isen1", &ADC_Result1}},
            {"getADC2", {"Isen2", &ADC_Result2}}};
        const auto [boardName, target] = measured.value(command);
        QVERIFY(target->setValue(7.0, CallerKey::Internal));
        rig->sim()->setVariable(boardName, reading);
        QCOMPARE(run(command), QVariant(true));
        QCOMPARE(rig->lines(), QStringList{"get " + boardName});
        QTEST(target->value(), "expected");
        // Without a board: zero and false, no crash.
        rig->link.disconnectBoard();
        QCOMPARE(run(command), QVariant(false));
        QCOMPARE(target->value(), 0.0);
    }

    void loadedConfigurationGoesOutInOneChain()
    {
        rig->board->loadedRegisters.clear();
        QCOMPARE(run("setLoaded"), QVariant(false));
        QVERIFY(rig->lines().isEmpty()); // an empty chain sends nothing
        // Two loaded registers go out in one chain, each with its half's bit 10.
        rig->board->loadedRegisters = QStringList{"CR5A", "CR5B"};
        QVERIFY(rig->board->setValue("UCR5A[10:0]", 0x7FF, CallerKey::Internal));
        QVERIFY(rig->board->setValue("UCR5B[10:0]", 0, CallerKey::Internal));
        CR6A.setField(QStringLiteral("CR6A[10:0]"), 0x11);
        QCOMPARE(run("setLoaded"), QVariant(false));
        QCOMPARE(CR6A.getField(QStringLiteral("CR6A[10:0]")), 0x11u); // not loaded
        QCOMPARE(rig->frames(), (QList<quint16>{0x53FF, 0x5400}));
        QCOMPARE(rig->chainSizes(), QList<int>{2});
    }
};

QTEST_MAIN(TestBoard)
#include "tst_board.moc"
