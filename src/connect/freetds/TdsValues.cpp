#include "connect/freetds/TdsValues.h"

#include "connect/access/DatabaseError.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

namespace veltrane::tds {

namespace {

template <typename T> T Load(const unsigned char* data) {
    T value;
    std::memcpy(&value, data, sizeof value);
    return value;
}

// Character and binary columns by the server's user type; columns without one (computed
// values) by FreeTDS's client type.
AdoType CharacterOrBinaryType(const ColumnType& c) {
    switch (c.userType) {
    case kUserChar:
    case kUserNChar:
        return AdoType::Char;
    case kUserVarChar:
    case kUserSysName:
    case kUserNVarChar:
        return AdoType::VarChar;
    case kUserUniChar:
        return AdoType::WChar;
    case kUserUniVarChar:
        return AdoType::VarWChar;
    case kUserUniText:
        return AdoType::LongVarWChar;
    case kUserText:
        return AdoType::LongVarChar;
    case kUserImage:
        return AdoType::LongVarBinary;
    case kUserBinary:
        return AdoType::Binary;
    case kUserVarBinary:
    case kUserTimestamp:
        return AdoType::VarBinary;
    default:
        break;
    }
    switch (c.wireType) {
    case kText:
        return AdoType::LongVarChar;
    case kUniText:
    case kNText:
        return AdoType::LongVarWChar;
    case kImage:
        return AdoType::LongVarBinary;
    case kBinary:
    case kVarBinary:
    case kLongBinary:
        return AdoType::VarBinary;
    default:
        return AdoType::VarChar;
    }
}

// UTF-16LE to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string Utf8FromUtf16(const unsigned char* data, std::int64_t length) {
    std::string out;
    out.reserve(static_cast<std::size_t>(length) * 3 / 2);
    const auto unit = [data](std::int64_t i) {
        return static_cast<std::uint32_t>(data[2 * i] | (data[2 * i + 1] << 8));
    };
    const std::int64_t units = length / 2;
    for (std::int64_t i = 0; i < units; ++i) {
        std::uint32_t cp = unit(i);
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < units && unit(i + 1) >= 0xDC00 &&
            unit(i + 1) <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (unit(i + 1) - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

AdoType SignedBySize(int size) {
    switch (size) {
    case 1:
        return AdoType::UnsignedTinyInt; // ASE tinyint is 0..255
    case 2:
        return AdoType::SmallInt;
    case 8:
        return AdoType::BigInt;
    default:
        return AdoType::Integer;
    }
}

AdoType UnsignedBySize(int size) {
    switch (size) {
    case 1:
        return AdoType::UnsignedTinyInt;
    case 2:
        return AdoType::UnsignedSmallInt;
    case 8:
        return AdoType::UnsignedBigInt;
    default:
        return AdoType::UnsignedInt;
    }
}

std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

DateValue CivilFromDays(std::int64_t z) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    return DateValue{static_cast<int>(y + (m <= 2)), m, d};
}

const std::int64_t kDays1900 = DaysFromCivil(1900, 1, 1);

// `value` in at least `width` digits, zeros in front; a fraction of a time in every row.
std::string Digits(unsigned value, int width) {
    char buffer[16];
    char* end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
    const auto digits = static_cast<int>(end - buffer);
    std::string text;
    if (digits < width)
        text.assign(static_cast<std::size_t>(width - digits), '0');
    text.append(buffer, end);
    return text;
}

std::int64_t SignedInteger(const unsigned char* data, std::int64_t length) {
    switch (length) {
    case 1:
        return Load<std::int8_t>(data);
    case 2:
        return Load<std::int16_t>(data);
    case 4:
        return Load<std::int32_t>(data);
    case 8:
        return Load<std::int64_t>(data);
    default:
        throw DatabaseError("Unexpected integer length " + std::to_string(length) + ".");
    }
}

std::uint64_t UnsignedInteger(const unsigned char* data, std::int64_t length) {
    switch (length) {
    case 1:
        return Load<std::uint8_t>(data);
    case 2:
        return Load<std::uint16_t>(data);
    case 4:
        return Load<std::uint32_t>(data);
    case 8:
        return Load<std::uint64_t>(data);
    default:
        throw DatabaseError("Unexpected integer length " + std::to_string(length) + ".");
    }
}

// The digits of a big-endian magnitude of any length, most significant first, "0" for zero:
// repeated division by 10, leaving out the leading bytes that have become zero.
std::string DigitsOfMagnitude(const unsigned char* magnitude, std::size_t bytes) {
    std::vector<unsigned char> work(magnitude, magnitude + bytes);
    std::string reversed;
    std::size_t zeroBytes = 0;
    do {
        unsigned remainder = 0;
        for (std::size_t i = zeroBytes; i < bytes; ++i) {
            const unsigned current = remainder * 256 + work[i];
            work[i] = static_cast<unsigned char>(current / 10);
            remainder = current % 10;
        }
        while (zeroBytes < bytes && work[zeroBytes] == 0)
            ++zeroBytes;
        reversed.push_back(static_cast<char>('0' + remainder));
    } while (zeroBytes < bytes);
    return std::string(reversed.rbegin(), reversed.rend());
}

} // namespace

AdoType AdoTypeOf(const ColumnType& c) {
    switch (c.wireType) {
    case kInt1:
        return AdoType::UnsignedTinyInt;
    case kInt2:
        return AdoType::SmallInt;
    case kInt4:
        return AdoType::Integer;
    case kInt8:
    case kSyb5Int8:
        return AdoType::BigInt;
    case kIntN:
        return SignedBySize(c.size);
    case kUInt1:
        return AdoType::UnsignedTinyInt;
    case kUInt2:
        return AdoType::UnsignedSmallInt;
    case kUInt4:
        return AdoType::UnsignedInt;
    case kUInt8:
        return AdoType::UnsignedBigInt;
    case kUIntN:
        return UnsignedBySize(c.size);
    case kReal:
        return AdoType::Single;
    case kFloat:
        return AdoType::Double;
    case kFloatN:
        return c.size == 4 ? AdoType::Single : AdoType::Double;
    case kBit:
    case kBitN:
        return AdoType::Boolean;
    case kNumeric:
    case kDecimal:
        return AdoType::Numeric;
    case kMoney:
    case kMoney4:
    case kMoneyN:
        return AdoType::Currency;
    case kDateTime:
    case kDateTime4:
    case kDateTimeN:
    case kBigDateTime:
        return AdoType::DBTimeStamp;
    case kDate:
    case kDateN:
        return AdoType::DBDate;
    case kTime:
    case kTimeN:
    case kBigTime:
        return AdoType::DBTime;
    case kChar:
    case kVarChar:
    case kLongChar:
    case kText:
    case kUniText:
    case kNText:
    case kBinary:
    case kVarBinary:
    case kLongBinary:
    case kImage:
        return CharacterOrBinaryType(c);
    default:
        return AdoType::Empty;
    }
}

int NumericBytes(int precision) {
    static constexpr std::array<int, 39> kBytes = {
        0,  2,  2,  3,  3,  4,  4,  4,  5,  5,  6,  6,  6,  7,  7,  8,  8,  9,  9, 9,
        10, 10, 11, 11, 11, 12, 12, 13, 13, 14, 14, 14, 15, 15, 16, 16, 16, 17, 17};
    if (precision < 1 || precision > 38)
        throw DatabaseError("Unsupported numeric precision " + std::to_string(precision) + ".");
    return kBytes[static_cast<std::size_t>(precision)];
}

std::string DecimalFromMagnitude(bool negative, const unsigned char* magnitude, int length,
                                 int scale) {
    const auto bytes = static_cast<std::size_t>(std::max(length, 0));
    // The digits, most significant first, "0" for zero. A magnitude of up to 8 bytes (every
    // numeric of up to 18 digits) is one integer.
    char small[24];
    std::string large;
    std::string_view digits;
    if (bytes <= 8) {
        std::uint64_t value = 0;
        for (std::size_t i = 0; i < bytes; ++i)
            value = value << 8 | magnitude[i];
        const char* end = std::to_chars(small, small + sizeof small, value).ptr;
        digits = std::string_view(small, static_cast<std::size_t>(end - small));
    } else {
        large = DigitsOfMagnitude(magnitude, bytes);
        digits = large;
    }
    const auto fraction = static_cast<std::size_t>(std::max(scale, 0));
    const bool zero = digits.find_first_not_of('0') == std::string_view::npos;
    std::string text;
    text.reserve(digits.size() + fraction + 3);
    if (negative && !zero)
        text.push_back('-');
    if (digits.size() <= fraction) {
        text.append("0.");
        text.append(fraction - digits.size(), '0');
        text.append(digits);
    } else {
        text.append(digits.substr(0, digits.size() - fraction));
        if (fraction > 0) {
            text.push_back('.');
            text.append(digits.substr(digits.size() - fraction));
        }
    }
    return text;
}

std::string MoneyText(std::int64_t units) {
    const bool negative = units < 0;
    const std::uint64_t magnitude =
        negative ? ~static_cast<std::uint64_t>(units) + 1 : static_cast<std::uint64_t>(units);
    std::string text = std::to_string(magnitude / 10000) + "." +
                       Digits(static_cast<unsigned>(magnitude % 10000), 4);
    return negative ? "-" + text : text;
}

DateValue DateFromDays1900(std::int64_t days) {
    return CivilFromDays(kDays1900 + days);
}

TimeValue TimeFromTicks300(std::int64_t ticks) {
    // Nearest millisecond: ticks * 10 / 3 rounded half up.
    const std::int64_t ms = (ticks * 10 + 1) / 3;
    TimeValue t;
    t.hour = static_cast<unsigned>(ms / 3600000);
    t.minute = static_cast<unsigned>(ms / 60000 % 60);
    t.second = static_cast<unsigned>(ms / 1000 % 60);
    t.fraction = Digits(static_cast<unsigned>(ms % 1000), 3);
    return t;
}

TimeValue TimeFromMicroseconds(std::uint64_t micros) {
    TimeValue t;
    t.hour = static_cast<unsigned>(micros / 3600000000ULL);
    t.minute = static_cast<unsigned>(micros / 60000000ULL % 60);
    t.second = static_cast<unsigned>(micros / 1000000ULL % 60);
    t.fraction = Digits(static_cast<unsigned>(micros % 1000000ULL), 6);
    return t;
}

DateTimeValue BigDateTimeFromMicroseconds(std::uint64_t micros) {
    constexpr std::uint64_t kMicrosPerDay = 86400000000ULL;
    const auto days = static_cast<std::int64_t>(micros / kMicrosPerDay) - 693961;
    return DateTimeValue{DateFromDays1900(days), TimeFromMicroseconds(micros % kMicrosPerDay)};
}

DbValue DecodeValue(const ColumnType& c, const unsigned char* data, std::int64_t length) {
    if (data == nullptr)
        return DbValue::Null();
    // A text, unitext or image value that was set once and then updated to NULL keeps its text
    // pointer, and the server sends it as a pointer to no data. ASE stores '' as one blank, so
    // a value of no bytes in these columns is never a real one: it is that NULL.
    if (length == 0 && (c.wireType == kText || c.wireType == kImage || c.wireType == kUniText ||
                        c.wireType == kNText))
        return DbValue::Null();
    const auto need = [&](std::int64_t bytes) {
        if (length < bytes)
            throw DatabaseError("A value of column type " + std::to_string(c.wireType) +
                                " is shorter than expected (" + std::to_string(length) +
                                " bytes).");
    };
    switch (c.wireType) {
    case kInt1:
    case kUInt1:
    case kUInt2:
    case kUInt4:
    case kUInt8:
    case kUIntN:
        return DbValue::UInt(UnsignedInteger(data, length));
    case kInt2:
    case kInt4:
    case kInt8:
    case kSyb5Int8:
        return DbValue::Int(SignedInteger(data, length));
    case kIntN:
        // tinyint is the one unsigned member of the signed family.
        if (length == 1)
            return DbValue::UInt(data[0]);
        return DbValue::Int(SignedInteger(data, length));
    case kReal:
        need(4);
        return DbValue::Single(Load<float>(data));
    case kFloat:
        need(8);
        return DbValue::Double(Load<double>(data));
    case kFloatN:
        if (length == 4)
            return DbValue::Single(Load<float>(data));
        need(8);
        return DbValue::Double(Load<double>(data));
    case kBit:
    case kBitN:
        need(1);
        return DbValue::Boolean(data[0] != 0);
    case kNumeric:
    case kDecimal: {
        // DBNUMERIC: precision, scale, then sign byte and big-endian magnitude.
        need(3);
        const int precision = data[0];
        const int scale = data[1];
        const int bytes = NumericBytes(precision);
        need(2 + bytes);
        return DbValue::Decimal(DecimalFromMagnitude(data[2] != 0, data + 3, bytes - 1, scale));
    }
    case kMoney4:
        need(4);
        return DbValue::Decimal(MoneyText(Load<std::int32_t>(data)));
    case kMoney:
    case kMoneyN: {
        if (length == 4)
            return DbValue::Decimal(MoneyText(Load<std::int32_t>(data)));
        need(8);
        // DBMONEY: signed high half, then unsigned low half.
        const auto high = Load<std::int32_t>(data);
        const auto low = Load<std::uint32_t>(data + 4);
        const auto units = static_cast<std::int64_t>(
            (static_cast<std::uint64_t>(static_cast<std::uint32_t>(high)) << 32) | low);
        return DbValue::Decimal(MoneyText(units));
    }
    case kDateTime4: {
        need(4);
        const auto days = Load<std::uint16_t>(data);
        const auto minutes = Load<std::uint16_t>(data + 2);
        TimeValue t{false, minutes / 60u, minutes % 60u, 0, ""};
        return DbValue::DateTime(DateTimeValue{DateFromDays1900(days), t});
    }
    case kDateTime:
    case kDateTimeN: {
        if (length == 4)
            return DecodeValue(ColumnType{kDateTime4, c.userType, 4}, data, 4);
        need(8);
        return DbValue::DateTime(DateTimeValue{DateFromDays1900(Load<std::int32_t>(data)),
                                               TimeFromTicks300(Load<std::int32_t>(data + 4))});
    }
    case kDate:
    case kDateN:
        need(4);
        return DbValue::Date(DateFromDays1900(Load<std::int32_t>(data)));
    case kTime:
    case kTimeN:
        need(4);
        return DbValue::Time(TimeFromTicks300(Load<std::int32_t>(data)));
    case kBigDateTime:
        need(8);
        return DbValue::DateTime(BigDateTimeFromMicroseconds(Load<std::uint64_t>(data)));
    case kBigTime:
        need(8);
        return DbValue::Time(TimeFromMicroseconds(Load<std::uint64_t>(data)));
    default:
        break;
    }
    // unitext arrives as an image column in UTF-16 that FreeTDS does not convert.
    if (c.wireType == kImage && c.userType == kUserUniText)
        return DbValue::Text(Utf8FromUtf16(data, length));
    std::string bytes(reinterpret_cast<const char*>(data), static_cast<std::size_t>(length));
    switch (AdoTypeOf(c)) {
    case AdoType::Binary:
    case AdoType::VarBinary:
    case AdoType::LongVarBinary:
        return DbValue::Binary(std::move(bytes));
    case AdoType::Empty:
        throw DatabaseError("Unsupported Sybase ASE column type " + std::to_string(c.wireType) +
                            ".");
    default:
        return DbValue::Text(std::move(bytes));
    }
}

} // namespace veltrane::tds
