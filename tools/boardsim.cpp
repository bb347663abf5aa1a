// The simulated board served on a pseudo-terminal, so the real serial code can talk
// to it. Prints the device path as its first line, then "RX <line>" for every
// command line received. Switches pace it like a real wire or make it misbehave;
// commands on its standard input and two signals change its behaviour at a chosen
// moment, and it reports each change, so a test can tell that the fault is in place.

#include "SimulatedBoard.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QStringList>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

volatile sig_atomic_t g_stop = 0;
// Set by SIGUSR1 / SIGUSR2: the board falls silent, or mute, from the next line on.
volatile sig_atomic_t g_silentNext = 0;
volatile sig_atomic_t g_muteNext = 0;

void onSignal(int)
{
    g_stop = 1;
}

void onFaultSignal(int signalNumber)
{
    if (signalNumber == SIGUSR1)
        g_silentNext = 1;
    else
        g_muteNext = 1;
}

struct Options
{
    long baud = 0;
    long silentAfter = -1;
    long exitAfter = -1;
    long noEolAfter = -1;
    long overlongAfter = -1;
    long garbleLine = -1;
    bool noAck = false;
    bool garbage = false;
    bool quiet = false;
    bool spin = false;
};

bool g_spin = false;

void usage()
{
    std::fprintf(stderr,
                 "usage: boardsim [--baud N] [--quiet] [--spin] [--no-ack] [--garbage]\n"
                 "                [--silent-after N] [--exit-after N] [--no-eol-after N]\n"
                 "                [--overlong-after N] [--garble-line N]\n"
                 "  --baud N           pace reading and writing like a wire of N baud\n"
                 "  --quiet            do not print the received lines\n"
                 "  --spin             poll and pace by busy waiting, so that the simulator's\n"
                 "                     own wake-up latency does not count (benchmarks)\n"
                 "  --no-ack           never answer the keep-alive ENQ\n"
                 "  --garbage          put invalid bytes before every answer\n"
                 "  --silent-after N   answer N lines, then nothing at all (no ACK either)\n"
                 "  --exit-after N     answer N lines, exit when the next one arrives\n"
                 "  --no-eol-after N   answer N lines, then answers without line end\n"
                 "  --overlong-after N answer N lines, then put a 6000-byte line before\n"
                 "                     every answer\n"
                 "  --garble-line N    answer line N with its last character replaced by '?'\n"
                 "signals, for faults at a chosen moment:\n"
                 "  SIGUSR1            from the next line on, answer nothing at all\n"
                 "  SIGUSR2            from the next line on, answer no line (ENQ still ACK)\n"
                 "  (it prints SILENT or MUTE when the first line goes unanswered so)\n"
                 "commands on standard input, for lines received after them (each\n"
                 "acknowledged with \"OK <command>\"):\n"
                 "  delay MS           answer every line MS ms late (ENQ still at once)\n"
                 "  delay-reads MS     answer \"get SPI0CS0DATA\" MS ms late\n");
}

bool parse(int argc, char** argv, Options* o)
{
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        auto number = [&](long* target) {
            if (i + 1 >= argc)
                return false;
            char* end = nullptr;
            *target = std::strtol(argv[++i], &end, 10);
            return *end == '\0' && *target >= 0;
        };
        bool ok = true;
        if (!std::strcmp(a, "--baud"))
            ok = number(&o->baud);
        else if (!std::strcmp(a, "--silent-after"))
            ok = number(&o->silentAfter);
        else if (!std::strcmp(a, "--exit-after"))
            ok = number(&o->exitAfter);
        else if (!std::strcmp(a, "--no-eol-after"))
            ok = number(&o->noEolAfter);
        else if (!std::strcmp(a, "--overlong-after"))
            ok = number(&o->overlongAfter);
        else if (!std::strcmp(a, "--garble-line"))
            ok = number(&o->garbleLine);
        else if (!std::strcmp(a, "--no-ack"))
            o->noAck = true;
        else if (!std::strcmp(a, "--garbage"))
            o->garbage = true;
        else if (!std::strcmp(a, "--quiet"))
            o->quiet = true;
        else if (!std::strcmp(a, "--spin"))
            o->spin = true;
        else
            ok = false;
        if (!ok)
            return false;
    }
    return true;
}

qint64 nowNs()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

void sleepUntil(qint64 ns)
{
    if (g_spin) {
        while (nowNs() < ns && !g_stop) {
        }
        return;
    }
    timespec t{time_t(ns / 1000000000), long(ns % 1000000000)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &t, nullptr) == EINTR && !g_stop) {
    }
}

// One direction of a wire: a byte takes ten bit times, bytes queue behind each other.
struct Wire
{
    qint64 byteNs = 0;
    qint64 freeAt = 0;
    // The time the last of `bytes` leaves the wire when they enter it at `start`.
    qint64 pass(qint64 start, qsizetype bytes)
    {
        freeAt = std::max(freeAt, start) + byteNs * bytes;
        return freeAt;
    }
};

bool writeAll(int fd, const QByteArray& data)
{
    const char* p = data.constData();
    qsizetype left = data.size();
    while (left > 0 && !g_stop) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += n;
        left -= n;
    }
    return left == 0;
}

// Answers held back by the delay commands, in the order of their lines: a board
// answers its lines one after the other, so a late answer also holds the later ones.
struct LateAnswers
{
    std::deque<std::pair<qint64, QByteArray>> queue; // due time, bytes

    void add(qint64 due, const QByteArray& answer)
    {
        if (!queue.empty())
            due = std::max(due, queue.back().first);
        queue.emplace_back(due, answer);
    }
    // Milliseconds until the next one is due, -1 when none waits.
    int msToNext() const
    {
        if (queue.empty())
            return -1;
        return int(std::max<qint64>(0, (queue.front().first - nowNs() + 999999) / 1000000));
    }
    QByteArray takeDue()
    {
        QByteArray due;
        while (!queue.empty() && queue.front().first <= nowNs()) {
            due += queue.front().second;
            queue.pop_front();
        }
        return due;
    }
};

struct Delays
{
    long everyLineMs = 0;
    long readsMs = 0;

    long forLine(const QByteArray& line) const
    {
        const long read = line.startsWith("get SPI0CS0DATA") ? readsMs : 0;
        return std::max(everyLineMs, read);
    }
};

// One command of standard input ("delay 300"); false when it is not one.
bool applyCommand(const QByteArray& text, Delays* delays)
{
    const QList<QByteArray> words = text.simplified().split(' ');
    bool ok = words.size() == 2;
    const long ms = ok ? words.at(1).toLong(&ok) : 0;
    if (!ok || ms < 0)
        return false;
    if (words.at(0) == "delay")
        delays->everyLineMs = ms;
    else if (words.at(0) == "delay-reads")
        delays->readsMs = ms;
    else
        return false;
    return true;
}

void report(const char* what, const QByteArray& text = QByteArray())
{
    std::printf("%s%s%s\n", what, text.isEmpty() ? "" : " ", text.constData());
    std::fflush(stdout);
}

// Reads what standard input holds and applies its complete lines; `pending` keeps a
// line not yet ended. False at its end.
bool readCommands(QByteArray* pending, Delays* delays)
{
    char buffer[512];
    const ssize_t n = ::read(0, buffer, sizeof buffer);
    if (n <= 0)
        return false;
    pending->append(buffer, n);
    for (qsizetype end; (end = pending->indexOf('\n')) >= 0; pending->remove(0, end + 1)) {
        const QByteArray text = pending->left(end).trimmed();
        if (!text.isEmpty())
            report(applyCommand(text, delays) ? "OK" : "UNKNOWN", text);
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    Options opt;
    if (!parse(argc, argv, &opt)) {
        usage();
        return 2;
    }
    QCoreApplication app(argc, argv); // QString and friends only; no event loop

    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        std::perror("boardsim: pseudo-terminal");
        return 1;
    }
    const char* slaveName = ptsname(master);
    // Holding the slave open keeps the terminal alive between clients and lets its
    // settings be raw from the start.
    const int slave = ::open(slaveName, O_RDWR | O_NOCTTY);
    if (slave < 0) {
        std::perror("boardsim: open slave");
        return 1;
    }
    termios tio;
    tcgetattr(slave, &tio);
    cfmakeraw(&tio);
    tcsetattr(slave, TCSANOW, &tio);

    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = onSignal;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    sa.sa_handler = onFaultSignal;
    sigaction(SIGUSR1, &sa, nullptr);
    sigaction(SIGUSR2, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);
    prctl(PR_SET_TIMERSLACK, 1UL); // precise wire pacing

    std::printf("%s\n", slaveName);
    std::fflush(stdout);

    g_spin = opt.spin;
    Wire rxWire, txWire;
    if (opt.baud > 0)
        rxWire.byteNs = txWire.byteNs = 10 * 1000000000LL / opt.baud;

    SimulatedBoard board;
    LateAnswers late;
    Delays delays;
    QByteArray line;
    QByteArray command; // of standard input
    bool commandsOpen = true;
    long lines = 0;
    int canRun = 0;
    bool silent = false;
    bool mute = false;
    char buffer[4096];
    while (!g_stop) {
        pollfd pfd[2] = {{master, POLLIN, 0}, {commandsOpen ? 0 : -1, POLLIN, 0}};
        const int r = poll(pfd, 2, opt.spin ? 0 : late.msToNext());
        if (r < 0 && errno != EINTR)
            break;
        const QByteArray due = late.takeDue();
        if (!due.isEmpty() && !writeAll(master, due))
            break;
        if (r <= 0)
            continue;
        if (pfd[1].revents)
            commandsOpen = readCommands(&command, &delays);
        if (!pfd[0].revents)
            continue;
        const ssize_t n = ::read(master, buffer, sizeof buffer);
        if (n <= 0) {
            if (n < 0 && errno != EINTR && errno != EAGAIN && errno != EIO)
                break;
            usleep(1000);
            continue;
        }
        // The command's last byte is in only after its wire time; the answer can
        // start then. One sleep for both keeps the pacing error to one wake-up.
        const qint64 received = rxWire.byteNs ? rxWire.pass(nowNs(), n) : 0;
        QByteArray out;
        for (ssize_t i = 0; i < n; ++i) {
            const char c = buffer[i];
            canRun = c == 0x18 ? canRun + 1 : 0;
            if (canRun == 6) {
                board.reset();
                line.clear();
                if (!opt.quiet)
                    report("RESET");
                continue;
            }
            if (c == 0x05) {
                if (!opt.noAck && !silent)
                    out.append(char(0x06));
                continue;
            }
            if (c != '\n' && c != '\r') {
                if (c >= 0x20 || c == '\t')
                    line.append(c);
                continue;
            }
            if (line.isEmpty())
                continue;
            ++lines;
            if (!opt.quiet)
                report("RX", line);
            if (opt.exitAfter >= 0 && lines > opt.exitAfter) {
                ::close(slave);
                ::close(master);
                return 0;
            }
            if (!silent && ((opt.silentAfter >= 0 && lines > opt.silentAfter) || g_silentNext)) {
                silent = true;
                report("SILENT");
            }
            if (!mute && !silent && g_muteNext) {
                mute = true;
                report("MUTE");
            }
            QByteArray answer = board.handleLine(line);
            const long delayMs = delays.forLine(line);
            line.clear();
            if (silent || mute)
                continue;
            if (lines == opt.garbleLine)
                answer[answer.size() - 3] = '?'; // before its CR LF
            if (opt.noEolAfter >= 0 && lines > opt.noEolAfter)
                answer = answer.trimmed();
            if (opt.overlongAfter >= 0 && lines > opt.overlongAfter)
                answer.prepend(QByteArray(6000, 'x') + "\r\n");
            if (opt.garbage)
                answer.prepend(QByteArray("\x01\x02\xfe\x80\x7f\x00", 6));
            if (delayMs > 0 || !late.queue.empty())
                late.add(nowNs() + delayMs * 1000000, answer);
            else
                out.append(answer);
        }
        if (!out.isEmpty()) {
            if (txWire.byteNs)
                sleepUntil(txWire.pass(received, out.size()));
            if (!writeAll(master, out))
                break;
        }
    }
    ::close(slave);
    ::close(master);
    return 0;
}
