// Identifier and literal quoting: nothing inside a name or value can end its quotes early.

#include "connect/access/SqlText.h"

#include <gtest/gtest.h>
#include <random>

namespace veltrane {
namespace {

struct NameCase {
    std::string name;
    std::string mysql;
    std::string sybase;
};

TEST(IdentifierQuoting, ClosingDelimitersAreDoubledAndEverythingElseKept) {
    const NameCase cases[] = {
        {"orders", "`orders`", "[orders]"},
        {"unit price", "`unit price`", "[unit price]"},
        {"", "``", "[]"},
        {"a`b", "`a``b`", "[a`b]"},
        {"``", "``````", "[``]"},
        {"a]b", "`a]b`", "[a]]b]"},
        {"]", "`]`", "[]]]"},
        {"[x]", "`[x]`", "[[x]]]"},
        {"it's \"q\"", "`it's \"q\"`", "[it's \"q\"]"},
        {"back\\slash\\", "`back\\slash\\`", "[back\\slash\\]"},
        {"Größe 名前 😀", "`Größe 名前 😀`", "[Größe 名前 😀]"},
        {std::string("nul\0byte", 8), std::string("`nul\0byte`", 10),
         std::string("[nul\0byte]", 10)},
        {"x`]; DROP TABLE t; --", "`x``]; DROP TABLE t; --`", "[x`]]; DROP TABLE t; --]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(QuoteMySQLIdentifier(c.name), c.mysql);
        EXPECT_EQ(QuoteSybaseIdentifier(c.name), c.sybase);
        EXPECT_EQ(QuoteTargetIdentifier(ServerKind::MySQL, c.name), c.mysql);
        EXPECT_EQ(QuoteTargetIdentifier(ServerKind::SybaseASE, c.name), c.sybase);
    }
}

TEST(IdentifierQuoting, AppendsBehindExistingText) {
    std::string out = "DROP TABLE ";
    AppendMySQLIdentifier(out, "a`");
    EXPECT_EQ(out, "DROP TABLE `a```");
    out = "x]";
    AppendSybaseIdentifier(out, "]");
    EXPECT_EQ(out, "x][]]]");
}

TEST(TextLiteral, QuotesAreDoubledAndNothingElseTouched) {
    struct {
        std::string text;
        std::string literal;
    } const cases[] = {
        {"", "''"},
        {"'", "''''"},
        {"O'Brien", "'O''Brien'"},
        {"''x''", "'''''x'''''"},
        {"ends in backslash\\", "'ends in backslash\\'"},
        {"\\'", "'\\'''"},
        {"line\nbreak\r\n", "'line\nbreak\r\n'"},
        {std::string("a\0'b", 4), std::string("'a\0''b'", 7)},
        {"\xF0\x9F\x98\x80'", "'\xF0\x9F\x98\x80'''"},
    };
    for (const auto& c : cases) {
        std::string out = "V(";
        AppendTextLiteral(out, c.text);
        EXPECT_EQ(out, "V(" + c.literal);
    }
}

// Reads one quoted literal back the way both servers do: '' inside is one quote, a lone quote
// ends it. Returns the position after the literal.
std::size_t ReadLiteral(const std::string& sql, std::size_t at, std::string& value) {
    EXPECT_EQ(sql.at(at), '\'');
    value.clear();
    for (std::size_t i = at + 1; i < sql.size(); ++i) {
        if (sql[i] == '\'') {
            if (i + 1 < sql.size() && sql[i + 1] == '\'') {
                value.push_back('\'');
                ++i;
                continue;
            }
            return i + 1;
        }
        value.push_back(sql[i]);
    }
    ADD_FAILURE() << "unterminated literal";
    return sql.size();
}

TEST(TextLiteral, RandomBytesReadBackExactlyAndEndWhereTheyShould) {
    std::mt19937 random(20261208);
    const char alphabet[] = {'\'', '\'', '\\', '\0', '\n', '`', ']', 'a', ' ', '\xC3', '\xA9'};
    for (int round = 0; round < 2000; ++round) {
        std::string text(random() % 40, ' ');
        for (char& c : text) {
            c = alphabet[random() % sizeof alphabet];
        }
        std::string sql;
        AppendTextLiteral(sql, text);
        sql += ", 'next'";
        std::string back;
        const std::size_t after = ReadLiteral(sql, 0, back);
        ASSERT_EQ(back, text);
        ASSERT_EQ(sql.substr(after), ", 'next'");
    }
}

TEST(TextLiteral, DoublingOnlyTouchesTheGivenTail) {
    std::string out = "'keep' ";
    const std::size_t from = out.size();
    out += "it's";
    DoubleSingleQuotes(out, from);
    EXPECT_EQ(out, "'keep' it''s");
    DoubleSingleQuotes(out, out.size()); // empty tail
    EXPECT_EQ(out, "'keep' it''s");
}

} // namespace
} // namespace veltrane
