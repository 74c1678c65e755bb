#include "connect/freetds/FreeTdsErrors.h"

#include <sys/socket.h>

namespace veltrane::tds {

thread_local Messages* openingMessages = nullptr;

namespace {

Messages* MessagesOf(DBPROCESS* proc) {
    if (proc != nullptr) {
        if (auto* m = reinterpret_cast<Messages*>(dbgetuserdata(proc)))
            return m;
    }
    return openingMessages;
}

} // namespace

int MessageHandler(DBPROCESS* proc, DBINT number, int, int severity, char* text, char*, char*,
                   int) {
    // Severity 10 and below are informational (5701 database changed, 5703 language, 5704
    // character set): never errors.
    if (severity <= 10)
        return 0;
    if (Messages* m = MessagesOf(proc); m && !m->serverError)
        m->serverError.emplace(static_cast<int>(number), text ? text : "");
    return 0;
}

int ErrorHandler(DBPROCESS* proc, int, int dbErr, int osErr, char* dbErrText, char* osErrText) {
    if (dbErr == SYBETIME) {
        Messages* m = MessagesOf(proc);
        // A login that outlasts its timeout: FreeTDS never returns from dbopen when the handler
        // cancels here (it then waits without a limit to log out of the silent server), so the
        // socket is cut instead, which fails the pending read and with it the login at once.
        if (m != nullptr && m->loginSeconds > 0 && proc != nullptr) {
            if (!m->clientError)
                m->clientError.emplace(dbErr, "the server did not complete the login within " +
                                                  std::to_string(m->loginSeconds) + " seconds.");
            if (const int socket = dbiordesc(proc); socket >= 0)
                ::shutdown(socket, SHUT_RDWR);
            return INT_CONTINUE;
        }
        // A command timeout: the first time, cancel the statement and keep the connection (the
        // server acknowledges the cancel); should the server not even answer that in time, give
        // the connection up.
        if (m != nullptr && !m->clientError) {
            m->clientError.emplace(dbErr, "The statement did not finish within the command "
                                          "timeout and was cancelled.");
            return INT_TIMEOUT;
        }
        return INT_CANCEL;
    }
    if (dbErr >= SYBEICONVIU && dbErr <= SYBEICONV2BIG) {
        if (Messages* m = MessagesOf(proc); m && !m->conversionError)
            m->conversionError.emplace(dbErr, dbErrText ? dbErrText : "");
        return INT_CANCEL;
    }
    // 20018 only says that the server sent an error, which MessageHandler already holds.
    if (dbErr != SYBESMSG) {
        if (Messages* m = MessagesOf(proc); m && !m->clientError) {
            std::string text = dbErrText ? dbErrText : "DB-Library error";
            if (osErr != 0 && osErr != DBNOERR && osErrText && *osErrText)
                text += std::string(" (") + osErrText + ")";
            m->clientError.emplace(dbErr, std::move(text));
        }
    }
    // Never let the library exit the process; a failed call reports FAIL instead.
    return INT_CANCEL;
}

FailureReason ReasonOf(int number) {
    switch (number) {
    case 3701: // cannot drop, no such object
        return FailureReason::NoSuchTable;
    case 2714: // there is already an object of that name
        return FailureReason::TableExists;
    case 1105: // no space left in the segment
        return FailureReason::TargetFull;
    case 3906: // the database is read-only
        return FailureReason::ReadOnly;
    default:
        return FailureReason::Refused;
    }
}

bool LosesConnection(int dbErr) {
    switch (dbErr) {
    case SYBEREAD:
    case SYBEWRIT:
    case SYBESEOF:
    case SYBEDDNE:
    case SYBEOOB:
    case SYBECLOS:
        return true;
    default:
        return false;
    }
}

} // namespace veltrane::tds
