// The half-bridge, motor and demonstration windows driven by script through the real
// program, on the board simulated on a pseudo-terminal.

#include "E2eProcesses.h"

#include <QElapsedTimer>

#include <sys/socket.h>

class TestE2eApplets : public QObject
{
    Q_OBJECT
private:
    QByteArray request(const QByteArray& line) { return s.program->client.request(line); }
    // The lines the board received after the first `from`.
    QStringList linesSince(int from) { return s.board.lines().mid(from); }

    // Watched from now: the lines of a command answered before are all in by now, since
    // the board reports each line before it answers it.
    void expectNoMotorCommandFor(int ms)
    {
        const int from = int(s.board.lines().size());
        QTest::qWait(ms);
        const QStringList later = motorLines(linesSince(from));
        QVERIFY2(later.isEmpty(), qPrintable(later.join('|')));
    }

    Session s;

private slots:
    void initTestCase() { QVERIFY(s.start(true)); }

    // Basic's run and stop, and HB Controller's writes, are their unit tests'.
    void scriptedCommandsReachTheBoard()
    {
        // A duty change made by script goes out at once, truncated.
        int before = int(s.board.lines().size());
        QCOMPARE(request("set\tHBController.PWM2_DUTY\tf37.9"), QByteArray("ok\n"));
        QTRY_VERIFY(linesSince(before).contains(QStringLiteral("set PWM1DUTY=37")));
        QCOMPARE(request("get\tBoard.PWM2_DUTY"), QByteArray("f37.9"));

        // Board passes its generator commands on.
        before = int(s.board.lines().size());
        QCOMPARE(request("run\tBoard.setPWM1_Freq"), QByteArray("i1"));
        QTRY_COMPARE(linesSince(before), QStringList{"set PWM0FREQ=20000"});
    }

    // One demonstration at a time: a second DemoON is refused at once, and one Stop ends
    // the run for good (its fail-safe pulse: tst_application).
    void anotherClientStopsARunningDemonstration()
    {
        PipeClient demo;
        QVERIFY(demo.connectTo(s.program->pipePath));
        QElapsedTimer clock;
        clock.start();
        demo.send("run\tApplication.DemoON");
        QTest::qWait(1500); // motor 1 runs forward for 5 s

        PipeClient other;
        QVERIFY(other.connectTo(s.program->pipePath));
        const int before = int(s.board.lines().size());
        QCOMPARE(other.request("run\tApplication.DemoON", 1000), QByteArray("i0"));
        QCOMPARE(linesSince(before), QStringList());
        const qint64 stopSent = clock.elapsed();
        QCOMPARE(other.request("run\tApplication.Stop"), QByteArray("i1"));
        QVERIFY2(clock.elapsed() - stopSent < 1500, "the stop is served inside the running wait");
        QCOMPARE(demo.answer(3000), QByteArray("i1"));
        QVERIFY2(clock.elapsed() < 4000, "the demonstration ends well before its phase would");
        expectNoMotorCommandFor(1500);
    }

    // A client that leaves takes its queued requests with it; one that only ends its
    // sending side (as `socat` or `nc -N` do) still gets its answer, then the end.
    void clientsThatLeaveOrHalfClose()
    {
        {
            PipeClient flood;
            QVERIFY(flood.connectTo(s.program->pipePath));
            flood.send(QByteArray("run\tApplication.DemoON\n").repeated(50));
            QTest::qWait(1000);
        } // closed while its first demonstration runs
        PipeClient other;
        QVERIFY(other.connectTo(s.program->pipePath));
        QCOMPARE(other.request("run\tApplication.Stop"), QByteArray("i1"));
        expectNoMotorCommandFor(1500);

        PipeClient halfClosed;
        QVERIFY(halfClosed.connectTo(s.program->pipePath));
        halfClosed.send("run\tBasic.setForward1");
        QCOMPARE(::shutdown(int(halfClosed.socket.socketDescriptor()), SHUT_WR), 0);
        QCOMPARE(halfClosed.answer(), QByteArray("i1"));
        QVERIFY(halfClosed.socket.state() == QLocalSocket::UnconnectedState ||
                halfClosed.socket.waitForDisconnected(5000));
    }
};

QTEST_MAIN(TestE2eApplets)
#include "tst_e2e_applets.moc"
