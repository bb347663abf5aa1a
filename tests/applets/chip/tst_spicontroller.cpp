// SpiController and SpiRaw on the simulated board (and a script board for bad answers):
// frames, decoding, chains, failures and the SpiController window.

#include "AppletInstances.h"
#include "CallerKey.h"
#include "CheckBox.h"
#include "ChipRegisters.h"
#include "ControlBoard.h"
#include "Joined.h"
#include "PushButton.h"
#include "SimulatedBoard.h"
#include "SpiController.h"
#include "SpiRaw.h"

#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <signal.h>
#include <thread>

using namespace ChipRegisters;

namespace {
// Stands in for the Board and WatchDog applets: records what SpiController asks of them.
class RecordingApplet : public Applet
{
public:
    QStringList calls;
    QVariant runFunction(const QString& name, const QVariant&) override
    {
        calls << QStringLiteral("run:") + name;
        return true;
    }
    bool setValue(const QString& name, const QVariant& value, quint32) override
    {
        calls << QStringLiteral("set:%1=%2").arg(name, value.toString());
        return true;
    }
};

// A board run through the "script" port: echoes "set" lines and answers each
// "get SPI0CS0DATA" with the next line of answers.txt ("<none>" prints nothing).
const char* const BoardScript = R"(import os, sys
path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "answers.txt")
line = sys.argv[1].strip()
if line == "get VER":
    print("VER=SCRIPT-1")
elif line.startswith("set "):
    print(line[4:])
elif line == "get SPI0CS0DATA" and os.path.exists(path):
    first, _, rest = open(path).read().partition("\n")
    open(path, "w").write(rest)
    if first != "<none>":
        print(first)
)";

const QString WriteError = QStringLiteral("-1 SpiController:Spi register write error");
const QString ReadError = QStringLiteral("-1 SpiController:SPI register read error");
const QString ChainError = QStringLiteral("-1 SpiController:Chain spi register %1 error");
const QString MarkedImages = QStringLiteral("1a5 1a5 1a5 1a5 1a5 1a5 1a5 0 0");
} // namespace

class TestSpiController : public QObject
{
    Q_OBJECT

private:
    ControlBoard board;
    ControlBoard scriptBoard;
    QTemporaryDir scriptDir;
    std::unique_ptr<SpiRaw> raw;
    std::unique_ptr<SpiController> spi;

    SimulatedBoard* sim() const { return board.simulatedBoard(); }
    QList<quint16> frames() const { return sim()->chipFrames(); }
    uint field(const QString& d) const { return spi->getValue(d, CallerKey::External).toUInt(); }
    bool write(const QString& d, uint v) const { return spi->setValue(d, v, CallerKey::Internal); }
    QVariant run(const QString& c, const QVariant& a = QString()) { return spi->runFunction(c, a); }
    // The status images, the last answer's data, then its NM bit and address, in hex.
    QString images() const
    {
        QStringList out;
        for (const char* name : {"SR0", "SR1", "SR3", "SR4", "SR5", "SR7", "DATA", "NM", "ADDR"})
            out << QString::number(field(name + QStringLiteral("[]")), 16);
        return out.join(u' ');
    }
    template <typename T> T* child(const char* name) const { return spi->findChild<T*>(name); }
    // Switches to the script board with these answers queued; false without python.
    bool useScript(const QStringList& answers)
    {
        QFile f(scriptDir.filePath(QStringLiteral("answers.txt")));
        if (!scriptBoard.isConnected() || !f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return false;
        f.write(answers.join(QLatin1Char('\n')).toUtf8());
        AppletInstances::controlBoard = &scriptBoard;
        return true;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(board.connectBoard(QStringLiteral("mockup")));
        AppletInstances::controlBoard = &board;
        raw = std::make_unique<SpiRaw>();
        spi = std::make_unique<SpiController>();
        AppletInstances::spiRaw = raw.get();
        AppletInstances::spiController = spi.get();
        QVERIFY(raw->setup() && spi->setup());
        spi->activate();
        spi->show();
        QVERIFY(QTest::qWaitForWindowExposed(spi.get()));

        // Without python3 the script board stays closed and its tests are skipped.
        QFile script(scriptDir.filePath(QStringLiteral("board.py")));
        if (script.open(QIODevice::WriteOnly) && script.write(BoardScript) > 0 && script.flush()) {
            scriptBoard.setScript(QStandardPaths::findExecutable("python3"), script.fileName());
            scriptBoard.connectBoard(QStringLiteral("script"));
        }
    }
    void cleanupTestCase()
    {
        AppletInstances::spiController = nullptr;
        AppletInstances::spiRaw = nullptr;
        AppletInstances::controlBoard = nullptr;
    }
    // Power-on images and board, traces cleared.
    void init()
    {
        AppletInstances::controlBoard = &board;
        spi->runFunction(QStringLiteral("Clear"), QString());
        for (Register* r :
             {&CR5A, &CR6A, &CR7A, &CR8A, &CR9A, &CR10A, &SR0, &SR7, &NM, &WD, &ADDR, &DATA})
            r->setField(r->name() + QStringLiteral("[]"), 0);
        for (Register* r : {&CR5B, &CR6B, &CR7B, &CR8B, &CR9B, &CR10B})
            r->setField(r->name() + QStringLiteral("[]"), 0x400);
        sim()->reset();
        sim()->clearChipFrames();
        sim()->clearReceivedLines();
    }

    void commandSendsExactFrames_data()
    {
        QTest::addColumn<QString>("writes"); // field=value, blank-separated
        QTest::addColumn<QString>("command");
        QTest::addColumn<QVariant>("args");
        QTest::addColumn<QList<quint16>>("frames"); // empty: refused
        const auto row = [](const char* tag, const char* writes, const char* command,
                            const QVariant& args, const QList<quint16>& frames) {
            QTest::newRow(tag) << QString(writes) << QString(command) << args << frames;
        };
        row("WriteCR0 with WD", "WD[]=1 CR0[HB_EN6]=1", "WriteCR0", QString(), {0x0820});
        // The halves' bit 10 and CR3B's fixed bits: HB Controller's WriteHB tests.
        row("RequestRead int", "CR0[HB_EN2]=1", "RequestRead", 3, {0x0582});
        row("ReadSR0 with WD", "WD[]=1", "ReadSR0", QString(), {0x0C00, 0xD800});
        // No number selects SR0, as script and help-window runs without a value expect.
        row("RequestRead without number", "CR0[HB_EN2]=1 CR0[SOA]=5", "RequestRead", QString(),
            {0x0402});
        for (const char* bad : {"8", "-1", "SR3", "3x"})
            row(qPrintable(QStringLiteral("RequestRead '%1'").arg(bad)), "", "RequestRead", bad,
                {});
    }

    void commandSendsExactFrames()
    {
        QFETCH(QString, writes);
        QFETCH(QString, command);
        QFETCH(QVariant, args);
        QFETCH(QList<quint16>, frames);

        for (const QString& w : writes.split(' ', Qt::SkipEmptyParts))
            QVERIFY(write(w.section('=', 0, 0), w.section('=', 1).toUInt()));
        QSignalSpy log(spi.get(), &Applet::signal_log);
        QCOMPARE(joined({run(command, args), log.size()}),
                 joined({!frames.isEmpty(), frames.isEmpty() ? 1 : 0}));
        QCOMPARE(this->frames(), frames);
    }

    // Each answer carries the register the frame before it selected: one chain refreshes
    // all six status registers, all twelve bits, and NM; the address and data fields keep
    // the last answer's.
    void readAllRefreshesEveryStatusRegister()
    {
        QVERIFY(write("CR0[HB_EN1]", 1) && write("CR0[SOA_MODE]", 1));
        for (const auto& [n, value] :
             {std::pair{0, 0x201}, {1, 0x911}, {3, 0xFFF}, {4, 0x444}, {5, 0x015}, {7, 0x877}})
            sim()->setStatusRegister(n, quint16(value));
        sim()->setVariable(QStringLiteral("DIO25"), QStringLiteral("1")); // normal mode
        QSignalSpy log(spi.get(), &Applet::signal_log);
        QVERIFY(run("ReadAll").toBool());
        // SOA (bits 9..7) selects the status register that answers the next frame.
        QCOMPARE(frames(), (QList<quint16>{0x401, 0x481, 0x581, 0x601, 0x681, 0x781, 0x401}));
        // One line carries the seven frames, then each answer is fetched.
        const QStringList lines = sim()->receivedLines();
        QCOMPARE(joined({lines.size(), lines.first().count("SPI0CS0DATA=02"), log.size()}),
                 "8 7 0");
        QCOMPARE(images(), "201 911 fff 444 15 877 877 1 7");

        // Address 2 holds no status register: its answer fills none.
        sim()->setStatusRegister(2, 0x321);
        QVERIFY(run("RequestRead", 2).toBool() && run("WriteCR2").toBool());
        QCOMPARE(images(), "201 911 fff 444 15 877 321 1 2");
    }

    // Clear resets the control images (CR3B keeps its fixed bit 10), not the
    // configuration or SR0; after a disconnect the applet is inactive and its boxes
    // still follow. In the window, a field edit alone sends nothing; its button writes.
    void clearResetsImagesAndTheWindowWritesWithItsButton()
    {
        for (Register* r : {&CR0, &CR3B, &SR1, &SR0, &CR5A})
            r->setField(r->name() + QStringLiteral("[0]"), 1);
        spi->slot_updateAllControls();
        spi->deactivate();
        QVERIFY(run("Clear").toBool());
        auto* box = child<CustomControls::CheckBox>("cbCR0_0");
        QVERIFY(!box->isChecked() && sim()->receivedLines().isEmpty());
        spi->activate();
        QCOMPARE(joined({CR0.value(true), CR3B.value(true), SR1.value(true), SR0.value(true),
                         CR5A.value(true)}),
                 "0 1024 0 1 1");
        QTest::mouseClick(box, Qt::LeftButton);
        QTest::mouseClick(child<CustomControls::PushButton>("pbSpiController_WriteCR0"),
                          Qt::LeftButton);
        QCOMPARE(frames(), QList<quint16>{0x0001});
    }

    void watchDogAndBoardFollowTheChip()
    {
        RecordingApplet boardApplet, watchDog;
        AppletInstances::board = &boardApplet;
        AppletInstances::watchDog = &watchDog;
        QVERIFY(write("CR1[WD_CFG]", 1) && run("WriteCR1").toBool() && write("CR0[HB_EN1]", 1));

        // The "registers cleared" box, set by a decoded answer: ignored on the simulated board.
        SR0.setField("SR0[RCF]", 1);
        const bool shown = child<CustomControls::CheckBox>("cbSR0_10")->isChecked();
        SR0.setField("SR0[RCF]", 0);
        const QStringList onSimulated = boardApplet.calls;
        ControlBoard real; // not connected, and not the simulated one
        AppletInstances::controlBoard = &real;
        SR0.setField("SR0[RCF]", 1);
        AppletInstances::controlBoard = &board;
        AppletInstances::board = nullptr;
        AppletInstances::watchDog = nullptr;

        // Cleared before the watchdog hears of it: CR1 bit 8 is now 0.
        QCOMPARE(joined({shown, onSimulated.join(','), boardApplet.calls.join(','), field("CR0[]"),
                         watchDog.calls.join(',')}),
                 "true  run:setUserConf 0 set:WDTimeout=1,set:WDTimeout=0");
    }

    void failedTransferLogsAndKeepsStatus_data()
    {
        QTest::addColumn<QStringList>("answers"); // script board answers; "no link": none at all
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("result");
        QTest::addColumn<QStringList>("log");
        QTest::addColumn<QString>("images"); // after all were marked
        const auto row = [](const char* tag, const QStringList& answers, const char* command,
                            bool result, const QStringList& log,
                            const QString& images = MarkedImages) {
            QTest::newRow(tag) << answers << QString(command) << result << log << images;
        };
        row("no link", {"no link"}, "WriteCR0", false, {WriteError});
        row("pair write reports nothing but logs both", {"no link"}, "WriteCR6", true,
            {WriteError, WriteError});
        for (const char* bad : {"SPI0CS0DATA=12G4", "SPI0CS0DATA=123", "SPI0CS0DATA=12345", "err",
                                "<none>", "SPI0CS0SPEED=1234"})
            row(bad, {bad}, "WriteCR0", false, {WriteError});
        // The first answer is good: register 2 (none), NM set, data the marker.
        row("poll answer bad", {"SPI0CS0DATA=51A5", "SPI0CS0DATA=zzzz"}, "ReadSR1", false,
            {ReadError}, "1a5 1a5 1a5 1a5 1a5 1a5 1a5 1 2");
        row("chain without link", {"no link"}, "ReadAll", false, {ChainError.arg("write")});
        // Answers for the first three of seven frames, then a malformed one: what did arrive
        // is kept, the rest left as it was.
        row("chain answer bad",
            {"SPI0CS0DATA=1001", "SPI0CS0DATA=2111", "SPI0CS0DATA=6333", "SPI0CS0DATA=x"},
            "ReadAll", false, {ChainError.arg("read")}, "1 111 333 1a5 1a5 1a5 333 0 3");
    }

    void failedTransferLogsAndKeepsStatus()
    {
        QFETCH(QStringList, answers);
        QFETCH(QString, command);
        QFETCH(bool, result);
        QFETCH(QStringList, log);

        // Answer images get a marker (bit 10 of SR0 clear: no "registers cleared" recovery).
        for (Register* r : {&SR0, &SR1, &SR3, &SR4, &SR5, &SR7, &DATA})
            r->setField(r->name() + QStringLiteral("[]"), 0x1A5);
        if (answers.first() == QLatin1String("no link"))
            AppletInstances::controlBoard = nullptr;
        else if (!useScript(answers))
            QSKIP("python3 is needed for the script board");
        QSignalSpy spy(spi.get(), &Applet::signal_log);
        const QVariant out = run(command);
        const int chainLeft = spi->chainLength();
        // SpiRaw's transfer fails the same way and leaves the answer alone.
        quint16 frame = 0x7777;
        const bool rawOk = answers.size() == 1 && useScript(answers) && raw->transfer(1, &frame);
        AppletInstances::controlBoard = &board;

        QStringList logged;
        for (const QList<QVariant>& entry : spy)
            logged << joined({entry.at(0), entry.at(1)});
        QCOMPARE(logged, log);
        QCOMPARE(joined({out, chainLeft, rawOk, frame}), joined({result, 0, false, 0x7777}));
        QTEST(images(), "images");
        // The next chain carries only its own frames, bits 10:0 of the data.
        spi->addToChain(5, 0x522 | 0xF800);
        QVERIFY(spi->sendChain());
        QCOMPARE(frames(), QList<quint16>{0x5522});
    }

    // After a malformed answer the chain still fetches the rest: none stays queued on the
    // board (tools/boardsim) to be decoded by the next transfer.
    void chainAnswerAfterABadOneIsStillFetched()
    {
        QProcess boardsim; // line 1 is "get VER", 2 the chain, 3 to 9 its answers
        boardsim.start(QStringLiteral(RMX_BUILD_DIR "/tools/boardsim"),
                       {"--quiet", "--garble-line", "6"});
        QVERIFY(boardsim.waitForReadyRead(5000));
        ControlBoard serial;
        serial.setKeepAliveInterval(0);
        QVERIFY(serial.connectBoard(QString::fromLocal8Bit(boardsim.readLine()).trimmed()));
        AppletInstances::controlBoard = &serial;
        // The answers carry the registers 0, 0, 1, 3, 4, 5, 7 (SOA of the frame before).
        QVERIFY(write("CR0[SOA_MODE]", 1));
        QCOMPARE(joined({run("ReadAll"), field("ADDR[]"), run("ReadAll"), field("ADDR[]")}),
                 "false 7 true 7");
        AppletInstances::controlBoard = &board;
        boardsim.kill();
        boardsim.waitForFinished(3000);
    }

    // A quit inside a chain's reads leaves answers queued on the board; once traffic is
    // allowed again the next chain fetches and drops them first, takes its own, and
    // leaves none behind.
    void chainCutShortLeavesNoAnswerForTheNext()
    {
        QProcess boardsim;
        boardsim.start(QStringLiteral(RMX_BUILD_DIR "/tools/boardsim"), QStringList());
        QVERIFY(boardsim.waitForReadyRead(5000));
        ControlBoard serial;
        serial.setKeepAliveInterval(0);
        QVERIFY(serial.connectBoard(QString::fromLocal8Bit(boardsim.readLine()).trimmed()));
        boardsim.write("delay-reads 100\n");
        QVERIFY(QTest::qWaitFor([&] { return boardsim.readAll().contains("OK"); }, 5000));
        AppletInstances::controlBoard = &serial;
        QVERIFY(write("CR0[SOA_MODE]", 1)); // answers carry registers 0, 0, 1, 3, 4, 5, 7
        const auto cutChain = [this] {
            std::thread quit([] {
                std::this_thread::sleep_for(std::chrono::milliseconds(250)); // in the 3rd read
                ControlBoard::interruptTransactions();
            });
            const QVariant result = run("ReadAll");
            quit.join();
            ControlBoard::allowTransactions();
            return result;
        };
        const QVariant cut = cutChain();
        const QVariant whole = run("ReadAll");
        const uint lastRegister = field("ADDR[]");
        QByteArray left;
        serial.send("get SPI0CS0DATA", &left);
        // A board that restarted holds none of them: its "err" ends the fetching.
        const QVariant cutAgain = cutChain();
        serial.resetBoard();
        const QVariant afterReset = run("ReadAll");
        // Answers that cannot be fetched (the board fell mute): no new frame goes out.
        cutChain();
        ::kill(pid_t(boardsim.processId()), SIGUSR2);
        const QVariant mute = run("ReadAll");
        AppletInstances::controlBoard = &board;
        QCOMPARE(joined({cut, whole, lastRegister, left.trimmed(), cutAgain, afterReset, mute}),
                 "false true 7 err false true false");
        QVERIFY(QTest::qWaitFor([&] { return boardsim.bytesAvailable() > 0; }, 1000));
        const QByteArray output = boardsim.readAll();
        QVERIFY(!output.mid(output.indexOf("MUTE")).contains("RX set"));
        boardsim.kill();
        boardsim.waitForFinished(3000);
    }

    void rawTransferAndClock()
    {
        sim()->setStatusRegister(0, 0x123);
        const auto* rx = raw->findChild<QLineEdit*>(QStringLiteral("leRxFrame"));
        QCOMPARE(joined({raw->runFunction("Transfer", " 0x2004 "), rx->text(),
                         raw->runFunction("Transfer", "12345")}),
                 "true 0123 false");
        QCOMPARE(frames(), QList<quint16>{0x2004});

        raw->deactivate();
        sim()->clearReceivedLines();
        // Inactive: the change stays in the model.
        QVERIFY(raw->setValue(QStringLiteral("SPIFreq"), 500000, CallerKey::External));
        raw->activate();
        QVERIFY(raw->setValue(QStringLiteral("SPIFreq"), 2000000, CallerKey::External));
        QCOMPARE(sim()->receivedLines(), QStringList{"set SPI0CS0SPEED=2000000"});
    }
};

QTEST_MAIN(TestSpiController)
#include "tst_spicontroller.moc"
