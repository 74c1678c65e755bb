// One client connection of the TDS test server fed with any bytes over a socket pair: the
// packet reader, the login record, and the language, RPC and option tokens. The session must
// end by itself when the bytes run out, whatever they were, without a crash or a leak.
//
// The first input byte picks how the rest reaches the server: 0 as raw bytes; 1 after a valid
// login; 2 after a valid login, as messages of [packet type][length][payload] that are framed
// into packets here, so that the fuzzer gets past the framing to the tokens quickly.
#include "Engine.h"
#include "FuzzInput.h"
#include "TdsSession.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr std::size_t kHeader = 8;

void AppendPackets(std::string& out, std::uint8_t type, std::string_view payload,
                   std::size_t packetSize) {
    const std::size_t body = packetSize - kHeader;
    std::size_t at = 0;
    do {
        const std::size_t n = std::min(body, payload.size() - at);
        const bool last = at + n == payload.size();
        const std::size_t length = n + kHeader;
        const char header[kHeader] = {static_cast<char>(type),
                                      static_cast<char>(last ? 1 : 0),
                                      static_cast<char>(length >> 8),
                                      static_cast<char>(length & 0xFF),
                                      0,
                                      0,
                                      0,
                                      0};
        out.append(header, kHeader);
        out.append(payload.substr(at, n));
        at += n;
    } while (at < payload.size());
}

// The fields the server reads from a TDS 5.0 login record: user, password, packet size and
// the capability token.
std::string LoginRecord() {
    std::string r(568, '\0');
    const auto put = [&r](std::size_t at, std::size_t field, std::string_view text) {
        r.replace(at, text.size(), text);
        r[at + field] = static_cast<char>(text.size());
    };
    put(31, 30, "fuzz");
    put(62, 30, "fuzzpw");
    put(557, 6, "512");
    r.append("\xE2\x02\x00\x01\x00", 5);
    return r;
}

asetest::Engine& SharedEngine() {
    static const std::filesystem::path directory = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "tds-fuzz-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            std::abort();
        return std::filesystem::path(pattern);
    }();
    static const std::unique_ptr<asetest::Engine> engine = [] {
        asetest::EngineOptions options;
        options.dataDirectory = directory;
        return asetest::Engine::Open(options);
    }();
    static const struct Cleanup {
        ~Cleanup() {
            std::error_code ignored;
            std::filesystem::remove_all(directory, ignored);
        }
    } cleanup;
    return *engine;
}

// The client side: sends `bytes`, half-closes, and reads every reply until the server hangs up.
void Client(int fd, const std::string& bytes) {
    std::size_t sent = 0;
    bool writing = true;
    char sink[4096];
    for (;;) {
        if (writing && sent == bytes.size()) {
            ::shutdown(fd, SHUT_WR);
            writing = false;
        }
        pollfd p{fd, static_cast<short>(POLLIN | (writing ? POLLOUT : 0)), 0};
        if (::poll(&p, 1, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (writing && (p.revents & POLLOUT) != 0) {
            const ssize_t n =
                ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0)
                sent += static_cast<std::size_t>(n);
            else if (n < 0 && errno != EAGAIN && errno != EINTR)
                writing = false; // the server hung up
        }
        if ((p.revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            const ssize_t n = ::recv(fd, sink, sizeof sink, MSG_DONTWAIT);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))
                return;
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const asetest::ServerSettings settings = [] {
        asetest::ServerSettings s;
        s.passwords["fuzz"] = "fuzzpw";
        return s;
    }();
    asetest::Engine& engine = SharedEngine();

    veltrane::fuzz::FuzzInput in(data, size);
    const int mode = in.Byte() % 3;
    std::string bytes;
    if (mode > 0)
        AppendPackets(bytes, 0x02, LoginRecord(), 512);
    if (mode < 2) {
        bytes += in.Rest();
    } else {
        while (!in.Empty()) {
            const std::uint8_t type = in.Byte();
            const std::size_t length = in.Number(2);
            AppendPackets(bytes, type, in.Take(length), 512);
        }
    }

    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
        std::abort();
    std::thread client(Client, fds[1], std::cref(bytes));
    {
        asetest::TdsSession session(fds[0], 14, engine, settings);
        session.Run();
    }
    ::close(fds[0]);
    client.join();
    ::close(fds[1]);
    return 0;
}
