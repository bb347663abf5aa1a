#include "AppletInstances.h"
#include "CallerKey.h"
#include "ChipRegisters.h"
#include "ControlBoard.h"
#include "SimulatedBoard.h"
#include "WatchDog.h"

#include <QCheckBox>
#include <QtTest>

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

class TestWatchDog : public QObject
{
    Q_OBJECT
private:
    ControlBoard m_link;
    ChipRecorder* m_chip = nullptr;
    WatchDog* m_wd = nullptr;

    QStringList sent() const { return m_link.simulatedBoard()->receivedLines(); }
    QCheckBox* box(const char* name) const { return m_wd->findChild<QCheckBox*>(name); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_link.connectBoard(ControlBoard::MockupPort));
        AppletInstances::controlBoard = &m_link;
    }
    void init()
    {
        m_chip = new ChipRecorder;
        AppletInstances::spiController = m_chip;
        m_wd = new WatchDog;
        AppletInstances::watchDog = m_wd;
        m_link.simulatedBoard()->clearReceivedLines();
        QVERIFY(m_wd->setup());
    }
    void cleanup()
    {
        // The parameters are program-wide: put them back for the next test.
        m_wd->setValue("WDdio", 0, CallerKey::Internal);
        m_wd->setValue("RoutineEN", 1, CallerKey::Internal);
        m_wd->setValue("WDTimeout", 0, CallerKey::Internal);
        m_wd->setValue("WDTime", 20, CallerKey::Internal);
        ChipRegisters::CR1.setField("CR1[8]", 0);
        AppletInstances::watchDog = nullptr;
        AppletInstances::spiController = nullptr;
        delete m_wd;
        delete m_chip;
    }

    void commandsSendTheirLines_data()
    {
        QTest::addColumn<double>("period");
        QTest::addColumn<bool>("boxChecked"); // the RoutineEN register holds the opposite
        QTest::addColumn<QString>("command"); // empty: activation
        QTest::addColumn<QStringList>("lines");
        const QStringList activation{"set WDen=1", "set WDtime=20"};
        QTest::newRow("activation ignores WDTime") << 750.0 << true << "" << activation;
        QTest::newRow("WDenable, box checked")
            << 20.0 << true << "WDenable" << QStringList("set WDen=1");
        QTest::newRow("WDenable, box clear")
            << 20.0 << false << "WDenable" << QStringList("set WDen=0");
    }
    void commandsSendTheirLines()
    {
        QFETCH(double, period);
        QFETCH(bool, boxChecked);
        QFETCH(QString, command);
        QFETCH(QStringList, lines);
        QVERIFY(m_wd->setValue("WDTime", period, CallerKey::External));
        {
            const QSignalBlocker blocker(box("cbRoutineEN_0"));
            box("cbRoutineEN_0")->setChecked(boxChecked);
        }
        // Inactive applet: the register write does not reach the box.
        m_wd->registerByName("RoutineEN")->setField("RoutineEN[0]", boxChecked ? 0 : 1);
        if (command.isEmpty())
            m_wd->activate();
        else
            QCOMPARE(m_wd->runFunction(command, QString()), QVariant(!lines.isEmpty()));
        QCOMPARE(sent(), lines);
    }

    void timeoutBoxWritesCr1_data()
    {
        QTest::addColumn<bool>("check");
        QTest::addColumn<QStringList>("calls");
        QTest::newRow("uncheck: no status read")
            << false << QStringList({"set CR1[8]=0", "run WriteCR1"});
        QTest::newRow("check: SR0 read first")
            << true
            << QStringList(
                   {"set CR1[8]=1", "run ReadSR0", "set CR1[8]=1", "run WriteCR1", "set CR1[8]=1"});
    }
    void timeoutBoxWritesCr1()
    {
        QFETCH(bool, check);
        QFETCH(QStringList, calls);
        m_wd->activate();
        {
            const QSignalBlocker blocker(box("cbWDTimeout"));
            box("cbWDTimeout")->setChecked(!check);
        }
        ChipRegisters::CR1.setField("CR1[8]", check ? 0 : 1);
        m_chip->calls.clear();
        box("cbWDTimeout")->click();
        QCOMPARE(m_chip->calls, calls);
        QCOMPARE(ChipRegisters::CR1.getField("CR1[8]"), check ? 1u : 0u);
        QCOMPARE(m_wd->getValue("WDTimeout", CallerKey::External).toUInt(), check ? 1u : 0u);
    }

    // Board switches the service routine off through the register.
    void routineRegisterSwitchesTheBoard()
    {
        m_wd->activate();
        m_link.simulatedBoard()->clearReceivedLines();
        QVERIFY(m_wd->setValue("RoutineEN", 0, CallerKey::Internal));
        QCOMPARE(sent(), QStringList("set WDen=0"));
    }
};

QTEST_MAIN(TestWatchDog)
#include "tst_watchdog.moc"
