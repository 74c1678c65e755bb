#pragma once

#include "TestServers.h"
#include "connect/Connection.h"
#include "connect/access/DatabaseError.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <unistd.h>

namespace veltrane::testing {

// A value as a quoted MySQL literal, single quotes doubled: all the escaping a session with
// NO_BACKSLASH_ESCAPES needs.
inline std::string Quoted(const std::string& value) {
    std::string out = "'";
    for (char c : value) {
        if (c == '\'') {
            out += '\'';
        }
        out += c;
    }
    out += '\'';
    return out;
}

// A table name no other test (or parallel run) uses: the test's name and the process id.
inline std::string UniqueTableName(const std::string& suffix = {}) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string("vt_") + info->name() + "_" + std::to_string(getpid()) + suffix;
    return name;
}

inline std::unique_ptr<Connection> OpenMySQL(const ServerCoordinates& server,
                                             CursorLocation cursor = CursorLocation::Client) {
    auto connection = std::make_unique<Connection>();
    connection->SetCursorLocation(cursor);
    connection->Open(MySQLConnectionStringFor(server));
    return connection;
}

// Drops its table when the test ends, through a connection of its own so that a test that
// broke its connection still cleans up.
class DropTableAtExit {
public:
    DropTableAtExit(ServerCoordinates server, std::string table, std::string kind = "TABLE")
        : server_(std::move(server))
        , table_(std::move(table))
        , kind_(std::move(kind)) {}
    ~DropTableAtExit() {
        try {
            OpenMySQL(server_)->Execute("DROP " + kind_ + " IF EXISTS `" + table_ + "`");
        } catch (const DatabaseError& e) {
            ADD_FAILURE() << "dropping " << table_ << ": " << e.what();
        }
    }
    DropTableAtExit(const DropTableAtExit&) = delete;
    DropTableAtExit& operator=(const DropTableAtExit&) = delete;

private:
    ServerCoordinates server_;
    std::string table_;
    std::string kind_; // TABLE or VIEW
};

} // namespace veltrane::testing
