#include "TdsResults.h"

#include <cstring>

namespace asetest {

namespace {

// ASE user type numbers (systypes.usertype).
enum : std::uint32_t {
    kUserChar = 1,
    kUserVarChar = 2,
    kUserBinary = 3,
    kUserVarBinary = 4,
    kUserTinyInt = 5,
    kUserSmallInt = 6,
    kUserInt = 7,
    kUserFloat = 8,
    kUserNumeric = 10,
    kUserMoney = 11,
    kUserDateTime = 12,
    kUserIntN = 13,
    kUserFloatN = 14,
    kUserDateTimeN = 15,
    kUserBit = 16,
    kUserMoneyN = 17,
    kUserText = 19,
    kUserImage = 20,
    kUserSmallMoney = 21,
    kUserSmallDateTime = 22,
    kUserReal = 23,
    kUserDecimal = 26,
    kUserDecimalN = 27,
    kUserNumericN = 28,
    kUserUniChar = 34,
    kUserUniVarChar = 35,
    kUserUniText = 36,
    kUserDate = 37,
    kUserTime = 38,
    kUserDateN = 39,
    kUserTimeN = 40,
    kUserBigInt = 43,
    kUserUSmallInt = 44,
    kUserUInt = 45,
    kUserUBigInt = 46,
    kUserUIntN = 47,
    kUserBigDateTime = 189,
    kUserBigTime = 190,
};

using Shape = WireColumn::Shape;
__extension__ typedef unsigned __int128 UInt128;

WireColumn Fixed(std::uint8_t type, std::uint32_t user, std::uint32_t size) {
    return {type, user, Shape::Fixed, size, false, false};
}
WireColumn Sized(std::uint8_t type, std::uint32_t user, std::uint32_t size) {
    return {type, user, Shape::Length1, size, true, false};
}

// Character and binary columns: short, long, or nullable forms.
WireColumn Bytes(std::uint32_t length, bool fixed, bool nullable, std::uint8_t fixedType,
                 std::uint8_t varType, std::uint8_t longType, std::uint32_t user) {
    if (length > 255)
        return {longType, user, Shape::Length4, length, nullable, false};
    return {
        fixed && !nullable ? fixedType : varType, user, Shape::Length1, length, nullable, false};
}

// Days from 0000-01-01 (the proleptic calendar FreeTDS counts bigdatetime from) to 1900-01-01.
constexpr std::int64_t kBigDateTimeEpochDays = 693961;
constexpr std::int64_t kMicrosPerDay = 86400LL * 1000000LL;

void AppendUnits(std::string& out, std::uint32_t cp) {
    auto unit = [&out](std::uint32_t u) {
        out.push_back(static_cast<char>(u & 0xFF));
        out.push_back(static_cast<char>((u >> 8) & 0xFF));
    };
    if (cp >= 0x10000) {
        cp -= 0x10000;
        unit(0xD800 + (cp >> 10));
        unit(0xDC00 + (cp & 0x3FF));
    } else {
        unit(cp);
    }
}

} // namespace

std::string Utf8FromLatin1(std::string_view latin1) {
    std::string out;
    out.reserve(latin1.size());
    for (const char c : latin1) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x80) {
            out.push_back(c);
        } else {
            out.push_back(static_cast<char>(0xC0 | (b >> 6)));
            out.push_back(static_cast<char>(0x80 | (b & 0x3F)));
        }
    }
    return out;
}

std::string Latin1FromUtf8(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        const auto b0 = static_cast<unsigned char>(utf8[i]);
        if (b0 < 0x80) {
            out.push_back(static_cast<char>(b0));
            ++i;
            continue;
        }
        std::size_t length = (b0 & 0xE0) == 0xC0 ? 2 : (b0 & 0xF0) == 0xE0 ? 3 : 4;
        std::size_t n = 1;
        while (n < length && i + n < utf8.size() &&
               (static_cast<unsigned char>(utf8[i + n]) & 0xC0) == 0x80)
            ++n;
        const bool latin1 = length == 2 && n == 2 && (b0 == 0xC2 || b0 == 0xC3);
        out.push_back(latin1 ? static_cast<char>(((b0 & 0x03) << 6) |
                                                 (static_cast<unsigned char>(utf8[i + 1]) & 0x3F))
                             : '?');
        i += n;
    }
    return out;
}

std::string Utf16FromUtf8(const std::string& in) {
    std::string out;
    out.reserve(in.size() * 2);
    std::size_t i = 0;
    while (i < in.size()) {
        const auto b0 = static_cast<unsigned char>(in[i]);
        int extra = 0;
        std::uint32_t cp = 0;
        std::uint32_t min = 0;
        if (b0 < 0x80) {
            cp = b0;
        } else if ((b0 & 0xE0) == 0xC0) {
            extra = 1, cp = b0 & 0x1F, min = 0x80;
        } else if ((b0 & 0xF0) == 0xE0) {
            extra = 2, cp = b0 & 0x0F, min = 0x800;
        } else if ((b0 & 0xF8) == 0xF0) {
            extra = 3, cp = b0 & 0x07, min = 0x10000;
        } else {
            AppendUnits(out, 0xFFFD);
            ++i;
            continue;
        }
        bool ok = i + static_cast<std::size_t>(extra) < in.size();
        for (int k = 1; ok && k <= extra; ++k) {
            const auto b = static_cast<unsigned char>(in[i + static_cast<std::size_t>(k)]);
            if ((b & 0xC0) != 0x80)
                ok = false;
            else
                cp = (cp << 6) | (b & 0x3F);
        }
        if (!ok || cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            AppendUnits(out, 0xFFFD);
            ++i;
            continue;
        }
        AppendUnits(out, cp);
        i += static_cast<std::size_t>(extra) + 1;
    }
    return out;
}

int NumericBytes(int precision) {
    static const int bytes[] = {2,  2,  3,  3,  4,  4,  4,  5,  5,  6,  6,  6,  7,
                                7,  8,  8,  9,  9,  9,  10, 10, 11, 11, 11, 12, 12,
                                13, 13, 14, 14, 14, 15, 15, 16, 16, 16, 17, 17};
    if (precision < 1)
        precision = 1;
    if (precision > 38)
        precision = 38;
    return bytes[precision - 1];
}

WireColumn DescribeWireColumn(const ColumnType& t, bool nullable) {
    const auto length = static_cast<std::uint32_t>(t.length > 0 ? t.length : 1);
    switch (t.type) {
    case AseType::TinyInt:
        return nullable ? Sized(0x26, kUserIntN, 1) : Fixed(0x30, kUserTinyInt, 1);
    case AseType::SmallInt:
        return nullable ? Sized(0x26, kUserIntN, 2) : Fixed(0x34, kUserSmallInt, 2);
    case AseType::Int:
        return nullable ? Sized(0x26, kUserIntN, 4) : Fixed(0x38, kUserInt, 4);
    case AseType::BigInt:
        return nullable ? Sized(0x26, kUserIntN, 8) : Fixed(0xBF, kUserBigInt, 8);
    case AseType::USmallInt:
        return nullable ? Sized(0x44, kUserUIntN, 2) : Fixed(0x41, kUserUSmallInt, 2);
    case AseType::UInt:
        return nullable ? Sized(0x44, kUserUIntN, 4) : Fixed(0x42, kUserUInt, 4);
    case AseType::UBigInt:
        return nullable ? Sized(0x44, kUserUIntN, 8) : Fixed(0x43, kUserUBigInt, 8);
    case AseType::Numeric:
    case AseType::Decimal: {
        const bool numeric = t.type == AseType::Numeric;
        WireColumn c{static_cast<std::uint8_t>(numeric ? 0x6C : 0x6A),
                     numeric ? (nullable ? kUserNumericN : kUserNumeric)
                             : (nullable ? kUserDecimalN : kUserDecimal),
                     Shape::Numeric,
                     static_cast<std::uint32_t>(NumericBytes(t.precision)),
                     nullable,
                     false};
        return c;
    }
    case AseType::Real:
        return nullable ? Sized(0x6D, kUserFloatN, 4) : Fixed(0x3B, kUserReal, 4);
    case AseType::Float:
        return nullable ? Sized(0x6D, kUserFloatN, 8) : Fixed(0x3E, kUserFloat, 8);
    case AseType::Money:
        return nullable ? Sized(0x6E, kUserMoneyN, 8) : Fixed(0x3C, kUserMoney, 8);
    case AseType::SmallMoney:
        return nullable ? Sized(0x6E, kUserMoneyN, 4) : Fixed(0x7A, kUserSmallMoney, 4);
    case AseType::Bit:
        // ASE has no nullable bit on the wire; a nullable one travels as a 1-byte INTN.
        return nullable ? Sized(0x26, kUserIntN, 1) : Fixed(0x32, kUserBit, 1);
    case AseType::DateTime:
        return nullable ? Sized(0x6F, kUserDateTimeN, 8) : Fixed(0x3D, kUserDateTime, 8);
    case AseType::SmallDateTime:
        return nullable ? Sized(0x6F, kUserDateTimeN, 4) : Fixed(0x3A, kUserSmallDateTime, 4);
    case AseType::Date:
        return nullable ? Sized(0x7B, kUserDateN, 4) : Fixed(0x31, kUserDate, 4);
    case AseType::Time:
        return nullable ? Sized(0x93, kUserTimeN, 4) : Fixed(0x33, kUserTime, 4);
    case AseType::BigDateTime:
        return {0xBB, kUserBigDateTime, Shape::Length1, 8, nullable, false};
    case AseType::BigTime:
        return {0xBC, kUserBigTime, Shape::Length1, 8, nullable, false};
    case AseType::Char:
        return Bytes(length, true, nullable, 0x2F, 0x27, 0xAF, kUserChar);
    case AseType::VarChar:
        return Bytes(length, false, nullable, 0x2F, 0x27, 0xAF, kUserVarChar);
    case AseType::UniChar:
    case AseType::UniVarChar: {
        WireColumn c{0xE1,           t.type == AseType::UniChar ? kUserUniChar : kUserUniVarChar,
                     Shape::Length4, length * 2,
                     nullable,       true};
        return c;
    }
    case AseType::Binary:
        return Bytes(length, true, nullable, 0x2D, 0x25, 0xE1, kUserBinary);
    case AseType::VarBinary:
        return Bytes(length, false, nullable, 0x2D, 0x25, 0xE1, kUserVarBinary);
    case AseType::Text:
        return {0x23, kUserText, Shape::TextPtr, 0x7FFFFFFF, nullable, false};
    case AseType::UniText:
        return {0x22, kUserUniText, Shape::TextPtr, 0x7FFFFFFF, nullable, true};
    case AseType::Image:
        return {0x22, kUserImage, Shape::TextPtr, 0x7FFFFFFF, nullable, false};
    }
    return Fixed(0x38, kUserInt, 4);
}

namespace {

void WriteTypeInfo(TokenWriter& w, const WireColumn& c, const ColumnType& t) {
    switch (c.shape) {
    case Shape::Fixed:
        break;
    case Shape::Length1:
        w.U8(static_cast<std::uint8_t>(c.size));
        if (c.wireType == 0xBB || c.wireType == 0xBC)
            w.U8(6); // microsecond precision
        break;
    case Shape::Length4:
        w.U32(c.size);
        break;
    case Shape::TextPtr:
        w.U32(c.size);
        w.U16(0); // no table name
        break;
    case Shape::Numeric:
        w.U8(static_cast<std::uint8_t>(c.size));
        w.U8(static_cast<std::uint8_t>(t.precision));
        w.U8(static_cast<std::uint8_t>(t.scale));
        break;
    }
}

void WriteFixedValue(TokenWriter& w, const WireColumn& c, const ColumnType& t, const Value& v) {
    switch (t.type) {
    case AseType::TinyInt:
    case AseType::Bit:
        w.U8(static_cast<std::uint8_t>(v.integer));
        break;
    case AseType::SmallInt:
        w.U16(static_cast<std::uint16_t>(v.integer));
        break;
    case AseType::Int:
        w.I32(static_cast<std::int32_t>(v.integer));
        break;
    case AseType::BigInt:
        w.U64(static_cast<std::uint64_t>(v.integer));
        break;
    case AseType::USmallInt:
        w.U16(static_cast<std::uint16_t>(v.unsignedInteger));
        break;
    case AseType::UInt:
        w.U32(static_cast<std::uint32_t>(v.unsignedInteger));
        break;
    case AseType::UBigInt:
        w.U64(v.unsignedInteger);
        break;
    case AseType::Real: {
        const float f = static_cast<float>(v.real);
        std::uint32_t bits;
        std::memcpy(&bits, &f, 4);
        w.U32(bits);
        break;
    }
    case AseType::Float: {
        std::uint64_t bits;
        std::memcpy(&bits, &v.real, 8);
        w.U64(bits);
        break;
    }
    case AseType::Money: {
        const auto raw = static_cast<std::uint64_t>(v.integer);
        w.U32(static_cast<std::uint32_t>(raw >> 32));
        w.U32(static_cast<std::uint32_t>(raw & 0xFFFFFFFFu));
        break;
    }
    case AseType::SmallMoney:
        w.I32(static_cast<std::int32_t>(v.integer));
        break;
    case AseType::DateTime:
        w.I32(static_cast<std::int32_t>(v.days));
        w.U32(static_cast<std::uint32_t>(v.fraction));
        break;
    case AseType::SmallDateTime:
        w.U16(static_cast<std::uint16_t>(v.days));
        w.U16(static_cast<std::uint16_t>(v.fraction));
        break;
    case AseType::Date:
        w.I32(static_cast<std::int32_t>(v.days));
        break;
    case AseType::Time:
        w.I32(static_cast<std::int32_t>(v.fraction));
        break;
    case AseType::BigDateTime:
        w.U64(static_cast<std::uint64_t>((v.days + kBigDateTimeEpochDays) * kMicrosPerDay +
                                         v.fraction));
        break;
    case AseType::BigTime:
        w.U64(static_cast<std::uint64_t>(v.fraction));
        break;
    default:
        (void)c;
        break;
    }
}

} // namespace

void WriteRowFormat(std::string& out, const std::vector<ResultColumn>& columns,
                    const std::vector<WireColumn>& wire) {
    std::string body;
    TokenWriter b(body);
    b.U16(static_cast<std::uint16_t>(columns.size()));
    for (std::size_t i = 0; i < columns.size(); ++i) {
        b.Short(columns[i].name);
        b.U8(wire[i].nullable ? 0x20 : 0x00);
        b.U32(wire[i].userType);
        b.U8(wire[i].wireType);
        WriteTypeInfo(b, wire[i], columns[i].type);
        b.U8(0); // no locale
    }
    TokenWriter w(out);
    if (body.size() <= 0xFFFF) {
        w.U8(kTokenRowFormat);
        w.U16(static_cast<std::uint16_t>(body.size()));
        w.Bytes(body);
        return;
    }
    // Too wide for ROWFMT: ROWFMT2 carries a 4-byte length and per-column catalog names.
    w.U8(kTokenRowFormat2);
    const std::size_t length = w.LengthU32();
    w.U16(static_cast<std::uint16_t>(columns.size()));
    for (std::size_t i = 0; i < columns.size(); ++i) {
        w.Short(columns[i].name); // label
        w.U8(0);                  // catalog
        w.U8(0);                  // schema
        w.U8(0);                  // table
        w.Short(columns[i].name);
        w.U32(wire[i].nullable ? 0x20 : 0x00);
        w.U32(wire[i].userType);
        w.U8(wire[i].wireType);
        WriteTypeInfo(w, wire[i], columns[i].type);
        w.U8(0);
    }
    w.PatchU32(length);
}

void WriteRow(std::string& out, const std::vector<ResultColumn>& columns,
              const std::vector<WireColumn>& wire, const std::vector<Value>& row) {
    TokenWriter w(out);
    w.U8(kTokenRow);
    for (std::size_t i = 0; i < columns.size(); ++i) {
        const WireColumn& c = wire[i];
        const ColumnType& t = columns[i].type;
        const Value empty;
        const Value& v = i < row.size() ? row[i] : empty;
        switch (c.shape) {
        case Shape::Fixed:
            WriteFixedValue(w, c, t, v);
            break;
        case Shape::Length1:
            if (v.isNull) {
                w.U8(0);
            } else if (c.wireType == 0x27 || c.wireType == 0x2F || c.wireType == 0x25 ||
                       c.wireType == 0x2D) {
                // Length 0 would read as NULL: an empty value travels as one blank, as in ASE.
                const std::string& bytes = v.bytes.empty() ? std::string(" ") : v.bytes;
                const std::size_t n = bytes.size() > 255 ? 255 : bytes.size();
                w.U8(static_cast<std::uint8_t>(n));
                w.Bytes(std::string_view(bytes).substr(0, n));
            } else {
                w.U8(static_cast<std::uint8_t>(c.size));
                WriteFixedValue(w, c, t, v);
            }
            break;
        case Shape::Length4: {
            if (v.isNull) {
                w.U32(0);
                break;
            }
            std::string bytes = c.utf16 ? Utf16FromUtf8(v.bytes) : v.bytes;
            if (bytes.empty())
                bytes = c.utf16 ? std::string(" \0", 2) : std::string(" ");
            w.U32(static_cast<std::uint32_t>(bytes.size()));
            w.Bytes(bytes);
            break;
        }
        case Shape::TextPtr: {
            // A NULL that never had a value has no text pointer; one that was set to NULL
            // keeps its pointer and has a length of 0.
            if (v.isNull && !v.textPointer) {
                w.U8(0);
                break;
            }
            w.U8(16);
            w.Bytes(std::string(16, '\x01')); // text pointer
            w.Bytes(std::string(8, '\0'));    // timestamp
            const std::string bytes =
                v.isNull ? std::string() : (c.utf16 ? Utf16FromUtf8(v.bytes) : v.bytes);
            w.U32(static_cast<std::uint32_t>(bytes.size()));
            w.Bytes(bytes);
            break;
        }
        case Shape::Numeric: {
            if (v.isNull) {
                w.U8(0);
                break;
            }
            w.U8(static_cast<std::uint8_t>(c.size));
            const bool negative = v.unscaled < 0;
            UInt128 magnitude = negative ? static_cast<UInt128>(-(v.unscaled + 1)) + 1
                                         : static_cast<UInt128>(v.unscaled);
            w.U8(negative ? 1 : 0);
            std::string be(c.size - 1, '\0');
            for (std::size_t k = be.size(); k-- > 0;) {
                be[k] = static_cast<char>(static_cast<unsigned>(magnitude & 0xFF));
                magnitude >>= 8;
            }
            w.Bytes(be);
            break;
        }
        }
    }
}

void WriteMessage(std::string& out, const Message& m, const std::string& serverName) {
    TokenWriter w(out);
    w.U8(kTokenEed);
    const std::size_t length = w.LengthU16();
    w.U32(static_cast<std::uint32_t>(m.number));
    w.U8(static_cast<std::uint8_t>(m.state));
    w.U8(static_cast<std::uint8_t>(m.severity));
    w.Short(m.number == 102 || m.number == 156 || m.number == 105 ? "42000" : "ZZZZZ");
    w.U8(0); // no parameters follow
    w.U16(0);
    const std::size_t n = m.text.size() > 1024 ? 1024 : m.text.size();
    w.U16(static_cast<std::uint16_t>(n));
    w.Bytes(std::string_view(m.text).substr(0, n));
    w.Short(serverName);
    w.U8(0); // no procedure
    w.U16(1);
    w.PatchU16(length);
}

void WriteDone(std::string& out, std::uint8_t token, std::uint16_t status, std::int64_t count) {
    TokenWriter w(out);
    w.U8(token);
    w.U16(status);
    w.U16(0);
    w.U32(count >= 0 ? static_cast<std::uint32_t>(count) : 0);
}

void WriteEnvChange(std::string& out, std::uint8_t kind, const std::string& newValue,
                    const std::string& oldValue) {
    TokenWriter w(out);
    w.U8(kTokenEnvChange);
    const std::size_t length = w.LengthU16();
    w.U8(kind);
    w.Short(newValue);
    w.Short(oldValue);
    w.PatchU16(length);
}

} // namespace asetest
