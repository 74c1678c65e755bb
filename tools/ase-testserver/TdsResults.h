// Encoding of result sets, messages and DONE tokens the way Sybase ASE sends them.
#pragma once

#include "Engine.h"
#include "TdsWire.h"

#include <cstdint>
#include <string>
#include <vector>

namespace asetest {

// How one result column travels: its wire type, user type and the shape of its values.
struct WireColumn {
    enum class Shape {
        Fixed,   // no length prefix, `size` bytes
        Length1, // 1-byte length, 0 = NULL
        Length4, // 4-byte length, 0 = NULL
        TextPtr, // pointer length (0 = NULL without a pointer), pointer, timestamp, length
        Numeric, // 1-byte length, sign byte, big-endian magnitude
    };
    std::uint8_t wireType = 0;
    std::uint32_t userType = 0;
    Shape shape = Shape::Fixed;
    std::uint32_t size = 0; // fixed size, or declared maximum length in bytes
    bool nullable = false;
    bool utf16 = false; // unichar, univarchar, unitext travel as UTF-16LE
};

// `nullable` forces the nullable wire type even for a column declared NOT NULL (used when a
// NULL shows up in it anyway).
WireColumn DescribeWireColumn(const ColumnType& type, bool nullable);

// ROWFMT (or ROWFMT2 when the format would not fit a 2-byte length) for these columns.
void WriteRowFormat(std::string& out, const std::vector<ResultColumn>& columns,
                    const std::vector<WireColumn>& wire);
// One ROW token.
void WriteRow(std::string& out, const std::vector<ResultColumn>& columns,
              const std::vector<WireColumn>& wire, const std::vector<Value>& row);
void WriteMessage(std::string& out, const Message& message, const std::string& serverName);
void WriteDone(std::string& out, std::uint8_t token, std::uint16_t status, std::int64_t count);
void WriteEnvChange(std::string& out, std::uint8_t kind, const std::string& newValue,
                    const std::string& oldValue);

// UTF-8 to UTF-16LE; malformed sequences become U+FFFD.
std::string Utf16FromUtf8(const std::string& utf8);
// ISO 8859-1 to UTF-8, and UTF-8 to ISO 8859-1 with '?' for what it cannot hold (malformed
// sequences included).
std::string Utf8FromLatin1(std::string_view latin1);
std::string Latin1FromUtf8(std::string_view utf8);
// Magnitude bytes (sign byte included) of a numeric of this precision.
int NumericBytes(int precision);

} // namespace asetest
