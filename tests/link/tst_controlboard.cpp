#include "ControlBoard.h"
#include "SimulatedBoard.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace {

// tools/boardsim in a child process; collects the lines it reports receiving.
class BoardSim
{
public:
    explicit BoardSim(const QStringList& args = {})
    {
        m_process.setProgram(QStringLiteral(RMX_BUILD_DIR "/tools/boardsim"));
        m_process.setArguments(args);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start();
        if (!m_process.waitForStarted(5000))
            return;
        while (!m_process.canReadLine() && m_process.waitForReadyRead(5000)) {
        }
        m_path = QString::fromLocal8Bit(m_process.readLine()).trimmed();
    }
    ~BoardSim()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            if (!m_process.waitForFinished(3000))
                m_process.kill();
            m_process.waitForFinished(1000);
        }
    }
    QString path() const { return m_path; }
    // Lines received so far (waits up to timeoutMs for at least `atLeast`).
    QStringList received(int atLeast = 0, int timeoutMs = 2000)
    {
        QElapsedTimer timer;
        timer.start();
        for (;;) {
            while (m_process.canReadLine())
                m_lines << QString::fromLocal8Bit(m_process.readLine()).trimmed();
            if (m_lines.size() >= atLeast || timer.elapsed() > timeoutMs)
                return m_lines;
            m_process.waitForReadyRead(50);
        }
    }
    bool waitExit(int ms) { return m_process.waitForFinished(ms); }
    void kill()
    {
        m_process.kill();
        m_process.waitForFinished(3000);
    }

private:
    QProcess m_process;
    QString m_path;
    QStringList m_lines;
};

// A bare pseudo-terminal whose far end the test drives: it answers "get VER" and
// otherwise "ok", and lets the test push raw bytes (a data stream).
class PtyBoard
{
public:
    PtyBoard()
    {
        m_master = posix_openpt(O_RDWR | O_NOCTTY);
        grantpt(m_master);
        unlockpt(m_master);
        m_path = QString::fromLocal8Bit(ptsname(m_master));
        m_thread = std::thread([this] { serve(); });
    }
    ~PtyBoard()
    {
        m_stop = true;
        m_thread.join();
        ::close(m_master);
    }
    QString path() const { return m_path; }
    void push(const QByteArray& bytes)
    {
        QCOMPARE(::write(m_master, bytes.data(), bytes.size()), bytes.size());
    }

private:
    void serve()
    {
        QByteArray line;
        char c;
        while (!m_stop) {
            pollfd pfd{m_master, POLLIN, 0};
            if (::poll(&pfd, 1, 20) <= 0 || ::read(m_master, &c, 1) != 1)
                continue;
            if (c != '\n') {
                line.append(c);
                continue;
            }
            const QByteArray answer = line == "get VER" ? "VER=pty\r\n" : "ok\r\n";
            [[maybe_unused]] ssize_t n = ::write(m_master, answer.data(), answer.size());
            line.clear();
        }
    }

    int m_master = -1;
    QString m_path;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

bool hasLog(const QSignalSpy& spy, int type, const QString& part)
{
    for (const QList<QVariant>& entry : spy)
        if (entry.at(0).toInt() == type && entry.at(1).toString().contains(part))
            return true;
    return false;
}

} // namespace

class TestControlBoard : public QObject
{
    Q_OBJECT
private slots:
    void mockupConnectsSynchronously();
    void mockupTransactions_data();
    void mockupTransactions();
    void getPicksTheNamedValue();
    void nothingSentWhileDisconnected();
    void logsTrafficOnlyWhileLoggingIsOn();

    void serialTransactionsWithAnswers();
    void multiLineSendWaitsForEveryAnswer();
    void errAnswerFails();
    void silentBoardTimesOut();
    void zeroTimeoutDoesNotWait();
    void lineWithoutEndTimesOut();
    void garbageBytesAreDroppedAndLogged();
    void overlongLineIsDiscarded();
    void unansweredKeepAliveDisconnects();
    void answeredKeepAliveKeepsTheLink();
    void vanishingPortDisconnectsAtOnce();
    void openFailureIsReported();
    void boardNotRespondingIsReported();
    void resetSendsSixCan();
    void streamGoesToCaptureUntilThreeNak();

    void scriptBoardAnswersLikeTheSimulatedBoard();
};

void TestControlBoard::mockupConnectsSynchronously()
{
    ControlBoard link;
    QSignalSpy connected(&link, &ControlBoard::signal_connected);
    QSignalSpy disconnected(&link, &ControlBoard::signal_disconnected);
    QVERIFY(link.connectBoard("mockup"));
    QCOMPARE(connected.count(), 1);
    QVERIFY(link.isConnected());
    QVERIFY(link.isMockup());
    QCOMPARE(link.firmwareVersion(), QString(SimulatedBoard::Version));
    QVERIFY(link.simulatedBoard());
    QCOMPARE(link.simulatedBoard()->receivedLines(), QStringList{"get VER"});
    link.disconnectBoard();
    QCOMPARE(disconnected.count(), 1);
    QVERIFY(!link.isConnected());
    QVERIFY(!link.send("get VER"));
}

void TestControlBoard::mockupTransactions_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<int>("answers");
    QTest::newRow("set") << QByteArray("set DIO25=1") << true << QByteArray("DIO25=1") << 1;
    QTest::newRow("two lines, last copied")
        << QByteArray("set DIO25=1\nget DIO25\n") << true << QByteArray("DIO25=1") << 2;
    QTest::newRow("err in first line") << QByteArray("get NOPE\nget VER") << false
                                       << QByteArray("VER=") + SimulatedBoard::Version << 2;
    QTest::newRow("empty lines not counted")
        << QByteArray("\n\nset WDen=1\r\n\n") << true << QByteArray("WDen=1") << 1;
}

void TestControlBoard::mockupTransactions()
{
    QFETCH(QByteArray, line);
    QFETCH(bool, ok);
    QFETCH(QByteArray, answer);
    QFETCH(int, answers);
    ControlBoard link;
    QVERIFY(link.connectBoard("mockup"));
    QSignalSpy tx(&link, &ControlBoard::signal_tx);
    QSignalSpy rx(&link, &ControlBoard::signal_rx);
    QByteArray got;
    QCOMPARE(link.send(line, &got), ok);
    QCOMPARE(got, answer);
    QCOMPARE(rx.count(), answers);
    QCOMPARE(tx.count(), answers);
    QCOMPARE(link.simulatedBoard()->receivedLines().size(), 1 + answers);
}

void TestControlBoard::getPicksTheNamedValue()
{
    ControlBoard link;
    QVERIFY(link.connectBoard("mockup"));
    link.simulatedBoard()->setVariable("AIN5", "2048");
    QByteArray value;
    QVERIFY(link.get("AIN5", &value));
    QCOMPARE(value, QByteArray("2048"));
    QVERIFY(link.set("PWM2DUTY", "33"));
    QCOMPARE(link.simulatedBoard()->receivedLines().last(), QString("set PWM2DUTY=33"));
    QVERIFY(link.get("PWM2DUTY", &value));
    QCOMPARE(value, QByteArray("33"));

    // An empty value and a failure leave the buffer alone.
    link.simulatedBoard()->setVariable("EMPTY", "");
    value = "keep";
    QVERIFY(link.get("EMPTY", &value));
    QCOMPARE(value, QByteArray("keep"));
    QByteArray untouched;
    QVERIFY(!link.get("NOPE", &untouched));
    QVERIFY(untouched.isEmpty());
}

void TestControlBoard::nothingSentWhileDisconnected()
{
    ControlBoard link;
    QSignalSpy tx(&link, &ControlBoard::signal_tx);
    QByteArray answer = "x";
    QVERIFY(!link.send("get VER", &answer));
    QVERIFY(!link.set("DIO25", "1"));
    QCOMPARE(answer, QByteArray("x"));
    QCOMPARE(tx.count(), 0);
    QVERIFY(!link.simulatedBoard());
}

void TestControlBoard::logsTrafficOnlyWhileLoggingIsOn()
{
    ControlBoard link;
    QVERIFY(link.connectBoard("mockup"));
    QSignalSpy log(&link, &ControlBoard::signal_log);
    QVERIFY(!link.send("get NOPE"));
    QCOMPARE(log.count(), 0);

    link.setCommLogging(true);
    QVERIFY(link.send("set DIO22=1"));
    QVERIFY(!link.send("get NOPE"));
    QVERIFY(hasLog(log, 109, "set DIO22=1"));
    QVERIFY(hasLog(log, 108, "DIO22=1"));
    QVERIFY(hasLog(log, 109, "get NOPE"));
    QVERIFY(hasLog(log, -1, "get NOPE"));
}

void TestControlBoard::serialTransactionsWithAnswers()
{
    BoardSim sim;
    QVERIFY(!sim.path().isEmpty());
    ControlBoard link;
    QSignalSpy connected(&link, &ControlBoard::signal_connected);
    QVERIFY(link.connectBoard(sim.path()));
    QCOMPARE(connected.count(), 1);
    QVERIFY(!link.isMockup());
    QCOMPARE(link.firmwareVersion(), QString(SimulatedBoard::Version));

    QByteArray answer;
    QVERIFY(link.set("SPI0CS0DATA", "020680", &answer));
    QCOMPARE(answer, QByteArray("SPI0CS0DATA=020680"));
    QByteArray frame;
    QVERIFY(link.get("SPI0CS0DATA", &frame));
    QCOMPARE(frame, QByteArray("0000"));
    for (int i = 0; i < 200; ++i) {
        const QString value = QString::number(i % 100);
        QVERIFY(link.set("PWM1DUTY", value));
        QVERIFY(link.get("PWM1DUTY", &answer));
        QCOMPARE(answer, value.toLatin1());
    }
    const QStringList lines = sim.received(403);
    QCOMPARE(lines.size(), 403);
    QCOMPARE(lines.first(), QString("RX get VER"));
    QCOMPARE(lines.at(1), QString("RX set SPI0CS0DATA=020680"));
}

void TestControlBoard::multiLineSendWaitsForEveryAnswer()
{
    BoardSim sim;
    ControlBoard link;
    QVERIFY(link.connectBoard(sim.path()));
    QSignalSpy rx(&link, &ControlBoard::signal_rx);
    QByteArray answer;
    QVERIFY(
        link.send("set SPI0CS0DATA=020680 SPI0CS0DATA=02D000\nset DIO25=1\nget DIO25", &answer));
    QCOMPARE(answer, QByteArray("DIO25=1"));
    QCOMPARE(rx.count(), 3);
    // Both frames were queued: two answers, then none.
    QVERIFY(link.send("get SPI0CS0DATA\nget SPI0CS0DATA", &answer));
    QVERIFY(answer.startsWith("SPI0CS0DATA="));
    QVERIFY(!link.send("get SPI0CS0DATA", &answer));
    QCOMPARE(answer, QByteArray("err"));
}

void TestControlBoard::errAnswerFails()
{
    BoardSim sim;
    ControlBoard link;
    QVERIFY(link.connectBoard(sim.path()));
    link.setCommLogging(true);
    QSignalSpy log(&link, &ControlBoard::signal_log);
    QByteArray answer;
    QVERIFY(!link.send("set DIO25=7", &answer));
    QCOMPARE(answer, QByteArray("err"));
    QVERIFY(hasLog(log, -1, "set DIO25=7"));
    // The link stays usable.
    QVERIFY(link.send("get DIO25", &answer));
    QCOMPARE(answer, QByteArray("DIO25=0"));
}

void TestControlBoard::silentBoardTimesOut()
{
    BoardSim sim({"--silent-after", "1"});
    ControlBoard link;
    link.setKeepAliveInterval(0);
    QVERIFY(link.connectBoard(sim.path()));
    link.setCommLogging(true);
    QSignalSpy log(&link, &ControlBoard::signal_log);
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!link.send("get VER", nullptr, 150));
    const qint64 elapsed = timer.elapsed();
    QVERIFY2(elapsed >= 145 && elapsed < 450, qPrintable(QString::number(elapsed)));
    QVERIFY(hasLog(log, -1, "No answer within 150 ms"));

    link.setTimeout(100);
    timer.restart();
    QVERIFY(!link.send("get VER"));
    QVERIFY(timer.elapsed() < 400);
    QVERIFY(link.isConnected());
}

void TestControlBoard::zeroTimeoutDoesNotWait()
{
    BoardSim sim({"--baud", "1200"}); // about 100 ms for the answer
    ControlBoard link;
    link.setTimeout(2000);
    QVERIFY(link.connectBoard(sim.path()));
    QElapsedTimer timer;
    timer.start();
    QVERIFY(link.send("set DIO21=1", nullptr, 0));
    QVERIFY(timer.elapsed() < 50);
    QCOMPARE(sim.received(2).value(1), QString("RX set DIO21=1"));
    // The late answer of that line is not taken for the next one's.
    QByteArray answer;
    QVERIFY(link.send("get WDen", &answer));
    QCOMPARE(answer, QByteArray("WDen=0"));
}

void TestControlBoard::lineWithoutEndTimesOut()
{
    BoardSim sim({"--no-eol-after", "1"});
    ControlBoard link;
    QVERIFY(link.connectBoard(sim.path()));
    QByteArray answer = "none";
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!link.send("get DIO21", &answer, 200));
    QVERIFY(!link.send("get DIO22", &answer, 200));
    QVERIFY(timer.elapsed() < 1000);
    QCOMPARE(answer, QByteArray("none"));
}

void TestControlBoard::garbageBytesAreDroppedAndLogged()
{
    BoardSim sim({"--garbage"});
    ControlBoard link;
    QSignalSpy log(&link, &ControlBoard::signal_log);
    QVERIFY(link.connectBoard(sim.path()));
    QByteArray value;
    QVERIFY(link.get("AIN5", &value));
    QCOMPARE(value, QByteArray("512"));
    QTRY_VERIFY(hasLog(log, -1000, "invalid bytes"));
}

void TestControlBoard::overlongLineIsDiscarded()
{
    BoardSim sim({"--overlong-after", "1"});
    ControlBoard link;
    QSignalSpy log(&link, &ControlBoard::signal_log);
    QVERIFY(link.connectBoard(sim.path()));
    QByteArray answer;
    QVERIFY(link.send("get DIO25", &answer));
    QCOMPARE(answer, QByteArray("DIO25=0"));
    QVERIFY(link.send("get WDen", &answer));
    QCOMPARE(answer, QByteArray("WDen=0"));
    QTRY_VERIFY(hasLog(log, -1000, "longer than 4999 bytes"));
}

void TestControlBoard::unansweredKeepAliveDisconnects()
{
    BoardSim sim({"--no-ack"});
    ControlBoard link;
    link.setKeepAliveInterval(60);
    QSignalSpy log(&link, &ControlBoard::signal_log);
    QSignalSpy disconnected(&link, &ControlBoard::signal_disconnected);
    QVERIFY(link.connectBoard(sim.path()));
    QVERIFY(disconnected.wait(2000));
    QCOMPARE(disconnected.count(), 1);
    QVERIFY(!link.isConnected());
    QVERIFY(hasLog(log, -1000, "Disconnect due to errors"));
    QVERIFY(!link.send("get VER"));
    link.disconnectBoard(); // no second signal
    QCOMPARE(disconnected.count(), 1);
}

void TestControlBoard::answeredKeepAliveKeepsTheLink()
{
    BoardSim sim;
    ControlBoard link;
    link.setKeepAliveInterval(40);
    QSignalSpy disconnected(&link, &ControlBoard::signal_disconnected);
    QVERIFY(link.connectBoard(sim.path()));
    QVERIFY(!disconnected.wait(600));
    QVERIFY(link.isConnected());
    QVERIFY(link.send("get VER"));
}

void TestControlBoard::vanishingPortDisconnectsAtOnce()
{
    BoardSim sim({"--exit-after", "2"});
    ControlBoard link;
    link.setKeepAliveInterval(0);
    QSignalSpy log(&link, &ControlBoard::signal_log);
    QSignalSpy disconnected(&link, &ControlBoard::signal_disconnected);
    QVERIFY(link.connectBoard(sim.path()));
    QVERIFY(link.send("get VER"));
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!link.send("get VER", nullptr, 3000));
    QVERIFY2(timer.elapsed() < 1500, qPrintable(QString::number(timer.elapsed())));
    QVERIFY(sim.waitExit(2000));
    if (disconnected.isEmpty())
        QVERIFY(disconnected.wait(2000));
    QVERIFY(!link.isConnected());
    QVERIFY(hasLog(log, -1000, "Disconnect due to errors"));
    // A new board on a new port works with the same link.
    BoardSim other;
    QVERIFY(link.connectBoard(other.path()));
    QVERIFY(link.send("get VER"));
}

void TestControlBoard::openFailureIsReported()
{
    ControlBoard link;
    QSignalSpy log(&link, &ControlBoard::signal_log);
    QSignalSpy connected(&link, &ControlBoard::signal_connected);
    QVERIFY(!link.connectBoard("/dev/nonexistent-rmx-port"));
    QVERIFY(!link.isConnected());
    QCOMPARE(connected.count(), 0);
    QVERIFY(hasLog(log, -1000, "Cannot open port /dev/nonexistent-rmx-port"));
}

void TestControlBoard::boardNotRespondingIsReported()
{
    BoardSim sim({"--silent-after", "0"});
    ControlBoard link;
    link.setTimeout(150);
    QSignalSpy log(&link, &ControlBoard::signal_log);
    QSignalSpy connected(&link, &ControlBoard::signal_connected);
    QVERIFY(!link.connectBoard(sim.path()));
    QVERIFY(!link.isConnected());
    QCOMPARE(connected.count(), 0);
    QVERIFY(hasLog(log, -1000, "Board not responding on " + sim.path()));
}

void TestControlBoard::resetSendsSixCan()
{
    BoardSim sim;
    ControlBoard link;
    QVERIFY(link.connectBoard(sim.path()));
    QVERIFY(link.set("DIO25", "1"));
    link.resetBoard();
    QByteArray value;
    QTRY_VERIFY(sim.received(3, 100).contains("RESET"));
    QVERIFY(link.get("DIO25", &value));
    QCOMPARE(value, QByteArray("0"));
}

void TestControlBoard::streamGoesToCaptureUntilThreeNak()
{
    PtyBoard board;
    ControlBoard link;
    link.setKeepAliveInterval(0);
    QVERIFY(link.connectBoard(board.path()));
    QCOMPARE(link.firmwareVersion(), QString("pty"));
    QSignalSpy stream(&link, &ControlBoard::signal_stream);
    QSignalSpy capture(&link, &ControlBoard::signal_captureData);
    QVERIFY(!link.startStream("")); // nothing to send
    QVERIFY(link.startStream("set STREAM=1"));
    QCOMPARE(stream.count(), 1);
    QCOMPARE(stream.at(0).at(0).toBool(), true);
    QVERIFY(!link.send("get VER"));

    const QByteArray data("\x00\x01ok\r\n\x15\x7f", 8);
    board.push(data);
    board.push("\x15\x15\x15");
    QTRY_COMPARE(stream.count(), 2);
    QCOMPARE(stream.at(1).at(0).toBool(), false);
    QByteArray captured;
    for (const QList<QVariant>& chunk : capture)
        captured += chunk.at(0).toByteArray();
    // The board's answer to the stream command may come first: it is part of the stream.
    if (captured.startsWith("ok\r\n"))
        captured.remove(0, 4);
    QCOMPARE(captured, data + "\x15\x15\x15");
    QByteArray answer;
    QVERIFY(link.send("get X", &answer));
    QCOMPARE(answer, QByteArray("ok"));
}

void TestControlBoard::scriptBoardAnswersLikeTheSimulatedBoard()
{
    const QString python = QStandardPaths::findExecutable("python3");
    if (python.isEmpty())
        QSKIP("python3 not found");
    QTemporaryDir dir;
    qputenv("RMX4218_STATE", dir.filePath("state.json").toLocal8Bit());
    ControlBoard link;
    link.setTimeout(5000);
    link.setScript(python, QStringLiteral(RMX_TOOLS_DIR "/RMX4218.py"));
    QVERIFY(link.connectBoard("script"));
    QCOMPARE(link.firmwareVersion(), QString(SimulatedBoard::Version));
    QByteArray answer;
    QVERIFY(link.send("set DIO25=1 PWM0DUTY=40", &answer));
    QCOMPARE(answer, QByteArray("DIO25=1 PWM0DUTY=40"));
    QVERIFY(link.get("DIO25", &answer));
    QCOMPARE(answer, QByteArray("1"));
    // A frame and its queued answer survive between script runs.
    QVERIFY(link.set("SPI0CS0DATA", "020680"));
    QVERIFY(link.get("SPI0CS0DATA", &answer));
    QCOMPARE(answer, QByteArray("1000")); // SR0 with NM set (EN high)
    QVERIFY(!link.send("get NOPE", &answer));
    QCOMPARE(answer, QByteArray("err"));
    // The line is one argument, never shell text.
    QVERIFY(!link.send("get VER; touch " + dir.filePath("pwned").toLocal8Bit()));
    QVERIFY(!QFile::exists(dir.filePath("pwned")));

    link.setScript(python, dir.filePath("missing.py"));
    QVERIFY(!link.connectBoard("script"));
    qunsetenv("RMX4218_STATE");
}

QTEST_GUILESS_MAIN(TestControlBoard)
#include "tst_controlboard.moc"
