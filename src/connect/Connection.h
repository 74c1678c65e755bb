#pragma once

#include "connect/access/ConnectionBackend.h"
#include "connect/access/ResultSet.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

namespace veltrane {

enum class SchemaKind { Tables = 20 };

// ADO's CommandTimeout where none is set. The client libraries' own default is to wait for
// ever, so the operations that leave their timeouts at the defaults set this one themselves:
// a server that stops answering then fails the statement instead of freezing the window.
constexpr int kDefaultCommandTimeoutSeconds = 30;

// Makes the backend of each connection that opens: the client library's session for the target,
// or a failure thrown as DatabaseError. Never returns null.
using BackendFactory = std::function<std::unique_ptr<ConnectionBackend>(
    const ConnectionTarget& target, const ConnectionOptions& options)>;

// From now on every Connection::Open, wherever in the program it happens, takes its backend from
// `factory` instead of the client library that the connection string names; an empty factory
// gives the client libraries back. The connection string is still parsed as usual, so the
// factory sees exactly the target and options the operation asked for. Set it only while no
// connection is being opened on another thread.
void SetBackendFactoryForTests(BackendFactory factory);

// A database connection in the manner of ADO's Connection object: set the options, Open with
// a connection string (which also picks the backend), Execute statements, Close.
// Every failure throws DatabaseError. Destroying an open connection closes it.
class Connection {
public:
    Connection();
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    void SetCursorLocation(CursorLocation location) { options_.cursorLocation = location; }
    void SetCommandTimeout(int seconds) { options_.commandTimeoutSeconds = seconds; }
    void SetConnectionTimeout(int seconds) { options_.connectionTimeoutSeconds = seconds; }
    void SetRowReadCallback(std::function<void()> callback) {
        options_.rowRead = std::move(callback);
    }

    // `connectionString` is UTF-8: "DRIVER={MySQL ODBC 5.1 Driver};SERVER=..." for MySQL,
    // "Provider=ASEOLEDB;Data Source=host:port;..." for Sybase ASE.
    void Open(const std::string& connectionString);
    bool IsOpen() const { return backend_ != nullptr; }
    std::unique_ptr<ResultSet> Execute(const std::string& statement);
    std::unique_ptr<ResultSet> OpenSchema(SchemaKind kind);
    void Close();

private:
    ConnectionBackend& OpenBackend();
    ConnectionOptions options_;
    std::unique_ptr<ConnectionBackend> backend_;
};

} // namespace veltrane
