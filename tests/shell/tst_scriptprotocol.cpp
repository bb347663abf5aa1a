#include "ScriptProtocol.h"

#include <QtTest>

namespace {

// Records the calls and answers from fixed tables.
class FakeHandler : public ScriptHandler
{
public:
    QStringList calls;
    QMap<QString, QVariant> values;  // get results and accepted set names
    QMap<QString, QVariant> results; // run results

    bool scriptSet(const QString& name, const QVariant& value) override
    {
        calls << QStringLiteral("set %1 %2 %3").arg(name, value.typeName(), value.toString());
        return values.contains(name);
    }
    QVariant scriptGet(const QString& name) override
    {
        calls << QStringLiteral("get %1").arg(name);
        return values.value(name);
    }
    QVariant scriptRun(const QString& name, const QVariant& args) override
    {
        calls << QStringLiteral("run %1 %2 %3").arg(name, args.typeName(), args.toString());
        return results.value(name);
    }
};

} // namespace

class TestScriptProtocol : public QObject
{
    Q_OBJECT
private slots:
    void typedValuesParse_data();
    void typedValuesParse();
    void resultsFormatTyped_data();
    void resultsFormatTyped();
    void requestsAnswer_data();
    void requestsAnswer();
    void refusedRequestsReachNoHandler_data();
    void refusedRequestsReachNoHandler();
};

void TestScriptProtocol::typedValuesParse_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QVariant>("value");

    QTest::newRow("decimal") << QByteArray("i42") << true << QVariant(qlonglong(42));
    QTest::newRow("negative") << QByteArray("i-7") << true << QVariant(qlonglong(-7));
    QTest::newRow("hex") << QByteArray("i0x1F") << true << QVariant(qlonglong(31));
    QTest::newRow("binary") << QByteArray("i0b101") << true << QVariant(qlonglong(5));
    QTest::newRow("int empty") << QByteArray("i") << false << QVariant();
    QTest::newRow("int junk") << QByteArray("i12a") << false << QVariant();
    QTest::newRow("int bad hex") << QByteArray("i0xg") << false << QVariant();
    QTest::newRow("int overflow") << QByteArray("i99999999999999999999") << false << QVariant();
    QTest::newRow("real") << QByteArray("f2.5") << true << QVariant(2.5);
    QTest::newRow("real exp") << QByteArray("f-1e3") << true << QVariant(-1000.0);
    QTest::newRow("real nan") << QByteArray("fnan") << false << QVariant();
    QTest::newRow("real inf") << QByteArray("finf") << false << QVariant();
    QTest::newRow("real junk") << QByteArray("f1.2.3") << false << QVariant();
    QTest::newRow("text") << QByteArray("shello world") << true
                          << QVariant(QStringLiteral("hello world"));
    QTest::newRow("text empty") << QByteArray("s") << true << QVariant(QString());
    QTest::newRow("text utf8") << QByteArray("s\xc2\xb5V") << true
                               << QVariant(QString::fromUtf8("\xc2\xb5V"));
    QTest::newRow("bytes") << QByteArray("x02 a1ff") << true
                           << QVariant(QByteArray("\x02\xa1\xff", 3));
    QTest::newRow("bytes odd") << QByteArray("x0a1") << false << QVariant();
    QTest::newRow("bytes non-hex") << QByteArray("xzz") << false << QVariant();
    QTest::newRow("no type") << QByteArray("42") << false << QVariant();
    QTest::newRow("unknown type") << QByteArray("b1") << false << QVariant();
    QTest::newRow("upper-case type") << QByteArray("I1") << false << QVariant();
    QTest::newRow("empty") << QByteArray() << false << QVariant();
}

void TestScriptProtocol::typedValuesParse()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, ok);
    QFETCH(QVariant, value);
    QVariant parsed;
    QCOMPARE(ScriptProtocol::parseTyped(text, &parsed), ok);
    if (ok) {
        QCOMPARE(parsed.typeId(), value.typeId());
        QCOMPARE(parsed, value);
    }
}

void TestScriptProtocol::resultsFormatTyped_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QByteArray>("text");

    QTest::newRow("true") << QVariant(true) << true << QByteArray("i1");
    QTest::newRow("false") << QVariant(false) << true << QByteArray("i0");
    QTest::newRow("int") << QVariant(-12) << true << QByteArray("i-12");
    QTest::newRow("uint") << QVariant(0xFFFFFFFFu) << true << QByteArray("i4294967295");
    QTest::newRow("longlong") << QVariant(qlonglong(1) << 40) << true
                              << QByteArray("i1099511627776");
    QTest::newRow("double") << QVariant(0.1) << true << QByteArray("f0.1");
    QTest::newRow("double whole") << QVariant(50.0) << true << QByteArray("f50");
    QTest::newRow("text") << QVariant(QStringLiteral("V1.2")) << true << QByteArray("sV1.2");
    QTest::newRow("text line ends")
        << QVariant(QStringLiteral("a\r\nb")) << true << QByteArray("sa  b");
    QTest::newRow("bytes") << QVariant(QByteArray("\x02\xa1", 2)) << true << QByteArray("x02a1");
    QTest::newRow("invalid") << QVariant() << false << QByteArray();
    QTest::newRow("list") << QVariant(QStringList{QStringLiteral("a")}) << false << QByteArray();
}

void TestScriptProtocol::resultsFormatTyped()
{
    QFETCH(QVariant, value);
    QFETCH(bool, ok);
    QFETCH(QByteArray, text);
    QByteArray formatted;
    QCOMPARE(ScriptProtocol::formatTyped(value, &formatted), ok);
    if (ok)
        QCOMPARE(formatted, text);
}

void TestScriptProtocol::requestsAnswer_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QString>("call");

    QTest::newRow("set int") << QByteArray("set\tBoard.DIO[EN]\ti1") << QByteArray("ok\n")
                             << "set Board.DIO[EN] qlonglong 1";
    QTest::newRow("set real") << QByteArray("set\tBoard.PWM1_DUTY\tf25.5") << QByteArray("ok\n")
                              << "set Board.PWM1_DUTY double 25.5";
    QTest::newRow("set refused") << QByteArray("set\tBoard.Nothing\ti1") << QByteArray("err\n")
                                 << "set Board.Nothing qlonglong 1";
    QTest::newRow("get real") << QByteArray("get\tBoard.PWM1_DUTY") << QByteArray("f50\n")
                              << "get Board.PWM1_DUTY";
    QTest::newRow("get unknown") << QByteArray("get\tBoard.Nothing") << QByteArray("err\n")
                                 << "get Board.Nothing";
    QTest::newRow("run no argument") << QByteArray("run\tBoard.setForward1") << QByteArray("i1\n")
                                     << "run Board.setForward1 QString ";
    QTest::newRow("run typed argument") << QByteArray("run\topen\ts/dev/pts/3")
                                        << QByteArray("i1\n") << "run open QString /dev/pts/3";
    QTest::newRow("run false answers i0")
        << QByteArray("run\tBoard.nothing") << QByteArray("i0\n") << "run Board.nothing QString ";
    QTest::newRow("run text result") << QByteArray("run\twrite\tsget VER") << QByteArray("sV1.0\n")
                                     << "run write QString get VER";
}

void TestScriptProtocol::requestsAnswer()
{
    QFETCH(QByteArray, line);
    QFETCH(QByteArray, answer);
    QFETCH(QString, call);
    FakeHandler h;
    h.values.insert(QStringLiteral("Board.DIO[EN]"), 1);
    h.values.insert(QStringLiteral("Board.PWM1_DUTY"), 50.0);
    h.results.insert(QStringLiteral("Board.setForward1"), true);
    h.results.insert(QStringLiteral("open"), true);
    h.results.insert(QStringLiteral("Board.nothing"), false);
    h.results.insert(QStringLiteral("write"), QStringLiteral("V1.0"));
    QCOMPARE(ScriptProtocol::answer(line, h), answer);
    QCOMPARE(h.calls, QStringList{call});
}

void TestScriptProtocol::refusedRequestsReachNoHandler_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("unknown verb") << QByteArray("put\tBoard.x\ti1");
    QTest::newRow("verb case") << QByteArray("SET\tBoard.x\ti1");
    QTest::newRow("verb only") << QByteArray("get");
    QTest::newRow("blank separated") << QByteArray("get Board.x");
    QTest::newRow("set two fields") << QByteArray("set\tBoard.x");
    QTest::newRow("set four fields") << QByteArray("set\tBoard.x\ti1\ti2");
    QTest::newRow("set bad value") << QByteArray("set\tBoard.x\tone");
    QTest::newRow("set untyped") << QByteArray("set\tBoard.x\t1");
    QTest::newRow("get three fields") << QByteArray("get\tBoard.x\ti1");
    QTest::newRow("run four fields") << QByteArray("run\tBoard.x\ts\ts");
    QTest::newRow("run bad argument") << QByteArray("run\tset_timeout\t100");
    QTest::newRow("empty name") << QByteArray("get\t");
    QTest::newRow("control char name") << QByteArray("get\tBoard\x01x");
    QTest::newRow("binary") << QByteArray("\x00\xff\xfe\t\x80", 5);
}

void TestScriptProtocol::refusedRequestsReachNoHandler()
{
    QFETCH(QByteArray, line);
    FakeHandler h;
    QCOMPARE(ScriptProtocol::answer(line, h), QByteArray("err\n"));
    QVERIFY2(h.calls.isEmpty(), qPrintable(h.calls.join(QLatin1Char(';'))));
}

QTEST_GUILESS_MAIN(TestScriptProtocol)
#include "tst_scriptprotocol.moc"
