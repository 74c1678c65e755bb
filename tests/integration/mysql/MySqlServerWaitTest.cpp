// While the client waits for the MySQL server the window's event loop gets its turns, and the
// waits last and end as they did when the client blocked.

#include "ConnectionChecks.h"
#include "MySqlTestHelpers.h"
#include "PrivateServers.h"
#include "connect/access/ServerWait.h"

#include <algorithm>
#include <chrono>

namespace veltrane::testing {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using std::chrono::seconds;

// Installs a turn that records the longest stretch without one, from its own start until
// Longest() is asked.
class TurnRecorder {
public:
    TurnRecorder()
        : last_(Clock::now()) {
        SetServerWaitTurn([this] {
            Note();
            ++turns_;
        });
    }
    ~TurnRecorder() { SetServerWaitTurn({}); }
    TurnRecorder(const TurnRecorder&) = delete;
    TurnRecorder& operator=(const TurnRecorder&) = delete;

    Clock::duration Longest() {
        Note();
        return longest_;
    }
    int Turns() const { return turns_; }

private:
    void Note() {
        const Clock::time_point now = Clock::now();
        longest_ = std::max(longest_, now - last_);
        last_ = now;
    }
    Clock::time_point last_;
    Clock::duration longest_{};
    int turns_ = 0;
};

TEST(MySQLServerWait, SilentServerTakesTurnsUntilTheTimeoutEndsTheWait) {
    VELTRANE_REQUIRE_MYSQL(server);
    struct Case {
        const char* statement; // what silences the server; nullptr: the login waits
        seconds waits;         // the connect timeout, or the command timeout and the client's grace
        int error;
        const char* message; // the client library's own, as it gave it when it blocked
    };
    const Case cases[] = {
        {nullptr, seconds(2), 2013,
         "Lost connection to server at 'handshake: reading initial communication packet', "
         "system error: 110"},
        {"DO 7", seconds(6), 2013, "Lost connection to server during query"},
        {"SELECT 7", seconds(6), 2013, "Lost connection to server during query"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.statement ? c.statement : "login");
        SilencingRelay relay(std::stoi(server.port));
        ServerCoordinates viaRelay = server;
        viaRelay.host = "127.0.0.1";
        viaRelay.port = std::to_string(relay.Port());
        Connection connection;
        connection.SetConnectionTimeout(2);
        connection.SetCommandTimeout(1);
        if (c.statement) {
            relay.SilenceAt(c.statement);
        } else {
            relay.SilenceNow();
        }
        std::string expected = c.message;
        DatabaseError error("");
        const Clock::time_point started = Clock::now();
        Clock::duration longestWithoutTurn{};
        int turns = 0;
        {
            TurnRecorder recorder;
            try {
                connection.Open(MySQLConnectionStringFor(viaRelay));
                if (c.statement) {
                    error = ExecuteError(connection, c.statement);
                } else {
                    ADD_FAILURE() << "opened";
                }
            } catch (const DatabaseError& e) {
                error = e;
            }
            longestWithoutTurn = recorder.Longest();
            turns = recorder.Turns();
        }
        const Clock::duration waited = Clock::now() - started;
        if (!c.statement) {
            expected = "The MySQL server at 127.0.0.1:" + viaRelay.port +
                       " did not complete the login within 2 seconds (" + expected + ").";
        }
        EXPECT_TRUE(relay.Silent());
        EXPECT_EQ(error.NativeError(), c.error);
        EXPECT_EQ(std::string(error.what()), expected);
        EXPECT_GE(waited, c.waits);
        EXPECT_LT(waited, c.waits + seconds(3));
        EXPECT_LT(longestWithoutTurn, milliseconds(250)) << turns << " turns";
    }
}

TEST(MySQLServerWait, OpeningThatFailsAtOnceFailsAsTheBlockingClientDid) {
    std::string longName;
    for (int label = 0; label < 12; ++label) {
        longName += "nowhere-" + std::to_string(label) + "x.";
    }
    longName += "invalid";
    const std::string closedPort = std::to_string(FreeLoopbackPort());
    struct Case {
        std::string host;
        std::string port;
        int error;
        std::string message; // the client library's own; it keeps 100 bytes of a name
    };
    const Case cases[] = {
        {"no-such-host.invalid", "3306", 2005, "Unknown server host 'no-such-host.invalid' (-2)"},
        {longName, "3306", 2005, "Unknown server host '" + longName.substr(0, 100) + "' (-2)"},
        {"127.0.0.1", closedPort, 2002, "Can't connect to server on '127.0.0.1' (115)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.host + ":" + c.port);
        Connection connection;
        try {
            connection.Open(MySQLConnectionStringFor({c.host, c.port, "u", "p", ""}));
            ADD_FAILURE() << "opened";
        } catch (const DatabaseError& e) {
            EXPECT_EQ(e.NativeError(), c.error);
            EXPECT_EQ(std::string(e.what()), c.message);
            EXPECT_FALSE(e.ConnectionLost());
        }
        EXPECT_FALSE(connection.IsOpen());
    }
}

} // namespace
} // namespace veltrane::testing
