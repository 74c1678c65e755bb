// What the window benchmarks share: a timer that measures how long the event loop is kept
// waiting while an operation runs on the window's thread.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <algorithm>

namespace veltrane::bench {

// A timer of `intervalMs` that notes how late it fires while an operation lets the event loop
// work. Stop() gives the longest wait beyond the interval, in milliseconds.
class StallWatch {
public:
    // With `fromStart` the time before the first firing counts as well: an operation that
    // keeps the loop waiting before it first yields (connecting, a query) shows that wait.
    // Without it the first firing is left out (a run that waits for its connections on
    // purpose, before the part being measured).
    explicit StallWatch(int intervalMs = 1, bool fromStart = false)
        : intervalMs_(intervalMs)
        , fromStart_(fromStart) {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(intervalMs);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            const qint64 now = clock_.nsecsElapsed();
            if (firings_++ > 0)
                longest_ = std::max(longest_, now - last_);
            last_ = now;
        });
    }
    void Start() {
        firings_ = fromStart_ ? 1 : 0;
        longest_ = 0;
        last_ = 0;
        clock_.start();
        timer_.start();
    }
    double Stop() {
        timer_.stop();
        if (fromStart_) // the wait since the last firing counts too
            longest_ = std::max(longest_, clock_.nsecsElapsed() - last_);
        return std::max<double>(0, static_cast<double>(longest_) / 1e6 - intervalMs_);
    }

private:
    QTimer timer_;
    QElapsedTimer clock_;
    int intervalMs_;
    bool fromStart_;
    qint64 last_ = 0;
    qint64 longest_ = 0;
    int firings_ = 0;
};

} // namespace veltrane::bench
