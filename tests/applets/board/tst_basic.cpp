// The Basic applet against the simulated board: the motor run and stop sequences, the
// half-bridge switches passed to Board, its form's bindings and its help entries.

#include "BoardAppletsRig.h"
#include "Register.h"

#include <QElapsedTimer>
#include <QtTest>

namespace {
constexpr quint16 DrvEn = 1u << 10;
constexpr quint16 CpSw = 1u << 9;

quint16 data(quint16 frame)
{
    return frame & 0x7FF;
}

// The default configuration's addresses, CR5 to CR10, A and B each.
QList<int> defaultChain()
{
    QList<int> result;
    for (int n = 5; n <= 10; ++n)
        result << n << n;
    return result;
}
} // namespace

class TestBasic : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<BoardAppletsRig> rig;

    QVariant run(const QString& name, const QString& args = QString())
    {
        return rig->basic->runFunction(name, args);
    }
    // Frames to one address, in order.
    QList<quint16> framesTo(int address) const
    {
        QList<quint16> result;
        for (quint16 frame : rig->frames())
            if ((frame >> 12) == address)
                result << frame;
        return result;
    }

private slots:
    void init() { rig = std::make_unique<BoardAppletsRig>(); }
    void cleanup() { rig.reset(); }

    void everyControlResolves() { BoardAppletsRig::checkEveryControlResolves(rig->basic.get()); }

    // The help window lists every command with its text, the switches Board's too.
    void helpEntries()
    {
        QCOMPARE(run(QString()), QVariant(false));
        const QMap<QString, QString>& help = rig->basic->functionHelpMap();
        QCOMPARE(help.size(), 8);
        QCOMPARE(help.value("setBackward2"), QStringLiteral("Sets device to run backward"));
        QCOMPARE(help.value("setHB_OFF"), QStringLiteral("Same as board fnc"));
    }

    void runForwardConfiguresWaitsThenEnables()
    {
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(run("setForward1"), QVariant(true));
        QVERIFY(timer.elapsed() >= 50);
        const QList<quint16> frames = rig->frames();
        // CR1 with the drivers on, the default configuration chain, both outputs off.
        QCOMPARE(frames.first() >> 12, 1);
        QCOMPARE(data(frames.first()) & (DrvEn | CpSw), DrvEn | CpSw);
        QCOMPARE(rig->addresses().mid(1, 12), defaultChain());
        QCOMPARE(frames.at(13) >> 12, 0);
        QCOMPARE(data(frames.at(13)) & 0b101, 0);
        QCOMPARE(BoardParameters::DIO.getField("DIO[EN]"), 1u);
        // Then CR2, CR3A, CR1, CR0: PWM on HB3 only, input 0 for both; after the wait the
        // modes and enables.
        const QList<quint16> last = frames.mid(frames.size() - 4);
        QCOMPARE(data(last.at(0)) & 0b101, 0b100);
        QCOMPARE(data(last.at(1)) & 0x33, 0);
        QCOMPARE(data(last.at(2)) & (DrvEn | CpSw | 0b101), DrvEn | CpSw | 0b100);
        QCOMPARE(data(last.at(3)) & 0b101, 0b101);
    }

    void runStartsAStoppedGeneratorOnly_data()
    {
        QTest::addColumn<double>("onOff");
        QTest::addColumn<QStringList>("pwmLines");
        QTest::newRow("already running") << 1.0 << QStringList{};
        QTest::newRow("stopped") << 0.0
                                 << QStringList{"set PWM1CONF", "set PWM1START", "set PWM1DUTY=50",
                                                "set PWM1FREQ=20000"};
    }

    void runStartsAStoppedGeneratorOnly()
    {
        QFETCH(double, onOff);
        QFETCH(QStringList, pwmLines);
        PwmVariables::PWM2OnOff.setValue(onOff, CallerKey::Internal);
        rig->activate(rig->hb.get());
        QCOMPARE(run("setBackward2"), QVariant(true));
        QStringList sent;
        for (const QString& line : rig->boardLines())
            if (line.startsWith("set PWM"))
                sent << line;
        QCOMPARE(sent, pwmLines);
        QCOMPARE(PwmVariables::PWM2OnOff.value(), 1.0);
        // Backward: PWM on HB2, HB4 held low; motor 2 takes input 1 in both halves of CR3.
        QCOMPARE(rig->chip("CR2[3]") * 2 + rig->chip("CR2[1]"), 1u);
        QCOMPARE(rig->chip("CR3A[7:6]") * 4 + rig->chip("CR3A[3:2]"), 5u);
        QCOMPARE(rig->chip("CR1[1]"), 1u);
        QCOMPARE(framesTo(3).size() >= 2, true); // CR3A and CR3B
    }

    void secondMotorKeepsTheFirstRunning()
    {
        QCOMPARE(run("setForward1"), QVariant(true));
        rig->forget();
        QCOMPARE(run("setForward2"), QVariant(true));
        // Motor 1's bits stay in CR0 (enables), CR1 and CR2 (modes, PWM).
        for (int address : {0, 1, 2})
            for (quint16 frame : framesTo(address))
                QCOMPARE(data(frame) & 0b101, address == 0 ? 0b101u : 0b100u);
        QCOMPARE(rig->chip("CR0[3:0]"), 0xFu);
    }

    void halfBridgeSwitchesAnswerAsBoard_data()
    {
        QTest::addColumn<QStringList>("call"); // command, arguments
        QTest::newRow("HB5 high side") << QStringList{"setHB_ON", "5,hs"};
        QTest::newRow("no mode") << QStringList{"setHB_ON", "5"};
        QTest::newRow("off") << QStringList{"setHB_OFF", "6"};
    }

    void halfBridgeSwitchesAnswerAsBoard()
    {
        QFETCH(QStringList, call);
        const QVariant fromBasic = run(call.at(0), call.at(1));
        const QList<quint16> basicFrames = rig->frames();
        rig->spi->runFunction("Clear", QString());
        rig->forget();
        QCOMPARE(fromBasic, rig->board->runFunction(call.at(0), call.at(1)));
        QCOMPARE(basicFrames, rig->frames());
    }
};

QTEST_MAIN(TestBasic)
#include "tst_basic.moc"
