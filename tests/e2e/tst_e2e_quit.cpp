// Quitting and stopping while a command waits, and a second program started on a name
// that is taken: the real program on the board simulated on a pseudo-terminal.

#include "E2eProcesses.h"

#include <QElapsedTimer>

#include <signal.h>

class TestE2eQuit : public QObject
{
    Q_OBJECT
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
        QVERIFY2(motorLines(after).isEmpty() && after.contains(QStringLiteral("set r219rem=1")) &&
                     after.join('|').contains(QLatin1String("SPI0CS0DATA=025")),
                 qPrintable(after.join('|')));
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
