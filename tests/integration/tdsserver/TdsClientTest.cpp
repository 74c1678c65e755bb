// ase-testserver through the program's own data access (veltrane::Connection on FreeTDS
// DB-Library): logins, batches, the ASE behaviours the program relies on, owners, the tables
// schema and several clients at once.

#include "ConnectionChecks.h"
#include "ServerFixture.h"
#include "connect/Connection.h"
#include "connect/ConnectionProfile.h"
#include "connect/ConnectionTests.h"
#include "connect/access/DatabaseError.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace tdsserver {
namespace {

using veltrane::Connection;
using veltrane::CursorLocation;
using veltrane::DatabaseError;
using veltrane::DbValue;
using veltrane::SchemaKind;
using veltrane::testing::ExecuteError;
using veltrane::testing::Scalar;

class TdsClient : public ServerTest {
protected:
    veltrane::ConnectionProfile Profile(const Login& login, const std::string& database) const {
        return {QStringLiteral("127.0.0.1"), QString::number(Port()),
                QString::fromStdString(login.user), QString::fromStdString(login.password),
                QString::fromStdString(database)};
    }

    std::unique_ptr<Connection> Open(const Login& login = kSa,
                                     const std::string& database = "master",
                                     CursorLocation cursor = CursorLocation::Client) const {
        auto c = std::make_unique<Connection>();
        c->SetCursorLocation(cursor);
        c->SetConnectionTimeout(10);
        c->SetCommandTimeout(60);
        c->Open(veltrane::SybaseConnectionString(Profile(login, database)).toStdString());
        return c;
    }

    // The tables schema as (owner, name) -> type.
    static std::map<std::pair<std::string, std::string>, std::string> Tables(Connection& c) {
        std::map<std::pair<std::string, std::string>, std::string> out;
        auto rs = c.OpenSchema(SchemaKind::Tables);
        EXPECT_NE(rs, nullptr);
        if (!rs)
            return out;
        for (; !rs->IsEOF(); rs->MoveNext())
            out[{rs->Value("TABLE_OWNER").ToText(), rs->Value("TABLE_NAME").ToText()}] =
                rs->Value("TABLE_TYPE").ToText();
        return out;
    }
};

// --- Logins -------------------------------------------------------------------------------------

TEST_F(TdsClient, LoginAcceptedAndRefused) {
    EXPECT_TRUE(veltrane::TestSybaseConnection(Profile(kSa, "master")));
    EXPECT_TRUE(veltrane::TestSybaseConnection(Profile(kAlice, "")));
    EXPECT_FALSE(veltrane::TestSybaseConnection(Profile({kSa.user, "not-it"}, "master")));

    auto c = Open();
    EXPECT_TRUE(c->IsOpen());
    EXPECT_EQ(Scalar(*c, "select 1"), DbValue::Int(1));
    auto alice = Open(kAlice);
    EXPECT_EQ(Scalar(*alice, "select 'alice'"), DbValue::Text("alice"));

    for (const Login& bad : {Login{kSa.user, "not-it"}, Login{"mallory", kSa.password}}) {
        Connection refused;
        refused.SetConnectionTimeout(10);
        try {
            refused.Open(veltrane::SybaseConnectionString(Profile(bad, "master")).toStdString());
            ADD_FAILURE() << "login accepted for " << bad.user << "/" << bad.password;
        } catch (const DatabaseError& e) {
            EXPECT_EQ(e.NativeError(), 4002) << e.what();
            EXPECT_NE(std::string(e.what()).find("Login failed."), std::string::npos) << e.what();
        }
        EXPECT_FALSE(refused.IsOpen());
    }
    // The refused attempts left the accepted sessions alone.
    EXPECT_EQ(Scalar(*c, "select 2"), DbValue::Int(2));
}

TEST_F(TdsClient, OpenInAnotherDatabaseAndMissingDatabase) {
    auto c = Open();
    c->Execute("create database client_db");
    auto in = Open(kSa, "client_db");
    in->Execute("create table only_here (a int)");
    EXPECT_EQ(ExecuteError(*c, "select * from only_here").NativeError(), 208);
    EXPECT_EQ(Scalar(*c, "select count(*) from client_db..only_here"), DbValue::Int(0));
    try {
        Open(kSa, "no_such_database");
        ADD_FAILURE() << "opened a database that does not exist";
    } catch (const DatabaseError& e) {
        EXPECT_EQ(e.NativeError(), 911) << e.what();
    }
}

// --- Batches and the ASE dialect ----------------------------------------------------------------

TEST_F(TdsClient, BatchOfSeveralStatements) {
    auto c = Open();
    EXPECT_EQ(c->Execute("create table b1 (id int, name varchar(20) null)\n"
                         "insert into b1 values (1, 'one')\n"
                         "insert into b1 values (2, 'two')   insert b1 values (3, null)\n"
                         "update b1 set name = 'TWO' where id = 2\n"
                         "delete from b1 where id = 3"),
              nullptr);
    auto rs = c->Execute("select id, name from b1 order by id");
    ASSERT_NE(rs, nullptr);
    ASSERT_EQ(rs->RecordCount(), 2);
    EXPECT_EQ(rs->Value("id"), DbValue::Int(1));
    EXPECT_EQ(rs->Value("name"), DbValue::Text("one"));
    rs->MoveNext();
    EXPECT_EQ(rs->Value("name"), DbValue::Text("TWO"));

    // Rows of a select in the middle of a batch are the result; an error after it still counts.
    const DatabaseError e =
        ExecuteError(*c, "insert b1 values (4, 'four') select * from b1_missing");
    EXPECT_EQ(e.NativeError(), 208);
    EXPECT_EQ(Scalar(*c, "select count(*) from b1"), DbValue::Int(3));
}

TEST_F(TdsClient, ConditionalAndDynamicStatements) {
    auto c = Open();
    const std::string dropIfThere = "if object_id('cd') is not null drop table cd";
    c->Execute(dropIfThere); // nothing to drop
    c->Execute("create table cd (id int, name varchar(20) null)");
    c->Execute(dropIfThere);
    EXPECT_TRUE(Scalar(*c, "select object_id('cd')").IsNull());

    c->Execute("exec ('create table cd (id int, name varchar(20) null)')");
    c->Execute("insert cd values (1, 'alpha') insert cd values (2, 'beta') "
               "insert cd values (3, 'alpine') insert cd values (4, null)");
    EXPECT_EQ(Scalar(*c, "update cd set name = upper(name) where name like 'al%' "
                         "select @@rowcount"),
              DbValue::Int(2));
    EXPECT_EQ(Scalar(*c, "select count(*) from cd where name like 'AL%'"), DbValue::Int(2));
    EXPECT_EQ(Scalar(*c, "if exists (select * from cd where id = 4) select 'yes' else "
                         "select 'no'"),
              DbValue::Text("yes"));
    EXPECT_EQ(Scalar(*c, "if not exists (select * from cd where id = 9) begin select 'none' "
                         "end"),
              DbValue::Text("none"));
    auto top = c->Execute("select top 2 id from cd order by id desc");
    ASSERT_NE(top, nullptr);
    EXPECT_EQ(top->RecordCount(), 2);
    EXPECT_EQ(top->Value(0), DbValue::Int(4));
    EXPECT_EQ(Scalar(*c, "select count(*) from cd where name is null"), DbValue::Int(1));

    c->Execute("create table cd2 (a int) insert cd2 select id from cd");
    EXPECT_EQ(Scalar(*c, "select count(*) from cd2"), DbValue::Int(4));
    c->Execute("truncate table cd2");
    EXPECT_EQ(Scalar(*c, "select count(*) from cd2"), DbValue::Int(0));
    c->Execute("drop table cd, cd2");
    EXPECT_TRUE(Scalar(*c, "select object_id('cd2')").IsNull());
    EXPECT_EQ(ExecuteError(*c, "select * from cd").NativeError(), 208);
}

TEST_F(TdsClient, BracketedNames) {
    auto c = Open();
    c->Execute("create table [my table  ] ([the id] int, [group] varchar(10))");
    c->Execute("insert into [my table] values (1, 'g')");
    EXPECT_EQ(Scalar(*c, "select [the id] from [my table   ]"), DbValue::Int(1));
    EXPECT_EQ(Scalar(*c, "select [group] from dbo.[my table]"), DbValue::Text("g"));

    c->Execute("create table [odd]]name] (v varchar(5))");
    c->Execute("insert [odd]]name] values ('x')");
    EXPECT_EQ(Scalar(*c, "select v from [odd]]name]"), DbValue::Text("x"));
    // object_id takes the name itself, as the program's existence checks pass it.
    EXPECT_FALSE(Scalar(*c, "select object_id('odd]name')").IsNull());
    EXPECT_FALSE(Scalar(*c, "select object_id('my table')").IsNull());
    EXPECT_TRUE(Scalar(*c, "select object_id('my table2')").IsNull());

    const auto tables = Tables(*c);
    EXPECT_EQ(tables.count({"dbo", "my table"}), 1u) << "trailing blanks are not part of the name";
    EXPECT_EQ(tables.count({"dbo", "my table  "}), 0u);
    EXPECT_EQ(tables.count({"dbo", "odd]name"}), 1u);
    EXPECT_THROW(c->Execute("create table [  ] (a int)"), DatabaseError);
}

TEST_F(TdsClient, QuotedIdentifierOption) {
    auto c = Open();
    EXPECT_EQ(Scalar(*c, "select \"just text\""), DbValue::Text("just text"))
        << "with quoted_identifier off a double-quoted token is a string";
    c->Execute("set quoted_identifier on");
    c->Execute("create table \"q t\" (\"the col\" int)");
    c->Execute("insert \"q t\" values (5)");
    EXPECT_EQ(Scalar(*c, "select \"the col\" from \"q t\""), DbValue::Int(5));
    EXPECT_EQ(Scalar(*c, "select 'still a string'"), DbValue::Text("still a string"));
    EXPECT_THROW(c->Execute("select \"no_such_column\" from \"q t\""), DatabaseError);
    c->Execute("create table \"dq\"\"name\" (a int)"); // a doubled quote is one quote
    c->Execute("set quoted_identifier off");
    EXPECT_EQ(Scalar(*c, "select \"text again\""), DbValue::Text("text again"));
    EXPECT_EQ(Scalar(*c, "select \"it\"\"s\""), DbValue::Text("it\"s"));
    EXPECT_EQ(Scalar(*c, "select count(*) from [q t]"), DbValue::Int(1));
    EXPECT_EQ(Tables(*c).count({"dbo", "dq\"name"}), 1u);
}

TEST_F(TdsClient, KeywordsInAnyCaseNamesAsWritten) {
    auto c = Open();
    c->Execute("CREATE TABLE KcTable (Col INT NULL, col2 VarChar(5) NOT NULL)");
    c->Execute("InSeRt InTo KcTable VaLuEs (1, 'a') iNsErT KcTable (col2) vAlUeS ('b')");
    EXPECT_EQ(Scalar(*c, "SeLeCt CoUnT(*) FrOm KcTable WhErE Col Is NuLl"), DbValue::Int(1));
    // Names keep their case, as with ASE's default binary sort order.
    EXPECT_EQ(ExecuteError(*c, "select * from kctable").NativeError(), 208);
    EXPECT_EQ(ExecuteError(*c, "select col from KcTable").NativeError(), 207);
}

TEST_F(TdsClient, ColumnsAreNotNullByDefault) {
    auto c = Open();
    c->Execute("create table nn (a int, b varchar(10), t text, n int null)");
    DatabaseError e = ExecuteError(*c, "insert nn values (1, null, 'x', null)");
    EXPECT_EQ(e.NativeError(), 515);
    EXPECT_NE(e.Message().find("Attempt to insert NULL value into column 'b'"), std::string::npos)
        << e.Message();
    e = ExecuteError(*c, "insert nn values (1, 'b', null, null)");
    EXPECT_EQ(e.NativeError(), 515) << "text is NOT NULL by default too";
    e = ExecuteError(*c, "insert nn (a, t) values (1, 'x')");
    EXPECT_EQ(e.NativeError(), 233);
    EXPECT_NE(e.Message().find("The column b in table nn does not allow null values."),
              std::string::npos)
        << e.Message();
    EXPECT_EQ(Scalar(*c, "select count(*) from nn"), DbValue::Int(0)) << "a failed insert wrote";
    c->Execute("insert nn (a, b, t) values (1, 'b', 't')");
    EXPECT_TRUE(Scalar(*c, "select n from nn").IsNull());
}

TEST_F(TdsClient, EmptyStringIsOneBlankAndTrailingBlanksGo) {
    auto c = Open();
    c->Execute("create table es (v varchar(10), c char(3), t text, n varchar(10) null, "
               "cn char(4) null)");
    c->Execute("insert es values ('', '', '', '', '')");
    c->Execute("insert es values ('ab   ', 'x', 'tail  ', ' lead', 'y  ')");
    auto rs = c->Execute("select v, datalength(v), c, t, n, cn from es");
    ASSERT_NE(rs, nullptr);
    ASSERT_EQ(rs->RecordCount(), 2);
    EXPECT_EQ(rs->Value(0), DbValue::Text(" "));
    EXPECT_EQ(rs->Value(1), DbValue::Int(1));
    EXPECT_EQ(rs->Value(2), DbValue::Text("   "));
    EXPECT_EQ(rs->Value(3), DbValue::Text(" "));
    EXPECT_EQ(rs->Value(4), DbValue::Text(" "));
    EXPECT_EQ(rs->Value(5), DbValue::Text(" "));
    rs->MoveNext();
    EXPECT_EQ(rs->Value(0), DbValue::Text("ab")) << "varchar drops trailing blanks";
    EXPECT_EQ(rs->Value(1), DbValue::Int(2));
    EXPECT_EQ(rs->Value(2), DbValue::Text("x  ")) << "char NOT NULL is padded";
    EXPECT_EQ(rs->Value(4), DbValue::Text(" lead")) << "leading blanks stay";
    EXPECT_EQ(rs->Value(5), DbValue::Text("y")) << "nullable char drops trailing blanks";
}

TEST_F(TdsClient, TextSizeDefaultAndSetTextSize) {
    auto c = Open();
    c->Execute("create table ts (t text, i image null)");
    std::string value;
    for (int i = 0; value.size() < 40000; ++i)
        value += std::to_string(i % 10);
    value.resize(40000);
    c->Execute("insert ts values ('" + value + "', 0x" + std::string(2 * 40000, 'a') + ")");
    // The connection asks for the largest text size itself.
    EXPECT_EQ(Scalar(*c, "select t from ts"), DbValue::Text(value));
    c->Execute("set textsize 0");
    EXPECT_EQ(Scalar(*c, "select t from ts"), DbValue::Text(value.substr(0, 32768)))
        << "the default @@textsize is 32768";
    EXPECT_EQ(Scalar(*c, "select i from ts").AsBinary().bytes.size(), 32768u);
    EXPECT_EQ(Scalar(*c, "select datalength(t) from ts"), DbValue::Int(40000))
        << "textsize cuts what is sent, not what is stored";
    c->Execute("set textsize 1000");
    EXPECT_EQ(Scalar(*c, "select t from ts"), DbValue::Text(value.substr(0, 1000)));
    EXPECT_EQ(Scalar(*c, "select @@textsize"), DbValue::Int(1000));

    // The cut never splits a character; unitext counts its UTF-16 bytes.
    c->Execute("create table tsu (t text, u unitext)");
    c->Execute("insert tsu values ('\xC3\xA9\xC3\xA9\xC3\xA9\xE2\x82\xAC', 'abcdef')");
    c->Execute("set textsize 5");
    EXPECT_EQ(Scalar(*c, "select t from tsu"), DbValue::Text("\xC3\xA9\xC3\xA9"));
    c->Execute("set textsize 4");
    EXPECT_EQ(Scalar(*c, "select u from tsu"), DbValue::Text("ab"));
}

TEST_F(TdsClient, LongLiteralIntoText) {
    auto c = Open();
    c->Execute("create table lt (id int, t text)");
    std::string value;
    for (int i = 0; value.size() < 20000; ++i)
        value += "row " + std::to_string(i) + " it's \xC3\xA9 ";
    value.resize(20000);
    std::string literal;
    for (char ch : value)
        literal += ch == '\'' ? std::string("''") : std::string(1, ch);
    c->Execute("insert lt values (1, '" + literal + "')");
    EXPECT_EQ(Scalar(*c, "select datalength(t) from lt"), DbValue::Int(20000));
    const DbValue back = Scalar(*c, "select t from lt where id = 1");
    ASSERT_EQ(back.GetKind(), DbValue::Kind::Text);
    EXPECT_TRUE(back.AsText() == value) << "the 20,000-byte literal came back changed";
}

TEST_F(TdsClient, ErrorNumbersAndTexts) {
    auto c = Open();
    c->Execute("create table en (a int) create table en_d (d datetime) create table en_t (t text)");
    struct Case {
        std::string sql;
        int number;
        std::string text;
    };
    const std::vector<Case> cases = {
        {"insert en values (1,,)", 102, "Incorrect syntax near ','."},
        {"select * from where", 156, "Incorrect syntax near the keyword 'where'."},
        {"select * from en_missing", 208, "en_missing not found."},
        {"create table en (b int)", 2714, "There is already an object named 'en' in the database."},
        {"drop table en_missing", 3701,
         "Cannot drop the table 'en_missing', because it doesn't exist in the system catalogs."},
        {"select nope from en", 207, "Invalid column name 'nope'."},
        {"select 'abc", 105, "Unclosed quote before the character string 'abc'."},
        {"insert en values (1, 2)", 213, ""},
        {"insert en values ('abc')", 257,
         "Implicit conversion from datatype 'VARCHAR' to 'INT' is not allowed.  Use the CONVERT "
         "function to run this query."},
        {"insert en_d values ('not a date')", 249,
         "Syntax error during implicit conversion of VARCHAR value 'not a date' to a DATETIME "
         "field."},
        {"select t from en_t order by t", 420,
         "TEXT, IMAGE and UNITEXT datatypes cannot be used in an ORDER BY clause."},
        {"select * from en_t where t = 'x'", 306,
         "TEXT, IMAGE and UNITEXT datatypes may not be used in the WHERE or HAVING clause, except "
         "with the LIKE expression and the IS NULL predicate."},
        {"use en_no_such_db", 911, "Attempt to locate entry in sysdatabases for database"},
        {"exec sp_no_such_procedure", 2812, ""},
    };
    for (const Case& k : cases) {
        try {
            c->Execute(k.sql);
            ADD_FAILURE() << "no error " << k.number << " from: " << k.sql;
        } catch (const DatabaseError& e) {
            EXPECT_EQ(e.NativeError(), k.number) << k.sql << ": " << e.what();
            EXPECT_NE(e.Message().find(k.text), std::string::npos) << k.sql << ": " << e.Message();
            EXPECT_EQ(e.Statement(), k.sql);
        }
        EXPECT_EQ(Scalar(*c, "select 'usable'"), DbValue::Text("usable")) << "after " << k.sql;
    }
}

TEST_F(TdsClient, DatetimeValuesRoundAsAseDoes) {
    auto c = Open();
    c->Execute("create table dr (id int, d datetime, s smalldatetime null, b bigdatetime null)");
    c->Execute("insert dr values (1, '2024-01-01 10:00:00.997', null, null) "
               "insert dr values (2, '2024-01-01 10:00:00.998', null, null) "
               "insert dr values (3, '2024-12-31 23:59:59.999', null, null) "
               "insert dr values (4, 'Feb 29 2024 1:14:15:123PM', '2024-02-29 13:14', "
               "'2024-02-29 13:14:15.123456')");
    auto rs = c->Execute("select d, s, b from dr order by id");
    ASSERT_NE(rs, nullptr);
    ASSERT_EQ(rs->RecordCount(), 4);
    EXPECT_EQ(rs->Value(0).ToText(), "2024-01-01 10:00:00.997");
    rs->MoveNext();
    EXPECT_EQ(rs->Value(0).ToText(), "2024-01-01 10:00:00.997") << ".998 rounds down to .997";
    rs->MoveNext();
    EXPECT_EQ(rs->Value(0).ToText(), "2025-01-01 00:00:00.000") << ".999 rounds up";
    rs->MoveNext();
    EXPECT_EQ(rs->Value(0).ToText(), "2024-02-29 13:14:15.123");
    EXPECT_EQ(rs->Value(1).ToText(), "2024-02-29 13:14:00");
    EXPECT_EQ(rs->Value(2).ToText(), "2024-02-29 13:14:15.123456");
}

TEST_F(TdsClient, TransactionsRollBack) {
    auto c = Open();
    c->Execute("create table tr (a int)");
    c->Execute("insert tr values (1)");
    c->Execute("begin tran insert tr values (2) insert tr values (3)");
    EXPECT_EQ(Scalar(*c, "select @@trancount"), DbValue::Int(1));
    EXPECT_EQ(Scalar(*c, "select count(*) from tr"), DbValue::Int(3));
    c->Execute("rollback tran");
    EXPECT_EQ(Scalar(*c, "select @@trancount"), DbValue::Int(0));
    EXPECT_EQ(Scalar(*c, "select count(*) from tr"), DbValue::Int(1));
    c->Execute("begin transaction insert tr values (4) commit");
    auto other = Open();
    EXPECT_EQ(Scalar(*other, "select count(*) from tr"), DbValue::Int(2));
}

// --- Owners, views and the tables schema --------------------------------------------------------

TEST_F(TdsClient, TablesOfTwoOwners) {
    auto c = Open();
    c->Execute("create table bob.orders (id int)");
    c->Execute("create table dbo.orders (id int, note varchar(10) null)");
    c->Execute("insert bob.orders values (1)");
    c->Execute("insert orders values (2, 'dbo') insert dbo.orders values (3, null)");
    EXPECT_EQ(Scalar(*c, "select count(*) from bob.orders"), DbValue::Int(1));
    EXPECT_EQ(Scalar(*c, "select count(*) from orders"), DbValue::Int(2))
        << "an unqualified name is dbo's";
    EXPECT_EQ(Scalar(*c, "select count(*) from master.bob.orders"), DbValue::Int(1));
    EXPECT_EQ(Scalar(*c, "select count(*) from master..orders"), DbValue::Int(2));
    EXPECT_EQ(ExecuteError(*c, "create table bob.orders (x int)").NativeError(), 2714);

    const auto tables = Tables(*c);
    EXPECT_EQ(tables.at({"bob", "orders"}), "TABLE");
    EXPECT_EQ(tables.at({"dbo", "orders"}), "TABLE");

    c->Execute("drop table bob.orders");
    EXPECT_EQ(Scalar(*c, "select count(*) from orders"), DbValue::Int(2));
    EXPECT_EQ(ExecuteError(*c, "select * from bob.orders").NativeError(), 208);
}

TEST_F(TdsClient, TablesSchemaListsTablesViewsAndSystemTables) {
    auto c = Open();
    c->Execute("create table sch_t (a int, b varchar(5) null)");
    c->Execute("create view sch_v as select a from sch_t");
    c->Execute("insert sch_t values (1, 'x')");
    EXPECT_EQ(Scalar(*c, "select a from sch_v"), DbValue::Int(1));

    auto rs = c->OpenSchema(SchemaKind::Tables);
    ASSERT_NE(rs, nullptr);
    std::map<std::pair<std::string, std::string>, std::string> seen;
    std::vector<std::tuple<std::string, std::string, std::string>> order;
    for (; !rs->IsEOF(); rs->MoveNext()) {
        const std::string type = rs->Value("TABLE_TYPE").ToText();
        const std::string owner = rs->Value("TABLE_OWNER").ToText();
        const std::string name = rs->Value("TABLE_NAME").ToText();
        seen[{owner, name}] = type;
        order.emplace_back(type, owner, name);
    }
    EXPECT_EQ(seen[std::make_pair(std::string("dbo"), std::string("sch_t"))], "TABLE");
    EXPECT_EQ(seen[std::make_pair(std::string("dbo"), std::string("sch_v"))], "VIEW");
    EXPECT_EQ(seen[std::make_pair(std::string("dbo"), std::string("sysobjects"))], "SYSTEM TABLE");
    EXPECT_TRUE(std::is_sorted(order.begin(), order.end()))
        << "rows are ordered by type, owner and name";

    // System tables answer queries, and views disappear from the schema when dropped.
    std::string type = Scalar(*c, "select type from sysobjects where name = 'sch_t'").ToText();
    type.erase(type.find_last_not_of(' ') + 1);
    EXPECT_EQ(type, "U");
    // sp_tables with a name pattern and a type list, as a language command.
    auto views = c->Execute("sp_tables 'sch%', null, null, \"'VIEW'\"");
    ASSERT_NE(views, nullptr);
    ASSERT_EQ(views->RecordCount(), 1);
    EXPECT_EQ(views->Value("table_name"), DbValue::Text("sch_v"));

    c->Execute("drop view sch_v");
    EXPECT_EQ(Tables(*c).count({"dbo", "sch_v"}), 0u);
}

// --- Streams and several clients ----------------------------------------------------------------

TEST_F(TdsClient, StreamLeftEarlyIsCancelledAndTheConnectionGoesOn) {
    auto c = Open(kSa, "master", CursorLocation::Server);
    c->Execute("create table st (id int, pad varchar(100))");
    c->Execute("insert st values (1, replicate('p', 100))");
    for (int i = 0; i < 15; ++i)
        c->Execute("insert into st select id + " + std::to_string(1 << i) + ", pad from st");
    auto rs = c->Execute("select id, pad from st order by id");
    ASSERT_NE(rs, nullptr);
    for (int i = 1; i <= 10; ++i) {
        ASSERT_FALSE(rs->IsEOF());
        EXPECT_EQ(rs->Value(0), DbValue::Int(i));
        rs->MoveNext();
    }
    // Closing the result cancels the rest of the stream (an attention on the wire).
    rs->Close();
    EXPECT_EQ(Scalar(*c, "select count(*) from st"), DbValue::Int(1 << 15));
    EXPECT_EQ(Scalar(*c, "select count(*) from st where id = 32768"), DbValue::Int(1));
}

// A writer waits for another session's open transaction instead of failing at once.
TEST_F(TdsClient, WriterWaitsForAnOpenTransaction) {
    auto holder = Open();
    auto waiter = Open();
    holder->Execute("create table wt (a int)");
    holder->Execute("begin tran insert wt values (1)");
    std::string failure;
    std::thread writer([&] {
        try {
            waiter->Execute("insert wt values (2)");
        } catch (const DatabaseError& e) {
            failure = std::to_string(e.NativeError()) + ": " + e.what();
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    holder->Execute("commit tran");
    writer.join();
    EXPECT_EQ(failure, "") << "the second writer failed instead of waiting for the commit";
    EXPECT_EQ(Scalar(*waiter, "select count(*) from wt"), DbValue::Int(2));
}

TEST_F(TdsClient, DataSurvivesARestart) {
    {
        auto c = Open();
        c->Execute("create database kept_db");
        c->Execute("create table kept_db..kept (id int, t text null, m money)");
        c->Execute("insert kept_db..kept values (1, 'persisted', 12.3456)");
        c->Execute("create view kept_db.dbo.kept_v as select id from kept_db..kept");
    }
    ASSERT_EQ(server_.Stop(std::chrono::seconds(20), true), 0);
    ASSERT_NO_THROW(server_.Start({kSa, kAlice}));
    auto c = Open(kSa, "kept_db");
    auto rs = c->Execute("select id, t, m from kept");
    ASSERT_NE(rs, nullptr);
    ASSERT_EQ(rs->RecordCount(), 1);
    EXPECT_EQ(rs->Value(1), DbValue::Text("persisted"));
    EXPECT_EQ(rs->Value(2).ToText(), "12.3456");
    EXPECT_EQ(Scalar(*c, "select id from kept_v"), DbValue::Int(1));
    EXPECT_EQ(ExecuteError(*c, "create database kept_db").NativeError() != 0, true);
}

TEST_F(TdsClient, CreateDatabaseRaceHasOneWinner) {
    constexpr int kRacers = 4;
    std::vector<std::unique_ptr<Connection>> connections;
    for (int i = 0; i < kRacers; ++i)
        connections.push_back(Open());
    std::atomic<int> started{0};
    std::atomic<int> created{0};
    std::vector<int> errors(kRacers, 0);
    std::vector<std::thread> threads;
    for (int i = 0; i < kRacers; ++i) {
        threads.emplace_back([&, i] {
            ++started;
            while (started.load() < kRacers)
                std::this_thread::yield();
            try {
                connections[static_cast<std::size_t>(i)]->Execute("create database raced");
                ++created;
            } catch (const DatabaseError& e) {
                errors[static_cast<std::size_t>(i)] = e.NativeError();
            }
        });
    }
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(created.load(), 1) << "exactly one create database succeeds";
    for (int i = 0; i < kRacers; ++i) {
        auto& c = *connections[static_cast<std::size_t>(i)];
        c.Execute("use raced");
        c.Execute("create table r" + std::to_string(i) + " (a int)");
        c.Execute("insert r" + std::to_string(i) + " values (" + std::to_string(i) + ")");
    }
    auto check = Open(kSa, "raced");
    for (int i = 0; i < kRacers; ++i)
        EXPECT_EQ(Scalar(*check, "select a from r" + std::to_string(i)), DbValue::Int(i));
}

TEST_F(TdsClient, ConcurrentClientsWithTheirOwnDatabases) {
    constexpr int kClients = 4;
    constexpr int kRows = 120;
    {
        auto admin = Open();
        for (int k = 0; k < kClients; ++k)
            admin->Execute("create database conc" + std::to_string(k));
        admin->Execute("create table shared_rows (client int, n int)");
    }
    std::mutex mutex;
    std::vector<std::string> failures;
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int k = 0; k < kClients; ++k) {
        threads.emplace_back([&, k] {
            try {
                const std::string db = "conc" + std::to_string(k);
                auto c = Open(kSa, db);
                c->Execute("create table mine (n int, owner_db varchar(20))");
                ++ready;
                while (ready.load() < kClients)
                    std::this_thread::yield();
                for (int n = 1; n <= kRows; ++n) {
                    c->Execute("insert mine values (" + std::to_string(n) + ", '" + db + "')");
                    if (n % 3 == 0)
                        c->Execute("insert master..shared_rows values (" + std::to_string(k) +
                                   ", " + std::to_string(n) + ")");
                    if (n % 20 == 0) {
                        const DbValue count = Scalar(*c, "select count(*) from mine");
                        if (count != DbValue::Int(n)) {
                            std::lock_guard lock(mutex);
                            failures.push_back(db + ": count " + count.ToText() + " after " +
                                               std::to_string(n) + " inserts");
                        }
                    }
                }
                const DbValue others =
                    Scalar(*c, "select count(*) from mine where owner_db <> '" + db + "'");
                if (others != DbValue::Int(0)) {
                    std::lock_guard lock(mutex);
                    failures.push_back(db + ": rows of another client: " + others.ToText());
                }
            } catch (const std::exception& e) {
                std::lock_guard lock(mutex);
                failures.push_back("client " + std::to_string(k) + ": " + e.what());
            }
        });
    }
    for (auto& t : threads)
        t.join();
    for (const auto& f : failures)
        ADD_FAILURE() << f;

    auto check = Open();
    for (int k = 0; k < kClients; ++k) {
        const std::string db = "conc" + std::to_string(k);
        EXPECT_EQ(Scalar(*check, "select count(*) from " + db + "..mine"), DbValue::Int(kRows));
        EXPECT_EQ(
            Scalar(*check, "select count(*) from shared_rows where client = " + std::to_string(k)),
            DbValue::Int(kRows / 3));
    }
}

} // namespace
} // namespace tdsserver
