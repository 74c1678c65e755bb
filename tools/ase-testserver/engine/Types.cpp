#include "Types.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace asetest {

namespace {

__extension__ typedef unsigned __int128 UInt128;

constexpr std::int64_t kTicksPerDay = 300LL * 86400;

const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                               "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

struct Exact {
    Int128 v = 0;
    int scale = 0;
};

bool ToExact(const Datum& d, Exact& e) {
    const AseType t = d.type.type;
    if (IsUnsignedType(t)) {
        e = {static_cast<Int128>(d.value.unsignedInteger), 0};
    } else if (IsIntegerType(t)) {
        e = {d.value.integer, 0};
    } else if (IsDecimalType(t)) {
        e = {d.value.unscaled, d.type.scale};
    } else if (IsMoneyType(t)) {
        e = {d.value.integer, 4};
    } else {
        return false;
    }
    return true;
}

double ToDouble(const Datum& d) {
    if (IsApproxType(d.type.type)) {
        return d.value.real;
    }
    Exact e;
    ToExact(d, e);
    return std::strtod(FormatScaled(e.v, e.scale).c_str(), nullptr);
}

Int128 Abs128(Int128 v) {
    return v < 0 ? -v : v;
}

// Rescales with rounding half away from zero; false on overflow of 128 bits.
bool Rescale(Int128 v, int from, int to, Int128& out) {
    if (to >= from) {
        const Int128 f = Pow10(to - from);
        const Int128 limit = std::numeric_limits<Int128>::max() / f;
        if (Abs128(v) > limit) {
            return false;
        }
        out = v * f;
        return true;
    }
    const Int128 f = Pow10(from - to);
    Int128 q = v / f;
    const Int128 r = v % f;
    if (Abs128(r) * 2 >= f) {
        q += v < 0 ? -1 : 1;
    }
    out = q;
    return true;
}

// The exact decimal of the shortest text that reads back as `x`, so that 0.1 is 0.1.
bool DoubleToExact(double x, bool single, Exact& e) {
    if (!std::isfinite(x)) {
        return false;
    }
    char buf[64];
    const std::to_chars_result r =
        single ? std::to_chars(buf, buf + sizeof buf, static_cast<float>(x),
                               std::chars_format::scientific)
               : std::to_chars(buf, buf + sizeof buf, x, std::chars_format::scientific);
    const std::string text(buf, r.ptr);
    const std::size_t ePos = text.find('e');
    std::string mantissa = text.substr(0, ePos);
    const int exponent = std::atoi(text.c_str() + ePos + 1);
    const bool negative = !mantissa.empty() && mantissa[0] == '-';
    if (negative) {
        mantissa.erase(0, 1);
    }
    int scale = 0;
    if (const std::size_t point = mantissa.find('.'); point != std::string::npos) {
        scale = static_cast<int>(mantissa.size() - point - 1);
        mantissa.erase(point, 1);
    }
    scale -= exponent;
    Int128 v = 0;
    if (!ParseInt128(mantissa, v)) {
        return false;
    }
    if (scale < 0) {
        if (scale < -38 || !Rescale(v, 0, -scale, v)) {
            return false;
        }
        scale = 0;
    } else if (scale > 76) {
        v = 0; // far below any scale a column can keep
        scale = 0;
    } else if (scale > 38) {
        Rescale(v, scale, 38, v);
        scale = 38;
    }
    e = {negative ? -v : v, scale};
    return true;
}

[[noreturn]] void Overflow(const Datum& in, AseType target, bool explicitConversion) {
    throw EngineError(explicitConversion ? 247 : 220, 16,
                      std::string("Arithmetic overflow during ") +
                          (explicitConversion ? "explicit" : "implicit") + " conversion of " +
                          TypeName(in.type.type) + " value '" + FormatDatum(in) + "' to a " +
                          TypeName(target) + " field .");
}

[[noreturn]] void NotAllowed(AseType from, AseType to, bool explicitConversion) {
    if (explicitConversion) {
        throw EngineError(529, 16,
                          "Explicit conversion from datatype '" + TypeName(from) + "' to '" +
                              TypeName(to) + "' is not allowed.");
    }
    throw EngineError(257, 16,
                      "Implicit conversion from datatype '" + TypeName(from) + "' to '" +
                          TypeName(to) +
                          "' is not allowed.  Use the CONVERT function to run "
                          "this query.");
}

[[noreturn]] void SyntaxError(const Datum& in, AseType target, bool explicitConversion) {
    throw EngineError(249, 16,
                      std::string("Syntax error during ") +
                          (explicitConversion ? "explicit" : "implicit") + " conversion of " +
                          TypeName(in.type.type) + " value '" + in.value.bytes + "' to a " +
                          TypeName(target) + " field.");
}

bool IntegerRange(AseType t, Int128& lo, Int128& hi) {
    switch (t) {
    case AseType::TinyInt:
        lo = 0, hi = 255;
        return true;
    case AseType::SmallInt:
        lo = -32768, hi = 32767;
        return true;
    case AseType::Int:
        lo = std::numeric_limits<std::int32_t>::min(),
        hi = std::numeric_limits<std::int32_t>::max();
        return true;
    case AseType::BigInt:
        lo = std::numeric_limits<std::int64_t>::min(),
        hi = std::numeric_limits<std::int64_t>::max();
        return true;
    case AseType::USmallInt:
        lo = 0, hi = 65535;
        return true;
    case AseType::UInt:
        lo = 0, hi = std::numeric_limits<std::uint32_t>::max();
        return true;
    case AseType::UBigInt:
        lo = 0, hi = std::numeric_limits<std::uint64_t>::max();
        return true;
    case AseType::Bit:
        lo = 0, hi = 1;
        return true;
    default:
        return false;
    }
}

void SetInteger(Datum& out, Int128 v) {
    if (IsUnsignedType(out.type.type)) {
        out.value.unsignedInteger = static_cast<std::uint64_t>(v);
    } else {
        out.value.integer = static_cast<std::int64_t>(v);
    }
}

std::string Trim(std::string_view s) {
    std::size_t b = 0;
    std::size_t e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) {
        ++b;
    }
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) {
        --e;
    }
    return std::string(s.substr(b, e - b));
}

// Number text: [sign][$]digits[.digits][e[sign]digits]. Exact part in `e` when there is
// no exponent.
bool ParseNumberText(std::string_view raw, bool& approx, Exact& e, double& real) {
    std::string s = Trim(raw);
    std::string digits;
    bool negative = false;
    std::size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        negative = s[i] == '-';
        ++i;
    }
    if (i < s.size() && s[i] == '$') {
        ++i;
    }
    int scale = 0;
    bool seenDigit = false;
    bool seenPoint = false;
    for (; i < s.size(); ++i) {
        const char c = s[i];
        if (std::isdigit(static_cast<unsigned char>(c))) {
            digits += c;
            seenDigit = true;
            if (seenPoint) {
                ++scale;
            }
        } else if (c == '.' && !seenPoint) {
            seenPoint = true;
        } else {
            break;
        }
    }
    if (!seenDigit) {
        return false;
    }
    approx = false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        approx = true;
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
            ++i;
        }
        const std::size_t expStart = i;
        while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) {
            ++i;
        }
        if (i == expStart) {
            return false;
        }
    }
    if (i != s.size()) {
        return false;
    }
    std::string plain = s;
    if (auto dollar = plain.find('$'); dollar != std::string::npos) {
        plain.erase(dollar, 1);
    }
    real = std::strtod(plain.c_str(), nullptr);
    if (approx) {
        return true;
    }
    std::size_t firstNonZero = digits.find_first_not_of('0');
    if (firstNonZero == std::string::npos) {
        digits = "0";
    } else {
        digits = digits.substr(firstNonZero);
    }
    if (digits.size() > 38) {
        // Drop fraction digits that cannot be kept; integers this long are floats.
        const int drop = static_cast<int>(digits.size()) - 38;
        if (drop > scale) {
            approx = true;
            return true;
        }
        digits.resize(digits.size() - drop);
        scale -= drop;
    }
    Int128 v = 0;
    ParseInt128(digits, v);
    e = {negative ? -v : v, scale};
    return true;
}

bool ToDayMicros(const Datum& d, std::int64_t& days, std::int64_t& micros) {
    const Value& v = d.value;
    switch (d.type.type) {
    case AseType::DateTime:
        days = v.days;
        micros = (v.fraction * 10000 + 1) / 3;
        return true;
    case AseType::SmallDateTime:
        days = v.days;
        micros = v.fraction * 60000000LL;
        return true;
    case AseType::Date:
        days = v.days;
        micros = 0;
        return true;
    case AseType::Time:
        days = 0;
        micros = (v.fraction * 10000 + 1) / 3;
        return true;
    case AseType::BigDateTime:
        days = v.days;
        micros = v.fraction;
        return true;
    case AseType::BigTime:
        days = 0;
        micros = v.fraction;
        return true;
    default:
        return false;
    }
}

bool FromDayMicros(std::int64_t days, std::int64_t micros, AseType t, Value& out) {
    const std::int64_t minAny = DaysFromCivil(1, 1, 1);
    const std::int64_t maxAny = DaysFromCivil(9999, 12, 31);
    switch (t) {
    case AseType::DateTime: {
        std::int64_t ticks = (micros * 300 + 500000) / 1000000;
        if (ticks >= kTicksPerDay) {
            ticks -= kTicksPerDay;
            ++days;
        }
        if (days < DaysFromCivil(1753, 1, 1) || days > maxAny) {
            return false;
        }
        out.days = days;
        out.fraction = ticks;
        return true;
    }
    case AseType::SmallDateTime: {
        std::int64_t minutes = (micros + 30000000) / 60000000;
        if (minutes >= 1440) {
            minutes -= 1440;
            ++days;
        }
        if (days < 0 || days > DaysFromCivil(2079, 6, 6)) {
            return false;
        }
        out.days = days;
        out.fraction = minutes;
        return true;
    }
    case AseType::Date:
        if (days < minAny || days > maxAny) {
            return false;
        }
        out.days = days;
        out.fraction = 0;
        return true;
    case AseType::Time: {
        std::int64_t ticks = (micros * 300 + 500000) / 1000000;
        if (ticks >= kTicksPerDay) {
            ticks = kTicksPerDay - 1;
        }
        out.days = 0;
        out.fraction = ticks;
        return true;
    }
    case AseType::BigDateTime:
        if (days < minAny || days > maxAny) {
            return false;
        }
        out.days = days;
        out.fraction = micros;
        return true;
    case AseType::BigTime:
        out.days = 0;
        out.fraction = micros;
        return true;
    default:
        return false;
    }
}

std::string Hex(std::string_view bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    s.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        s += digits[c >> 4];
        s += digits[c & 15];
    }
    return s;
}

bool Unhex(std::string_view text, std::string& out) {
    std::string s = Trim(text);
    if (s.size() >= 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        s = s.substr(2);
    }
    if (s.size() % 2) {
        s.insert(s.begin(), '0');
    }
    out.clear();
    for (std::size_t i = 0; i < s.size(); i += 2) {
        int b = 0;
        auto [p, ec] = std::from_chars(s.data() + i, s.data() + i + 2, b, 16);
        if (ec != std::errc() || p != s.data() + i + 2) {
            return false;
        }
        out += static_cast<char>(b);
    }
    return true;
}

std::string Pad2(unsigned v, char fill = '0') {
    std::string s = std::to_string(v);
    if (s.size() < 2) {
        s.insert(s.begin(), fill);
    }
    return s;
}

std::string FormatDate(std::int64_t days, std::int64_t micros, AseType t, int style) {
    std::int64_t y = 0;
    unsigned m = 0;
    unsigned d = 0;
    CivilFromDays(days, y, m, d);
    const unsigned hour = static_cast<unsigned>(micros / 3600000000LL);
    const unsigned minute = static_cast<unsigned>(micros / 60000000LL % 60);
    const unsigned second = static_cast<unsigned>(micros / 1000000 % 60);
    const std::int64_t frac = micros % 1000000;
    const bool big = t == AseType::BigDateTime || t == AseType::BigTime;
    char fracText[16];
    if (big) {
        std::snprintf(fracText, sizeof fracText, "%06lld", static_cast<long long>(frac));
    } else {
        std::snprintf(
            fracText, sizeof fracText, "%03lld",
            static_cast<long long>((frac + 500) / 1000 > 999 ? 999 : (frac + 500) / 1000));
    }
    char year[8];
    std::snprintf(year, sizeof year, "%04lld", static_cast<long long>(y));
    const bool hasDate = t != AseType::Time && t != AseType::BigTime;
    const bool hasTime = t != AseType::Date;
    const std::string ymd = std::string(year) + "-" + Pad2(m) + "-" + Pad2(d);
    const std::string hms = Pad2(hour) + ":" + Pad2(minute) + ":" + Pad2(second);
    const unsigned h12 = hour % 12 == 0 ? 12 : hour % 12;
    const char* ampm = hour < 12 ? "AM" : "PM";
    const std::string monDay = std::string(kMonths[m - 1]) + " " + Pad2(d, ' ') + " " + year;
    switch (style) {
    case 101:
        return Pad2(m) + "/" + Pad2(d) + "/" + year;
    case 102:
        return std::string(year) + "." + Pad2(m) + "." + Pad2(d);
    case 106:
        return Pad2(d) + " " + kMonths[m - 1] + " " + year;
    case 107:
        return std::string(kMonths[m - 1]) + " " + Pad2(d) + ", " + year;
    case 110:
        return Pad2(m) + "-" + Pad2(d) + "-" + year;
    case 103:
        return Pad2(d) + "/" + Pad2(m) + "/" + year;
    case 104:
        return Pad2(d) + "." + Pad2(m) + "." + year;
    case 105:
        return Pad2(d) + "-" + Pad2(m) + "-" + year;
    case 108:
    case 8:
        return hms;
    case 109:
    case 9: {
        std::string s;
        if (hasDate) {
            s = monDay + " ";
        }
        if (hasTime) {
            s += Pad2(h12, ' ') + ":" + Pad2(minute) + ":" + Pad2(second) + ":" + fracText + ampm;
        }
        return s;
    }
    case 111:
        return std::string(year) + "/" + Pad2(m) + "/" + Pad2(d);
    case 112:
        return std::string(year) + Pad2(m) + Pad2(d);
    case 23:
        return ymd + "T" + hms;
    case 20:
    case 120:
        return hasDate ? (hasTime ? ymd + " " + hms : ymd) : hms;
    case 121:
    case 140: {
        std::string s;
        if (hasDate) {
            s = ymd;
        }
        if (hasTime) {
            if (!s.empty()) {
                s += " ";
            }
            s += hms + "." + fracText;
        }
        return s;
    }
    default: {
        std::string s;
        if (hasDate) {
            s = monDay;
        }
        if (hasTime) {
            if (!s.empty()) {
                s += " ";
            }
            s += Pad2(h12, ' ') + ":" + Pad2(minute) + ampm;
        }
        return s;
    }
    }
}

std::string FormatDouble(double v, bool single) {
    char buf[64];
    std::to_chars_result r = single ? std::to_chars(buf, buf + sizeof buf, static_cast<float>(v))
                                    : std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

std::string StoredBlank(std::string s) {
    if (s.empty()) {
        s = " ";
    }
    return s;
}

std::string RightTrimBlanks(std::string s) {
    std::size_t e = s.find_last_not_of(' ');
    if (e == std::string::npos) {
        return " ";
    }
    s.resize(e + 1);
    return s;
}

} // namespace

bool IsIntegerType(AseType t) {
    switch (t) {
    case AseType::TinyInt:
    case AseType::SmallInt:
    case AseType::Int:
    case AseType::BigInt:
    case AseType::USmallInt:
    case AseType::UInt:
    case AseType::UBigInt:
    case AseType::Bit:
        return true;
    default:
        return false;
    }
}
bool IsUnsignedType(AseType t) {
    return t == AseType::USmallInt || t == AseType::UInt || t == AseType::UBigInt;
}
bool IsDecimalType(AseType t) {
    return t == AseType::Numeric || t == AseType::Decimal;
}
bool IsMoneyType(AseType t) {
    return t == AseType::Money || t == AseType::SmallMoney;
}
bool IsApproxType(AseType t) {
    return t == AseType::Real || t == AseType::Float;
}
bool IsNumberType(AseType t) {
    return IsIntegerType(t) || IsDecimalType(t) || IsMoneyType(t) || IsApproxType(t);
}
bool IsDateType(AseType t) {
    switch (t) {
    case AseType::DateTime:
    case AseType::SmallDateTime:
    case AseType::Date:
    case AseType::Time:
    case AseType::BigDateTime:
    case AseType::BigTime:
        return true;
    default:
        return false;
    }
}
bool IsCharType(AseType t) {
    return t == AseType::Char || t == AseType::VarChar || t == AseType::Text;
}
bool IsUniType(AseType t) {
    return t == AseType::UniChar || t == AseType::UniVarChar || t == AseType::UniText;
}
bool IsStringType(AseType t) {
    return IsCharType(t) || IsUniType(t);
}
bool IsBinaryType(AseType t) {
    return t == AseType::Binary || t == AseType::VarBinary || t == AseType::Image;
}
bool IsLargeType(AseType t) {
    return t == AseType::Text || t == AseType::UniText || t == AseType::Image;
}

std::string TypeName(AseType t) {
    switch (t) {
    case AseType::TinyInt:
        return "TINYINT";
    case AseType::SmallInt:
        return "SMALLINT";
    case AseType::Int:
        return "INT";
    case AseType::BigInt:
        return "BIGINT";
    case AseType::USmallInt:
        return "UNSIGNED SMALLINT";
    case AseType::UInt:
        return "UNSIGNED INT";
    case AseType::UBigInt:
        return "UNSIGNED BIGINT";
    case AseType::Numeric:
        return "NUMERIC";
    case AseType::Decimal:
        return "DECIMAL";
    case AseType::Real:
        return "REAL";
    case AseType::Float:
        return "FLOAT";
    case AseType::Money:
        return "MONEY";
    case AseType::SmallMoney:
        return "SMALLMONEY";
    case AseType::Bit:
        return "BIT";
    case AseType::DateTime:
        return "DATETIME";
    case AseType::SmallDateTime:
        return "SMALLDATETIME";
    case AseType::Date:
        return "DATE";
    case AseType::Time:
        return "TIME";
    case AseType::BigDateTime:
        return "BIGDATETIME";
    case AseType::BigTime:
        return "BIGTIME";
    case AseType::Char:
        return "CHAR";
    case AseType::VarChar:
        return "VARCHAR";
    case AseType::UniChar:
        return "UNICHAR";
    case AseType::UniVarChar:
        return "UNIVARCHAR";
    case AseType::Text:
        return "TEXT";
    case AseType::UniText:
        return "UNITEXT";
    case AseType::Binary:
        return "BINARY";
    case AseType::VarBinary:
        return "VARBINARY";
    case AseType::Image:
        return "IMAGE";
    }
    return "UNKNOWN";
}

Datum NullDatum(ColumnType type) {
    type.nullable = true;
    return Datum{type, Value{}};
}

Datum IntDatum(std::int64_t v, AseType t, bool nullable) {
    Datum d;
    d.type.type = t;
    d.type.nullable = nullable;
    d.value.isNull = false;
    if (IsUnsignedType(t)) {
        d.value.unsignedInteger = static_cast<std::uint64_t>(v);
    } else {
        d.value.integer = v;
    }
    return d;
}

Datum StringDatum(std::string s, bool nullable) {
    Datum d;
    d.type.type = AseType::VarChar;
    d.type.length = std::max(1, static_cast<int>(s.size()));
    d.type.nullable = nullable;
    d.value.isNull = false;
    d.value.bytes = std::move(s);
    return d;
}

Datum BinaryDatum(std::string bytes, bool nullable) {
    Datum d = StringDatum(std::move(bytes), nullable);
    d.type.type = AseType::VarBinary;
    return d;
}

Datum FloatDatum(double v, bool nullable) {
    Datum d;
    d.type.type = AseType::Float;
    d.type.nullable = nullable;
    d.value.isNull = false;
    d.value.real = v;
    return d;
}

std::string Int128ToString(Int128 v) {
    if (v == 0) {
        return "0";
    }
    const bool negative = v < 0;
    UInt128 u = negative ? static_cast<UInt128>(-(v + 1)) + 1 : static_cast<UInt128>(v);
    std::string s;
    while (u > 0) {
        s += static_cast<char>('0' + static_cast<int>(u % 10));
        u /= 10;
    }
    if (negative) {
        s += '-';
    }
    return std::string(s.rbegin(), s.rend());
}

bool ParseInt128(std::string_view text, Int128& out) {
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i == text.size() || text.size() - i > 39) {
        return false;
    }
    Int128 v = 0;
    for (; i < text.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) {
            return false;
        }
        v = v * 10 + (text[i] - '0');
    }
    out = negative ? -v : v;
    return true;
}

Int128 Pow10(int n) {
    static const std::array<Int128, 39> table = [] {
        std::array<Int128, 39> t{};
        t[0] = 1;
        for (std::size_t i = 1; i < t.size(); ++i) {
            t[i] = t[i - 1] * 10;
        }
        return t;
    }();
    return table[static_cast<std::size_t>(n < 0 ? 0 : (n > 38 ? 38 : n))];
}

std::string FormatScaled(Int128 unscaled, int scale) {
    std::string digits = Int128ToString(unscaled < 0 ? -unscaled : unscaled);
    if (scale > 0) {
        if (static_cast<int>(digits.size()) <= scale) {
            digits.insert(0, static_cast<std::size_t>(scale) - digits.size() + 1, '0');
        }
        digits.insert(digits.size() - static_cast<std::size_t>(scale), ".");
    }
    return unscaled < 0 ? "-" + digits : digits;
}

std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const std::int64_t fromEpoch = era * 146097 + static_cast<std::int64_t>(doe) - 719468;
    return fromEpoch + 25567; // 1970-01-01 is day 25567 after 1900-01-01
}

void CivilFromDays(std::int64_t days, std::int64_t& y, unsigned& m, unsigned& d) {
    const std::int64_t z = days - 25567 + 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2);
}

namespace {

class DateScanner {
public:
    explicit DateScanner(std::string_view s)
        : s_(s) {}
    void SkipSpaces() {
        while (p_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[p_]))) {
            ++p_;
        }
    }
    bool AtEnd() const { return p_ >= s_.size(); }
    char Peek() const { return AtEnd() ? '\0' : s_[p_]; }
    bool Accept(char c) {
        if (Peek() == c) {
            ++p_;
            return true;
        }
        return false;
    }
    // Reads up to maxDigits digits; returns the count read.
    int Digits(std::int64_t& v, int maxDigits = 9) {
        int n = 0;
        v = 0;
        while (n < maxDigits && std::isdigit(static_cast<unsigned char>(Peek()))) {
            v = v * 10 + (s_[p_++] - '0');
            ++n;
        }
        return n;
    }
    std::string Letters() {
        std::string w;
        while (std::isalpha(static_cast<unsigned char>(Peek()))) {
            w += static_cast<char>(std::tolower(static_cast<unsigned char>(s_[p_++])));
        }
        return w;
    }
    std::size_t Pos() const { return p_; }
    void Seek(std::size_t p) { p_ = p; }
    std::string_view Rest() const { return s_.substr(p_); }

private:
    std::string_view s_;
    std::size_t p_ = 0;
};

bool ValidDate(std::int64_t y, std::int64_t m, std::int64_t d) {
    if (y < 1 || y > 9999 || m < 1 || m > 12 || d < 1) {
        return false;
    }
    static const int lengths[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    int len = lengths[m - 1];
    if (m == 2 && ((y % 4 == 0 && y % 100 != 0) || y % 400 == 0)) {
        len = 29;
    }
    return d <= len;
}

int MonthFromName(const std::string& w) {
    static const char* const full[] = {"january",   "february", "march",    "april",
                                       "may",       "june",     "july",     "august",
                                       "september", "october",  "november", "december"};
    for (int i = 0; i < 12; ++i) {
        std::string abbr = kMonths[i];
        abbr[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(abbr[0])));
        if (w == abbr || w == full[i]) {
            return i + 1;
        }
    }
    return 0;
}

// hh[:mm[:ss[.ffffff|:mmm]]][ ][AM|PM]
bool ParseTime(DateScanner& sc, std::int64_t& micros) {
    std::int64_t h = 0;
    std::int64_t mi = 0;
    std::int64_t se = 0;
    std::int64_t frac = 0;
    if (sc.Digits(h, 2) == 0) {
        return false;
    }
    bool hasMinutes = false;
    if (sc.Accept(':')) {
        if (sc.Digits(mi, 2) == 0) {
            return false;
        }
        hasMinutes = true;
        if (sc.Accept(':')) {
            if (sc.Digits(se, 2) == 0) {
                return false;
            }
            if (sc.Accept('.')) {
                std::int64_t digitsValue = 0;
                std::string f;
                while (std::isdigit(static_cast<unsigned char>(sc.Peek()))) {
                    f += sc.Peek();
                    sc.Seek(sc.Pos() + 1);
                }
                // Round to microseconds.
                std::string six = f.substr(0, 6);
                six.append(6 - six.size(), '0');
                digitsValue = std::stoll(six);
                if (f.size() > 6 && f[6] >= '5') {
                    ++digitsValue;
                }
                frac = digitsValue;
            } else if (sc.Accept(':')) {
                std::int64_t ms = 0;
                if (sc.Digits(ms, 3) == 0) {
                    return false;
                }
                frac = ms * 1000;
            }
        }
    }
    sc.SkipSpaces();
    const std::size_t save = sc.Pos();
    std::string w = sc.Letters();
    if (w == "am" || w == "pm") {
        if (h < 1 || h > 12) {
            return false;
        }
        if (w == "am" && h == 12) {
            h = 0;
        } else if (w == "pm" && h != 12) {
            h += 12;
        }
    } else {
        sc.Seek(save);
        if (!hasMinutes) {
            return false;
        }
    }
    if (h > 23 || mi > 59 || se > 59) {
        return false;
    }
    micros = ((h * 60 + mi) * 60 + se) * 1000000 + frac;
    return true;
}

} // namespace

bool ParseDateTimeText(std::string_view text, ParsedDateTime& out) {
    DateScanner sc(text);
    sc.SkipSpaces();
    std::int64_t y = 1900;
    std::int64_t m = 1;
    std::int64_t d = 1;
    std::int64_t micros = 0;
    bool hasDate = false;
    const std::size_t start = sc.Pos();
    if (std::isalpha(static_cast<unsigned char>(sc.Peek()))) {
        // Mon DD YYYY
        m = MonthFromName(sc.Letters());
        if (m == 0) {
            return false;
        }
        sc.SkipSpaces();
        if (sc.Digits(d, 2) == 0) {
            return false;
        }
        sc.Accept(',');
        sc.SkipSpaces();
        if (sc.Digits(y, 4) != 4) {
            return false;
        }
        hasDate = true;
    } else {
        std::int64_t first = 0;
        const int n = sc.Digits(first, 8);
        if (n == 8 && (sc.AtEnd() || sc.Peek() == ' ' || sc.Peek() == 'T')) {
            y = first / 10000;
            m = first / 100 % 100;
            d = first % 100;
            hasDate = true;
        } else if (n == 4 && (sc.Peek() == '-' || sc.Peek() == '/' || sc.Peek() == '.')) {
            const char sep = sc.Peek();
            sc.Accept(sep);
            y = first;
            if (sc.Digits(m, 2) == 0 || !sc.Accept(sep) || sc.Digits(d, 2) == 0) {
                return false;
            }
            hasDate = true;
        } else if (n >= 1 && n <= 2 && (sc.Peek() == '/' || sc.Peek() == '-' || sc.Peek() == '.')) {
            // mm/dd/yyyy
            const char sep = sc.Peek();
            sc.Accept(sep);
            m = first;
            if (sc.Digits(d, 2) == 0 || !sc.Accept(sep) || sc.Digits(y, 4) != 4) {
                return false;
            }
            hasDate = true;
        } else {
            sc.Seek(start);
        }
    }
    if (hasDate && !ValidDate(y, m, d)) {
        return false;
    }
    sc.SkipSpaces();
    if (hasDate && sc.Peek() == 'T') {
        sc.Accept('T');
    }
    if (!sc.AtEnd()) {
        if (!ParseTime(sc, micros)) {
            return false;
        }
        sc.SkipSpaces();
        if (!sc.AtEnd()) {
            return false;
        }
    } else if (!hasDate) {
        return false;
    }
    out.days = DaysFromCivil(y, static_cast<unsigned>(m), static_cast<unsigned>(d));
    out.micros = micros;
    return true;
}

std::size_t Utf16Length(std::string_view s) {
    std::size_t n = 0;
    for (unsigned char c : s) {
        if ((c & 0xC0) != 0x80) {
            n += (c >= 0xF0) ? 2 : 1;
        }
    }
    return n;
}

std::size_t Utf8CharCount(std::string_view s) {
    std::size_t n = 0;
    for (unsigned char c : s) {
        if ((c & 0xC0) != 0x80) {
            ++n;
        }
    }
    return n;
}

std::string CutUtf8Bytes(std::string_view s, std::size_t maxBytes) {
    if (s.size() <= maxBytes) {
        return std::string(s);
    }
    std::size_t end = maxBytes;
    while (end > 0 && (static_cast<unsigned char>(s[end]) & 0xC0) == 0x80) {
        --end;
    }
    return std::string(s.substr(0, end));
}

std::string CutUtf16Units(std::string_view s, std::size_t maxUnits) {
    std::size_t units = 0;
    std::size_t i = 0;
    while (i < s.size()) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        const std::size_t len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        const std::size_t u = len == 4 ? 2 : 1;
        if (units + u > maxUnits) {
            break;
        }
        units += u;
        i += len;
    }
    return std::string(s.substr(0, std::min(i, s.size())));
}

std::string FormatDatum(const Datum& d, int style) {
    if (d.value.isNull) {
        return "NULL";
    }
    const AseType t = d.type.type;
    const Value& v = d.value;
    if (IsUnsignedType(t)) {
        return std::to_string(v.unsignedInteger);
    }
    if (IsIntegerType(t)) {
        return std::to_string(v.integer);
    }
    if (IsDecimalType(t)) {
        return FormatScaled(v.unscaled, d.type.scale);
    }
    if (IsMoneyType(t)) {
        Int128 cents = 0;
        Rescale(v.integer, 4, 2, cents);
        return FormatScaled(cents, 2);
    }
    if (IsApproxType(t)) {
        return FormatDouble(v.real, t == AseType::Real);
    }
    if (IsDateType(t)) {
        std::int64_t days = 0;
        std::int64_t micros = 0;
        ToDayMicros(d, days, micros);
        return FormatDate(days, micros, t, style);
    }
    if (IsBinaryType(t)) {
        return Hex(v.bytes);
    }
    return v.bytes;
}

Datum ConvertDatum(const Datum& in, ColumnType target, bool explicitConversion, int style) {
    target.nullable = in.type.nullable;
    Datum out;
    out.type = target;
    if (in.value.isNull) {
        return out;
    }
    out.value.isNull = false;
    const AseType from = in.type.type;
    const AseType to = target.type;

    if (IsNumberType(to)) {
        Datum source = in;
        if (IsStringType(from)) {
            if (!explicitConversion) {
                NotAllowed(from, to, false);
            }
            bool approx = false;
            Exact e;
            double real = 0;
            if (!ParseNumberText(in.value.bytes, approx, e, real)) {
                SyntaxError(in, to, true);
            }
            if (approx) {
                source = FloatDatum(real);
            } else {
                source.type = ColumnType{AseType::Numeric, 0, 38, e.scale, false};
                source.value = Value{};
                source.value.isNull = false;
                source.value.unscaled = e.v;
            }
        } else if (!IsNumberType(from)) {
            NotAllowed(from, to, explicitConversion);
        }
        if (IsApproxType(to)) {
            double x = ToDouble(source);
            if (to == AseType::Real) {
                if (std::isfinite(x) && std::fabs(x) > FLT_MAX) {
                    Overflow(in, to, explicitConversion);
                }
                x = static_cast<float>(x);
            }
            out.value.real = x;
            return out;
        }
        Int128 lo = 0;
        Int128 hi = 0;
        if (IntegerRange(to, lo, hi)) {
            Int128 iv = 0;
            if (IsApproxType(source.type.type)) {
                const double x = std::trunc(source.value.real);
                if (!std::isfinite(x) || std::fabs(x) > 1.8e19) {
                    Overflow(in, to, explicitConversion);
                }
                iv = static_cast<Int128>(x);
            } else {
                Exact e;
                ToExact(source, e);
                iv = e.v / Pow10(e.scale);
            }
            if (to == AseType::Bit) {
                iv = iv != 0 ? 1 : 0;
            }
            if (iv < lo || iv > hi) {
                Overflow(in, to, explicitConversion);
            }
            SetInteger(out, iv);
            return out;
        }
        // numeric, decimal, money, smallmoney
        const int targetScale = IsMoneyType(to) ? 4 : target.scale;
        Int128 nv = 0;
        if (IsApproxType(source.type.type)) {
            Exact e;
            if (!DoubleToExact(source.value.real, source.type.type == AseType::Real, e) ||
                !Rescale(e.v, e.scale, targetScale, nv)) {
                Overflow(in, to, explicitConversion);
            }
        } else {
            Exact e;
            ToExact(source, e);
            if (!Rescale(e.v, e.scale, targetScale, nv)) {
                Overflow(in, to, explicitConversion);
            }
        }
        if (IsDecimalType(to)) {
            if (Abs128(nv) >= Pow10(target.precision)) {
                Overflow(in, to, explicitConversion);
            }
            out.value.unscaled = nv;
        } else {
            const Int128 limit = to == AseType::Money ? std::numeric_limits<std::int64_t>::max()
                                                      : std::numeric_limits<std::int32_t>::max();
            if (nv > limit || nv < -limit - 1) {
                Overflow(in, to, explicitConversion);
            }
            out.value.integer = static_cast<std::int64_t>(nv);
        }
        return out;
    }

    if (IsDateType(to)) {
        std::int64_t days = 0;
        std::int64_t micros = 0;
        if (IsStringType(from)) {
            ParsedDateTime p;
            if (!ParseDateTimeText(in.value.bytes, p)) {
                SyntaxError(in, to, explicitConversion);
            }
            days = p.days;
            micros = p.micros;
        } else if (!ToDayMicros(in, days, micros)) {
            NotAllowed(from, to, explicitConversion);
        }
        if (!FromDayMicros(days, micros, to, out.value)) {
            if (IsStringType(from)) {
                SyntaxError(in, to, explicitConversion);
            }
            Overflow(in, to, explicitConversion);
        }
        return out;
    }

    if (IsStringType(to)) {
        std::string text;
        if (IsStringType(from)) {
            text = in.value.bytes;
        } else if (!explicitConversion && !IsDateType(from)) {
            // Dates become text implicitly in ASE; numbers and binary data do not.
            NotAllowed(from, to, false);
        } else {
            text = FormatDatum(in, style);
        }
        if (explicitConversion && !IsLargeType(to) && target.length > 0) {
            text = IsUniType(to) ? CutUtf16Units(text, static_cast<std::size_t>(target.length))
                                 : CutUtf8Bytes(text, static_cast<std::size_t>(target.length));
        }
        out.value.bytes = std::move(text);
        return out;
    }

    if (IsBinaryType(to)) {
        if (IsBinaryType(from)) {
            out.value.bytes = in.value.bytes;
        } else if (IsStringType(from) && explicitConversion) {
            if (!Unhex(in.value.bytes, out.value.bytes)) {
                SyntaxError(in, to, true);
            }
        } else {
            NotAllowed(from, to, explicitConversion);
        }
        if (explicitConversion && to != AseType::Image && target.length > 0 &&
            out.value.bytes.size() > static_cast<std::size_t>(target.length)) {
            out.value.bytes.resize(static_cast<std::size_t>(target.length));
        }
        return out;
    }
    NotAllowed(from, to, explicitConversion);
}

Datum AssignToColumn(const Datum& in, const ColumnType& column) {
    Datum out = ConvertDatum(in, column, false);
    out.type = column;
    if (out.value.isNull) {
        return out;
    }
    std::string& b = out.value.bytes;
    const std::size_t n = static_cast<std::size_t>(column.length);
    switch (column.type) {
    case AseType::Char:
    case AseType::VarChar:
        b = StoredBlank(CutUtf8Bytes(b, n));
        if (column.type == AseType::VarChar || column.nullable) {
            b = RightTrimBlanks(std::move(b));
        } else if (b.size() < n) {
            b.append(n - b.size(), ' ');
        }
        break;
    case AseType::UniChar:
    case AseType::UniVarChar: {
        b = StoredBlank(CutUtf16Units(b, n));
        if (column.type == AseType::UniVarChar || column.nullable) {
            b = RightTrimBlanks(std::move(b));
        } else {
            const std::size_t units = Utf16Length(b);
            if (units < n) {
                b.append(n - units, ' ');
            }
        }
        break;
    }
    case AseType::Text:
    case AseType::UniText:
        b = StoredBlank(std::move(b));
        break;
    case AseType::Binary:
    case AseType::VarBinary:
        if (b.size() > n) {
            b.resize(n);
        }
        // Variable-length binary (varbinary, and binary that allows NULL) loses its trailing
        // zero bytes; an all-zero value keeps one.
        if (column.type == AseType::VarBinary || column.nullable) {
            b.erase(b.find_last_not_of('\0') + 1);
        }
        if (b.empty()) {
            b.assign(1, '\0');
        }
        if (column.type == AseType::Binary && !column.nullable && b.size() < n) {
            b.append(n - b.size(), '\0');
        }
        break;
    default:
        break;
    }
    return out;
}

void CheckComparable(AseType a, AseType b) {
    const bool ok = (IsNumberType(a) && IsNumberType(b)) || (IsStringType(a) && IsStringType(b)) ||
                    (IsBinaryType(a) && IsBinaryType(b)) ||
                    ((IsDateType(a) || IsStringType(a)) && (IsDateType(b) || IsStringType(b)));
    if (!ok) {
        NotAllowed(b, a, false);
    }
}

int CompareData(const Datum& a, const Datum& b) {
    const AseType ta = a.type.type;
    const AseType tb = b.type.type;
    auto sign = [](auto x, auto y) { return x < y ? -1 : (y < x ? 1 : 0); };
    if (IsNumberType(ta) && IsNumberType(tb)) {
        if (IsApproxType(ta) || IsApproxType(tb)) {
            return sign(ToDouble(a), ToDouble(b));
        }
        Exact x;
        Exact y;
        ToExact(a, x);
        ToExact(b, y);
        const int s = std::max(x.scale, y.scale);
        Int128 xv = 0;
        Int128 yv = 0;
        if (Rescale(x.v, x.scale, s, xv) && Rescale(y.v, y.scale, s, yv)) {
            return sign(xv, yv);
        }
        return sign(ToDouble(a), ToDouble(b));
    }
    if (IsStringType(ta) && IsStringType(tb)) {
        std::string_view x = a.value.bytes;
        std::string_view y = b.value.bytes;
        while (!x.empty() && x.back() == ' ') {
            x.remove_suffix(1);
        }
        while (!y.empty() && y.back() == ' ') {
            y.remove_suffix(1);
        }
        const int c = x.compare(y);
        return c < 0 ? -1 : (c > 0 ? 1 : 0);
    }
    if (IsBinaryType(ta) && IsBinaryType(tb)) {
        const int c = a.value.bytes.compare(b.value.bytes);
        return c < 0 ? -1 : (c > 0 ? 1 : 0);
    }
    if (IsDateType(ta) || IsDateType(tb)) {
        Datum x = a;
        Datum y = b;
        if (IsStringType(ta)) {
            x = ConvertDatum(a, ColumnType{AseType::BigDateTime}, false);
        }
        if (IsStringType(tb)) {
            y = ConvertDatum(b, ColumnType{AseType::BigDateTime}, false);
        }
        std::int64_t d1 = 0;
        std::int64_t m1 = 0;
        std::int64_t d2 = 0;
        std::int64_t m2 = 0;
        if (ToDayMicros(x, d1, m1) && ToDayMicros(y, d2, m2)) {
            if (d1 != d2) {
                return sign(d1, d2);
            }
            return sign(m1, m2);
        }
    }
    NotAllowed(tb, ta, false);
}

std::int64_t DataLength(const Datum& d) {
    const AseType t = d.type.type;
    switch (t) {
    case AseType::TinyInt:
    case AseType::Bit:
        return 1;
    case AseType::SmallInt:
    case AseType::USmallInt:
        return 2;
    case AseType::Int:
    case AseType::UInt:
    case AseType::Real:
    case AseType::SmallMoney:
    case AseType::SmallDateTime:
    case AseType::Date:
    case AseType::Time:
        return 4;
    case AseType::BigInt:
    case AseType::UBigInt:
    case AseType::Float:
    case AseType::Money:
    case AseType::DateTime:
    case AseType::BigDateTime:
    case AseType::BigTime:
        return 8;
    case AseType::Numeric:
    case AseType::Decimal: {
        static const int bytes[] = {2,  2,  3,  3,  4,  4,  4,  5,  5,  6,  6,  6,  7,
                                    7,  8,  8,  9,  9,  9,  10, 10, 11, 11, 11, 12, 12,
                                    13, 13, 14, 14, 14, 15, 15, 16, 16, 16, 17, 17};
        const int p = d.type.precision < 1 ? 1 : (d.type.precision > 38 ? 38 : d.type.precision);
        return bytes[p - 1];
    }
    case AseType::UniChar:
    case AseType::UniVarChar:
    case AseType::UniText:
        return static_cast<std::int64_t>(Utf16Length(d.value.bytes) * 2);
    default:
        return static_cast<std::int64_t>(d.value.bytes.size());
    }
}

} // namespace asetest
