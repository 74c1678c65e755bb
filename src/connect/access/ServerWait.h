#pragma once

// Waiting for a server without freezing the window. Everything runs on the window's thread, so
// while a connection waits (opening, logging in, a statement, the next packet of a result) the
// window's event loop gets a turn at least every kServerWaitSlice: the window repaints, and a
// close request ends the program at once. What a wait waits for, and for how long, does not
// change.
//
// The program installs the turn (the shell's yield). Without one, or on another thread, a wait
// simply waits.

#include <chrono>
#include <functional>

struct addrinfo;

namespace veltrane {

inline constexpr std::chrono::milliseconds kServerWaitSlice{20};

// The turn to give the event loop while a server is awaited on the calling thread, which is the
// only thread that takes it. An empty function removes it.
void SetServerWaitTurn(std::function<void()> turn);

// Gives the event loop its turn, when one is installed for this thread. A wait that starts
// during a turn (there is none: the windows' guards keep a second operation from starting)
// takes no turn of its own, so turns never nest.
void TakeServerWaitTurn();

// getaddrinfo, run on a thread of its own while this one takes turns: name servers can take
// many seconds to answer, or to fail. The result is getaddrinfo's.
int LookUpHostTakingTurns(const char* node, const char* service, const addrinfo* hints,
                          addrinfo** result);

// While one lives, a client library that has no non-blocking form of a call (DB-Library) waits
// on this thread taking turns: its poll() waits in slices of kServerWaitSlice with a turn
// between them and returns exactly as the library's own call would, and its host name lookups
// run through LookUpHostTakingTurns. Scopes nest.
class ClientLibraryWaits {
public:
    ClientLibraryWaits();
    ~ClientLibraryWaits();
    ClientLibraryWaits(const ClientLibraryWaits&) = delete;
    ClientLibraryWaits& operator=(const ClientLibraryWaits&) = delete;
};

// While one lives, a lookup on this thread of exactly `node` and `service` is answered with
// the addresses already found, once, so that a client library that looks the host up inside a
// call that cannot take turns (MariaDB's non-blocking connect) gets them at once. Addresses not
// handed out are freed. One at a time per thread.
class ResolvedHost {
public:
    ResolvedHost(const char* node, const char* service, addrinfo* addresses);
    ~ResolvedHost();
    ResolvedHost(const ResolvedHost&) = delete;
    ResolvedHost& operator=(const ResolvedHost&) = delete;
};

} // namespace veltrane
