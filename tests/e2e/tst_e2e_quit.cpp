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
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("boardSilent");
        QTest::newRow("run shutdown") << "shutdown" << false;
        QTest::newRow("SIGTERM") << "SIGTERM" << false;
        QTest::newRow("SIGINT") << "SIGINT" << false;
        QTest::newRow("run shutdown, board silent") << "shutdown" << true;
        QTest::newRow("SIGTERM, board silent") << "SIGTERM" << true;
    }

    // The demonstration leaves by its stop exit, no motor moves again, and the normal
    // shutdown follows: chip defaults sent, port closed, socket removed.
    void quitEndsARunningDemonstrationAtOnce()
    {
        QFETCH(QString, how);
        QFETCH(bool, boardSilent);
        Session s;
        QVERIFY(s.start(true));
        QTRY_VERIFY_WITH_TIMEOUT(s.board.lines().contains(QStringLiteral("set PWM3DUTY=50")), 5000);
        PipeClient demo;
        QVERIFY(demo.connectTo(s.program->pipePath));
        demo.send("run\tApplication.DemoON"); // motor 1 forward for 5 s first
        QTest::qWait(1500);
        const int before = int(s.board.lines().size());
        if (boardSilent)
            QVERIFY(::kill(pid_t(s.board.processId()), SIGSTOP) == 0);

        QElapsedTimer t;
        t.start();
        if (how == "shutdown") {
            PipeClient quitter;
            QVERIFY(quitter.connectTo(s.program->pipePath));
            QCOMPARE(quitter.request("run\tshutdown"), QByteArray("i1"));
        } else {
            QVERIFY(::kill(pid_t(s.program->processId()), how == "SIGTERM" ? SIGTERM : SIGINT) ==
                    0);
        }
        QVERIFY(s.program->waitForFinished(3000));
        QVERIFY2(t.elapsed() < 3000, qPrintable(QString::number(t.elapsed())));
        QVERIFY(s.endedNormally());
        if (boardSilent)
            return;
        QCOMPARE(demo.answer(1000), QByteArray("i1"));
        const QStringList after = s.board.lines().mid(before);
        QVERIFY2(motorLines(after).isEmpty(), qPrintable(after.join('|')));
        QVERIFY(after.contains(QStringLiteral("set r219rem=1")));
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
        QVERIFY(second.waitForFinished(2000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QVERIFY(s.program->request("get\tversion").startsWith('s')); // the first goes on
    }
};

QTEST_GUILESS_MAIN(TestE2eQuit)
#include "tst_e2e_quit.moc"
