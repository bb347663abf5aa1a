// Quitting and stopping while a command waits, and a second program started on a name
// that is taken: the real program on the board simulated on a pseudo-terminal.

#include "E2eProcesses.h"

#include <QElapsedTimer>

#include <signal.h>

class TestE2eQuit : public QObject
{
    Q_OBJECT
    // What an idle shutdown sends: remote mode and the chip's default configuration.
    static constexpr int ShutdownLines = 14;

    // After a quit asked for at `t`: the program ends normally within 3 s, and from the
    // board's line `from` on only the shutdown sequence reaches the board, with no more
    // than `most` lines. Empty when so.
    static QString whatFollowedTheQuit(Session& s, int from, const QElapsedTimer& t,
                                       int most = ShutdownLines)
    {
        const bool ended = s.program->waitForFinished(3000);
        const QStringList after = s.board.lines().mid(from);
        qInfo("%lld lines after the quit, ended %lld ms after it", qint64(after.size()),
              t.elapsed());
        if (!ended)
            return QStringLiteral("still running");
        if (!motorLines(after).isEmpty() || after.size() > most)
            return after.join('|');
        return s.endedNormally() ? QString() : QStringLiteral("no normal end");
    }
    // The shutdown sequence began: remote mode, then the default configuration's frames.
    static bool shutdownReached(const QStringList& after)
    {
        return after.contains(QStringLiteral("set r219rem=1")) &&
               after.join('|').contains(QLatin1String("SPI0CS0DATA=025"));
    }
    // The session opened, then its board told to answer late ("delay 300").
    static bool startAnsweringLate(Session& s, const QByteArray& delay)
    {
        return s.start(true) && s.board.command(delay);
    }
    static bool signalProgram(Session& s, int signalNumber)
    {
        return ::kill(pid_t(s.program->processId()), signalNumber) == 0;
    }

private slots:
    void quitEndsARunningDemonstrationAtOnce_data()
    {
        QTest::addColumn<int>("signalNumber"); // 0: run shutdown
        QTest::addColumn<bool>("boardSilent");
        QTest::newRow("run shutdown") << 0 << false;
        QTest::newRow("SIGTERM") << int(SIGTERM) << false;
        QTest::newRow("SIGINT") << int(SIGINT) << false;
        QTest::newRow("run shutdown, board silent") << 0 << true;
        QTest::newRow("SIGTERM, board silent") << int(SIGTERM) << true;
    }

    // The demonstration leaves by its stop exit, no motor moves again, and the normal
    // shutdown follows: remote mode and the chip's default configuration sent, port
    // closed, socket removed.
    void quitEndsARunningDemonstrationAtOnce()
    {
        QFETCH(int, signalNumber);
        QFETCH(bool, boardSilent);
        Session s;
        QVERIFY(s.start(true));
        PipeClient demo;
        QVERIFY(demo.connectTo(s.program->pipePath));
        demo.send("run\tApplication.DemoON"); // motor 1 forward for 5 s first
        QTest::qWait(1500);
        const int before = int(s.board.lines().size());
        if (boardSilent)
            QVERIFY(::kill(pid_t(s.board.processId()), SIGSTOP) == 0);

        QElapsedTimer t;
        t.start();
        PipeClient quitter;
        if (signalNumber == 0)
            QVERIFY(quitter.connectTo(s.program->pipePath) &&
                    quitter.request("run\tshutdown") == "i1");
        else
            QVERIFY(::kill(pid_t(s.program->processId()), signalNumber) == 0);
        QVERIFY(s.program->waitForFinished(3000) && t.elapsed() < 3000);
        qInfo("%s: ended %lld ms after the request", QTest::currentDataTag(), t.elapsed());
        QVERIFY(s.endedNormally());
        if (boardSilent)
            return;
        QCOMPARE(demo.answer(1000), QByteArray("i1"));
        const QStringList after = s.board.lines().mid(before);
        QVERIFY2(motorLines(after).isEmpty() && shutdownReached(after),
                 qPrintable(after.join('|')));
    }

    // After the quit only the shutdown sequence reaches the board: the requests that
    // another client had queued are not served, and the program ends at once.
    void quitServesNoQueuedRequest()
    {
        Session s;
        QVERIFY(s.start(true));
        PipeClient driver;
        QVERIFY(driver.connectTo(s.program->pipePath));
        driver.send(QByteArray("run\tBoard.setForward1\n").repeated(99) + "run\tBoard.setForward1");
        QTest::qWait(500);
        PipeClient quitter;
        QVERIFY(quitter.connectTo(s.program->pipePath));
        driver.socket.waitForReadyRead(0);
        driver.socket.readAll(); // the answers before the quit
        QElapsedTimer t;
        t.start();
        QCOMPARE(quitter.request("run\tshutdown"), QByteArray("i1"));
        QCOMPARE(whatFollowedTheQuit(s, int(s.board.lines().size()), t), QString());
        // Only the command running at the quit answers (a typed answer: two bytes).
        driver.socket.waitForReadyRead(200);
        QVERIFY(driver.socket.readAll().size() <= 2);
    }

    void quitEndsWaitsForABoardThatStoppedAnswering_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::addColumn<bool>("longTransaction"); // else: a demonstration's next phase
        QTest::newRow("SIGTERM, next phase, board silent") << int(SIGTERM) << false;
        QTest::newRow("SIGTERM, 600 s time-out, board mute") << int(SIGTERM) << true;
        QTest::newRow("SIGINT, 600 s time-out, board mute") << int(SIGINT) << true;
    }

    // A signal ends the transaction under way whatever its time-out; the command that
    // sent it sends nothing more, and the shutdown sequence follows.
    void quitEndsWaitsForABoardThatStoppedAnswering()
    {
        QFETCH(int, signalNumber);
        QFETCH(bool, longTransaction);
        Session s;
        QVERIFY(s.start(true));
        PipeClient client;
        QVERIFY(client.connectTo(s.program->pipePath));
        const auto boardSignal = [&](int n) {
            return ::kill(pid_t(s.board.processId()), n) == 0;
        };
        if (longTransaction) {
            QCOMPARE(client.request("run\tset_timeout\ti600000"), QByteArray("i1"));
            QVERIFY(boardSignal(SIGUSR2)); // no line answered, ENQ still acknowledged
            client.send("run\tBoard.getVS");
            QTest::qWait(500);
            // The board went mute at that line, and the request still waits for its answer.
            QVERIFY(s.board.state() == QProcess::Running);
            QCOMPARE(s.board.linesSince("MUTE"), 0);
            QCOMPARE(client.socket.bytesAvailable(), 0);
        } else {
            QCOMPARE(client.request("set\tApplication.RunForw1\tf1"), QByteArray("ok\n"));
            client.send("run\tApplication.DemoON");
            QTest::qWait(500);             // inside the first phase's wait of 1 s
            QVERIFY(boardSignal(SIGUSR1)); // silent from the next phase's first line on
            const int before = int(s.board.lines().size());
            QVERIFY(QTest::qWaitFor([&] { return s.board.lines().size() > before; }, 3000));
            QTest::qWait(100);
            // The phase's first line went unanswered, and nothing followed it yet.
            QCOMPARE(s.board.linesSince("SILENT"), 0);
        }
        const int atSignal = int(s.board.lines().size());
        QElapsedTimer t;
        t.start();
        QVERIFY(::kill(pid_t(s.program->processId()), signalNumber) == 0);
        QCOMPARE(whatFollowedTheQuit(s, atSignal, t), QString());
    }

    // A signal stops the serving at once: a request queued behind the one it ends is not
    // served (a "close" would leave no board for the shutdown), and the shutdown sequence
    // reaches the board.
    void signalServesNoQueuedRequest()
    {
        Session s;
        QVERIFY(startAnsweringLate(s, "delay 300"));
        PipeClient client;
        QVERIFY(client.connectTo(s.program->pipePath));
        const int before = int(s.board.lines().size());
        client.socket.write("run\tBoard.getVS\nrun\tclose\n");
        client.socket.flush();
        // The signal comes while the first request waits for its answer, 300 ms late.
        QVERIFY(QTest::qWaitFor([&] { return s.board.lines().mid(before).contains("get AIN5"); }));
        const int atSignal = int(s.board.lines().size());
        QElapsedTimer t;
        t.start();
        QVERIFY(signalProgram(s, SIGTERM));
        QCOMPARE(whatFollowedTheQuit(s, atSignal, t), QString());
        const QStringList after = s.board.lines().mid(atSignal);
        QVERIFY2(shutdownReached(after), qPrintable(after.join('|')));
        // Only the request the signal ended answers, with its failure.
        client.socket.waitForReadyRead(200);
        QCOMPARE(client.socket.readAll(), QByteArray("i0"));
    }

    void quitEndsWithinThreeSecondsOnASlowBoard_data()
    {
        QTest::addColumn<int>("signalNumber"); // 0: run shutdown
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("run shutdown") << 0;
    }

    // Chain reads answered 1.9 s late (every other line at once): the shutdown sequence
    // gets the time left as a whole, and the program is gone within 3 s.
    void quitEndsWithinThreeSecondsOnASlowBoard()
    {
        QFETCH(int, signalNumber);
        Session s;
        QVERIFY(startAnsweringLate(s, "delay-reads 1900"));
        const int atQuit = int(s.board.lines().size());
        QElapsedTimer t;
        t.start();
        PipeClient quitter;
        if (signalNumber == 0)
            QVERIFY(quitter.connectTo(s.program->pipePath) &&
                    quitter.request("run\tshutdown") == "i1");
        else
            QVERIFY(signalProgram(s, signalNumber));
        QCOMPARE(whatFollowedTheQuit(s, atQuit, t), QString());
        const QStringList after = s.board.lines().mid(atQuit);
        QVERIFY2(shutdownReached(after) && after.contains(QStringLiteral("get SPI0CS0DATA")),
                 qPrintable(after.join('|')));
    }

    void secondSignalLeavesTheShutdownWhole_data()
    {
        QTest::addColumn<int>("gapMs");
        QTest::addColumn<int>("count");
        // The shutdown takes some 20 ms on a prompt board; these land all over it.
        QTest::newRow("two, 2 ms apart") << 2 << 2;
        QTest::newRow("two, 3 ms apart") << 3 << 2;
        QTest::newRow("two, 5 ms apart") << 5 << 2;
        QTest::newRow("one every 2 ms for 60 ms") << 2 << 30;
    }

    // Further signals (an impatient Ctrl+C, a service manager) while the shutdown
    // sequence runs change nothing: the sequence goes out whole, the end stays normal.
    void secondSignalLeavesTheShutdownWhole()
    {
        QFETCH(int, gapMs);
        QFETCH(int, count);
        Session s;
        QVERIFY(s.start(true));
        const int atSignal = int(s.board.lines().size());
        QVERIFY(signalProgram(s, SIGTERM));
        for (int i = 1; i < count; ++i) {
            QTest::qSleep(gapMs); // no event processing: the ended program is not reaped
            QVERIFY(signalProgram(s, SIGTERM));
        }
        QVERIFY(s.program->waitForFinished(3000) && s.endedNormally());
        QTRY_COMPARE(s.board.lines().mid(atSignal).size(), ShutdownLines);
        QVERIFY(shutdownReached(s.board.lines().mid(atSignal)));
    }

    // A signal inside a chain's reads leaves answers queued on the board; the shutdown's
    // chain fetches and drops them before its own, so every frame's answer is fetched and
    // none is taken for another's.
    void signalInsideAChainLeavesNoAnswerQueued()
    {
        Session s;
        QVERIFY(startAnsweringLate(s, "delay-reads 100"));
        PipeClient client;
        QVERIFY(client.connectTo(s.program->pipePath));
        const int before = int(s.board.lines().size());
        client.send("run\tSpiController.ReadAll");
        const QString read = QStringLiteral("get SPI0CS0DATA");
        QVERIFY(QTest::qWaitFor([&] { return s.board.lines().mid(before).count(read) >= 3; }));
        QElapsedTimer t;
        t.start();
        QVERIFY(signalProgram(s, SIGTERM));
        // The shutdown sequence and the reads of what the chain left, at most its 7 frames.
        QCOMPARE(whatFollowedTheQuit(s, int(s.board.lines().size()), t, ShutdownLines + 7),
                 QString());
        const auto unfetched = [&] {
            const QStringList lines = s.board.lines();
            return int(lines.join('|').count(QLatin1String("SPI0CS0DATA=02")) - lines.count(read));
        };
        QTRY_COMPARE(unfetched(), 0);
    }

    // A second program on a taken name asks whether to use another; a signal ends it there.
    void signalEndsAStartUpQuestion()
    {
        Session s;
        QVERIFY(s.start(false));
        Program second(s.dir.path());
        QVERIFY(second.waitForStarted(5000));
        QVERIFY(!second.waitForFinished(1000)); // the question waits for an answer
        QVERIFY(::kill(pid_t(second.processId()), SIGTERM) == 0);
        QVERIFY(second.waitForFinished(2000) && second.exitStatus() == QProcess::NormalExit &&
                second.exitCode() == 0);
        QVERIFY(s.program->client.request("get\tversion").startsWith('s')); // the first goes on
    }
};

QTEST_GUILESS_MAIN(TestE2eQuit)
#include "tst_e2e_quit.moc"
