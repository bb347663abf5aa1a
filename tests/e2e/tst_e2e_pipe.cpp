#include "E2eProcesses.h"

#include <QElapsedTimer>
#include <QLocalSocket>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <signal.h>

// The program driven through its scripting pipe on the board simulated on a
// pseudo-terminal.
class TestE2ePipe : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void setGetRunReachTheSimulatedBoard();
    void namesThatDoNotExistAnswerErr();
    void writeSendsOnlyPrintableText();
    void boardAndWatchDogDriveTheBoardByScript();
    void boardLostDuringRequestAnswersErrWithinTimeoutThenShutdown();
    void signalsQuitWithTheNormalShutdown_data();
    void signalsQuitWithTheNormalShutdown();

private:
    QByteArray request(const QByteArray& line, int timeoutMs = 5000)
    {
        return m_program->request(line, timeoutMs);
    }

    QTemporaryDir m_dir;
    std::unique_ptr<BoardSim> m_board;
    std::unique_ptr<Program> m_program;
};

void TestE2ePipe::initTestCase()
{
    QVERIFY(m_dir.isValid());
    qputenv("QT_QPA_PLATFORM", "offscreen"); // the program inherits it: headless
    m_board = std::make_unique<BoardSim>();
    QVERIFY2(m_board->device.startsWith('/'), m_board->device.constData());
    m_program = std::make_unique<Program>(m_dir.path());
    QVERIFY2(m_program->waitForStarted(5000), qPrintable(m_program->errorString()));
    QVERIFY(m_program->connectPipe());
}

void TestE2ePipe::cleanupTestCase()
{
    m_program.reset();
    m_board.reset();
}

void TestE2ePipe::setGetRunReachTheSimulatedBoard()
{
    const QByteArray version = request("get\tversion");
    QVERIFY2(QRegularExpression("^s\\d+\\.\\d+\\.\\d+$").match(version).hasMatch(),
             version.constData());
    QCOMPARE(request("get\tSpiController.CR2[3:0]"), QByteArray("err\n")); // needs a board
    QVERIFY(QFile::exists(m_dir.filePath(QStringLiteral("rmx4218.ini"))));

    const QByteArray device = m_board->device;
    QCOMPARE(request("run\topen\ts" + device, 15000), QByteArray("i1"));
    QTRY_VERIFY_WITH_TIMEOUT(m_board->lines().contains(QStringLiteral("get VER")), 5000);
    QCOMPARE(request("run\topen\ts" + device), QByteArray("err\n")); // already open
    QCOMPARE(request("run\tset_timeout\ti1000"), QByteArray("i1"));
    const QByteArray answer = request("run\twrite\tsget VER");
    QVERIFY2(answer.startsWith("sVER=") && !answer.contains('\n'), answer.constData());
    QTRY_VERIFY_WITH_TIMEOUT(m_board->lines().count(QStringLiteral("get VER")) >= 2, 3000);

    QCOMPARE(request("set\tSpiController.CR2[3:0]\ti0b101"), QByteArray("ok\n"));
    QCOMPARE(request("get\tSpiController.CR2[3:0]"), QByteArray("i5"));
    const int before = int(m_board->lines().size());
    QCOMPARE(request("run\tSpiController.WriteCR2"), QByteArray("i1"));
    QTRY_VERIFY_WITH_TIMEOUT(m_board->lines().size() > before, 3000);
    const QStringList sent = m_board->lines().mid(before);
    QVERIFY2(!sent.filter(QRegularExpression("^set SPI0CS0DATA=022")).isEmpty(),
             qPrintable(sent.join('|')));

    // A command that runs and reports false answers "i0"; only a failed request is "err".
    QCOMPARE(request("run\tBoard.setDefault"), QByteArray("i0"));
    QCOMPARE(request("get\tNobody.x"), QByteArray("err\n"));
    QCOMPARE(request("set\tSpiController.CR2[3:0]\tq5"), QByteArray("err\n"));
    QCOMPARE(request("get\tSpiController.CR2[3:0]"), QByteArray("i5"));
}

void TestE2ePipe::namesThatDoNotExistAnswerErr()
{
    for (const char* field :
         {"[63:0]", "[-1:0]", "[0:3]", "[31:0]", "[NOSUCHFIELD]", "(3:0)", "[", "[3:0"})
        QCOMPARE(request(QByteArray("get\tSpiController.CR2") + field), QByteArray("err\n"));
    const QByteArray duty = request("get\tBoard.PWM1_DUTY");
    QVERIFY2(duty.startsWith('f'), duty.constData());
    QCOMPARE(request("get\tBoard.PWM1_DUTY.junk"), QByteArray("err\n"));
    QCOMPARE(request("set\tBoard.PWM1_DUTY.junk\tf20"), QByteArray("err\n"));
    QCOMPARE(request("get\tBoard.PWM1_DUTY"), duty);
}

// Control bytes would act on the board itself: six CAN reset it, ENQ is the keep-alive.
void TestE2ePipe::writeSendsOnlyPrintableText()
{
    QCOMPARE(request("run\twrite\tsset DIO25=1"), QByteArray("sDIO25=1"));
    const int before = int(m_board->lines().size());
    QElapsedTimer t;
    t.start();
    for (const char* bytes : {"x181818181818", "x05", "x676574205645520a676574204449"})
        QCOMPARE(request(QByteArray("run\twrite\t") + bytes), QByteArray("err\n"));
    QVERIFY2(t.elapsed() < 1000, "refused at once, not after a time-out");
    QCOMPARE(request("run\twrite\tsget DIO25"), QByteArray("sDIO25=1")); // not reset
    QTRY_COMPARE(m_board->lines().mid(before), QStringList{"get DIO25"});
    QVERIFY(!m_board->out.contains("RESET"));
}

void TestE2ePipe::boardAndWatchDogDriveTheBoardByScript()
{
    // A motor command writes CR0, CR2 and CR1 through SPI frames (first hex digit of the
    // frame = register address).
    int before = int(m_board->lines().size());
    QCOMPARE(request("run\tBoard.setForward1"), QByteArray("i1"));
    QTRY_VERIFY_WITH_TIMEOUT(m_board->lines().size() > before + 3, 3000);
    QString addresses;
    for (const QString& line : m_board->lines().mid(before))
        if (line.startsWith(QLatin1String("set SPI0CS0DATA=02")))
            addresses += line.at(18);
    QVERIFY2(addresses.contains('0') && addresses.contains('1') && addresses.contains('2'),
             qPrintable(addresses));

    // The watchdog's safety switch and service routine period.
    before = int(m_board->lines().size());
    QCOMPARE(request("set\tWatchDog.WDdio\ti1"), QByteArray("ok\n"));
    QCOMPARE(request("set\tWatchDog.WDTime\tf35.7"), QByteArray("ok\n"));
    QCOMPARE(request("run\tWatchDog.setRoutineTime"), QByteArray("i1"));
    QTRY_VERIFY_WITH_TIMEOUT(m_board->lines().mid(before).contains(QStringLiteral("set WDtime=35")),
                             3000);
    QVERIFY(m_board->lines().mid(before).contains(QStringLiteral("set DIO21=1")));
}

void TestE2ePipe::boardLostDuringRequestAnswersErrWithinTimeoutThenShutdown()
{
    constexpr int TimeoutMs = 1500;
    QCOMPARE(request("run\tset_timeout\ti" + QByteArray::number(TimeoutMs)), QByteArray("i1"));
    // The board stops answering; it goes away while the request waits for its answer.
    QVERIFY(::kill(pid_t(m_board->processId()), SIGSTOP) == 0);
    QTimer::singleShot(300, m_board.get(), [this] { m_board->kill(); });
    QElapsedTimer t;
    t.start();
    QCOMPARE(request("run\twrite\tsget VER", 10000), QByteArray("err\n"));
    QVERIFY2(t.elapsed() < TimeoutMs + 1000, qPrintable(QString::number(t.elapsed())));
    // Board requests fail now; the program itself goes on serving.
    QTRY_COMPARE_WITH_TIMEOUT(request("get\tSpiController.CR2[3:0]"), QByteArray("err\n"), 8000);
    QVERIFY(request("get\tversion").startsWith('s'));
    QCOMPARE(request("run\tshutdown"), QByteArray("i1"));
    QVERIFY(m_program->waitForFinished(10000));
    QCOMPARE(m_program->exitStatus(), QProcess::NormalExit);
    QCOMPARE(m_program->exitCode(), 0);
    QVERIFY(!QFile::exists(m_program->pipePath));
}

void TestE2ePipe::signalsQuitWithTheNormalShutdown_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
}

// The same shutdown as "run shutdown": the board gets its default configuration back,
// the port is closed and the pipe's socket removed.
void TestE2ePipe::signalsQuitWithTheNormalShutdown()
{
    QFETCH(int, signalNumber);
    QTemporaryDir dir;
    BoardSim board;
    Program program(dir.path());
    QVERIFY(program.connectPipe());
    QCOMPARE(program.request("run\topen\ts" + board.device, 15000), QByteArray("i1"));
    QTRY_VERIFY_WITH_TIMEOUT(board.lines().contains(QStringLiteral("get VER")), 5000);
    const int before = int(board.lines().size());
    QVERIFY(::kill(pid_t(program.processId()), signalNumber) == 0);
    QVERIFY(program.waitForFinished(10000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
    QVERIFY(!QFile::exists(program.pipePath));
    const QStringList atShutdown = board.lines().mid(before);
    QVERIFY2(atShutdown.contains(QStringLiteral("set r219rem=1")),
             qPrintable(atShutdown.join('|')));
    QVERIFY(!atShutdown.filter(QRegularExpression("^set SPI0CS0DATA=025")).isEmpty());
}

QTEST_GUILESS_MAIN(TestE2ePipe)
#include "tst_e2e_pipe.moc"
