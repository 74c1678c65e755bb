// INSERT statements: statement shape, how each kind of value is written in each direction, and
// hostile values that must reach the server intact.

#include "transfer/statements/RowStatements.h"

#include "connect/access/DatabaseError.h"

#include <gtest/gtest.h>
#include <random>
#include <vector>

namespace veltrane {
namespace {

constexpr auto ToSybase = ServerKind::SybaseASE;
constexpr auto ToMySQL = ServerKind::MySQL;

std::string Insert(ServerKind toward, std::string_view table, std::vector<DbValue> row) {
    return InsertRowStatement(toward, table, row);
}

// The worked examples: Null is NULL and an empty text '' in both directions; a boolean toward
// Sybase ASE is the quoted '1' its text column accepts (a bare 1 is refused with message 257).
TEST(InsertRowStatement, PeopleTowardSybaseWritesNullAsNullNotEmptyText) {
    EXPECT_EQ(Insert(ToSybase, "people",
                     {DbValue::Int(5), DbValue::Text("O'Brien"), DbValue::Null(),
                      DbValue::Boolean(true)}),
              "INSERT INTO [people] VALUES('5', 'O''Brien', NULL, '1')");
}

TEST(InsertRowStatement, PeopleTowardMySQLKeepsEmptyTextApartFromNull) {
    EXPECT_EQ(
        Insert(ToMySQL, "people",
               {DbValue::Int(5), DbValue::Text("O'Brien"), DbValue::Null(), DbValue::Text("")}),
        "INSERT INTO `people` VALUES('5', 'O''Brien', NULL, '')");
}

TEST(InsertRowStatement, NullThenNumberTowardMySQL) {
    EXPECT_EQ(Insert(ToMySQL, "t", {DbValue::Null(), DbValue::Int(7)}),
              "INSERT INTO `t` VALUES(NULL, '7')");
}

TEST(InsertRowStatement, OneNullFieldIsNullInBothDirections) {
    EXPECT_EQ(Insert(ToMySQL, "t", {DbValue::Null()}), "INSERT INTO `t` VALUES(NULL)");
    EXPECT_EQ(Insert(ToSybase, "t", {DbValue::Null()}), "INSERT INTO [t] VALUES(NULL)");
    EXPECT_EQ(Insert(ToSybase, "t", {DbValue::Text("")}), "INSERT INTO [t] VALUES('')");
}

// Toward Sybase ASE every column is text, and ASE refuses a bare number there (message 257),
// so booleans are quoted digits; toward MySQL they stay bare digits for the BIT column.
TEST(InsertRowStatement, BooleansAreDigitsQuotedOnlyTowardSybase) {
    EXPECT_EQ(Insert(ToMySQL, "b", {DbValue::Boolean(true), DbValue::Boolean(false)}),
              "INSERT INTO `b` VALUES(1, 0)");
    EXPECT_EQ(Insert(ToSybase, "b", {DbValue::Boolean(true), DbValue::Boolean(false)}),
              "INSERT INTO [b] VALUES('1', '0')");
}

// The words True and False are data like any other text: never turned into numbers.
TEST(InsertRowStatement, TextTrueAndFalseStayQuotedTextInBothDirections) {
    for (auto toward : {ToSybase, ToMySQL}) {
        const std::string open = toward == ToSybase ? "INSERT INTO [w] " : "INSERT INTO `w` ";
        EXPECT_EQ(Insert(toward, "w",
                         {DbValue::Text("True"), DbValue::Text("False"), DbValue::Text("true"),
                          DbValue::Text("He said 'True'"), DbValue::Text("'False'")}),
                  open + "VALUES('True', 'False', 'true', 'He said ''True''', '''False''')");
    }
}

TEST(InsertRowStatement, BinaryIsAHexLiteralTowardMySQLAndHexTextTowardSybase) {
    const DbValue bytes = DbValue::Binary(std::string("\x00\xff'\x10", 4));
    EXPECT_EQ(Insert(ToMySQL, "b", {bytes, DbValue::Binary("")}),
              "INSERT INTO `b` VALUES(X'00ff2710', X'')");
    EXPECT_EQ(Insert(ToSybase, "b", {bytes, DbValue::Binary("")}),
              "INSERT INTO [b] VALUES('0x00ff2710', '0x')");
}

// A backslash right before a line break would be a line continuation to Sybase ASE, which
// drops both: there the literal ends after the backslash and goes on in the next one.
TEST(InsertRowStatement, BackslashBeforeLineBreakSplitsTheLiteralOnlyTowardSybase) {
    const std::vector<DbValue> row = {DbValue::Text("a\\\nb\\\r\nc\\d\\"),
                                      DbValue::Text("it's \\\n")};
    EXPECT_EQ(Insert(ToSybase, "t", row),
              "INSERT INTO [t] VALUES('a\\' + '\nb\\' + '\r\nc\\d\\', 'it''s \\' + '\n')");
    EXPECT_EQ(Insert(ToMySQL, "t", row),
              "INSERT INTO `t` VALUES('a\\\nb\\\r\nc\\d\\', 'it''s \\\n')");
    // Line breaks and backslashes apart from each other are left as they are.
    EXPECT_EQ(Insert(ToSybase, "t", {DbValue::Text("x\n\\ y\r")}),
              "INSERT INTO [t] VALUES('x\n\\ y\r')");
}

// One value of every kind, as each direction writes it.
TEST(InsertRowStatement, EveryKindOfValueInBothDirections) {
    struct {
        DbValue value;
        const char* toSybase;
        const char* toMySQL;
    } const cases[] = {
        {DbValue::Null(), "NULL", "NULL"},
        {DbValue::Boolean(true), "'1'", "1"},
        {DbValue::Boolean(false), "'0'", "0"},
        {DbValue::Int(-9223372036854775807LL - 1), "'-9223372036854775808'",
         "'-9223372036854775808'"},
        {DbValue::UInt(18446744073709551615ULL), "'18446744073709551615'",
         "'18446744073709551615'"},
        {DbValue::Single(0.1f), "'0.1'", "'0.1'"},
        {DbValue::Double(16777217.5), "'16777217.5'", "'16777217.5'"},
        {DbValue::Decimal("-12345678901234567890.1234"), "'-12345678901234567890.1234'",
         "'-12345678901234567890.1234'"},
        {DbValue::Text("x"), "'x'", "'x'"},
        {DbValue::Binary("\x01"), "'0x01'", "X'01'"},
        {DbValue::Date({2024, 2, 29}), "'2024-02-29'", "'2024-02-29'"},
        {DbValue::Time({true, 838, 59, 59, "5"}), "'-838:59:59.5'", "'-838:59:59.5'"},
        {DbValue::DateTime({{1999, 12, 31}, {false, 23, 59, 59, "123456"}}),
         "'1999-12-31 23:59:59.123456'", "'1999-12-31 23:59:59.123456'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value.ToText());
        EXPECT_EQ(Insert(ToSybase, "t", {c.value}),
                  std::string("INSERT INTO [t] VALUES(") + c.toSybase + ")");
        EXPECT_EQ(Insert(ToMySQL, "t", {c.value}),
                  std::string("INSERT INTO `t` VALUES(") + c.toMySQL + ")");
        std::string out = "keep:";
        AppendValueLiteral(out, ToMySQL, c.value);
        EXPECT_EQ(out, std::string("keep:") + c.toMySQL);
    }
}

TEST(InsertRowStatement, TableNamesAreQuotedForTheTarget) {
    EXPECT_EQ(Insert(ToMySQL, "a`b] c", {DbValue::Int(1)}), "INSERT INTO `a``b] c` VALUES('1')");
    EXPECT_EQ(Insert(ToSybase, "a`b] c", {DbValue::Int(1)}), "INSERT INTO [a`b]] c] VALUES('1')");
    EXPECT_EQ(Insert(ToSybase, "Ünï 名", {DbValue::Int(1)}), "INSERT INTO [Ünï 名] VALUES('1')");
}

// Splits a VALUES list the way a server's lexer does: quoted literals ('' is one quote),
// X'..' literals and bare words, separated by ", ". Toward Sybase ASE (`sybase`) a literal may
// go on in the next after ' + ', and a backslash before a line break, which ASE would drop as a
// line continuation, fails the test. Fails the test on anything else.
std::vector<std::string> ReadValues(const std::string& sql, const std::string& prefix,
                                    bool sybase) {
    std::vector<std::string> items;
    if (sql.compare(0, prefix.size(), prefix) != 0) {
        ADD_FAILURE() << "statement does not start with " << prefix;
        return items;
    }
    std::size_t i = prefix.size();
    while (i < sql.size() && sql[i] != ')') {
        std::string item;
        if (sql[i] == '\'') {
            item = "'";
            for (++i;; ++i) {
                if (i >= sql.size()) {
                    ADD_FAILURE() << "unterminated literal";
                    return items;
                }
                if (sql[i] == '\'') {
                    if (i + 1 < sql.size() && sql[i + 1] == '\'') {
                        item.push_back('\'');
                        ++i;
                        continue;
                    }
                    if (sybase && sql.compare(i + 1, 4, " + '") == 0) {
                        i += 4; // the literal goes on after the next quote
                        continue;
                    }
                    ++i;
                    break;
                }
                if (sybase && sql[i] == '\\' && i + 1 < sql.size() &&
                    (sql[i + 1] == '\n' || sql[i + 1] == '\r')) {
                    ADD_FAILURE() << "a backslash before a line break at " << i;
                }
                item.push_back(sql[i]);
            }
        } else {
            while (i < sql.size() && sql[i] != ',' && sql[i] != ')') {
                item.push_back(sql[i++]);
            }
        }
        items.push_back(item);
        if (sql.compare(i, 2, ", ") == 0) {
            i += 2;
        } else if (i >= sql.size() || sql[i] != ')') {
            ADD_FAILURE() << "unexpected text at " << i;
            return items;
        }
    }
    EXPECT_EQ(i + 1, sql.size()) << "text after the closing parenthesis";
    return items;
}

TEST(InsertRowStatement, RandomHostileTextsComeOutAsExactlyTheirOwnLiterals) {
    std::mt19937 random(4242);
    const std::string pieces[] = {"'",
                                  "''",
                                  "\\",
                                  "\\'",
                                  "True",
                                  "'True'",
                                  ")",
                                  ", '",
                                  "NULL",
                                  "\n",
                                  "\r",
                                  "`",
                                  "]",
                                  "[",
                                  "--",
                                  "/*",
                                  ";",
                                  "\xF0\x9F\x98\x80",
                                  std::string(1, '\0'),
                                  "x"};
    for (int round = 0; round < 500; ++round) {
        std::vector<DbValue> row;
        const int fields = 1 + static_cast<int>(random() % 6);
        for (int f = 0; f < fields; ++f) {
            std::string text;
            for (unsigned n = random() % 8; n > 0; --n) {
                text += pieces[random() % std::size(pieces)];
            }
            row.push_back(DbValue::Text(text));
        }
        for (auto toward : {ToSybase, ToMySQL}) {
            const std::string sql = InsertRowStatement(toward, "t", row);
            const auto items = ReadValues(
                sql, toward == ToSybase ? "INSERT INTO [t] VALUES(" : "INSERT INTO `t` VALUES(",
                toward == ToSybase);
            ASSERT_EQ(items.size(), row.size()) << sql;
            for (std::size_t f = 0; f < row.size(); ++f) {
                ASSERT_EQ(items[f], "'" + row[f].AsText()) << sql;
            }
        }
    }
}

// ASE cuts a joined literal, like any expression, at 16384 bytes without an error: a value
// is split only while it stays within that; a longer one that needs the split is refused,
// and a longer one without it goes out as one literal.
TEST(InsertRowStatement, SplitLiteralsTowardSybaseStayWithin16384Bytes) {
    const auto withBreak = [](std::size_t bytes) {
        std::string text = "it's \\\n";
        text.resize(bytes, 'x');
        return text;
    };
    const struct {
        std::string value;
        bool refused;
        bool split;
    } cases[] = {
        {withBreak(16384), false, true},
        {withBreak(16385), true, false},
        {withBreak(100000), true, false},
        {std::string(100000, '\\') + "x\n", false, false},
        {std::string(100000, 'y') + "\\", false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value.size());
        const std::vector<DbValue> row = {DbValue::Int(1), DbValue::Text(c.value)};
        if (c.refused) {
            try {
                InsertRowStatement(ToSybase, "t", row);
                ADD_FAILURE() << "no error";
            } catch (const DatabaseError& e) {
                EXPECT_NE(std::string(e.what()).find("16384"), std::string::npos) << e.what();
            }
            // The other direction needs no split and takes any length.
            EXPECT_NO_THROW(InsertRowStatement(ToMySQL, "t", row));
            continue;
        }
        const std::string sql = InsertRowStatement(ToSybase, "t", row);
        EXPECT_EQ(sql.find("' + '") != std::string::npos, c.split);
        const auto items = ReadValues(sql, "INSERT INTO [t] VALUES(", true);
        ASSERT_EQ(items.size(), 2u);
        EXPECT_TRUE(items[1] == "'" + c.value);
    }
}

TEST(InsertRowStatement, HostileValuesAreWrittenUnchangedApartFromDoubledQuotes) {
    const std::string nul("a\0b\0", 4);
    const std::vector<DbValue> row = {
        DbValue::Text("trailing backslash\\"), DbValue::Text("\\"),     DbValue::Text(nul),
        DbValue::Text("two\r\nlines\n"),       DbValue::Text("😀 𝄞 名"),
    };
    const std::string values =
        "'trailing backslash\\', '\\', '" + nul + "', 'two\r\nlines\n', '😀 𝄞 名')";
    EXPECT_EQ(InsertRowStatement(ToMySQL, "h", row), "INSERT INTO `h` VALUES(" + values);
    EXPECT_EQ(InsertRowStatement(ToSybase, "h", row), "INSERT INTO [h] VALUES(" + values);
}

TEST(InsertRowStatement, SeveralMegabytesOfTextAreWrittenWhole) {
    std::string big;
    while (big.size() < 5 * 1024 * 1024) {
        big += "it's \\ 😀\n";
    }
    std::string expected = "INSERT INTO `big` VALUES(1, '";
    std::size_t quotes = 0;
    for (char c : big) {
        expected += c;
        if (c == '\'') {
            expected += '\'';
            ++quotes;
        }
    }
    expected += "')";
    const std::string sql =
        InsertRowStatement(ToMySQL, "big", std::vector{DbValue::Boolean(true), DbValue::Text(big)});
    EXPECT_EQ(sql.size(), big.size() + quotes + 31);
    EXPECT_TRUE(sql == expected);
}

// A result set over fixed rows, for the builder's ResultSet form.
class RowsOf : public ResultSet {
public:
    explicit RowsOf(std::vector<std::vector<DbValue>> rows)
        : rows_(std::move(rows)) {}
    int FieldCount() const override { return static_cast<int>(rows_.front().size()); }
    const FieldInfo& Field(int) const override { return field_; }
    const DbValue& Value(int index) const override {
        if (IsEOF()) {
            throw DatabaseError("at end");
        }
        return rows_[row_].at(static_cast<std::size_t>(index));
    }
    std::int64_t RecordCount() const override { return static_cast<std::int64_t>(rows_.size()); }
    bool IsEOF() const override { return row_ >= rows_.size(); }
    void MoveNext() override { ++row_; }
    void Close() override {}

private:
    std::vector<std::vector<DbValue>> rows_;
    std::size_t row_ = 0;
    FieldInfo field_;
};

TEST(InsertRowBuilder, ReusesItsBufferWithoutLeavingTextOfEarlierRows) {
    RowsOf rows({{DbValue::Text(std::string(300, 'a')), DbValue::Int(1)},
                 {DbValue::Null(), DbValue::Text("b")},
                 {DbValue::Text("it's"), DbValue::Boolean(false)}});
    InsertRowBuilder builder(ToMySQL, "r");
    const std::string& first = builder.Build(rows);
    EXPECT_EQ(first, "INSERT INTO `r` VALUES('" + std::string(300, 'a') + "', '1')");
    const char* buffer = first.data();
    rows.MoveNext();
    EXPECT_EQ(builder.Build(rows), "INSERT INTO `r` VALUES(NULL, 'b')");
    rows.MoveNext();
    EXPECT_EQ(builder.Build(rows), "INSERT INTO `r` VALUES('it''s', 0)");
    // Shorter rows fit in the buffer of the first one: no new allocation.
    EXPECT_EQ(builder.Build(rows).data(), buffer);
    rows.MoveNext();
    EXPECT_THROW(builder.Build(rows), DatabaseError);
}

TEST(InsertRowBuilder, ResultSetRowsGiveTheSameStatementAsValueRows) {
    const std::vector<DbValue> values = {DbValue::Int(3), DbValue::Null(), DbValue::Binary("\x7f")};
    for (auto toward : {ToSybase, ToMySQL}) {
        InsertRowBuilder builder(toward, "p");
        const RowsOf rows({values});
        const std::string fromRows = builder.Build(rows);
        EXPECT_EQ(fromRows, InsertRowStatement(toward, "p", values));
    }
    EXPECT_EQ(InsertRowStatement(ToSybase, "p", values),
              "INSERT INTO [p] VALUES('3', NULL, '0x7f')");
}

} // namespace
} // namespace veltrane
