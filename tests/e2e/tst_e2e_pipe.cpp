#include "E2eProcesses.h"

#include <QElapsedTimer>
#include <QRegularExpression>

#include <signal.h>

// The program driven through its scripting pipe on the board simulated on a
// pseudo-terminal.
class TestE2ePipe : public QObject
{
    Q_OBJECT
private:
    QByteArray request(const QByteArray& line, int timeoutMs = 5000)
    {
        return s->program->request(line, timeoutMs);
    }

    std::unique_ptr<Session> s;

private slots:
    void initTestCase()
    {
        s = std::make_unique<Session>();
        QVERIFY(s->start(false));
    }

    void cleanupTestCase() { s.reset(); }

    void setGetRunReachTheSimulatedBoard()
    {
        const QByteArray version = request("get\tversion");
        QVERIFY2(QRegularExpression("^s\\d+\\.\\d+\\.\\d+$").match(version).hasMatch(),
                 version.constData());
        QCOMPARE(request("get\tSpiController.CR2[3:0]"), QByteArray("err\n")); // needs a board
        QVERIFY(QFile::exists(s->dir.filePath(QStringLiteral("rmx4218.ini"))));

        const QByteArray device = s->board.device;
        QCOMPARE(request("run\topen\ts" + device, 15000), QByteArray("i1"));
        QTRY_VERIFY_WITH_TIMEOUT(s->board.lines().contains(QStringLiteral("get VER")), 5000);
        QCOMPARE(request("run\topen\ts" + device), QByteArray("err\n")); // already open
        QCOMPARE(request("run\tset_timeout\ti1000"), QByteArray("i1"));
        const QByteArray answer = request("run\twrite\tsget VER");
        QVERIFY2(answer.startsWith("sVER=") && !answer.contains('\n'), answer.constData());
        QTRY_VERIFY_WITH_TIMEOUT(s->board.lines().count(QStringLiteral("get VER")) >= 2, 3000);

        QCOMPARE(request("set\tSpiController.CR2[3:0]\ti0b101"), QByteArray("ok\n"));
        QCOMPARE(request("get\tSpiController.CR2[3:0]"), QByteArray("i5"));
        const int before = int(s->board.lines().size());
        QCOMPARE(request("run\tSpiController.WriteCR2"), QByteArray("i1"));
        QTRY_VERIFY_WITH_TIMEOUT(s->board.lines().size() > before, 3000);
        const QStringList sent = s->board.lines().mid(before);
        QVERIFY2(!sent.filter(QRegularExpression("^set SPI0CS0DATA=022")).isEmpty(),
                 qPrintable(sent.join('|')));

        // A command that runs and reports false answers "i0"; only a failed request is "err".
        QCOMPARE(request("run\tBoard.setDefault"), QByteArray("i0"));
        QCOMPARE(request("get\tNobody.x"), QByteArray("err\n"));
        QCOMPARE(request("set\tSpiController.CR2[3:0]\tq5"), QByteArray("err\n"));
        QCOMPARE(request("get\tSpiController.CR2[3:0]"), QByteArray("i5"));
    }

    void namesThatDoNotExistAnswerErr()
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
    void writeSendsOnlyPrintableText()
    {
        QCOMPARE(request("run\twrite\tsset DIO25=1"), QByteArray("sDIO25=1"));
        const int before = int(s->board.lines().size());
        QElapsedTimer t;
        t.start();
        for (const char* bytes : {"x181818181818", "x05", "x676574205645520a676574204449"})
            QCOMPARE(request(QByteArray("run\twrite\t") + bytes), QByteArray("err\n"));
        QVERIFY2(t.elapsed() < 1000, "refused at once, not after a time-out");
        QCOMPARE(request("run\twrite\tsget DIO25"), QByteArray("sDIO25=1")); // not reset
        QTRY_COMPARE(s->board.lines().mid(before), QStringList{"get DIO25"});
        QVERIFY(!s->board.out.contains("RESET"));
    }

    void watchDogDrivesTheBoardByScript()
    {
        const int before = int(s->board.lines().size());
        // The watchdog's safety switch and service routine period.
        QCOMPARE(request("set\tWatchDog.WDdio\ti1"), QByteArray("ok\n"));
        QCOMPARE(request("set\tWatchDog.WDTime\tf35.7"), QByteArray("ok\n"));
        QCOMPARE(request("run\tWatchDog.setRoutineTime"), QByteArray("i1"));
        QTRY_VERIFY_WITH_TIMEOUT(
            s->board.lines().mid(before).contains(QStringLiteral("set WDtime=35")), 3000);
        QVERIFY(s->board.lines().mid(before).contains(QStringLiteral("set DIO21=1")));
    }

    void boardLostDuringRequestAnswersErrWithinTimeoutThenShutdown()
    {
        constexpr int TimeoutMs = 1500;
        QCOMPARE(request("run\tset_timeout\ti" + QByteArray::number(TimeoutMs)), QByteArray("i1"));
        // The board stops answering; it goes away while the request waits for its answer.
        QVERIFY(::kill(pid_t(s->board.processId()), SIGSTOP) == 0);
        QTimer::singleShot(300, &s->board, [this] { s->board.kill(); });
        QElapsedTimer t;
        t.start();
        QCOMPARE(request("run\twrite\tsget VER", 10000), QByteArray("err\n"));
        QVERIFY2(t.elapsed() < TimeoutMs + 1000, qPrintable(QString::number(t.elapsed())));
        // Board requests fail now; the program itself goes on serving.
        QTRY_COMPARE_WITH_TIMEOUT(request("get\tSpiController.CR2[3:0]"), QByteArray("err\n"),
                                  8000);
        QVERIFY(request("get\tversion").startsWith('s'));
        QCOMPARE(request("run\tshutdown"), QByteArray("i1"));
        QVERIFY(s->endedNormally());
    }

    void signalsQuitWithTheNormalShutdown_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
    }

    // The same shutdown as "run shutdown": the board gets its default configuration back,
    // the port is closed and the pipe's socket removed.
    void signalsQuitWithTheNormalShutdown()
    {
        QFETCH(int, signalNumber);
        Session session;
        QVERIFY(session.start(true));
        const int before = int(session.board.lines().size());
        QVERIFY(::kill(pid_t(session.program->processId()), signalNumber) == 0);
        QVERIFY(session.endedNormally());
        const QStringList atShutdown = session.board.lines().mid(before);
        QVERIFY2(atShutdown.contains(QStringLiteral("set r219rem=1")),
                 qPrintable(atShutdown.join('|')));
        QVERIFY(!atShutdown.filter(QRegularExpression("^set SPI0CS0DATA=025")).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestE2ePipe)
#include "tst_e2e_pipe.moc"
