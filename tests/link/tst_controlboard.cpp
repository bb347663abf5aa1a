#include "ControlBoard.h"
#include "SimulatedBoard.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace {

// tools/boardsim in a child process; it prints the path of its port first.
struct BoardSim : QProcess
{
    explicit BoardSim(const QStringList& args = {})
    {
        setProcessChannelMode(QProcess::ForwardedErrorChannel);
        start(QStringLiteral(RMX_BUILD_DIR "/tools/boardsim"), args);
        while (!canReadLine() && waitForReadyRead(5000)) {
        }
        path = QString::fromLocal8Bit(readLine()).trimmed();
    }
    ~BoardSim() override
    {
        kill();
        waitForFinished(3000);
    }
    QString path;
};

// Answers the next line that arrives at a pseudo-terminal's master side.
std::thread answerNextLine(int master, const QByteArray& answer)
{
    return std::thread([=] {
        pollfd pfd{master, POLLIN, 0};
        char c = 0;
        while (c != '\n' && ::poll(&pfd, 1, 5000) > 0 && ::read(master, &c, 1) == 1) {
        }
        [[maybe_unused]] ssize_t n = ::write(master, answer.data(), answer.size());
    });
}

bool hasLog(const QSignalSpy& spy, int type, const QString& part)
{
    return std::any_of(spy.begin(), spy.end(), [&](const QList<QVariant>& entry) {
        return entry.at(0).toInt() == type && entry.at(1).toString().contains(part);
    });
}

} // namespace

class TestControlBoard : public QObject
{
    Q_OBJECT
private slots:
    // The same table through the simulated board in process and through the serial code.
    void transactions_data()
    {
        QTest::addColumn<bool>("serial");
        QTest::addColumn<QByteArray>("lines");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QByteArray>("answer"); // the last one
        QTest::addColumn<int>("answers");
        const QByteArray ver = QByteArray("VER=") + SimulatedBoard::Version;
        const QByteArray frames = "set SPI0CS0DATA=020680 SPI0CS0DATA=02D000\n";
        for (const bool serial : {false, true}) {
            auto row = [serial](const char* name, const QByteArray& lines, bool ok,
                                const QByteArray& answer, int answers) {
                QTest::addRow("%s, %s", serial ? "boardsim" : "mockup", name)
                    << serial << lines << ok << answer << answers;
            };
            row("set", "set DIO25=1", true, "DIO25=1", 1);
            row("multi-line", frames + "set DIO25=1\nget DIO25", true, "DIO25=1", 3);
            row("empty lines not counted", "\n\nset WDen=1\r\n\n", true, "WDen=1", 1);
            row("err", "set DIO25=7", false, "err", 1);
            row("err in first line", "get NOPE\nget VER", false, ver, 2);
            row("frames queued", frames + "get SPI0CS0DATA\nget SPI0CS0DATA", true,
                "SPI0CS0DATA=A000", 3);
        }
    }
    void transactions()
    {
        QFETCH(bool, serial);
        QFETCH(QByteArray, lines);
        QFETCH(bool, ok);
        QFETCH(QByteArray, answer);
        QFETCH(int, answers);
        std::unique_ptr<BoardSim> sim(serial ? new BoardSim : nullptr);
        ControlBoard link;
        QVERIFY(link.connectBoard(serial ? sim->path : "mockup"));
        QCOMPARE(link.firmwareVersion(), QString(SimulatedBoard::Version));
        link.setCommLogging(true);
        QSignalSpy rx(&link, &ControlBoard::signal_rx);
        QSignalSpy log(&link, &ControlBoard::signal_log);
        QSignalSpy disconnected(&link, &ControlBoard::signal_disconnected);
        QByteArray got;
        QCOMPARE(link.send(lines, &got), ok);
        QCOMPARE(got, answer);
        QCOMPARE(rx.count(), answers);
        QVERIFY(hasLog(log, 109, lines.trimmed().split('\n').first().trimmed()));
        QVERIFY(hasLog(log, 108, answer));
        QCOMPARE(hasLog(log, -1, ""), !ok);

        // Many transactions in a row: each answer belongs to its own line.
        for (int i = 0; i < 100; ++i) {
            QVERIFY(link.set("PWM1DUTY", QString::number(i)) && link.get("PWM1DUTY", &got));
            QCOMPARE(got, QByteArray::number(i));
        }
        // get picks the value of its name; a failed one leaves the buffer alone.
        QVERIFY(link.get("AIN5", &got));
        QCOMPARE(got, QByteArray("512"));
        QVERIFY(!link.get("NOPE", &got));
        link.disconnectBoard();
        QCOMPARE(disconnected.count(), 1);
        QVERIFY(!link.send("get VER", &got)); // nothing is sent
        QCOMPARE(got, QByteArray("512"));
    }

    // A board that stops answering or answers without line end makes the transaction time
    // out; bad bytes from the board are dropped and logged, the answers still get through.
    void misbehavingBoard_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("logged");
        QTest::newRow("falls silent")
            << QStringList{"--silent-after", "1"} << false << "No answer within 500 ms";
        QTest::newRow("no line end")
            << QStringList{"--no-eol-after", "1"} << false << "No answer within 500 ms";
        QTest::newRow("garbage") << QStringList{"--garbage"} << true << "invalid bytes";
        QTest::newRow("over-long line")
            << QStringList{"--overlong-after", "1"} << true << "longer than 4999 bytes";
    }
    void misbehavingBoard()
    {
        QFETCH(QStringList, args);
        QFETCH(bool, ok);
        QFETCH(QString, logged);
        BoardSim sim(args);
        ControlBoard link;
        link.setKeepAliveInterval(0);
        QSignalSpy log(&link, &ControlBoard::signal_log);
        QVERIFY(link.connectBoard(sim.path));
        link.setCommLogging(true);
        link.setTimeout(500);
        for (const char* name : {"DIO25", "WDen"}) {
            QByteArray answer = "none";
            QElapsedTimer timer;
            timer.start();
            QCOMPARE(link.send(QByteArray("get ") + name, &answer), ok);
            QVERIFY(ok || (timer.elapsed() >= 495 && timer.elapsed() < 1500));
            QCOMPARE(answer, ok ? name + QByteArray("=0") : QByteArray("none"));
        }
        QTRY_VERIFY(hasLog(log, ok ? -1000 : -1, logged));
        QVERIFY(link.isConnected());
    }

    // Answers that come after their command gave up (time-out 0 or too short), or a CR
    // inside a command, must not shift later answers onto the wrong commands.
    void lateAnswersStayWithTheirCommands()
    {
        BoardSim sim({"--baud", "1200"}); // about 100 ms for an answer
        ControlBoard link;
        QVERIFY(link.connectBoard(sim.path));
        QElapsedTimer timer;
        timer.start();
        QVERIFY(link.send("set DIO21=1", nullptr, 0));
        QVERIFY(timer.elapsed() < 100);
        QByteArray answer;
        QVERIFY(link.send("get WDen", &answer));
        QCOMPARE(answer, QByteArray("WDen=0"));
        QVERIFY(!link.send("set DIO22=1", &answer, 20)); // its answer takes ~170 ms
        QVERIFY(link.get("DIO21", &answer));
        QCOMPARE(answer, QByteArray("1"));
        QVERIFY(link.send("set DIO25=1\rget DIO22", &answer));
        QCOMPARE(answer, QByteArray("DIO22=1"));
        QVERIFY(link.get("DIO25", &answer));
        QCOMPARE(answer, QByteArray("1"));
        // The reset (six CAN) goes out ahead of the next line.
        link.resetBoard();
        QVERIFY(link.get("DIO25", &answer));
        QCOMPARE(answer, QByteArray("0"));
    }

    void failedConnectIsReported_data()
    {
        QTest::addColumn<QStringList>("args"); // none: no board at all
        QTest::addColumn<QString>("logged");
        QTest::newRow("no such port") << QStringList() << "Cannot open port %1";
        QTest::newRow("board silent")
            << QStringList{"--silent-after", "0"} << "Board not responding on %1";
    }
    void failedConnectIsReported()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, logged);
        std::unique_ptr<BoardSim> sim(args.isEmpty() ? nullptr : new BoardSim(args));
        const QString port = sim ? sim->path : "/dev/nonexistent-rmx-port";
        ControlBoard link;
        link.setTimeout(150);
        QSignalSpy log(&link, &ControlBoard::signal_log);
        QSignalSpy connected(&link, &ControlBoard::signal_connected);
        QVERIFY(!link.connectBoard(port));
        QCOMPARE(connected.count(), 0);
        QVERIFY(hasLog(log, -1000, logged.arg(port)));
    }

    void linkLoss_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("keepAliveMs");
        QTest::addColumn<bool>("lost");
        QTest::newRow("keep-alive answered") << QStringList() << 100 << false;
        QTest::newRow("keep-alive unanswered") << QStringList{"--no-ack"} << 100 << true;
        QTest::newRow("port vanishes") << QStringList{"--exit-after", "1"} << 0 << true;
    }
    void linkLoss()
    {
        QFETCH(QStringList, args);
        QFETCH(int, keepAliveMs);
        QFETCH(bool, lost);
        BoardSim sim(args);
        ControlBoard link;
        link.setKeepAliveInterval(keepAliveMs);
        QSignalSpy log(&link, &ControlBoard::signal_log);
        QSignalSpy disconnected(&link, &ControlBoard::signal_disconnected);
        QVERIFY(link.connectBoard(sim.path));
        QElapsedTimer timer;
        timer.start();
        // A vanishing port ends the transaction under way at once, not at its time-out.
        QCOMPARE(link.send("get VER", nullptr, 3000), keepAliveMs > 0);
        QVERIFY2(timer.elapsed() < 1500, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(!disconnected.isEmpty() || disconnected.wait(1200), lost);
        QCOMPARE(link.isConnected(), !lost);
        QCOMPARE(link.send("get VER"), !lost);
        QCOMPARE(hasLog(log, -1000, "Disconnect due to errors"), lost);
        link.disconnectBoard(); // no second signal when already lost
        QCOMPARE(disconnected.count(), 1);
        // The same link works with a new board.
        BoardSim other;
        QVERIFY(link.connectBoard(other.path));
        QVERIFY(link.send("get VER"));
    }

    // At a slow wire a long line is still going out long after it was handed to the
    // device; that time is no silence of the board and must not start the keep-alive.
    void keepAliveCountsFromTheEndOfTransmission()
    {
        BoardSim sim({"--baud", "600"});
        ControlBoard link;
        link.setBaudRate(600);
        link.setKeepAliveInterval(600);
        link.setTimeout(2000);
        QSignalSpy disconnected(&link, &ControlBoard::signal_disconnected);
        QVERIFY(link.connectBoard(sim.path));
        // About 2.6 s on the wire: three keep-alive intervals and more.
        const QByteArray line = "get VER" + QByteArray(150, ' ');
        QByteArray answer;
        QVERIFY(link.send(line, &answer, 6000));
        QCOMPARE(answer, QByteArray("VER=") + SimulatedBoard::Version);
        QVERIFY(link.isConnected());
        QCOMPARE(disconnected.count(), 0);
        // Silence after the transmission still counts: the board's ACKs keep the link.
        QTest::qWait(1500);
        QVERIFY(link.isConnected() && link.send("get VER"));
    }

    void streamGoesToCaptureUntilThreeNak()
    {
        const int master = posix_openpt(O_RDWR | O_NOCTTY);
        QVERIFY(master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0);
        ControlBoard link;
        link.setKeepAliveInterval(0);
        std::thread board = answerNextLine(master, "VER=pty\r\n");
        const bool connected = link.connectBoard(QString::fromLocal8Bit(ptsname(master)));
        board.join();
        QVERIFY(connected);
        QSignalSpy stream(&link, &ControlBoard::signal_stream);
        QSignalSpy capture(&link, &ControlBoard::signal_captureData);
        board = answerNextLine(master, "ok\r\n"); // the stream command's answer
        const bool started = link.startStream("set STREAM=1");
        board.join();
        QVERIFY(started);
        QVERIFY(!link.send("get VER"));

        const QByteArray data("\x00\x01ok\r\n\x15\x7f\x15\x15\x15", 11);
        QCOMPARE(::write(master, data.data(), data.size()), data.size());
        QTRY_COMPARE(stream.count(), 2);
        QCOMPARE(stream.at(1).at(0).toBool(), false);
        QByteArray captured;
        for (const QList<QVariant>& chunk : capture)
            captured += chunk.at(0).toByteArray();
        // The answer to the stream command may come first: it is part of the stream.
        QCOMPARE(captured.startsWith("ok\r\n") ? captured.mid(4) : captured, data);
        board = answerNextLine(master, "X=1\r\n");
        QByteArray answer;
        const bool answered = link.send("get X", &answer);
        board.join();
        QVERIFY(answered);
        QCOMPARE(answer, QByteArray("X=1"));
        ::close(master);
    }

    void scriptBoardAnswersLikeTheSimulatedBoard()
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
};

QTEST_GUILESS_MAIN(TestControlBoard)
#include "tst_controlboard.moc"
