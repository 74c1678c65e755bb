#pragma once

#include <chrono>

namespace veltrane {

// Lets pending window events run during a long operation, so the window repaints and stays
// responsive, but only when `interval` has passed since the last time: calling it before every
// field of every row then costs one clock read.
class EventYielder {
public:
    explicit EventYielder(std::chrono::nanoseconds interval = std::chrono::milliseconds(5))
        : interval_(interval) {}

    // True when it processed events on this call.
    bool Yield() {
        const auto now = std::chrono::steady_clock::now();
        if (now - last_ < interval_)
            return false;
        ProcessEvents();
        last_ = std::chrono::steady_clock::now();
        return true;
    }
    // Processes pending events now, whatever the time.
    void YieldNow() {
        ProcessEvents();
        last_ = std::chrono::steady_clock::now();
    }

private:
    static void ProcessEvents();

    std::chrono::nanoseconds interval_;
    std::chrono::steady_clock::time_point last_{};
};

// The program's one yielder, for the window handlers.
EventYielder& ProgramYielder();
inline bool Yield() {
    return ProgramYielder().Yield();
}

} // namespace veltrane
