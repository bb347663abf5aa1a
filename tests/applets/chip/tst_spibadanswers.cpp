#include "AppletInstances.h"
#include "CallerKey.h"
#include "ChipRegisters.h"
#include "ControlBoard.h"
#include "SpiController.h"
#include "SpiRaw.h"

#include <QFile>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace ChipRegisters;

namespace {

// A board stand-in run through the "script" port: it echoes "set" lines and answers each
// "get SPI0CS0DATA" with the next line of answers.txt ("<none>" prints nothing).
const char* const BoardScript = R"(import os, sys
here = os.path.dirname(os.path.abspath(__file__))
line = sys.argv[1].strip()
def take(name):
    path = os.path.join(here, name)
    if not os.path.exists(path):
        return None
    with open(path) as f:
        lines = f.read().split("\n")
    with open(path, "w") as f:
        f.write("\n".join(lines[1:]))
    return lines[0]
if line == "get VER":
    print("VER=SCRIPT-1")
elif line.startswith("set "):
    answer = take("set_answers.txt")
    print(line[4:] if not answer else answer)
elif line == "get SPI0CS0DATA":
    answer = take("answers.txt")
    if answer and answer != "<none>":
        print(answer)
else:
    print("err")
)";

const QString WriteError = QStringLiteral("-1 SpiController:Spi register write error");
const QString ReadError = QStringLiteral("-1 SpiController:SPI register read error");
const QString ChainWriteError = QStringLiteral("-1 SpiController:Chain spi register write error");
const QString ChainReadError = QStringLiteral("-1 SpiController:Chain spi register read error");

QStringList logTexts(const QSignalSpy& spy)
{
    QStringList texts;
    for (const QList<QVariant>& entry : spy)
        texts << QStringLiteral("%1 %2").arg(entry.at(0).toInt()).arg(entry.at(1).toString());
    return texts;
}

} // namespace

class TestSpiBadAnswers : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    ControlBoard m_board;
    SpiRaw* m_raw = nullptr;
    SpiController* m_spi = nullptr;

    void queue(const QString& file, const QStringList& lines)
    {
        QFile f(m_dir.filePath(file));
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(lines.join(QLatin1Char('\n')).toUtf8());
    }
    // Every status image, NM, ADDR and DATA set to a marker value.
    void markStatus()
    {
        for (Register* r : {&SR0, &SR1, &SR3, &SR4, &SR5, &SR7, &DATA})
            r->setField(r->name() + QStringLiteral("[]"), 0x5A5);
        NM.setField(QStringLiteral("NM[]"), 1);
        ADDR.setField(QStringLiteral("ADDR[]"), 6);
    }
    bool statusUnchanged() const
    {
        for (Register* r : {&SR0, &SR1, &SR3, &SR4, &SR5, &SR7, &DATA}) {
            if (r->getField(r->name() + QStringLiteral("[]")) != 0x5A5)
                return false;
        }
        return NM.getField(QStringLiteral("NM[]")) == 1 &&
               ADDR.getField(QStringLiteral("ADDR[]")) == 6;
    }

private slots:
    void initTestCase()
    {
        const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"));
        if (python.isEmpty())
            QSKIP("python3 is needed for the script board");
        QVERIFY(m_dir.isValid());
        QFile script(m_dir.filePath(QStringLiteral("board.py")));
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write(BoardScript);
        script.close();
        m_board.setScript(python, script.fileName());
        QVERIFY(m_board.connectBoard(QStringLiteral("script")));
        m_raw = new SpiRaw;
        m_spi = new SpiController;
        AppletInstances::controlBoard = &m_board;
        AppletInstances::spiRaw = m_raw;
        AppletInstances::spiController = m_spi;
        QVERIFY(m_raw->setup() && m_spi->setup());
    }
    void cleanupTestCase()
    {
        AppletInstances::controlBoard = nullptr;
        AppletInstances::spiRaw = nullptr;
        AppletInstances::spiController = nullptr;
        delete m_spi;
        delete m_raw;
        m_board.disconnectBoard();
    }
    void init()
    {
        queue(QStringLiteral("answers.txt"), {});
        queue(QStringLiteral("set_answers.txt"), {});
        markStatus();
    }

    void badAnswerFailsTransfer_data();
    void badAnswerFailsTransfer();
    void badPollAnswerIsAReadError_data();
    void badPollAnswerIsAReadError();
    void refusedChainIsAWriteError();
    void chainWhoseAnswersStopPartWay();
    void malformedChainAnswerDoesNotShiftTheOthers();
};

void TestSpiBadAnswers::badAnswerFailsTransfer_data()
{
    QTest::addColumn<QString>("answer");
    QTest::newRow("not hex") << "SPI0CS0DATA=12G4";
    QTest::newRow("three digits") << "SPI0CS0DATA=123";
    QTest::newRow("five digits") << "SPI0CS0DATA=12345";
    QTest::newRow("err") << "err";
    QTest::newRow("missing") << "<none>";
    QTest::newRow("another name") << "SPI0CS0SPEED=1234";
}

void TestSpiBadAnswers::badAnswerFailsTransfer()
{
    QFETCH(QString, answer);
    queue(QStringLiteral("answers.txt"), {answer});
    QSignalSpy log(m_spi, &Applet::signal_log);
    QCOMPARE(m_spi->runFunction(QStringLiteral("WriteCR0"), QString()), QVariant(false));
    QCOMPARE(logTexts(log), QStringList{WriteError});
    QVERIFY(statusUnchanged());

    quint16 frame = 0x7777;
    queue(QStringLiteral("answers.txt"), {answer});
    QVERIFY(!m_raw->transfer(0x0001, &frame));
    QCOMPARE(frame, quint16(0x7777));
}

void TestSpiBadAnswers::badPollAnswerIsAReadError_data()
{
    QTest::addColumn<QString>("answer");
    QTest::newRow("not hex") << "SPI0CS0DATA=zzzz";
    QTest::newRow("err") << "err";
    QTest::newRow("missing") << "<none>";
}

void TestSpiBadAnswers::badPollAnswerIsAReadError()
{
    QFETCH(QString, answer);
    // The selecting frame is answered from status address 2 (no image) with the marker
    // values, the poll badly.
    queue(QStringLiteral("answers.txt"), {QStringLiteral("SPI0CS0DATA=55A5"), answer});
    QSignalSpy log(m_spi, &Applet::signal_log);
    QCOMPARE(m_spi->runFunction(QStringLiteral("ReadSR1"), QString()), QVariant(false));
    QCOMPARE(logTexts(log), QStringList{ReadError});
    ADDR.setField(QStringLiteral("ADDR[]"), 6); // the good answer's address
    QVERIFY(statusUnchanged());
}

void TestSpiBadAnswers::refusedChainIsAWriteError()
{
    queue(QStringLiteral("set_answers.txt"), {QStringLiteral("err")});
    QSignalSpy log(m_spi, &Applet::signal_log);
    QCOMPARE(m_spi->runFunction(QStringLiteral("ReadAll"), QString()), QVariant(false));
    QCOMPARE(logTexts(log), QStringList{ChainWriteError});
    QCOMPARE(m_spi->chainLength(), 0);
    QVERIFY(statusUnchanged());
}

void TestSpiBadAnswers::chainWhoseAnswersStopPartWay()
{
    // Answers for the first three of seven frames, then nothing.
    queue(QStringLiteral("answers.txt"),
          {QStringLiteral("SPI0CS0DATA=1001"), QStringLiteral("SPI0CS0DATA=2111"),
           QStringLiteral("SPI0CS0DATA=6333"), QStringLiteral("err")});
    QSignalSpy log(m_spi, &Applet::signal_log);
    QCOMPARE(m_spi->runFunction(QStringLiteral("ReadAll"), QString()), QVariant(false));
    QCOMPARE(logTexts(log), QStringList{ChainReadError});
    QCOMPARE(m_spi->chainLength(), 0);
    // What did arrive is kept.
    QCOMPARE(SR0.getField(QStringLiteral("SR0[]")), 0x001u);
    QCOMPARE(NM.getField(QStringLiteral("NM[]")), 0u); // from the last answer
    QCOMPARE(SR1.getField(QStringLiteral("SR1[]")), 0x111u);
    QCOMPARE(SR3.getField(QStringLiteral("SR3[]")), 0x333u);
    QCOMPARE(SR7.getField(QStringLiteral("SR7[]")), 0x5A5u);

    // The buffer was cleared: the next chain carries its own frame only.
    queue(QStringLiteral("answers.txt"), {QStringLiteral("SPI0CS0DATA=0000")});
    m_spi->addToChain(1, 0x400);
    QVERIFY(m_spi->sendChain());
}

void TestSpiBadAnswers::malformedChainAnswerDoesNotShiftTheOthers()
{
    queue(QStringLiteral("answers.txt"),
          {QStringLiteral("SPI0CS0DATA=2111"), QStringLiteral("SPI0CS0DATA=x"),
           QStringLiteral("SPI0CS0DATA=E777")});
    m_spi->addToChain(0, 1);
    m_spi->addToChain(0, 2);
    m_spi->addToChain(0, 3);
    QSignalSpy log(m_spi, &Applet::signal_log);
    QVERIFY(!m_spi->sendChain());
    QCOMPARE(logTexts(log), QStringList{ChainReadError});
    QCOMPARE(SR1.getField(QStringLiteral("SR1[]")), 0x111u);
    QCOMPARE(SR7.getField(QStringLiteral("SR7[]")), 0x777u);
}

QTEST_MAIN(TestSpiBadAnswers)
#include "tst_spibadanswers.moc"
