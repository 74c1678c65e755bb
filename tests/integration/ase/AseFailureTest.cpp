// The Sybase ASE backend when things go wrong underneath it: a read that fails part way, a
// server that goes away mid-session, a server that accepts the connection and never answers.
// Each test runs its own ase-testserver, since some of them stop it.

#include "ConnectionChecks.h"
#include "ServerProcess.h"
#include "connect/Connection.h"
#include "connect/access/DatabaseError.h"

#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <netinet/in.h>
#include <optional>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace veltrane::testing {
namespace {

const tdsserver::Login kLogin{"sa", "sa-secret"};

class AseFailure : public ::testing::Test {
protected:
    void SetUp() override {
        try {
            server_.Start({kLogin});
        } catch (const std::exception& e) {
            FAIL() << "cannot start " << ASE_TESTSERVER_PATH << ": " << e.what();
        }
    }

    std::unique_ptr<Connection> Open(CursorLocation cursor) const {
        auto c = std::make_unique<Connection>();
        c->SetCursorLocation(cursor);
        c->SetConnectionTimeout(10);
        c->Open("Provider=ASEOLEDB;Data Source=127.0.0.1:" + std::to_string(server_.Port()) +
                ";User Id=" + kLogin.user + ";Password=" + kLogin.password + ";;Catalog=master");
        return c;
    }

    // A table of 2^doublings rows of about 250 bytes each.
    static void MakeRows(Connection& c, const std::string& table, int doublings) {
        c.Execute("create table " + table + " (id int, filler varchar(250))");
        c.Execute("insert " + table + " values (1, replicate('x', 250))");
        for (int i = 0; i < doublings; ++i)
            c.Execute("insert " + table + " select id, filler from " + table);
    }

    tdsserver::ServerProcess server_;
};

// Reads `rows` to its end; returns the error that stopped it, if any.
std::optional<DatabaseError> ReadToEnd(ResultSet& rows) {
    try {
        while (!rows.IsEOF())
            rows.MoveNext();
    } catch (const DatabaseError& e) {
        return e;
    }
    return std::nullopt;
}

// A streamed read that fails (a later statement of the batch fails, or the server goes away
// mid-result) leaves a result set that can still be closed and released after its connection,
// and the failure says whether the connection is gone.
TEST_F(AseFailure, FailedStreamedReadThenConnectionClosedFirst) {
    struct Case {
        const char* name;
        const char* batch;
        bool stopServer;
        bool connectionLost;
    };
    const Case cases[] = {
        {"error in a later statement", "select id from vt_big select * from vt_no_such_table",
         false, false},
        {"server stopped mid-result", "select id, filler from vt_big", true, true},
    };
    {
        auto setup = Open(CursorLocation::Client);
        MakeRows(*setup, "vt_big", 16); // 65536 rows, far more than the socket buffers hold
    }
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        auto c = Open(CursorLocation::Server);
        auto rows = c->Execute(test.batch);
        ASSERT_NE(rows, nullptr);
        EXPECT_FALSE(rows->IsEOF());
        if (test.stopServer)
            server_.Stop();
        const std::optional<DatabaseError> error = ReadToEnd(*rows);
        ASSERT_TRUE(error.has_value());
        EXPECT_EQ(error->ConnectionLost(), test.connectionLost) << error->what();
        if (!test.connectionLost) {
            EXPECT_EQ(error->NativeError(), 208) << error->what();
        }
        EXPECT_TRUE(rows->IsEOF());
        EXPECT_THROW(rows->MoveNext(), DatabaseError);
        c.reset(); // the connection goes first, as the transfer does after a failure
        rows->Close();
        rows.reset();
    }
}

// Every statement after the server went away fails as a lost connection, while a refused
// statement does not.
TEST_F(AseFailure, ServerGoneIsALostConnection) {
    auto c = Open(CursorLocation::Client);
    const DatabaseError refused = ExecuteError(*c, "select * from vt_no_such_table");
    EXPECT_FALSE(refused.ConnectionLost());
    EXPECT_EQ(Scalar(*c, "select 1"), DbValue::Int(1));

    server_.Stop();
    for (int attempt = 0; attempt < 2; ++attempt) {
        SCOPED_TRACE(attempt);
        const DatabaseError lost = ExecuteError(*c, "select 1");
        EXPECT_TRUE(lost.ConnectionLost()) << lost.what();
        EXPECT_NE(std::string(lost.what()).find("connection"), std::string::npos) << lost.what();
    }
}

// A row callback of a client-side read that throws part way (a cancelled operation) leaves the
// connection ready for the next statement.
TEST_F(AseFailure, ThrowingRowCallbackLeavesTheConnectionUsable) {
    int rowsSeen = 0;
    Connection c;
    c.SetCursorLocation(CursorLocation::Client);
    c.SetRowReadCallback([&] {
        if (++rowsSeen == 5)
            throw std::runtime_error("stopped by the caller");
    });
    c.Open("Provider=ASEOLEDB;Data Source=127.0.0.1:" + std::to_string(server_.Port()) +
           ";User Id=" + kLogin.user + ";Password=" + kLogin.password + ";;Catalog=master");
    MakeRows(c, "vt_callback", 10);
    EXPECT_THROW(c.Execute("select id, filler from vt_callback"), std::runtime_error);
    EXPECT_EQ(rowsSeen, 5);
    EXPECT_EQ(Scalar(c, "select count(*) from vt_callback"), DbValue::Int(1024));
}

// A server whose character set is iso_1: FreeTDS converts between it and the program's UTF-8.
// What iso_1 holds arrives exactly both ways; a character it cannot hold fails the statement
// with a clear error and writes nothing, instead of arriving as '?'.
TEST_F(AseFailure, Iso1ServerKeepsLatin1AndRefusesWhatItCannotHold) {
    server_.Stop();
    server_.SetOptions({"--charset", "iso_1"});
    server_.Start({kLogin});
    auto c = Open(CursorLocation::Client);
    c->Execute("create table vt_latin (id int, v varchar(100) null)");
    const std::string latin1 = "Größe café ÿ × ½ © à la ¿";
    c->Execute("insert vt_latin values (1, '" + latin1 + "')");
    EXPECT_EQ(Scalar(*c, "select v from vt_latin where id = 1"), DbValue::Text(latin1));
    EXPECT_EQ(Scalar(*c, "select 'é' + v from vt_latin where v like 'Gr%'"),
              DbValue::Text("é" + latin1));

    for (const char* foreign : {"😀", "名前", "5 €"}) {
        SCOPED_TRACE(foreign);
        const DatabaseError e =
            ExecuteError(*c, std::string("insert vt_latin values (2, 'x") + foreign + "')");
        EXPECT_FALSE(e.ConnectionLost());
        EXPECT_NE(std::string(e.what()).find("iso_1"), std::string::npos) << e.what();
        EXPECT_EQ(Scalar(*c, "select count(*) from vt_latin where id = 2"), DbValue::Int(0));
    }
}

// A listener that accepts the TCP connection and never says a word: the open gives up after
// the connection timeout with a clear error instead of waiting for ever.
TEST(AseOpen, SilentServerTimesOut) {
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), length), 0);
    ASSERT_EQ(::listen(listener, 4), 0); // the kernel completes the handshake; nobody reads
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    const std::string port = std::to_string(ntohs(address.sin_port));

    Connection c;
    c.SetConnectionTimeout(2);
    const auto started = std::chrono::steady_clock::now();
    try {
        c.Open("Provider=ASEOLEDB;Data Source=127.0.0.1:" + port +
               ";User Id=sa;Password=x;;Catalog=master");
        ADD_FAILURE() << "Open succeeded against a silent listener";
    } catch (const DatabaseError& e) {
        const std::string text = e.what();
        EXPECT_NE(text.find("127.0.0.1:" + port), std::string::npos) << text;
        EXPECT_NE(text.find("2 seconds"), std::string::npos) << text;
    }
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_FALSE(c.IsOpen());
    EXPECT_GE(took, std::chrono::milliseconds(1500));
    EXPECT_LT(took, std::chrono::seconds(8));
    ::close(listener);
}

} // namespace
} // namespace veltrane::testing
