#pragma once

#include <chrono>
#include <cstdint>
#include <ctime>
#include <limits>

namespace veltrane {

// Lets pending window events run during a long operation, so the window repaints and stays
// responsive, but only when `interval` has passed since the last time: calling it before every
// field of every row then costs one read of the coarse clock (a few nanoseconds, no system call;
// its resolution of a few milliseconds is all the throttle needs).
class EventYielder {
public:
    explicit EventYielder(std::chrono::nanoseconds interval = std::chrono::milliseconds(5))
        : interval_(interval) {}

    // True when it processed events on this call.
    bool Yield() {
        if (CoarseNanos() - last_ < interval_.count())
            return false;
        YieldNow();
        return true;
    }
    // Processes pending events now, whatever the time.
    void YieldNow();

    static std::int64_t CoarseNanos() {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
        return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
    }

private:
    std::chrono::nanoseconds interval_;
    // Far enough in the past that the first call is due.
    std::int64_t last_ = std::numeric_limits<std::int64_t>::min() / 2;
};

// The program's one yielder, for the window handlers.
EventYielder& ProgramYielder();

// Makes every wait for a server on this thread (the window's) yield through ProgramYielder.
void YieldWhileServersWait();
inline bool Yield() {
    return ProgramYielder().Yield();
}

} // namespace veltrane
