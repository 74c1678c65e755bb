#include "connect/mariadb/MariaDbValues.h"

#include "connect/access/DatabaseError.h"

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <string_view>
#include <utility>

namespace veltrane::mariadb {

namespace {

constexpr unsigned kBinaryCharset = 63;

std::int64_t CharacterCount(const MYSQL_FIELD& field) {
    const MARIADB_CHARSET_INFO* charset = mariadb_get_charset_by_nr(field.charsetnr);
    const unsigned maxBytes = charset && charset->char_maxlen > 0 ? charset->char_maxlen : 1;
    return static_cast<std::int64_t>(field.length / maxBytes);
}

// A cursor over text: each reader consumes what it matched and reports whether it did.
class TextReader {
public:
    explicit TextReader(std::string_view text)
        : p_(text.data())
        , end_(text.data() + text.size()) {}

    bool AtEnd() const { return p_ == end_; }
    bool Take(char c) {
        if (p_ != end_ && *p_ == c) {
            ++p_;
            return true;
        }
        return false;
    }
    template <typename T> bool Number(T& value, int minDigits, int maxDigits) {
        const char* start = p_;
        const char* stop = p_;
        while (stop != end_ && stop - start < maxDigits && *stop >= '0' && *stop <= '9') {
            ++stop;
        }
        if (stop - start < minDigits) {
            return false;
        }
        auto [next, ec] = std::from_chars(start, stop, value);
        p_ = next;
        return ec == std::errc() && next == stop;
    }
    bool Digits(std::string& out) {
        const char* start = p_;
        while (p_ != end_ && *p_ >= '0' && *p_ <= '9') {
            ++p_;
        }
        out.assign(start, p_);
        return p_ != start;
    }

private:
    const char* p_;
    const char* end_;
};

bool ReadDate(TextReader& r, DateValue& d) {
    return r.Number(d.year, 4, 4) && r.Take('-') && r.Number(d.month, 2, 2) && r.Take('-') &&
           r.Number(d.day, 2, 2);
}

// "HH:MM:SS" with an optional fraction; a TIME column allows a sign and up to 838 hours.
bool ReadTime(TextReader& r, TimeValue& t, bool allowInterval) {
    if (allowInterval) {
        t.negative = r.Take('-');
    }
    if (!(r.Number(t.hour, 2, allowInterval ? 3 : 2) && r.Take(':') && r.Number(t.minute, 2, 2) &&
          r.Take(':') && r.Number(t.second, 2, 2))) {
        return false;
    }
    if (r.Take('.')) {
        return r.Digits(t.fraction);
    }
    t.fraction.clear();
    return true;
}

[[noreturn]] void ThrowUnreadable(const Column& column, std::string_view text) {
    throw DatabaseError("The value '" + std::string(text.substr(0, 64)) + "' of column '" +
                        column.info.name + "' cannot be read as its type.");
}

template <typename T> T ParseNumber(const Column& column, std::string_view text) {
    T value{};
    auto [next, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || next != text.data() + text.size()) {
        ThrowUnreadable(column, text);
    }
    return value;
}

} // namespace

Column DescribeColumn(const MYSQL_FIELD& field) {
    Column c;
    c.info.name.assign(field.name, field.name_length);
    const bool isUnsigned = (field.flags & UNSIGNED_FLAG) != 0;
    const bool isBinary = field.charsetnr == kBinaryCharset;
    const int length = static_cast<int>(field.length);
    auto integer = [&](AdoType signedType, AdoType unsignedType, int digits, int unsignedDigits,
                       int bytes) {
        c.info.type = isUnsigned ? unsignedType : signedType;
        c.info.precision = isUnsigned ? unsignedDigits : digits;
        c.info.definedSize = bytes;
        c.conversion = isUnsigned ? Conversion::UInt : Conversion::Int;
    };
    switch (field.type) {
    case MYSQL_TYPE_TINY:
        integer(AdoType::TinyInt, AdoType::UnsignedTinyInt, 3, 3, 1);
        break;
    case MYSQL_TYPE_SHORT:
        integer(AdoType::SmallInt, AdoType::UnsignedSmallInt, 5, 5, 2);
        break;
    case MYSQL_TYPE_INT24:
        integer(AdoType::Integer, AdoType::UnsignedInt, 7, 8, 4);
        break;
    case MYSQL_TYPE_LONG:
        integer(AdoType::Integer, AdoType::UnsignedInt, 10, 10, 4);
        break;
    case MYSQL_TYPE_LONGLONG:
        integer(AdoType::BigInt, AdoType::UnsignedBigInt, 19, 20, 8);
        break;
    case MYSQL_TYPE_YEAR:
        c.info.type = AdoType::SmallInt;
        c.info.precision = 4;
        c.info.definedSize = 2;
        c.conversion = Conversion::Int;
        break;
    case MYSQL_TYPE_DECIMAL:
    case MYSQL_TYPE_NEWDECIMAL:
        // The display length counts a sign (unless unsigned) and a point (when there are
        // decimals); the digits are what remains, as the ODBC driver computes it.
        c.info.type = AdoType::Numeric;
        c.info.scale = static_cast<int>(field.decimals);
        c.info.precision = length - (isUnsigned ? 0 : 1) - (field.decimals > 0 ? 1 : 0);
        c.info.definedSize = length;
        c.conversion = Conversion::Decimal;
        break;
    case MYSQL_TYPE_FLOAT:
        c.info.type = AdoType::Single;
        c.info.precision = 7;
        c.info.definedSize = 4;
        c.conversion = Conversion::Single;
        break;
    case MYSQL_TYPE_DOUBLE:
        c.info.type = AdoType::Double;
        c.info.precision = 15;
        c.info.definedSize = 8;
        c.conversion = Conversion::Double;
        break;
    case MYSQL_TYPE_DATE:
    case MYSQL_TYPE_NEWDATE:
        c.info.type = AdoType::DBDate;
        c.info.precision = 10;
        c.info.definedSize = 6;
        c.conversion = Conversion::Date;
        break;
    case MYSQL_TYPE_TIME:
    case MYSQL_TYPE_TIME2:
        c.info.type = AdoType::DBTime;
        c.info.precision = length;
        c.info.scale = static_cast<int>(field.decimals);
        c.info.definedSize = 6;
        c.conversion = Conversion::Time;
        break;
    case MYSQL_TYPE_DATETIME:
    case MYSQL_TYPE_DATETIME2:
    case MYSQL_TYPE_TIMESTAMP:
    case MYSQL_TYPE_TIMESTAMP2:
        c.info.type = AdoType::DBTimeStamp;
        c.info.precision = length;
        c.info.scale = static_cast<int>(field.decimals);
        c.info.definedSize = 16;
        c.conversion = Conversion::DateTime;
        break;
    case MYSQL_TYPE_BIT:
        // BIT(1) is a flag. Wider BIT columns stay bytes (most significant first): every bit
        // survives and no width limit applies, where an integer would suggest arithmetic.
        if (field.length == 1) {
            c.info.type = AdoType::Boolean;
            c.info.precision = 1;
            c.info.definedSize = 1;
            c.conversion = Conversion::Boolean;
        } else {
            c.info.type = AdoType::VarBinary;
            c.info.definedSize = (static_cast<std::int64_t>(field.length) + 7) / 8;
            c.conversion = Conversion::Binary;
        }
        break;
    case MYSQL_TYPE_STRING:
    case MYSQL_TYPE_ENUM:
    case MYSQL_TYPE_SET:
        if (isBinary) {
            c.info.type = AdoType::Binary;
            c.info.definedSize = field.length;
            c.conversion = Conversion::Binary;
        } else {
            c.info.type = AdoType::Char;
            c.info.definedSize = CharacterCount(field);
            c.conversion = Conversion::Text;
        }
        break;
    case MYSQL_TYPE_VARCHAR:
    case MYSQL_TYPE_VAR_STRING:
        if (isBinary) {
            c.info.type = AdoType::VarBinary;
            c.info.definedSize = field.length;
            c.conversion = Conversion::Binary;
        } else {
            c.info.type = AdoType::VarChar;
            c.info.definedSize = CharacterCount(field);
            c.conversion = Conversion::Text;
        }
        break;
    case MYSQL_TYPE_TINY_BLOB:
    case MYSQL_TYPE_MEDIUM_BLOB:
    case MYSQL_TYPE_LONG_BLOB:
    case MYSQL_TYPE_BLOB:
    case MYSQL_TYPE_JSON:
        // TEXT and BLOB share these codes; only the binary character set tells them apart.
        // JSON (MariaDB sends it as a utf8mb4 LONGTEXT) is text.
        if (isBinary && field.type != MYSQL_TYPE_JSON) {
            c.info.type = AdoType::LongVarBinary;
            c.info.definedSize = field.length;
            c.conversion = Conversion::Binary;
        } else {
            c.info.type = AdoType::LongVarChar;
            c.info.definedSize = CharacterCount(field);
            c.conversion = Conversion::Text;
        }
        break;
    case MYSQL_TYPE_GEOMETRY:
        c.info.type = AdoType::LongVarBinary;
        c.info.definedSize = field.length;
        c.conversion = Conversion::Binary;
        break;
    case MYSQL_TYPE_NULL:
        c.info.type = AdoType::VarChar;
        c.conversion = Conversion::Null;
        break;
    default:
        c.info.type = isBinary ? AdoType::LongVarBinary : AdoType::LongVarChar;
        c.info.definedSize = field.length;
        c.conversion = isBinary ? Conversion::Binary : Conversion::Text;
        break;
    }
    return c;
}

DbValue ConvertField(const Column& column, const char* data, unsigned long length) {
    if (data == nullptr) {
        return DbValue::Null();
    }
    const std::string_view text(data, length);
    switch (column.conversion) {
    case Conversion::Null:
        return DbValue::Null();
    case Conversion::Int:
        return DbValue::Int(ParseNumber<std::int64_t>(column, text));
    case Conversion::UInt:
        return DbValue::UInt(ParseNumber<std::uint64_t>(column, text));
    case Conversion::Decimal:
        return DbValue::Decimal(std::string(text));
    case Conversion::Single:
        return DbValue::Single(ParseNumber<float>(column, text));
    case Conversion::Double:
        return DbValue::Double(ParseNumber<double>(column, text));
    case Conversion::Date: {
        TextReader r(text);
        DateValue d;
        if (!ReadDate(r, d) || !r.AtEnd()) {
            ThrowUnreadable(column, text);
        }
        return DbValue::Date(d);
    }
    case Conversion::Time: {
        TextReader r(text);
        TimeValue t;
        if (!ReadTime(r, t, true) || !r.AtEnd()) {
            ThrowUnreadable(column, text);
        }
        return DbValue::Time(std::move(t));
    }
    case Conversion::DateTime: {
        TextReader r(text);
        DateTimeValue dt;
        if (!ReadDate(r, dt.date) || !r.Take(' ') || !ReadTime(r, dt.time, false) || !r.AtEnd()) {
            ThrowUnreadable(column, text);
        }
        return DbValue::DateTime(std::move(dt));
    }
    case Conversion::Boolean:
        return DbValue::Boolean(length > 0 && data[length - 1] != 0);
    case Conversion::Text:
        return DbValue::Text(std::string(text));
    case Conversion::Binary:
        return DbValue::Binary(std::string(text));
    }
    return DbValue::Null();
}

std::string FractionDigits(unsigned long microseconds, unsigned decimals) {
    if (decimals == 0 || (decimals > 6 && microseconds == 0)) {
        return {};
    }
    char digits[8];
    std::snprintf(digits, sizeof digits, "%06lu", microseconds % 1000000);
    return std::string(digits, decimals > 6 ? 6 : decimals);
}

} // namespace veltrane::mariadb
