// The WatchDog applet on the simulated board: the board's service routine and the chip's
// watchdog time-out bit.

#include "BoardAppletsRig.h"
#include "ChipRegisters.h"

#include <QCheckBox>
#include <QScopeGuard>
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

    void routineFollowsTheBoxThenTheRegister()
    {
        QVERIFY(set("WDTime", 750));
        // Inactive, the register does not reach the box: the box, not the register, decides.
        for (const bool checked : {false, true}) {
            const QSignalBlocker blocker(box("cbRoutineEN_0"));
            box("cbRoutineEN_0")->setChecked(checked);
            QVERIFY(set("RoutineEN", checked ? 0 : 1));
            QCOMPARE(rig->watchDog->runFunction("WDenable", QString()), QVariant(true));
        }
        // Every connection starts the routine at its default period, whatever WDTime holds.
        rig->watchDog->activate();
        QCOMPARE(rig->lines(),
                 (QStringList{"set WDen=0", "set WDen=1", "set WDen=1", "set WDtime=20"}));
        // Board switches the service routine off through the register.
        QVERIFY(set("RoutineEN", 1));
        rig->forget();
        QVERIFY(set("RoutineEN", 0));
        QCOMPARE(rig->lines(), QStringList("set WDen=0"));
    }

    // Checked, WD_CFG is set again around the write: a status read that finds the chip's
    // registers cleared clears the image. Cleared, no status read.
    void timeoutBoxWritesCr1()
    {
        ChipRecorder chip;
        AppletInstances::spiController = &chip;
        const auto restore =
            qScopeGuard([this] { AppletInstances::spiController = rig->spi.get(); });
        rig->watchDog->activate();
        QCheckBox* timeout = box("cbWDTimeout");
        QStringList seen;
        for (int click = 0; click < 2; ++click) {
            chip.calls.clear();
            timeout->click();
            const uint wdTimeout =
                rig->watchDog->getValue("WDTimeout", CallerKey::External).toUInt();
            seen << QStringLiteral("%1 -> %2 %3")
                        .arg(chip.calls.join(' '))
                        .arg(ChipRegisters::CR1.getField("CR1[8]"))
                        .arg(wdTimeout);
        }
        QCOMPARE(seen, (QStringList{
                           "set CR1[8]=1 run ReadSR0 set CR1[8]=1 run WriteCR1 set CR1[8]=1 -> 1 1",
                           "set CR1[8]=0 run WriteCR1 -> 0 0"}));
    }
};

QTEST_MAIN(TestWatchDog)
#include "tst_watchdog.moc"
