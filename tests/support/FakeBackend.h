// Servers in memory for the connections that the program's own operations open, so that a test
// can drive an operation through failures that real servers give only with much effort: a
// segment that fills at a given row, a connection that drops in the middle of an INSERT, a
// database that turns read-only.
#pragma once

#include "connect/access/ConnectionBackend.h"
#include "connect/access/DatabaseError.h"
#include "connect/access/ResultSet.h"
#include "connect/access/ServerKind.h"

#include <memory>
#include <string>
#include <vector>

namespace veltrane::testing {

// A failure that a fake server raises in place of running one statement.
struct ScriptedFailure {
    std::string statementStart; // counts the statements that begin with this text
    int nth = 1;                // and fails the nth of them (from 1); the others run
    std::string message;
    int number = 0; // the server's own error number
    FailureReason reason = FailureReason::Refused;
};

// One server's tables and the statements its sessions were sent. SELECT * FROM <the table's
// quoted name> returns a table's rows, counted when the connection asked for a client-side
// cursor; CREATE TABLE, INSERT INTO and DROP TABLE succeed without changing anything; any other
// statement fails. A session that failed with a lost connection fails every later statement
// the same way.
class FakeServer {
public:
    explicit FakeServer(ServerKind kind);

    void AddTable(const std::string& name, std::vector<FieldInfo> fields,
                  std::vector<std::vector<DbValue>> rows);
    void FailAt(ScriptedFailure failure);

    // Every statement any session sent, in order, those that failed included.
    const std::vector<std::string>& Statements() const;
    // `name` as this server's statements spell it.
    std::string Quoted(const std::string& name) const;

    std::unique_ptr<ConnectionBackend> Open(const ConnectionTarget& target,
                                            const ConnectionOptions& options);

    struct State;

private:
    std::shared_ptr<State> state_;
};

// While it exists, each connection that opens reaches the fake server of the kind its
// connection string names.
class FakeServers {
public:
    FakeServers();
    ~FakeServers();
    FakeServers(const FakeServers&) = delete;
    FakeServers& operator=(const FakeServers&) = delete;

    FakeServer& Of(ServerKind kind) { return kind == ServerKind::MySQL ? mysql : sybase; }

    FakeServer mysql{ServerKind::MySQL};
    FakeServer sybase{ServerKind::SybaseASE};
};

} // namespace veltrane::testing
