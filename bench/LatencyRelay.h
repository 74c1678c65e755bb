// A server across a network, as the window's thread meets it: a TCP relay on a loopback port of
// its own in front of a server on loopback, which holds every chunk it reads for a fixed time
// before passing it on, in each direction, in the order it came. Runs on a thread of its own.
#pragma once

#include <chrono>
#include <memory>

namespace veltrane::bench {

class LatencyRelay {
public:
    // Listens on a free loopback port; exits the benchmark when it cannot.
    explicit LatencyRelay(int serverPort,
                          std::chrono::microseconds delay = std::chrono::milliseconds(5));
    ~LatencyRelay();
    LatencyRelay(const LatencyRelay&) = delete;
    LatencyRelay& operator=(const LatencyRelay&) = delete;

    int Port() const { return port_; }

private:
    struct State;
    std::unique_ptr<State> state_;
    int port_ = 0;
};

} // namespace veltrane::bench
