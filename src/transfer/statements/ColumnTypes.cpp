#include "transfer/statements/ColumnTypes.h"

namespace veltrane {
namespace {

struct NamedCode {
    std::int16_t code;
    std::string_view name;
};

// ADO's DataTypeEnum; the array flag (8192) and every other code have no name.
constexpr NamedCode kAdoTypeNames[] = {
    {0, "adEmpty"},
    {2, "adSmallInt"},
    {3, "adInteger"},
    {4, "adSingle"},
    {5, "adDouble"},
    {6, "adCurrency"},
    {7, "adDate"},
    {8, "adBSTR"},
    {9, "adIDispatch"},
    {10, "adError"},
    {11, "adBoolean"},
    {12, "adVariant"},
    {13, "adIUnknown"},
    {14, "adDecimal"},
    {16, "adTinyInt"},
    {17, "adUnsignedTinyInt"},
    {18, "adUnsignedSmallInt"},
    {19, "adUnsignedInt"},
    {20, "adBigInt"},
    {21, "adUnsignedBigInt"},
    {64, "adFileTime"},
    {72, "adGUID"},
    {128, "adBinary"},
    {129, "adChar"},
    {130, "adWChar"},
    {131, "adNumeric"},
    {132, "adUserDefined"},
    {133, "adDBDate"},
    {134, "adDBTime"},
    {135, "adDBTimeStamp"},
    {136, "adChapter"},
    {138, "adPropVariant"},
    {139, "adVarNumeric"},
    {200, "adVarChar"},
    {201, "adLongVarChar"},
    {202, "adVarWChar"},
    {203, "adLongVarWChar"},
    {204, "adVarBinary"},
    {205, "adLongVarBinary"},
};

} // namespace

std::string_view AdoTypeName(std::int16_t code) {
    for (const NamedCode& entry : kAdoTypeNames) {
        if (entry.code == code) {
            return entry.name;
        }
    }
    return {};
}

namespace {

// MySQL's own limits for DECIMAL(p,s).
constexpr int kMaxDecimalPrecision = 65;
constexpr int kMaxDecimalScale = 30;

std::string ExactNumberType(const FieldInfo& column) {
    const int p = column.precision;
    const int s = column.scale;
    if (p < 1 || p > kMaxDecimalPrecision || s < 0 || s > kMaxDecimalScale || s > p) {
        // No DECIMAL holds every value; text keeps every digit.
        return " LONGTEXT,";
    }
    return " DECIMAL(" + std::to_string(p) + "," + std::to_string(s) + "),";
}

} // namespace

std::string MySQLColumnType(const FieldInfo& column) {
    switch (column.type) {
    case AdoType::TinyInt:
        return " TINYINT,";
    case AdoType::UnsignedTinyInt:
        return " TINYINT UNSIGNED,";
    case AdoType::SmallInt:
        return " SMALLINT,";
    case AdoType::UnsignedSmallInt:
        return " SMALLINT UNSIGNED,";
    case AdoType::Integer:
        return " INT,";
    case AdoType::UnsignedInt:
        return " INT UNSIGNED,";
    case AdoType::BigInt:
        return " BIGINT,";
    case AdoType::UnsignedBigInt:
        return " BIGINT UNSIGNED,";
    case AdoType::Single:
        return " FLOAT,";
    case AdoType::Double:
        return " DOUBLE,";
    case AdoType::Decimal:
    case AdoType::Numeric:
    case AdoType::VarNumeric:
        return ExactNumberType(column);
    case AdoType::Currency:
        return " DECIMAL(19,4),";
    case AdoType::Boolean:
        return " BIT,";
    case AdoType::Date:
    case AdoType::DBTimeStamp:
        return " DATETIME(6),";
    case AdoType::DBDate:
        return " DATE,";
    case AdoType::DBTime:
        return " TIME(6),";
    case AdoType::Char:
    case AdoType::WChar:
    case AdoType::VarChar:
    case AdoType::VarWChar:
        return " TEXT,";
    case AdoType::LongVarChar:
    case AdoType::LongVarWChar:
        return " LONGTEXT,";
    case AdoType::Binary:
    case AdoType::VarBinary:
        return " BLOB,";
    case AdoType::LongVarBinary:
        return " LONGBLOB,";
    default:
        return " LONGTEXT,";
    }
}

std::string CreateTableStatement(ServerKind target, std::string_view table,
                                 std::span<const FieldInfo> columns) {
    std::string out = "CREATE TABLE ";
    AppendTargetIdentifier(out, target, table);
    out.push_back('(');
    for (const FieldInfo& column : columns) {
        AppendTargetIdentifier(out, target, column.name);
        if (target == ServerKind::SybaseASE) {
            out.append(kSybaseColumnType);
        } else {
            out.append(MySQLColumnType(column));
        }
    }
    // Without columns there is no comma to drop; the server then rejects "()" itself.
    if (out.back() == ',') {
        out.pop_back();
    }
    out.append(target == ServerKind::SybaseASE ? ")" : ");");
    return out;
}

} // namespace veltrane
