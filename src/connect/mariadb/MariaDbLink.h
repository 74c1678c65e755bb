#pragma once

// The client handle that a backend shares with its result sets, and the client's calls that
// wait for the server on it.

#include "connect/access/DatabaseError.h"
#include "connect/access/ServerWait.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <exception>
#include <functional>
#include <mysql.h>
#include <optional>
#include <poll.h>
#include <string>
#include <vector>

namespace veltrane::mariadb {

// Every call that may wait for the server runs through the client's non-blocking interface
// (the handle is opened with MYSQL_OPT_NONBLOCK), so that the window takes its turns while the
// server is awaited. The waits themselves are the blocking calls': the same events, the same
// timeout per wait, and the same errno when one ends, so that every message stays as it was.

// The stack the non-blocking calls run on. The whole connect runs there (authentication
// plugins, and the library's own name lookup where it does one), so it gets more than the
// library's default of 60 KiB.
constexpr std::size_t kCallStackBytes = 256 * 1024;
// How often a wait that reads a stored result calls back the caller's rowsArriving.
constexpr std::chrono::milliseconds kRowsArrivingSlice{5};

// The poll events that a suspended call waits for.
short PollEvents(int status);

// What to resume a suspended call with, from what poll saw on its socket. errno is then what
// the library left when it suspended, as after the blocking call's poll.
int Readiness(MYSQL* mysql, const pollfd& wait, int status, int libraryErrno);

// Runs one non-blocking call to its end: `start()` begins it and `resume(ready)` goes on with
// it, each returning the library's status (0: done; the call's result is where the lambdas
// put it). Between the two, on this stack and never inside the library's, the window takes a
// turn after every suspension and at least every kServerWaitSlice while the socket stays
// quiet, and so does `rowsArriving` when given. A rowsArriving that throws is not called
// again, and its exception is rethrown once the call has ended: a call left suspended would
// leave the handle unusable.
template <typename Start, typename Resume>
void Await(MYSQL* mysql, Start start, Resume resume,
           const std::function<void()>* rowsArriving = nullptr) {
    using Clock = std::chrono::steady_clock;
    using std::chrono::milliseconds;
    const milliseconds slice = rowsArriving ? kRowsArrivingSlice : kServerWaitSlice;
    std::exception_ptr failure;
    const auto turn = [&]() noexcept {
        TakeServerWaitTurn();
        if (rowsArriving && !failure) {
            try {
                (*rowsArriving)();
            } catch (...) {
                failure = std::current_exception();
            }
        }
    };
    int status = start();
    while (status != 0) {
        const int libraryErrno = errno;
        // The library's limit is per wait, as the blocking poll's timeout is.
        const bool limited = (status & MYSQL_WAIT_TIMEOUT) != 0;
        const Clock::time_point deadline =
            limited ? Clock::now() + milliseconds(mysql_get_timeout_value_ms(mysql))
                    : Clock::time_point::max();
        pollfd wait{mysql_get_socket(mysql), PollEvents(status), 0};
        turn();
        int ready = 0;
        for (;;) {
            milliseconds next = slice;
            bool last = false;
            if (limited) {
                next = std::min(next, std::chrono::ceil<milliseconds>(deadline - Clock::now()));
                if (next.count() <= 0) {
                    // Past the deadline (a long turn): what has arrived meanwhile still counts.
                    next = milliseconds(0);
                    last = true;
                }
            }
            if (poll(&wait, 1, static_cast<int>(next.count())) > 0) {
                ready = Readiness(mysql, wait, status, libraryErrno);
                break;
            }
            if (last) {
                // As the blocking poll does when it runs out.
                errno = ETIMEDOUT;
                ready = MYSQL_WAIT_TIMEOUT;
                break;
            }
            turn();
        }
        status = resume(ready);
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
}

// The calls that Await runs for the library's own functions of the same names.
void FreeResult(MYSQL_RES* result);
void CloseStatement(MYSQL_STMT* stmt);
int NextResult(MYSQL* mysql);
int RealQuery(MYSQL* mysql, const char* statement, unsigned long length);
MYSQL_RES* StoreResult(MYSQL* mysql);

class MariaDbResultSet;

// The client handle and what belongs to it, shared by the backend and the result sets it
// hands out, so that a result set that outlives its backend finds the handle gone instead of
// dangling.
struct MariaDbLink {
    MYSQL* mysql = nullptr;
    // The result being streamed; the connection can run nothing else until it has been read to
    // its end or released.
    MariaDbResultSet* stream = nullptr;
    // Results whose rows live in a statement handle, which closing the connection invalidates.
    std::vector<MariaDbResultSet*> prepared;
    // The server's max_allowed_packet: a longer statement would make it drop the session.
    unsigned long long maxPacketBytes = 0;
    // Set once the session is known to be gone, with the error that showed it.
    std::optional<DatabaseError> lost;

    // Remembers an error that ended the session, so later calls fail at once with it.
    DatabaseError Note(DatabaseError error) {
        if (error.ConnectionLost() && !lost) {
            lost = error;
        }
        return error;
    }

    // Reads and discards any further results of the last statement (a procedure call's); their
    // errors count.
    void FinishBatch(const std::string& statement);

    // Frees the connection from the stream, if there is one, so that it can do something else:
    // with keepRows the stream's remaining rows are read into memory first (its result set
    // stays whole), otherwise its result set is closed.
    void ReleaseStream(bool keepRows);
    // Frees every result set from the connection before it closes.
    void ReleaseAll();
};

} // namespace veltrane::mariadb
