// Values and types of the engine: type categories, conversions with ASE's rules, comparisons
// and text formatting. Everything here is pure computation, without storage.
#pragma once

#include "Engine.h"

#include <exception>
#include <string>
#include <string_view>

namespace asetest {

// A failure reported to the client as a server message.
class EngineError : public std::exception {
public:
    EngineError(int number, int severity, std::string text)
        : message_{number, severity, 1, std::move(text)} {}
    const Message& message() const { return message_; }
    const char* what() const noexcept override { return message_.text.c_str(); }

private:
    Message message_;
};

// A value together with its type, as expressions produce them.
struct Datum {
    ColumnType type;
    Value value;
};

bool IsIntegerType(AseType t);  // tinyint .. unsigned bigint, bit
bool IsUnsignedType(AseType t); // unsigned smallint/int/bigint
bool IsDecimalType(AseType t);  // numeric, decimal
bool IsMoneyType(AseType t);
bool IsApproxType(AseType t); // real, float
bool IsNumberType(AseType t); // all of the above
bool IsDateType(AseType t);
bool IsCharType(AseType t);      // char, varchar, text
bool IsUniType(AseType t);       // unichar, univarchar, unitext
bool IsStringType(AseType t);    // char or uni
bool IsBinaryType(AseType t);    // binary, varbinary, image
bool IsLargeType(AseType t);     // text, unitext, image
std::string TypeName(AseType t); // upper case, as ASE names types in messages

// Constructors of common data.
Datum NullDatum(ColumnType type);
Datum IntDatum(std::int64_t v, AseType t = AseType::Int, bool nullable = false);
Datum StringDatum(std::string s, bool nullable = false); // varchar(len)
Datum BinaryDatum(std::string bytes, bool nullable = false);
Datum FloatDatum(double v, bool nullable = false);

// 128-bit integer text.
std::string Int128ToString(Int128 v);
bool ParseInt128(std::string_view text, Int128& out);
Int128 Pow10(int n); // n in 0..38
// Decimal text of unscaled / 10^scale.
std::string FormatScaled(Int128 unscaled, int scale);

// Dates: days relative to 1900-01-01.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d);
void CivilFromDays(std::int64_t days, std::int64_t& y, unsigned& m, unsigned& d);

struct ParsedDateTime {
    std::int64_t days = 0;   // since 1900-01-01
    std::int64_t micros = 0; // since midnight
};
// Accepts the date and time formats ASE reads; false on bad syntax or out-of-range fields.
bool ParseDateTimeText(std::string_view text, ParsedDateTime& out);

// Converts to `target` (its nullable flag is taken from `in`). Implicit conversions follow
// ASE: strings never become numbers and numbers never become strings without convert().
// `style` applies to date formatting in explicit conversions.
Datum ConvertDatum(const Datum& in, ColumnType target, bool explicitConversion, int style = 0);

// Conversion for storing into a column of type `column`, with the ASE storage rules: '' is
// kept as one blank, varchar and nullable char lose trailing blanks, char NOT NULL is padded,
// too-long strings are cut. NULL checks are left to the caller.
Datum AssignToColumn(const Datum& in, const ColumnType& column);

// Throws msg 257 when values of these types cannot be compared.
void CheckComparable(AseType a, AseType b);

// Orders two non-NULL data; throws msg 257 when the types cannot be compared.
int CompareData(const Datum& a, const Datum& b);

// Text of a value for convert() to a string type and for messages.
std::string FormatDatum(const Datum& d, int style = 0);

// Number of UTF-16 code units in UTF-8 text, and cutting helpers that never split a
// UTF-8 sequence.
std::size_t Utf16Length(std::string_view utf8);
std::size_t Utf8CharCount(std::string_view utf8);
std::string CutUtf8Bytes(std::string_view utf8, std::size_t maxBytes);

// The longest result of a character or binary expression; ASE cuts longer ones silently.
inline constexpr int kMaxExpressionBytes = 16384;
std::string CutUtf16Units(std::string_view utf8, std::size_t maxUnits);

// Bytes a value occupies as ASE counts them for datalength().
std::int64_t DataLength(const Datum& d);

} // namespace asetest
