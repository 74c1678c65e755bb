#pragma once

// What DB-Library's handlers report for each connection, and what the numbers of Sybase ASE's
// messages and of DB-Library's errors mean for the caller.

#include "connect/access/DatabaseError.h"

#include <optional>
#include <string>
#include <sybdb.h>
#include <utility>

namespace veltrane::tds {

// What the library's handlers report for one connection. Each DBPROCESS carries a pointer
// to its own Messages, so two connections never see each other's errors.
struct Messages {
    std::optional<std::pair<int, std::string>> serverError; // first error of the statement
    std::optional<std::pair<int, std::string>> clientError; // DB-Library's own
    int loginSeconds = 0; // the login timeout while the connection is being opened
    // FreeTDS could not convert a character between UTF-8 and the server's character set;
    // it put a '?' in its place and carried on.
    std::optional<std::pair<int, std::string>> conversionError;
    void Clear() {
        serverError.reset();
        clientError.reset();
        conversionError.reset();
    }
};

// During dbopen the DBPROCESS does not exist yet for the caller, so login messages are routed
// to the Messages of the open in progress on this thread.
extern thread_local Messages* openingMessages;

// The handlers installed for the server's messages and for the library's own errors: each
// keeps what it is told in the Messages of its connection.
int MessageHandler(DBPROCESS* proc, DBINT number, int state, int severity, char* text, char* server,
                   char* procedure, int line);
int ErrorHandler(DBPROCESS* proc, int severity, int dbErr, int osErr, char* dbErrText,
                 char* osErrText);

// What a Sybase ASE message number means for the caller's next step.
FailureReason ReasonOf(int number);

// DB-Library error numbers after which the connection is gone: every further statement on it
// would fail the same way.
bool LosesConnection(int dbErr);

} // namespace veltrane::tds
