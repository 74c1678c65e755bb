#pragma once

#include <stdexcept>
#include <string>

namespace veltrane {

// Why a statement or an open failed, as far as the caller's next step is concerned. Each
// backend sets it from its own server's and client library's numbers, so that the code above
// the backends tests reasons, never numbers.
enum class FailureReason {
    // The statement or request failed and the connection is still usable (a refused statement,
    // a timeout that was cancelled, a conversion error, a connection that did not open).
    Refused,
    // The session with the server is gone (server stopped, network cut, the server closed the
    // connection): every further statement on this connection would fail the same way.
    ConnectionLost,
    // The table named does not exist (a DROP TABLE of a table that is already gone).
    NoSuchTable,
    // A table of that name already exists (a CREATE TABLE).
    TableExists,
    // The table, database or segment takes no more rows.
    TargetFull,
    // The server or database takes no writes at all, whatever the statement.
    ReadOnly,
};

// The one failure type of all database work. `what()` is the provider's message text:
// it is the failure description that the error report shows the user.
class DatabaseError : public std::runtime_error {
public:
    explicit DatabaseError(const std::string& message, int nativeError = 0,
                           std::string statement = {},
                           FailureReason reason = FailureReason::Refused)
        : std::runtime_error(message)
        , nativeError_(nativeError)
        , statement_(std::move(statement))
        , reason_(reason) {}

    std::string Message() const { return what(); }
    // The server's or the client library's own error number; 0 when there is none.
    int NativeError() const { return nativeError_; }
    // The statement that failed; empty for failures outside a statement (connecting).
    const std::string& Statement() const { return statement_; }
    FailureReason Reason() const { return reason_; }
    bool ConnectionLost() const { return reason_ == FailureReason::ConnectionLost; }

private:
    int nativeError_;
    std::string statement_;
    FailureReason reason_;
};

// The failures that every connection and result set reports in the same words, whichever
// server it talks to.
inline DatabaseError ObjectClosedError() {
    return DatabaseError("Operation is not allowed when the object is closed.");
}
inline DatabaseError NoCurrentRecordError() {
    return DatabaseError("Either BOF or EOF is True, or the current record has been deleted. "
                         "Requested operation requires a current record.");
}
inline DatabaseError UnknownFieldError(const std::string& nameOrOrdinal) {
    return DatabaseError("Item cannot be found in the collection corresponding to the requested "
                         "name or ordinal: " +
                         nameOrOrdinal);
}

} // namespace veltrane
