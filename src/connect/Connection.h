#pragma once

#include "connect/ResultSet.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

namespace veltrane {

enum class CursorLocation { NotSet = 0, Server = 2, Client = 3 };
enum class ConnectMode { NotSet = 0, ReadWrite = 3 };
enum class SchemaKind { Tables = 20 };

// ADO's CommandTimeout where none is set. The client libraries' own default is to wait for
// ever, so the operations that leave their timeouts at the defaults set this one themselves:
// a server that stops answering then fails the statement instead of freezing the window.
constexpr int kDefaultCommandTimeoutSeconds = 30;

// The options a caller sets before Open; a backend applies them as its client allows.
struct ConnectionOptions {
    CursorLocation cursorLocation = CursorLocation::NotSet;
    std::optional<int> commandTimeoutSeconds;
    std::optional<int> connectionTimeoutSeconds;
    ConnectMode mode = ConnectMode::NotSet;
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
    void SetMode(ConnectMode mode) { options_.mode = mode; }
    void SetRowReadCallback(std::function<void()> callback) {
        options_.rowRead = std::move(callback);
    }
    const ConnectionOptions& Options() const { return options_; }

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
