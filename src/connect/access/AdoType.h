#pragma once

#include <cstdint>

namespace veltrane {

// Data type codes of ADO's DataTypeEnum. Both backends report their column types with
// these codes, so the column type mapping works the same whichever server is the source.
enum class AdoType : std::int16_t {
    Empty = 0,
    SmallInt = 2,
    Integer = 3,
    Single = 4,
    Double = 5,
    Currency = 6,
    Date = 7,
    BSTR = 8,
    IDispatch = 9,
    Error = 10,
    Boolean = 11,
    Variant = 12,
    IUnknown = 13,
    Decimal = 14,
    TinyInt = 16,
    UnsignedTinyInt = 17,
    UnsignedSmallInt = 18,
    UnsignedInt = 19,
    BigInt = 20,
    UnsignedBigInt = 21,
    FileTime = 64,
    GUID = 72,
    Binary = 128,
    Char = 129,
    WChar = 130,
    Numeric = 131,
    UserDefined = 132,
    DBDate = 133,
    DBTime = 134,
    DBTimeStamp = 135,
    Chapter = 136,
    PropVariant = 138,
    VarNumeric = 139,
    VarChar = 200,
    LongVarChar = 201,
    VarWChar = 202,
    LongVarWChar = 203,
    VarBinary = 204,
    LongVarBinary = 205,
};

// The decimal digits of the largest value of an integer type (the precision ADO reports for
// it); 0 for every other type.
constexpr int IntegerPrecision(AdoType type) {
    switch (type) {
    case AdoType::TinyInt:
    case AdoType::UnsignedTinyInt:
        return 3;
    case AdoType::SmallInt:
    case AdoType::UnsignedSmallInt:
        return 5;
    case AdoType::Integer:
    case AdoType::UnsignedInt:
        return 10;
    case AdoType::BigInt:
        return 19;
    case AdoType::UnsignedBigInt:
        return 20;
    default:
        return 0;
    }
}

} // namespace veltrane
