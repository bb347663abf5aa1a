#include "LocalServer.h"
#include "ScriptProtocol.h"

#include <QLocalSocket>
#include <QRandomGenerator>
#include <QtTest>

#include <memory>
#include <vector>

namespace {

// Records the calls. Names starting "Nobody" are unknown; get answers the name unless the
// table holds a value; run "slow" spins the event loop, as a board transaction does.
class Handler : public ScriptHandler
{
public:
    QStringList calls;
    int depth = 0, maxDepth = 0;
    QMap<QString, QVariant> values{
        {"B.duty", 50.0}, {"B.t", "a\r\nb"}, {"B.no", false}, {"write", "V1.0"}};

    bool scriptSet(const QString& name, const QVariant& value) override
    {
        calls << QStringLiteral("set %1 %2 %3").arg(name, value.typeName(), value.toString());
        return !name.startsWith("Nobody");
    }
    QVariant scriptGet(const QString& name) override
    {
        calls << QStringLiteral("get %1").arg(name);
        return name.startsWith("Nobody") ? QVariant() : values.value(name, name);
    }
    QVariant scriptRun(const QString& name, const QVariant& args) override
    {
        maxDepth = qMax(maxDepth, ++depth);
        calls << QStringLiteral("run %1 %2 %3").arg(name, args.typeName(), args.toString());
        if (name == QLatin1String("slow"))
            QTest::qWait(200);
        --depth;
        return name.startsWith("Nobody") ? QVariant() : values.value(name, true);
    }
};

QString uniqueName()
{
    return QStringLiteral("rmx_tst_%1").arg(QRandomGenerator::global()->generate());
}

// Runs in the server's thread, so it never blocks: it turns the event loop.
struct Client
{
    explicit Client(const QString& name)
    {
        socket.connectToServer(name);
        (void)QTest::qWaitFor([this] { return socket.state() == QLocalSocket::ConnectedState; });
    }
    QList<QByteArray> ask(const QByteArray& data, int n = 1) // sends, waits for n answer lines
    {
        socket.write(data);
        (void)QTest::qWaitFor([&] { return (received += socket.readAll()).count('\n') >= n; },
                              3000);
        QList<QByteArray> result;
        for (int end; result.size() < n && (end = received.indexOf('\n')) >= 0;
             received.remove(0, end + 1))
            result << received.left(end + 1);
        return result;
    }
    QLocalSocket socket;
    QByteArray received;
};

} // namespace

// The scripting pipe: the request protocol, then the server on real sockets.
class TestScriptPipe : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void typedValues_data();
    void typedValues();
    void requests_data();
    void requests();
    void badInputAnswersErrAndServingGoesOn();
    void overLongLineDropsOnlyThatClient();
    void manyClientsAreServedOneRequestAtATime();
    void nameInUseIsRefused();

private:
    std::unique_ptr<Handler> m_handler;
    std::unique_ptr<LocalServer> m_server;
    QString m_name;
};

void TestScriptPipe::init()
{
    m_server.reset();
    m_handler = std::make_unique<Handler>();
    m_server = std::make_unique<LocalServer>(m_handler.get());
    m_name = uniqueName();
    QCOMPARE(m_server->listen(m_name), LocalServer::ListenResult::Listening);
}

void TestScriptPipe::typedValues_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QVariant>("value"); // invalid: refused

    QTest::newRow("int") << "i-7" << QVariant(-7LL);
    QTest::newRow("hex") << "i0x1F" << QVariant(31LL);
    QTest::newRow("binary") << "i0b101" << QVariant(5LL);
    QTest::newRow("int junk") << "i12a" << QVariant();
    QTest::newRow("int overflow") << "i99999999999999999999" << QVariant();
    QTest::newRow("real nan") << "fnan" << QVariant();
    QTest::newRow("text utf8") << "s\xc2\xb5V" << QVariant(QString::fromUtf8("\xc2\xb5V"));
    QTest::newRow("bytes") << "x02 a1ff" << QVariant(QByteArray("\x02\xa1\xff"));
    QTest::newRow("bytes odd") << "x0a1" << QVariant();
    QTest::newRow("empty") << "" << QVariant();
}

void TestScriptPipe::typedValues()
{
    QFETCH(QString, text);
    QFETCH(QVariant, value);
    QVariant parsed;
    QCOMPARE(ScriptProtocol::parseTyped(text.toUtf8(), &parsed), value.isValid());
    if (value.isValid()) {
        QCOMPARE(parsed.typeId(), value.typeId());
        QCOMPARE(parsed, value);
    }
}

void TestScriptPipe::requests_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QString>("call"); // empty: the handler must not be reached
    const auto row = [](const char* tag, const char* line, const char* answer, const char* call) {
        QTest::newRow(tag) << QByteArray(line) << QByteArray(answer) << QString(call);
    };
    row("set", "set\tB.x\ti1", "ok\n", "set B.x qlonglong 1");
    row("set refused", "set\tNobody.x\tf2.5", "err\n", "set Nobody.x double 2.5");
    row("get real", "get\tB.duty", "f50\n", "get B.duty");
    row("get text, no line ends", "get\tB.t", "sa  b\n", "get B.t");
    row("get unknown", "get\tNobody.x", "err\n", "get Nobody.x");
    row("run true", "run\tB.go", "i1\n", "run B.go QString ");
    row("run unknown", "run\tNobody.x", "err\n", "run Nobody.x QString ");
    row("run false is i0", "run\tB.no", "i0\n", "run B.no QString ");
    row("run text", "run\twrite\tsget VER", "sV1.0\n", "run write QString get VER");
    row("empty", "", "err\n", "");
    row("unknown verb", "put\tB.x\ti1", "err\n", "");
    row("blank separated", "get B.x", "err\n", "");
    row("set two fields", "set\tB.x", "err\n", "");
    row("set four fields", "set\tB.x\ti1\ti2", "err\n", "");
    row("set untyped", "set\tB.x\t1", "err\n", "");
    row("run bad argument", "run\tset_timeout\t100", "err\n", "");
    row("empty name", "get\t", "err\n", "");
    row("binary", "\x01\xff\xfe\t\x80", "err\n", "");
}

void TestScriptPipe::requests()
{
    QFETCH(QByteArray, line);
    QFETCH(QByteArray, answer);
    QFETCH(QString, call);
    QCOMPARE(ScriptProtocol::answer(line, *m_handler), answer);
    QCOMPARE(m_handler->calls, call.isEmpty() ? QStringList() : QStringList{call});
}

void TestScriptPipe::badInputAnswersErrAndServingGoesOn()
{
    Client c(m_name);
    QByteArray garbage; // 20 lines of binary garbage
    for (int i = 0; i < 20 * 50; ++i)
        garbage += i % 50 == 49 ? '\n' : char(QRandomGenerator::global()->bounded(256) | 1);
    QCOMPARE(c.ask("get\tB.a\nset\tB.b\ti1\r\nset\tB.c\ti0xZZ\n" + garbage + "ru", 23),
             QList<QByteArray>({"sB.a\n", "ok\n"}) + QList<QByteArray>(21, "err\n"));
    QCOMPARE(c.ask("n\tB.d\n"), QList<QByteArray>{"i1\n"}); // the line came in pieces
    QCOMPARE(m_handler->calls, (QStringList{"get B.a", "set B.b qlonglong 1", "run B.d QString "}));
}

void TestScriptPipe::overLongLineDropsOnlyThatClient()
{
    Client bad(m_name), good(m_name);
    const QByteArray tooLong(ScriptProtocol::MaxLineLength + 1, 'b');
    QCOMPARE(bad.ask("get\tB.first\n" + tooLong + "\nget\tB.never\n", 2),
             (QList<QByteArray>{"sB.first\n", "err\n"}));
    QTRY_COMPARE(bad.socket.state(), QLocalSocket::UnconnectedState);
    QCOMPARE(good.ask("get\tB.still\n"), QList<QByteArray>{"sB.still\n"});
    QCOMPARE(m_handler->calls, (QStringList{"get B.first", "get B.still"}));
}

void TestScriptPipe::manyClientsAreServedOneRequestAtATime()
{
    Client leaver(m_name);
    // It goes while its slow request runs; half of a second request is lost.
    leaver.socket.write("run\tslow\nget\tB.partial");
    QTimer::singleShot(50, &leaver.socket, [&leaver] { leaver.socket.abort(); });
    std::vector<std::unique_ptr<Client>> clients(24);
    for (int i = 0; i < 24; ++i) { // their requests arrive while the slow request runs
        clients[i] = std::make_unique<Client>(m_name);
        for (int r = 0; r < 20; ++r)
            clients[i]->socket.write(QStringLiteral("get\tC%1.r%2\n").arg(i).arg(r).toLatin1());
    }
    for (int i = 0; i < 24; ++i) {
        const auto answers = clients[i]->ask({}, 20);
        QCOMPARE(answers.size(), 20);
        QCOMPARE(answers.last(), QStringLiteral("sC%1.r19\n").arg(i).toLatin1());
    }
    QCOMPARE(m_handler->maxDepth, 1);
    QCOMPARE(m_handler->calls.size(), 1 + 24 * 20);
    QVERIFY(!m_handler->calls.contains("get B.partial"));
}

void TestScriptPipe::nameInUseIsRefused()
{
    QVERIFY(LocalServer::isNameInUse(m_name));
    Handler other;
    LocalServer second(&other);
    QCOMPARE(second.listen(m_name), LocalServer::ListenResult::NameInUse);
    Client c(m_name); // the first server keeps the name
    QCOMPARE(c.ask("get\tB.first\n"), QList<QByteArray>{"sB.first\n"});
    QVERIFY(other.calls.isEmpty());
}

QTEST_GUILESS_MAIN(TestScriptPipe)
#include "tst_scriptpipe.moc"
