// Decoding of FreeTDS's native value layouts and the packed client-side rows, without a server.

#include "connect/freetds/TdsValues.h"

#include "connect/access/DatabaseError.h"
#include "connect/freetds/PackedRows.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace veltrane::tds {
namespace {

template <typename... T> std::vector<unsigned char> Bytes(T... parts) {
    std::vector<unsigned char> out;
    (
        [&] {
            const auto* p = reinterpret_cast<const unsigned char*>(&parts);
            out.insert(out.end(), p, p + sizeof parts);
        }(),
        ...);
    return out;
}

DbValue Decode(int wireType, const std::vector<unsigned char>& data, int userType = 0) {
    return DecodeValue(ColumnType{wireType, userType, static_cast<int>(data.size())}, data.data(),
                       static_cast<std::int64_t>(data.size()));
}

// DBNUMERIC as FreeTDS fills it: precision, scale, sign, big-endian magnitude.
std::vector<unsigned char> Numeric(int precision, int scale, bool negative,
                                   std::vector<unsigned char> magnitude) {
    std::vector<unsigned char> out(35, 0);
    out[0] = static_cast<unsigned char>(precision);
    out[1] = static_cast<unsigned char>(scale);
    out[2] = negative ? 1 : 0;
    const std::size_t bytes = static_cast<std::size_t>(NumericBytes(precision)) - 1;
    std::copy(magnitude.begin(), magnitude.end(), out.begin() + 3 + (bytes - magnitude.size()));
    return out;
}

TEST(TdsValues, AdoCodesOfEveryAseType) {
    struct Case {
        ColumnType column;
        AdoType expected;
    } cases[] = {
        {{kInt4, 7, 4}, AdoType::Integer},
        {{kInt2, 6, 2}, AdoType::SmallInt},
        {{kInt1, 5, 1}, AdoType::UnsignedTinyInt},
        {{kSyb5Int8, 43, 8}, AdoType::BigInt},
        {{kIntN, 13, 1}, AdoType::UnsignedTinyInt},
        {{kIntN, 13, 2}, AdoType::SmallInt},
        {{kIntN, 13, 4}, AdoType::Integer},
        {{kIntN, 13, 8}, AdoType::BigInt},
        {{kUInt2, 44, 2}, AdoType::UnsignedSmallInt},
        {{kUInt4, 45, 4}, AdoType::UnsignedInt},
        {{kUInt8, 46, 8}, AdoType::UnsignedBigInt},
        {{kUIntN, 47, 2}, AdoType::UnsignedSmallInt},
        {{kUIntN, 47, 4}, AdoType::UnsignedInt},
        {{kUIntN, 47, 8}, AdoType::UnsignedBigInt},
        {{kNumeric, 10, 17}, AdoType::Numeric},
        {{kDecimal, 26, 9}, AdoType::Numeric},
        {{kReal, 23, 4}, AdoType::Single},
        {{kFloat, 8, 8}, AdoType::Double},
        {{kFloatN, 14, 4}, AdoType::Single},
        {{kFloatN, 14, 8}, AdoType::Double},
        {{kMoney, 11, 8}, AdoType::Currency},
        {{kMoney4, 21, 4}, AdoType::Currency},
        {{kMoneyN, 17, 4}, AdoType::Currency},
        {{kBit, 16, 1}, AdoType::Boolean},
        {{kDateTime, 12, 8}, AdoType::DBTimeStamp},
        {{kDateTime4, 22, 4}, AdoType::DBTimeStamp},
        {{kDateTimeN, 15, 8}, AdoType::DBTimeStamp},
        {{kBigDateTime, 0, 8}, AdoType::DBTimeStamp},
        {{kDate, 37, 4}, AdoType::DBDate},
        {{kDateN, 39, 4}, AdoType::DBDate},
        {{kTime, 38, 4}, AdoType::DBTime},
        {{kTimeN, 40, 4}, AdoType::DBTime},
        {{kBigTime, 0, 8}, AdoType::DBTime},
        {{kChar, 1, 10}, AdoType::Char},
        {{kVarChar, 1, 10}, AdoType::Char}, // nullable char travels as varchar
        {{kVarChar, 2, 10}, AdoType::VarChar},
        {{kLongChar, 2, 1000}, AdoType::VarChar},
        {{kText, 19, 0}, AdoType::LongVarChar},
        {{kLongBinary, kUserUniChar, 20}, AdoType::WChar},
        {{kLongBinary, kUserUniVarChar, 20}, AdoType::VarWChar},
        {{kLongChar, kUserUniVarChar, 20}, AdoType::VarWChar},
        {{kUniText, kUserUniText, 0}, AdoType::LongVarWChar},
        {{kImage, kUserUniText, 0}, AdoType::LongVarWChar},
        {{kBinary, 3, 4}, AdoType::Binary},
        {{kVarBinary, 3, 4}, AdoType::Binary}, // nullable binary travels as varbinary
        {{kVarBinary, 4, 4}, AdoType::VarBinary},
        {{kLongBinary, 4, 1000}, AdoType::VarBinary},
        {{kImage, 20, 0}, AdoType::LongVarBinary},
        // What FreeTDS 1.3 reports: its client type (char, text, binary) with the server's
        // user type, which alone tells varchar from char and unichar from text.
        {{kChar, 2, 20}, AdoType::VarChar},
        {{kChar, 18, 30}, AdoType::VarChar},
        {{kText, kUserUniChar, 12}, AdoType::WChar},
        {{kText, kUserUniVarChar, 40}, AdoType::VarWChar},
        {{kBinary, 4, 10}, AdoType::VarBinary},
        {{kBinary, 80, 8}, AdoType::VarBinary},
        // Computed columns carry no user type.
        {{kChar, 0, 3}, AdoType::VarChar},
        {{kBinary, 0, 3}, AdoType::VarBinary},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(AdoTypeOf(c.column), c.expected)
            << "wire " << c.column.wireType << " user " << c.column.userType << " size "
            << c.column.size;
    }
    EXPECT_EQ(AdoTypeOf(ColumnType{0x99, 0, 4}), AdoType::Empty);
}

TEST(TdsValues, IntegersKeepSignAndFullRange) {
    EXPECT_EQ(Decode(kInt4, Bytes(std::int32_t{-2147483647 - 1})), DbValue::Int(-2147483647LL - 1));
    EXPECT_EQ(Decode(kInt2, Bytes(std::int16_t{-32768})), DbValue::Int(-32768));
    EXPECT_EQ(Decode(kSyb5Int8, Bytes(std::int64_t{INT64_MAX})), DbValue::Int(INT64_MAX));
    EXPECT_EQ(Decode(kInt1, Bytes(std::uint8_t{255})), DbValue::UInt(255));
    EXPECT_EQ(Decode(kIntN, Bytes(std::uint8_t{255})), DbValue::UInt(255));
    EXPECT_EQ(Decode(kIntN, Bytes(std::int64_t{-5})), DbValue::Int(-5));
    EXPECT_EQ(Decode(kUInt8, Bytes(std::uint64_t{UINT64_MAX})), DbValue::UInt(UINT64_MAX));
    EXPECT_EQ(Decode(kUIntN, Bytes(std::uint32_t{4294967295U})), DbValue::UInt(4294967295U));
    EXPECT_EQ(Decode(kUIntN, Bytes(std::uint16_t{65535})), DbValue::UInt(65535));
    const auto three = Bytes(std::uint8_t{1}, std::uint8_t{2}, std::uint8_t{3});
    EXPECT_THROW(Decode(kIntN, three), DatabaseError);
}

TEST(TdsValues, NullAndFloatsAndBits) {
    EXPECT_TRUE(DecodeValue(ColumnType{kInt4, 7, 4}, nullptr, 0).IsNull());
    EXPECT_TRUE(DecodeValue(ColumnType{kText, 19, 0}, nullptr, 0).IsNull());
    EXPECT_EQ(Decode(kReal, Bytes(1.5f)), DbValue::Single(1.5f));
    EXPECT_EQ(Decode(kFloatN, Bytes(0.1f)), DbValue::Single(0.1f));
    EXPECT_EQ(Decode(kFloatN, Bytes(-1e308)), DbValue::Double(-1e308));
    EXPECT_EQ(Decode(kBit, Bytes(std::uint8_t{1})), DbValue::Boolean(true));
    EXPECT_EQ(Decode(kBit, Bytes(std::uint8_t{0})), DbValue::Boolean(false));
    EXPECT_THROW(Decode(kFloat, Bytes(1.0f)), DatabaseError); // 4 bytes for an 8-byte type
}

TEST(TdsValues, NumericsKeepEveryDigit) {
    // numeric(10,2) -12345.67 (1234567 = 0x12D687)
    EXPECT_EQ(Decode(kNumeric, Numeric(10, 2, true, {0x12, 0xD6, 0x87})),
              DbValue::Decimal("-12345.67"));
    // numeric(38,0) 10^38 - 1 = 0x4B3B4CA85A86C47A098A223FFFFFFFFF
    const std::vector<unsigned char> max38 = {0x4B, 0x3B, 0x4C, 0xA8, 0x5A, 0x86, 0xC4, 0x7A,
                                              0x09, 0x8A, 0x22, 0x3F, 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(Decode(kNumeric, Numeric(38, 0, false, max38)),
              DbValue::Decimal("99999999999999999999999999999999999999"));
    EXPECT_EQ(Decode(kDecimal, Numeric(38, 38, true, max38)),
              DbValue::Decimal("-0.99999999999999999999999999999999999999"));
    EXPECT_EQ(Decode(kNumeric, Numeric(38, 10, false, max38)),
              DbValue::Decimal("9999999999999999999999999999.9999999999"));
    EXPECT_EQ(Decode(kNumeric, Numeric(5, 3, false, {0x07})), DbValue::Decimal("0.007"));
    EXPECT_EQ(Decode(kNumeric, Numeric(5, 0, true, {0x00})), DbValue::Decimal("0"));
    EXPECT_THROW(Decode(kNumeric, Numeric(39, 0, false, {})), DatabaseError);
}

TEST(TdsValues, MoneyHasFourDecimalsAndFullRange) {
    // DBMONEY: high then low half of value * 10^4.
    EXPECT_EQ(Decode(kMoney, Bytes(std::int32_t{INT32_MIN}, std::uint32_t{0})),
              DbValue::Decimal("-922337203685477.5808"));
    EXPECT_EQ(Decode(kMoney, Bytes(std::int32_t{INT32_MAX}, std::uint32_t{UINT32_MAX})),
              DbValue::Decimal("922337203685477.5807"));
    EXPECT_EQ(Decode(kMoneyN, Bytes(std::int32_t{-1}, std::uint32_t{0xFFFFFFFF - 12344})),
              DbValue::Decimal("-1.2345"));
    EXPECT_EQ(Decode(kMoney4, Bytes(std::int32_t{-2147483647 - 1})),
              DbValue::Decimal("-214748.3648"));
    EXPECT_EQ(Decode(kMoneyN, Bytes(std::int32_t{5})), DbValue::Decimal("0.0005"));
}

TEST(TdsValues, DateTimesKeepTheirFraction) {
    // 1900-01-01 23:59:59.997 is 25919999 ticks of 1/300 s.
    const DbValue v = Decode(kDateTime, Bytes(std::int32_t{0}, std::int32_t{25919999}));
    EXPECT_EQ(v.ToText(), "1900-01-01 23:59:59.997");
    EXPECT_EQ(Decode(kDateTimeN, Bytes(std::int32_t{-53690}, std::int32_t{1})).ToText(),
              "1753-01-01 00:00:00.003");
    EXPECT_EQ(Decode(kDateTime, Bytes(std::int32_t{2958463}, std::int32_t{2})).ToText(),
              "9999-12-31 00:00:00.007");
    EXPECT_EQ(Decode(kDateTime4, Bytes(std::uint16_t{65535}, std::uint16_t{1439})).ToText(),
              "2079-06-06 23:59:00");
    EXPECT_EQ(Decode(kDateN, Bytes(std::int32_t{-693595})).ToText(), "0001-01-01");
    EXPECT_EQ(Decode(kDate, Bytes(std::int32_t{-1})).ToText(), "1899-12-31");
    EXPECT_EQ(Decode(kDate, Bytes(std::int32_t{36583})).ToText(), "2000-02-29");
    EXPECT_EQ(Decode(kTimeN, Bytes(std::int32_t{25919999})).ToText(), "23:59:59.997");
    EXPECT_EQ(Decode(kTime, Bytes(std::int32_t{0})).ToText(), "00:00:00.000");
}

TEST(TdsValues, BigDateTimesKeepMicroseconds) {
    constexpr std::uint64_t kDay = 86400000000ULL;
    // 0001-01-01 is day 366 of FreeTDS's year-0 epoch.
    EXPECT_EQ(Decode(kBigDateTime, Bytes(std::uint64_t{366 * kDay + 1})).ToText(),
              "0001-01-01 00:00:00.000001");
    EXPECT_EQ(Decode(kBigDateTime, Bytes(std::uint64_t{693961 * kDay + kDay - 1})).ToText(),
              "1900-01-01 23:59:59.999999");
    EXPECT_EQ(Decode(kBigTime, Bytes(std::uint64_t{45296789012ULL})).ToText(), "12:34:56.789012");
}

TEST(TdsValues, TextAndBinaryKeepEveryByte) {
    const std::string text("a'b\\c\0d\xC3\xA9", 8);
    const std::vector<unsigned char> raw(text.begin(), text.end());
    EXPECT_EQ(Decode(kVarChar, raw, 2), DbValue::Text(text));
    EXPECT_EQ(Decode(kLongBinary, raw, kUserUniChar), DbValue::Text(text));
    EXPECT_EQ(Decode(kText, raw, 19), DbValue::Text(text));
    EXPECT_EQ(Decode(kVarBinary, raw, 4), DbValue::Binary(text));
    EXPECT_EQ(Decode(kImage, raw, 20), DbValue::Binary(text));
    // A text, unitext or image value that was set and then updated to NULL keeps its text
    // pointer and arrives with no bytes; ASE stores '' as one blank, so that is the NULL.
    for (const ColumnType& pointed :
         {ColumnType{kText, 19, 0}, ColumnType{kImage, 20, 0}, ColumnType{kImage, kUserUniText, 0}})
        EXPECT_EQ(DecodeValue(pointed, raw.data(), 0), DbValue::Null()) << pointed.userType;
    EXPECT_EQ(DecodeValue(ColumnType{kVarChar, 2, 0}, raw.data(), 0), DbValue::Text(""));
    EXPECT_THROW(Decode(0x99, raw), DatabaseError);
}

// unitext arrives as UTF-16LE in an image column, which FreeTDS leaves unconverted.
TEST(TdsValues, UnitextIsConvertedFromUtf16) {
    const std::vector<unsigned char> utf16 = {'a',  0,    0x16, 0x04, 0x2d, 0x4e,
                                              0x3d, 0xd8, 0x00, 0xde, 0,    0};
    EXPECT_EQ(Decode(kImage, utf16, kUserUniText),
              DbValue::Text(std::string("a\xD0\x96\xE4\xB8\xAD\xF0\x9F\x98\x80\0", 11)));
    // An unpaired surrogate cannot become UTF-8: it reads as U+FFFD, the rest intact.
    const std::vector<unsigned char> unpaired = {0x00, 0xd8, 'b', 0};
    EXPECT_EQ(Decode(kImage, unpaired, kUserUniText), DbValue::Text("\xEF\xBF\xBD"
                                                                    "b"));
    // Other image columns stay bytes.
    EXPECT_EQ(Decode(kImage, unpaired, 20), DbValue::Binary(std::string("\x00\xd8"
                                                                        "b\0",
                                                                        4)));
}

} // namespace
} // namespace veltrane::tds

namespace veltrane::tds {
namespace {

// Client-side rows kept as raw bytes: every field comes back exactly (NULL apart from empty,
// lengths around the one-, two- and three-byte length headers, fields larger than a shared
// block), and the rows take little more room than their bytes.
TEST(PackedRows, FieldsComeBackExactlyAndCompactly) {
    const std::vector<std::size_t> lengths = {0, 1, 4, 127, 128, 16383, 16384, 300000};
    PackedRows rows;
    std::size_t payload = 0;
    std::vector<std::vector<std::string>> appended;
    for (std::size_t r = 0; r < 800; ++r) {
        std::vector<std::string> values;
        std::vector<RawField> fields;
        const std::size_t big = lengths[r % lengths.size()];
        values.push_back(std::string(big, static_cast<char>('a' + r % 26)));
        values.push_back(std::to_string(r));
        values.push_back(""); // becomes NULL below when r is odd
        for (std::size_t f = 0; f < values.size(); ++f) {
            const auto* data = reinterpret_cast<const unsigned char*>(values[f].data());
            fields.push_back(f == 2 && r % 2 ? RawField{} : RawField{data, values[f].size()});
            payload += values[f].size();
        }
        rows.Append(fields);
        appended.push_back(std::move(values));
    }
    ASSERT_EQ(rows.RowCount(), appended.size());
    std::vector<RawField> read;
    for (std::size_t r = 0; r < appended.size(); ++r) {
        rows.Read(r, read);
        ASSERT_EQ(read.size(), 3u);
        for (std::size_t f = 0; f < 3; ++f) {
            SCOPED_TRACE(testing::Message() << "row " << r << " field " << f);
            if (f == 2 && r % 2) {
                EXPECT_EQ(read[f].data, nullptr);
                continue;
            }
            ASSERT_NE(read[f].data, nullptr);
            EXPECT_TRUE(std::string(reinterpret_cast<const char*>(read[f].data), read[f].length) ==
                        appended[r][f]);
        }
    }
    // Each field's length header, the row index, and at most one partly filled shared block.
    EXPECT_LT(rows.AllocatedBytes(), payload + payload / 10 + (4u << 20));
    rows.Clear();
    EXPECT_EQ(rows.RowCount(), 0u);
    EXPECT_EQ(rows.AllocatedBytes(), 0u);
}

} // namespace
} // namespace veltrane::tds
