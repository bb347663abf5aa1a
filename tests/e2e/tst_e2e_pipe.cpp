#include <QElapsedTimer>
#include <QLocalSocket>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <signal.h>

// Starts rmx4218 headless in a temporary directory with its own pipe name, connects to
// the pipe and drives the program on a board simulated on a pseudo-terminal.
class TestE2ePipe : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void setGetRunReachTheSimulatedBoard();
    void boardAndWatchDogDriveTheBoardByScript();
    void boardLostDuringRequestAnswersErrWithinTimeoutThenShutdown();

private:
    QByteArray request(const QByteArray& line, int timeoutMs = 5000);
    QStringList boardLines(); // the lines the simulator received

    QTemporaryDir m_dir;
    QProcess m_program, m_boardsim;
    QByteArray m_device, m_boardOut;
    QLocalSocket m_pipe;
};

QStringList TestE2ePipe::boardLines()
{
    m_boardsim.waitForReadyRead(50);
    m_boardOut += m_boardsim.readAllStandardOutput();
    QStringList lines;
    for (const QByteArray& l : m_boardOut.split('\n'))
        if (l.startsWith("RX "))
            lines << QString::fromLatin1(l.mid(3)).trimmed();
    return lines;
}

QByteArray TestE2ePipe::request(const QByteArray& line, int timeoutMs)
{
    m_pipe.write(line + '\n');
    (void)QTest::qWaitFor([this] { return m_pipe.waitForReadyRead(10), m_pipe.canReadLine(); },
                          timeoutMs);
    return m_pipe.readLine();
}

void TestE2ePipe::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_boardsim.start(QStringLiteral(BOARDSIM_EXE), QStringList());
    QTRY_VERIFY_WITH_TIMEOUT((m_boardOut += m_boardsim.readAllStandardOutput()).contains('\n'),
                             5000);
    m_device = m_boardOut.left(m_boardOut.indexOf('\n')).trimmed(); // it prints its device first
    m_boardOut.clear();
    QVERIFY2(m_device.startsWith('/'), m_device.constData());

    const QString pipeName =
        QStringLiteral("rmx_e2e_%1").arg(QRandomGenerator::global()->generate());
    qputenv("QT_QPA_PLATFORM", "offscreen"); // the program inherits it: headless
    m_program.setWorkingDirectory(m_dir.path());
    m_program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_program.start(QStringLiteral(RMX4218_EXE), {QStringLiteral("--pipe"), pipeName});
    QVERIFY2(m_program.waitForStarted(5000), qPrintable(m_program.errorString()));
    QTRY_VERIFY_WITH_TIMEOUT((m_pipe.connectToServer(pipeName), m_pipe.waitForConnected(200)),
                             20000);
}

void TestE2ePipe::cleanupTestCase()
{
    m_pipe.abort();
    for (QProcess* p : {&m_program, &m_boardsim}) {
        p->kill();
        p->waitForFinished(5000);
    }
}

void TestE2ePipe::setGetRunReachTheSimulatedBoard()
{
    const QByteArray version = request("get\tversion");
    QVERIFY2(QRegularExpression("^s\\d+\\.\\d+\\.\\d+\\n$").match(version).hasMatch(),
             version.constData());
    QCOMPARE(request("get\tSpiController.CR2[3:0]"), QByteArray("err\n")); // needs a board
    QVERIFY(QFile::exists(m_dir.filePath(QStringLiteral("rmx4218.ini"))));

    QCOMPARE(request("run\topen\ts" + m_device, 15000), QByteArray("i1\n"));
    QTRY_VERIFY_WITH_TIMEOUT(boardLines().contains(QStringLiteral("get VER")), 5000);
    QCOMPARE(request("run\topen\ts" + m_device), QByteArray("err\n")); // already open
    QCOMPARE(request("run\tset_timeout\ti1000"), QByteArray("i1\n"));
    const QByteArray answer = request("run\twrite\tsget VER");
    QVERIFY2(answer.startsWith('s') && answer.size() > 2, answer.constData());
    QTRY_VERIFY_WITH_TIMEOUT(boardLines().count(QStringLiteral("get VER")) >= 2, 3000);

    QCOMPARE(request("set\tSpiController.CR2[3:0]\ti0b101"), QByteArray("ok\n"));
    QCOMPARE(request("get\tSpiController.CR2[3:0]"), QByteArray("i5\n"));
    const int before = boardLines().size();
    QCOMPARE(request("run\tSpiController.WriteCR2"), QByteArray("i1\n"));
    QTRY_VERIFY_WITH_TIMEOUT(boardLines().size() > before, 3000);
    const QStringList sent = boardLines().mid(before);
    QVERIFY2(!sent.filter(QRegularExpression("^set SPI0CS0DATA=022")).isEmpty(),
             qPrintable(sent.join('|')));

    // A command that runs and reports false answers "i0"; only a failed request is "err".
    QCOMPARE(request("run\tBoard.setDefault"), QByteArray("i0\n"));
    QCOMPARE(request("get\tNobody.x"), QByteArray("err\n"));
    QCOMPARE(request("set\tSpiController.CR2[3:0]\tq5"), QByteArray("err\n"));
    QCOMPARE(request("get\tSpiController.CR2[3:0]"), QByteArray("i5\n"));
}

void TestE2ePipe::boardAndWatchDogDriveTheBoardByScript()
{
    // A motor command writes CR0, CR2 and CR1 through SPI frames (first hex digit of the
    // frame = register address).
    int before = boardLines().size();
    QCOMPARE(request("run\tBoard.setForward1"), QByteArray("i1\n"));
    QTRY_VERIFY_WITH_TIMEOUT(boardLines().size() > before + 3, 3000);
    QString addresses;
    for (const QString& line : boardLines().mid(before))
        if (line.startsWith(QLatin1String("set SPI0CS0DATA=02")))
            addresses += line.at(18);
    QVERIFY2(addresses.contains('0') && addresses.contains('1') && addresses.contains('2'),
             qPrintable(addresses));

    // The watchdog's safety switch and service routine period.
    before = boardLines().size();
    QCOMPARE(request("set\tWatchDog.WDdio\ti1"), QByteArray("ok\n"));
    QCOMPARE(request("set\tWatchDog.WDTime\tf35.7"), QByteArray("ok\n"));
    QCOMPARE(request("run\tWatchDog.setRoutineTime"), QByteArray("i1\n"));
    QTRY_VERIFY_WITH_TIMEOUT(boardLines().mid(before).contains(QStringLiteral("set WDtime=35")),
                             3000);
    QVERIFY(boardLines().mid(before).contains(QStringLiteral("set DIO21=1")));
}

void TestE2ePipe::boardLostDuringRequestAnswersErrWithinTimeoutThenShutdown()
{
    constexpr int TimeoutMs = 1500;
    QCOMPARE(request("run\tset_timeout\ti" + QByteArray::number(TimeoutMs)), QByteArray("i1\n"));
    // The board stops answering; it goes away while the request waits for its answer.
    QVERIFY(::kill(pid_t(m_boardsim.processId()), SIGSTOP) == 0);
    QTimer::singleShot(300, &m_boardsim, [this] { m_boardsim.kill(); });
    QElapsedTimer t;
    t.start();
    QCOMPARE(request("run\twrite\tsget VER", 10000), QByteArray("err\n"));
    QVERIFY2(t.elapsed() < TimeoutMs + 1000, qPrintable(QString::number(t.elapsed())));
    // Board requests fail now; the program itself goes on serving.
    QTRY_COMPARE_WITH_TIMEOUT(request("get\tSpiController.CR2[3:0]"), QByteArray("err\n"), 8000);
    QVERIFY(request("get\tversion").startsWith('s'));
    QCOMPARE(request("run\tshutdown"), QByteArray("i1\n"));
    QVERIFY(m_program.waitForFinished(10000));
    QCOMPARE(m_program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(m_program.exitCode(), 0);
}

QTEST_GUILESS_MAIN(TestE2ePipe)
#include "tst_e2e_pipe.moc"
