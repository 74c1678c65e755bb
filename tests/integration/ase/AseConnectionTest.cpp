// The Sybase ASE backend against the TDS 5.0 test server: connecting, statements, errors,
// every column type with its exact values, and two connections at once.

#include "ConnectionChecks.h"
#include "TestServers.h"
#include "connect/Connection.h"
#include "connect/ConnectionTests.h"
#include "connect/access/DatabaseError.h"

#include <chrono>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace veltrane::testing {
namespace {

// A loopback port that nothing listens on: bound by the kernel, then released.
std::string ClosedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), len);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return std::to_string(ntohs(addr.sin_port));
}

std::unique_ptr<Connection> OpenAse(const ServerCoordinates& server,
                                    CursorLocation cursor = CursorLocation::Client) {
    auto c = std::make_unique<Connection>();
    c->SetCursorLocation(cursor);
    c->SetConnectionTimeout(10);
    c->Open(SybaseConnectionStringFor(server));
    return c;
}

TEST(AseConnection, ClosedPortFailsFastWithClearText) {
    ServerCoordinates nowhere{"127.0.0.1", ClosedPort(), "sa", "x", "master"};
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(TestSybaseConnection(nowhere.Profile()));
    Connection c;
    c.SetConnectionTimeout(3);
    try {
        c.Open(SybaseConnectionStringFor(nowhere));
        ADD_FAILURE() << "Open succeeded on a closed port";
    } catch (const DatabaseError& e) {
        EXPECT_NE(std::string(e.what()).find("127.0.0.1:" + nowhere.port), std::string::npos)
            << e.what();
        EXPECT_NE(e.NativeError(), 0) << e.what();
    }
    EXPECT_FALSE(c.IsOpen());
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(40));
}

TEST(AseConnection, OpenCloseAndWrongPassword) {
    VELTRANE_REQUIRE_SYBASE(server);
    EXPECT_TRUE(TestSybaseConnection(server.Profile()));
    auto c = OpenAse(server);
    EXPECT_TRUE(c->IsOpen());
    EXPECT_EQ(Scalar(*c, "select db_name()"), DbValue::Text(server.database));
    c->Close();
    EXPECT_FALSE(c->IsOpen());
    EXPECT_THROW(c->Execute("select 1"), DatabaseError);

    ServerCoordinates wrong = server;
    wrong.password += "-wrong";
    EXPECT_FALSE(TestSybaseConnection(wrong.Profile()));
    Connection w;
    try {
        w.Open(SybaseConnectionStringFor(wrong));
        ADD_FAILURE() << "Open succeeded with a wrong password";
    } catch (const DatabaseError& e) {
        const std::string text = e.what();
        EXPECT_NE(text.find("Cannot connect"), std::string::npos) << text;
        EXPECT_EQ(text.find(wrong.password), std::string::npos) << "password in: " << text;
    }
    EXPECT_FALSE(w.IsOpen());
}

TEST(AseConnection, DdlDmlAndBatches) {
    VELTRANE_REQUIRE_SYBASE(server);
    auto c = OpenAse(server);
    c->Execute("if object_id('vt_dml') is not null drop table vt_dml");
    EXPECT_EQ(c->Execute("create table vt_dml (id int, name varchar(40) null)"), nullptr);
    EXPECT_EQ(c->Execute("insert into vt_dml values (1, 'it''s')\n"
                         "insert into vt_dml values (2, 'back\\slash')\n"
                         "insert into vt_dml values (3, null)"),
              nullptr);
    c->Execute("update vt_dml set name = 'two' where id = 2");
    c->Execute("delete from vt_dml where id = 3");
    auto rs = c->Execute("select id, name from vt_dml order by id");
    ASSERT_NE(rs, nullptr);
    EXPECT_EQ(rs->RecordCount(), 2);
    EXPECT_EQ(rs->Value("id"), DbValue::Int(1));
    EXPECT_EQ(rs->Value("name"), DbValue::Text("it's"));
    rs->MoveNext();
    EXPECT_EQ(rs->Value(1), DbValue::Text("two"));
    rs->MoveNext();
    EXPECT_TRUE(rs->IsEOF());
    EXPECT_THROW(rs->Value(0), DatabaseError);

    // An error in a later statement of a batch is not lost, and earlier ones took effect.
    const DatabaseError e =
        ExecuteError(*c, "insert into vt_dml values (4, 'four')\nselect * from vt_missing_x");
    EXPECT_EQ(e.NativeError(), 208);
    EXPECT_NE(e.Message().find("vt_missing_x"), std::string::npos) << e.Message();
    EXPECT_NE(e.Statement().find("vt_missing_x"), std::string::npos);
    EXPECT_EQ(Scalar(*c, "select count(*) from vt_dml"), DbValue::Int(3));
    c->Execute("drop table vt_dml");
}

TEST(AseConnection, ErrorsCarryNumberTextAndStatement) {
    VELTRANE_REQUIRE_SYBASE(server);
    auto c = OpenAse(server);
    const std::string statement = "select * from vt_no_such_table";
    const DatabaseError e = ExecuteError(*c, statement);
    EXPECT_EQ(e.NativeError(), 208);
    EXPECT_NE(e.Message().find("vt_no_such_table"), std::string::npos) << e.Message();
    EXPECT_EQ(e.Statement(), statement);
    // The connection stays usable after the error.
    EXPECT_EQ(Scalar(*c, "select 7"), DbValue::Int(7));
    EXPECT_THROW(c->Execute(std::string("select 'a\0b'", 12)), DatabaseError);
}

TEST(AseConnection, TwoConnectionsKeepTheirOwnErrors) {
    VELTRANE_REQUIRE_SYBASE(server);
    auto a = OpenAse(server);
    auto b = OpenAse(server);
    const DatabaseError ea = ExecuteError(*a, "select * from vt_missing_a");
    EXPECT_EQ(Scalar(*b, "select 'fine'"), DbValue::Text("fine"));
    const DatabaseError eb = ExecuteError(*b, "select * from vt_missing_b");
    EXPECT_NE(ea.Message().find("vt_missing_a"), std::string::npos) << ea.Message();
    EXPECT_NE(eb.Message().find("vt_missing_b"), std::string::npos) << eb.Message();
    EXPECT_EQ(eb.Message().find("vt_missing_a"), std::string::npos) << eb.Message();
    EXPECT_EQ(Scalar(*a, "select 'still fine'"), DbValue::Text("still fine"));
}

TEST(AseConnection, OddTableNameAndTablesSchema) {
    VELTRANE_REQUIRE_SYBASE(server);
    auto c = OpenAse(server);
    const std::string quoted = "[vt odd]]name]";
    c->Execute("if object_id('vt odd]name') is not null drop table " + quoted);
    c->Execute("create table " + quoted + " (v varchar(10))");
    c->Execute("insert into " + quoted + " values ('x')");
    EXPECT_EQ(Scalar(*c, "select v from " + quoted), DbValue::Text("x"));

    auto rs = c->OpenSchema(SchemaKind::Tables);
    ASSERT_NE(rs, nullptr);
    EXPECT_GT(rs->RecordCount(), 0);
    for (const char* name : {"TABLE_NAME", "TABLE_TYPE", "TABLE_OWNER"})
        EXPECT_EQ(rs->Field(rs->FieldIndex(name)).name, name);
    bool found = false;
    for (; !rs->IsEOF(); rs->MoveNext()) {
        if (rs->Value("TABLE_NAME") == DbValue::Text("vt odd]name")) {
            found = true;
            EXPECT_EQ(rs->Value("TABLE_TYPE"), DbValue::Text("TABLE"));
            EXPECT_FALSE(rs->Value("TABLE_OWNER").ToText().empty());
        }
    }
    EXPECT_TRUE(found);
    c->Execute("drop table " + quoted);
}

TEST(AseConnection, StreamingResultAndConnectionReuse) {
    VELTRANE_REQUIRE_SYBASE(server);
    auto c = OpenAse(server, CursorLocation::Server);
    c->Execute("if object_id('vt_stream') is not null drop table vt_stream");
    c->Execute("create table vt_stream (id int)");
    c->Execute("insert into vt_stream values (1)\ninsert into vt_stream values (2)\n"
               "insert into vt_stream values (3)");
    auto rs = c->Execute("select id from vt_stream order by id");
    ASSERT_NE(rs, nullptr);
    EXPECT_EQ(rs->RecordCount(), -1);
    EXPECT_EQ(rs->Value(0), DbValue::Int(1));
    // Another statement while rows are pending: it runs, and the old result keeps its rows.
    EXPECT_EQ(Scalar(*c, "select count(*) from vt_stream"), DbValue::Int(3));
    rs->MoveNext();
    EXPECT_EQ(rs->Value(0), DbValue::Int(2));

    auto all = c->Execute("select id from vt_stream order by id");
    ASSERT_NE(all, nullptr);
    std::int64_t sum = 0;
    for (; !all->IsEOF(); all->MoveNext())
        sum += all->Value(0).AsInt();
    EXPECT_EQ(sum, 6);
    c->Execute("drop table vt_stream");
}

// A statement that outlasts the command timeout is cancelled with a clear error; the
// connection stays usable, and what the batch did before the cancel stays done.
TEST(AseConnection, CommandTimeoutCancelsTheStatementAndKeepsTheConnection) {
    VELTRANE_REQUIRE_SYBASE(server);
    auto c = std::make_unique<Connection>();
    c->SetCommandTimeout(1);
    c->Open(SybaseConnectionStringFor(server));
    c->Execute("if object_id('vt_slow') is not null drop table vt_slow");
    c->Execute("create table vt_slow (a int) insert vt_slow values (1)");
    std::string doubling;
    for (int i = 0; i < 26; ++i) // minutes of work when nothing stops it
        doubling += "insert vt_slow select a from vt_slow\n";
    const auto start = std::chrono::steady_clock::now();
    try {
        c->Execute(doubling);
        ADD_FAILURE() << "the batch finished within the timeout";
    } catch (const DatabaseError& e) {
        EXPECT_EQ(e.NativeError(), 20003);
        EXPECT_FALSE(e.ConnectionLost()) << e.what();
        EXPECT_NE(std::string(e.what()).find("timeout"), std::string::npos) << e.what();
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    const DbValue rows = Scalar(*c, "select count(*) from vt_slow");
    EXPECT_GE(rows.AsInt(), 2);
    EXPECT_LT(rows.AsInt(), std::int64_t{1} << 26);
    c->Execute("drop table vt_slow");
}

} // namespace
} // namespace veltrane::testing
