#include "ControlBoard.h"
#include "Joined.h"
#include "SimulatedBoard.h"

#include <QElapsedTimer>
#include <QFile>
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

// Makes a call of the link while a thread answers the next line that arrives at a
// pseudo-terminal's master side; `late`, an answer the board still owed, goes out
// 100 ms after the call began, before that line is read.
template <typename Call>
auto answered(int master, const QByteArray& answer, Call call, const QByteArray& late = {})
{
    std::thread board([=] {
        if (!late.isEmpty()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            [[maybe_unused]] ssize_t n = ::write(master, late.data(), late.size());
        }
        pollfd pfd{master, POLLIN, 0};
        char c = 0;
        while (c != '\n' && ::poll(&pfd, 1, 5000) > 0 && ::read(master, &c, 1) == 1) {
        }
        [[maybe_unused]] ssize_t n = ::write(master, answer.data(), answer.size());
    });
    const auto result = call();
    board.join();
    return result;
}

// Connects the link to a pseudo-terminal whose master side the test reads and writes in
// the board's place; that side, or -1.
int connectToPty(ControlBoard& link)
{
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
        return -1;
    const QString port = QString::fromLocal8Bit(ptsname(master));
    if (!answered(master, "VER=pty\r\n", [&] { return link.connectBoard(port); })) {
        ::close(master);
        return -1;
    }
    return master;
}

// What one line gets: its last answer, after "!" when the command failed.
QByteArray ask(ControlBoard& link, const QByteArray& line, int timeoutMs = -1)
{
    QByteArray answer;
    return link.send(line, &answer, timeoutMs) ? answer : "!" + answer;
}

// What reached the board's side of a pseudo-terminal and was not read yet, waiting
// up to `waitMs` for more each time.
QByteArray unread(int master, int waitMs = 50)
{
    QByteArray bytes;
    pollfd pfd{master, POLLIN, 0};
    char buffer[256];
    ssize_t n = 0;
    while (::poll(&pfd, 1, waitMs) > 0 && (pfd.revents & POLLIN) &&
           (n = ::read(master, buffer, sizeof buffer)) > 0)
        bytes.append(buffer, n);
    return bytes;
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
    void init()
    {
        ControlBoard::allowTransactions(); // a failed test must not hold up the next
    }

    // The same table through the simulated board in process and through the serial code.
    void transactions_data()
    {
        QTest::addColumn<bool>("serial");
        QTest::addColumn<QByteArray>("lines");
        QTest::addColumn<QByteArray>("answer"); // the last one, after "!" when the command fails
        QTest::addColumn<int>("answers");
        const QByteArray frames = "set SPI0CS0DATA=020680 SPI0CS0DATA=02D000\n";
        for (const bool serial : {false, true}) {
            auto row = [serial](const char* name, const QByteArray& lines, const QByteArray& answer,
                                int answers) {
                QTest::addRow("%s, %s", serial ? "boardsim" : "mockup", name)
                    << serial << lines << answer << answers;
            };
            row("set", "set DIO25=1", "DIO25=1", 1);
            row("multi-line", frames + "set DIO25=1\nget DIO25", "DIO25=1", 3);
            row("empty lines not counted", "\n\nset WDen=1\r\n\n", "WDen=1", 1);
            row("err", "set DIO25=7", "!err", 1);
            row("err first", "get NOPE\nget VER", "!VER=" + QByteArray(SimulatedBoard::Version), 2);
            row("queued", frames + "get SPI0CS0DATA\nget SPI0CS0DATA", "SPI0CS0DATA=A000", 3);
        }
    }
    void transactions()
    {
        QFETCH(bool, serial);
        QFETCH(QByteArray, lines);
        QFETCH(QByteArray, answer);
        QFETCH(int, answers);
        const bool ok = !answer.startsWith('!');
        std::unique_ptr<BoardSim> sim(serial ? new BoardSim : nullptr);
        ControlBoard link;
        QVERIFY(link.connectBoard(serial ? sim->path : "mockup"));
        QCOMPARE(link.firmwareVersion(), QString(SimulatedBoard::Version));
        link.setCommLogging(true);
        QSignalSpy rx(&link, &ControlBoard::signal_rx);
        QSignalSpy log(&link, &ControlBoard::signal_log);
        QSignalSpy disconnected(&link, &ControlBoard::signal_disconnected);
        QCOMPARE(ask(link, lines), answer);
        // Logged: the first line sent, the last answer, and an error entry for a failure;
        // every line counted as sent, after "get VER" of the connection.
        QCOMPARE(
            joined({rx.count(), hasLog(log, 109, lines.trimmed().split('\n').first().trimmed()),
                    hasLog(log, 108, answer.mid(ok ? 0 : 1)), hasLog(log, -1, ""),
                    link.linesSent()}),
            joined({answers, true, true, !ok, 1 + answers}));

        // Many transactions in a row: each answer belongs to its own line.
        QByteArray got;
        for (int i = 0; i < 100; ++i) {
            QVERIFY(link.set("PWM1DUTY", QString::number(i)) && link.get("PWM1DUTY", &got));
            QCOMPARE(got, QByteArray::number(i));
        }
        // get picks the value of its name; a failed one leaves the buffer alone.
        QVERIFY(link.get("AIN5", &got) && !link.get("NOPE", &got));
        link.disconnectBoard();
        QVERIFY(!link.send("get VER", &got)); // nothing is sent
        QCOMPARE(joined({got, disconnected.count()}), "512 1");
    }

    // A board that stops answering or answers without line end makes the transaction time
    // out; bad bytes from the board are dropped and logged, the answers still get through.
    void misbehavingBoard_data()
    {
        QTest::addColumn<QString>("args");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("logged");
        QTest::newRow("falls silent") << "--silent-after 1" << false << "No answer within 500 ms";
        QTest::newRow("no line end") << "--no-eol-after 1" << false << "No answer within 500 ms";
        QTest::newRow("garbage") << "--garbage" << true << "invalid bytes";
        QTest::newRow("over-long line") << "--overlong-after 1" << true << "longer than 4999 bytes";
    }
    void misbehavingBoard()
    {
        QFETCH(QString, args);
        QFETCH(bool, ok);
        QFETCH(QString, logged);
        BoardSim sim(args.split(' '));
        ControlBoard link;
        link.setKeepAliveInterval(0);
        QSignalSpy log(&link, &ControlBoard::signal_log);
        QVERIFY(link.connectBoard(sim.path));
        link.setCommLogging(true);
        link.setTimeout(500);
        for (const char* name : {"DIO25", "WDen"}) {
            QElapsedTimer timer;
            timer.start();
            QCOMPARE(ask(link, QByteArray("get ") + name), ok ? name + QByteArray("=0") : "!");
            QVERIFY(ok || (timer.elapsed() >= 495 && timer.elapsed() < 1500));
        }
        QTRY_VERIFY(hasLog(log, ok ? -1000 : -1, logged) && link.isConnected());
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
        QVERIFY(link.send("set DIO21=1", nullptr, 0) && timer.elapsed() < 100);
        QCOMPARE(ask(link, "get WDen"), "WDen=0");
        QCOMPARE(ask(link, "set DIO22=1", 20), "!"); // its answer takes ~170 ms
        QCOMPARE(ask(link, "get DIO21"), "DIO21=1");
        QCOMPARE(ask(link, "set DIO25=1\rget DIO22"), "DIO22=1");
        QCOMPARE(ask(link, "get DIO25"), "DIO25=1");
        // The reset (six CAN) goes out ahead of the next line.
        link.resetBoard();
        QCOMPARE(ask(link, "get DIO25"), "DIO25=0");
    }

    // A quit stops the traffic from any thread, a signal handler among them: the wait
    // under way ends whatever its time-out, nothing goes out until transactions are
    // allowed again, and the answer the board still owed is not taken for a later one.
    void interruptEndsTheWaitAndHoldsTheTraffic()
    {
        BoardSim sim({"--baud", "1200"}); // about 200 ms for a line and its answer
        ControlBoard link;
        QVERIFY(link.connectBoard(sim.path));
        QElapsedTimer timer;
        timer.start();
        std::thread quit([] {
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            ControlBoard::interruptTransactions();
        });
        const QByteArray interrupted = ask(link, "set DIO21=1", 600000);
        quit.join();
        const qint64 waited = timer.elapsed();
        const QByteArray refused = ask(link, "set DIO22=1");
        ControlBoard::allowTransactions();
        QCOMPARE(joined({interrupted, refused, ask(link, "get DIO21 DIO22")}),
                 joined({"!", "!", "DIO21=1 DIO22=0"}));
        QVERIFY2(waited < 1000, qPrintable(QString::number(waited)));
    }

    // A quit that comes while the answer a line still owes is being collected: the next
    // line is not sent, and the owed answer stays owed, so that the late answer is not
    // taken for the answer of the first line sent once transactions are allowed again.
    void interruptedCollectionKeepsTheOwedAnswer()
    {
        ControlBoard link;
        const int master = connectToPty(link);
        QVERIFY(master >= 0);
        QCOMPARE(ask(link, "get A", 50), "!"); // its answer comes late
        std::thread quit([] {
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            ControlBoard::interruptTransactions();
        });
        QCOMPARE(ask(link, "get B"), "!");
        quit.join();
        QCOMPARE(unread(master), "get A\n");
        ControlBoard::allowTransactions();
        // The board answers in order: the late answer first, then the next line's.
        const QByteArray c = answered(
            master, "C=3\r\n", [&] { return ask(link, "get C"); }, "A=late\r\n");
        QCOMPARE(c, "C=3");
        ::close(master);
    }

    // The quit's last sequence: a further interrupt changes nothing, and it gets a time
    // of its own whatever the lines' time-outs; a line past it is not sent, and both are
    // logged as errors.
    void finalSequenceKeepsToItsDeadline()
    {
        ControlBoard link;
        const int master = connectToPty(link);
        QVERIFY(master >= 0);
        QSignalSpy log(&link, &ControlBoard::signal_log);
        ControlBoard::interruptTransactions();
        ControlBoard::allowFinalTransactions();
        ControlBoard::interruptTransactions(); // a second signal
        link.setQuitDeadline(300);
        const QByteArray x =
            answered(master, "X=1\r\n", [&] { return ask(link, "get X", 600000); });
        QElapsedTimer timer;
        timer.start();
        const QByteArray y = ask(link, "get Y", 600000); // never answered
        const qint64 waited = timer.elapsed();
        const QByteArray z = ask(link, "get Z");
        ControlBoard::allowTransactions();
        link.setQuitDeadline(-1);
        QCOMPARE(joined({x, y, z, unread(master)}), joined({"X=1", "!", "!", "get Y\n"}));
        QVERIFY2(waited > 150 && waited < 1000, qPrintable(QString::number(waited)));
        QVERIFY(hasLog(log, -1000, "out of time, no answer to: get Y") &&
                hasLog(log, -1000, "out of time, not sent: get Z"));
        QCOMPARE(answered(master, "W=2\r\n", [&] { return ask(link, "get W"); }), "W=2");
        ::close(master);
        // Nothing is owed on the simulated board, and still nothing goes past the time.
        ControlBoard mockup;
        QVERIFY(mockup.connectBoard("mockup"));
        mockup.setQuitDeadline(0);
        QCOMPARE(ask(mockup, "get VER"), "!");
    }

    // The simulator's commands: a wrong one is named as such, never taken for done; once
    // its input ends it waits for lines without spinning.
    void simulatorCommandsAndTheirEnd()
    {
        BoardSim sim;
        sim.write("delay soon\ndelay 5 ms\ndelay 0\n");
        QVERIFY(QTest::qWaitFor([&] { return sim.bytesAvailable() > 0 && sim.canReadLine(); }));
        QTest::qWait(100);
        QCOMPARE(sim.readAll(), "UNKNOWN delay soon\nUNKNOWN delay 5 ms\nOK delay 0\n");
        sim.closeWriteChannel();
        QTest::qWait(500);
        QFile stat(QStringLiteral("/proc/%1/stat").arg(sim.processId()));
        QVERIFY(stat.open(QIODevice::ReadOnly));
        // utime and stime, in clock ticks (100 a second): a spinning loop would use ~50.
        const QList<QByteArray> fields = stat.readAll().split(')').last().split(' ');
        const long ticks = fields.value(12).toLong() + fields.value(13).toLong();
        QVERIFY2(ticks < 20, qPrintable(QString::number(ticks)));
    }

    void failedConnectIsReported()
    {
        BoardSim silent({"--silent-after", "0"});
        const QString nowhere = QStringLiteral("/dev/nonexistent-rmx-port");
        ControlBoard link;
        link.setTimeout(150);
        QSignalSpy log(&link, &ControlBoard::signal_log);
        QSignalSpy connected(&link, &ControlBoard::signal_connected);
        QVERIFY(!link.connectBoard(nowhere) && !link.connectBoard(silent.path));
        QVERIFY(connected.isEmpty() && hasLog(log, -1000, "Cannot open port " + nowhere) &&
                hasLog(log, -1000, "Board not responding on " + silent.path));
    }

    // Why a connect failed, for the user's message: the port's own error, or the board's
    // silence with what went unanswered; nothing once a connect succeeds.
    void failedConnectSaysWhy()
    {
        BoardSim silent({"--silent-after", "0"});
        ControlBoard link;
        link.setTimeout(150);
        QVERIFY(!link.connectBoard(QStringLiteral("/dev/nonexistent-rmx-port")));
        QCOMPARE(link.connectError(), QStringLiteral("No such file or directory"));
        QVERIFY(!link.connectBoard(silent.path));
        QCOMPARE(link.connectError(),
                 QStringLiteral("Board not responding (No answer within 150 ms to: get VER)"));
        // Something that answers, but not with a version: the silence before is no reason
        // any more.
        const int master = posix_openpt(O_RDWR | O_NOCTTY);
        QVERIFY(master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0);
        const QString other = QString::fromLocal8Bit(ptsname(master));
        QVERIFY(!answered(master, "hello\r\n", [&] { return link.connectBoard(other); }));
        ::close(master);
        QCOMPARE(link.connectError(), QStringLiteral("Board not responding"));
        QVERIFY(link.connectBoard(QStringLiteral("mockup")));
        QCOMPARE(link.connectError(), QString());
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
        // The ACK that answers a keep-alive is no invalid byte.
        QCOMPARE(joined({link.isConnected(), link.send("get VER"),
                         hasLog(log, -1000, "Disconnect due to errors"),
                         hasLog(log, -1000, "invalid bytes")}),
                 joined({!lost, !lost, lost, false}));
        link.disconnectBoard(); // no second signal when already lost
        QCOMPARE(disconnected.count(), 1);
        // The same link works with a new board.
        BoardSim other;
        QVERIFY(link.connectBoard(other.path) && link.send("get VER"));
    }

    // Three unanswered keep-alive tries, no more, and the link is lost.
    void keepAliveGivesUpAfterThreeTries()
    {
        ControlBoard link;
        link.setKeepAliveInterval(50);
        QSignalSpy disconnected(&link, &ControlBoard::signal_disconnected);
        const int master = connectToPty(link);
        QVERIFY(master >= 0);
        QByteArray sent;
        const auto readSent = [&] {
            sent += unread(master, 0);
            return !disconnected.isEmpty();
        };
        QVERIFY(QTest::qWaitFor(readSent, 3000));
        readSent();
        QCOMPARE(sent, QByteArray(3, 0x05));
        ::close(master);
    }

    // A line of the longest length the receive buffer holds is an answer; one byte more and
    // it is thrown away up to its line end, and logged.
    void answerLineLimit()
    {
        ControlBoard link;
        link.setKeepAliveInterval(0);
        QSignalSpy log(&link, &ControlBoard::signal_log);
        const int master = connectToPty(link);
        QVERIFY(master >= 0);
        const QByteArray longest = "X=" + QByteArray(4997, 'x');
        QCOMPARE(answered(master, longest + "\r\n", [&] { return ask(link, "get X"); }), longest);
        QCOMPARE(answered(master, longest + "x\r\nX=1\r\n", [&] { return ask(link, "get X"); }),
                 "X=1");
        QTRY_VERIFY(hasLog(log, -1000, "Received line longer than 4999 bytes discarded"));
        QVERIFY(!hasLog(log, -1000, "Receive buffer full"));
        ::close(master);
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
        QCOMPARE(ask(link, line, 6000), QByteArray("VER=") + SimulatedBoard::Version);
        QVERIFY(disconnected.isEmpty());
        // Silence after the transmission still counts: the board's ACKs keep the link.
        QTest::qWait(1500);
        QVERIFY(link.isConnected() && link.send("get VER"));
    }

    void streamGoesToCaptureUntilThreeNak()
    {
        ControlBoard link;
        link.setKeepAliveInterval(0);
        const int master = connectToPty(link);
        QVERIFY(master >= 0);
        QSignalSpy stream(&link, &ControlBoard::signal_stream);
        QSignalSpy capture(&link, &ControlBoard::signal_captureData);
        // "ok": the stream command's answer.
        QVERIFY(answered(master, "ok\r\n", [&] { return link.startStream("set STREAM=1"); }));
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
        QCOMPARE(answered(master, "X=1\r\n", [&] { return ask(link, "get X"); }), "X=1");

        // Two NAK in a row are data; the third, in a later read, ends the stream.
        const auto capturedSince = [&capture, from = capture.count()] {
            QByteArray bytes;
            for (qsizetype i = from; i < capture.count(); ++i)
                bytes += capture.at(i).at(0).toByteArray();
            return bytes;
        };
        QVERIFY(answered(master, "ok\r\n", [&] { return link.startStream("set STREAM=1"); }));
        QCOMPARE(::write(master, "\x15\x15", 2), 2);
        QTRY_VERIFY(capturedSince().endsWith("\x15\x15"));
        QTest::qWait(20);
        QVERIFY(link.isStreaming() && stream.count() == 3);
        QCOMPARE(::write(master, "\x15", 1), 1);
        QTRY_COMPARE(stream.count(), 4);
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
        QCOMPARE(ask(link, "set DIO25=1 PWM0DUTY=40"), "DIO25=1 PWM0DUTY=40");
        // A frame and its queued answer survive between script runs: SR0 with NM set (EN high).
        QVERIFY(link.set("SPI0CS0DATA", "020680"));
        QCOMPARE(ask(link, "get SPI0CS0DATA"), "SPI0CS0DATA=1000");
        QCOMPARE(ask(link, "get NOPE"), "!err");
        // The line is one argument, never shell text.
        QVERIFY(!link.send("get VER; touch " + dir.filePath("pwned").toLocal8Bit()) &&
                !QFile::exists(dir.filePath("pwned")));
        link.setScript(python, dir.filePath("missing.py"));
        QVERIFY(!link.connectBoard("script"));
        qunsetenv("RMX4218_STATE");
    }

    void quitEndsTheWaitForAHangingScript_data()
    {
        QTest::addColumn<bool>("signal"); // else: the quit's own time runs out
        QTest::newRow("interrupted") << true;
        QTest::newRow("out of time") << false;
    }

    // A script that never answers holds a quit up neither for its time-out nor past
    // the quit's own time.
    void quitEndsTheWaitForAHangingScript()
    {
        QFETCH(bool, signal);
        const QString python = QStandardPaths::findExecutable("python3");
        if (python.isEmpty())
            QSKIP("python3 not found");
        QTemporaryDir dir;
        QFile script(dir.filePath("hang.py"));
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write("import sys, time\n"
                     "if sys.argv[1] == 'get VER':\n    print('VER=hang')\n"
                     "else:\n    time.sleep(60)\n");
        script.close();
        ControlBoard link;
        link.setScript(python, script.fileName());
        QVERIFY(link.connectBoard("script"));
        if (!signal)
            link.setQuitDeadline(300);
        std::thread quit([signal] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            if (signal)
                ControlBoard::interruptTransactions();
        });
        QElapsedTimer timer;
        timer.start();
        const QByteArray answer = ask(link, "get X", 30000);
        const qint64 waited = timer.elapsed();
        quit.join();
        ControlBoard::allowTransactions();
        QCOMPARE(answer, "!");
        QVERIFY2(waited < 3000, qPrintable(QString::number(waited)));
    }
};

QTEST_GUILESS_MAIN(TestControlBoard)
#include "tst_controlboard.moc"
