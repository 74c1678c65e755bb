#include "connect/access/ServerWait.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <dlfcn.h>
#include <mutex>
#include <netdb.h>
#include <optional>
#include <poll.h>
#include <string>
#include <thread>
#include <utility>

namespace veltrane {
namespace {

struct InstalledTurn {
    std::function<void()> turn;
    std::thread::id thread;
};

InstalledTurn& Installed() {
    static InstalledTurn installed;
    return installed;
}

// Per thread: how many ClientLibraryWaits are open, whether a turn is being taken, and the
// addresses a ResolvedHost holds ready.
thread_local int clientWaits = 0;
thread_local bool inTurn = false;

struct ReadyAddresses {
    std::optional<std::string> node;
    std::optional<std::string> service;
    addrinfo* addresses = nullptr;
};
thread_local ReadyAddresses* readyAddresses = nullptr;

std::optional<std::string> Copy(const char* text) {
    return text ? std::optional<std::string>(text) : std::nullopt;
}

bool HasTurnHere() {
    const InstalledTurn& installed = Installed();
    return !inTurn && installed.turn && installed.thread == std::this_thread::get_id();
}

// The C library's own functions, which the definitions at the end of this file stand in front
// of for the client libraries.
using PollFunction = int (*)(pollfd*, nfds_t, int);
using GetAddrInfoFunction = int (*)(const char*, const char*, const addrinfo*, addrinfo**);

int LibraryPoll(pollfd* fds, nfds_t count, int timeoutMilliseconds) {
    static const auto next = reinterpret_cast<PollFunction>(dlsym(RTLD_NEXT, "poll"));
    if (next != nullptr)
        return next(fds, count, timeoutMilliseconds);
    timespec timeout{timeoutMilliseconds / 1000, (timeoutMilliseconds % 1000) * 1000000L};
    return ppoll(fds, count, timeoutMilliseconds < 0 ? nullptr : &timeout, nullptr);
}

int LibraryGetAddrInfo(const char* node, const char* service, const addrinfo* hints,
                       addrinfo** result) {
    static const auto next = reinterpret_cast<GetAddrInfoFunction>(dlsym(RTLD_NEXT, "getaddrinfo"));
    return next != nullptr ? next(node, service, hints, result) : EAI_SYSTEM;
}

// poll() for as long as it was asked to wait, in slices with a turn before each. A descriptor
// that becomes ready, or an error, ends it at once, exactly as the one long poll would. The turn
// before the first slice matters as much: a login or a statement is a series of short waits, one
// per round trip, and across a network none of them may last a whole slice.
int PollTakingTurns(pollfd* fds, nfds_t count, int timeoutMilliseconds) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    const int slice = static_cast<int>(kServerWaitSlice.count());
    for (;;) {
        TakeServerWaitTurn();
        int wait = slice;
        if (timeoutMilliseconds > 0) {
            const auto spent =
                std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
            const int left = timeoutMilliseconds - static_cast<int>(spent.count());
            if (left <= 0)
                return 0;
            wait = std::min(wait, left);
        }
        const int ready = LibraryPoll(fds, count, wait);
        if (ready != 0)
            return ready;
    }
}

} // namespace

void SetServerWaitTurn(std::function<void()> turn) {
    InstalledTurn& installed = Installed();
    installed.turn = std::move(turn);
    installed.thread = std::this_thread::get_id();
}

void TakeServerWaitTurn() {
    if (!HasTurnHere())
        return;
    inTurn = true;
    // The turn runs inside a client library's C frames, which nothing may unwind through.
    try {
        Installed().turn();
    } catch (...) {
    }
    inTurn = false;
}

int LookUpHostTakingTurns(const char* node, const char* service, const addrinfo* hints,
                          addrinfo** result) {
    if (!HasTurnHere())
        return LibraryGetAddrInfo(node, service, hints, result);
    struct Lookup {
        std::optional<std::string> node, service;
        std::optional<addrinfo> hints;
        int answer = 0;
        addrinfo* addresses = nullptr;
        bool done = false;
        std::mutex mutex;
        std::condition_variable finished;
    };
    auto lookup = std::make_shared<Lookup>();
    lookup->node = Copy(node);
    lookup->service = Copy(service);
    if (hints != nullptr) {
        // Only these members of hints mean anything; the rest must be zero.
        addrinfo copy{};
        copy.ai_flags = hints->ai_flags;
        copy.ai_family = hints->ai_family;
        copy.ai_socktype = hints->ai_socktype;
        copy.ai_protocol = hints->ai_protocol;
        lookup->hints = copy;
    }
    std::thread worker([lookup] {
        addrinfo* addresses = nullptr;
        const int answer =
            LibraryGetAddrInfo(lookup->node ? lookup->node->c_str() : nullptr,
                               lookup->service ? lookup->service->c_str() : nullptr,
                               lookup->hints ? &*lookup->hints : nullptr, &addresses);
        std::lock_guard<std::mutex> lock(lookup->mutex);
        lookup->answer = answer;
        lookup->addresses = addresses;
        lookup->done = true;
        lookup->finished.notify_one();
    });
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(lookup->mutex);
            if (lookup->finished.wait_for(lock, kServerWaitSlice, [&] { return lookup->done; }))
                break;
        }
        TakeServerWaitTurn();
    }
    worker.join();
    *result = lookup->addresses;
    return lookup->answer;
}

ClientLibraryWaits::ClientLibraryWaits() {
    ++clientWaits;
}

ClientLibraryWaits::~ClientLibraryWaits() {
    --clientWaits;
}

ResolvedHost::ResolvedHost(const char* node, const char* service, addrinfo* addresses) {
    readyAddresses = new ReadyAddresses{Copy(node), Copy(service), addresses};
}

ResolvedHost::~ResolvedHost() {
    if (readyAddresses->addresses != nullptr)
        freeaddrinfo(readyAddresses->addresses);
    delete std::exchange(readyAddresses, nullptr);
}

namespace {

// The addresses a ResolvedHost holds for exactly this lookup, handed over once.
addrinfo* TakeReadyAddresses(const char* node, const char* service) {
    ReadyAddresses* ready = readyAddresses;
    if (ready == nullptr || ready->addresses == nullptr || ready->node != Copy(node) ||
        ready->service != Copy(service))
        return nullptr;
    return std::exchange(ready->addresses, nullptr);
}

bool SlicesWaitsHere() {
    return clientWaits > 0 && HasTurnHere();
}

} // namespace
} // namespace veltrane

// The client libraries call these by name. Outside a ClientLibraryWaits scope (and on every
// other thread) they are the C library's own, untouched.
extern "C" int poll(pollfd* fds, nfds_t count, int timeoutMilliseconds) {
    if (timeoutMilliseconds == 0 || !veltrane::SlicesWaitsHere())
        return veltrane::LibraryPoll(fds, count, timeoutMilliseconds);
    return veltrane::PollTakingTurns(fds, count, timeoutMilliseconds);
}

extern "C" int getaddrinfo(const char* node, const char* service, const addrinfo* hints,
                           addrinfo** result) {
    if (addrinfo* ready = veltrane::TakeReadyAddresses(node, service)) {
        *result = ready;
        return 0;
    }
    if (!veltrane::SlicesWaitsHere())
        return veltrane::LibraryGetAddrInfo(node, service, hints, result);
    return veltrane::LookUpHostTakingTurns(node, service, hints, result);
}
