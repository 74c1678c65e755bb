#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

namespace veltrane {

// An exact decimal number in plain notation: optional '-', digits, optional '.' and digits.
// Kept as text so that no digit is ever lost to a binary floating-point type.
struct DecimalValue {
    std::string text;
    bool operator==(const DecimalValue&) const = default;
};

// Raw bytes, kept apart from text so that statement builders can tell them apart.
struct BinaryValue {
    std::string bytes;
    bool operator==(const BinaryValue&) const = default;
};

struct DateValue {
    int year = 1;
    unsigned month = 1;
    unsigned day = 1;
    bool operator==(const DateValue&) const = default;
};

// A time of day, or a MySQL TIME interval (which may be negative and exceed 24 hours).
// `fraction` holds the fractional-second digits exactly as the source reported them
// ("" when the source has none, "123" for milliseconds, "123456" for microseconds).
struct TimeValue {
    bool negative = false;
    unsigned hour = 0;
    unsigned minute = 0;
    unsigned second = 0;
    std::string fraction;
    bool operator==(const TimeValue&) const = default;
};

struct DateTimeValue {
    DateValue date;
    TimeValue time;
    bool operator==(const DateTimeValue&) const = default;
};

// One field value of a result set: Null, or a typed value.
class DbValue {
public:
    enum class Kind {
        Null,
        Boolean,
        Int,
        UInt,
        Single,
        Double,
        Decimal,
        Text,
        Binary,
        Date,
        Time,
        DateTime
    };

    DbValue() = default;
    static DbValue Null() { return {}; }
    static DbValue Boolean(bool v) { return DbValue(Storage(std::in_place_index<1>, v)); }
    static DbValue Int(std::int64_t v) { return DbValue(Storage(std::in_place_index<2>, v)); }
    static DbValue UInt(std::uint64_t v) { return DbValue(Storage(std::in_place_index<3>, v)); }
    static DbValue Single(float v) { return DbValue(Storage(std::in_place_index<4>, v)); }
    static DbValue Double(double v) { return DbValue(Storage(std::in_place_index<5>, v)); }
    // `text` must already be in plain notation (see DecimalValue).
    static DbValue Decimal(std::string text) {
        return DbValue(Storage(std::in_place_index<6>, DecimalValue{std::move(text)}));
    }
    static DbValue Text(std::string utf8) {
        return DbValue(Storage(std::in_place_index<7>, std::move(utf8)));
    }
    static DbValue Binary(std::string bytes) {
        return DbValue(Storage(std::in_place_index<8>, BinaryValue{std::move(bytes)}));
    }
    static DbValue Date(DateValue v) { return DbValue(Storage(std::in_place_index<9>, v)); }
    static DbValue Time(TimeValue v) {
        return DbValue(Storage(std::in_place_index<10>, std::move(v)));
    }
    static DbValue DateTime(DateTimeValue v) {
        return DbValue(Storage(std::in_place_index<11>, std::move(v)));
    }

    Kind GetKind() const { return static_cast<Kind>(storage_.index()); }
    bool IsNull() const { return storage_.index() == 0; }

    bool AsBoolean() const { return std::get<1>(storage_); }
    std::int64_t AsInt() const { return std::get<2>(storage_); }
    std::uint64_t AsUInt() const { return std::get<3>(storage_); }
    float AsSingle() const { return std::get<4>(storage_); }
    double AsDouble() const { return std::get<5>(storage_); }
    const DecimalValue& AsDecimal() const { return std::get<6>(storage_); }
    const std::string& AsText() const { return std::get<7>(storage_); }
    const BinaryValue& AsBinary() const { return std::get<8>(storage_); }
    const DateValue& AsDate() const { return std::get<9>(storage_); }
    const TimeValue& AsTime() const { return std::get<10>(storage_); }
    const DateTimeValue& AsDateTime() const { return std::get<11>(storage_); }

    // The standard conversion to text: "True"/"False"; integers and decimals with every
    // digit and no exponent; floating point in the shortest form that reads back to the
    // same value (single precision also when read as a double and narrowed, as servers do);
    // YYYY-MM-DD, HH:MM:SS and YYYY-MM-DD HH:MM:SS, each followed by '.' and the source's
    // fractional digits when it has any; binary as 0x and lower-case hex digits. Null converts to
    // the empty text.
    std::string ToText() const;
    // Appends the same text to `out`, so callers can reuse one buffer.
    void AppendText(std::string& out) const;

    bool operator==(const DbValue&) const = default;

private:
    using Storage =
        std::variant<std::monostate, bool, std::int64_t, std::uint64_t, float, double, DecimalValue,
                     std::string, BinaryValue, DateValue, TimeValue, DateTimeValue>;
    explicit DbValue(Storage s)
        : storage_(std::move(s)) {}
    Storage storage_;
};

// Appends two lower-case hex digits for each byte of `bytes`, nothing else.
void AppendHexDigits(std::string& out, std::string_view bytes);

// Returns `fallback` when `value` is Null, otherwise `value`.
inline const DbValue& NullToDefault(const DbValue& value, const DbValue& fallback) {
    return value.IsNull() ? fallback : value;
}

} // namespace veltrane
