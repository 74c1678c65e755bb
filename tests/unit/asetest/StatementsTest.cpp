// Transactions, DDL errors, arithmetic types and the less common statements.
#include "EngineTestSupport.h"
#include "engine/Executor.h"
#include "engine/Types.h"

namespace asetest::testing {
namespace {

using StatementsTest = EngineTest;

TEST_F(StatementsTest, TransactionsNestAndKeepFailedStatementsOut) {
    Ok("create table t (a tinyint)");
    Ok("begin tran begin tran insert t values (1)");
    EXPECT_EQ(Scalar("select @@trancount").integer, 2);
    // A failing multi-row statement inside the transaction undoes only itself.
    Ok("create table src (v int) insert src values (2) insert src values (300)");
    EXPECT_EQ(Error("insert t select v from src").number, 220);
    EXPECT_EQ(Scalar("select count(*) from t").integer, 1);
    Ok("insert t values (3) update t set a = a + 10 where a = 1 delete t where a = 3");
    Ok("commit");
    EXPECT_EQ(Scalar("select @@trancount").integer, 1); // the inner commit only counts down
    Ok("rollback");
    EXPECT_EQ(Scalar("select @@trancount").integer, 0);
    EXPECT_EQ(Error("select * from src").number, 208); // created inside, rolled back
    EXPECT_EQ(Scalar("select count(*) from t").integer, 0);
    EXPECT_EQ(Error("rollback").number, 3903);

    Ok("begin tran insert t values (7) update t set a = 8 delete t where a = 99 commit tran");
    EXPECT_EQ(Scalar("select a from t").integer, 8);
    EXPECT_EQ(Error("begin tran create database intran").number, 226);
    Ok("rollback");
}

TEST_F(StatementsTest, TableDefinitionErrors) {
    Message m = Error("create table t (a int, a int)");
    EXPECT_EQ(m.number, 2705);
    EXPECT_EQ(m.text, "Column names in each table must be unique. Column name 'a' in table 't' "
                      "is specified more than once.");
    EXPECT_EQ(Error("create table t (a nosuchtype)").number, 2715);
    EXPECT_EQ(Error("create table t (a numeric(39))").number, 2756);
    EXPECT_EQ(Error("create table t (a numeric(5,6))").number, 2756);
    EXPECT_EQ(Error("create table t (a varchar(0))").number, 2716);
    m = Error("create table t (a binary(16385))");
    EXPECT_EQ(m.number, 131);
    EXPECT_EQ(m.severity, 15);
    EXPECT_EQ(Error("create table t (a int(4))").number, 102);
    EXPECT_EQ(Error("create table t ()").number, 102);
    EXPECT_EQ(Error("create table t (select int)").number, 156);
    Ok("create table t ([select] int, [a b] int null)"); // the failed ones left nothing
    EXPECT_EQ(Query("select * from t").columns.size(), 2u);
}

TEST_F(StatementsTest, DropDatabase) {
    Ok("create database gone use gone create table t (a int) use master");
    Ok("drop database gone");
    EXPECT_EQ(Error("use gone").number, 911);
    Ok("create database gone use gone");
    EXPECT_EQ(Error("select * from t").number, 208); // a new, empty database
    EXPECT_EQ(Error("drop database gone").number, 3702);
    EXPECT_EQ(Error("drop database master").number, 3702);
    Ok("use master");
    EXPECT_EQ(Error("drop database never").number, 3701);
}

TEST_F(StatementsTest, ArithmeticResultTypes) {
    StatementOutcome o = Query("select 1.5 + 2.25, 1.5 * 2.25, 10 / 4.0, $2 * 3, "
                               "convert(tinyint, 1) + convert(tinyint, 2), 1 + 2.5e0");
    ASSERT_EQ(o.columns.size(), 6u);
    EXPECT_EQ(o.columns[0].type.type, AseType::Numeric);
    EXPECT_EQ(o.columns[0].type.scale, 2);
    EXPECT_EQ(FormatScaled(o.rows[0][0].unscaled, o.columns[0].type.scale), "3.75");
    EXPECT_EQ(o.columns[1].type.scale, 3);
    EXPECT_EQ(FormatScaled(o.rows[0][1].unscaled, o.columns[1].type.scale), "3.375");
    EXPECT_EQ(FormatScaled(o.rows[0][2].unscaled, o.columns[2].type.scale).substr(0, 5), "2.500");
    EXPECT_EQ(o.columns[3].type.type, AseType::Money);
    EXPECT_EQ(o.rows[0][3].integer, 60000);
    EXPECT_EQ(o.columns[4].type.type, AseType::TinyInt);
    EXPECT_EQ(o.rows[0][4].integer, 3);
    EXPECT_EQ(o.columns[5].type.type, AseType::Float);
    EXPECT_EQ(o.rows[0][5].real, 3.5);
    EXPECT_EQ(Error("select convert(tinyint, 200) + convert(tinyint, 100)").number, 3606);
    EXPECT_EQ(Error("select convert(unsigned int, 1) - convert(unsigned int, 2)").number, 3606);
    EXPECT_EQ(Error("select 1.5 % 2").number, 403);
    EXPECT_EQ(Error("select -'a'").number, 403);
    EXPECT_EQ(Error("select 1.0 / 0").number, 3607);
    EXPECT_EQ(Error("select 1e0 / 0").number, 3607);
    EXPECT_EQ(Scalar("select -convert(bigint, 5)").integer, -5);
    EXPECT_EQ(Scalar("select 0x01 + 0x02").bytes, "\x01\x02");
}

TEST_F(StatementsTest, ErrorAndRowCountGlobals) {
    Ok("create table t (a int)");
    auto out = Run("insert t values ('x') select @@error insert t values (1) select @@error, "
                   "@@rowcount");
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(out[1].rows.at(0).at(0).integer, 257);
    EXPECT_EQ(out[3].rows.at(0).at(0).integer, 0);
    EXPECT_EQ(out[3].rows.at(0).at(1).integer, 1);
    out = Run("select * from t select @@rowcount");
    EXPECT_EQ(out.at(1).rows.at(0).at(0).integer, 1);
}

TEST_F(StatementsTest, PrintAndExecuteNesting) {
    auto out = Run("print 'hello'");
    ASSERT_EQ(out.size(), 1u);
    ASSERT_EQ(out[0].messages.size(), 1u);
    EXPECT_EQ(out[0].messages[0].text, "hello");
    EXPECT_LE(out[0].messages[0].severity, 10);
    std::string nested = "select 1";
    for (int i = 0; i < 20; ++i) {
        std::string quoted;
        for (char c : nested) {
            quoted += c == '\'' ? std::string("''") : std::string(1, c);
        }
        nested = "exec ('" + quoted + "')";
    }
    out = Run(nested);
    ASSERT_FALSE(out.empty());
    EXPECT_TRUE(out.back().failed);
    EXPECT_EQ(out.back().messages.at(0).number, 217);
    EXPECT_EQ(Error("exec (1)").number, 257);
}

TEST_F(StatementsTest, InsertSelectConvertsAndChecksEveryRow) {
    Ok("create table src (s varchar(10), n int null)");
    Ok("insert src values ('a', 1) insert src values ('b', null)");
    Ok("create table dst (s char(3), n int)");
    EXPECT_EQ(Error("insert dst select s, n from src").number, 515);
    EXPECT_EQ(Scalar("select count(*) from dst").integer, 0); // not even the first row
    EXPECT_EQ(Error("insert dst select n, n from src").number, 257);
    Ok("insert dst select s, isnull(n, 0) from src");
    StatementOutcome o = Query("select s, n from dst order by s");
    ASSERT_EQ(o.rows.size(), 2u);
    EXPECT_EQ(o.rows[0][0].bytes, "a  ");
    EXPECT_EQ(o.rows[1][1].integer, 0);
    Ok("insert dst (n, s) select 5, 'zz'");
    EXPECT_EQ(Scalar("select s from dst where n = 5").bytes, "zz ");
}

TEST(LikePatterns, Matching) {
    EXPECT_TRUE(LikeMatch("abc", "abc"));
    EXPECT_FALSE(LikeMatch("abc", "ab"));
    EXPECT_TRUE(LikeMatch("abc", "a%"));
    EXPECT_TRUE(LikeMatch("abc", "%c"));
    EXPECT_TRUE(LikeMatch("abc", "%b%"));
    EXPECT_TRUE(LikeMatch("abc", "a_c"));
    EXPECT_FALSE(LikeMatch("abc", "a_"));
    EXPECT_TRUE(LikeMatch("abc", "[a-c]bc"));
    EXPECT_FALSE(LikeMatch("abc", "[^a]bc"));
    EXPECT_TRUE(LikeMatch("xbc", "[^a]bc"));
    EXPECT_TRUE(LikeMatch("a%c", "a[%]c"));
    EXPECT_FALSE(LikeMatch("abc", "A%")); // case matters
    EXPECT_TRUE(LikeMatch("", "%"));
    EXPECT_TRUE(LikeMatch("a[", "a["));
    EXPECT_TRUE(LikeMatch("aaa", "%%a"));
}

} // namespace
} // namespace asetest::testing
