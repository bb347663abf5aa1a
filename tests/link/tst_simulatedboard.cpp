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
        if (answer == "err") { // a refused line changes nothing
            QCOMPARE(board.variable("DIO25"), QString("0"));
            QVERIFY(board.chipFrames().isEmpty());
        }
    }

    void frameAnswersCarryTheSelectedStatusRegister()
    {
        SimulatedBoard board;
        board.setStatusRegister(0, 0x0A5);
        board.setStatusRegister(5, 0x03F);
        // Frame 1 (CR0) selects SR5 (SOA_MODE=1, SOA=5); frame 2, the status poll, is
        // answered with SR5 and writes nothing; frame 3 is answered with SR5 and selects
        // SR0 again (SOA_MODE=0); frame 4 is answered with SR0.
        board.handleLine("set SPI0CS0DATA=020680 SPI0CS0DATA=02D000 SPI0CS0DATA=020000 "
                         "SPI0CS0DATA=02D000");
        QCOMPARE(board.chipFrames(), (QList<quint16>{0x0680, 0xD000, 0x0000, 0xD000}));
        for (const char* frame : {"00A5", "A03F", "A03F", "00A5"})
            QCOMPARE(board.handleLine("get SPI0CS0DATA"),
                     "SPI0CS0DATA=" + QByteArray(frame) + "\r\n");
        QCOMPARE(board.handleLine("get SPI0CS0DATA"), QByteArray("err\r\n"));
    }

    void halvesAreToldApartByDataBit10()
    {
        SimulatedBoard board;
        board.handleLine("set SPI0CS0DATA=023155 SPI0CS0DATA=023401 SPI0CS0DATA=0273FF "
                         "SPI0CS0DATA=027412 SPI0CS0DATA=021400");
        // CR1 has no halves: its bit 10 is data.
        const QList<quint16> want{0x155, 0x401, 0x3FF, 0x412, 0x400, 0};
        QCOMPARE((QList<quint16>{board.chipRegister(3), board.chipRegister(3, true),
                                 board.chipRegister(7), board.chipRegister(7, true),
                                 board.chipRegister(1), board.chipRegister(1, true)}),
                 want);
    }

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

    void motorCurrentNeedsBothBridgesAndDriver_data()
    {
        QTest::addColumn<QByteArray>("setup"); // after PWM0DUTY=40 PWM1DUTY=25
        QTest::addColumn<QByteArray>("currents");
        auto row = [](const char* name, const char* setup, const char* currents) {
            QTest::newRow(name) << QByteArray(setup) << QByteArray(currents);
        };
        // CR0 0x005 = HB1+HB3 (motor 1), 0x00A = HB2+HB4; CR1 0x400 = DRV_EN.
        row("motor 1", "DIO25=1 SPI0CS0DATA=021400 SPI0CS0DATA=020005", "Isen1=800 Isen2=0");
        row("motor 2", "DIO25=1 SPI0CS0DATA=021400 SPI0CS0DATA=02000A", "Isen1=0 Isen2=500");
        row("one bridge", "DIO25=1 SPI0CS0DATA=021400 SPI0CS0DATA=020001", "Isen1=0 Isen2=0");
        row("EN pin low", "SPI0CS0DATA=021400 SPI0CS0DATA=02000F", "Isen1=0 Isen2=0");
        row("driver off", "DIO25=1 SPI0CS0DATA=02000F", "Isen1=0 Isen2=0");
    }
    void motorCurrentNeedsBothBridgesAndDriver()
    {
        QFETCH(QByteArray, setup);
        QFETCH(QByteArray, currents);
        SimulatedBoard board;
        QVERIFY(!board.handleLine("set PWM0DUTY=40 PWM1DUTY=25 " + setup).contains("err"));
        QCOMPARE(board.handleLine("get Isen1 Isen2"), currents + "\r\n");
    }
};

QTEST_GUILESS_MAIN(TestSimulatedBoard)
#include "tst_simulatedboard.moc"
