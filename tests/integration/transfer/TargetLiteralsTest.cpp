// Values written the way the row statements write them and read back from the servers:
// single-precision values (the extremes included) into a MySQL FLOAT and a Sybase ASE real,
// and long texts with line continuations into a Sybase ASE text column.

#include "ConnectionChecks.h"
#include "TestServers.h"
#include "connect/Connection.h"
#include "connect/access/DatabaseError.h"
#include "transfer/statements/RowStatements.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <string>
#include <vector>

namespace veltrane::testing {
namespace {

std::vector<float> Floats() {
    constexpr float kMax = std::numeric_limits<float>::max();
    return {kMax,
            -kMax,
            std::nextafter(kMax, 0.0f),
            std::numeric_limits<float>::min(),
            -std::numeric_limits<float>::denorm_min(),
            0.1f,
            1.0f / 3.0f,
            16777216.0f};
}

TEST(SingleText, EveryFloatArrivesInAMySqlFloatColumn) {
    VELTRANE_REQUIRE_MYSQL(at);
    Connection c;
    c.Open(MySQLConnectionStringFor(at));
    c.Execute("DROP TABLE IF EXISTS vt_single_text");
    c.Execute("CREATE TABLE vt_single_text (id INT PRIMARY KEY, v FLOAT)");
    const std::vector<float> floats = Floats();
    for (std::size_t i = 0; i < floats.size(); ++i) {
        const DbValue row[] = {DbValue::Int(static_cast<std::int64_t>(i)),
                               DbValue::Single(floats[i])};
        EXPECT_NO_THROW(c.Execute(InsertRowStatement(ServerKind::MySQL, "vt_single_text", row)))
            << row[1].ToText();
    }
    auto rows = c.Execute("SELECT id, CAST(v AS DOUBLE) FROM vt_single_text ORDER BY id");
    ASSERT_NE(rows, nullptr);
    int count = 0;
    for (; !rows->IsEOF(); rows->MoveNext(), ++count) {
        const float want = floats[static_cast<std::size_t>(rows->Value(0).AsInt())];
        EXPECT_EQ(rows->Value(1).AsDouble(), static_cast<double>(want)) << want;
    }
    EXPECT_EQ(count, static_cast<int>(floats.size()));
    c.Execute("DROP TABLE vt_single_text");
}

// Sybase ASE converts no quoted text to a number implicitly, so the text goes in as a literal.
TEST(SingleText, EveryFloatArrivesInASybaseRealColumn) {
    VELTRANE_REQUIRE_SYBASE(at);
    Connection c;
    c.Open(SybaseConnectionStringFor(at));
    c.Execute("if object_id('vt_single_text') is not null drop table vt_single_text");
    c.Execute("create table vt_single_text (id int, v real)");
    const std::vector<float> floats = Floats();
    for (std::size_t i = 0; i < floats.size(); ++i) {
        const std::string text = DbValue::Single(floats[i]).ToText();
        EXPECT_NO_THROW(
            c.Execute("insert vt_single_text values (" + std::to_string(i) + ", " + text + ")"))
            << text;
    }
    auto rows = c.Execute("select id, v from vt_single_text order by id");
    ASSERT_NE(rows, nullptr);
    int count = 0;
    for (; !rows->IsEOF(); rows->MoveNext(), ++count) {
        const float want = floats[static_cast<std::size_t>(rows->Value(0).AsInt())];
        EXPECT_EQ(rows->Value(1).AsSingle(), want);
    }
    EXPECT_EQ(count, static_cast<int>(floats.size()));
    c.Execute("drop table vt_single_text");
}

// Toward Sybase ASE a backslash before a line break splits the literal into pieces joined with
// +, whose result ASE cuts at 16384 bytes: up to that the value arrives whole; beyond it the
// statement is refused before it is sent; without such a break any length arrives whole.
TEST(SybaseLiterals, LongTextsArriveWholeOrAreRefused) {
    VELTRANE_REQUIRE_SYBASE(at);
    Connection c;
    c.Open(SybaseConnectionStringFor(at));
    c.Execute("if object_id('vt_long_text') is not null drop table vt_long_text");
    c.Execute("create table vt_long_text (id varchar(10), tx text null)");
    const auto withBreak = [](std::size_t bytes) {
        std::string text = "it's \\\n \\\r\n";
        text.resize(bytes, 'x');
        return text;
    };
    const struct {
        std::string value;
        bool refused;
    } cases[] = {
        {withBreak(16384), false},
        {withBreak(16385), true},
        {std::string(100000, 'y') + "\\", false},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        const std::string id = std::to_string(i);
        const DbValue row[] = {DbValue::Text(id), DbValue::Text(cases[i].value)};
        std::string statement;
        try {
            statement = InsertRowStatement(ServerKind::SybaseASE, "vt_long_text", row);
        } catch (const DatabaseError& e) {
            EXPECT_TRUE(cases[i].refused) << e.what();
            continue;
        }
        EXPECT_FALSE(cases[i].refused);
        c.Execute(statement);
        const DbValue got = Scalar(c, "select tx from vt_long_text where id = '" + id + "'");
        EXPECT_EQ(got.ToText().size(), cases[i].value.size());
        EXPECT_TRUE(got == DbValue::Text(cases[i].value));
    }
    c.Execute("drop table vt_long_text");
}

} // namespace
} // namespace veltrane::testing
