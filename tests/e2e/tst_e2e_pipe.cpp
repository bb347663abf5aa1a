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
        return s.program->client.request(line, timeoutMs);
    }
    QByteArray requests(const QByteArrayList& lines) { return s.program->client.requests(lines); }

    Session s;

private slots:
    void initTestCase() { QVERIFY(s.start(false)); }

    void setGetRunReachTheSimulatedBoardOrAnswerErr()
    {
        const QRegularExpression version("^s\\d+\\.\\d+\\.\\d+$");
        QVERIFY(version.match(request("get\tversion")).hasMatch());
        // Both need a board.
        QCOMPARE(requests({"get\tSpiController.CR2[3:0]", "set\tSpiController.CR2[3:0]\ti3"}),
                 "err\n|err\n");
        QVERIFY(QFile::exists(s.dir.filePath(QStringLiteral("rmx4218.ini"))));

        const QByteArray open = "run\topen\ts" + s.board.device;
        QCOMPARE(request(open, 15000), QByteArray("i1"));
        QTRY_VERIFY(s.board.lines().contains(QStringLiteral("get VER")));
        // Opened already: refused.
        QCOMPARE(requests({open, "run\tset_timeout\ti1000"}), "err\n|i1");

        QCOMPARE(requests({"set\tSpiController.CR2[3:0]\ti0b101", "get\tSpiController.CR2[3:0]"}),
                 "ok\n|i5");
        const int before = int(s.board.lines().size());
        QCOMPARE(request("run\tSpiController.WriteCR2"), QByteArray("i1"));
        QTRY_VERIFY(s.board.lines().mid(before).join('|').contains("SPI0CS0DATA=022"));

        // A command that runs and reports false answers "i0"; only a failed request is "err".
        QCOMPARE(requests({"run\tBoard.setDefault", "get\tNobody.x",
                           "set\tSpiController.CR2[3:0]\tq5", "get\tSpiController.CR2[3:0]"}),
                 "i0|err\n|err\n|i5");
        for (const char* field :
             {"[63:0]", "[-1:0]", "[0:3]", "[31:0]", "[NOSUCHFIELD]", "(3:0)", "[", "[3:0"})
            QCOMPARE(request(QByteArray("get\tSpiController.CR2") + field), QByteArray("err\n"));
        // Generator 1 runs at its power-on duty.
        QCOMPARE(requests({"get\tBoard.PWM1_DUTY.junk", "set\tBoard.PWM1_DUTY.junk\tf20",
                           "get\tBoard.PWM1_DUTY"}),
                 "err\n|err\n|f50");
    }

    // Control bytes would act on the board itself: six CAN reset it, ENQ is the keep-alive.
    void writeSendsOnlyPrintableText()
    {
        QCOMPARE(request("run\twrite\tsset DIO25=1"), QByteArray("sDIO25=1"));
        const int before = int(s.board.lines().size());
        QElapsedTimer t;
        t.start();
        for (const char* bytes : {"x181818181818", "x05", "x676574205645520a676574204449"})
            QCOMPARE(request(QByteArray("run\twrite\t") + bytes), QByteArray("err\n"));
        QVERIFY2(t.elapsed() < 1000, "refused at once, not after a time-out");
        QCOMPARE(request("run\twrite\tsget DIO25"), QByteArray("sDIO25=1")); // not reset
        QTRY_COMPARE(s.board.lines().mid(before), QStringList{"get DIO25"});
        QVERIFY(!s.board.out.contains("RESET"));
    }

    // The watchdog's safety switch and service routine period.
    void watchDogDrivesTheBoardByScript()
    {
        const int before = int(s.board.lines().size());
        QCOMPARE(requests({"set\tWatchDog.WDdio\ti1", "set\tWatchDog.WDTime\tf35.7",
                           "run\tWatchDog.setRoutineTime"}),
                 "ok\n|ok\n|i1");
        QTRY_COMPARE(s.board.lines().mid(before), (QStringList{"set DIO21=1", "set WDtime=35"}));
    }

    // SIGTERM and SIGINT quit with this shutdown too: tst_e2e_quit sends them during a
    // demonstration.
    void boardLostDuringRequestAnswersErrWithinTimeoutThenShutdown()
    {
        constexpr int TimeoutMs = 1500;
        QCOMPARE(request("run\tset_timeout\ti" + QByteArray::number(TimeoutMs)), QByteArray("i1"));
        // The board stops answering; it goes away while the request waits for its answer.
        QVERIFY(::kill(pid_t(s.board.processId()), SIGSTOP) == 0);
        QTimer::singleShot(300, &s.board, [this] { s.board.kill(); });
        QElapsedTimer t;
        t.start();
        QCOMPARE(request("run\twrite\tsget VER", 10000), QByteArray("err\n"));
        QVERIFY2(t.elapsed() < TimeoutMs + 1000, qPrintable(QString::number(t.elapsed())));
        // Board requests fail now; the program itself goes on serving.
        QTRY_COMPARE_WITH_TIMEOUT(request("get\tSpiController.CR2[3:0]"), QByteArray("err\n"),
                                  8000);
        QCOMPARE(request("run\tshutdown"), QByteArray("i1"));
        QVERIFY(s.endedNormally());
    }
};

QTEST_GUILESS_MAIN(TestE2ePipe)
#include "tst_e2e_pipe.moc"
