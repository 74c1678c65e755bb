// Type names, column types toward both servers and whole CREATE TABLE statements.

#include "transfer/statements/ColumnTypes.h"

#include <gtest/gtest.h>
#include <vector>

namespace veltrane {
namespace {

FieldInfo Column(std::string name, AdoType type, int precision = 0, int scale = 0) {
    return FieldInfo{std::move(name), type, precision, scale, 0};
}

FieldInfo Code(std::int16_t code) {
    return Column("c", static_cast<AdoType>(code));
}

struct TypeCase {
    std::int16_t code;
    const char* name;
    const char* mysql; // column type toward MySQL for a field with no precision or scale
};

// Every code ADO names, with the type toward MySQL that keeps every value of it.
const TypeCase kEveryCode[] = {
    {0, "adEmpty", " LONGTEXT,"},
    {2, "adSmallInt", " SMALLINT,"},
    {3, "adInteger", " INT,"},
    {4, "adSingle", " FLOAT,"},
    {5, "adDouble", " DOUBLE,"},
    {6, "adCurrency", " DECIMAL(19,4),"},
    {7, "adDate", " DATETIME(6),"},
    {8, "adBSTR", " LONGTEXT,"},
    {9, "adIDispatch", " LONGTEXT,"},
    {10, "adError", " LONGTEXT,"},
    {11, "adBoolean", " BIT,"},
    {12, "adVariant", " LONGTEXT,"},
    {13, "adIUnknown", " LONGTEXT,"},
    {14, "adDecimal", " LONGTEXT,"}, // precision unknown
    {16, "adTinyInt", " TINYINT,"},
    {17, "adUnsignedTinyInt", " TINYINT UNSIGNED,"},
    {18, "adUnsignedSmallInt", " SMALLINT UNSIGNED,"},
    {19, "adUnsignedInt", " INT UNSIGNED,"},
    {20, "adBigInt", " BIGINT,"},
    {21, "adUnsignedBigInt", " BIGINT UNSIGNED,"},
    {64, "adFileTime", " LONGTEXT,"},
    {72, "adGUID", " LONGTEXT,"},
    {128, "adBinary", " BLOB,"},
    {129, "adChar", " TEXT,"},
    {130, "adWChar", " TEXT,"},
    {131, "adNumeric", " LONGTEXT,"},
    {132, "adUserDefined", " LONGTEXT,"},
    {133, "adDBDate", " DATE,"},
    {134, "adDBTime", " TIME(6),"},
    {135, "adDBTimeStamp", " DATETIME(6),"},
    {136, "adChapter", " LONGTEXT,"},
    {138, "adPropVariant", " LONGTEXT,"},
    {139, "adVarNumeric", " LONGTEXT,"},
    {200, "adVarChar", " TEXT,"},
    {201, "adLongVarChar", " LONGTEXT,"},
    {202, "adVarWChar", " TEXT,"},
    {203, "adLongVarWChar", " LONGTEXT,"},
    {204, "adVarBinary", " BLOB,"},
    {205, "adLongVarBinary", " LONGBLOB,"},
};

// Codes ADO does not name: gaps in the table, the array flag, negatives.
const std::int16_t kUnnamedCodes[] = {1,   15,  22,   63,   65, 127,    137,  140,
                                      199, 206, 8192, 8195, -1, -32768, 32767};

TEST(AdoTypeName, EveryCodeOfTheTableHasItsName) {
    EXPECT_EQ(std::size(kEveryCode), 39u);
    for (const auto& c : kEveryCode) {
        EXPECT_EQ(AdoTypeName(c.code), c.name) << c.code;
        EXPECT_EQ(AdoTypeName(static_cast<AdoType>(c.code)), c.name);
    }
}

TEST(AdoTypeName, OtherCodesHaveTheEmptyName) {
    for (std::int16_t code : kUnnamedCodes) {
        EXPECT_EQ(AdoTypeName(code), "") << code;
    }
}

TEST(MySQLColumnType, EveryCodeGetsATypeThatHoldsItsValues) {
    for (const auto& c : kEveryCode) {
        EXPECT_EQ(MySQLColumnType(Code(c.code)), c.mysql) << c.name;
    }
}

TEST(MySQLColumnType, UnnamedCodesBecomeLongText) {
    for (std::int16_t code : kUnnamedCodes) {
        EXPECT_EQ(MySQLColumnType(Code(code)), " LONGTEXT,") << code;
    }
}

TEST(MySQLColumnType, ExactNumbersKeepPrecisionAndScaleWithinMySQLsLimits) {
    struct {
        int precision;
        int scale;
        const char* type;
    } const cases[] = {
        {10, 2, " DECIMAL(10,2),"}, {1, 0, " DECIMAL(1,0),"},     {38, 0, " DECIMAL(38,0),"},
        {4, 4, " DECIMAL(4,4),"},   {65, 30, " DECIMAL(65,30),"}, {65, 0, " DECIMAL(65,0),"},
        {66, 0, " LONGTEXT,"},      {65, 31, " LONGTEXT,"},       {40, 31, " LONGTEXT,"},
        {0, 0, " LONGTEXT,"},       {-1, 0, " LONGTEXT,"},        {10, -1, " LONGTEXT,"},
        {3, 5, " LONGTEXT,"},       {1000, 0, " LONGTEXT,"},
    };
    for (AdoType type : {AdoType::Decimal, AdoType::Numeric, AdoType::VarNumeric}) {
        for (const auto& c : cases) {
            EXPECT_EQ(MySQLColumnType(Column("n", type, c.precision, c.scale)), c.type)
                << AdoTypeName(type) << " " << c.precision << "," << c.scale;
        }
    }
}

TEST(MySQLColumnType, PrecisionDoesNotChangeOtherTypes) {
    EXPECT_EQ(MySQLColumnType(Column("c", AdoType::Currency, 10, 2)), " DECIMAL(19,4),");
    EXPECT_EQ(MySQLColumnType(Column("i", AdoType::Integer, 10, 0)), " INT,");
    EXPECT_EQ(MySQLColumnType(Column("t", AdoType::DBTimeStamp, 19, 0)), " DATETIME(6),");
    EXPECT_EQ(MySQLColumnType(Column("t", AdoType::DBTime, 14, 3)), " TIME(6),");
}

TEST(CreateTableStatement, EveryCodeTowardSybaseIsNullableText) {
    std::vector<FieldInfo> columns;
    std::string expected = "CREATE TABLE [all](";
    for (const auto& c : kEveryCode) {
        columns.push_back(Column(c.name, static_cast<AdoType>(c.code), 10, 2));
        expected += std::string("[") + c.name + "] TEXT NULL,";
    }
    for (std::int16_t code : kUnnamedCodes) {
        columns.push_back(Column("x" + std::to_string(code), static_cast<AdoType>(code)));
        expected += "[x" + std::to_string(code) + "] TEXT NULL,";
    }
    expected.back() = ')';
    EXPECT_EQ(CreateTableStatement(ServerKind::SybaseASE, "all", columns), expected);
}

TEST(CreateTableStatement, EveryCodeTowardMySQLInSourceOrder) {
    std::vector<FieldInfo> columns;
    std::string expected = "CREATE TABLE `all`(";
    for (const auto& c : kEveryCode) {
        columns.push_back(Column(c.name, static_cast<AdoType>(c.code)));
        expected += std::string("`") + c.name + "`" + c.mysql;
    }
    expected.back() = ')';
    expected += ';';
    EXPECT_EQ(CreateTableStatement(ServerKind::MySQL, "all", columns), expected);
}

// The worked example of the orders table; the types are the ones that keep the data
// (TEXT NULL toward Sybase ASE; INT, DECIMAL(19,4), DATETIME(6), LONGBLOB toward MySQL).
const std::vector<FieldInfo> kOrders = {
    Column("id", AdoType::Integer),     Column("name", AdoType::VarChar),
    Column("total", AdoType::Currency), Column("created", AdoType::DBTimeStamp),
    Column("flag", AdoType::Boolean),   Column("photo", AdoType::LongVarBinary),
};

TEST(CreateTableStatement, OrdersTowardSybaseWithNullableTextColumns) {
    EXPECT_EQ(CreateTableStatement(ServerKind::SybaseASE, "orders", kOrders),
              "CREATE TABLE [orders]([id] TEXT NULL,[name] TEXT NULL,[total] TEXT NULL,"
              "[created] TEXT NULL,[flag] TEXT NULL,[photo] TEXT NULL)");
}

TEST(CreateTableStatement, OrdersTowardMySQLWithLosslessTypes) {
    EXPECT_EQ(CreateTableStatement(ServerKind::MySQL, "orders", kOrders),
              "CREATE TABLE `orders`(`id` INT,`name` TEXT,`total` DECIMAL(19,4),"
              "`created` DATETIME(6),`flag` BIT,`photo` LONGBLOB);");
}

TEST(CreateTableStatement, OneColumnTablesWithNullableTextTowardSybase) {
    const std::vector<FieldInfo> one = {Column("c", AdoType::Char)};
    EXPECT_EQ(CreateTableStatement(ServerKind::MySQL, "t", one), "CREATE TABLE `t`(`c` TEXT);");
    EXPECT_EQ(CreateTableStatement(ServerKind::SybaseASE, "t", one),
              "CREATE TABLE [t]([c] TEXT NULL)");
}

TEST(CreateTableStatement, NamesKeepCaseAndBlanksAndHaveClosingQuotesDoubled) {
    const std::vector<FieldInfo> columns = {
        Column("unit price", AdoType::Double),
        Column("we`ird]", AdoType::Integer),
        Column("Ünïcødé 名 😀", AdoType::VarChar),
        Column("it's", AdoType::Boolean),
    };
    EXPECT_EQ(CreateTableStatement(ServerKind::SybaseASE, "My `Table]", columns),
              "CREATE TABLE [My `Table]]]([unit price] TEXT NULL,[we`ird]]] TEXT NULL,"
              "[Ünïcødé 名 😀] TEXT NULL,[it's] TEXT NULL)");
    EXPECT_EQ(CreateTableStatement(ServerKind::MySQL, "My `Table]", columns),
              "CREATE TABLE `My ``Table]`(`unit price` DOUBLE,`we``ird]` INT,"
              "`Ünïcødé 名 😀` TEXT,`it's` BIT);");
}

TEST(CreateTableStatement, NoColumnsKeepsTheParenthesesForTheServerToReject) {
    EXPECT_EQ(CreateTableStatement(ServerKind::SybaseASE, "t", {}), "CREATE TABLE [t]()");
    EXPECT_EQ(CreateTableStatement(ServerKind::MySQL, "t", {}), "CREATE TABLE `t`();");
}

} // namespace
} // namespace veltrane
