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
    void programServesVersionBeforeAnyBoard();
    void openReachesTheSimulatedBoard();
    void setGetRunReachTheBoard();
    void badRequestsAnswerErrAndServingGoesOn_data();
    void badRequestsAnswerErrAndServingGoesOn();
    void boardLostDuringRequestAnswersErrWithinTimeout();
    void shutdownEndsTheProgram();

private:
    QByteArray request(const QByteArray& line, int timeoutMs = 5000);
    bool startBoard();
    QStringList boardLines();

    QTemporaryDir m_dir;
    QProcess m_program;
    QProcess m_boardsim;
    QString m_device;
    QByteArray m_boardOut;
    QLocalSocket m_pipe;
    QString m_pipeName;
};

bool TestE2ePipe::startBoard()
{
    m_boardOut.clear();
    m_boardsim.start(QStringLiteral(BOARDSIM_EXE), QStringList());
    if (!m_boardsim.waitForStarted(5000))
        return false;
    QElapsedTimer t;
    t.start();
    while (!m_boardOut.contains('\n') && t.elapsed() < 5000) {
        m_boardsim.waitForReadyRead(100);
        m_boardOut += m_boardsim.readAllStandardOutput();
    }
    const int end = m_boardOut.indexOf('\n');
    if (end < 0)
        return false;
    m_device = QString::fromLocal8Bit(m_boardOut.left(end)).trimmed();
    m_boardOut.remove(0, end + 1);
    return m_device.startsWith(QLatin1Char('/'));
}

QStringList TestE2ePipe::boardLines()
{
    m_boardsim.waitForReadyRead(50);
    m_boardOut += m_boardsim.readAllStandardOutput();
    QStringList lines;
    for (const QByteArray& l : m_boardOut.split('\n')) {
        if (l.startsWith("RX "))
            lines << QString::fromLatin1(l.mid(3)).trimmed();
    }
    return lines;
}

QByteArray TestE2ePipe::request(const QByteArray& line, int timeoutMs)
{
    m_pipe.write(line + '\n');
    m_pipe.flush();
    QElapsedTimer t;
    t.start();
    while (!m_pipe.canReadLine() && t.elapsed() < timeoutMs)
        m_pipe.waitForReadyRead(50);
    return m_pipe.readLine();
}

void TestE2ePipe::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(startBoard());
    m_pipeName = QStringLiteral("rmx_e2e_%1_%2")
                     .arg(QCoreApplication::applicationPid())
                     .arg(QRandomGenerator::global()->generate());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    m_program.setProcessEnvironment(env);
    m_program.setWorkingDirectory(m_dir.path());
    m_program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_program.start(QStringLiteral(RMX4218_EXE), {QStringLiteral("--pipe"), m_pipeName});
    QVERIFY2(m_program.waitForStarted(5000), qPrintable(m_program.errorString()));

    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 20000 && m_program.state() == QProcess::Running) {
        m_pipe.connectToServer(m_pipeName);
        if (m_pipe.waitForConnected(200))
            break;
        QTest::qWait(100);
    }
    QCOMPARE(m_pipe.state(), QLocalSocket::ConnectedState);
}

void TestE2ePipe::cleanupTestCase()
{
    m_pipe.abort();
    if (m_program.state() != QProcess::NotRunning) {
        m_program.kill();
        m_program.waitForFinished(5000);
    }
    if (m_boardsim.state() != QProcess::NotRunning) {
        m_boardsim.kill();
        m_boardsim.waitForFinished(5000);
    }
}

void TestE2ePipe::programServesVersionBeforeAnyBoard()
{
    const QByteArray answer = request("get\tversion");
    QVERIFY2(QRegularExpression(QStringLiteral("^s\\d+\\.\\d+\\.\\d+\\n$"))
                 .match(QString::fromLatin1(answer))
                 .hasMatch(),
             answer.constData());
    // Applet requests need a board.
    QCOMPARE(request("get\tSpiController.CR2[3:0]"), QByteArray("err\n"));
    // The settings file is made in the working directory.
    QVERIFY(QFile::exists(m_dir.filePath(QStringLiteral("rmx4218.ini"))));
}

void TestE2ePipe::openReachesTheSimulatedBoard()
{
    QCOMPARE(request("run\topen\ts" + m_device.toLocal8Bit(), 15000), QByteArray("i1\n"));
    QTRY_VERIFY_WITH_TIMEOUT(boardLines().contains(QStringLiteral("get VER")), 5000);
    // A second open while connected is refused.
    QCOMPARE(request("run\topen\ts" + m_device.toLocal8Bit()), QByteArray("err\n"));
}

void TestE2ePipe::setGetRunReachTheBoard()
{
    QCOMPARE(request("run\tset_timeout\ti1000"), QByteArray("i1\n"));
    const QByteArray version = request("run\twrite\tsget VER");
    QVERIFY2(version.startsWith('s') && version.size() > 2, version.constData());
    QTRY_VERIFY_WITH_TIMEOUT(boardLines().count(QStringLiteral("get VER")) >= 2, 3000);

    QCOMPARE(request("set\tSpiController.CR2[3:0]\ti0b101"), QByteArray("ok\n"));
    QCOMPARE(request("get\tSpiController.CR2[3:0]"), QByteArray("i5\n"));
    const int before = boardLines().size();
    QCOMPARE(request("run\tSpiController.WriteCR2"), QByteArray("i1\n"));
    QTRY_VERIFY_WITH_TIMEOUT(boardLines().size() > before, 3000);
    bool frameSent = false;
    for (const QString& line : boardLines().mid(before))
        frameSent = frameSent || line.startsWith(QLatin1String("set SPI0CS0DATA=022"));
    QVERIFY2(frameSent, qPrintable(boardLines().mid(before).join(QLatin1String(" | "))));

    // A command that runs and reports false answers "i0"; only a failed request is "err".
    QCOMPARE(request("run\tSpiController.NoSuchCommand"), QByteArray("i0\n"));
    QCOMPARE(request("run\tBoard.setDefault"), QByteArray("i0\n"));
}

void TestE2ePipe::badRequestsAnswerErrAndServingGoesOn_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::newRow("unknown verb") << QByteArray("jump\tBoard.x");
    QTest::newRow("wrong field count") << QByteArray("set\tSpiController.CR2[3:0]");
    QTest::newRow("bad typed value") << QByteArray("set\tSpiController.CR2[3:0]\tq5");
    QTest::newRow("unknown applet") << QByteArray("get\tNobody.x");
    QTest::newRow("unknown own name") << QByteArray("run\tformat_disk");
    QTest::newRow("binary garbage") << QByteArray("\x01\x02\xff\xfe\t\x00zz", 8);
}

void TestE2ePipe::badRequestsAnswerErrAndServingGoesOn()
{
    QFETCH(QByteArray, line);
    QCOMPARE(request(line), QByteArray("err\n"));
    QCOMPARE(request("get\tSpiController.CR2[3:0]"), QByteArray("i5\n"));
}

void TestE2ePipe::boardLostDuringRequestAnswersErrWithinTimeout()
{
    constexpr int TimeoutMs = 1500;
    QCOMPARE(request("run\tset_timeout\ti" + QByteArray::number(TimeoutMs)), QByteArray("i1\n"));
    // The board stops answering; it goes away while the request waits for its answer.
    QVERIFY(::kill(pid_t(m_boardsim.processId()), SIGSTOP) == 0);
    QTimer::singleShot(300, &m_boardsim, [this] { m_boardsim.kill(); });
    QElapsedTimer t;
    t.start();
    m_pipe.write("run\twrite\tsget VER\n");
    m_pipe.flush();
    while (!m_pipe.canReadLine() && t.elapsed() < 10000) {
        m_pipe.waitForReadyRead(20);
        QCoreApplication::processEvents(); // lets the kill timer fire
    }
    const qint64 elapsed = t.elapsed();
    QCOMPARE(m_pipe.readLine(), QByteArray("err\n"));
    qInfo("board lost during a request: \"err\" after %lld ms (time-out %d ms)", elapsed,
          TimeoutMs);
    QVERIFY2(elapsed < TimeoutMs + 1000, qPrintable(QString::number(elapsed)));
    m_boardsim.waitForFinished(3000);

    // Board requests fail now; the program itself goes on serving.
    QTRY_COMPARE_WITH_TIMEOUT(request("get\tSpiController.CR2[3:0]"), QByteArray("err\n"), 8000);
    QVERIFY(request("get\tversion").startsWith('s'));

    // A new board opens again; the loss has cleared the chip register images.
    QVERIFY(startBoard());
    QCOMPARE(request("run\topen\ts" + m_device.toLocal8Bit(), 15000), QByteArray("i1\n"));
    QCOMPARE(request("get\tSpiController.CR2[3:0]"), QByteArray("i0\n"));
    QCOMPARE(request("run\tclose"), QByteArray("i1\n"));
    QCOMPARE(request("get\tSpiController.CR2[3:0]"), QByteArray("err\n"));
}

void TestE2ePipe::shutdownEndsTheProgram()
{
    QCOMPARE(request("run\tshutdown"), QByteArray("i1\n"));
    QVERIFY(m_program.waitForFinished(10000));
    QCOMPARE(m_program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(m_program.exitCode(), 0);
}

QTEST_GUILESS_MAIN(TestE2ePipe)
#include "tst_e2e_pipe.moc"
