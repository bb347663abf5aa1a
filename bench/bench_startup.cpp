// Start-up time of the real program: from starting rmx4218 headless to its first answer
// on the scripting pipe. Each run starts the program in a fresh temporary folder (so it
// writes its settings file as on a first start) with its socket there, connects as soon
// as the socket takes connections, sends "get version" and waits for the typed answer
// ("s0.1.0", no line end); then it shuts the program down through the pipe.
//
// usage: bench_startup [--runs N] [--max-ms MS] [--program PATH]
// Prints each run's time and the median; fails (exit 1) when the median is over MS
// (default 250). --program times another build of the program, e.g. an older one.

#include "Median.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int StartLimitMs = 20000; // a start that takes longer has failed
constexpr int ConnectRetryUs = 200;

// A blocking client socket, closed when it goes.
class PipeSocket
{
public:
    ~PipeSocket()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }

    // Tries to connect once; false while the program has not yet made its socket.
    bool tryConnect(const QByteArray& path)
    {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (size_t(path.size()) >= sizeof address.sun_path)
            return false;
        std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
        m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (m_fd >= 0 &&
            ::connect(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
            return true;
        // A failed connect leaves the socket unusable: a fresh one for the next try.
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
        return false;
    }

    bool send(const QByteArray& line)
    {
        // MSG_NOSIGNAL: a program that has gone makes this fail, not end the benchmark.
        return ::send(m_fd, line.constData(), size_t(line.size()), MSG_NOSIGNAL) == line.size();
    }

    // What the program answers, read as it arrives in one piece; empty on time-out.
    QByteArray answer(int timeoutMs)
    {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) != 1)
            return QByteArray();
        char buffer[4096];
        const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
        return n > 0 ? QByteArray(buffer, int(n)) : QByteArray();
    }

private:
    int m_fd = -1;
};

// Ends the program through the pipe, as a script would; killed if that does not work.
void shutDown(QProcess& program, PipeSocket& socket)
{
    if (socket.send("run\tshutdown\n"))
        socket.answer(5000);
    if (!program.waitForFinished(10000)) {
        program.kill();
        program.waitForFinished(5000);
    }
}

// One start: milliseconds to the first answer, or a negative value with a message.
double timeStart(const QString& exe)
{
    QTemporaryDir dir;
    if (!dir.isValid()) {
        std::fprintf(stderr, "no temporary folder\n");
        return -1;
    }
    const QString pipePath = dir.filePath(QStringLiteral("pipe"));
    const QByteArray nativePath = QFile::encodeName(pipePath);
    QProcess program;
    program.setWorkingDirectory(dir.path());
    // Its output only matters when a start fails.
    const QString outputPath = dir.filePath(QStringLiteral("output"));
    program.setProcessChannelMode(QProcess::MergedChannels);
    program.setStandardOutputFile(outputPath);
    const auto failed = [&program, &outputPath](const QString& message) {
        program.kill();
        program.waitForFinished(5000);
        QFile output(outputPath);
        output.open(QIODevice::ReadOnly);
        std::fprintf(stderr, "%s\nprogram output:\n%s\n", qPrintable(message),
                     output.readAll().constData());
        return -1.0;
    };

    QElapsedTimer clock;
    clock.start();
    program.start(exe, {QStringLiteral("--pipe"), pipePath});
    PipeSocket socket;
    while (!socket.tryConnect(nativePath)) {
        // waitForFinished(0) notices a program that has ended without waiting for it.
        if (program.state() == QProcess::NotRunning || program.waitForFinished(0)) {
            const QString why = program.error() == QProcess::FailedToStart
                                    ? program.errorString()
                                    : QStringLiteral("exit code %1").arg(program.exitCode());
            return failed(QStringLiteral("the program ended (%1) before its socket %2 took "
                                         "connections")
                              .arg(why, pipePath));
        }
        if (clock.elapsed() > StartLimitMs)
            return failed(
                QStringLiteral("no socket at %1 after %2 ms").arg(pipePath).arg(StartLimitMs));
        ::usleep(ConnectRetryUs);
    }
    QByteArray answer;
    if (socket.send("get\tversion\n"))
        answer = socket.answer(int(std::max<qint64>(0, StartLimitMs - clock.elapsed())));
    const double ms = double(clock.nsecsElapsed()) / 1e6;
    if (!answer.startsWith('s') || answer.endsWith('\n'))
        return failed(
            QStringLiteral("unexpected answer \"%1\"").arg(QString::fromUtf8(answer.trimmed())));
    shutDown(program, socket);
    return ms;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption runsOption(QStringLiteral("runs"), QStringLiteral("Timed starts."),
                                        QStringLiteral("N"), QStringLiteral("7"));
    const QCommandLineOption maxOption(QStringLiteral("max-ms"),
                                       QStringLiteral("Highest median start-up time."),
                                       QStringLiteral("MS"), QStringLiteral("250"));
    const QCommandLineOption programOption(QStringLiteral("program"),
                                           QStringLiteral("The program to start."),
                                           QStringLiteral("PATH"), QStringLiteral(RMX4218_EXE));
    parser.addOptions({runsOption, maxOption, programOption});
    parser.process(app);
    bool runsOk = false, maxOk = false;
    const int runs = parser.value(runsOption).toInt(&runsOk);
    const double maxMs = parser.value(maxOption).toDouble(&maxOk);
    if (!runsOk || !maxOk || runs < 1 || maxMs <= 0) {
        std::fprintf(stderr, "bad option value\n");
        return 2;
    }
    // Absolute: the program starts in its own temporary folder.
    const QString exe = QFileInfo(parser.value(programOption)).absoluteFilePath();
    // The program inherits it: headless.
    qputenv("QT_QPA_PLATFORM", "offscreen");

    std::printf("start of %s to its first pipe answer\n", qPrintable(exe));
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const double ms = timeStart(exe);
        if (ms < 0)
            return 2;
        std::printf("%4d %8.1f ms\n", i + 1, ms);
        std::fflush(stdout);
        times.push_back(ms);
    }
    const double med = median(times);
    std::printf("median %.1f ms of %d (limit %.0f ms)\n", med, runs, maxMs);
    if (med > maxMs) {
        std::printf("failed\n");
        return 1;
    }
    return 0;
}
