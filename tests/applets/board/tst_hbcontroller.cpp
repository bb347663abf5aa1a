// The HB Controller applet against the simulated board: the generator set-up on
// activation, the transfer hook, the slots and the commands.

#include "BoardAppletsRig.h"
#include "ChipRegisters.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QSlider>
#include <QtTest>

namespace {
// The lines "*" sends for one generator with the power-on settings.
QStringList generatorSetup(int k)
{
    QStringList lines = {
        QStringLiteral("set PWM%1CONF").arg(k), QStringLiteral("set PWM%1START").arg(k),
        QStringLiteral("set PWM%1DUTY=50").arg(k), QStringLiteral("set PWM%1FREQ=20000").arg(k)};
    if (k == 0)
        lines << QStringLiteral("set PWM0CONF");
    lines << QStringLiteral("set PWM%1FREQ=20000").arg(k)
          << QStringLiteral("set PWM%1DUTY=50").arg(k);
    return lines;
}
} // namespace

class TestHBController : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<BoardAppletsRig> rig;

    template <typename T> T* hbWidget(const QString& name)
    {
        T* w = rig->hb->findChild<T*>(name);
        if (!w)
            qFatal("form has no widget %s", qPrintable(name));
        return w;
    }
    QVariant run(const QString& name) { return rig->hb->runFunction(name, QString()); }

private slots:
    void init() { rig = std::make_unique<BoardAppletsRig>(); }
    void cleanup() { rig.reset(); }

    void activationSetsUpEveryGenerator()
    {
        rig->hb->activate();
        QVERIFY(rig->lines().isEmpty()); // 10 ms later
        QStringList expected;
        for (int k = 0; k < 4; ++k)
            expected << generatorSetup(k);
        QCOMPARE(expected.size(), 25);
        QTRY_COMPARE(rig->lines(), expected);
        QCOMPARE(hbWidget<QLabel>("lblCLK3")->styleSheet(),
                 QStringLiteral("image: url(:/board/img_signal_clock.png)"));
        QVERIFY(!hbWidget<QCheckBox>("cbPWM3_DIO")->isEnabled());
    }

    void setupSendsTheRunningValuesThenResetsThem()
    {
        rig->activate(rig->hb.get());
        PwmVariables::PWM1_FREQ.setValue(1000.0, CallerKey::Internal);
        PwmVariables::PWM1_DUTY.setValue(30.0, CallerKey::Internal);
        rig->forget();
        rig->hb->update_hw();
        QCOMPARE(rig->lines().mid(0, 8),
                 (QStringList{"set PWM0CONF", "set PWM0START", "set PWM0DUTY=30",
                              "set PWM0FREQ=1000", "set PWM0CONF", "set PWM0FREQ=20000",
                              "set PWM0DUTY=50", "set PWM0DUTY=50"}));
        QCOMPARE(rig->lines().size(), 26);
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
        QTest::newRow("duty truncated")
            << 0 << "PWM2_DUTY" << 1.0 << QStringList{"set PWM1DUTY=37"};
        QTest::newRow("read") << 1 << "PWM2_DUTY" << 1.0 << QStringList{};
        QTest::newRow("frequency waits for its button") << 0 << "PWM2_FREQ" << 1.0 << QStringList{};
        QTest::newRow("pin variable") << 0 << "PWM2_DIO" << 1.0 << QStringList{};
        QTest::newRow("chip register") << 0 << "CR0" << 1.0 << QStringList{};
        // The reset of the running duty reaches the hook again and goes out once more.
        QTest::newRow("generator 2 has no CONF line")
            << 0 << "PWM2" << 1.0
            << QStringList{"set PWM1FREQ=20000", "set PWM1DUTY=50", "set PWM1DUTY=50"};
        QTest::newRow("generator 1 starts with CONF")
            << 0 << "PWM1" << 1.0
            << QStringList{"set PWM0CONF", "set PWM0FREQ=20000", "set PWM0DUTY=50"};
    }

    void transferHookSendsOnlyForItsNames()
    {
        QFETCH(int, direction);
        QFETCH(QString, name);
        QFETCH(double, pwm2OnOff);
        QFETCH(QStringList, expected);
        rig->activate(rig->hb.get());
        PwmVariables::PWM2OnOff.setValue(pwm2OnOff, CallerKey::Internal);
        PwmVariables::PWM2_DUTY.setValue(37.9, CallerKey::Internal);
        rig->forget();
        rig->hb->onParameterTransfer(direction, name);
        QCOMPARE(rig->lines(), expected);
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

    void switchingOffHoldsThePin()
    {
        QFETCH(int, n);
        QFETCH(bool, ticked);
        QFETCH(QString, line);
        rig->activate(rig->hb.get());
        rig->activate(rig->board.get());
        auto* box = hbWidget<QCheckBox>(QStringLiteral("cbPWM%1_DIO").arg(n));
        box->setChecked(ticked);
        QVERIFY(rig->hb->setValue(QStringLiteral("PWM%1OnOff").arg(n), 0, CallerKey::External));
        QVERIFY(rig->lines().contains(line));
        QVERIFY(box->isEnabled());
        QVERIFY(hbWidget<QLabel>(QStringLiteral("lblCLK%1").arg(n))->styleSheet().isEmpty());
        // Board's form follows through its own pin command.
        auto* boardClock = rig->board->findChild<QLabel*>(QStringLiteral("lblCLK%1").arg(n));
        QVERIFY(boardClock->styleSheet().isEmpty());

        rig->forget();
        QVERIFY(rig->board->setValue(QStringLiteral("PWM%1OnOff").arg(n), 1, CallerKey::External));
        const int k = n - 1;
        QCOMPARE(rig->lines(), (QStringList{QStringLiteral("set PWM%1CONF").arg(k),
                                            QStringLiteral("set PWM%1START").arg(k),
                                            QStringLiteral("set PWM%1DUTY=50").arg(k),
                                            QStringLiteral("set PWM%1FREQ=20000").arg(k)}));
        QVERIFY(!box->isEnabled());
        QVERIFY(!boardClock->styleSheet().isEmpty());
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
        QCOMPARE(rig->lines().count(QStringLiteral("set PWM0DUTY=30")), times);
        QCOMPARE(rig->lines().size(), times);
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
        QTest::newRow("WriteCR1") << "WriteCR1" << QList<int>{1};
        QTest::newRow("WriteHB1") << "WriteHB1" << QList<int>{0, 1, 2, 3, 5, 5};
        QTest::newRow("WriteHB5") << "WriteHB5" << QList<int>{0, 1, 2, 3, 9, 9};
        QTest::newRow("WriteHB6") << "WriteHB6" << QList<int>{0, 1, 2, 3, 10, 10};
        QTest::newRow("ReadHB") << "ReadHB" << QList<int>{0, 0, 0, 13};
        QTest::newRow("ReadHB7") << "ReadHB7" << QList<int>{0, 0, 13};
        QTest::newRow("ReadSR0") << "ReadSR0" << QList<int>{0, 13};
        QTest::newRow("WriteRead3") << "WriteRead3" << QList<int>{0, 1, 2, 3, 7, 7, 0, 0, 0, 13};
        for (const char* unknown : {"writehb1", "WriteHB7", "WriteHB", "", "setPWM1_duty"})
            QTest::newRow(unknown) << unknown << QList<int>{};
    }

    void halfBridgeCommandsSendTheirFrames()
    {
        QFETCH(QString, command);
        QFETCH(QList<int>, addresses);
        rig->setChip(QStringLiteral("CR3A[10]"), 1);
        rig->setChip(QStringLiteral("CR3B[1:0]"), 2);
        rig->setChip(QStringLiteral("CR9B[10]"), 0);
        QCOMPARE(run(command), QVariant(!addresses.isEmpty()));
        QCOMPARE(rig->addresses(), addresses);
        const QList<quint16> frames = rig->frames();
        if (command == "WriteHB5") {
            QCOMPARE(frames.at(3) & 0x400, 0);     // CR3A half
            QCOMPARE(frames.at(4) & 0x400, 0);     // CR9A
            QCOMPARE(frames.at(5) & 0x400, 0x400); // CR9B
        } else if (command == "WriteHB6") {
            QCOMPARE(frames.at(3), quint16(0x3000 | (64 << 4) | 2)); // CR3B[10:4] = 64
        } else if (command.startsWith("ReadHB")) {
            // The CR0 frames select SR1, SR3 (or address 2), then SR5; the image keeps SR5.
            const QList<int> soa = command == "ReadHB" ? QList<int>{1, 3, 5} : QList<int>{2, 5};
            for (int i = 0; i < soa.size(); ++i)
                QCOMPARE((frames.at(i) >> 7) & 0xF, 0x8 | soa.at(i));
            QCOMPARE(rig->chip("CR0[9:7]"), 5u);
        }
    }

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

    void generatorCommandsSendTruncatedValues()
    {
        PwmVariables::PWM1_DUTY.setValue(37.9, CallerKey::Internal);
        PwmVariables::PWM3OnOff.setValue(0.0, CallerKey::Internal);
        PwmVariables::PWM4OnOff.setValue(0.0, CallerKey::Internal);
        PwmVariables::PWM2_FREQ.setValue(1234.7, CallerKey::Internal);
        rig->forget();
        QCOMPARE(run("setPWM2_Freq"), QVariant(true));
        QCOMPARE(run("setPWM1_Duty"), QVariant(true));
        QCOMPARE(run("setPWM3_Duty"), QVariant(true)); // stopped: nothing
        hbWidget<QCheckBox>("cbPWM4_DIO")->setCheckState(Qt::PartiallyChecked);
        QCOMPARE(run("setPWM4_DIO"), QVariant(true));
        QCOMPARE(rig->lines(),
                 (QStringList{"set PWM1FREQ=1234", "set PWM0DUTY=37", "set PWM3DUTY=100"}));
        QCOMPARE(PwmVariables::PWM4_DUTY.value(), 50.0);
        QCOMPARE(PwmVariables::PWM4OnOff.value(), 0.0);
    }

    void formEditsTheSharedChipImages()
    {
        rig->activate(rig->hb.get());
        auto* source = hbWidget<QComboBox>("cmCR3B_1_1");
        source->setCurrentIndex(3);
        emit source->activated(3);
        QCOMPARE(rig->chip("CR3B[1:0]"), 3u);
        // A change made elsewhere shows here; editing alone sends nothing.
        rig->setChip(QStringLiteral("CR6A[9:8]"), 2);
        QCOMPARE(hbWidget<QComboBox>("cmCR6A_9_8")->currentText(), QStringLiteral("3 us"));
        QVERIFY(rig->lines().isEmpty());
    }
};

QTEST_MAIN(TestHBController)
#include "tst_hbcontroller.moc"
