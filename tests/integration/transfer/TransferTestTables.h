// Source tables with hostile values, sessions on the test servers, and reading tables back for
// comparison: shared by the tests that copy tables.
#pragma once

#include "TestServers.h"
#include "connect/Connection.h"
#include "connect/access/DatabaseError.h"
#include "transfer/statements/RowStatements.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace veltrane::testing {

enum class Server { MySQL, Sybase };

const char* Label(Server server);
ServerKind Toward(Server target);
std::string Quote(Server server, std::string_view name);

// An open connection to one test server, the way the transfer opens them.
struct Session {
    Server server;
    ServerCoordinates coordinates;
    std::unique_ptr<Connection> connection;

    static Session Open(Server server, const ServerCoordinates& at) {
        Session s{server, at, std::make_unique<Connection>()};
        s.connection->SetCursorLocation(CursorLocation::Client);
        s.connection->SetCommandTimeout(600);
        s.connection->Open(server == Server::MySQL ? MySQLConnectionStringFor(at)
                                                   : SybaseConnectionStringFor(at));
        return s;
    }

    std::unique_ptr<ResultSet> Run(const std::string& statement) {
        try {
            return connection->Execute(statement);
        } catch (const DatabaseError& e) {
            ADD_FAILURE() << Label(server) << " error " << e.NativeError() << ": " << e.what()
                          << "\n  in: " << statement.substr(0, 300);
            throw;
        }
    }
};

// Drops a table when the test ends, through a connection of its own.
class DropAtExit {
public:
    DropAtExit(Server server, ServerCoordinates at, std::string table)
        : server_(server)
        , at_(std::move(at))
        , table_(std::move(table)) {
        Drop(); // a table left over from a crashed run
    }
    ~DropAtExit() { Drop(); }
    DropAtExit(const DropAtExit&) = delete;
    DropAtExit& operator=(const DropAtExit&) = delete;

private:
    void Drop() {
        try {
            Session s = Session::Open(server_, at_);
            s.connection->Execute("DROP TABLE " + Quote(server_, table_));
        } catch (const DatabaseError&) {
            // not there: nothing to drop
        }
    }
    Server server_;
    ServerCoordinates at_;
    std::string table_;
};

// "vt_<what>_<pid>": tests running at the same time never share a table.
std::string TableName(const std::string& what);

// Every row of `table` ordered by the column `orderBy` (ordered here on Sybase ASE, which
// refuses ORDER BY on text).
std::vector<std::vector<DbValue>> ReadAll(Session& session, const std::string& table,
                                          const std::string& orderBy);

// Equality of a value copied toward MySQL with its source value.
bool SameValue(const DbValue& got, const DbValue& want);
// What a Sybase ASE text column gives back for a copied value.
DbValue AsStoredBySybase(const DbValue& source);
// Every value of `got` equals its source value as `target` stores it.
void ExpectSameRows(const std::vector<std::vector<DbValue>>& got,
                    const std::vector<std::vector<DbValue>>& source,
                    const std::vector<FieldInfo>& fields, Server target);

struct SourceColumn {
    const char* declaration;
    std::vector<std::string> literals; // one per row; rows beyond them hold NULL
};

// `text` as a quoted SQL literal.
std::string Literal(std::string_view text);
// One column of every type each server offers, with hostile values; the last row is NULL.
std::vector<SourceColumn> MySQLSourceColumns();
std::vector<SourceColumn> SybaseSourceColumns();
// The columns for a copy from `source` toward `target` (NUL bytes replaced where Sybase ASE is
// involved, since it cannot receive them).
std::vector<SourceColumn> SourceColumns(Server source, Server target);
// Creates `table` from the columns and fills it with `rows` rows of their values.
void CreateSource(Session& session, const std::string& table,
                  const std::vector<SourceColumn>& columns, int rows);
ServerCoordinates Coordinates(Server server);

} // namespace veltrane::testing
