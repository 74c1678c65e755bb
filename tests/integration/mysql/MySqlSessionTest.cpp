// What every MySQL session guarantees whatever the server's configuration: strict values,
// statements the server can take, a bounded open, and a lost connection told apart from a
// refused statement.

#include "ConnectionChecks.h"
#include "MySqlTestHelpers.h"

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>

namespace veltrane::testing {
namespace {

// A loopback listener that accepts nothing and says nothing: a client that connects to it
// waits for the server's greeting.
class SilentListener {
public:
    SilentListener() {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
            listen(fd_, 8) != 0 ||
            getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
            ADD_FAILURE() << "no listener";
        }
        port_ = ntohs(address.sin_port);
    }
    ~SilentListener() { close(fd_); }
    std::string Port() const { return std::to_string(port_); }

protected:
    int fd_ = -1;
    unsigned short port_ = 0;
};

// Relays one client connection to the test server until Cut(), which closes both sides the
// way a server that stops does.
class CuttableRelay : public SilentListener {
public:
    explicit CuttableRelay(const ServerCoordinates& server)
        : thread_([this, server] { Relay(server); }) {}
    ~CuttableRelay() {
        Cut();
        thread_.join();
    }
    void Cut() { cut_ = true; }

private:
    void Relay(const ServerCoordinates& server) {
        pollfd waiting{fd_, POLLIN, 0};
        while (!cut_ && poll(&waiting, 1, 50) == 0) {
        }
        if (cut_) {
            return;
        }
        const int client = accept(fd_, nullptr, nullptr);
        const int upstream = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<unsigned short>(std::stoi(server.port)));
        inet_pton(AF_INET, server.host.c_str(), &address.sin_addr);
        if (connect(upstream, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
            pollfd ends[2] = {{client, POLLIN, 0}, {upstream, POLLIN, 0}};
            char buffer[65536];
            while (!cut_) {
                if (poll(ends, 2, 50) <= 0) {
                    continue;
                }
                for (int i = 0; i < 2; ++i) {
                    if (ends[i].revents != 0) {
                        const ssize_t n = read(ends[i].fd, buffer, sizeof buffer);
                        if (n <= 0 || write(ends[1 - i].fd, buffer, static_cast<size_t>(n)) != n) {
                            cut_ = true;
                        }
                    }
                }
            }
        }
        close(upstream);
        close(client);
    }

    std::atomic<bool> cut_{false};
    std::thread thread_;
};

TEST(MySQLSession, ValuesAColumnCannotHoldAreErrors) {
    VELTRANE_REQUIRE_MYSQL(server);
    auto connection = OpenMySQL(server);
    // The test server runs with the MySQL 5.6 default mode, which is not strict.
    const std::string globalMode = Scalar(*connection, "SELECT @@GLOBAL.sql_mode").ToText();
    EXPECT_EQ(globalMode.find("STRICT"), std::string::npos) << globalMode;
    const std::string mode = Scalar(*connection, "SELECT @@SESSION.sql_mode").ToText();
    EXPECT_NE(mode.find("STRICT_ALL_TABLES"), std::string::npos) << mode;
    EXPECT_NE(mode.find("NO_BACKSLASH_ESCAPES"), std::string::npos) << mode;

    const std::string table = UniqueTableName();
    DropTableAtExit drop(server, table);
    connection->Execute("CREATE TABLE `" + table +
                        "` (t VARCHAR(3), f FLOAT, i TINYINT, d DECIMAL(4,2)) ENGINE=MyISAM");
    struct Case {
        const char* values;
        int error;
    };
    const Case cases[] = {
        {"(X'C328', NULL, NULL, NULL)", 1366},   // invalid UTF-8
        {"('abcd', NULL, NULL, NULL)", 1406},    // too long
        {"(NULL, '1e39', NULL, NULL)", 1264},    // beyond FLOAT
        {"(NULL, NULL, 300, NULL)", 1264},       // beyond TINYINT
        {"(NULL, NULL, NULL, '123.456')", 1264}, // beyond DECIMAL(4,2)
        {"(NULL, NULL, 'seven', NULL)", 1366},   // not a number
    };
    for (const Case& c : cases) {
        const DatabaseError error =
            ExecuteError(*connection, "INSERT INTO `" + table + "` VALUES " + c.values);
        EXPECT_EQ(error.NativeError(), c.error) << c.values << ": " << error.what();
    }
    EXPECT_EQ(Scalar(*connection, "SELECT COUNT(*) FROM `" + table + "`").ToText(), "0");
}

TEST(MySQLSession, OverlongStatementIsRefusedBeforeSending) {
    VELTRANE_REQUIRE_MYSQL(server);
    const std::string table = UniqueTableName();
    DropTableAtExit drop(server, table);
    auto connection = OpenMySQL(server);
    connection->Execute("CREATE TABLE `" + table + "` (id INT, b LONGBLOB)");
    const std::string limit = Scalar(*connection, "SELECT @@max_allowed_packet").ToText();
    // A BLOB written as hex takes two characters a byte: half the limit is already too much.
    const std::string prefix = "INSERT INTO `" + table + "` VALUES (1, 0x";
    std::string statement = prefix;
    statement.append(std::stoull(limit) + 2 - prefix.size(), 'A');
    statement += ")";
    const DatabaseError error = ExecuteError(*connection, statement);
    const std::string message = error.what();
    EXPECT_NE(message.find(std::to_string(statement.size())), std::string::npos) << message;
    EXPECT_NE(message.find(limit), std::string::npos) << message;
    EXPECT_FALSE(error.ConnectionLost());
    statement.clear();
    // The session goes on: the next row arrives.
    connection->Execute("INSERT INTO `" + table + "` VALUES (2, 0x4142)");
    EXPECT_EQ(Scalar(*connection, "SELECT GROUP_CONCAT(id) FROM `" + table + "`").ToText(), "2");
}

TEST(MySQLSession, LostConnectionIsToldApartFromRefusals) {
    VELTRANE_REQUIRE_MYSQL(server);
    Connection connection;
    connection.SetCommandTimeout(1);
    connection.Open(MySQLConnectionStringFor(server));
    const DatabaseError refused = ExecuteError(connection, "SELEC 1");
    EXPECT_FALSE(refused.ConnectionLost()) << refused.what();
    const auto started = std::chrono::steady_clock::now();
    const DatabaseError timedOut = ExecuteError(connection, "SELECT SLEEP(30)");
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
    EXPECT_FALSE(timedOut.ConnectionLost()) << timedOut.what();
    EXPECT_EQ(Scalar(connection, "SELECT 'still here'").ToText(), "still here");

    // Killed from a second session: this and every later statement report the loss.
    const std::string id = Scalar(connection, "SELECT CONNECTION_ID()").ToText();
    OpenMySQL(server)->Execute("KILL CONNECTION " + id);
    for (const char* statement : {"SELECT 1", "INSERT INTO nowhere VALUES (1)", "SHOW TABLES"}) {
        const DatabaseError lost = ExecuteError(connection, statement);
        EXPECT_TRUE(lost.ConnectionLost()) << lost.NativeError() << " " << lost.what();
        EXPECT_EQ(lost.Statement(), statement);
    }
    EXPECT_NO_THROW(connection.Close());
}

TEST(MySQLSession, ServerThatGoesAwayIsALostConnection) {
    VELTRANE_REQUIRE_MYSQL(server);
    for (auto cursor : {CursorLocation::Client, CursorLocation::Server}) {
        CuttableRelay relay(server);
        ServerCoordinates viaRelay = server;
        viaRelay.host = "127.0.0.1";
        viaRelay.port = relay.Port();
        auto connection = OpenMySQL(viaRelay, cursor);
        EXPECT_EQ(Scalar(*connection, "SELECT 1 + 1").ToText(), "2");
        relay.Cut();
        const DatabaseError lost = ExecuteError(*connection, "SELECT 2");
        EXPECT_TRUE(lost.ConnectionLost()) << lost.NativeError() << " " << lost.what();
        EXPECT_TRUE(ExecuteError(*connection, "SELECT 3").ConnectionLost());
    }
}

TEST(MySQLSession, OpeningAgainstASilentServerEndsInTime) {
    SilentListener silent;
    ServerCoordinates nowhere{"127.0.0.1", silent.Port(), "u", "p", ""};
    Connection connection;
    connection.SetConnectionTimeout(2);
    const auto started = std::chrono::steady_clock::now();
    try {
        connection.Open(MySQLConnectionStringFor(nowhere));
        ADD_FAILURE() << "opened";
    } catch (const DatabaseError& e) {
        const std::string message = e.what();
        EXPECT_NE(message.find("did not complete the login within 2 seconds"), std::string::npos)
            << message;
        EXPECT_NE(message.find("127.0.0.1:" + silent.Port()), std::string::npos) << message;
        EXPECT_FALSE(e.ConnectionLost());
    }
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    EXPECT_FALSE(connection.IsOpen());
}

} // namespace
} // namespace veltrane::testing
