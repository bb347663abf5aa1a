#include "AppletInstances.h"
#include "CallerKey.h"
#include "ChipRegisters.h"
#include "ControlBoard.h"
#include "SimulatedBoard.h"
#include "SpiController.h"
#include "SpiRaw.h"
#include "WatchDog.h"

#include <QCheckBox>
#include <QScopeGuard>
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
    void clearSent() { m_link.simulatedBoard()->clearReceivedLines(); }
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
        clearSent();
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

    void formSetupSendsNothing()
    {
        QCOMPARE(m_wd->objectName(), QString("WatchDog"));
        QCOMPARE(m_wd->windowTitle(), QString("WatchDog"));
        QVERIFY(!m_wd->windowIcon().isNull());
        QVERIFY(box("cbRoutineEN_0")->isChecked());
        QVERIFY(!box("cbWDdio")->isChecked() && !box("cbWDTimeout")->isChecked());
        QCOMPARE(sent(), QStringList());
    }

    void activationSendsDefaultPeriod_data()
    {
        QTest::addColumn<double>("period");
        QTest::newRow("default") << 20.0;
        QTest::newRow("changed") << 750.0;
    }
    void activationSendsDefaultPeriod()
    {
        QFETCH(double, period);
        QVERIFY(m_wd->setValue("WDTime", period, CallerKey::External));
        m_wd->activate();
        QCOMPARE(sent(), QStringList({"set WDen=1", "set WDtime=20"}));
    }

    void setRoutineTimeTruncates_data()
    {
        QTest::addColumn<double>("period");
        QTest::addColumn<QString>("ms");
        QTest::newRow("fraction") << 20.7 << "20";
        QTest::newRow("just below 2") << 1.99 << "1";
    }
    void setRoutineTimeTruncates()
    {
        QFETCH(double, period);
        QFETCH(QString, ms);
        QVERIFY(m_wd->setValue("WDTime", period, CallerKey::External));
        QTest::ignoreMessage(QtDebugMsg,
                             qPrintable("WD service routine period set = " + ms + "ms"));
        QCOMPARE(m_wd->runFunction("setRoutineTime", QString()), QVariant(true));
        QCOMPARE(sent(), QStringList("set WDtime=" + ms));
    }

    void wdEnableFollowsBoxNotRegister_data()
    {
        QTest::addColumn<int>("boxState");
        QTest::addColumn<unsigned>("registerBit");
        QTest::addColumn<QString>("line");
        QTest::newRow("checked, register 0") << int(Qt::Checked) << 0u << "set WDen=1";
        QTest::newRow("unchecked, register 1") << int(Qt::Unchecked) << 1u << "set WDen=0";
    }
    void wdEnableFollowsBoxNotRegister()
    {
        QFETCH(int, boxState);
        QFETCH(unsigned, registerBit);
        QFETCH(QString, line);
        {
            const QSignalBlocker blocker(box("cbRoutineEN_0"));
            box("cbRoutineEN_0")->setCheckState(Qt::CheckState(boxState));
        }
        // Inactive applet: the register write does not reach the box.
        QVERIFY(m_wd->registerByName("RoutineEN") != nullptr);
        m_wd->registerByName("RoutineEN")->setField("RoutineEN[0]", registerBit);
        QCOMPARE(m_wd->runFunction("WDenable", QString()), QVariant(true));
        QCOMPARE(sent(), QStringList(line));
    }

    void unknownCommandsRunNothing_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("empty") << "";
        QTest::newRow("other case") << "wdenable";
        QTest::newRow("longer") << "setRoutineTime()";
    }
    void unknownCommandsRunNothing()
    {
        QFETCH(QString, name);
        QCOMPARE(m_wd->runFunction(name, QString()), QVariant(false));
        QCOMPARE(m_wd->functionHelpMap().keys(), QStringList({"WDenable", "setRoutineTime"}));
        QCOMPARE(m_wd->functionHelpMap().value("WDenable"), QString("Sets WD repeat period"));
        QCOMPARE(sent(), QStringList());
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

    void timeoutBoxReachesChip()
    {
        SpiRaw raw;
        SpiController spi;
        AppletInstances::spiRaw = &raw;
        AppletInstances::spiController = &spi;
        const auto restore = qScopeGuard([this] {
            AppletInstances::spiRaw = nullptr;
            AppletInstances::spiController = m_chip;
        });
        QVERIFY(raw.setup() && spi.setup());
        m_wd->activate();
        SimulatedBoard* sim = m_link.simulatedBoard();
        const auto addresses = [sim] {
            QList<int> list;
            for (quint16 frame : sim->chipFrames())
                list << (frame >> 12);
            return list;
        };
        const int statusPoll = 0xD;

        sim->clearChipFrames();
        box("cbWDTimeout")->click();
        QVERIFY(addresses().contains(statusPoll));
        QVERIFY(addresses().indexOf(statusPoll) < addresses().lastIndexOf(1));
        QCOMPARE((sim->chipRegister(1) >> 8) & 1, 1);
        QVERIFY(box("cbWDTimeout")->isChecked()); // set back through WDTimeout

        sim->clearChipFrames();
        box("cbWDTimeout")->click();
        QVERIFY(!addresses().contains(statusPoll));
        QCOMPARE((sim->chipRegister(1) >> 8) & 1, 0);
        QVERIFY(!box("cbWDTimeout")->isChecked());
    }

    void registerWritesSwitchBoard_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("value");
        QTest::addColumn<quint32>("key");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("scripted WDdio 1")
            << "WDdio" << 1 << CallerKey::External << QStringList("set DIO21=1");
        QTest::newRow("Board clears RoutineEN")
            << "RoutineEN" << 0 << CallerKey::Internal << QStringList("set WDen=0");
    }
    void registerWritesSwitchBoard()
    {
        QFETCH(QString, name);
        QFETCH(int, value);
        QFETCH(quint32, key);
        QFETCH(QStringList, lines);
        m_wd->activate();
        clearSent();
        QVERIFY(m_wd->setValue(name, value, key));
        QCOMPARE(sent(), lines);
    }
};

QTEST_MAIN(TestWatchDog)
#include "tst_watchdog.moc"
