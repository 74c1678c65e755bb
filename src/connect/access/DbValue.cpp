#include "connect/access/DbValue.h"

#include <cfloat>
#include <charconv>
#include <cmath>

namespace veltrane {
namespace {

template <typename Number> void AppendNumber(std::string& out, Number n) {
    char buffer[64];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, n);
    out.append(buffer, result.ptr);
}

// A float as text that reads back as the same float also where a server reads it as a double
// and then narrows it, refusing a double beyond the float range: the shortest form of the
// largest floats (3.4028235e+38) is such a double. Where the shortest form would not survive
// that, the float's value goes out with as few more digits as that takes.
void AppendSingle(std::string& out, float value) {
    char buffer[64];
    const auto readsBack = [&](const char* end) {
        double read = 0;
        std::from_chars(buffer, end, read);
        return std::fabs(read) <= FLT_MAX && static_cast<float>(read) == value;
    };
    auto written = std::to_chars(buffer, buffer + sizeof buffer, value);
    // Nine significant digits tell every float apart; seventeen write its exact double.
    for (int digits = 9; std::isfinite(value) && !readsBack(written.ptr) && digits <= 17;
         ++digits) {
        written = std::to_chars(buffer, buffer + sizeof buffer, static_cast<double>(value),
                                std::chars_format::general, digits);
    }
    out.append(buffer, written.ptr);
}

// `value` in at least `width` digits, zeros in front, as printf's "%0*u" writes it but without
// its format parsing, which cost more than the rest of a date.
void AppendPadded(std::string& out, unsigned value, int width) {
    char buffer[16];
    char* end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
    const auto digits = static_cast<int>(end - buffer);
    if (digits < width)
        out.append(static_cast<std::size_t>(width - digits), '0');
    out.append(buffer, end);
}

void AppendDate(std::string& out, const DateValue& d) {
    if (d.year < 0) {
        out.push_back('-');
    }
    // Negated as unsigned: -INT_MIN does not fit an int.
    const auto year = static_cast<unsigned>(d.year);
    AppendPadded(out, d.year < 0 ? 0u - year : year, 4);
    out.push_back('-');
    AppendPadded(out, d.month, 2);
    out.push_back('-');
    AppendPadded(out, d.day, 2);
}

void AppendTime(std::string& out, const TimeValue& t) {
    if (t.negative) {
        out.push_back('-');
    }
    AppendPadded(out, t.hour, 2);
    out.push_back(':');
    AppendPadded(out, t.minute, 2);
    out.push_back(':');
    AppendPadded(out, t.second, 2);
    if (!t.fraction.empty()) {
        out.push_back('.');
        out.append(t.fraction);
    }
}

} // namespace

void AppendHexDigits(std::string& out, std::string_view bytes) {
    static constexpr char digits[] = "0123456789abcdef";
    out.reserve(out.size() + bytes.size() * 2);
    for (unsigned char c : bytes) {
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 0x0f]);
    }
}

std::string DbValue::ToText() const {
    std::string out;
    AppendText(out);
    return out;
}

void DbValue::AppendText(std::string& out) const {
    switch (GetKind()) {
    case Kind::Null:
        return;
    case Kind::Boolean:
        out.append(AsBoolean() ? "True" : "False");
        return;
    case Kind::Int:
        AppendNumber(out, AsInt());
        return;
    case Kind::UInt:
        AppendNumber(out, AsUInt());
        return;
    case Kind::Single:
        AppendSingle(out, AsSingle());
        return;
    case Kind::Double:
        AppendNumber(out, AsDouble());
        return;
    case Kind::Decimal:
        out.append(AsDecimal().text);
        return;
    case Kind::Text:
        out.append(AsText());
        return;
    case Kind::Binary:
        out.append("0x");
        AppendHexDigits(out, AsBinary().bytes);
        return;
    case Kind::Date:
        AppendDate(out, AsDate());
        return;
    case Kind::Time:
        AppendTime(out, AsTime());
        return;
    case Kind::DateTime:
        AppendDate(out, AsDateTime().date);
        out.push_back(' ');
        AppendTime(out, AsDateTime().time);
        return;
    }
}

} // namespace veltrane
