// The Basic applet against the simulated board: the motor run sequences, the half-bridge
// switches passed to Board and its form's bindings.

#include "BoardAppletsRig.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QtTest>

using namespace ChipRegisters;

namespace {
constexpr quint16 DrvEn = 1u << 10;
constexpr quint16 CpSw = 1u << 9;

quint16 data(quint16 frame)
{
    return frame & 0x7FF;
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

private slots:
    void init() { rig = std::make_unique<BoardAppletsRig>(); }
    void cleanup() { rig.reset(); }

    // A run configures, waits, then enables; a run or a stop keeps the other motor.
    void runAndStopKeepTheOtherMotor()
    {
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(run("setForward1"), QVariant(true));
        QVERIFY(timer.elapsed() >= 50);
        QVERIFY(rig->boardLines().contains("set DIO25=1"));
        // CR1 with the drivers on, the default configuration chain, CR0 with both outputs
        // off; at the end CR2, CR3A, (the wait) CR1, CR0: PWM on HB3 only, input 0 for
        // both, then the modes and enables.
        const QList<int> addresses = rig->addresses();
        QCOMPARE(addresses.mid(0, 14), (QList<int>{1, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 0}));
        QCOMPARE(addresses.mid(addresses.size() - 4), (QList<int>{2, 3, 1, 0}));
        const QList<quint16> f = rig->frames();
        const qsizetype n = f.size();
        QCOMPARE((QList<int>{data(f[0]) & (DrvEn | CpSw), data(f[13]) & 0b101,
                             data(f[n - 4]) & 0b101, data(f[n - 3]) & 0x33,
                             data(f[n - 2]) & (DrvEn | CpSw | 0b101), data(f[n - 1]) & 0b101}),
                 (QList<int>{DrvEn | CpSw, 0, 0b100, 0, DrvEn | CpSw | 0b100, 0b101}));

        // Motor 2 then keeps motor 1's bits in CR0 (enables), CR1 and CR2 (modes, PWM).
        rig->forget();
        QCOMPARE(run("setForward2"), QVariant(true));
        for (quint16 frame : rig->frames())
            if (frame >> 12 <= 2)
                QCOMPARE(data(frame) & 0b101, frame >> 12 == 0 ? 0b101u : 0b100u);
        QCOMPARE(CR0.getField("CR0[3:0]"), 0xFu);

        // A stop sends the default configuration (CR5..CR10, A and B), then the enables.
        rig->forget();
        QCOMPARE(run("setStop1"), QVariant(true));
        QCOMPARE(rig->addresses(), (QList<int>{5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 0}));
        QCOMPARE(CR0.getField("CR0[3:0]"), 0xAu);
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
        QCOMPARE(rig->boardLines().filter(QRegularExpression("^set PWM")), pwmLines);
        QCOMPARE(PwmVariables::PWM2OnOff.value(), 1.0);
        // Backward: PWM on HB2, HB4 held low; motor 2 takes input 1 in both halves of CR3.
        QCOMPARE(CR2.bit(3) * 2 + CR2.bit(1), 1);
        QCOMPARE(CR3A.getField("CR3A[7:6]") * 4 + CR3A.getField("CR3A[3:2]"), 5u);
        QCOMPARE(CR1.bit(1), 1);
        QVERIFY(rig->addresses().count(3) >= 2); // CR3A and CR3B
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
