// Column descriptions: the ADO code, precision, scale and size reported for each MySQL type.

#include "MySqlTestHelpers.h"

namespace veltrane::testing {
namespace {

struct TypeCase {
    const char* declaration;
    AdoType type;
    int precision;
    int scale;
    std::int64_t definedSize; // -1: not checked
};

const TypeCase kTypes[] = {
    {"TINYINT", AdoType::TinyInt, 3, 0, 1},
    {"TINYINT UNSIGNED", AdoType::UnsignedTinyInt, 3, 0, 1},
    {"SMALLINT", AdoType::SmallInt, 5, 0, 2},
    {"SMALLINT UNSIGNED", AdoType::UnsignedSmallInt, 5, 0, 2},
    {"MEDIUMINT", AdoType::Integer, 7, 0, 4},
    {"MEDIUMINT UNSIGNED", AdoType::UnsignedInt, 8, 0, 4},
    {"INT", AdoType::Integer, 10, 0, 4},
    {"INT UNSIGNED", AdoType::UnsignedInt, 10, 0, 4},
    {"BIGINT", AdoType::BigInt, 19, 0, 8},
    {"BIGINT UNSIGNED", AdoType::UnsignedBigInt, 20, 0, 8},
    {"DECIMAL(10,2)", AdoType::Numeric, 10, 2, -1},
    {"DECIMAL(10,2) UNSIGNED", AdoType::Numeric, 10, 2, -1},
    {"DECIMAL(65,30)", AdoType::Numeric, 65, 30, -1},
    {"DECIMAL(5,0)", AdoType::Numeric, 5, 0, -1},
    {"DECIMAL(4,4)", AdoType::Numeric, 4, 4, -1},
    {"FLOAT", AdoType::Single, 7, 0, 4},
    {"DOUBLE", AdoType::Double, 15, 0, 8},
    {"DATE", AdoType::DBDate, 10, 0, 6},
    {"TIME", AdoType::DBTime, 10, 0, 6},
    {"TIME(3)", AdoType::DBTime, 14, 3, 6},
    {"DATETIME", AdoType::DBTimeStamp, 19, 0, 16},
    {"DATETIME(6)", AdoType::DBTimeStamp, 26, 6, 16},
    {"TIMESTAMP NULL", AdoType::DBTimeStamp, 19, 0, 16},
    {"YEAR", AdoType::SmallInt, 4, 0, 2},
    {"BIT(1)", AdoType::Boolean, 1, 0, 1},
    {"BIT(12)", AdoType::VarBinary, 0, 0, 2},
    {"CHAR(10)", AdoType::Char, 0, 0, 10},
    {"VARCHAR(300)", AdoType::VarChar, 0, 0, 300},
    {"CHAR(5) CHARACTER SET latin1", AdoType::Char, 0, 0, 5},
    {"VARCHAR(20) COLLATE utf8mb4_bin", AdoType::VarChar, 0, 0, 20},
    {"TINYTEXT", AdoType::LongVarChar, 0, 0, -1},
    {"TEXT", AdoType::LongVarChar, 0, 0, 65535},
    {"MEDIUMTEXT", AdoType::LongVarChar, 0, 0, -1},
    {"LONGTEXT", AdoType::LongVarChar, 0, 0, -1},
    {"BINARY(16)", AdoType::Binary, 0, 0, 16},
    {"VARBINARY(300)", AdoType::VarBinary, 0, 0, 300},
    {"TINYBLOB", AdoType::LongVarBinary, 0, 0, 255},
    {"BLOB", AdoType::LongVarBinary, 0, 0, 65535},
    {"MEDIUMBLOB", AdoType::LongVarBinary, 0, 0, -1},
    {"LONGBLOB", AdoType::LongVarBinary, 0, 0, -1},
    {"JSON", AdoType::LongVarChar, 0, 0, -1},
    {"ENUM('a','bb')", AdoType::Char, 0, 0, 2},
    {"SET('x','y')", AdoType::Char, 0, 0, 3},
    {"GEOMETRY", AdoType::LongVarBinary, 0, 0, -1},
};

TEST(MySQLColumnTypes, EachTypeReportsItsAdoCodePrecisionAndScale) {
    VELTRANE_REQUIRE_MYSQL(server);
    const std::string table = UniqueTableName();
    DropTableAtExit drop(server, table);
    auto connection = OpenMySQL(server);
    std::string create = "CREATE TABLE `" + table + "` (";
    for (std::size_t i = 0; i < std::size(kTypes); ++i) {
        create += (i ? ", c" : "c") + std::to_string(i) + " " + kTypes[i].declaration;
    }
    connection->Execute(create + ")");

    // Both cursor kinds describe columns the same way, with rows and without.
    for (auto cursor : {CursorLocation::Client, CursorLocation::Server}) {
        auto reader = OpenMySQL(server, cursor);
        auto rows = reader->Execute("SELECT * FROM `" + table + "`");
        ASSERT_NE(rows, nullptr);
        ASSERT_EQ(rows->FieldCount(), static_cast<int>(std::size(kTypes)));
        for (std::size_t i = 0; i < std::size(kTypes); ++i) {
            const TypeCase& expected = kTypes[i];
            const FieldInfo& field = rows->Field(static_cast<int>(i));
            SCOPED_TRACE(expected.declaration);
            EXPECT_EQ(field.name, "c" + std::to_string(i));
            EXPECT_EQ(field.type, expected.type) << "got " << static_cast<int>(field.type)
                                                 << ", want " << static_cast<int>(expected.type);
            EXPECT_EQ(field.precision, expected.precision);
            EXPECT_EQ(field.scale, expected.scale);
            if (expected.definedSize >= 0) {
                EXPECT_EQ(field.definedSize, expected.definedSize);
            } else {
                EXPECT_GT(field.definedSize, 0);
            }
        }
        EXPECT_THROW(rows->Field(static_cast<int>(std::size(kTypes))), DatabaseError);
        EXPECT_THROW(rows->Field(-1), DatabaseError);
    }
}

TEST(MySQLColumnTypes, ExpressionsWithoutATableAreDescribedToo) {
    VELTRANE_REQUIRE_MYSQL(server);
    auto connection = OpenMySQL(server);
    auto rows = connection->Execute("SELECT NULL AS n, 1 AS i, 12345678901 AS b, 1.5 AS d, "
                                    "'text' AS t, X'00FF' AS x, NOW(6) AS ts");
    ASSERT_NE(rows, nullptr);
    EXPECT_TRUE(rows->Value("n").IsNull());
    EXPECT_EQ(rows->Field(1).type, AdoType::Integer);
    EXPECT_EQ(rows->Field(2).type, AdoType::BigInt);
    EXPECT_EQ(rows->Field(3).type, AdoType::Numeric);
    EXPECT_EQ(rows->Field(3).scale, 1);
    EXPECT_EQ(rows->Field(4).type, AdoType::VarChar);
    EXPECT_EQ(rows->Value("x"), DbValue::Binary(std::string("\0\xff", 2)));
    EXPECT_EQ(rows->Field(6).type, AdoType::DBTimeStamp);
    EXPECT_EQ(rows->Value("ts").AsDateTime().time.fraction.size(), 6u);
}

} // namespace
} // namespace veltrane::testing
