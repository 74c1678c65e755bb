#pragma once

#include <stdexcept>
#include <string>

namespace veltrane {

// The one failure type of all database work. `what()` is the provider's message text:
// it is the failure description that the error report shows the user.
class DatabaseError : public std::runtime_error {
public:
    explicit DatabaseError(const std::string& message, int nativeError = 0,
                           std::string statement = {})
        : std::runtime_error(message)
        , nativeError_(nativeError)
        , statement_(std::move(statement)) {}

    std::string Message() const { return what(); }
    // The server's or the client library's own error number; 0 when there is none.
    int NativeError() const { return nativeError_; }
    // The statement that failed; empty for failures outside a statement (connecting).
    const std::string& Statement() const { return statement_; }

private:
    int nativeError_;
    std::string statement_;
};

} // namespace veltrane
