#include "LocalServer.h"
#include "ScriptProtocol.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLocalSocket>
#include <QRandomGenerator>
#include <QTimer>
#include <QtTest>

#include <memory>
#include <vector>

#ifdef Q_OS_UNIX
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#endif

namespace {

// get: the name as text; set: names starting "ok" succeed; run "slow" spins the event
// loop for a while, as a board transaction or a wait does.
class Handler : public ScriptHandler
{
public:
    int depth = 0;
    int maxDepth = 0;
    QStringList served;

    bool scriptSet(const QString& name, const QVariant&) override
    {
        served << name;
        return name.startsWith(QLatin1String("ok"));
    }
    QVariant scriptGet(const QString& name) override
    {
        served << name;
        return name;
    }
    QVariant scriptRun(const QString& name, const QVariant&) override
    {
        ++depth;
        maxDepth = qMax(maxDepth, depth);
        served << name;
        if (name == QLatin1String("slow")) {
            QEventLoop loop;
            QTimer::singleShot(200, &loop, &QEventLoop::quit);
            loop.exec();
        }
        --depth;
        return true;
    }
};

QString uniqueName()
{
    return QStringLiteral("rmx_tst_%1_%2")
        .arg(QCoreApplication::applicationPid())
        .arg(QRandomGenerator::global()->generate());
}

// The client runs in the server's thread, so it never blocks: it turns the event loop.
class Client
{
public:
    explicit Client(const QString& name) { socket.connectToServer(name); }
    bool connected()
    {
        QElapsedTimer t;
        t.start();
        while (socket.state() != QLocalSocket::ConnectedState && t.elapsed() < 2000)
            QTest::qWait(5);
        return socket.state() == QLocalSocket::ConnectedState;
    }
    void send(const QByteArray& data)
    {
        socket.write(data);
        socket.flush();
    }
    // Waits for n answer lines.
    QList<QByteArray> lines(int n, int timeoutMs = 3000)
    {
        QElapsedTimer t;
        t.start();
        while (received.count('\n') < n && t.elapsed() < timeoutMs) {
            QTest::qWait(5);
            received += socket.readAll();
        }
        received += socket.readAll();
        QList<QByteArray> result;
        while (result.size() < n) {
            const int end = received.indexOf('\n');
            if (end < 0)
                break;
            result << received.left(end + 1);
            received.remove(0, end + 1);
        }
        return result;
    }
    QLocalSocket socket;
    QByteArray received;
};

} // namespace

class TestLocalServer : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void answersLinesInOrder();
    void badInputAnswersErrAndKeepsServing_data();
    void badInputAnswersErrAndKeepsServing();
    void lineMayArriveInPieces();
    void overLongLineDropsOnlyThatClient();
    void overLongLineAfterGoodLineAnswersBoth();
    void binaryGarbageAnswersErrPerLine();
    void clientLeavingMidRequestHarmsNoOne();
    void requestsAreServedOneAtATime();
    void manyClientsEachGetTheirAnswers();
    void heldRequestsWaitAndKeepTheirOrder();
    void secondServerOnSameNameIsRefused();
    void staleNameIsTakenOver();
    void pipeIsOpenOnlyToItsUser();

private:
    std::unique_ptr<Handler> m_handler;
    std::unique_ptr<LocalServer> m_server;
    QString m_name;
};

void TestLocalServer::init()
{
    m_handler = std::make_unique<Handler>();
    m_server = std::make_unique<LocalServer>(m_handler.get());
    m_name = uniqueName();
    QCOMPARE(m_server->listen(m_name), LocalServer::ListenResult::Listening);
}

void TestLocalServer::cleanup()
{
    m_server.reset();
    m_handler.reset();
}

void TestLocalServer::answersLinesInOrder()
{
    Client c(m_name);
    QVERIFY(c.connected());
    c.send("get\tB.a\nset\tok.b\ti1\nset\tno.c\ti2\r\nrun\tB.d\n");
    const auto answers = c.lines(4);
    QCOMPARE(answers, (QList<QByteArray>{"sB.a\n", "ok\n", "err\n", "i1\n"}));
    QCOMPARE(m_handler->served, (QStringList{"B.a", "ok.b", "no.c", "B.d"}));
}

void TestLocalServer::badInputAnswersErrAndKeepsServing_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::newRow("unknown verb") << QByteArray("fetch\tB.a");
    QTest::newRow("set missing value") << QByteArray("set\tok.a");
    QTest::newRow("set extra field") << QByteArray("set\tok.a\ti1\ti2");
    QTest::newRow("get extra field") << QByteArray("get\tB.a\ts");
    QTest::newRow("bad typed value") << QByteArray("set\tok.a\ti0xZZ");
    QTest::newRow("empty line") << QByteArray("");
    QTest::newRow("only tabs") << QByteArray("\t\t");
    QTest::newRow("NUL bytes") << QByteArray("get\0\tB.a", 8);
}

void TestLocalServer::badInputAnswersErrAndKeepsServing()
{
    QFETCH(QByteArray, line);
    Client c(m_name);
    QVERIFY(c.connected());
    c.send(line + "\nget\tB.after\n");
    QCOMPARE(c.lines(2), (QList<QByteArray>{"err\n", "sB.after\n"}));
    QCOMPARE(m_handler->served, QStringList{"B.after"});
}

void TestLocalServer::lineMayArriveInPieces()
{
    Client c(m_name);
    QVERIFY(c.connected());
    c.send("ge");
    QTest::qWait(30);
    c.send("t\tB.sp");
    QTest::qWait(30);
    c.send("lit\n");
    QCOMPARE(c.lines(1), QList<QByteArray>{"sB.split\n"});
}

void TestLocalServer::overLongLineDropsOnlyThatClient()
{
    Client bad(m_name);
    Client good(m_name);
    QVERIFY(bad.connected());
    QVERIFY(good.connected());
    bad.send(QByteArray(ScriptProtocol::MaxLineLength + 100, 'a'));
    QCOMPARE(bad.lines(1), QList<QByteArray>{"err\n"});
    QTRY_COMPARE(bad.socket.state(), QLocalSocket::UnconnectedState);
    good.send("get\tB.still\n");
    QCOMPARE(good.lines(1), QList<QByteArray>{"sB.still\n"});
    QVERIFY(m_server->isListening());
}

void TestLocalServer::overLongLineAfterGoodLineAnswersBoth()
{
    Client c(m_name);
    QVERIFY(c.connected());
    c.send("get\tB.first\n" + QByteArray(ScriptProtocol::MaxLineLength + 1, 'b') +
           "\nget\tB.never\n");
    QCOMPARE(c.lines(2), (QList<QByteArray>{"sB.first\n", "err\n"}));
    QTRY_COMPARE(c.socket.state(), QLocalSocket::UnconnectedState);
    QCOMPARE(m_handler->served, QStringList{"B.first"});
}

void TestLocalServer::binaryGarbageAnswersErrPerLine()
{
    Client c(m_name);
    QVERIFY(c.connected());
    QByteArray garbage;
    auto* rng = QRandomGenerator::global();
    for (int line = 0; line < 20; ++line) {
        for (int i = 0; i < 50; ++i) {
            char b = char(rng->bounded(256));
            if (b == '\n')
                b = '\x7f';
            garbage += b;
        }
        garbage += '\n';
    }
    c.send(garbage);
    const auto answers = c.lines(20);
    QCOMPARE(answers.size(), 20);
    for (const QByteArray& a : answers)
        QCOMPARE(a, QByteArray("err\n"));
    c.send("get\tB.after\n");
    QCOMPARE(c.lines(1), QList<QByteArray>{"sB.after\n"});
}

void TestLocalServer::clientLeavingMidRequestHarmsNoOne()
{
    {
        Client leaver(m_name);
        QVERIFY(leaver.connected());
        // The client goes while its slow request runs; half of a second request is lost.
        QTimer::singleShot(50, &leaver.socket, [&leaver] { leaver.socket.abort(); });
        leaver.send("run\tslow\nget\tB.partial");
        QTest::qWait(400);
    }
    Client c(m_name);
    QVERIFY(c.connected());
    c.send("get\tB.next\n");
    QCOMPARE(c.lines(1), QList<QByteArray>{"sB.next\n"});
    QCOMPARE(m_handler->served, (QStringList{"slow", "B.next"}));
}

void TestLocalServer::requestsAreServedOneAtATime()
{
    Client a(m_name);
    Client b(m_name);
    QVERIFY(a.connected());
    QVERIFY(b.connected());
    // b's request arrives while a's slow request spins the event loop.
    QTimer::singleShot(50, &b.socket, [&b] { b.send("run\tquick\n"); });
    a.send("run\tslow\n");
    QCOMPARE(b.lines(1), QList<QByteArray>{"i1\n"});
    QCOMPARE(a.lines(1), QList<QByteArray>{"i1\n"});
    QCOMPARE(m_handler->maxDepth, 1);
    QCOMPARE(m_handler->served, (QStringList{"slow", "quick"}));
}

void TestLocalServer::manyClientsEachGetTheirAnswers()
{
    constexpr int Clients = 25;
    constexpr int Requests = 20;
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < Clients; ++i) {
        clients.push_back(std::make_unique<Client>(m_name));
        QVERIFY(clients.back()->connected());
    }
    for (int i = 0; i < Clients; ++i) {
        QByteArray batch;
        for (int r = 0; r < Requests; ++r)
            batch += QStringLiteral("get\tC%1.r%2\n").arg(i).arg(r).toLatin1();
        clients[i]->send(batch);
    }
    for (int i = 0; i < Clients; ++i) {
        const auto answers = clients[i]->lines(Requests);
        QCOMPARE(answers.size(), Requests);
        for (int r = 0; r < Requests; ++r)
            QCOMPARE(answers[r], QStringLiteral("sC%1.r%2\n").arg(i).arg(r).toLatin1());
    }
    QCOMPARE(m_handler->served.size(), Clients * Requests);
}

void TestLocalServer::heldRequestsWaitAndKeepTheirOrder()
{
    m_server->hold(true); // as during start-up
    Client a(m_name);
    Client b(m_name);
    QVERIFY(a.connected());
    QVERIFY(b.connected());
    a.send("get\tA.1\n");
    b.send("get\tB.1\n");
    a.send("get\tA.2\n");
    QTest::qWait(100);
    QVERIFY(m_handler->served.isEmpty());
    QCOMPARE(a.socket.bytesAvailable(), 0);
    m_server->hold(false);
    QCOMPARE(a.lines(2), (QList<QByteArray>{"sA.1\n", "sA.2\n"}));
    QCOMPARE(b.lines(1), QList<QByteArray>{"sB.1\n"});
    // Each client's lines in its order (clients' data may be read in any order).
    QCOMPARE(m_handler->served.size(), 3);
    QVERIFY(m_handler->served.indexOf("A.1") < m_handler->served.indexOf("A.2"));
    QVERIFY(m_handler->served.contains("B.1"));
}

void TestLocalServer::secondServerOnSameNameIsRefused()
{
    QVERIFY(LocalServer::isNameInUse(m_name));
    Handler other;
    LocalServer second(&other);
    QCOMPARE(second.listen(m_name), LocalServer::ListenResult::NameInUse);
    QVERIFY(!second.errorString().isEmpty());
    Client c(m_name); // the first server still owns the name
    QVERIFY(c.connected());
    c.send("get\tB.first\n");
    QCOMPARE(c.lines(1), QList<QByteArray>{"sB.first\n"});
    QVERIFY(other.served.isEmpty());
}

void TestLocalServer::staleNameIsTakenOver()
{
#ifdef Q_OS_UNIX
    // What a crashed instance leaves behind: a socket file nobody accepts on.
    const QString name = uniqueName();
    const QByteArray path = QDir(QDir::tempPath()).absoluteFilePath(name).toLocal8Bit();
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    QVERIFY(fd >= 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    qstrncpy(addr.sun_path, path.constData(), sizeof(addr.sun_path));
    QCOMPARE(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
    ::close(fd);
    QVERIFY(QFile::exists(QString::fromLocal8Bit(path)));
    QVERIFY(!LocalServer::isNameInUse(name));

    Handler h;
    LocalServer server(&h);
    QCOMPARE(server.listen(name), LocalServer::ListenResult::Listening);
    Client c(name);
    QVERIFY(c.connected());
    c.send("get\tB.x\n");
    QCOMPARE(c.lines(1), QList<QByteArray>{"sB.x\n"});
#else
    QSKIP("stale socket files exist only on Unix");
#endif
}

void TestLocalServer::pipeIsOpenOnlyToItsUser()
{
#ifdef Q_OS_UNIX
    const QFileInfo socketFile(QDir(QDir::tempPath()).absoluteFilePath(m_name));
    QVERIFY(socketFile.exists());
    const QFile::Permissions others = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup |
                                      QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
    QCOMPARE(socketFile.permissions() & others, QFile::Permissions());
#else
    QSKIP("checked through the file mode on Unix");
#endif
}

QTEST_GUILESS_MAIN(TestLocalServer)
#include "tst_localserver.moc"
