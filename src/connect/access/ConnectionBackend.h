#pragma once

// What a connection asks of a backend, the one implementation per database client library:
// where to connect, the options set before opening, and the session it then runs statements on.

#include "connect/access/ResultSet.h"
#include "connect/access/ServerKind.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace veltrane {

// Where and how to connect, as read from a connection string.
struct ConnectionTarget {
    ServerKind kind = ServerKind::MySQL;
    std::string host;
    std::uint16_t port = 0;
    std::string user;
    std::string password;
    std::string database;
};

enum class CursorLocation { NotSet = 0, Server = 2, Client = 3 };

// The options a caller sets before Open; a backend applies them as its client allows.
struct ConnectionOptions {
    CursorLocation cursorLocation = CursorLocation::NotSet;
    std::optional<int> commandTimeoutSeconds;
    std::optional<int> connectionTimeoutSeconds;
    // Called after each row that a client-side cursor reads into memory, so that the caller
    // can keep its window responsive while a large result arrives. Optional.
    std::function<void()> rowRead;
};

// One open session with a server. Implemented once per database client library.
class ConnectionBackend {
public:
    virtual ~ConnectionBackend() = default;
    // Runs one statement (or batch). Returns its rows when it yields any, else nullptr.
    // With a client-side cursor the returned result set knows its exact RecordCount.
    virtual std::unique_ptr<ResultSet> Execute(const std::string& statement) = 0;
    // The tables schema: fields TABLE_NAME, TABLE_TYPE and TABLE_OWNER (TABLE_SCHEMA on MySQL).
    virtual std::unique_ptr<ResultSet> OpenTablesSchema() = 0;
    virtual void Close() = 0;
};

} // namespace veltrane
