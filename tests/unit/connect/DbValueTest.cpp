#include "connect/access/DbValue.h"

#include <cmath>
#include <cstdlib>
#include <gtest/gtest.h>
#include <limits>

namespace veltrane {
namespace {

TEST(DbValueText, NullIsEmptyAndBooleansAreWords) {
    EXPECT_EQ(DbValue::Null().ToText(), "");
    EXPECT_EQ(DbValue::Boolean(true).ToText(), "True");
    EXPECT_EQ(DbValue::Boolean(false).ToText(), "False");
}

TEST(DbValueText, IntegersKeepEveryDigit) {
    EXPECT_EQ(DbValue::Int(0).ToText(), "0");
    EXPECT_EQ(DbValue::Int(-42).ToText(), "-42");
    EXPECT_EQ(DbValue::Int(std::numeric_limits<std::int64_t>::min()).ToText(),
              "-9223372036854775808");
    EXPECT_EQ(DbValue::UInt(std::numeric_limits<std::uint64_t>::max()).ToText(),
              "18446744073709551615");
    EXPECT_EQ(DbValue::Decimal("-12345678901234567890123456789012345.123").ToText(),
              "-12345678901234567890123456789012345.123");
}

TEST(DbValueText, FloatingPointIsShortestRoundTrip) {
    for (double d : {0.1, 1.0 / 3.0, 123456789.125, -2.5e-300, 1.7976931348623157e308, 5e-324}) {
        std::string text = DbValue::Double(d).ToText();
        EXPECT_EQ(std::strtod(text.c_str(), nullptr), d) << text;
    }
    EXPECT_EQ(DbValue::Double(0.1).ToText(), "0.1");
    EXPECT_EQ(DbValue::Double(16777217.0).ToText(), "16777217");
    // A single-precision value prints as the float it is, not as its widened double.
    EXPECT_EQ(DbValue::Single(3.14f).ToText(), "3.14");
    EXPECT_EQ(std::strtof(DbValue::Single(1.0f / 3.0f).ToText().c_str(), nullptr), 1.0f / 3.0f);
}

// A server reads a float's text as a double, refuses it beyond the float range and otherwise
// narrows it: every float must come back from that, the extremes included, in the shortest
// form where that form already does.
TEST(DbValueText, SinglePrecisionReadsBackThroughADouble) {
    constexpr float kMax = std::numeric_limits<float>::max();
    const struct {
        float value;
        const char* text; // nullptr: only the reading back is checked
    } cases[] = {
        {kMax, "3.402823466e+38"},
        {-kMax, "-3.402823466e+38"},
        {std::nextafter(kMax, 0.0f), "3.4028233e+38"},
        {std::numeric_limits<float>::min(), "1.1754944e-38"},
        {std::numeric_limits<float>::denorm_min(), "1e-45"},
        {0.1f, "0.1"},
        {16777216.0f, "16777216"},
        {-0.0f, "-0"},
        {1.0f / 3.0f, nullptr},
        {3.0e38f, nullptr},
    };
    for (const auto& c : cases) {
        const std::string text = DbValue::Single(c.value).ToText();
        if (c.text != nullptr) {
            EXPECT_EQ(text, c.text);
        }
        const double read = std::strtod(text.c_str(), nullptr);
        EXPECT_LE(std::fabs(read), kMax) << text;
        EXPECT_EQ(static_cast<float>(read), c.value) << text;
    }
}

TEST(DbValueText, DatesAndTimesWithAndWithoutFractions) {
    EXPECT_EQ(DbValue::Date({2024, 2, 29}).ToText(), "2024-02-29");
    EXPECT_EQ(DbValue::Date({1, 1, 1}).ToText(), "0001-01-01");
    EXPECT_EQ(DbValue::Date({-2147483647 - 1, 1, 1}).ToText(), "-2147483648-01-01");
    EXPECT_EQ(DbValue::Time({false, 7, 5, 9, ""}).ToText(), "07:05:09");
    EXPECT_EQ(DbValue::Time({true, 838, 59, 59, "000000"}).ToText(), "-838:59:59.000000");
    EXPECT_EQ(DbValue::DateTime({{1999, 12, 31}, {false, 23, 59, 59, "997"}}).ToText(),
              "1999-12-31 23:59:59.997");
    EXPECT_EQ(DbValue::DateTime({{9999, 12, 31}, {false, 23, 59, 59, "999999"}}).ToText(),
              "9999-12-31 23:59:59.999999");
    EXPECT_EQ(DbValue::DateTime({{2000, 1, 2}, {false, 3, 4, 5, ""}}).ToText(),
              "2000-01-02 03:04:05");
}

TEST(DbValueText, TextIsUnchangedAndBinaryIsLowerCaseHex) {
    std::string hostile("it's a \\ back\0slash \xF0\x9F\x98\x80", 25);
    EXPECT_EQ(DbValue::Text(hostile).ToText(), hostile);
    EXPECT_EQ(DbValue::Text("").ToText(), "");
    EXPECT_EQ(DbValue::Binary(std::string("\x00\xff\x10\xAB", 4)).ToText(), "0x00ff10ab");
    EXPECT_EQ(DbValue::Binary("").ToText(), "0x");
}

TEST(DbValueText, AppendTextAddsToExistingBuffer) {
    std::string buffer = "x=";
    DbValue::Int(7).AppendText(buffer);
    DbValue::Null().AppendText(buffer);
    DbValue::Text("y").AppendText(buffer);
    EXPECT_EQ(buffer, "x=7y");
}

TEST(DbValue, NullToDefaultPicksFallbackOnlyForNull) {
    DbValue fallback = DbValue::Text("");
    EXPECT_EQ(NullToDefault(DbValue::Null(), fallback), fallback);
    EXPECT_EQ(NullToDefault(DbValue::Int(0), fallback), DbValue::Int(0));
    EXPECT_EQ(NullToDefault(DbValue::Text(""), DbValue::Int(1)), DbValue::Text(""));
}

} // namespace
} // namespace veltrane
