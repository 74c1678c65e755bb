#include "LatencyRelay.h"

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace veltrane::bench {
namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "latency relay: %s: %s\n", what, std::strerror(errno));
    std::exit(1);
}

sockaddr_in Loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    return address;
}

// Non-blocking, and without Nagle's wait for an acknowledgement: the relay adds its delay and
// nothing else.
void Prepare(int fd) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

// One direction of one connection: what was read from `from` and is not yet written to `to`.
struct Flow {
    struct Chunk {
        Clock::time_point due;
        std::string bytes;
        std::size_t written = 0;
    };
    int from = -1;
    int to = -1;
    std::deque<Chunk> chunks;
    bool ended = false;    // `from` closed its side
    bool passedOn = false; // and `to` was told, once everything before it was written

    bool Due(Clock::time_point now) const { return !chunks.empty() && chunks.front().due <= now; }
};

struct Link {
    Flow up;   // client to server
    Flow down; // server to client
    bool broken = false;
};

} // namespace

struct LatencyRelay::State {
    std::chrono::microseconds delay{};
    int serverPort = 0;
    int listener = -1;
    int wake[2] = {-1, -1};
    std::atomic<bool> stopping{false};
    std::vector<Link> links;
    std::thread thread;

    void Accept() {
        const int client = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            return;
        const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const sockaddr_in address = Loopback(serverPort);
        if (::connect(server, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            ::close(server);
            ::close(client);
            return;
        }
        Prepare(client);
        Prepare(server);
        Link link;
        link.up.from = link.down.to = client;
        link.up.to = link.down.from = server;
        links.push_back(std::move(link));
    }

    // Reads what has arrived into a chunk due `delay` from now; false when the socket failed.
    bool Read(Flow& flow, Clock::time_point now) {
        char buffer[65536];
        const ssize_t got = ::read(flow.from, buffer, sizeof buffer);
        if (got > 0)
            flow.chunks.push_back(
                {now + delay, std::string(buffer, static_cast<std::size_t>(got))});
        else if (got == 0)
            flow.ended = true;
        else if (errno != EAGAIN && errno != EINTR)
            return false;
        return true;
    }

    // Writes the chunks that are due, as far as the socket takes them; false when it failed.
    bool Write(Flow& flow, Clock::time_point now) {
        while (flow.Due(now)) {
            Flow::Chunk& chunk = flow.chunks.front();
            const ssize_t sent = ::send(flow.to, chunk.bytes.data() + chunk.written,
                                        chunk.bytes.size() - chunk.written, MSG_NOSIGNAL);
            if (sent < 0)
                return errno == EAGAIN || errno == EINTR;
            chunk.written += static_cast<std::size_t>(sent);
            if (chunk.written < chunk.bytes.size())
                return true;
            flow.chunks.pop_front();
        }
        if (flow.ended && flow.chunks.empty() && !flow.passedOn) {
            ::shutdown(flow.to, SHUT_WR);
            flow.passedOn = true;
        }
        return true;
    }

    static short Events(const Flow& reading, const Flow& writing, Clock::time_point now) {
        return static_cast<short>((reading.ended ? 0 : POLLIN) | (writing.Due(now) ? POLLOUT : 0));
    }

    void Loop() {
        std::vector<pollfd> polled;
        while (!stopping) {
            Clock::time_point now = Clock::now();
            std::optional<Clock::time_point> next;
            polled.assign({{wake[0], POLLIN, 0}, {listener, POLLIN, 0}});
            for (const Link& link : links) {
                polled.push_back({link.up.from, Events(link.up, link.down, now), 0});
                polled.push_back({link.down.from, Events(link.down, link.up, now), 0});
                for (const Flow* flow : {&link.up, &link.down})
                    if (!flow->chunks.empty() && !flow->Due(now) &&
                        (!next || flow->chunks.front().due < *next))
                        next = flow->chunks.front().due;
            }
            timespec timeout{};
            if (next) {
                const auto wait =
                    std::chrono::duration_cast<std::chrono::nanoseconds>(*next - now).count();
                timeout.tv_sec = static_cast<time_t>(wait / 1000000000);
                timeout.tv_nsec = static_cast<long>(wait % 1000000000);
            }
            if (::ppoll(polled.data(), polled.size(), next ? &timeout : nullptr, nullptr) < 0 &&
                errno != EINTR)
                Fail("poll");
            if (stopping)
                break;
            now = Clock::now();
            // Links accepted now are polled from the next pass on.
            const std::size_t polledLinks = links.size();
            if (polled[1].revents & POLLIN)
                Accept();
            for (std::size_t i = 0; i < polledLinks; ++i) {
                Link& link = links[i];
                Flow* flows[] = {&link.up, &link.down};
                for (int side = 0; side < 2; ++side) {
                    Flow& flow = *flows[side];
                    const short events = polled[2 + 2 * i + static_cast<std::size_t>(side)].revents;
                    if (events & POLLERR)
                        link.broken = true;
                    else if (flow.ended && (events & POLLHUP))
                        link.broken = true; // gone both ways: nothing more reaches it
                    else if (!flow.ended && (events & (POLLIN | POLLHUP)) && !Read(flow, now))
                        link.broken = true;
                }
                if (!link.broken && (!Write(link.up, now) || !Write(link.down, now)))
                    link.broken = true;
            }
            std::erase_if(links, [](const Link& link) {
                if (!link.broken && !(link.up.passedOn && link.down.passedOn))
                    return false;
                ::close(link.up.from);
                ::close(link.up.to);
                return true;
            });
        }
    }
};

LatencyRelay::LatencyRelay(int serverPort, std::chrono::microseconds delay)
    : state_(std::make_unique<State>()) {
    state_->delay = delay;
    state_->serverPort = serverPort;
    state_->listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = Loopback(0);
    if (::bind(state_->listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(state_->listener, 16) != 0)
        Fail("cannot listen on loopback");
    socklen_t length = sizeof address;
    ::getsockname(state_->listener, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    if (::pipe2(state_->wake, O_CLOEXEC) != 0)
        Fail("pipe");
    state_->thread = std::thread([state = state_.get()] { state->Loop(); });
}

LatencyRelay::~LatencyRelay() {
    state_->stopping = true;
    const char byte = 0;
    [[maybe_unused]] const ssize_t written = ::write(state_->wake[1], &byte, 1);
    state_->thread.join();
    for (const Link& link : state_->links) {
        ::close(link.up.from);
        ::close(link.up.to);
    }
    ::close(state_->listener);
    ::close(state_->wake[0]);
    ::close(state_->wake[1]);
}

} // namespace veltrane::bench
