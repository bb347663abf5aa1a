#include "SimulatedBoard.h"

#include <QTest>

class TestSimulatedBoard : public QObject
{
    Q_OBJECT
private slots:
    void answersLikeTheFirmware_data();
    void answersLikeTheFirmware();
    void refusedLineChangesNothing();
    void frameAnswersCarryTheSelectedStatusRegister();
    void halvesAreToldApartByDataBit10();
    void normalModeFollowsEnAndFsmPins();
    void motorCurrentNeedsBothBridgesAndDriver_data();
    void motorCurrentNeedsBothBridgesAndDriver();
    void resetRestoresPowerOnState();
};

static QByteArray ask(SimulatedBoard& board, const char* line)
{
    return board.handleLine(line);
}

void TestSimulatedBoard::answersLikeTheFirmware_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QByteArray>("answer");
    QTest::newRow("set echoes") << QByteArray("set DIO25=1") << QByteArray("DIO25=1\r\n");
    QTest::newRow("set several") << QByteArray("set PWM0FREQ=20000 PWM0DUTY=50")
                                 << QByteArray("PWM0FREQ=20000 PWM0DUTY=50\r\n");
    QTest::newRow("set without value") << QByteArray("set PWM0CONF") << QByteArray("PWM0CONF\r\n");
    QTest::newRow("get") << QByteArray("get VER")
                         << QByteArray("VER=") + SimulatedBoard::Version + "\r\n";
    QTest::newRow("supply") << QByteArray("get AIN5") << QByteArray("AIN5=512\r\n");
    QTest::newRow("line end ignored") << QByteArray("get WDen\r\n") << QByteArray("WDen=0\r\n");
    QTest::newRow("unknown name") << QByteArray("get FOO") << QByteArray("err\r\n");
    QTest::newRow("unknown command") << QByteArray("put DIO25=1") << QByteArray("err\r\n");
    QTest::newRow("bare word") << QByteArray("get") << QByteArray("err\r\n");
    QTest::newRow("pin range") << QByteArray("set DIO25=2") << QByteArray("err\r\n");
    QTest::newRow("duty range") << QByteArray("set PWM1DUTY=101") << QByteArray("err\r\n");
    QTest::newRow("read-only version") << QByteArray("set VER=2") << QByteArray("err\r\n");
    QTest::newRow("read-only measure") << QByteArray("set Isen1=3") << QByteArray("err\r\n");
    QTest::newRow("no generator 4") << QByteArray("set PWM4CONF") << QByteArray("err\r\n");
    QTest::newRow("frame needs count")
        << QByteArray("set SPI0CS0DATA=1234") << QByteArray("err\r\n");
    QTest::newRow("frame not hex") << QByteArray("set SPI0CS0DATA=02XY12") << QByteArray("err\r\n");
    QTest::newRow("no queued answer") << QByteArray("get SPI0CS0DATA") << QByteArray("err\r\n");
}

void TestSimulatedBoard::answersLikeTheFirmware()
{
    QFETCH(QByteArray, line);
    QFETCH(QByteArray, answer);
    SimulatedBoard board;
    QCOMPARE(board.handleLine(line), answer);
    QCOMPARE(board.receivedLines().size(), 1);
}

void TestSimulatedBoard::refusedLineChangesNothing()
{
    SimulatedBoard board;
    QCOMPARE(ask(board, "set DIO25=1 SPI0CS0DATA=02100F FOO=1"), QByteArray("err\r\n"));
    QCOMPARE(board.variable("DIO25"), QString("0"));
    QVERIFY(board.chipFrames().isEmpty());
    QCOMPARE(ask(board, "get SPI0CS0DATA"), QByteArray("err\r\n"));
}

void TestSimulatedBoard::frameAnswersCarryTheSelectedStatusRegister()
{
    SimulatedBoard board;
    board.setStatusRegister(0, 0x0A5);
    board.setStatusRegister(5, 0x03F);
    // Frame 1 (CR0) selects SR5 (SOA_MODE=1, SOA=5); frame 2, the status poll, is
    // answered with SR5 and writes nothing; frame 3 is answered with SR5 and selects
    // SR0 again (SOA_MODE=0); frame 4 is answered with SR0.
    QCOMPARE(ask(board, "set SPI0CS0DATA=020680 SPI0CS0DATA=02D000 SPI0CS0DATA=020000"),
             QByteArray("SPI0CS0DATA=020680 SPI0CS0DATA=02D000 SPI0CS0DATA=020000\r\n"));
    QCOMPARE(ask(board, "set SPI0CS0DATA=02D000"), QByteArray("SPI0CS0DATA=02D000\r\n"));
    QCOMPARE(board.chipFrames(), (QList<quint16>{0x0680, 0xD000, 0x0000, 0xD000}));
    QCOMPARE(ask(board, "get SPI0CS0DATA"), QByteArray("SPI0CS0DATA=00A5\r\n"));
    QCOMPARE(ask(board, "get SPI0CS0DATA"), QByteArray("SPI0CS0DATA=A03F\r\n"));
    QCOMPARE(ask(board, "get SPI0CS0DATA"), QByteArray("SPI0CS0DATA=A03F\r\n"));
    QCOMPARE(ask(board, "get SPI0CS0DATA"), QByteArray("SPI0CS0DATA=00A5\r\n"));
    QCOMPARE(ask(board, "get SPI0CS0DATA"), QByteArray("err\r\n"));
    QCOMPARE(board.chipRegister(0), quint16(0));
}

void TestSimulatedBoard::halvesAreToldApartByDataBit10()
{
    SimulatedBoard board;
    ask(board, "set SPI0CS0DATA=023155 SPI0CS0DATA=023401 SPI0CS0DATA=0273FF "
               "SPI0CS0DATA=027412 SPI0CS0DATA=021400");
    QCOMPARE(board.chipRegister(3), quint16(0x155));
    QCOMPARE(board.chipRegister(3, true), quint16(0x401));
    QCOMPARE(board.chipRegister(7), quint16(0x3FF));
    QCOMPARE(board.chipRegister(7, true), quint16(0x412));
    QCOMPARE(board.chipRegister(1), quint16(0x400)); // no halves: bit 10 is data
    QCOMPARE(board.chipRegister(1, true), quint16(0));
}

void TestSimulatedBoard::normalModeFollowsEnAndFsmPins()
{
    SimulatedBoard board;
    auto nmOfNextFrame = [&board] {
        ask(board, "set SPI0CS0DATA=02D000");
        const QByteArray answer = ask(board, "get SPI0CS0DATA").trimmed();
        return (answer.mid(12).toUInt(nullptr, 16) >> 12) & 1;
    };
    QCOMPARE(nmOfNextFrame(), 0u);
    ask(board, "set DIO25=1");
    QCOMPARE(nmOfNextFrame(), 1u);
    ask(board, "set DIO22=1");
    QCOMPARE(nmOfNextFrame(), 0u);
}

void TestSimulatedBoard::motorCurrentNeedsBothBridgesAndDriver_data()
{
    QTest::addColumn<QByteArray>("setup");
    QTest::addColumn<QString>("isen1");
    QTest::addColumn<QString>("isen2");
    // CR0 0x005 = HB1+HB3 (motor 1), 0x00A = HB2+HB4; CR1 0x400 = DRV_EN.
    const QByteArray duty = "set PWM0DUTY=40 PWM1DUTY=25\n";
    QTest::newRow("all on, motor 1") << duty + "set DIO25=1 SPI0CS0DATA=021400 SPI0CS0DATA=020005"
                                     << "800"
                                     << "0";
    QTest::newRow("all on, motor 2") << duty + "set DIO25=1 SPI0CS0DATA=021400 SPI0CS0DATA=02000A"
                                     << "0"
                                     << "500";
    QTest::newRow("one bridge") << duty + "set DIO25=1 SPI0CS0DATA=021400 SPI0CS0DATA=020001"
                                << "0"
                                << "0";
    QTest::newRow("EN pin low") << duty + "set SPI0CS0DATA=021400 SPI0CS0DATA=02000F"
                                << "0"
                                << "0";
    QTest::newRow("driver off") << duty + "set DIO25=1 SPI0CS0DATA=02000F"
                                << "0"
                                << "0";
}

void TestSimulatedBoard::motorCurrentNeedsBothBridgesAndDriver()
{
    QFETCH(QByteArray, setup);
    QFETCH(QString, isen1);
    QFETCH(QString, isen2);
    SimulatedBoard board;
    for (const QByteArray& line : setup.split('\n'))
        QVERIFY(!board.handleLine(line).contains("err"));
    QCOMPARE(ask(board, "get Isen1 Isen2"),
             QStringLiteral("Isen1=%1 Isen2=%2\r\n").arg(isen1, isen2).toLatin1());
    QCOMPARE(board.variable("Isen1"), isen1);
}

void TestSimulatedBoard::resetRestoresPowerOnState()
{
    SimulatedBoard board;
    ask(board, "set DIO25=1 SPI0CS0DATA=021400");
    board.setVariable("AIN5", "2048");
    QCOMPARE(ask(board, "get AIN5"), QByteArray("AIN5=2048\r\n"));
    board.reset();
    QCOMPARE(board.variable("DIO25"), QString("0"));
    QCOMPARE(board.variable("AIN5"), QString("512"));
    QCOMPARE(board.chipRegister(1), quint16(0));
    QCOMPARE(ask(board, "get SPI0CS0DATA"), QByteArray("err\r\n"));
    QCOMPARE(board.receivedLines().size(), 3);
}

QTEST_GUILESS_MAIN(TestSimulatedBoard)
#include "tst_simulatedboard.moc"
