// The simulated board as other programs see it through boardsim: its answers, the normal
// mode flag and the motor currents.
#include "SimulatedBoard.h"

#include <QTest>

class TestSimulatedBoard : public QObject
{
    Q_OBJECT
private slots:
    void answersLikeTheFirmware_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QByteArray>("answer"); // without its CR LF
        auto row = [](const char* name, const char* line, const QByteArray& answer = "err") {
            QTest::newRow(name) << QByteArray(line) << answer;
        };
        row("set several", "set PWM0FREQ=20000 PWM0DUTY=50", "PWM0FREQ=20000 PWM0DUTY=50");
        row("set without value", "set PWM0CONF", "PWM0CONF");
        row("get", "get VER", QByteArray("VER=") + SimulatedBoard::Version);
        row("get several", "get AIN5 WDen\r\n", "AIN5=512 WDen=0");
        row("unknown name", "get FOO");
        row("pin range", "set DIO21=2");
        row("read-only", "set Isen1=3");
        row("frame needs count", "set SPI0CS0DATA=1234");
        row("frame not hex", "set SPI0CS0DATA=02XY12");
        row("no queued answer", "get SPI0CS0DATA");
        row("one bad item refuses all", "set DIO25=1 SPI0CS0DATA=02100F FOO=1");
    }
    void answersLikeTheFirmware()
    {
        QFETCH(QByteArray, line);
        QFETCH(QByteArray, answer);
        SimulatedBoard board;
        QCOMPARE(board.handleLine(line), answer + "\r\n");
        // A refused line changes nothing.
        QVERIFY(answer != "err" ||
                (board.variable("DIO25") == "0" && board.chipFrames().isEmpty()));
    }

    // Which status register answers a frame is checked through SpiController's ReadAll.
    void normalModeFollowsEnAndFsmPins()
    {
        SimulatedBoard board;
        for (const auto& [pins, nm] :
             {std::pair{"DIO25=0", 0u}, {"DIO25=1", 1u}, {"DIO22=1", 0u}}) {
            board.handleLine("set " + QByteArray(pins) + " SPI0CS0DATA=02D000");
            const QByteArray answer = board.handleLine("get SPI0CS0DATA").trimmed();
            QCOMPARE((answer.mid(12).toUInt(nullptr, 16) >> 12) & 1, nm);
        }
    }

    // After PWM0DUTY=40 PWM1DUTY=25: motor 1, motor 2, one bridge, EN pin low, driver off.
    // CR0 0x005 = HB1+HB3 (motor 1), 0x00A = HB2+HB4; CR1 0x400 = DRV_EN.
    void motorCurrentNeedsBothBridgesAndDriver()
    {
        QByteArrayList currents;
        for (const char* setup :
             {"DIO25=1 SPI0CS0DATA=021400 SPI0CS0DATA=020005",
              "DIO25=1 SPI0CS0DATA=021400 SPI0CS0DATA=02000A",
              "DIO25=1 SPI0CS0DATA=021400 SPI0CS0DATA=020001",
              "SPI0CS0DATA=021400 SPI0CS0DATA=02000F", "DIO25=1 SPI0CS0DATA=02000F"}) {
            SimulatedBoard board;
            QVERIFY(!board.handleLine(QByteArray("set PWM0DUTY=40 PWM1DUTY=25 ") + setup)
                         .contains("err"));
            currents << board.handleLine("get Isen1 Isen2").trimmed();
        }
        QCOMPARE(currents,
                 (QByteArrayList{"Isen1=800 Isen2=0", "Isen1=0 Isen2=500", "Isen1=0 Isen2=0",
                                 "Isen1=0 Isen2=0", "Isen1=0 Isen2=0"}));
    }
};

QTEST_GUILESS_MAIN(TestSimulatedBoard)
#include "tst_simulatedboard.moc"
