// The cost of Yield when nothing is due, as the transfer calls it before every column, row and
// field. Measured against baselines in the same run: an empty call through the same kind of
// loop (the floor), a steady_clock read (a precise clock, what a naive throttle would read) and
// a read of the coarse clock that the throttle reads on every call. For
// scale it also measures QCoreApplication::processEvents, the cost of yielding on every call.
//
// Usage: bench_yield [calls per round, default 20000000] [rounds, default 5]

#include "app/shell/Yield.h"

#include <QCoreApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

template <class F> double NanosPerCall(long calls, int rounds, F&& body) {
    std::vector<double> figures;
    for (int r = 0; r < rounds; ++r) {
        const auto start = Clock::now();
        for (long i = 0; i < calls; ++i)
            body();
        const std::chrono::duration<double, std::nano> took = Clock::now() - start;
        figures.push_back(took.count() / static_cast<double>(calls));
    }
    return *std::min_element(figures.begin(), figures.end());
}

volatile long sink = 0;

} // namespace

int main(int argc, char* argv[]) {
    const long calls = argc > 1 ? std::atol(argv[1]) : 20000000;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    QCoreApplication app(argc, argv);

    const double floor = NanosPerCall(calls, rounds, [] { sink = sink + 1; });
    const double clock = NanosPerCall(calls, rounds, [] {
        sink = sink + static_cast<long>(Clock::now().time_since_epoch().count() & 1);
    });
    const double coarse = NanosPerCall(calls, rounds, [] {
        sink = sink + static_cast<long>(veltrane::EventYielder::CoarseNanos() & 1);
    });
    // Due once at the start, then never within a round: every measured call is a "not due".
    veltrane::EventYielder yielder(std::chrono::hours(1));
    yielder.Yield();
    long processed = 0;
    const double notDue = NanosPerCall(calls, rounds, [&] { processed += yielder.Yield(); });
    // The real thing, with the interval at its default, over the program's own yielder.
    const double program = NanosPerCall(calls, rounds, [&] { processed += veltrane::Yield(); });
    const long eventCalls = std::max(1L, calls / 100);
    const double events = NanosPerCall(
        eventCalls, rounds, [] { QCoreApplication::processEvents(QEventLoop::AllEvents); });

    std::printf("calls per round %ld, rounds %d (best round shown)\n", calls, rounds);
    std::printf("empty loop body            %7.2f ns/call  (floor)\n", floor);
    std::printf("steady_clock read          %7.2f ns/call  %5.2fx floor\n", clock, clock / floor);
    std::printf("coarse clock read          %7.2f ns/call  %5.2fx floor\n", coarse, coarse / floor);
    std::printf(
        "Yield, nothing due         %7.2f ns/call  %5.2fx floor, %5.2fx steady_clock read\n",
        notDue, notDue / floor, notDue / clock);
    std::printf("Yield, 5 ms interval       %7.2f ns/call  %5.2fx clock read, %ld yields done\n",
                program, program / clock, processed);
    std::printf("processEvents every call   %7.2f ns/call  %5.1fx Yield nothing due\n", events,
                events / notDue);
    return 0;
}
