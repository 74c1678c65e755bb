// Values written as INSERT text (single quotes doubled, nothing else escaped) read back as the
// same typed values.

#include "MySqlTestHelpers.h"

#include <cmath>
#include <limits>
#include <vector>

namespace veltrane::testing {
namespace {

struct Sample {
    std::string literal; // SQL text of the value as inserted
    DbValue expected;
};

// A literal from the value's standard text, the way row statements write values.
Sample FromText(const DbValue& value) {
    return {value.IsNull() ? "NULL" : Quoted(value.ToText()), value};
}

Sample Text(const std::string& text) {
    return {Quoted(text), DbValue::Text(text)};
}

std::string HexLiteral(const std::string& bytes) {
    static const char* digits = "0123456789ABCDEF";
    std::string out = "X'";
    for (unsigned char b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out + "'";
}

// Inserts every sample into a one-column table of the given type, reads them back in order
// with both cursor kinds and compares each value.
void ExpectRoundTrip(const ServerCoordinates& server, const std::string& declaration,
                     const std::vector<Sample>& samples) {
    SCOPED_TRACE(declaration);
    static int tables = 0;
    const std::string table = UniqueTableName("_" + std::to_string(++tables));
    DropTableAtExit drop(server, table);
    auto writer = OpenMySQL(server, CursorLocation::Server);
    writer->Execute("CREATE TABLE `" + table + "` (id INT PRIMARY KEY, v " + declaration + ")");
    for (std::size_t i = 0; i < samples.size(); ++i) {
        writer->Execute("INSERT INTO `" + table + "` (id, v) VALUES (" + std::to_string(i) + ", " +
                        samples[i].literal + ")");
    }
    for (auto cursor : {CursorLocation::Client, CursorLocation::Server}) {
        auto reader = OpenMySQL(server, cursor);
        auto rows = reader->Execute("SELECT id, v FROM `" + table + "` ORDER BY id");
        ASSERT_NE(rows, nullptr);
        if (cursor == CursorLocation::Client) {
            EXPECT_EQ(rows->RecordCount(), static_cast<std::int64_t>(samples.size()));
        }
        std::size_t i = 0;
        for (; !rows->IsEOF(); rows->MoveNext(), ++i) {
            ASSERT_LT(i, samples.size());
            const DbValue& got = rows->Value(1);
            const std::string shown = got.ToText().substr(0, 80);
            EXPECT_EQ(got.GetKind(), samples[i].expected.GetKind())
                << "sample " << i << ": " << shown;
            EXPECT_TRUE(got == samples[i].expected)
                << "sample " << i << " (" << samples[i].literal.substr(0, 60) << "): got " << shown
                << ", want " << samples[i].expected.ToText().substr(0, 80);
        }
        EXPECT_EQ(i, samples.size());
    }
}

std::string MegabyteOfText() {
    std::string text;
    const std::string pattern = "quote ' backslash \\ nul \\0 newline \n é 😀 ";
    while (text.size() < 1024 * 1024) {
        text += pattern;
    }
    return text;
}

TEST(MySQLValues, TextSurvivesQuotesBackslashesNulAndUnicode) {
    VELTRANE_REQUIRE_MYSQL(server);
    const std::vector<Sample> samples = {
        {"NULL", DbValue::Null()},
        Text(""),
        Text("it's"),
        Text("''"),
        Text("abc\\"),
        Text("\\"),
        Text("\\'"),
        Text("\\n and \\0 as two characters each"),
        Text(std::string("real\0nul", 8)),
        Text("line\nbreak\ttab\r"),
        Text("4-byte 😀 𝄞, 中文, Ünïcödé"),
        Text("'); DROP TABLE x; -- "),
        Text(MegabyteOfText()),
    };
    ExpectRoundTrip(server, "LONGTEXT", samples);
    ExpectRoundTrip(server, "VARCHAR(100)",
                    std::vector<Sample>(samples.begin(), samples.end() - 1));
    ExpectRoundTrip(server, "CHAR(20) COLLATE utf8mb4_bin",
                    {Text("abc\\"), Text("x'y"), Text("😀")});
    // Stored in another character set, read back as UTF-8.
    ExpectRoundTrip(server, "VARCHAR(10) CHARACTER SET latin1", {Text("café ÿ"), Text("a'\\")});
    ExpectRoundTrip(server, "ENUM('a''b','c\\\\')", {Text("a'b"), Text("c\\\\")});
    ExpectRoundTrip(server, "SET('x','y')", {Text("x,y"), Text("")});
    ExpectRoundTrip(server, "JSON", {Text("{\"k\": [1, \"é\\\\\"]}")});
}

TEST(MySQLValues, BinaryKeepsEveryByte) {
    VELTRANE_REQUIRE_MYSQL(server);
    std::string allBytes;
    for (int b = 0; b < 256; ++b) {
        allBytes += static_cast<char>(b);
    }
    const std::string awkward("q'\\\0z", 5);
    ExpectRoundTrip(server, "LONGBLOB",
                    {{HexLiteral(allBytes), DbValue::Binary(allBytes)},
                     {Quoted(awkward), DbValue::Binary(awkward)},
                     {"''", DbValue::Binary("")},
                     {"NULL", DbValue::Null()}});
    ExpectRoundTrip(server, "VARBINARY(300)", {{HexLiteral(allBytes), DbValue::Binary(allBytes)}});
    ExpectRoundTrip(server, "BINARY(4)",
                    {{Quoted("ab"), DbValue::Binary(std::string("ab\0\0", 4))}});
    ExpectRoundTrip(server, "BIT(12)",
                    {{"b'101010101010'", DbValue::Binary("\x0a\xaa")},
                     {"b'0'", DbValue::Binary(std::string(2, '\0'))}});
    ExpectRoundTrip(server, "BIT(1)",
                    {{"b'1'", DbValue::Boolean(true)}, {"b'0'", DbValue::Boolean(false)}});
}

TEST(MySQLValues, IntegersKeepTheirFullRange) {
    VELTRANE_REQUIRE_MYSQL(server);
    ExpectRoundTrip(server, "BIGINT UNSIGNED",
                    {FromText(DbValue::UInt(std::numeric_limits<std::uint64_t>::max())),
                     FromText(DbValue::UInt(0)), FromText(DbValue::Null())});
    ExpectRoundTrip(server, "BIGINT",
                    {FromText(DbValue::Int(std::numeric_limits<std::int64_t>::min())),
                     FromText(DbValue::Int(std::numeric_limits<std::int64_t>::max()))});
    ExpectRoundTrip(server, "TINYINT", {FromText(DbValue::Int(-128)), FromText(DbValue::Int(127))});
    ExpectRoundTrip(server, "TINYINT UNSIGNED", {FromText(DbValue::UInt(255))});
    ExpectRoundTrip(server, "MEDIUMINT", {FromText(DbValue::Int(-8388608))});
    ExpectRoundTrip(server, "INT UNSIGNED", {FromText(DbValue::UInt(4294967295u))});
    ExpectRoundTrip(server, "YEAR", {FromText(DbValue::Int(2024)), FromText(DbValue::Int(1901))});
}

TEST(MySQLValues, DecimalsKeepEveryDigit) {
    VELTRANE_REQUIRE_MYSQL(server);
    ExpectRoundTrip(server, "DECIMAL(65,30)",
                    {FromText(DbValue::Decimal(
                         "12345678901234567890123456789012345.123456789012345678901234567891")),
                     FromText(DbValue::Decimal(
                         "-99999999999999999999999999999999999.999999999999999999999999999999")),
                     FromText(DbValue::Decimal("0.000000000000000000000000000001")),
                     {"0", DbValue::Decimal("0.000000000000000000000000000000")}});
    ExpectRoundTrip(server, "DECIMAL(10,2) UNSIGNED", {{"'7.5'", DbValue::Decimal("7.50")}});
}

TEST(MySQLValues, FloatingPointReadsBackToTheSameNumber) {
    VELTRANE_REQUIRE_MYSQL(server);
    ExpectRoundTrip(server, "DOUBLE",
                    {FromText(DbValue::Double(0.1)), FromText(DbValue::Double(1.0 / 3.0)),
                     FromText(DbValue::Double(1.7976931348623157e308)),
                     FromText(DbValue::Double(-2.5e-300)), FromText(DbValue::Double(0.0))});
    // FLOAT arrives as the single-precision value the server stores, every digit of it.
    ExpectRoundTrip(
        server, "FLOAT",
        {FromText(DbValue::Single(123456792.0f)), FromText(DbValue::Single(16777216.0f)),
         FromText(DbValue::Single(1.0f / 3.0f)), FromText(DbValue::Single(-0.1f)),
         FromText(DbValue::Single(std::nextafter(std::numeric_limits<float>::max(), 0.0f))),
         FromText(DbValue::Single(std::numeric_limits<float>::min())),
         FromText(DbValue::Single(0.0f)), FromText(DbValue::Null())});
}

TEST(MySQLValues, DatesAndTimesKeepTheirFractionsAndOddValues) {
    VELTRANE_REQUIRE_MYSQL(server);
    ExpectRoundTrip(
        server, "DATETIME(6)",
        {FromText(DbValue::DateTime({{2024, 2, 29}, {false, 23, 59, 59, "123456"}})),
         FromText(DbValue::DateTime({{1000, 1, 1}, {false, 0, 0, 0, "000001"}})),
         {"'2001-02-03 04:05:06'", DbValue::DateTime({{2001, 2, 3}, {false, 4, 5, 6, "000000"}})}});
    ExpectRoundTrip(
        server, "DATETIME",
        {FromText(DbValue::DateTime({{9999, 12, 31}, {false, 23, 59, 59, ""}})),
         {"'0000-00-00 00:00:00'", DbValue::DateTime({{0, 0, 0}, {false, 0, 0, 0, ""}})}});
    ExpectRoundTrip(server, "TIMESTAMP(3) NULL",
                    {FromText(DbValue::DateTime({{2020, 6, 1}, {false, 12, 0, 0, "250"}})),
                     FromText(DbValue::Null())});
    ExpectRoundTrip(server, "DATE",
                    {FromText(DbValue::Date({2024, 2, 29})),
                     FromText(DbValue::Date({1, 1, 1})),
                     {"'0000-00-00'", DbValue::Date({0, 0, 0})}});
    ExpectRoundTrip(server, "TIME(6)",
                    {FromText(DbValue::Time({true, 838, 59, 59, "000000"})),
                     FromText(DbValue::Time({false, 123, 4, 5, "500000"})),
                     FromText(DbValue::Time({true, 0, 0, 1, "000001"}))});
    ExpectRoundTrip(server, "TIME", {FromText(DbValue::Time({false, 0, 0, 0, ""}))});
}

} // namespace
} // namespace veltrane::testing
