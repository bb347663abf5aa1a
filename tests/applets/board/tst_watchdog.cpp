// The WatchDog applet on the simulated board: the board's service routine and the chip's
// watchdog time-out bit.

#include "BoardAppletsRig.h"
#include "ChipRegisters.h"

#include <QCheckBox>
#include <QtTest>

namespace {
// Stands in for SpiController: keeps CR1 in its table and records, in order, the
// field writes and commands it receives.
class ChipRecorder : public Applet
{
public:
    ChipRecorder() { addRegister(&ChipRegisters::CR1); }
    bool setValue(const QString& name, const QVariant& value, quint32 key) override
    {
        calls << QStringLiteral("set %1=%2").arg(name, value.toString());
        return Applet::setValue(name, value, key);
    }
    QVariant runFunction(const QString& name, const QVariant&) override
    {
        calls << QStringLiteral("run ") + name;
        return true;
    }
    QStringList calls;
};
} // namespace

class TestWatchDog : public QObject
{
    Q_OBJECT
private:
    std::unique_ptr<BoardAppletsRig> rig;

    QCheckBox* box(const char* name) const { return rig->watchDog->findChild<QCheckBox*>(name); }
    bool set(const char* name, double value)
    {
        return rig->watchDog->setValue(name, value, CallerKey::Internal);
    }

private slots:
    void init() { rig = std::make_unique<BoardAppletsRig>(); }
    void cleanup()
    {
        // The parameters are program-wide: put them back for the next test.
        set("RoutineEN", 1);
        set("WDTimeout", 0);
        set("WDTime", 20);
        ChipRegisters::CR1.setField("CR1[8]", 0);
        rig.reset();
    }

    void commandsSendTheirLines_data()
    {
        QTest::addColumn<bool>("boxChecked"); // the RoutineEN register holds the opposite
        QTest::addColumn<QString>("command"); // empty: activation
        QTest::addColumn<QStringList>("lines");
        // Every connection starts the routine at its default period, whatever WDTime holds.
        QTest::newRow("activation ignores WDTime")
            << true << "" << QStringList{"set WDen=1", "set WDtime=20"};
        // The box, not the register, decides.
        QTest::newRow("WDenable, box checked") << true << "WDenable" << QStringList("set WDen=1");
        QTest::newRow("WDenable, box clear") << false << "WDenable" << QStringList("set WDen=0");
    }
    void commandsSendTheirLines()
    {
        QFETCH(bool, boxChecked);
        QFETCH(QString, command);
        QVERIFY(set("WDTime", 750));
        {
            const QSignalBlocker blocker(box("cbRoutineEN_0"));
            box("cbRoutineEN_0")->setChecked(boxChecked);
        }
        // Inactive applet: the register write does not reach the box.
        QVERIFY(set("RoutineEN", boxChecked ? 0 : 1));
        if (command.isEmpty())
            rig->watchDog->activate();
        else
            QCOMPARE(rig->watchDog->runFunction(command, QString()), QVariant(true));
        QTEST(rig->lines(), "lines");
    }

    // Board switches the service routine off through the register.
    void routineRegisterSwitchesTheBoard()
    {
        rig->activate(rig->watchDog.get());
        QVERIFY(set("RoutineEN", 0));
        QCOMPARE(rig->lines(), QStringList("set WDen=0"));
    }

    void timeoutBoxWritesCr1_data()
    {
        QTest::addColumn<bool>("check");
        QTest::addColumn<QStringList>("calls");
        QTest::newRow("uncheck: no status read")
            << false << QStringList({"set CR1[8]=0", "run WriteCR1"});
        // WD_CFG is set again around the write: a status read that finds the chip's
        // registers cleared clears the image.
        QTest::newRow("check: SR0 read first")
            << true
            << QStringList(
                   {"set CR1[8]=1", "run ReadSR0", "set CR1[8]=1", "run WriteCR1", "set CR1[8]=1"});
    }
    void timeoutBoxWritesCr1()
    {
        QFETCH(bool, check);
        ChipRecorder chip;
        AppletInstances::spiController = &chip;
        rig->watchDog->activate();
        {
            const QSignalBlocker blocker(box("cbWDTimeout"));
            box("cbWDTimeout")->setChecked(!check);
        }
        ChipRegisters::CR1.setField("CR1[8]", check ? 0 : 1);
        chip.calls.clear();
        box("cbWDTimeout")->click();
        AppletInstances::spiController = rig->spi.get();
        QTEST(chip.calls, "calls");
        QCOMPARE(ChipRegisters::CR1.getField("CR1[8]"), check ? 1u : 0u);
        QCOMPARE(rig->watchDog->getValue("WDTimeout", CallerKey::External).toUInt(),
                 check ? 1u : 0u);
    }
};

QTEST_MAIN(TestWatchDog)
#include "tst_watchdog.moc"
