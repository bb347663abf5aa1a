// Processor time used while Board::Delay waits: the wait must sleep in the event
// dispatcher, not poll. Prints the figures; fails when the wait costs more than the
// limit (default 2 % of one core).
//
// Usage: bench_delay [wait-ms] [limit-percent]

#include "Board.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>

namespace {
double processCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) {
        return double(t.tv_sec) + t.tv_usec / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}
} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int waitMs = argc > 1 ? std::atoi(argv[1]) : 5000;
    const double limitPercent = argc > 2 ? std::atof(argv[2]) : 2.0;

    Board board;
    if (!board.setup()) {
        std::fprintf(stderr, "Board setup failed\n");
        return 2;
    }
    // A window that is live while waiting: a 100 ms heartbeat keeps the event loop
    // honest (the wait must still return to it) without adding measurable work.
    int beats = 0;
    QTimer heartbeat;
    QObject::connect(&heartbeat, &QTimer::timeout, &board, [&beats] { ++beats; });
    heartbeat.start(100);
    app.processEvents();

    QElapsedTimer wall;
    const double cpuBefore = processCpuSeconds();
    wall.start();
    board.Delay(waitMs);
    const qint64 wallMs = wall.elapsed();
    const double cpuMs = (processCpuSeconds() - cpuBefore) * 1000.0;
    const double percent = wallMs > 0 ? 100.0 * cpuMs / double(wallMs) : 0.0;

    std::printf("Board::Delay(%d): wall %lld ms, CPU %.1f ms = %.2f %% of one core "
                "(limit %.2f %%), %d heartbeats handled\n",
                waitMs, static_cast<long long>(wallMs), cpuMs, percent, limitPercent, beats);
    const bool ok = percent < limitPercent && wallMs >= waitMs - 5 && beats >= waitMs / 100 - 2;
    if (!ok)
        std::printf("FAIL\n");
    return ok ? 0 : 1;
}
