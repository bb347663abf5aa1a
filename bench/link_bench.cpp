// Link benchmark: ControlBoard against tools/boardsim, side by side with a Python
// client using python3-serial and a raw os.read/os.write client, then paced at
// 115200 baud as a fraction of the wire limit. A single-threaded C++ client doing
// blocking read/write runs alongside as the floor any client can reach here.
//
// usage: link_bench [--count N] [--paced-count N] [--python PATH] [--no-python]
//                   [--low-latency]
// --low-latency holds /dev/cpu_dma_latency at 0 for the run (as cyclictest does; needs
// root), so that idle-state exits of the processors do not dominate the figures.

#include "ControlBoard.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

struct Result
{
    bool ok = false;
    double rate = 0;
    double medianUs = 0;
    double p99Us = 0;
};

class BoardSim
{
public:
    explicit BoardSim(QStringList args)
    {
        args << QStringLiteral("--quiet");
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral(RMX_BUILD_DIR "/tools/boardsim"), args);
        m_process.waitForStarted(5000);
        while (!m_process.canReadLine() && m_process.waitForReadyRead(5000)) {
        }
        m_path = QString::fromLocal8Bit(m_process.readLine()).trimmed();
    }
    ~BoardSim()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(3000))
            m_process.kill();
        m_process.waitForFinished(1000);
    }
    QString path() const { return m_path; }

private:
    QProcess m_process;
    QString m_path;
};

Result summarize(std::vector<qint64>& times, qint64 totalNs)
{
    Result r;
    if (times.empty())
        return r; // nothing measured (--count 0)
    std::sort(times.begin(), times.end());
    r.ok = true;
    r.rate = double(times.size()) / (double(totalNs) / 1e9);
    r.medianUs = double(times[times.size() / 2]) / 1e3;
    r.p99Us = double(times[std::min(times.size() - 1, size_t(double(times.size()) * 0.99))]) / 1e3;
    return r;
}

Result controlBoard(const QString& path, int count)
{
    Result r;
    ControlBoard link;
    link.setTimeout(2000);
    if (!link.connectBoard(path)) {
        std::fprintf(stderr, "cannot connect to %s\n", qPrintable(path));
        return r;
    }
    std::vector<qint64> times;
    times.reserve(size_t(count));
    QByteArray frame;
    QElapsedTimer total;
    total.start();
    for (int i = 0; i < count; ++i) {
        const qint64 t0 = total.nsecsElapsed();
        const QString value = QStringLiteral("02%1").arg(i & 0xFFFF, 4, 16, QLatin1Char('0'));
        if (!link.set(QStringLiteral("SPI0CS0DATA"), value.toUpper()) ||
            !link.get(QStringLiteral("SPI0CS0DATA"), &frame)) {
            std::fprintf(stderr, "transaction %d failed\n", i);
            return r;
        }
        times.push_back(total.nsecsElapsed() - t0);
    }
    return summarize(times, total.nsecsElapsed());
}

// Blocking write, then read up to the line end: no threads, no rings.
bool transact(int fd, const QByteArray& line, QByteArray* pending)
{
    if (::write(fd, line.constData(), size_t(line.size())) != line.size())
        return false;
    char buffer[256];
    qsizetype end;
    while ((end = pending->indexOf('\n')) < 0) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0)
            return false;
        pending->append(buffer, n);
    }
    const bool ok = !pending->left(end).contains("err");
    pending->remove(0, end + 1);
    return ok;
}

Result blockingClient(const QString& path, int count)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return {};
    termios tio;
    tcgetattr(fd, &tio);
    cfmakeraw(&tio);
    tcsetattr(fd, TCSANOW, &tio);
    std::vector<qint64> times;
    times.reserve(size_t(count));
    QByteArray pending;
    char set[32];
    QElapsedTimer total;
    total.start();
    for (int i = 0; i < count; ++i) {
        const qint64 t0 = total.nsecsElapsed();
        std::snprintf(set, sizeof set, "set SPI0CS0DATA=02%04X\n", i & 0xFFFF);
        if (!transact(fd, set, &pending) || !transact(fd, "get SPI0CS0DATA\n", &pending)) {
            ::close(fd);
            return {};
        }
        times.push_back(total.nsecsElapsed() - t0);
    }
    const qint64 totalNs = total.nsecsElapsed();
    ::close(fd);
    return summarize(times, totalNs);
}

Result pythonClient(const QString& python, const QString& mode, const QString& path, int count)
{
    Result r;
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(python, {QStringLiteral(RMX_SOURCE_DIR "/bench/py_client.py"), mode, path,
                           QString::number(count)});
    if (!process.waitForFinished(600000) || process.exitCode() != 0) {
        std::fprintf(stderr, "python %s client failed\n", qPrintable(mode));
        return r;
    }
    const QList<QByteArray> f = process.readAllStandardOutput().trimmed().split(' ');
    if (f.size() != 3)
        return r;
    r.ok = true;
    r.rate = f[0].toDouble();
    r.medianUs = f[1].toDouble();
    r.p99Us = f[2].toDouble();
    return r;
}

void print(const char* name, const Result& r)
{
    if (r.ok)
        std::printf("%-28s %10.0f %12.1f %12.1f\n", name, r.rate, r.medianUs, r.p99Us);
    else
        std::printf("%-28s %10s\n", name, "failed");
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    QCommandLineOption countOption("count", "Transactions per client.", "N", "10000");
    QCommandLineOption pacedOption("paced-count", "Transactions at 115200 baud.", "N", "10000");
    QCommandLineOption pythonOption("python", "Python 3 with pyserial.", "PATH");
    QCommandLineOption noPythonOption("no-python", "Skip the Python clients.");
    QCommandLineOption lowLatencyOption("low-latency", "Hold /dev/cpu_dma_latency at 0.");
    parser.addOptions({countOption, pacedOption, pythonOption, noPythonOption, lowLatencyOption});
    parser.process(app);
    int latencyFd = -1;
    if (parser.isSet(lowLatencyOption)) {
        latencyFd = ::open("/dev/cpu_dma_latency", O_WRONLY | O_CLOEXEC);
        const qint32 zero = 0;
        if (latencyFd < 0 || ::write(latencyFd, &zero, sizeof zero) != sizeof zero) {
            std::fprintf(stderr, "cannot hold /dev/cpu_dma_latency at 0\n");
            return 2;
        }
        std::printf("processor idle states limited (/dev/cpu_dma_latency = 0)\n");
    }
    const int count = parser.value(countOption).toInt();
    const int pacedCount = parser.value(pacedOption).toInt();
    QString python = parser.value(pythonOption);
    if (python.isEmpty())
        python = QFile::exists("/usr/bin/python3") ? QStringLiteral("/usr/bin/python3")
                                                   : QStandardPaths::findExecutable("python3");

    std::printf("%d transactions of \"set SPI0CS0DATA=02XXXX\" + \"get SPI0CS0DATA\"\n", count);
    std::printf("%-28s %10s %12s %12s\n", "unpaced client", "trans/s", "median us", "p99 us");
    Result link;
    {
        BoardSim sim({});
        link = controlBoard(sim.path(), count);
        print("ControlBoard", link);
    }
    Result serial, raw;
    if (!parser.isSet(noPythonOption)) {
        {
            BoardSim sim({});
            serial = pythonClient(python, "serial", sim.path(), count);
            print("python3-serial", serial);
        }
        {
            BoardSim sim({});
            raw = pythonClient(python, "raw", sim.path(), count);
            print("python raw os.read/os.write", raw);
        }
        {
            BoardSim sim({});
            print("C++ blocking (reference)", blockingClient(sim.path(), count));
        }
        if (link.ok && serial.ok && raw.ok)
            std::printf("ControlBoard / python3-serial: %.2fx (target >= 2)\n"
                        "ControlBoard / raw python:     %.2fx (target >= 1)\n",
                        link.rate / serial.rate, link.rate / raw.rate);
    }

    // 77 bytes a transaction (23 + 20 for the set and its echo, 16 + 18 for the get
    // and its answer), 10 bit times each.
    const double wireLimit = 115200.0 / 10.0 / 77.0;
    // The simulator busy-waits here so that its own sleeping adds no time to the wire.
    const QStringList pacedArgs{QStringLiteral("--baud"), QStringLiteral("115200"),
                                QStringLiteral("--spin")};
    Result paced, pacedRaw;
    {
        BoardSim sim(pacedArgs);
        paced = controlBoard(sim.path(), pacedCount);
    }
    std::printf("\npaced at 115200 baud, %d transactions\n", pacedCount);
    print("ControlBoard", paced);
    if (!parser.isSet(noPythonOption)) {
        BoardSim sim(pacedArgs);
        pacedRaw = pythonClient(python, "raw", sim.path(), pacedCount);
        print("python raw (reference)", pacedRaw);
    }
    Result pacedBlocking;
    {
        BoardSim sim(pacedArgs);
        pacedBlocking = blockingClient(sim.path(), pacedCount);
        print("C++ blocking (reference)", pacedBlocking);
    }
    std::printf("wire limit %.1f trans/s\n", wireLimit);
    if (paced.ok)
        std::printf("ControlBoard reaches %.1f %% of it (target >= 97 %%)\n",
                    100.0 * paced.rate / wireLimit);
    if (pacedRaw.ok)
        std::printf("python raw reaches %.1f %% of it on the same simulated wire\n",
                    100.0 * pacedRaw.rate / wireLimit);
    if (pacedBlocking.ok)
        std::printf("C++ blocking reaches %.1f %% of it on the same simulated wire\n",
                    100.0 * pacedBlocking.rate / wireLimit);
    if (latencyFd >= 0)
        ::close(latencyFd);
    return link.ok && paced.ok ? 0 : 1;
}
