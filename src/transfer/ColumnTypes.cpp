#include "transfer/ColumnTypes.h"

namespace veltrane {

std::string_view AdoTypeName(std::int16_t code) {
    switch (code) {
    case 0:
        return "adEmpty";
    case 2:
        return "adSmallInt";
    case 3:
        return "adInteger";
    case 4:
        return "adSingle";
    case 5:
        return "adDouble";
    case 6:
        return "adCurrency";
    case 7:
        return "adDate";
    case 8:
        return "adBSTR";
    case 9:
        return "adIDispatch";
    case 10:
        return "adError";
    case 11:
        return "adBoolean";
    case 12:
        return "adVariant";
    case 13:
        return "adIUnknown";
    case 14:
        return "adDecimal";
    case 16:
        return "adTinyInt";
    case 17:
        return "adUnsignedTinyInt";
    case 18:
        return "adUnsignedSmallInt";
    case 19:
        return "adUnsignedInt";
    case 20:
        return "adBigInt";
    case 21:
        return "adUnsignedBigInt";
    case 64:
        return "adFileTime";
    case 72:
        return "adGUID";
    case 128:
        return "adBinary";
    case 129:
        return "adChar";
    case 130:
        return "adWChar";
    case 131:
        return "adNumeric";
    case 132:
        return "adUserDefined";
    case 133:
        return "adDBDate";
    case 134:
        return "adDBTime";
    case 135:
        return "adDBTimeStamp";
    case 136:
        return "adChapter";
    case 138:
        return "adPropVariant";
    case 139:
        return "adVarNumeric";
    case 200:
        return "adVarChar";
    case 201:
        return "adLongVarChar";
    case 202:
        return "adVarWChar";
    case 203:
        return "adLongVarWChar";
    case 204:
        return "adVarBinary";
    case 205:
        return "adLongVarBinary";
    default:
        return {};
    }
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

std::string CreateTableStatement(TransferDirection direction, std::string_view table,
                                 std::span<const FieldInfo> columns) {
    std::string out = "CREATE TABLE ";
    AppendTargetIdentifier(out, direction, table);
    out.push_back('(');
    for (const FieldInfo& column : columns) {
        AppendTargetIdentifier(out, direction, column.name);
        if (direction == TransferDirection::ToSybase) {
            out.append(kSybaseColumnType);
        } else {
            out.append(MySQLColumnType(column));
        }
    }
    // Without columns there is no comma to drop; the server then rejects "()" itself.
    if (out.back() == ',') {
        out.pop_back();
    }
    out.append(direction == TransferDirection::ToSybase ? ")" : ");");
    return out;
}

} // namespace veltrane
