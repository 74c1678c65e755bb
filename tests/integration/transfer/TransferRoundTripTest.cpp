// Copies tables with the built CREATE TABLE and INSERT statements and reads both sides back:
// every value must arrive exactly, except where the target server itself cannot hold it
// (Sybase ASE stores an empty text as one blank), and each test says where it allows that.

#include "TestServers.h"
#include "TransferTestTables.h"
#include "connect/Connection.h"
#include "connect/access/DatabaseError.h"
#include "transfer/statements/ColumnTypes.h"
#include "transfer/statements/RowStatements.h"

#include <algorithm>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

namespace veltrane::testing {
namespace {

struct Copied {
    std::vector<FieldInfo> sourceFields;
    std::string createStatement;
    std::int64_t rows = 0;
};

// What the transfer does for one table: read the source whole, create the target from the
// source's fields, one built INSERT per row.
Copied CopyTable(Session& source, const std::string& sourceTable, Session& target,
                 const std::string& targetTable) {
    Copied copied;
    auto rows = source.Run("SELECT * FROM " + Quote(source.server, sourceTable));
    if (rows == nullptr) {
        ADD_FAILURE() << "SELECT returned no result set";
        return copied;
    }
    for (int i = 0; i < rows->FieldCount(); ++i) {
        copied.sourceFields.push_back(rows->Field(i));
    }
    const ServerKind toward = Toward(target.server);
    copied.createStatement = CreateTableStatement(toward, targetTable, copied.sourceFields);
    target.Run(copied.createStatement);
    InsertRowBuilder insert(toward, targetTable);
    for (; !rows->IsEOF(); rows->MoveNext()) {
        target.Run(insert.Build(*rows));
        ++copied.rows;
    }
    return copied;
}

// Copies a table with one column of every type the source server offers to the target and
// compares every value read back from both sides.
void CopyEveryType(Server source, Server target) {
    const ServerCoordinates sourceAt = Coordinates(source);
    const ServerCoordinates targetAt = Coordinates(target);
    const std::string sourceTable =
        TableName(std::string("every_type_") + (source == Server::MySQL ? "my" : "ase"));
    const std::string copy =
        TableName(std::string("copy_") + (source == Server::MySQL ? "my" : "ase") + "_to_" +
                  (target == Server::MySQL ? "my" : "ase"));
    DropAtExit dropSource(source, sourceAt, sourceTable);
    DropAtExit dropCopy(target, targetAt, copy);

    Session from = Session::Open(source, sourceAt);
    CreateSource(from, sourceTable, SourceColumns(source, target), 4);
    Session to = Session::Open(target, targetAt);
    const Copied copied = CopyTable(from, sourceTable, to, copy);
    EXPECT_EQ(copied.rows, 4);

    const auto want = ReadAll(from, sourceTable, "id");
    ASSERT_EQ(want.size(), 4u);
    const auto got = ReadAll(to, copy, "id");
    ExpectSameRows(got, want, copied.sourceFields, target);
}

// Skips or fails (as TestServers.h decides) unless every server the test needs is configured.
#define REQUIRE_SERVERS(needsSybase)                                                               \
    VELTRANE_REQUIRE_MYSQL(mysqlAt_);                                                              \
    if (needsSybase) {                                                                             \
        VELTRANE_REQUIRE_SYBASE(aseAt_);                                                           \
    }

TEST(CopyToMySQL, EveryMySQLTypeArrivesExactly) {
    REQUIRE_SERVERS(false);
    CopyEveryType(Server::MySQL, Server::MySQL);
}

// Everything arrives as its text; only an empty text comes back as ASE's single blank.
TEST(CopyToSybase, EveryMySQLTypeArrivesAsItsTextExceptEmptyTextAsOneBlank) {
    REQUIRE_SERVERS(true);
    CopyEveryType(Server::MySQL, Server::Sybase);
}

TEST(CopyToMySQL, EverySybaseTypeArrivesExactly) {
    REQUIRE_SERVERS(true);
    CopyEveryType(Server::Sybase, Server::MySQL);
}

TEST(CopyToSybase, EverySybaseTypeArrivesAsItsTextExceptEmptyTextAsOneBlank) {
    REQUIRE_SERVERS(true);
    CopyEveryType(Server::Sybase, Server::Sybase);
}

// The MySQL column types the copy creates, as the server reports them back.
TEST(CopyToMySQL, CreatedColumnsHaveTheLosslessTypes) {
    VELTRANE_REQUIRE_MYSQL(at);
    const std::string source = TableName("types_source");
    const std::string copy = TableName("types_copy");
    DropAtExit dropSource(Server::MySQL, at, source);
    DropAtExit dropCopy(Server::MySQL, at, copy);
    Session mysql = Session::Open(Server::MySQL, at);
    CreateSource(mysql, source,
                 {{"i INT", {}},
                  {"d DECIMAL(12,3)", {}},
                  {"f FLOAT", {}},
                  {"t DATETIME", {}},
                  {"b BIT(1)", {}},
                  {"x LONGBLOB", {}}},
                 0);
    const Copied copied = CopyTable(mysql, source, mysql, copy);
    EXPECT_EQ(copied.createStatement,
              "CREATE TABLE `" + copy +
                  "`(`i` INT,`d` DECIMAL(12,3),`f` FLOAT,`t` DATETIME(6),`b` BIT,`x` LONGBLOB);");
    auto rows = mysql.Run("SELECT COLUMN_NAME, COLUMN_TYPE, IS_NULLABLE FROM "
                          "information_schema.COLUMNS WHERE TABLE_SCHEMA = DATABASE() AND "
                          "TABLE_NAME = " +
                          Literal(copy) + " ORDER BY ORDINAL_POSITION");
    const char* expected[][2] = {{"i", "int(11)"},     {"d", "decimal(12,3)"}, {"f", "float"},
                                 {"t", "datetime(6)"}, {"b", "bit(1)"},        {"x", "longblob"}};
    for (const auto& e : expected) {
        ASSERT_FALSE(rows->IsEOF());
        EXPECT_EQ(rows->Value(0).ToText(), e[0]);
        EXPECT_EQ(rows->Value(1).ToText(), e[1]);
        EXPECT_EQ(rows->Value(2).ToText(), "YES");
        rows->MoveNext();
    }
    EXPECT_TRUE(rows->IsEOF());
}

// A text with a NUL byte cannot be sent to Sybase ASE: the INSERT fails with a clear error
// and the row is not half written.
TEST(CopyToSybase, TextWithANulByteIsRefusedWithAClearError) {
    REQUIRE_SERVERS(true);
    const ServerCoordinates at = Coordinates(Server::Sybase);
    const std::string table = TableName("nul");
    DropAtExit drop(Server::Sybase, at, table);
    Session ase = Session::Open(Server::Sybase, at);
    const std::vector<FieldInfo> fields = {{"t", AdoType::VarChar, 0, 0, 20}};
    ase.Run(CreateTableStatement(ServerKind::SybaseASE, table, fields));
    const std::vector<DbValue> row = {DbValue::Text(std::string("a\0b", 3))};
    try {
        ase.connection->Execute(InsertRowStatement(ServerKind::SybaseASE, table, row));
        ADD_FAILURE() << "a statement with a NUL byte was sent";
    } catch (const DatabaseError& e) {
        EXPECT_NE(std::string(e.what()).find("NUL"), std::string::npos) << e.what();
    }
    EXPECT_TRUE(ReadAll(ase, table, "t").empty());
}

// ---- Hostile names ----------------------------------------------------------------------

void CopyWithHostileNames(Server target) {
    VELTRANE_REQUIRE_MYSQL(mysqlAt);
    ServerCoordinates targetAt = mysqlAt;
    if (target == Server::Sybase) {
        VELTRANE_REQUIRE_SYBASE(aseAt);
        targetAt = aseAt;
    }
    // Back-ticks, brackets, quotes, blanks and non-ASCII letters; MySQL allows only the
    // Basic Multilingual Plane in names, so no 4-byte characters here.
    const std::string source = TableName("src `q` [b] it's Ünï名");
    const std::string copy = TableName("dst `q` [b]] it's Ünï名");
    DropAtExit dropSource(Server::MySQL, mysqlAt, source);
    DropAtExit dropCopy(target, targetAt, copy);
    Session mysql = Session::Open(Server::MySQL, mysqlAt);
    CreateSource(mysql, source,
                 {{"`id` INT", {"1", "2"}},
                  {"`we``ird` TEXT", {Literal("a"), Literal("b")}},
                  {"`br]ack[et` INT", {"3", "4"}},
                  {"`it's \"q\"` TEXT", {Literal("c'"), Literal("")}},
                  {"`sp ace 名` TEXT", {Literal("d"), "NULL"}}},
                 2);
    Session to = Session::Open(target, targetAt);
    const Copied copied = CopyTable(mysql, source, to, copy);
    EXPECT_EQ(copied.rows, 2);

    auto rows = to.Run("SELECT * FROM " + Quote(target, copy));
    ASSERT_EQ(rows->FieldCount(), 5);
    const char* names[] = {"id", "we`ird", "br]ack[et", "it's \"q\"", "sp ace 名"};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(rows->Field(i).name, names[i]);
    }
    ExpectSameRows(ReadAll(to, copy, "id"), ReadAll(mysql, source, "id"), copied.sourceFields,
                   target);
}

TEST(CopyToMySQL, TableAndColumnNamesWithQuotesBracketsBlanksAndUnicode) {
    CopyWithHostileNames(Server::MySQL);
}

TEST(CopyToSybase, TableAndColumnNamesWithQuotesBracketsBlanksAndUnicode) {
    CopyWithHostileNames(Server::Sybase);
}

} // namespace
} // namespace veltrane::testing
