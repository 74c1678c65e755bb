// Opening, closing and running statements against the MariaDB test server.

#include "MySqlTestHelpers.h"
#include "connect/ConnectionTests.h"

#include <set>

namespace veltrane::testing {
namespace {

std::string CaptureOpenError(const std::string& connectionString) {
    Connection connection;
    try {
        connection.Open(connectionString);
    } catch (const DatabaseError& e) {
        EXPECT_FALSE(connection.IsOpen());
        return e.what();
    }
    ADD_FAILURE() << "Open succeeded";
    return {};
}

// A loopback port that nothing listens on: bound once, then released.
std::string ClosedPort() {
    for (int port = 39871; port < 39971; ++port) {
        try {
            ServerCoordinates probe{"127.0.0.1", std::to_string(port), "x", "y", ""};
            Connection c;
            c.SetConnectionTimeout(2);
            c.Open(MySQLConnectionStringFor(probe));
        } catch (const DatabaseError& e) {
            if (std::string(e.what()).find("Can't connect") != std::string::npos) {
                return std::to_string(port);
            }
        }
    }
    ADD_FAILURE() << "no closed port found";
    return "1";
}

TEST(MySQLConnection, OpensRunsAndCloses) {
    VELTRANE_REQUIRE_MYSQL(server);
    Connection connection;
    connection.SetCursorLocation(CursorLocation::Client);
    connection.Open(MySQLConnectionStringFor(server));
    EXPECT_TRUE(connection.IsOpen());
    auto rows = connection.Execute("SELECT DATABASE(), CURRENT_USER()");
    ASSERT_NE(rows, nullptr);
    EXPECT_EQ(rows->Value(0).AsText(), server.database);
    EXPECT_EQ(rows->Value(1).AsText().rfind(server.user + "@", 0), 0u) << rows->Value(1).AsText();
    connection.Close();
    EXPECT_FALSE(connection.IsOpen());
    EXPECT_THROW(connection.Execute("SELECT 1"), DatabaseError);
    // The result set read before the close stays readable: it was held whole.
    EXPECT_EQ(rows->Value(0).AsText(), server.database);
}

TEST(MySQLConnection, LocalhostIsReachedOverTcp) {
    VELTRANE_REQUIRE_MYSQL(server);
    // The test server's socket is not at the client's default path, so only TCP can work.
    ServerCoordinates local = server;
    local.host = "localhost";
    auto connection = OpenMySQL(local);
    auto rows = connection->Execute("SELECT @@port");
    ASSERT_NE(rows, nullptr);
    EXPECT_EQ(rows->Value(0).ToText(), server.port);
}

TEST(MySQLConnection, ConnectionTestsTellGoodFromBadSettings) {
    VELTRANE_REQUIRE_MYSQL(server);
    EXPECT_TRUE(TestMySQLConnection(server.Profile()));

    ServerCoordinates wrongPassword = server;
    wrongPassword.password += "x";
    EXPECT_FALSE(TestMySQLConnection(wrongPassword.Profile()));
    std::string message = CaptureOpenError(MySQLConnectionStringFor(wrongPassword));
    EXPECT_NE(message.find("Access denied"), std::string::npos) << message;
    EXPECT_EQ(message.find(wrongPassword.password), std::string::npos) << message;

    ServerCoordinates closed = server;
    closed.port = ClosedPort();
    EXPECT_FALSE(TestMySQLConnection(closed.Profile()));
    message = CaptureOpenError(MySQLConnectionStringFor(closed));
    EXPECT_NE(message.find("Can't connect"), std::string::npos) << message;

    ServerCoordinates noDatabase = server;
    noDatabase.database = "vt_no_such_database";
    EXPECT_FALSE(TestMySQLConnection(noDatabase.Profile()));
}

TEST(MySQLConnection, SessionUsesUtf8mb4AndTakesBackslashesLiterally) {
    VELTRANE_REQUIRE_MYSQL(server);
    auto connection = OpenMySQL(server);
    auto rows = connection->Execute("SELECT @@character_set_client, @@character_set_results, "
                                    "@@character_set_connection, @@sql_mode, 'abc\\', "
                                    "LENGTH('a\\'), 'x''y'");
    ASSERT_NE(rows, nullptr);
    EXPECT_EQ(rows->Value(0).AsText(), "utf8mb4");
    EXPECT_EQ(rows->Value(1).AsText(), "utf8mb4");
    EXPECT_EQ(rows->Value(2).AsText(), "utf8mb4");
    const std::string mode = rows->Value(3).AsText();
    EXPECT_NE(mode.find("NO_BACKSLASH_ESCAPES"), std::string::npos) << mode;
    // The server's own modes are kept alongside it.
    EXPECT_NE(mode.find("NO_ENGINE_SUBSTITUTION"), std::string::npos) << mode;
    EXPECT_EQ(rows->Value(4).AsText(), "abc\\");
    EXPECT_EQ(rows->Value(5).AsInt(), 2);
    EXPECT_EQ(rows->Value(6).AsText(), "x'y");
}

TEST(MySQLConnection, RejectedStatementCarriesServerErrorAndStatement) {
    VELTRANE_REQUIRE_MYSQL(server);
    auto connection = OpenMySQL(server);
    const std::string statement = "SELEC 1";
    try {
        connection->Execute(statement);
        FAIL() << "no error";
    } catch (const DatabaseError& e) {
        EXPECT_EQ(e.NativeError(), 1064);
        EXPECT_EQ(e.Statement(), statement);
        EXPECT_NE(std::string(e.what()).find("SQL syntax"), std::string::npos) << e.what();
    }
    try {
        connection->Execute("SELECT * FROM `vt_missing_table_xyz`");
        FAIL() << "no error";
    } catch (const DatabaseError& e) {
        EXPECT_EQ(e.NativeError(), 1146);
    }
    // The session goes on after a rejected statement.
    auto rows = connection->Execute("SELECT 7");
    ASSERT_NE(rows, nullptr);
    EXPECT_EQ(rows->Value(0).AsInt(), 7);
}

TEST(MySQLConnection, ShowTablesKnowsItsExactRecordCount) {
    VELTRANE_REQUIRE_MYSQL(server);
    auto connection = OpenMySQL(server);
    std::vector<std::unique_ptr<DropTableAtExit>> drops;
    std::set<std::string> mine;
    for (const char* suffix : {"_a", "_b", "_c"}) {
        const std::string table = UniqueTableName(suffix);
        drops.push_back(std::make_unique<DropTableAtExit>(server, table));
        EXPECT_EQ(connection->Execute("CREATE TABLE `" + table + "` (id INT)"), nullptr);
        mine.insert(table);
    }

    auto rows = connection->Execute("SHOW TABLES;");
    ASSERT_NE(rows, nullptr);
    ASSERT_EQ(rows->FieldCount(), 1);
    const std::int64_t count = rows->RecordCount();
    std::int64_t seen = 0;
    std::set<std::string> found;
    for (; !rows->IsEOF(); rows->MoveNext()) {
        ++seen;
        if (mine.count(rows->Value(0).AsText())) {
            found.insert(rows->Value(0).AsText());
        }
    }
    EXPECT_EQ(count, seen);
    EXPECT_GE(count, 3);
    EXPECT_EQ(found, mine);
    EXPECT_THROW(rows->Value(0), DatabaseError);
    EXPECT_THROW(rows->MoveNext(), DatabaseError);

    // A server-side cursor streams and cannot know the count in advance.
    auto streamed = OpenMySQL(server, CursorLocation::Server)->Execute("SHOW TABLES;");
    ASSERT_NE(streamed, nullptr);
    EXPECT_EQ(streamed->RecordCount(), -1);
}

TEST(MySQLConnection, StatementsWithoutRowsReturnNothing) {
    VELTRANE_REQUIRE_MYSQL(server);
    const std::string table = UniqueTableName();
    DropTableAtExit drop(server, table);
    auto connection = OpenMySQL(server, CursorLocation::Server);
    EXPECT_EQ(connection->Execute("CREATE TABLE `" + table + "` (id INT)"), nullptr);
    EXPECT_EQ(connection->Execute("INSERT INTO `" + table + "` VALUES (1),(2)"), nullptr);
    auto empty = connection->Execute("SELECT id FROM `" + table + "` WHERE id > 5");
    ASSERT_NE(empty, nullptr);
    EXPECT_TRUE(empty->IsEOF());
    EXPECT_THROW(empty->Value(0), DatabaseError);
}

TEST(MySQLConnection, StreamedResultSurvivesTheNextStatement) {
    VELTRANE_REQUIRE_MYSQL(server);
    const std::string table = UniqueTableName();
    DropTableAtExit drop(server, table);
    auto connection = OpenMySQL(server, CursorLocation::Server);
    connection->Execute("CREATE TABLE `" + table + "` (id INT PRIMARY KEY, t VARCHAR(20))");
    std::string insert = "INSERT INTO `" + table + "` VALUES ";
    for (int i = 1; i <= 500; ++i) {
        insert += (i > 1 ? ",(" : "(") + std::to_string(i) + ",'row" + std::to_string(i) + "')";
    }
    connection->Execute(insert);

    auto first = connection->Execute("SELECT id, t FROM `" + table + "` ORDER BY id");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->RecordCount(), -1);
    ASSERT_FALSE(first->IsEOF());
    EXPECT_EQ(first->Value(0).AsInt(), 1);
    first->MoveNext();

    // Another statement while rows are still pending on the wire.
    auto count = connection->Execute("SELECT COUNT(*) FROM `" + table + "`");
    ASSERT_NE(count, nullptr);
    EXPECT_EQ(count->Value(0).AsInt(), 500);
    connection->Execute("DELETE FROM `" + table + "` WHERE id > 250");

    // The first result still yields every row it had, in order.
    int expected = 2;
    for (; !first->IsEOF(); first->MoveNext(), ++expected) {
        ASSERT_EQ(first->Value(0).AsInt(), expected);
        ASSERT_EQ(first->Value("T").AsText(), "row" + std::to_string(expected));
    }
    EXPECT_EQ(expected, 501);
}

TEST(MySQLConnection, ClosingEndsPendingResults) {
    VELTRANE_REQUIRE_MYSQL(server);
    auto connection = OpenMySQL(server, CursorLocation::Server);
    auto rows = connection->Execute("SELECT seq FROM seq_1_to_100000");
    ASSERT_NE(rows, nullptr);
    EXPECT_EQ(rows->Value(0).AsUInt(), 1u);
    connection->Close();
    EXPECT_TRUE(rows->IsEOF());
    EXPECT_THROW(rows->Value(0), DatabaseError);
    EXPECT_THROW(rows->MoveNext(), DatabaseError);

    // Closing a streamed result early frees the session for the next statement.
    auto again = OpenMySQL(server, CursorLocation::Server);
    auto partial = again->Execute("SELECT seq FROM seq_1_to_100000");
    partial->MoveNext();
    partial->Close();
    auto next = again->Execute("SELECT 'free'");
    ASSERT_NE(next, nullptr);
    EXPECT_EQ(next->Value(0).AsText(), "free");
}

TEST(MySQLConnection, ProcedureResultsDoNotBlockTheSession) {
    VELTRANE_REQUIRE_MYSQL(server);
    const std::string procedure = UniqueTableName("_proc");
    for (auto cursor : {CursorLocation::Client, CursorLocation::Server}) {
        auto connection = OpenMySQL(server, cursor);
        connection->Execute("DROP PROCEDURE IF EXISTS `" + procedure + "`");
        connection->Execute("CREATE PROCEDURE `" + procedure +
                            "`() BEGIN SELECT 'first'; SELECT 'second', 2; END");
        auto rows = connection->Execute("CALL `" + procedure + "`()");
        ASSERT_NE(rows, nullptr);
        EXPECT_EQ(rows->FieldCount(), 1);
        EXPECT_EQ(rows->Value(0).AsText(), "first");
        rows->MoveNext();
        EXPECT_TRUE(rows->IsEOF());
        auto after = connection->Execute("SELECT 'after'");
        ASSERT_NE(after, nullptr);
        EXPECT_EQ(after->Value(0).AsText(), "after");
        connection->Execute("DROP PROCEDURE `" + procedure + "`");
    }
}

TEST(MySQLConnection, TablesSchemaListsTablesAndViews) {
    VELTRANE_REQUIRE_MYSQL(server);
    const std::string table = UniqueTableName();
    const std::string view = UniqueTableName("_view");
    DropTableAtExit drop(server, table);
    DropTableAtExit dropView(server, view, "VIEW");
    auto connection = OpenMySQL(server);
    connection->Execute("CREATE TABLE `" + table + "` (id INT)");
    connection->Execute("CREATE VIEW `" + view + "` AS SELECT id FROM `" + table + "`");

    auto schema = connection->OpenSchema(SchemaKind::Tables);
    ASSERT_NE(schema, nullptr);
    std::string tableType, viewType;
    for (; !schema->IsEOF(); schema->MoveNext()) {
        EXPECT_EQ(schema->Value("TABLE_SCHEMA").AsText(), server.database);
        if (schema->Value("TABLE_NAME").AsText() == table) {
            tableType = schema->Value("TABLE_TYPE").AsText();
        } else if (schema->Value("table_name").AsText() == view) {
            viewType = schema->Value("TABLE_TYPE").AsText();
        }
    }
    EXPECT_EQ(tableType, "TABLE");
    EXPECT_EQ(viewType, "VIEW");
}

} // namespace
} // namespace veltrane::testing
