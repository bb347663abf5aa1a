// Time of the Basic applet's "setForward1" against tools/boardsim paced like a serial
// wire, as a ratio to the floor: the wire time of every byte the command sends and
// receives (ten bit times a byte: start, eight data, stop) plus its 50 ms wait. The
// applets are wired and activated as the program does on a connection. "setStop1"
// runs untimed between the runs, so each timed run does the whole sequence.
//
// usage: bench_motor [--runs N] [--warmup N] [--baud N] [--limit RATIO] [--spin]
//                    [--trace]
// Fails (exit 1, "failed") when the median ratio exceeds the limit (default 1.10).
// Each row also splits the run by the log's time stamps: the transactions' wire time
// against their measured time (and the worst single excess), the GUI thread's work
// between transactions, and the gap that holds the 50 ms wait. A blocking client
// replaying the same lines at the end shows what the simulator and machine allow.

#include "Median.h"

#include "AppletInstances.h"
#include "Application.h"
#include "Basic.h"
#include "Board.h"
#include "CallerKey.h"
#include "ControlBoard.h"
#include "HBController.h"
#include "LogKind.h"
#include "PwmVariables.h"
#include "SpiController.h"
#include "SpiRaw.h"
#include "Variable.h"
#include "WatchDog.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QFile>
#include <QLoggingCategory>
#include <QProcess>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr double WaitMs = 50.0; // Board::Delay inside the run sequence

class BoardSim
{
public:
    explicit BoardSim(QStringList args)
    {
        // Quiet: after its first line the simulator writes only to the wire, so its
        // own I/O counters count exactly the wire bytes.
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

    // Bytes the simulator has read from and written to its end of the terminal, from
    // /proc/<pid>/io; false where the kernel does not show them.
    bool ioCounts(qint64* read, qint64* written) const
    {
        QFile file(QStringLiteral("/proc/%1/io").arg(m_process.processId()));
        if (!file.open(QIODevice::ReadOnly))
            return false;
        bool gotRead = false, gotWritten = false;
        for (const QByteArray& line : file.readAll().split('\n')) {
            if (line.startsWith("rchar: "))
                *read = line.mid(7).toLongLong(&gotRead);
            else if (line.startsWith("wchar: "))
                *written = line.mid(7).toLongLong(&gotWritten);
        }
        return gotRead && gotWritten;
    }

private:
    QProcess m_process;
    QString m_path;
};

// The board applets as the program wires them, reached through the program-wide
// pointers; cleared again when it goes.
class Applets
{
public:
    std::unique_ptr<SpiRaw> raw = std::make_unique<SpiRaw>();
    std::unique_ptr<SpiController> spi = std::make_unique<SpiController>();
    std::unique_ptr<WatchDog> watchDog = std::make_unique<WatchDog>();
    std::unique_ptr<Basic> basic = std::make_unique<Basic>();
    std::unique_ptr<Board> board = std::make_unique<Board>();
    std::unique_ptr<HBController> hb = std::make_unique<HBController>();
    std::unique_ptr<Application> application = std::make_unique<Application>();

    explicit Applets(ControlBoard* link)
    {
        AppletInstances::controlBoard = link;
        AppletInstances::spiRaw = raw.get();
        AppletInstances::spiController = spi.get();
        AppletInstances::watchDog = watchDog.get();
        AppletInstances::basic = basic.get();
        AppletInstances::board = board.get();
        AppletInstances::hbController = hb.get();
        AppletInstances::application = application.get();
    }
    ~Applets()
    {
        for (Applet* a : all())
            if (a->isActive())
                a->deactivate();
        AppletInstances::controlBoard = nullptr;
        AppletInstances::spiRaw = nullptr;
        AppletInstances::spiController = nullptr;
        AppletInstances::watchDog = nullptr;
        AppletInstances::basic = nullptr;
        AppletInstances::board = nullptr;
        AppletInstances::hbController = nullptr;
        AppletInstances::application = nullptr;
    }
    QList<Applet*> all() const
    {
        return {basic.get(), board.get(),    hb.get(),         spi.get(),
                raw.get(),   watchDog.get(), application.get()};
    }
    bool setup()
    {
        for (Applet* a : all())
            if (!a->setup())
                return false;
        return true;
    }
    void activate()
    {
        for (Applet* a : all())
            a->activate();
    }
};

// Lines and bytes of one run, from the link's communication log. The log shows each
// line without its line end: a command line leaves as the text plus LF (send() adds
// one; the board also ends a line at CR, so a line sent with CR LF would show up in
// the simulator's counters below), an answer arrives as the text plus CR LF.
struct Traffic
{
    struct Entry
    {
        qint64 ns;
        bool sent;
        int bytes;
        QByteArray line; // as sent, with its LF
    };
    std::vector<Entry> entries;
    QElapsedTimer* clock = nullptr;
    bool recording = false;
    qint64 txBytes = 0;
    qint64 rxBytes = 0;
    int txLines = 0;
    int rxLines = 0;

    void start()
    {
        entries.clear();
        txBytes = rxBytes = 0;
        txLines = rxLines = 0;
        recording = true;
    }
    void onLog(int type, const QString& text)
    {
        if (!recording || (type != LogKind::Transmitted && type != LogKind::Received))
            return;
        const bool sent = type == LogKind::Transmitted;
        const int bytes = int(text.toUtf8().size()) + (sent ? 1 : 2);
        entries.push_back(
            {clock->nsecsElapsed(), sent, bytes, sent ? text.toUtf8() + '\n' : QByteArray()});
        if (sent) {
            txBytes += bytes;
            ++txLines;
        } else {
            rxBytes += bytes;
            ++rxLines;
        }
    }
};

// Where the time of one run went, from the log's time stamps. A transaction runs from
// its first line sent to its last answer; the rest is the GUI thread's own work between
// transactions, the 50 ms wait among it.
struct Breakdown
{
    int transactions = 0;
    double wireMs = 0;      // wire time of the transactions' bytes
    double roundTripMs = 0; // the transactions as measured
    double worstExcessUs = 0;
    double betweenMs = 0;    // between transactions, except the longest gap
    double longestGapMs = 0; // the gap holding the wait
    double edgesMs = 0;      // before the first line and after the last answer
};

Breakdown breakdown(const Traffic& t, qint64 startNs, qint64 endNs, double byteMs)
{
    Breakdown b;
    const auto& e = t.entries;
    qint64 lastEnd = -1;
    double gaps = 0;
    for (size_t i = 0; i < e.size();) {
        const qint64 begin = e[i].ns;
        int bytes = 0;
        while (i < e.size() && e[i].sent)
            bytes += e[i++].bytes;
        qint64 end = begin;
        while (i < e.size() && !e[i].sent) {
            bytes += e[i].bytes;
            end = e[i++].ns;
        }
        ++b.transactions;
        const double wire = bytes * byteMs;
        const double took = double(end - begin) / 1e6;
        b.wireMs += wire;
        b.roundTripMs += took;
        b.worstExcessUs = std::max(b.worstExcessUs, (took - wire) * 1e3);
        if (lastEnd >= 0) {
            const double gap = double(begin - lastEnd) / 1e6;
            gaps += gap;
            b.longestGapMs = std::max(b.longestGapMs, gap);
        }
        lastEnd = end;
    }
    b.betweenMs = gaps - b.longestGapMs;
    if (!e.empty())
        b.edgesMs = double(e.front().ns - startNs + endNs - e.back().ns) / 1e6;
    return b;
}

// The same lines as one run, replayed by a single-threaded client doing blocking
// write and read on the terminal, with a plain sleep for the wait: what any client
// reaches against this simulator on this machine. Returns the time in ms and the
// bytes moved, or a negative time on failure.
double replay(const QString& path, const Traffic& run, qint64* bytes)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    termios tio;
    tcgetattr(fd, &tio);
    cfmakeraw(&tio);
    tcsetattr(fd, TCSANOW, &tio);
    // The wait goes where the run had its longest pause between transactions.
    size_t waitBefore = 0;
    qint64 longest = -1, lastAnswer = -1;
    for (size_t i = 0; i < run.entries.size(); ++i) {
        const Traffic::Entry& e = run.entries[i];
        if (!e.sent) {
            lastAnswer = e.ns;
        } else if (lastAnswer >= 0 && e.ns - lastAnswer > longest) {
            longest = e.ns - lastAnswer;
            waitBefore = i;
        }
    }
    *bytes = 0;
    QElapsedTimer t;
    t.start();
    for (size_t i = 0; i < run.entries.size();) {
        if (i == waitBefore && longest >= 0)
            usleep(useconds_t(WaitMs * 1000));
        QByteArray out;
        while (i < run.entries.size() && run.entries[i].sent)
            out += run.entries[i++].line;
        int answers = 0;
        while (i < run.entries.size() && !run.entries[i].sent) {
            ++answers;
            ++i;
        }
        if (::write(fd, out.constData(), size_t(out.size())) != out.size()) {
            ::close(fd);
            return -1;
        }
        *bytes += out.size();
        char buffer[512];
        while (answers > 0) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n <= 0) {
                ::close(fd);
                return -1;
            }
            *bytes += n;
            answers -= int(std::count(buffer, buffer + n, '\n'));
        }
    }
    const double ms = double(t.nsecsElapsed()) / 1e6;
    ::close(fd);
    return ms;
}

void settle(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // The applets' debug lines would only bury the figures.
    QLoggingCategory::setFilterRules(QStringLiteral("rmx.*.debug=false"));
    QCommandLineParser parser;
    parser.addHelpOption();
    QCommandLineOption runsOption("runs", "Timed runs of setForward1.", "N", "10");
    QCommandLineOption warmupOption("warmup", "Untimed runs first.", "N", "1");
    QCommandLineOption baudOption("baud", "Baud rate of the simulated wire.", "N", "115200");
    QCommandLineOption limitOption("limit", "Highest median time / floor.", "RATIO", "1.10");
    QCommandLineOption spinOption("spin", "Let the simulator pace by busy waiting.");
    QCommandLineOption traceOption("trace", "Print every line of each run with its time.");
    parser.addOptions({runsOption, warmupOption, baudOption, limitOption, spinOption, traceOption});
    parser.process(app);
    const int runs = parser.value(runsOption).toInt();
    const int warmup = parser.value(warmupOption).toInt();
    const int baud = parser.value(baudOption).toInt();
    const double limit = parser.value(limitOption).toDouble();
    const bool trace = parser.isSet(traceOption);
    if (runs < 1 || warmup < 0 || baud < 1 || limit <= 0) {
        std::fprintf(stderr, "bad option value\n");
        return 2;
    }
    const double byteMs = 10.0 * 1000.0 / baud;

    QStringList simArgs{QStringLiteral("--baud"), QString::number(baud)};
    if (parser.isSet(spinOption))
        simArgs << QStringLiteral("--spin");
    BoardSim sim(simArgs);
    if (sim.path().isEmpty()) {
        std::fprintf(stderr, "boardsim did not start\n");
        return 2;
    }

    // The power-on settings of the generators, as a fresh program has them.
    for (int n = 1; n <= 4; ++n) {
        PwmVariables::onOff(n)->setValue(1.0, CallerKey::Internal);
        PwmVariables::frequency(n)->setValue(20000.0, CallerKey::Internal);
        PwmVariables::duty(n)->setValue(50.0, CallerKey::Internal);
        PwmVariables::pinState(n)->setValue(0.0, CallerKey::Internal);
    }
    ControlBoard link;
    link.setBaudRate(baud);
    link.setTimeout(2000);
    Applets applets(&link);
    if (!applets.setup()) {
        std::fprintf(stderr, "applet setup failed\n");
        return 2;
    }
    if (!link.connectBoard(sim.path())) {
        std::fprintf(stderr, "cannot connect to %s\n", qPrintable(sim.path()));
        return 2;
    }
    applets.activate();
    settle(300); // the activation's own delayed transfers

    QElapsedTimer clock;
    clock.start();
    Traffic traffic;
    traffic.clock = &clock;
    link.setCommLogging(true);
    QObject::connect(&link, &ControlBoard::signal_log, &link,
                     [&traffic](int type, const QString& text) { traffic.onLog(type, text); });

    Basic* basic = applets.basic.get();
    const QString forward = QStringLiteral("setForward1");
    const QString stop = QStringLiteral("setStop1");
    const auto run = [basic](const QString& command) {
        return basic->runFunction(command, QVariant(QString())).toBool();
    };

    std::printf("\"setForward1\" against tools/boardsim at %d baud (%.1f us a byte)%s\n", baud,
                byteMs * 1e3, parser.isSet(spinOption) ? ", simulator spinning" : "");
    std::printf("%4s %6s %6s %7s %9s %9s %7s   %s\n", "run", "tx B", "rx B", "trans", "time ms",
                "floor ms", "ratio",
                "transactions: wire/took ms (worst extra), between, wait gap ms");
    std::vector<double> ratios;
    bool countsChecked = false;
    for (int i = -warmup; i < runs; ++i) {
        if (!run(stop)) {
            std::fprintf(stderr, "setStop1 failed\n");
            return 2;
        }
        settle(20);
        qint64 simRead0 = 0, simWritten0 = 0, simRead1 = 0, simWritten1 = 0;
        const bool haveCounts = sim.ioCounts(&simRead0, &simWritten0);
        traffic.start();
        const qint64 t0 = clock.nsecsElapsed();
        const bool ok = run(forward);
        const qint64 t1 = clock.nsecsElapsed();
        traffic.recording = false;
        if (!ok) {
            std::fprintf(stderr, "setForward1 failed\n");
            return 2;
        }
        // The simulator's own counters must agree with the log, or the floor is wrong.
        if (haveCounts && sim.ioCounts(&simRead1, &simWritten1)) {
            const qint64 simRx = simRead1 - simRead0;
            const qint64 simTx = simWritten1 - simWritten0;
            if (simRx != traffic.txBytes || simTx != traffic.rxBytes) {
                std::fprintf(stderr,
                             "byte count mismatch: log %lld sent / %lld received, "
                             "simulator %lld read / %lld written\n",
                             static_cast<long long>(traffic.txBytes),
                             static_cast<long long>(traffic.rxBytes), static_cast<long long>(simRx),
                             static_cast<long long>(simTx));
                return 2;
            }
            countsChecked = true;
        }
        if (traffic.txLines != traffic.rxLines) {
            std::fprintf(stderr, "%d lines sent, %d answers\n", traffic.txLines, traffic.rxLines);
            return 2;
        }
        const double ms = double(t1 - t0) / 1e6;
        const double floorMs = double(traffic.txBytes + traffic.rxBytes) * byteMs + WaitMs;
        const double ratio = ms / floorMs;
        const Breakdown b = breakdown(traffic, t0, t1, byteMs);
        std::printf("%4s %6lld %6lld %7d %9.2f %9.2f %7.3f   %.1f/%.1f (+%.0f us), %.2f, %.2f\n",
                    i < 0 ? "warm" : qPrintable(QString::number(i + 1)),
                    static_cast<long long>(traffic.txBytes),
                    static_cast<long long>(traffic.rxBytes), b.transactions, ms, floorMs, ratio,
                    b.wireMs, b.roundTripMs, b.worstExcessUs, b.betweenMs + b.edgesMs,
                    b.longestGapMs);
        if (trace) {
            for (const Traffic::Entry& e : traffic.entries)
                std::printf("      %9.3f ms %s %3d B\n", double(e.ns - t0) / 1e6,
                            e.sent ? "tx" : "rx", e.bytes);
        }
        if (i >= 0)
            ratios.push_back(ratio);
    }
    run(stop);
    const Traffic last = traffic;
    link.disconnectBoard();

    std::vector<double> reference;
    for (int i = 0; i < 3; ++i) {
        qint64 bytes = 0;
        const double ms = replay(sim.path(), last, &bytes);
        if (ms > 0)
            reference.push_back(ms / (double(bytes) * byteMs + WaitMs));
    }
    if (!reference.empty())
        std::printf("reference: the same lines from a blocking single-threaded client, "
                    "ratio %.3f (median of %d)\n",
                    median(reference), int(reference.size()));

    const double med = median(ratios);
    const double worst = *std::max_element(ratios.begin(), ratios.end());
    std::printf("byte counts %s\n", countsChecked ? "agree with the simulator's own I/O counters"
                                                  : "not checked (no /proc/<pid>/io)");
    std::printf("ratio to the floor: median %.3f, worst %.3f (limit %.2f)\n", med, worst, limit);
    if (med > limit) {
        std::printf("failed\n");
        return 1;
    }
    return 0;
}
