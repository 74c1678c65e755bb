// Token bytes the test server writes, checked against bytes captured from FreeTDS sessions and
// against the TDS 5.0 layouts.

#include "TdsWire.h"

#include "TdsResults.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace asetest {
namespace {

std::string Hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (!out.empty())
            out += ' ';
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

ResultColumn Column(AseType type, bool nullable, int length = 0, int precision = 0, int scale = 0) {
    ResultColumn c;
    c.name = "c";
    c.type.type = type;
    c.type.length = length;
    c.type.precision = precision;
    c.type.scale = scale;
    c.type.nullable = nullable;
    return c;
}

// The ROW token for one value of one column.
std::string RowOf(const ResultColumn& column, const Value& value) {
    const std::vector<ResultColumn> columns{column};
    const std::vector<WireColumn> wire{DescribeWireColumn(column.type, column.type.nullable)};
    std::string out;
    WriteRow(out, columns, wire, {value});
    return out;
}

Value Integer(std::int64_t v) {
    Value value;
    value.isNull = false;
    value.integer = v;
    return value;
}

TEST(TdsTokens, DoneEnvChangeAndMessageMatchCapturedBytes) {
    std::string done;
    WriteDone(done, kTokenDone, kDoneCount, 1);
    EXPECT_EQ(Hex(done), "fd 10 00 00 00 01 00 00 00");

    std::string env;
    WriteEnvChange(env, 1, "master", "");
    EXPECT_EQ(Hex(env), "e3 09 00 01 06 6d 61 73 74 65 72 00");
    env.clear();
    WriteEnvChange(env, 4, "512", "512");
    EXPECT_EQ(Hex(env), "e3 09 00 04 03 35 31 32 03 35 31 32");

    std::string eed;
    WriteMessage(eed, {208, 16, 1, "t not found."}, "SRV");
    // token, length, number 208, state 1, severity 16, sqlstate, status, tran state, text,
    // server, procedure, line
    EXPECT_EQ(Hex(eed), "e5 24 00 d0 00 00 00 01 10 05 5a 5a 5a 5a 5a 00 00 00 0c 00 74 20 6e 6f "
                        "74 20 66 6f 75 6e 64 2e 03 53 52 56 00 01 00");
    // The length field counts every byte after it.
    EXPECT_EQ(static_cast<unsigned char>(eed[1]), eed.size() - 3);
}

TEST(TdsTokens, NullableColumnsUseTheNullableWireTypes) {
    struct Case {
        AseType type;
        int length;
        std::uint8_t notNull, nullable;
    };
    const Case cases[] = {
        {AseType::Int, 0, 0x38, 0x26},       {AseType::BigInt, 0, 0xBF, 0x26},
        {AseType::UInt, 0, 0x42, 0x44},      {AseType::Float, 0, 0x3E, 0x6D},
        {AseType::Money, 0, 0x3C, 0x6E},     {AseType::DateTime, 0, 0x3D, 0x6F},
        {AseType::Date, 0, 0x31, 0x7B},      {AseType::Time, 0, 0x33, 0x93},
        {AseType::Char, 10, 0x2F, 0x27},     {AseType::Binary, 4, 0x2D, 0x25},
        {AseType::VarChar, 300, 0xAF, 0xAF}, {AseType::VarBinary, 256, 0xE1, 0xE1},
        {AseType::Text, 0, 0x23, 0x23},      {AseType::Image, 0, 0x22, 0x22},
    };
    for (const Case& c : cases) {
        ColumnType type;
        type.type = c.type;
        type.length = c.length;
        SCOPED_TRACE(static_cast<int>(c.type));
        EXPECT_EQ(DescribeWireColumn(type, false).wireType, c.notNull);
        EXPECT_EQ(DescribeWireColumn(type, true).wireType, c.nullable);
        EXPECT_TRUE(DescribeWireColumn(type, true).nullable);
    }
    // A nullable char stays a char column for the client through its user type.
    ColumnType charType;
    charType.type = AseType::Char;
    charType.length = 5;
    EXPECT_EQ(DescribeWireColumn(charType, true).userType, 1u);
}

TEST(TdsTokens, NumbersAndMoneyInTheirWireLayouts) {
    // numeric(10,2) -12345.67: length 6, sign 1, 1234567 big-endian in 5 bytes.
    Value n;
    n.isNull = false;
    n.unscaled = -1234567;
    EXPECT_EQ(Hex(RowOf(Column(AseType::Numeric, false, 0, 10, 2), n)), "d1 06 01 00 00 12 d6 87");
    // 38 nines: 17 bytes on the wire, and the full magnitude survives.
    Int128 nines = 0;
    for (int i = 0; i < 38; ++i)
        nines = nines * 10 + 9;
    n.unscaled = -nines;
    const std::string row = RowOf(Column(AseType::Numeric, true, 0, 38, 0), n);
    ASSERT_EQ(row.size(), 2u + 17u);
    EXPECT_EQ(Hex(row.substr(0, 3)), "d1 11 01");
    EXPECT_EQ(Hex(row.substr(3)), "4b 3b 4c a8 5a 86 c4 7a 09 8a 22 3f ff ff ff ff");
    Value none;
    EXPECT_EQ(Hex(RowOf(Column(AseType::Numeric, true, 0, 38, 0), none)), "d1 00");

    // money: high 32 bits then low 32 bits, each little-endian.
    EXPECT_EQ(Hex(RowOf(Column(AseType::Money, false), Integer(INT64_MIN))),
              "d1 00 00 00 80 00 00 00 00");
    EXPECT_EQ(Hex(RowOf(Column(AseType::Money, true), Integer(123456789))),
              "d1 08 00 00 00 00 15 cd 5b 07");
    EXPECT_EQ(Hex(RowOf(Column(AseType::Int, true), Integer(-2))), "d1 04 fe ff ff ff");
    EXPECT_EQ(Hex(RowOf(Column(AseType::Int, true), Value{})), "d1 00");
}

TEST(TdsTokens, DatesTimesAndTextInTheirWireLayouts) {
    Value dt;
    dt.isNull = false;
    dt.days = -1; // 1899-12-31
    dt.fraction = 299;
    EXPECT_EQ(Hex(RowOf(Column(AseType::DateTime, false), dt)), "d1 ff ff ff ff 2b 01 00 00");
    // bigdatetime counts microseconds from 0000-01-01: 1900-01-01 is day 693961.
    Value big;
    big.isNull = false;
    big.days = 0;
    big.fraction = 1;
    const std::uint64_t micros = 693961ULL * 86400000000ULL + 1;
    std::string expected = "d1 08";
    for (int i = 0; i < 8; ++i) {
        static const char digits[] = "0123456789abcdef";
        const unsigned b = static_cast<unsigned>((micros >> (8 * i)) & 0xFF);
        expected += std::string(" ") + digits[b >> 4] + digits[b & 15];
    }
    EXPECT_EQ(Hex(RowOf(Column(AseType::BigDateTime, false), big)), expected);

    // An empty varchar would read as NULL: it travels as one blank, as ASE stores it.
    Value empty;
    empty.isNull = false;
    EXPECT_EQ(Hex(RowOf(Column(AseType::VarChar, true, 10), empty)), "d1 01 20");
    // text: pointer length 16, pointer, timestamp, 4-byte length, bytes.
    Value text;
    text.isNull = false;
    text.bytes = "ab";
    const std::string row = RowOf(Column(AseType::Text, true), text);
    ASSERT_EQ(row.size(), 1u + 1u + 16u + 8u + 4u + 2u);
    EXPECT_EQ(static_cast<unsigned char>(row[1]), 16u);
    EXPECT_EQ(Hex(row.substr(26)), "02 00 00 00 61 62");
    // univarchar travels as UTF-16LE with a 4-byte length.
    Value uni;
    uni.isNull = false;
    uni.bytes = "\xC3\xA9\xF0\x9F\x98\x80";
    EXPECT_EQ(Hex(RowOf(Column(AseType::UniVarChar, true, 4), uni)),
              "d1 06 00 00 00 e9 00 3d d8 00 de");
}

TEST(Utf16FromUtf8, ConvertsEveryPlaneAndReplacesMalformedInput) {
    EXPECT_EQ(Hex(Utf16FromUtf8("A\xD0\x96\xE4\xB8\xAD\xF0\x9F\x98\x80")),
              "41 00 16 04 2d 4e 3d d8 00 de");
    const std::string replacement = "fd ff";
    EXPECT_EQ(Hex(Utf16FromUtf8("\xFF")), replacement);
    EXPECT_EQ(Hex(Utf16FromUtf8("\xC0\x80")), replacement + " " + "fd ff"); // overlong NUL
    EXPECT_EQ(Hex(Utf16FromUtf8("\xED\xA0\x80")),
              "fd ff fd ff fd ff"); // an encoded surrogate is not a character
    EXPECT_EQ(Hex(Utf16FromUtf8("a\xE4\xB8")), "61 00 fd ff fd ff"); // cut short
    EXPECT_EQ(Hex(Utf16FromUtf8(std::string("\0", 1))), "00 00");
}

} // namespace
} // namespace asetest
