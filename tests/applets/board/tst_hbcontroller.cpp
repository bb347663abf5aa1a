// The HB Controller applet against the simulated board: its form's bindings, the
// generator set-up on activation, the transfer hook, the slots and the commands.

#include "BoardAppletsRig.h"

#include <QCheckBox>
#include <QLabel>
#include <QSlider>
#include <QTabWidget>
#include <QtTest>

using namespace ChipRegisters;

namespace {
// The lines "*" sends for generator k running at `duty` and `frequency`: started,
// the running values, then the power-on ones.
QStringList generatorSetup(int k, int duty = 50, int frequency = 20000)
{
    const QString set = QStringLiteral("set PWM%1").arg(k);
    QStringList lines{set + "CONF", set + "START", set + "DUTY=" + QString::number(duty),
                      set + "FREQ=" + QString::number(frequency)};
    if (k == 0)
        lines << set + "CONF";
    return lines << set + "FREQ=20000" << set + "DUTY=50";
}
} // namespace

class TestHBController : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<BoardAppletsRig> rig;

    template <typename T> T* hbWidget(const QString& name) { return rig->hb->findChild<T*>(name); }
    QVariant run(const QString& name) { return rig->hb->runFunction(name, QString()); }

private slots:
    void init() { rig = std::make_unique<BoardAppletsRig>(); }
    void cleanup() { rig.reset(); }

    // A page copied from its neighbour and not fully renamed would edit another
    // half-bridge's registers: no name but ReadHB is bound on two pages.
    void halfBridgePagesBindNamesOfTheirOwn()
    {
        QStringList names;
        auto* tabs = rig->hb->findChild<QTabWidget*>();
        for (int n = 1; n <= 6; ++n)
            for (QWidget* w : tabs->widget(n + 1)->findChildren<QWidget*>())
                if (auto* control = dynamic_cast<CustomControls::UniversalControl*>(w))
                    names << control->bindName();
        QCOMPARE(names.removeAll(QStringLiteral("ReadHB")), 6);
        QCOMPARE(names.size(), 6 * 18);
        QCOMPARE(names.removeDuplicates(), 0);
    }

    // The running values go out first, then every generator is configured and its
    // variables go back to the values sent.
    void activationSetsUpEveryGenerator()
    {
        PwmVariables::PWM1_FREQ.setValue(1000.0, CallerKey::Internal);
        PwmVariables::PWM1_DUTY.setValue(30.0, CallerKey::Internal);
        rig->hb->activate();
        QVERIFY(rig->lines().isEmpty()); // 10 ms later
        // The reset of the running duty reaches the hook again and goes out once more.
        QStringList expected = generatorSetup(0, 30, 1000) << "set PWM0DUTY=50";
        for (int k = 1; k < 4; ++k)
            expected << generatorSetup(k);
        QTRY_COMPARE(rig->lines(), expected);
        QCOMPARE(PwmVariables::PWM1_FREQ.value(), 20000.0);
        QCOMPARE(PwmVariables::PWM1_DUTY.value(), 50.0);
    }

    void transferHookSendsOnlyForItsNames_data()
    {
        QTest::addColumn<int>("direction");
        QTest::addColumn<QString>("name");
        QTest::addColumn<double>("pwm2OnOff");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("duty of a stopped generator") << 0 << "PWM2_DUTY" << 0.0 << QStringList{};
        QTest::newRow("read") << 1 << "PWM2_DUTY" << 1.0 << QStringList{};
        QTest::newRow("frequency waits for its button") << 0 << "PWM2_FREQ" << 1.0 << QStringList{};
        QTest::newRow("chip register") << 0 << "CR0" << 1.0 << QStringList{};
        // The reset of the running duty reaches the hook again and goes out once more.
        QTest::newRow("generator 2 has no CONF line")
            << 0 << "PWM2" << 1.0
            << QStringList{"set PWM1FREQ=20000", "set PWM1DUTY=50", "set PWM1DUTY=50"};
    }

    void transferHookSendsOnlyForItsNames()
    {
        QFETCH(int, direction);
        QFETCH(QString, name);
        QFETCH(double, pwm2OnOff);
        rig->activate(rig->hb.get());
        PwmVariables::PWM2OnOff.setValue(pwm2OnOff, CallerKey::Internal);
        PwmVariables::PWM2_DUTY.setValue(37.9, CallerKey::Internal);
        rig->forget();
        rig->hb->onParameterTransfer(direction, name);
        QTEST(rig->lines(), "expected");
        QCOMPARE(PwmVariables::PWM2_DUTY.value(), name == "PWM2" ? 50.0 : 37.9);
    }

    void switchingOffHoldsThePin_data()
    {
        QTest::addColumn<int>("n");
        QTest::addColumn<bool>("ticked");
        QTest::addColumn<QString>("line");
        QTest::newRow("PWM1 ticked") << 1 << true << "set PWM0DUTY=100";
        QTest::newRow("PWM1 clear") << 1 << false << "set PWM0DUTY=0";
        QTest::newRow("PWM2 ticked") << 2 << true << "set PWM1DUTY=100";
        QTest::newRow("PWM3 always low") << 3 << true << "set PWM2DUTY=0";
        QTest::newRow("PWM4 always low") << 4 << true << "set PWM3DUTY=0";
    }

    // While a generator is off its pin box drives the pin and the clock picture goes, in
    // both windows; switched on from Board, it is configured and started again.
    void switchingOffHoldsThePin()
    {
        QFETCH(int, n);
        QFETCH(bool, ticked);
        QFETCH(QString, line);
        rig->activate(rig->hb.get());
        rig->activate(rig->board.get());
        auto* box = hbWidget<QCheckBox>(QStringLiteral("cbPWM%1_DIO").arg(n));
        auto* hbClock = hbWidget<QLabel>(QStringLiteral("lblCLK%1").arg(n));
        auto* boardClock = rig->board->findChild<QLabel*>(QStringLiteral("lblCLK%1").arg(n));
        box->setChecked(ticked);
        QVERIFY(rig->hb->setValue(QStringLiteral("PWM%1OnOff").arg(n), 0, CallerKey::External));
        QVERIFY(rig->lines().contains(line));
        QVERIFY(box->isEnabled() && hbClock->styleSheet().isEmpty());

        rig->forget();
        QVERIFY(rig->board->setValue(QStringLiteral("PWM%1OnOff").arg(n), 1, CallerKey::External));
        QCOMPARE(rig->lines(), generatorSetup(n - 1).mid(0, 4));
        QVERIFY(!box->isEnabled() && !boardClock->styleSheet().isEmpty());
    }

    void dutySliderSendsWhileTheGeneratorRuns_data()
    {
        QTest::addColumn<bool>("active");
        QTest::addColumn<double>("onOff");
        QTest::addColumn<int>("times");
        QTest::newRow("active, running") << true << 1.0 << 2;
        QTest::newRow("inactive, running") << false << 1.0 << 1;
        QTest::newRow("active, stopped") << true << 0.0 << 0;
    }

    void dutySliderSendsWhileTheGeneratorRuns()
    {
        QFETCH(bool, active);
        QFETCH(double, onOff);
        QFETCH(int, times);
        if (active)
            rig->activate(rig->hb.get());
        PwmVariables::PWM1OnOff.setValue(onOff, CallerKey::Internal);
        rig->forget();
        auto* slider = hbWidget<QSlider>("hsPWM1_Duty");
        // As a user's drag: the slider is down while it moves.
        slider->setSliderDown(true);
        slider->setSliderPosition(30);
        slider->setSliderDown(false);
        QCOMPARE(rig->lines(), QStringList(times, QStringLiteral("set PWM0DUTY=30")));
        QCOMPARE(PwmVariables::PWM1_DUTY.value(), 30.0);
        // A value set by code moves the slider but runs no command.
        rig->forget();
        slider->setValue(40);
        QCOMPARE(rig->lines().size(), active && onOff != 0 ? 1 : 0);
    }

    void halfBridgeCommandsSendTheirFrames_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QList<int>>("addresses"); // 13: status poll
        QTest::newRow("WriteHB5") << "WriteHB5" << QList<int>{0, 1, 2, 3, 9, 9};
        QTest::newRow("WriteHB6") << "WriteHB6" << QList<int>{0, 1, 2, 3, 10, 10};
        QTest::newRow("ReadHB") << "ReadHB" << QList<int>{0, 0, 0, 13};
        QTest::newRow("ReadHB7") << "ReadHB7" << QList<int>{0, 0, 13};
        QTest::newRow("WriteRead3") << "WriteRead3" << QList<int>{0, 1, 2, 3, 7, 7, 0, 0, 0, 13};
    }

    void halfBridgeCommandsSendTheirFrames()
    {
        QFETCH(QString, command);
        CR3A.setField("CR3A[10]", 1);
        CR3B.setField("CR3B[1:0]", 2);
        CR9B.setField("CR9B[10]", 0);
        QCOMPARE(run(command), QVariant(true));
        QTEST(rig->addresses(), "addresses");
        const QList<quint16> frames = rig->frames();
        if (command == "WriteHB5") {
            // The A halves with bit 10 clear, the B half with it set.
            QCOMPARE((QList<int>{frames.at(3) & 0x400, frames.at(4) & 0x400, frames.at(5) & 0x400}),
                     (QList<int>{0, 0, 0x400}));
        } else if (command == "WriteHB6") {
            QCOMPARE(frames.at(3), quint16(0x3000 | (64 << 4) | 2)); // CR3B[10:4] = 64
        } else if (command.startsWith("ReadHB")) {
            // The CR0 frames select SR1, SR3 (or address 2), then SR5; the image keeps SR5.
            const QList<int> soa = command == "ReadHB" ? QList<int>{1, 3, 5} : QList<int>{2, 5};
            for (int i = 0; i < soa.size(); ++i)
                QCOMPARE((frames.at(i) >> 7) & 0xF, 0x8 | soa.at(i));
            QCOMPARE(CR0.getField("CR0[9:7]"), 5u);
        }
    }

    void generatorCommandsSendTruncatedValues()
    {
        PwmVariables::PWM3OnOff.setValue(0.0, CallerKey::Internal);
        PwmVariables::PWM4OnOff.setValue(0.0, CallerKey::Internal);
        PwmVariables::PWM2_FREQ.setValue(1234.7, CallerKey::Internal);
        QCOMPARE(run("setPWM2_Freq"), QVariant(true));
        QCOMPARE(run("setPWM3_Duty"), QVariant(true)); // stopped: nothing
        hbWidget<QCheckBox>("cbPWM4_DIO")->setCheckState(Qt::PartiallyChecked);
        QCOMPARE(run("setPWM4_DIO"), QVariant(true));
        QCOMPARE(rig->lines(), (QStringList{"set PWM1FREQ=1234", "set PWM3DUTY=100"}));
        QVERIFY(PwmVariables::PWM4_DUTY.value() == 50.0 && PwmVariables::PWM4OnOff.value() == 0.0);
    }

    // Without a board every transfer fails: logged, and the commands still answer true.
    void commandsAnswerTrueWhenEveryTransferFails()
    {
        rig->link.disconnectBoard();
        QSignalSpy spiLog(rig->spi.get(), &Applet::signal_log);
        QCOMPARE(run("WriteRead3"), QVariant(true));
        QCOMPARE(spiLog.size(), 10); // one entry per frame that went nowhere
        QCOMPARE(run("setPWM1_Freq"), QVariant(true));
        // The generators' widgets and variables still follow a transfer that reaches nobody.
        rig->hb->activate();
        PwmVariables::PWM2_DUTY.setValue(70.0, CallerKey::Internal);
        rig->hb->update_hw();
        QCOMPARE(PwmVariables::PWM2_DUTY.value(), 50.0);
        QVERIFY(!hbWidget<QCheckBox>("cbPWM2_DIO")->isEnabled());
    }
};

QTEST_MAIN(TestHBController)
#include "tst_hbcontroller.moc"
