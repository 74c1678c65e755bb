// MySQL backend on MariaDB Connector/C. Statements that read rows run as prepared statements,
// whose binary protocol carries every number exactly; all others (and those the server cannot
// prepare) run through the text protocol. Every session runs with utf8mb4, strict mode and
// NO_BACKSLASH_ESCAPES (see SessionSetup).

#include "connect/mariadb/MariaDbBackend.h"

#include "connect/access/CaseInsensitive.h"
#include "connect/access/DatabaseError.h"
#include "connect/access/ServerWait.h"
#include "connect/mariadb/MariaDbErrors.h"
#include "connect/mariadb/MariaDbLink.h"
#include "connect/mariadb/MariaDbResultSet.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <memory>
#include <mysql.h>
#include <netdb.h>
#include <netinet/in.h>
#include <optional>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <thread>
#include <utility>

namespace veltrane::mariadb {

namespace {

// True for statements that may return rows and can run as prepared statements: those that
// begin with SELECT or WITH (after blanks, opening parentheses and comments). Everything
// else runs as text, which keeps row statements to one round trip.
bool ReadsRows(std::string_view statement) {
    std::size_t i = 0;
    while (i < statement.size()) {
        const char c = statement[i];
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '(') {
            ++i;
        } else if (statement.substr(i, 2) == "/*" && statement.substr(i, 3) != "/*!" &&
                   statement.substr(i, 3) != "/*M") {
            const std::size_t end = statement.find("*/", i + 2);
            i = end == std::string_view::npos ? statement.size() : end + 2;
        } else if (statement.substr(i, 3) == "-- " || c == '#') {
            const std::size_t end = statement.find('\n', i);
            i = end == std::string_view::npos ? statement.size() : end + 1;
        } else {
            break;
        }
    }
    auto startsWith = [&](std::string_view word) {
        if (!EqualsIgnoringCase(statement.substr(i, word.size()), word)) {
            return false;
        }
        const std::size_t after = i + word.size();
        return after == statement.size() ||
               !(std::isalnum(static_cast<unsigned char>(statement[after])) ||
                 statement[after] == '_');
    };
    return startsWith("SELECT") || startsWith("WITH");
}

constexpr unsigned kUnsupportedInPreparedProtocol = 1295; // ER_UNSUPPORTED_PS

// With a row callback the socket's receive buffer is cut to this, so that reading a large
// stored result waits for the server, and calls back, every few dozen kilobytes.
constexpr int kCallBackReceiveBufferBytes = 64 * 1024;

} // namespace

class MariaDbBackend final : public ConnectionBackend {
public:
    MariaDbBackend(std::shared_ptr<MariaDbLink> link, const ConnectionOptions& options)
        : link_(std::move(link))
        , clientCursor_(options.cursorLocation == CursorLocation::Client)
        , rowRead_(options.rowRead) {}

    ~MariaDbBackend() override { Close(); }

    std::unique_ptr<ResultSet> Execute(const std::string& statement) override {
        return Run(statement, clientCursor_);
    }

    std::unique_ptr<ResultSet> OpenTablesSchema() override {
        // Shaped like the ADO tables rowset; the current database plays catalogue and schema.
        static const std::string kQuery =
            "SELECT TABLE_SCHEMA AS TABLE_CATALOG, TABLE_SCHEMA, TABLE_NAME, "
            "CASE TABLE_TYPE WHEN 'BASE TABLE' THEN 'TABLE' WHEN 'SYSTEM VERSIONED' THEN 'TABLE' "
            "WHEN 'VIEW' THEN 'VIEW' WHEN 'SYSTEM VIEW' THEN 'SYSTEM TABLE' "
            "ELSE TABLE_TYPE END AS TABLE_TYPE, TABLE_COMMENT AS DESCRIPTION "
            "FROM information_schema.TABLES WHERE TABLE_SCHEMA = DATABASE() "
            "ORDER BY TABLE_NAME";
        return Run(kQuery, true);
    }

    void Close() override {
        if (!link_ || !link_->mysql) {
            return;
        }
        link_->ReleaseAll();
        // The library frees the handle at the end of the call.
        MYSQL* mysql = std::exchange(link_->mysql, nullptr);
        Await(
            mysql, [&] { return mysql_close_start(mysql); },
            [&](int ready) { return mysql_close_cont(mysql, ready); });
    }

private:
    MYSQL* Handle(const std::string& statement) const {
        if (!link_->mysql) {
            throw ObjectClosedError();
        }
        if (link_->lost) {
            throw DatabaseError(
                std::string("The connection to the MySQL server was lost: ") + link_->lost->what(),
                link_->lost->NativeError(), statement, FailureReason::ConnectionLost);
        }
        return link_->mysql;
    }

    std::unique_ptr<ResultSet> Run(const std::string& statement, bool buffered) {
        MYSQL* mysql = Handle(statement);
        // The command byte travels in the same packet as the statement.
        if (statement.size() + 1 > link_->maxPacketBytes) {
            throw DatabaseError("The statement is " + std::to_string(statement.size()) +
                                    " bytes long, more than the " +
                                    std::to_string(link_->maxPacketBytes - 1) +
                                    " bytes the MySQL server accepts (max_allowed_packet " +
                                    std::to_string(link_->maxPacketBytes) + "); it was not sent.",
                                1153, statement);
        }
        link_->ReleaseStream(true);
        try {
            if (ReadsRows(statement)) {
                if (auto rows = RunPrepared(mysql, statement, buffered)) {
                    return std::move(*rows);
                }
            }
            return RunText(mysql, statement, buffered);
        } catch (const DatabaseError& e) {
            throw link_->Note(e);
        }
    }

    // Runs a statement through the binary protocol; nullopt when the server cannot prepare
    // it, so that the text protocol runs it instead.
    std::optional<std::unique_ptr<ResultSet>>
    RunPrepared(MYSQL* mysql, const std::string& statement, bool buffered) {
        MYSQL_STMT* stmt = mysql_stmt_init(mysql);
        if (!stmt) {
            throw ClientError(mysql, statement);
        }
        int prepared = 0;
        Await(
            mysql,
            [&] {
                return mysql_stmt_prepare_start(&prepared, stmt, statement.data(),
                                                statement.size());
            },
            [&](int ready) { return mysql_stmt_prepare_cont(&prepared, stmt, ready); });
        if (prepared != 0) {
            const unsigned code = mysql_stmt_errno(stmt);
            DatabaseError error = StatementError(stmt, statement);
            CloseStatement(stmt);
            if (code == kUnsupportedInPreparedProtocol) {
                return std::nullopt;
            }
            throw error;
        }
        // A '?' outside quotes is a syntax error in the text protocol; let the server say so.
        if (mysql_stmt_param_count(stmt) != 0 || mysql_stmt_field_count(stmt) == 0) {
            CloseStatement(stmt);
            return std::nullopt;
        }
        const auto execute = [&] {
            int failed = 0;
            Await(
                mysql, [&] { return mysql_stmt_execute_start(&failed, stmt); },
                [&](int ready) { return mysql_stmt_execute_cont(&failed, stmt, ready); });
            return failed;
        };
        // The row callback runs while the rows arrive, so that the caller's window stays
        // responsive while a large result is read.
        const auto store = [&] {
            int failed = 0;
            Await(
                mysql, [&] { return mysql_stmt_store_result_start(&failed, stmt); },
                [&](int ready) { return mysql_stmt_store_result_cont(&failed, stmt, ready); },
                rowRead_ ? &rowRead_ : nullptr);
            return failed;
        };
        if (execute() != 0 || (buffered && store() != 0)) {
            DatabaseError error = StatementError(stmt, statement);
            CloseStatement(stmt);
            throw error;
        }
        auto rows = std::make_unique<MariaDbResultSet>(link_, stmt, nullptr, buffered, statement);
        rows->Start();
        return rows;
    }

    std::unique_ptr<ResultSet> RunText(MYSQL* mysql, const std::string& statement, bool buffered) {
        if (RealQuery(mysql, statement.data(), statement.size()) != 0) {
            throw ClientError(mysql, statement);
        }
        // The first result with rows is returned; any other results (a procedure call) are
        // read and discarded so that the next statement finds the connection free.
        std::unique_ptr<MariaDbResultSet> rows;
        for (;;) {
            if (mysql_field_count(mysql) > 0) {
                if (rows) {
                    if (MYSQL_RES* extra = mysql_use_result(mysql)) {
                        FreeResult(extra);
                    }
                } else {
                    MYSQL_RES* result = buffered ? StoreResult(mysql) : mysql_use_result(mysql);
                    if (!result) {
                        throw ClientError(mysql, statement);
                    }
                    rows = std::make_unique<MariaDbResultSet>(link_, nullptr, result, buffered,
                                                              statement);
                    rows->Start();
                    if (!buffered) {
                        return rows;
                    }
                }
            }
            const int status = NextResult(mysql);
            if (status > 0) {
                throw ClientError(mysql, statement);
            }
            if (status < 0) {
                break;
            }
        }
        return rows;
    }

    std::shared_ptr<MariaDbLink> link_;
    bool clientCursor_;
    std::function<void()> rowRead_;
};

namespace {

const char* OptionalText(const std::string& text) {
    return text.empty() ? nullptr : text.c_str();
}

void RejectNul(const std::string& text, const char* what) {
    if (text.find('\0') != std::string::npos) {
        throw DatabaseError(std::string("The MySQL ") + what + " contains a NUL character.");
    }
}

// Connecting and logging in wait this long when the connection sets no timeout of its own:
// a port whose service waits for the client to speak would otherwise hold Open forever.
constexpr unsigned kDefaultConnectSeconds = 15;
// How long after the server's own statement limit the client still waits for its answer.
constexpr unsigned kStatementLimitGraceSeconds = 5;

unsigned Seconds(const std::optional<int>& seconds) {
    // ADO treats 0 as "no limit", which is also the client's default.
    return seconds && *seconds > 0 ? static_cast<unsigned>(*seconds) : 0;
}

// The session setup run right after login. Strict mode turns a value the column cannot hold
// (invalid UTF-8, a number out of range) into an error instead of a silent '?' or a clipped
// number, whatever the server's global mode. NO_BACKSLASH_ESCAPES makes a backslash in a
// quoted literal an ordinary character, so doubling single quotes is all the escaping the row
// statements need. On MariaDB the server itself ends a statement that runs past the command
// timeout, which refuses that statement and keeps the session.
std::string SessionSetup(unsigned commandSeconds) {
    std::string setup = "SET SESSION sql_mode = CONCAT_WS(',', NULLIF(@@sql_mode, ''), "
                        "'STRICT_ALL_TABLES', 'NO_BACKSLASH_ESCAPES')";
    if (commandSeconds > 0) {
        setup +=
            " /*M!100108 , SESSION max_statement_time = " + std::to_string(commandSeconds) + " */";
    }
    return setup;
}

// The client library looks the server's name up at the start of its connect, inside a call
// that cannot take turns, and a name server can take many seconds to answer. It is looked up
// here first, taking turns, exactly as the library would, and the library is handed the
// addresses (ResolvedHost).

// False for the names the library does not look up as they are: none (it takes localhost), a
// connection string (';' or '='), a connection plugin's URL ("://") or a list of hosts (',').
// Those it is left to do, as is a port of 0 (it takes its default).
bool LookedUpAsGiven(const ConnectionTarget& target) {
    return !target.host.empty() && target.port != 0 &&
           target.host.find_first_of(";=,") == std::string::npos &&
           target.host.find("://") == std::string::npos;
}

// Waits `pause`, taking turns.
void PauseTakingTurns(std::chrono::microseconds pause) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point end = Clock::now() + pause;
    for (Clock::time_point now = Clock::now(); now < end; now = Clock::now()) {
        std::this_thread::sleep_for(std::min<Clock::duration>(end - now, kServerWaitSlice));
        TakeServerWaitTurn();
    }
}

// getaddrinfo with the library's hints, and its retries while the name servers answer
// EAI_AGAIN: after a pause of 1 µs, doubled each time, until more than the connect timeout
// has passed since the first attempt.
int LookUpServer(const std::string& host, const std::string& service, unsigned connectSeconds,
                 addrinfo** addresses) {
    addrinfo hints{};
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    const std::time_t start = std::time(nullptr);
    unsigned int pause = 1;
    int answer = 0;
    while ((answer = LookUpHostTakingTurns(host.c_str(), service.c_str(), &hints, addresses)) ==
           EAI_AGAIN) {
        if (std::time(nullptr) - start > static_cast<std::time_t>(connectSeconds)) {
            break;
        }
        PauseTakingTurns(std::chrono::microseconds(pause));
        pause *= 2;
    }
    return answer;
}

// CR_UNKNOWN_HOST, in the library's words (its message table is not exported).
constexpr int kUnknownHost = 2005;

DatabaseError UnknownHost(const std::string& host, int answer) {
    char message[MYSQL_ERRMSG_SIZE - 1];
    std::snprintf(message, sizeof message, "Unknown server host '%-.100s' (%d)", host.c_str(),
                  answer);
    return DatabaseError(message, kUnknownHost);
}

std::unique_ptr<ConnectionBackend> OpenBackend(const ConnectionTarget& target,
                                               const ConnectionOptions& options) {
    RejectNul(target.host, "server name");
    RejectNul(target.user, "user name");
    RejectNul(target.password, "password");
    RejectNul(target.database, "database name");

    auto link = std::make_shared<MariaDbLink>();
    link->mysql = mysql_init(nullptr);
    if (!link->mysql) {
        throw DatabaseError("The MySQL client could not allocate a connection.");
    }
    MYSQL* mysql = link->mysql;
    // Owns the handle until the backend takes over.
    auto backend = std::make_unique<MariaDbBackend>(link, options);

    // TCP even for "localhost", which the client would otherwise take as the local socket.
    const unsigned int protocol = MYSQL_PROTOCOL_TCP;
    mysql_optionsv(mysql, MYSQL_OPT_PROTOCOL, &protocol);
    mysql_optionsv(mysql, MYSQL_SET_CHARSET_NAME, "utf8mb4");
    // Every call that waits for the server then returns to take turns (Await).
    const std::size_t callStack = kCallStackBytes;
    if (mysql_optionsv(mysql, MYSQL_OPT_NONBLOCK, &callStack) != 0) {
        throw DatabaseError("The MySQL client could not allocate a connection.");
    }
    const unsigned commandSeconds = Seconds(options.commandTimeoutSeconds);
    const std::string setup = SessionSetup(commandSeconds);
    mysql_optionsv(mysql, MYSQL_INIT_COMMAND, setup.c_str());
    // The connect timeout also bounds the wait for the server's greeting and the login.
    unsigned connectSeconds = Seconds(options.connectionTimeoutSeconds);
    if (connectSeconds == 0) {
        connectSeconds = kDefaultConnectSeconds;
    }
    mysql_optionsv(mysql, MYSQL_OPT_CONNECT_TIMEOUT, &connectSeconds);
    if (commandSeconds > 0) {
        const unsigned waitSeconds = commandSeconds + kStatementLimitGraceSeconds;
        mysql_optionsv(mysql, MYSQL_OPT_READ_TIMEOUT, &waitSeconds);
        mysql_optionsv(mysql, MYSQL_OPT_WRITE_TIMEOUT, &waitSeconds);
    }
    // The client's own packet limit must not be what refuses a long value.
    const unsigned long clientPacketLimit = 1024UL * 1024UL * 1024UL;
    mysql_optionsv(mysql, MYSQL_OPT_MAX_ALLOWED_PACKET, &clientPacketLimit);

    const std::string service = std::to_string(target.port);
    std::optional<ResolvedHost> resolved;
    if (LookedUpAsGiven(target)) {
        addrinfo* addresses = nullptr;
        const int answer = LookUpServer(target.host, service, connectSeconds, &addresses);
        if (answer != 0 || addresses == nullptr) {
            if (addresses != nullptr) {
                freeaddrinfo(addresses);
            }
            // As the library fails when its own lookup does; a connection that did not open
            // is refused, never "lost".
            throw UnknownHost(target.host, answer);
        }
        resolved.emplace(target.host.c_str(), service.c_str(), addresses);
    }
    MYSQL* connected = nullptr;
    Await(
        mysql,
        [&] {
            return mysql_real_connect_start(&connected, mysql, target.host.c_str(),
                                            target.user.c_str(), target.password.c_str(),
                                            OptionalText(target.database), target.port, nullptr,
                                            CLIENT_MULTI_RESULTS);
        },
        [&](int ready) { return mysql_real_connect_cont(&connected, mysql, ready); });
    resolved.reset();
    if (!connected) {
        const unsigned code = mysql_errno(mysql);
        std::string message = mysql_error(mysql);
        if (code == 2013 || code == 2006) {
            message = "The MySQL server at " + target.host + ":" + std::to_string(target.port) +
                      " did not complete the login within " + std::to_string(connectSeconds) +
                      " seconds (" + message + ").";
        }
        // A connection that did not open is refused, never "lost".
        throw DatabaseError(message, static_cast<int>(code));
    }
    if (options.rowRead) {
        // A small receive window keeps the server from running far ahead of the client, so
        // that reading a large stored result returns to call back every few dozen kilobytes
        // instead of parsing megabytes the server had already sent in one go.
        const int receiveBuffer = kCallBackReceiveBufferBytes;
        setsockopt(mysql_get_socket(mysql), SOL_SOCKET, SO_RCVBUF, &receiveBuffer,
                   sizeof receiveBuffer);
    }
    if (RealQuery(mysql, "SELECT @@max_allowed_packet", 27) != 0) {
        throw ClientError(mysql);
    }
    if (MYSQL_RES* result = StoreResult(mysql)) {
        MYSQL_ROW row = mysql_fetch_row(result);
        if (row && row[0]) {
            link->maxPacketBytes = std::strtoull(row[0], nullptr, 10);
        }
        mysql_free_result(result);
    }
    if (link->maxPacketBytes == 0) {
        throw DatabaseError("The MySQL server did not tell its max_allowed_packet.");
    }
    return backend;
}

} // namespace

} // namespace veltrane::mariadb

namespace veltrane {

std::unique_ptr<ConnectionBackend> OpenMariaDbBackend(const ConnectionTarget& target,
                                                      const ConnectionOptions& options) {
    return mariadb::OpenBackend(target, options);
}

} // namespace veltrane
