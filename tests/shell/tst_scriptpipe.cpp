#include "LocalServer.h"
#include "ScriptProtocol.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLocalSocket>
#include <QLockFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int WaitMs = 400;

// Records the calls (bytes in hex). Names starting "Nobody" are unknown; get answers the name
// unless the table holds a value; run "wait" spins the event loop, as the applets' waits do.
// (Other clients served and answered inside such a wait: tst_e2e_applets, where a second
// DemoON is refused and a stop served while a demonstration waits.)
class Handler : public ScriptHandler
{
public:
    QStringList calls;
    QMap<QString, QVariant> values{{"B.duty", 50.0},
                                   {"B.t", "a\r\nb"},
                                   {"B.no", false},
                                   {"write", "V1.0"},
                                   {"big", QString(4096, 'b')}};

    bool scriptSet(const QString& name, const QVariant& value) override
    {
        record("set", name, value);
        return !name.startsWith("Nobody");
    }
    QVariant scriptGet(const QString& name) override
    {
        calls << QStringLiteral("get %1").arg(name);
        return name.startsWith("Nobody") ? QVariant() : values.value(name, name);
    }
    QVariant scriptRun(const QString& name, const QVariant& args) override
    {
        record("run", name, args);
        if (name == QLatin1String("wait")) {
            QEventLoop loop;
            QTimer::singleShot(WaitMs, &loop, &QEventLoop::quit);
            loop.exec();
            calls << QStringLiteral("wait over");
        }
        return name.startsWith("Nobody") ? QVariant() : values.value(name, true);
    }
    void record(const char* verb, const QString& name, const QVariant& value)
    {
        const bool bytes = value.typeId() == QMetaType::QByteArray;
        calls << QStringLiteral("%1 %2 %3 %4")
                     .arg(verb, name, value.typeName(),
                          bytes ? value.toByteArray().toHex() : value.toString());
    }
};

// Runs in the server's thread, so it never blocks: it turns the event loop.
struct Client
{
    explicit Client(const QString& path)
    {
        socket.connectToServer(path);
        (void)QTest::qWaitFor([this] { return socket.state() == QLocalSocket::ConnectedState; },
                              3000);
    }
    // Sends the data, then collects what arrives until `size` bytes came.
    QByteArray ask(const QByteArray& data, qsizetype size, int timeoutMs = 3000)
    {
        socket.write(data);
        (void)QTest::qWaitFor([&] { return (received += socket.readAll()).size() >= size; },
                              timeoutMs);
        return std::exchange(received, {});
    }
    QLocalSocket socket;
    QByteArray received;
};

// A plain socket at the path: bound (closed without unlinking, it is what a program that
// crashed leaves behind) or connected (for what QLocalSocket cannot do: a half-close).
int rawSocket(const QString& path, bool bind)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    qstrncpy(address.sun_path, QFile::encodeName(path).constData(), sizeof address.sun_path);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const auto* at = reinterpret_cast<const sockaddr*>(&address);
    if ((bind ? ::bind(fd, at, sizeof address) : ::connect(fd, at, sizeof address)) == 0)
        return fd;
    ::close(fd);
    return -1;
}

// What stands at a path: its file type and, for a regular file, what it holds.
QByteArray describe(const QString& path)
{
    struct stat st;
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return "nothing";
    QFile file(path);
    if (S_ISREG(st.st_mode) && file.open(QIODevice::ReadOnly))
        return "file " + file.readAll();
    return QByteArray::number(st.st_mode & S_IFMT, 8);
}

// Which file stands at a path (device and inode); {0, 0} for none.
using FileId = std::pair<dev_t, ino_t>;
FileId fileId(const QString& path)
{
    struct stat st;
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return {0, 0};
    return {st.st_dev, st.st_ino};
}

// How the lock file is held, as another program finds it: "free", "held shared" (a shared
// lock can be taken beside the holder's, an exclusive one cannot) or "held exclusively".
QByteArray lockHolders(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return "no lock file";
    QByteArray holders = "free";
    if (::flock(fd, LOCK_SH | LOCK_NB) != 0)
        holders = errno == EWOULDBLOCK ? "held exclusively" : "cannot tell";
    else if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        holders = errno == EWOULDBLOCK ? "held shared" : "cannot tell";
    ::close(fd);
    return holders;
}

} // namespace

// The scripting pipe: the request protocol, then the server on real sockets.
class TestScriptPipe : public QObject
{
    Q_OBJECT
private:
    std::unique_ptr<Handler> m_handler;
    std::unique_ptr<LocalServer> m_server;
    QString m_path;
    QByteArray m_xdg, m_tmp;

private slots:
    void init()
    {
        m_xdg = qgetenv("XDG_RUNTIME_DIR");
        m_tmp = qgetenv("TMPDIR");
        m_handler = std::make_unique<Handler>();
        m_server = std::make_unique<LocalServer>(m_handler.get());
        const quint32 unique = QRandomGenerator::global()->generate();
        QCOMPARE(m_server->listen(QStringLiteral("rmx_tst_%1").arg(unique)),
                 LocalServer::ListenResult::Listening);
        m_path = m_server->fullServerName();
    }

    void cleanup()
    {
        m_server.reset();
        QVERIFY2(!QFile::exists(m_path), "closing removes the socket");
        for (const auto& [name, value] : {std::pair("XDG_RUNTIME_DIR", m_xdg), {"TMPDIR", m_tmp}})
            value.isNull() ? qunsetenv(name) : qputenv(name, value);
    }

    // A typed answer carries no line end; only "ok" and "err" end in one.
    void requests_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("call");
        const auto row = [](const char* tag, const char* line, const char* answer,
                            const char* call) {
            QTest::newRow(tag) << QByteArray(line) << QByteArray(answer) << QString(call);
        };
        row("set int", "set\tB.x\ti-7", "ok\n", "set B.x qlonglong -7");
        row("set hex", "set\tB.x\ti0x1F", "ok\n", "set B.x qlonglong 31");
        row("set binary", "set\tB.x\ti0b101", "ok\n", "set B.x qlonglong 5");
        row("set text utf8", "set\tB.x\ts\xc2\xb5V", "ok\n", "set B.x QString \xc2\xb5V");
        row("set bytes", "set\tB.x\tx02 a1ff", "ok\n", "set B.x QByteArray 02a1ff");
        row("set refused", "set\tNobody.x\tf2.5", "err\n", "set Nobody.x double 2.5");
        row("get real", "get\tB.duty", "f50", "get B.duty");
        row("get text, no line ends", "get\tB.t", "sa  b", "get B.t");
        row("get unknown", "get\tNobody.x", "err\n", "get Nobody.x");
        row("run true", "run\tB.go", "i1", "run B.go QString ");
        row("run unknown", "run\tNobody.x", "err\n", "run Nobody.x QString ");
        row("run false is i0", "run\tB.no", "i0", "run B.no QString ");
        row("run text", "run\twrite\tsget VER", "sV1.0", "run write QString get VER");
    }

    void requests()
    {
        QFETCH(QByteArray, line);
        QFETCH(QByteArray, answer);
        QFETCH(QString, call);
        QCOMPARE(ScriptProtocol::answer(line, *m_handler), answer);
        QCOMPARE(m_handler->calls, QStringList{call});
    }

    // Bad lines answer err without reaching the handler, and serving goes on; an over-long
    // line drops only its client.
    void badInputAnswersErrAndServingGoesOn()
    {
        Client c(m_path), bad(m_path);
        QByteArray malformed = "set\tB.x\ti12a\nset\tB.x\ti99999999999999999999\nset\tB.x\tfnan\n"
                               "set\tB.x\tx0a1\nset\tB.x\t\nset\tB.x\t1\nrun\tset_timeout\t100\n\n"
                               "put\tB.x\ti1\nget B.x\nset\tB.x\nset\tB.x\ti1\ti2\nget\t\n"
                               "get\tB.x\tB.y\n"
                               "\x01\xff\xfe\t\x80\n";
        for (int i = 0; i < 20 * 50; ++i) // 20 lines of binary garbage
            malformed += i % 50 == 49 ? '\n' : char(QRandomGenerator::global()->bounded(256) | 1);
        const QByteArray expected = "sB.aok\n" + QByteArray("err\n").repeated(35);
        QCOMPARE(c.ask("get\tB.a\nset\tB.b\ti1\r\n" + malformed + "ru", expected.size()), expected);
        const QByteArray tooLong(ScriptProtocol::MaxLineLength + 1, 'b');
        QCOMPARE(bad.ask("get\tB.first\n" + tooLong + "\nget\tB.never\n", 12),
                 QByteArray("sB.firsterr\n"));
        QTRY_COMPARE(bad.socket.state(), QLocalSocket::UnconnectedState);
        QCOMPARE(c.ask("n\tB.d\n", 2), QByteArray("i1")); // the line came in pieces
        QCOMPARE(m_handler->calls, (QStringList{"get B.a", "set B.b qlonglong 1", "get B.first",
                                                "run B.d QString "}));
    }

    // A line ends in LF or CR LF and holds up to 64 KiB without its line end; its client is
    // served on. (One byte more: badInputAnswersErrAndServingGoesOn.)
    void lineEndAndLongestLine_data()
    {
        QTest::addColumn<QByteArray>("line"); // with its line end
        QTest::addColumn<QByteArray>("answer");
        const QByteArray set = "set\tB.x\ts";
        const QByteArray longest =
            set + QByteArray(ScriptProtocol::MaxLineLength - set.size(), 'a');
        QTest::newRow("CR LF") << QByteArray("get\tB.x\r\n") << QByteArray("sB.x");
        QTest::newRow("longest") << longest + '\n' << QByteArray("ok\n");
        QTest::newRow("longest, CR LF") << longest + "\r\n" << QByteArray("ok\n");
    }
    void lineEndAndLongestLine()
    {
        QFETCH(QByteArray, line);
        QFETCH(QByteArray, answer);
        Client c(m_path);
        QCOMPARE(c.ask(line + "get\tB.next\n", answer.size() + 7), answer + "sB.next");
        QCOMPARE(m_handler->calls.size(), 2);
    }

    void requestsWaitWhileHeld()
    {
        m_server->hold(true); // start-up
        Client c(m_path);
        QCOMPARE(c.ask("get\tB.a\nget\tB.b\n", 1, 100), QByteArray());
        QVERIFY(m_handler->calls.isEmpty());
        m_server->hold(false);
        QCOMPARE(c.ask({}, 8), QByteArray("sB.asB.b"));
    }

    // A client that closes frees its place at once, even while its request runs; what it
    // queued behind that request is dropped, and so is the half of a line it sent last.
    void clientThatClosesLeavesAtOnce()
    {
        Client leaver(m_path);
        int clientsSoonAfter = -1;
        bool stillRunning = false;
        // Both run inside the wait, as everything else does while it runs.
        QTimer::singleShot(50, &leaver.socket, [&leaver] { leaver.socket.abort(); });
        QTimer::singleShot(50 + 3 * LocalServer::HangUpCheckMs, this, [&] {
            clientsSoonAfter = m_server->clientCount();
            stillRunning = !m_handler->calls.contains("wait over");
        });
        leaver.socket.write("run\twait\n" + QByteArray("get\tB.queued\n").repeated(200) +
                            "get\tB.partial");
        QTRY_VERIFY(m_handler->calls.contains("wait over"));
        QTest::qWait(50);
        QVERIFY(stillRunning);
        QCOMPARE(clientsSoonAfter, 0);
        QCOMPARE(m_handler->calls, QStringList({"run wait QString ", "wait over"}));
    }

    // A client that only ends its sending side (as `socat`, `nc -N` or shutdown(SHUT_WR)
    // do) gets every answer in order, then the connection ends; waiting for it to be
    // answered costs no processor time.
    void halfClosedClientGetsEveryAnswer()
    {
        const int fd = rawSocket(m_path, false);
        const std::clock_t cpuBefore = std::clock();
        const QByteArray requests = "get\tB.first\nrun\twait\nget\tB.last\n";
        QCOMPARE(::write(fd, requests.constData(), size_t(requests.size())), requests.size());
        QCOMPARE(::shutdown(fd, SHUT_WR), 0);
        QByteArray got;
        const auto ended = [&] { // what arrives is kept; true when the server closed
            char buffer[256];
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
            got.append(buffer, qMax<ssize_t>(n, 0));
            return n == 0;
        };
        QVERIFY(QTest::qWaitFor(ended, 3000));
        ::close(fd);
        const double cpuMs = 1000.0 * double(std::clock() - cpuBefore) / CLOCKS_PER_SEC;
        QCOMPARE(got, QByteArray("sB.firsti1sB.last"));
        QCOMPARE(m_server->clientCount(), 0);
        QVERIFY2(cpuMs < WaitMs / 2, qPrintable(QString::number(cpuMs)));
    }

    // A client that sends requests but does not read the answers is not read either once its
    // unsent answers pass the bound; others are served meanwhile; reading, it gets them all.
    void clientThatDoesNotReadIsNotReadEither()
    {
        constexpr int Requests = 2000;
        const qsizetype answerSize = 1 + m_handler->values.value("big").toString().size();
        Client flood(m_path), other(m_path);
        flood.socket.setReadBufferSize(4096);
        flood.socket.write(QByteArray("get\tbig\n").repeated(Requests));
        QTest::qWait(300);
        const qsizetype served = m_handler->calls.size();
        QVERIFY2(served * answerSize < 2 * (LocalServer::MaxUnsentBytes + 1024 * 1024),
                 qPrintable(QString::number(served)));
        QElapsedTimer t;
        t.start();
        QCOMPARE(other.ask("get\tB.x\n", 4), QByteArray("sB.x"));
        QVERIFY(t.elapsed() < 500);
        flood.socket.setReadBufferSize(0);
        QCOMPARE(flood.ask({}, Requests * answerSize, 20000).size(), Requests * answerSize);
        QCOMPARE(m_handler->calls.count("get big"), Requests);
    }

    // Connections beyond the cap are closed at once; every client served gets its own
    // answers, in order; a place that is freed is taken again.
    void clientsBeyondTheCapAreRefused()
    {
        std::vector<std::unique_ptr<Client>> clients;
        for (int i = 0; i < LocalServer::MaxClients + 3; ++i)
            clients.push_back(std::make_unique<Client>(m_path));
        const auto served = [](const std::unique_ptr<Client>& c) {
            return c->socket.state() == QLocalSocket::ConnectedState;
        };
        QTRY_COMPARE(std::count_if(clients.begin(), clients.end(), served),
                     LocalServer::MaxClients);
        QList<QByteArray> expected(clients.size());
        for (size_t i = 0; i < clients.size(); ++i) {
            for (int r = 0; r < 20 && served(clients[i]); ++r) {
                const QByteArray name = QStringLiteral("C%1.r%2").arg(i).arg(r).toLatin1();
                clients[i]->socket.write("get\t" + name + '\n');
                expected[i] += 's' + name;
            }
        }
        for (size_t i = 0; i < clients.size(); ++i)
            QCOMPARE(clients[i]->ask({}, expected.at(i).size()), expected.at(i));
        clients.clear();
        QTRY_COMPARE(m_server->clientCount(), 0);
        Client late(m_path);
        QCOMPARE(late.ask("get\tB.y\n", 4), QByteArray("sB.y"));
    }

    // Accepting fails while the process has no descriptor left; the pipe keeps its name and
    // serves again as soon as descriptors are free.
    void runningOutOfDescriptorsKeepsThePipe()
    {
        rlimit normal;
        QVERIFY(getrlimit(RLIMIT_NOFILE, &normal) == 0);
        rlimit low = normal;
        const QDir open(QStringLiteral("/proc/self/fd"));
        low.rlim_cur = rlim_t(open.entryList(QDir::Files | QDir::System).size() + 9);
        QVERIFY(setrlimit(RLIMIT_NOFILE, &low) == 0);
        {
            QLocalSocket held[12];
            for (QLocalSocket& socket : held) {
                socket.connectToServer(m_path);
                QTest::qWait(10);
            }
            QTest::qWait(200);
            QVERIFY(m_server->clientCount() < 12);
        }
        QVERIFY(setrlimit(RLIMIT_NOFILE, &normal) == 0);
        QVERIFY(QFile::exists(m_path));
        Client c(m_path);
        QCOMPARE(c.ask("get\tB.x\n", 4), QByteArray("sB.x"));
    }

    void oneServerOwnsTheName_data()
    {
        QTest::addColumn<QString>("at");   // the socket "pipe" or its lock file "pipe.lock"
        QTest::addColumn<QString>("kind"); // what stands there first
        QTest::addColumn<LocalServer::ListenResult>("result");
        QTest::addColumn<QString>("says"); // part of the refusal
        using R = LocalServer::ListenResult;
        const auto row = [](const char* tag, const char* at, const char* kind, R result,
                            const char* says) {
            QTest::newRow(tag) << QString(at) << QString(kind) << result << QString(says);
        };
        row("nothing", "pipe", "", R::Listening, "");
        row("socket of a program that ended", "pipe", "socket", R::Listening, "");
        row("lock of a program that ended", "pipe.lock", "lock", R::Listening, "");
        row("a program that takes no lock", "pipe", "listener", R::NameInUse, "");
        row("regular file", "pipe", "file", R::Failed, "a regular file");
        row("folder", "pipe", "folder", R::Failed, "a folder");
        // The lock file: whatever a regular one holds, only a live owner keeps the name;
        // anything else there is refused without being opened in a way that could block.
        row("empty lock, an hour old", "pipe.lock", "empty", R::Listening, "");
        row("lock holding garbage", "pipe.lock", "file", R::Listening, "");
        row("FIFO at the lock", "pipe.lock", "fifo", R::Failed, "a FIFO");
        row("dangling link at the lock", "pipe.lock", "link", R::Failed, "a symbolic link");
        row("folder at the lock", "pipe.lock", "folder", R::Failed, "a folder");
    }

    void oneServerOwnsTheName()
    {
        QFETCH(QString, at);
        QFETCH(QString, kind);
        QFETCH(LocalServer::ListenResult, result);
        QFETCH(QString, says);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("pipe")), target = dir.filePath(at);
        const QByteArray targetName = QFile::encodeName(target);
        int listener = -1;
        if (kind == "file" || kind == "empty") {
            QFile file(target);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(kind == "file" ? "\xff\x01 not a process\n" : "");
            file.close();
            const timeval hourAgo[2] = {{time(nullptr) - 3600, 0}, {time(nullptr) - 3600, 0}};
            QVERIFY(::utimes(targetName.constData(), hourAgo) == 0);
        } else if (kind == "folder") {
            QVERIFY(QDir().mkdir(target));
        } else if (kind == "fifo") {
            QVERIFY(::mkfifo(targetName.constData(), 0600) == 0);
        } else if (kind == "link") {
            QVERIFY(QFile::link(dir.filePath("nowhere"), target));
        } else if (kind == "socket") {
            QVERIFY(::close(rawSocket(target, true)) == 0);
        } else if (kind == "listener") {
            listener = rawSocket(target, true);
            QVERIFY(::listen(listener, 1) == 0);
        } else if (kind == "lock") {
            // Locked by a process that ended without unlocking.
            const pid_t child = fork();
            if (child == 0) {
                QLockFile lock(target);
                _exit(lock.tryLock(0) ? 0 : 1);
            }
            int status = -1;
            QVERIFY(child > 0 && waitpid(child, &status, 0) == child && status == 0);
        }
        const QByteArray found = describe(target);
        QVERIFY(kind.isEmpty() || found != "nothing");

        LocalServer server(m_handler.get());
        QCOMPARE(server.listen(path), result);
        if (listener >= 0)
            ::close(listener);
        if (result == LocalServer::ListenResult::Listening) {
            Client c(path);
            QCOMPARE(c.ask("get\tB.x\n", 4), QByteArray("sB.x"));
            // While it serves, nobody else takes the name, whatever they find there.
            LocalServer second(m_handler.get());
            QCOMPARE(second.listen(path), LocalServer::ListenResult::NameInUse);
            QVERIFY(QFile::exists(path));
            QVERIFY(QFile::exists(path + ".lock")); // the refused one leaves the owner's lock
            server.close();
            QVERIFY(!QFile::exists(path) && !QFile::exists(path + ".lock"));
        } else {
            const QString error = server.errorString();
            QVERIFY2(error.contains(path) && error.contains(says), qPrintable(error));
            QCOMPARE(describe(target), found); // left alone
        }
    }

    // The lock alone keeps the name. A second program is refused while the first holds
    // it, also when the first's socket does not answer (removed, or a dead socket in its
    // place); on leaving, it leaves the first's lock file where it is, still held, and
    // held exclusively. (The first, waiting for the second to end, is the busy owner.)
    void lockKeepsTheNameWithoutItsSocket_data()
    {
        QTest::addColumn<QString>("socket"); // what stands at the socket's path
        QTest::newRow("the first's socket") << "first";
        QTest::newRow("socket removed") << "removed";
        QTest::newRow("dead socket in its place") << "dead";
    }

    void lockKeepsTheNameWithoutItsSocket()
    {
        QFETCH(QString, socket);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("pipe")), lockPath = path + ".lock";
        LocalServer first(m_handler.get());
        QCOMPARE(first.listen(path), LocalServer::ListenResult::Listening);
        const QByteArray owner = describe(lockPath);
        QVERIFY2(owner.startsWith("file " + QByteArray::number(::getpid()) + '\n'),
                 owner.constData());
        const FileId lockFile = fileId(lockPath);
        if (socket != "first") {
            QVERIFY(QFile::remove(path));
            if (socket == "dead")
                QVERIFY(::close(rawSocket(path, true)) == 0);
        }
        const QByteArray found = describe(path);

        // The second program: its listen() result as its exit code, 9 for a refusal that
        // does not name the pipe.
        const pid_t child = fork();
        if (child == 0) {
            int code = 0;
            {
                LocalServer second(nullptr);
                const LocalServer::ListenResult result = second.listen(path);
                code = int(result);
                if (result == LocalServer::ListenResult::NameInUse &&
                    !second.errorString().contains(path))
                    code = 9;
            }
            _exit(code);
        }
        int status = -1;
        QVERIFY(child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), int(LocalServer::ListenResult::NameInUse));

        QCOMPARE(describe(lockPath), owner);
        QVERIFY(fileId(lockPath) == lockFile);
        QCOMPARE(lockHolders(lockPath), QByteArray("held exclusively"));
        QCOMPARE(describe(path), found); // what stands at the socket's path is left alone
        if (socket == "first") {
            Client c(path);
            QCOMPARE(c.ask("get\tB.x\n", 4), QByteArray("sB.x"));
        }
        first.close();
        QVERIFY(!QFile::exists(lockPath));
    }

    void socketFolderIsPrivate_data()
    {
        QTest::addColumn<bool>("runtimeDir"); // XDG_RUNTIME_DIR set, else the temp folder
        QTest::addColumn<int>("mode");        // of the folder found there; -1: none, 0: a link
        QTest::addColumn<QString>("refused"); // part of the message; empty: listens
        QTest::newRow("runtime folder") << true << 0700 << "";
        QTest::newRow("runtime folder open to others") << true << 0755 << "open to other users";
        QTest::newRow("runtime folder open to the group") << true << 0750 << "open to other users";
        QTest::newRow("runtime folder the group may enter")
            << true << 0710 << "open to other users";
        QTest::newRow("temp folder, made") << false << -1 << "";
        QTest::newRow("temp folder, found") << false << 0700 << "";
        QTest::newRow("temp folder open to others") << false << 0777 << "open to other users";
        QTest::newRow("temp folder open to the group") << false << 0770 << "open to other users";
        QTest::newRow("temp folder is a link") << false << 0 << "a symbolic link";
    }

    void socketFolderIsPrivate()
    {
        QFETCH(bool, runtimeDir);
        QFETCH(int, mode);
        QFETCH(QString, refused);
        QTemporaryDir base;
        const QString name = QStringLiteral("RMX_tst");
        const QString folder = runtimeDir
                                   ? base.filePath("run")
                                   : base.filePath(QStringLiteral("rmx4218-%1").arg(geteuid()));
        qputenv("TMPDIR", QFile::encodeName(base.path()));
        runtimeDir ? qputenv("XDG_RUNTIME_DIR", QFile::encodeName(folder))
                   : qunsetenv("XDG_RUNTIME_DIR");
        if (mode == 0) {
            QVERIFY(QDir().mkdir(base.filePath("elsewhere")) &&
                    QFile::link(base.filePath("elsewhere"), folder));
        } else if (mode > 0) {
            QVERIFY(QDir().mkdir(folder) &&
                    ::chmod(QFile::encodeName(folder).constData(), mode) == 0);
        }
        QCOMPARE(LocalServer::socketPath(name), folder + '/' + name);

        LocalServer server(m_handler.get());
        QCOMPARE(server.listen(name), refused.isEmpty() ? LocalServer::ListenResult::Listening
                                                        : LocalServer::ListenResult::Failed);
        QVERIFY2(server.errorString().contains(refused), qPrintable(server.errorString()));
        if (!refused.isEmpty())
            return;
        struct stat st;
        QVERIFY(::lstat(QFile::encodeName(folder).constData(), &st) == 0);
        QCOMPARE(st.st_mode & 0777, 0700u);
        QVERIFY(LocalServer::isNameInUse(name));
        Client c(folder + '/' + name);
        QCOMPARE(c.ask("get\tB.x\n", 4), QByteArray("sB.x"));
    }
};

QTEST_GUILESS_MAIN(TestScriptPipe)
#include "tst_scriptpipe.moc"
