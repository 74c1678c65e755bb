// Owners, views, system tables, sp_tables and the row statements over them.
#include "EngineTestSupport.h"

namespace asetest::testing {
namespace {

using CatalogTest = EngineTest;

std::vector<std::string> Column(const StatementOutcome& o, std::size_t c) {
    std::vector<std::string> out;
    for (const auto& row : o.rows) {
        out.push_back(row.at(c).isNull ? "NULL" : row.at(c).bytes);
    }
    return out;
}

TEST_F(CatalogTest, OwnersKeepTablesOfTheSameNameApart) {
    Ok("create table bob.orders (id int) create table dbo.orders (id int, x int)");
    Ok("insert bob.orders values (1) insert orders values (2, 3)");
    EXPECT_EQ(Query("select * from bob.orders").columns.size(), 1u);
    EXPECT_EQ(Query("select * from orders").columns.size(), 2u); // unqualified is dbo
    EXPECT_EQ(Query("select * from master.bob.orders").rows.at(0).at(0).integer, 1);
    EXPECT_EQ(Query("select * from master..orders").rows.at(0).at(0).integer, 2);
    EXPECT_EQ(Error("create table bob.orders (a int)").text,
              "There is already an object named 'orders' in the database.");
    EXPECT_EQ(Error("select * from carol.orders").number, 208);
    Ok("drop table bob.orders");
    EXPECT_EQ(Query("select * from orders").rows.size(), 1u);
    EXPECT_FALSE(Scalar("select object_id('dbo.orders')").isNull);
    EXPECT_TRUE(Scalar("select object_id('bob.orders')").isNull);
    Ok("create table [odd]]name ] (a int)");
    EXPECT_FALSE(Scalar("select object_id('odd]name')").isNull);
    EXPECT_FALSE(Scalar("select object_id('master.dbo.odd]name')").isNull);
    EXPECT_TRUE(Scalar("select object_id('nodb..orders')").isNull);
    EXPECT_TRUE(Scalar("select object_id('a.b.c.d')").isNull);
}

// sa owns every database and works in each as dbo; alice and bob work as the users of their
// own names.
TEST_F(CatalogTest, BareNamesMeanTheUsersOwnObjectThenDbos) {
    auto alice = NewSession(18, "alice");
    auto bob = NewSession(19, "bob");
    EngineSession* sa = session_.get();
    Ok("create table t (who varchar(10)) insert t values ('dbo') "
       "create table shared (who varchar(10)) insert shared values ('dbo') create database other");
    Ok(*alice, "create table t (who varchar(10)) insert t values ('alice') "
               "create view v as select who from t create table other..x (a int)");
    Ok(*bob, "create view v as select who from t");
    auto first = [&](EngineSession& s, const std::string& sql) {
        const auto out = Run(s, sql);
        const bool answered = !out.empty() && !out.back().failed && !out.back().rows.empty();
        EXPECT_TRUE(answered) << sql << "\n" << Describe(out);
        return answered ? out.back().rows[0].at(0).bytes : std::string("<none>");
    };
    struct Case {
        EngineSession* session;
        const char* sql;
        const char* expected;
    };
    const Case cases[] = {
        {sa, "select user_name()", "dbo"},
        {alice.get(), "select user_name()", "alice"},
        {bob.get(), "select user_name()", "bob"},
        {alice.get(), "select suser_name()", "alice"},
        {sa, "select who from t", "dbo"},
        {alice.get(), "select who from t", "alice"},
        {bob.get(), "select who from t", "dbo"},
        {alice.get(), "select who from master..t", "alice"},
        {alice.get(), "select who from dbo.t", "dbo"},
        {alice.get(), "select who from master.[dbo].[t]", "dbo"},
        {sa, "select who from alice.t", "alice"},
        {alice.get(), "select who from shared", "dbo"},
        {sa, "select who from alice.v", "alice"}, // a view reads its names as its owner does
        {alice.get(), "select who from bob.v", "dbo"},
        {alice.get(), "select user_name(uid) from sysobjects where id = object_id('t')", "alice"},
        {bob.get(), "select user_name(uid) from sysobjects where id = object_id('t')", "dbo"},
        {alice.get(), "select user_name(uid) from sysobjects where id = object_id('dbo.t')", "dbo"},
        {alice.get(), "select user_name(uid) from sysobjects where id = object_id('master..v')",
         "alice"},
        {sa, "select user_name(uid) from other..sysobjects where name = 'x'", "alice"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(first(*c.session, c.sql), c.expected) << c.sql;
    }
    EXPECT_EQ(Column(Run("sp_tables 't'").at(0), 1), (std::vector<std::string>{"alice", "dbo"}));

    // Writes and drops take the object a select would; a create checks its own owner only.
    Ok(*alice, "insert t values ('a2') update t set who = 'a3' where who = 'a2' "
               "delete t where who = 'alice'");
    Ok(*bob, "insert t values ('bob')");
    EXPECT_EQ(Column(Query("select who from alice.t"), 0), std::vector<std::string>{"a3"});
    EXPECT_EQ(Column(Query("select who from t order by who"), 0),
              (std::vector<std::string>{"bob", "dbo"}));
    Ok(*alice, "truncate table t");
    EXPECT_EQ(Scalar("select count(*) from alice.t").integer, 0);
    EXPECT_EQ(Scalar("select count(*) from dbo.t").integer, 2);
    const auto again = Run(*alice, "create table t (a int)");
    EXPECT_EQ(again.at(0).messages.at(0).number, 2714) << Describe(again);
    EXPECT_EQ(Error("drop view v").number, 3701); // dbo has no v
    Ok(*alice, "drop view v drop table t");
    EXPECT_EQ(first(*alice, "select who from t"), "dbo");
    EXPECT_EQ(first(*bob, "select who from v"), "dbo");
}

TEST_F(CatalogTest, ViewsSelectThroughTheirDefinition) {
    Ok("create table t (a int, b varchar(10) null)");
    Ok("insert t values (1, 'one') insert t values (2, null) insert t values (3, 'three')");
    Ok("create view v as select a, b as label from t where a > 1");
    StatementOutcome o = Query("select * from v order by a desc");
    ASSERT_EQ(o.rows.size(), 2u);
    EXPECT_EQ(o.columns.at(1).name, "label");
    EXPECT_TRUE(o.columns.at(1).type.nullable);
    EXPECT_EQ(o.rows[0][0].integer, 3);
    EXPECT_EQ(Query("select label from v where label is not null").rows.size(), 1u);
    EXPECT_EQ(Error("create view v as select a from t").number, 2714);
    EXPECT_EQ(Error("create view w as select * from missing").number, 208);
    EXPECT_EQ(Error("drop table v").number, 3701);
    Message m = Error("drop view nosuch");
    EXPECT_EQ(m.text, "Cannot drop the view 'nosuch', because it doesn't exist in the system "
                      "catalogs.");
    Ok("drop view v");
    EXPECT_EQ(Error("select * from v").number, 208);
}

TEST_F(CatalogTest, SysobjectsListsTablesViewsAndSystemTables) {
    Ok("create table t (a int) create view v as select a from t create table bob.t (a int)");
    StatementOutcome o = Query("select name, type, uid from sysobjects where type = 'U' order by "
                               "uid");
    ASSERT_EQ(o.rows.size(), 2u);
    EXPECT_EQ(o.rows[0][0].bytes, "t");
    EXPECT_EQ(o.rows[0][2].integer, 1);
    EXPECT_NE(o.rows[1][2].integer, 1);
    EXPECT_EQ(Query("select name from sysobjects where type = 'V'").rows.size(), 1u);
    o = Query("select name from sysobjects where type = 'S' order by name");
    EXPECT_EQ(Column(o, 0), (std::vector<std::string>{"syscolumns", "sysindexes", "sysobjects",
                                                      "systypes", "sysusers"}));
    EXPECT_EQ(Scalar("select id from sysobjects where name = 'v'").integer,
              Scalar("select object_id('v')").integer);
    o = Query("select c.name, c.type, c.length from syscolumns c where c.id = object_id('t')");
    EXPECT_EQ(Column(o, 0), std::vector<std::string>{"a"});
    EXPECT_EQ(o.rows.at(0).at(1).integer, 56); // int
    EXPECT_EQ(o.rows.at(0).at(2).integer, 4);
    EXPECT_EQ(Query("select name from sysusers where name = 'bob'").rows.size(), 1u);
    EXPECT_EQ(Error("create table sysobjects (a int)").number, 2714);
}

TEST_F(CatalogTest, SpTablesAsLanguageAndRpc) {
    Ok("create database cat use cat");
    Ok("create table zeta (a int) create table bob.alpha (a int) create view beta as select a "
       "from zeta");
    auto out = Run("sp_tables");
    ASSERT_EQ(out.size(), 1u);
    StatementOutcome o = out[0];
    EXPECT_TRUE(o.isProcedure);
    EXPECT_EQ(o.returnStatus, 0);
    ASSERT_EQ(o.columns.size(), 5u);
    EXPECT_EQ(o.columns[0].name, "table_qualifier");
    EXPECT_EQ(o.columns[1].name, "table_owner");
    EXPECT_EQ(o.columns[2].name, "table_name");
    EXPECT_EQ(o.columns[3].name, "table_type");
    EXPECT_EQ(o.columns[4].name, "remarks");
    EXPECT_TRUE(o.columns[4].type.nullable);
    EXPECT_EQ(Column(o, 3),
              (std::vector<std::string>{"SYSTEM TABLE", "SYSTEM TABLE", "SYSTEM TABLE",
                                        "SYSTEM TABLE", "SYSTEM TABLE", "TABLE", "TABLE", "VIEW"}));
    EXPECT_EQ(Column(o, 2)[5], "alpha"); // owner bob sorts before dbo
    EXPECT_EQ(Column(o, 2)[6], "zeta");
    EXPECT_EQ(Column(o, 0)[0], "cat");
    EXPECT_EQ(o.rowCount, 8);

    o = Run("exec sp_tables 'z%'").at(0);
    EXPECT_EQ(Column(o, 2), std::vector<std::string>{"zeta"});
    o = Run("execute sp_tables @table_type = \"'VIEW'\"").at(0);
    EXPECT_EQ(Column(o, 2), std::vector<std::string>{"beta"});
    o = Run("sp_tables null, 'bob'").at(0);
    EXPECT_EQ(Column(o, 2), std::vector<std::string>{"alpha"});
    o = Run("sp_tables '%', '%', 'cat', \"'TABLE','VIEW'\"").at(0);
    EXPECT_EQ(Column(o, 2), (std::vector<std::string>{"alpha", "zeta", "beta"}));
    o = Run("sp_tables '%', '%', 'othercat'").at(0);
    EXPECT_TRUE(o.rows.empty());

    out = session_->CallProcedure("sp_tables", {"z_ta", "dbo"}, cancelled_);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_TRUE(out[0].isProcedure);
    EXPECT_EQ(Column(out[0], 2), std::vector<std::string>{"zeta"});
    out = session_->CallProcedure("sp_tables", {"", "bob"}, cancelled_); // NULL, then owner
    EXPECT_EQ(Column(out.at(0), 2), std::vector<std::string>{"alpha"});
    out = session_->CallProcedureNamed(
        "sp_tables", {{"@table_type", "'VIEW'", false}, {"@table_owner", "", true}}, cancelled_);
    EXPECT_EQ(Column(out.at(0), 2), std::vector<std::string>{"beta"});
    out = session_->CallProcedureNamed("dbo.sp_tables", {{"", "alpha", false}}, cancelled_);
    EXPECT_EQ(Column(out.at(0), 2), std::vector<std::string>{"alpha"});
    out = session_->CallProcedureNamed("sp_tables", {{"@nope", "x", false}}, cancelled_);
    EXPECT_TRUE(out.at(0).failed);
    EXPECT_EQ(out.at(0).messages.at(0).number, 8145);
    EXPECT_EQ(Error("exec SP_TABLES").number, 2812); // procedure names are case-sensitive
    out = session_->CallProcedure("sp_missing", {}, cancelled_);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_TRUE(out[0].failed);
    EXPECT_EQ(out[0].messages.at(0).number, 2812);
    // A procedure name without exec only starts a batch.
    Message m = Error("create table q (a int) sp_tables");
    EXPECT_EQ(m.number, 102);
    EXPECT_EQ(m.text, "Incorrect syntax near 'sp_tables'.");
}

TEST_F(CatalogTest, SelectFeatures) {
    Ok("create table t (id int, name varchar(10), grp char(1))");
    Ok("insert t values (3, 'cherry', 'b') insert t values (1, 'apple', 'a') "
       "insert t values (2, 'banana', 'a') insert t values (4, 'date', 'b')");
    StatementOutcome o = Query("select top 2 name from t order by id");
    EXPECT_EQ(Column(o, 0), (std::vector<std::string>{"apple", "banana"}));
    o = Query("select distinct grp from t order by grp");
    EXPECT_EQ(Column(o, 0), (std::vector<std::string>{"a", "b"}));
    o = Query("select n = name, id as k, id * 10 tens from t where name like '%an%' order by 2");
    EXPECT_EQ(o.columns.at(0).name, "n");
    EXPECT_EQ(o.columns.at(1).name, "k");
    EXPECT_EQ(o.columns.at(2).name, "tens");
    EXPECT_EQ(Column(o, 0), std::vector<std::string>{"banana"});
    EXPECT_EQ(o.rows.at(0).at(2).integer, 20);
    o = Query("select name from t where (id = 1 or id = 4) and not grp = 'a' order by name desc");
    EXPECT_EQ(Column(o, 0), std::vector<std::string>{"date"});
    o = Query("select name from t where id between 2 and 3 order by id");
    EXPECT_EQ(Column(o, 0), (std::vector<std::string>{"banana", "cherry"}));
    o = Query("select name from t where id in (4, 1) order by t.id");
    EXPECT_EQ(Column(o, 0), (std::vector<std::string>{"apple", "date"}));
    o = Query("select x.name from t x where x.name like '_a%' order by x.name");
    EXPECT_EQ(Column(o, 0), (std::vector<std::string>{"banana", "date"}));
    o = Query("select name from t where name like '[ab]%' order by name");
    EXPECT_EQ(Column(o, 0), (std::vector<std::string>{"apple", "banana"}));
    EXPECT_EQ(Scalar("select count(*) from t where grp = 'b'").integer, 2);
    Ok("set rowcount 3");
    EXPECT_EQ(Query("select * from t").rows.size(), 3u);
    Ok("set rowcount 0");
    EXPECT_EQ(Query("select * from t").rows.size(), 4u);
    EXPECT_EQ(Error("select y.name from t x").number, 107);
    EXPECT_EQ(Error("select * from t order by 9").number, 108);
    EXPECT_EQ(Error("select *").number, 263);
}

TEST_F(CatalogTest, UpdateDeleteTruncateAndInsertSelect) {
    Ok("create table t (id int, v varchar(10) null)");
    Ok("insert t values (1, 'a') insert t values (2, 'b') insert t values (3, null)");
    auto out = Run("update t set v = v + '!' where v is not null");
    EXPECT_EQ(out.at(0).rowCount, 2);
    EXPECT_EQ(Scalar("select v from t where id = 2").bytes, "b!");
    out = Run("update t set id = id + 10, v = 'x' where id = 999");
    EXPECT_EQ(out.at(0).rowCount, 0);
    // A failing row leaves every row unchanged.
    Ok("create table n (id int, k int)");
    Ok("insert n values (1, 1) insert n values (2, 0)");
    EXPECT_EQ(Error("update n set k = 10 / k").number, 3607);
    EXPECT_EQ(Scalar("select k from n where id = 1").integer, 1);

    Ok("create table copy (id int, v varchar(10) null)");
    out = Run("insert into copy select id, v from t where id < 3");
    EXPECT_EQ(out.at(0).rowCount, 2);
    out = Run("insert copy (id) select id + 100 from t");
    EXPECT_EQ(out.at(0).rowCount, 3);
    EXPECT_EQ(Error("insert copy select id from t").number, 213);
    EXPECT_EQ(Scalar("select count(*) from copy").integer, 5);

    out = Run("delete from copy where id > 100");
    EXPECT_EQ(out.at(0).rowCount, 3);
    out = Run("delete copy");
    EXPECT_EQ(out.at(0).rowCount, 2);
    Ok("truncate table t");
    EXPECT_EQ(Scalar("select count(*) from t").integer, 0);
    EXPECT_EQ(Error("truncate table nothing").number, 208);
}

} // namespace
} // namespace asetest::testing
