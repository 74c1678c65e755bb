// Batches, statements, errors and the FreeTDS login probes.
#include "EngineTestSupport.h"

#include <chrono>
#include <thread>

namespace asetest::testing {
namespace {

using BatchTest = EngineTest;

TEST_F(BatchTest, LoginProbesOfEveryFreeTdsVersionSucceed) {
    Ok("create database probe");

    auto out = Run("select @@spid use [probe]");
    ASSERT_EQ(out.size(), 2u) << Describe(out);
    ASSERT_TRUE(out[0].hasResultSet);
    EXPECT_EQ(out[0].columns[0].type.type, AseType::Int);
    EXPECT_FALSE(out[0].columns[0].type.nullable);
    EXPECT_EQ(out[0].rows.at(0).at(0).integer, 17);
    EXPECT_TRUE(out[1].databaseChanged);
    EXPECT_EQ(out[1].newDatabase, "probe");
    EXPECT_EQ(out[1].oldDatabase, "master");
    ASSERT_EQ(out[1].messages.size(), 1u);
    EXPECT_EQ(out[1].messages[0].number, 5701);
    EXPECT_EQ(out[1].messages[0].severity, 10);
    EXPECT_EQ(out[1].messages[0].text, "Changed database context to 'probe'.");

    EXPECT_EQ(ScalarColumn("SELECT @@spid AS spid").name, "spid");
    EXPECT_EQ(ScalarColumn("SELECT @@spid spid").name, "spid");
    Ok("set textsize 65536");
    EXPECT_EQ(session_->TextSize(), 65536);

    StatementOutcome o = Query("SET TEXTSIZE 1000 SELECT @@spid AS spid USE [probe] SELECT "
                               "CAST('abc' AS NVARCHAR(3)) AS nvc, CAST('xyz' AS UNIVARCHAR(3)) "
                               "AS uvc");
    ASSERT_EQ(o.columns.size(), 2u);
    EXPECT_EQ(o.columns[0].name, "nvc");
    EXPECT_EQ(o.columns[0].type.type, AseType::VarChar);
    EXPECT_EQ(o.columns[0].type.length, 9);
    EXPECT_EQ(o.columns[1].type.type, AseType::UniVarChar);
    EXPECT_EQ(o.columns[1].type.length, 3);
    EXPECT_EQ(o.rows.at(0).at(0).bytes, "abc");
    EXPECT_EQ(o.rows.at(0).at(1).bytes, "xyz");

    o = Query("SELECT CONVERT(NVARCHAR(3), 'abc') nvc");
    EXPECT_EQ(o.columns[0].name, "nvc");
    EXPECT_EQ(o.rows.at(0).at(0).bytes, "abc");

    out = Run("SET TEXTSIZE 4096\nSELECT @@spid spid\nUSE [probe]\nSELECT CONVERT(NVARCHAR(3), "
              "'abc') nvc\nEXECUTE ('SELECT CONVERT(UNIVARCHAR(3), ''xyz'') uvc')");
    ASSERT_EQ(out.size(), 5u) << Describe(out);
    EXPECT_EQ(out[4].columns.at(0).name, "uvc");
    EXPECT_EQ(out[4].columns.at(0).type.type, AseType::UniVarChar);
    EXPECT_EQ(out[4].rows.at(0).at(0).bytes, "xyz");
    EXPECT_EQ(session_->CurrentDatabase(), "probe");
}

TEST_F(BatchTest, StatementsNeedOnlyWhiteSpaceBetweenThemAndKeywordsIgnoreCase) {
    auto out = Run("CrEaTe TaBlE t (a int)\ninsert t values (1) INSERT INTO t VALUES (2); "
                   "select * from t");
    ASSERT_EQ(out.size(), 4u) << Describe(out);
    EXPECT_EQ(out[0].rowCount, -1);
    EXPECT_EQ(out[1].rowCount, 1);
    EXPECT_EQ(out[2].rowCount, 1);
    EXPECT_EQ(out[3].rowCount, 2);
    EXPECT_EQ(out[3].rows.size(), 2u);
}

TEST_F(BatchTest, SyntaxErrorAnywhereRunsNothing) {
    auto out = Run("create table t (a int) select from t");
    ASSERT_EQ(out.size(), 1u);
    EXPECT_TRUE(out[0].failed);
    ASSERT_EQ(out[0].messages.size(), 1u);
    EXPECT_EQ(out[0].messages[0].number, 156);
    EXPECT_EQ(out[0].messages[0].severity, 15);
    EXPECT_EQ(out[0].messages[0].text, "Incorrect syntax near the keyword 'from'.");
    EXPECT_EQ(Error("select * from t").number, 208); // the table was not created

    Message m = Error("select 1 +* 2");
    EXPECT_EQ(m.number, 102);
    EXPECT_EQ(m.text, "Incorrect syntax near '*'.");
    m = Error("select 'abc");
    EXPECT_EQ(m.number, 105);
    EXPECT_EQ(m.severity, 15);
    EXPECT_EQ(m.text, "Unclosed quote before the character string 'abc'.");
    EXPECT_EQ(Error("select [ ] from x").number, 102);
    EXPECT_EQ(Error("create table t (a int").number, 102);
}

TEST_F(BatchTest, RuntimeErrorFailsOnlyItsStatement) {
    auto out = Run("create table t (a int) create table t (b int) insert t values (5) "
                   "select @@error");
    ASSERT_EQ(out.size(), 4u) << Describe(out);
    EXPECT_FALSE(out[0].failed);
    EXPECT_TRUE(out[1].failed);
    EXPECT_EQ(out[1].messages.at(0).number, 2714);
    EXPECT_EQ(out[1].messages.at(0).severity, 16);
    EXPECT_EQ(out[1].messages.at(0).text, "There is already an object named 't' in the database.");
    EXPECT_FALSE(out[2].failed);
    EXPECT_EQ(out[3].rows.at(0).at(0).integer, 0);
    out = Run("select * from nowhere select @@error");
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[1].rows.at(0).at(0).integer, 208);
}

TEST_F(BatchTest, MissingObjectsAndColumns) {
    Message m = Error("select * from nosuch");
    EXPECT_EQ(m.number, 208);
    EXPECT_EQ(m.severity, 16);
    EXPECT_EQ(m.text, "nosuch not found. Specify owner.objectname or use sp_help to check whether "
                      "the object exists (sp_help may produce lots of output).");
    m = Error("drop table a");
    EXPECT_EQ(m.number, 3701);
    EXPECT_EQ(m.severity, 11);
    EXPECT_EQ(m.text,
              "Cannot drop the table 'a', because it doesn't exist in the system catalogs.");
    Ok("create table t (a int)");
    m = Error("select b from t");
    EXPECT_EQ(m.number, 207);
    EXPECT_EQ(m.text, "Invalid column name 'b'.");
    m = Error("exec sp_nothing");
    EXPECT_EQ(m.number, 2812);
    EXPECT_EQ(m.severity, 16);
    m = Error("use nodb");
    EXPECT_EQ(m.number, 911);
    EXPECT_EQ(m.severity, 11);
    EXPECT_EQ(m.text, "Attempt to locate entry in sysdatabases for database 'nodb' by name "
                      "failed - no entry found under that name. Make sure that name is entered "
                      "properly.");
    EXPECT_EQ(session_->CurrentDatabase(), "master");
}

TEST_F(BatchTest, DropTableListDropsWhatExists) {
    Ok("create table a (x int) create table b (x int)");
    Message m = Error("drop table a, missing, b");
    EXPECT_EQ(m.number, 3701);
    EXPECT_EQ(Error("select * from a").number, 208);
    EXPECT_EQ(Error("select * from b").number, 208);
    Ok("create table a (y int)"); // the name is free again
}

TEST_F(BatchTest, GlobalVariables) {
    Ok("create table t (a int) insert t values (1) insert t values (2)");
    EXPECT_EQ(Scalar("select @@rowcount").integer, 1); // the last insert of the previous batch
    auto out = Run("update t set a = a + 10 select @@rowcount");
    EXPECT_EQ(out.at(1).rows.at(0).at(0).integer, 2);
    EXPECT_EQ(Scalar("select @@servername").bytes, "TESTSRV");
    EXPECT_NE(Scalar("select @@version").bytes.find("Adaptive Server Enterprise"),
              std::string::npos);
    EXPECT_EQ(Scalar("select @@textsize").integer, 32768);
    EXPECT_EQ(Scalar("select @@trancount").integer, 0);
    Ok("begin tran");
    EXPECT_EQ(Scalar("select @@trancount").integer, 1);
    Ok("commit");
}

TEST_F(BatchTest, DatabasesAndSessions) {
    Ok("create database one create database two");
    EXPECT_EQ(Error("create database one").number, 1801);
    auto other = NewSession(18);
    Ok("use one create table t (a int) insert t values (1)");
    Ok(*other, "use two create table t (a int) insert t values (2) insert t values (3)");
    EXPECT_EQ(session_->CurrentDatabase(), "one");
    EXPECT_EQ(other->CurrentDatabase(), "two");
    EXPECT_EQ(Query("select * from t").rows.size(), 1u);
    auto out = Run(*other, "select * from t");
    EXPECT_EQ(out.at(0).rows.size(), 2u);
    // Qualified names reach other databases.
    EXPECT_EQ(Query("select * from two..t").rows.size(), 2u);
    EXPECT_EQ(Query("select * from two.dbo.t").rows.size(), 2u);
    EXPECT_EQ(Scalar("select @@spid").integer, 17);
    EXPECT_EQ(Run(*other, "select @@spid").at(0).rows.at(0).at(0).integer, 18);
}

TEST_F(BatchTest, ConcurrentCreateDatabaseMakesExactlyOne) {
    auto a = NewSession(21);
    auto b = NewSession(22);
    std::vector<StatementOutcome> ra;
    std::vector<StatementOutcome> rb;
    std::thread ta([&] { ra = a->ExecuteBatch("create database race", cancelled_); });
    std::thread tb([&] { rb = b->ExecuteBatch("create database race", cancelled_); });
    ta.join();
    tb.join();
    ASSERT_EQ(ra.size(), 1u);
    ASSERT_EQ(rb.size(), 1u);
    EXPECT_NE(ra[0].failed, rb[0].failed) << Describe(ra) << Describe(rb);
    Ok("use race create table t (a int) insert t values (1)");
    EXPECT_EQ(Query("select * from t").rows.size(), 1u);
}

TEST_F(BatchTest, SessionsWriteConcurrently) {
    Ok("create table shared (who int, n int)");
    constexpr int kSessions = 4;
    constexpr int kRows = 150;
    std::vector<std::unique_ptr<EngineSession>> sessions;
    for (int i = 0; i < kSessions; ++i) {
        sessions.push_back(NewSession(40 + i));
        Ok(*sessions.back(), "create database own" + std::to_string(i));
    }
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < kSessions; ++i) {
        threads.emplace_back([&, i] {
            EngineSession& s = *sessions[static_cast<std::size_t>(i)];
            std::atomic<bool> never{false};
            auto check = [&](const std::vector<StatementOutcome>& out) {
                for (const auto& o : out) {
                    failures += o.failed ? 1 : 0;
                }
            };
            check(s.ExecuteBatch("use own" + std::to_string(i) + " create table mine (n int)",
                                 never));
            for (int n = 0; n < kRows; ++n) {
                const std::string k = std::to_string(n);
                check(s.ExecuteBatch("insert mine values (" + k +
                                         ") insert master..shared values (" + std::to_string(i) +
                                         ", " + k + ")",
                                     never));
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(Scalar("select count(*) from shared").integer, kSessions * kRows);
    for (int i = 0; i < kSessions; ++i) {
        EXPECT_EQ(Scalar("select count(*) from own" + std::to_string(i) + "..mine").integer, kRows);
    }
}

TEST_F(BatchTest, PersistenceAfterReopen) {
    Ok("create database keep use keep create table bob.orders (id int, note varchar(10) null) "
       "insert bob.orders values (1, 'x') create view v as select id from bob.orders");
    Reopen();
    EXPECT_EQ(session_->CurrentDatabase(), "master");
    Ok("use keep");
    StatementOutcome o = Query("select * from bob.orders");
    ASSERT_EQ(o.rows.size(), 1u);
    EXPECT_EQ(o.rows[0][1].bytes, "x");
    EXPECT_TRUE(o.columns[1].type.nullable);
    EXPECT_EQ(o.columns[1].type.length, 10);
    EXPECT_EQ(Query("select * from v").rows.size(), 1u);
}

TEST_F(BatchTest, TransactionsCommitAndRollBack) {
    Ok("create table t (a int)");
    Ok("begin tran insert t values (1) insert t values (2) rollback tran");
    EXPECT_EQ(Query("select * from t").rows.size(), 0u);
    Ok("begin transaction insert t values (3) commit transaction");
    EXPECT_EQ(Query("select * from t").rows.size(), 1u);
    Ok("begin tran create table u (a int) rollback");
    EXPECT_EQ(Error("select * from u").number, 208);
    EXPECT_EQ(Error("commit").number, 3902);
}

TEST_F(BatchTest, OpenTransactionDoesNotBlockOtherSessionsFromReading) {
    Ok("create database side create table t (a int) insert t values (1)");
    Ok("begin tran insert t values (2)");
    auto other = NewSession(30);
    const auto start = std::chrono::steady_clock::now();
    auto out = Run(*other, "use side select count(*) from master..t");
    const auto waited = std::chrono::steady_clock::now() - start;
    ASSERT_EQ(out.size(), 2u) << Describe(out);
    EXPECT_FALSE(out[1].failed) << Describe(out);
    EXPECT_EQ(out[1].rows.at(0).at(0).integer, 1); // the open insert is not visible
    EXPECT_LT(waited, std::chrono::seconds(2));
    Ok("commit");
    EXPECT_EQ(Run(*other, "select count(*) from master..t").at(0).rows.at(0).at(0).integer, 2);
}

TEST_F(BatchTest, IfElseExistsAndBlocks) {
    Ok("create table t (a int)");
    auto out = Run("if exists (select * from t) select 1 else select 2");
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].rows.at(0).at(0).integer, 2);
    out = Run("if not exists (select 1 from sysobjects where name = 't') select 'no' else begin "
              "insert t values (9) select 'yes' end");
    ASSERT_EQ(out.size(), 2u) << Describe(out);
    EXPECT_EQ(out[1].rows.at(0).at(0).bytes, "yes");
    EXPECT_EQ(Scalar("select count(*) from t").integer, 1);
    out = Run("if object_id('t') is not null drop table t");
    EXPECT_FALSE(out.at(0).failed);
    EXPECT_TRUE(Scalar("select object_id('t')").isNull);
    EXPECT_EQ(Run("if 1 = 2 select 1").size(), 1u); // nothing ran: one empty outcome
}

TEST_F(BatchTest, DynamicSqlAndSetOptions) {
    auto out = Run("exec ('create table d (a int) insert d values (4)') select * from d");
    ASSERT_EQ(out.size(), 3u) << Describe(out);
    EXPECT_EQ(out[2].rows.at(0).at(0).integer, 4);
    out = Run("execute ('select ' + '1 +') select 2");
    ASSERT_EQ(out.size(), 2u);
    EXPECT_TRUE(out[0].failed);
    EXPECT_EQ(out[0].messages.at(0).number, 102);
    EXPECT_EQ(out[1].rows.at(0).at(0).integer, 2);
    Ok("set nocount on set chained off set ansinull on set transaction isolation level 1");
    Ok("set textsize 0");
    EXPECT_EQ(session_->TextSize(), 32768);
}

TEST_F(BatchTest, QuotedIdentifierOption) {
    EXPECT_EQ(Scalar("select \"abc\"").bytes, "abc"); // a string while the option is off
    Ok("set quoted_identifier on");
    Ok("create table \"my table\" (\"a\"\"b\" int)");
    StatementOutcome o = Query("select * from [my table]");
    EXPECT_EQ(o.columns.at(0).name, "a\"b");
    Ok("set quoted_identifier off");
    EXPECT_EQ(Error("select * from \"my table\"").number, 102);
}

TEST_F(BatchTest, BracketedNames) {
    Ok("create table [odd ]]name  ] ([col one] int, [select] int)");
    StatementOutcome o = Query("select [col one], [select] from [odd ]]name]");
    EXPECT_EQ(o.columns.at(0).name, "col one");
    EXPECT_EQ(o.columns.at(1).name, "select");
    EXPECT_EQ(Error("create table [] (a int)").number, 102);
    std::string longName(256, 'n');
    EXPECT_EQ(Error("create table " + longName + " (a int)").number, 103);
    std::string okName(255, 'n');
    Ok("create table " + okName + " (a int)");
}

TEST_F(BatchTest, DotInsideADelimitedNameIsASyntaxError) {
    Ok("create table [a].[b] ([c] int) insert a.b values (1)");
    EXPECT_EQ(Scalar("select [c] from [master].[a].[b]").integer, 1);
    const struct {
        bool quotedIdentifier;
        const char* sql;
        const char* near;
    } cases[] = {
        {false, "create table [x.y] (c int)", "[x.y]"},
        {false, "select * from [a.b]", "[a.b]"},
        {false, "select [b.c] from a.b", "[b.c]"},
        {false, "select * from [a]].b ]", "[a]].b ]"},
        {true, "select * from \"a.b\"", "\"a.b\""},
        {true, "select \"x.c\" from a.b", "\"x.c\""},
    };
    for (const auto& c : cases) {
        Ok(c.quotedIdentifier ? "set quoted_identifier on" : "set quoted_identifier off");
        const Message m = Error(c.sql);
        EXPECT_EQ(m.number, 102) << c.sql;
        EXPECT_EQ(m.severity, 15) << c.sql;
        EXPECT_EQ(m.text, std::string("Incorrect syntax near '") + c.near + "'.") << c.sql;
    }
    Ok("set quoted_identifier off");
    EXPECT_EQ(Scalar("select count(*) from sysobjects where name like '%.%'").integer, 0);
}

TEST_F(BatchTest, DeepNestingGivesErrors) {
    std::string deep = "select " + std::string(5000, '(') + "1" + std::string(5000, ')');
    EXPECT_EQ(Error(deep).number, 191);
    std::string conditions =
        "select 1 where " + std::string(3000, '(') + "1 = 1" + std::string(3000, ')');
    EXPECT_EQ(Error(conditions).number, 191);
    Ok("create table t (a int) insert t values (1) create view v0 as select a from t");
    for (int i = 1; i <= 16; ++i) {
        Ok("create view v" + std::to_string(i) + " as select a from v" + std::to_string(i - 1));
    }
    EXPECT_EQ(Scalar("select a from v15").integer, 1);
    EXPECT_EQ(Error("create view v17 as select a from v16").number, 217);
    Ok("create table ok (a int)"); // the session goes on
}

TEST_F(BatchTest, CancelStopsBeforeTheNextStatement) {
    Ok("create table t (a int)");
    cancelled_ = true;
    auto out = Run("insert t values (1) insert t values (2)");
    cancelled_ = false;
    EXPECT_LE(out.size(), 1u);
    EXPECT_EQ(Scalar("select count(*) from t").integer, 0);
}

} // namespace
} // namespace asetest::testing
