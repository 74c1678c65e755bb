#pragma once

// Decoding of the native values FreeTDS hands out for TDS 5.0 columns. Kept free of FreeTDS
// types so that every conversion can be tested without a server.

#include "connect/access/AdoType.h"
#include "connect/access/DbValue.h"

#include <cstdint>
#include <string>

namespace veltrane::tds {

// TDS 5.0 wire type codes (as reported by dbcolinfo's ServerType).
enum WireType : int {
    kImage = 0x22,
    kText = 0x23,
    kVarBinary = 0x25,
    kIntN = 0x26,
    kVarChar = 0x27,
    kBinary = 0x2D,
    kChar = 0x2F,
    kInt1 = 0x30,
    kDate = 0x31,
    kBit = 0x32,
    kTime = 0x33,
    kInt2 = 0x34,
    kInt4 = 0x38,
    kDateTime4 = 0x3A,
    kReal = 0x3B,
    kMoney = 0x3C,
    kDateTime = 0x3D,
    kFloat = 0x3E,
    kUInt1 = 0x40,
    kUInt2 = 0x41,
    kUInt4 = 0x42,
    kUInt8 = 0x43,
    kUIntN = 0x44,
    kNText = 0x63,
    kBitN = 0x68,
    kDecimal = 0x6A,
    kNumeric = 0x6C,
    kFloatN = 0x6D,
    kMoneyN = 0x6E,
    kDateTimeN = 0x6F,
    kMoney4 = 0x7A,
    kDateN = 0x7B,
    kInt8 = 0x7F,
    kTimeN = 0x93,
    kUniText = 0xAE,
    kLongChar = 0xAF,
    kBigDateTime = 0xBB,
    kBigTime = 0xBC,
    kSyb5Int8 = 0xBF,
    kLongBinary = 0xE1,
};

// ASE user type numbers that tell columns of one wire type apart.
enum UserType : int {
    kUserChar = 1,
    kUserVarChar = 2,
    kUserBinary = 3,
    kUserVarBinary = 4,
    kUserSysName = 18,
    kUserText = 19,
    kUserImage = 20,
    kUserNChar = 24,
    kUserNVarChar = 25,
    kUserUniChar = 34,
    kUserUniVarChar = 35,
    kUserUniText = 36,
    kUserTimestamp = 80,
};

struct ColumnType {
    int wireType = 0;
    int userType = 0;
    int size = 0; // the column's maximum length in bytes
};

// The ADO type code of a column. For character and binary columns FreeTDS reports only its
// client type (char, text, binary, image), so the server's user type decides.
AdoType AdoTypeOf(const ColumnType& column);

// Number of bytes (sign byte included) of a numeric of this precision on the wire.
int NumericBytes(int precision);

// Plain-notation decimal of a sign byte (0 positive) and a big-endian magnitude scaled by
// 10^scale.
std::string DecimalFromMagnitude(bool negative, const unsigned char* magnitude, int length,
                                 int scale);

// Money as signed 1/10000 units, always with four decimals.
std::string MoneyText(std::int64_t tenThousandths);

// Days since 1900-01-01 (negative before) to a calendar date.
DateValue DateFromDays1900(std::int64_t days);

// 1/300-second ticks since midnight to a time with three fraction digits (rounded to the
// millisecond the way ASE shows them: 299 ticks -> .997).
TimeValue TimeFromTicks300(std::int64_t ticks);

// Microseconds since midnight to a time with six fraction digits.
TimeValue TimeFromMicroseconds(std::uint64_t micros);

// FreeTDS's bigdatetime: microseconds since 0000-01-01 (proleptic Gregorian, day 0 is
// 693961 days before 1900-01-01).
DateTimeValue BigDateTimeFromMicroseconds(std::uint64_t micros);

// Converts one value. `data` is the column value as FreeTDS stores it in client memory
// (host byte order; DBNUMERIC, DBMONEY, DBDATETIME layouts), `length` its byte count.
// `data == nullptr` means NULL, and so does a text, unitext or image value of no bytes.
DbValue DecodeValue(const ColumnType& column, const unsigned char* data, std::int64_t length);

} // namespace veltrane::tds
