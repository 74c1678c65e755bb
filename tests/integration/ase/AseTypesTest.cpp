// Every ASE column type: its ADO code, precision/scale, and values read back exactly.

#include "TestServers.h"
#include "connect/Connection.h"
#include "connect/access/DatabaseError.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace veltrane::testing {
namespace {

struct TypeCase {
    std::string column;  // column definition
    AdoType type;        // expected ADO code
    std::string literal; // value inserted
    std::string text;    // expected DbValue::ToText of what reads back
    DbValue::Kind kind;
};

class AseTypes : public ::testing::Test {
protected:
    void Open(const ServerCoordinates& server) {
        connection_.SetCursorLocation(CursorLocation::Client);
        connection_.Open(SybaseConnectionStringFor(server));
    }
    void Recreate(const std::string& table, const std::string& columns) {
        connection_.Execute("if object_id('" + table + "') is not null drop table " + table);
        connection_.Execute("create table " + table + " (" + columns + ")");
    }
    Connection connection_;
};

TEST_F(AseTypes, EveryTypeCodeAndExactValue) {
    VELTRANE_REQUIRE_SYBASE(server);
    Open(server);
    using K = DbValue::Kind;
    const std::vector<TypeCase> cases = {
        {"c_int int", AdoType::Integer, "-2147483648", "-2147483648", K::Int},
        {"c_smallint smallint", AdoType::SmallInt, "32767", "32767", K::Int},
        {"c_tinyint tinyint", AdoType::UnsignedTinyInt, "255", "255", K::UInt},
        {"c_bigint bigint", AdoType::BigInt, "-9223372036854775808", "-9223372036854775808",
         K::Int},
        {"c_usmall unsigned smallint", AdoType::UnsignedSmallInt, "65535", "65535", K::UInt},
        {"c_uint unsigned int", AdoType::UnsignedInt, "4294967295", "4294967295", K::UInt},
        {"c_ubig unsigned bigint", AdoType::UnsignedBigInt, "18446744073709551615",
         "18446744073709551615", K::UInt},
        {"c_num numeric(38,0)", AdoType::Numeric, "-99999999999999999999999999999999999999",
         "-99999999999999999999999999999999999999", K::Decimal},
        {"c_num10 numeric(38,10)", AdoType::Numeric, "1234567890123456789012345678.0123456789",
         "1234567890123456789012345678.0123456789", K::Decimal},
        {"c_dec decimal(10,2)", AdoType::Numeric, "-12345.67", "-12345.67", K::Decimal},
        {"c_real real", AdoType::Single, "1.5", "1.5", K::Single},
        {"c_float float", AdoType::Double, "-2.25", "-2.25", K::Double},
        {"c_money money", AdoType::Currency, "-922337203685477.5808", "-922337203685477.5808",
         K::Decimal},
        {"c_smallmoney smallmoney", AdoType::Currency, "-1.5", "-1.5000", K::Decimal},
        {"c_bit bit", AdoType::Boolean, "1", "True", K::Boolean},
        {"c_datetime datetime", AdoType::DBTimeStamp, "'2024-02-29 23:59:59.997'",
         "2024-02-29 23:59:59.997", K::DateTime},
        {"c_old datetime", AdoType::DBTimeStamp, "'1753-01-01 00:00:00.000'",
         "1753-01-01 00:00:00.000", K::DateTime},
        {"c_small smalldatetime", AdoType::DBTimeStamp, "'2079-06-06 23:59'", "2079-06-06 23:59:00",
         K::DateTime},
        {"c_big bigdatetime", AdoType::DBTimeStamp, "'1899-12-31 12:34:56.123456'",
         "1899-12-31 12:34:56.123456", K::DateTime},
        {"c_date date", AdoType::DBDate, "'0001-01-01'", "0001-01-01", K::Date},
        {"c_time time", AdoType::DBTime, "'23:59:59.997'", "23:59:59.997", K::Time},
        {"c_bigtime bigtime", AdoType::DBTime, "'23:59:59.999999'", "23:59:59.999999", K::Time},
        {"c_char char(5)", AdoType::Char, "'ab'", "ab   ", K::Text},
        {"c_varchar varchar(20)", AdoType::VarChar, "'a''b\\c'", "a'b\\c", K::Text},
        {"c_text text", AdoType::LongVarChar, "'long'", "long", K::Text},
        {"c_unichar unichar(3)", AdoType::WChar, "'\xC3\xA9\xE2\x82\xAC\xE4\xB8\xAD'",
         "\xC3\xA9\xE2\x82\xAC\xE4\xB8\xAD", K::Text},
        {"c_univarchar univarchar(10)", AdoType::VarWChar, "'\xD0\x96x'", "\xD0\x96x", K::Text},
        {"c_unitext unitext", AdoType::LongVarWChar, "'\xF0\x9F\x98\x80'", "\xF0\x9F\x98\x80",
         K::Text},
        {"c_binary binary(2)", AdoType::Binary, "0x00ff", "0x00ff", K::Binary},
        {"c_varbinary varbinary(10)", AdoType::VarBinary, "0x5c27", "0x5c27", K::Binary},
        {"c_image image", AdoType::LongVarBinary, "0x000102", "0x000102", K::Binary},
    };
    std::string columns, values;
    for (const TypeCase& c : cases) {
        columns += (columns.empty() ? "" : ", ") + c.column;
        values += (values.empty() ? "" : ", ") + c.literal;
    }
    Recreate("vt_types", columns);
    connection_.Execute("insert into vt_types values (" + values + ")");
    auto rs = connection_.Execute("select * from vt_types");
    ASSERT_NE(rs, nullptr);
    ASSERT_EQ(rs->FieldCount(), static_cast<int>(cases.size()));
    EXPECT_EQ(rs->RecordCount(), 1);
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const TypeCase& c = cases[i];
        const int index = static_cast<int>(i);
        SCOPED_TRACE(c.column);
        EXPECT_EQ(rs->Field(index).name, c.column.substr(0, c.column.find(' ')));
        EXPECT_EQ(rs->Field(index).type, c.type);
        EXPECT_EQ(rs->Value(index).GetKind(), c.kind);
        EXPECT_EQ(rs->Value(index).ToText(), c.text);
    }
    const FieldInfo& num = rs->Field(rs->FieldIndex("c_num10"));
    EXPECT_EQ(num.precision, 38);
    EXPECT_EQ(num.scale, 10);
    EXPECT_EQ(rs->Field(rs->FieldIndex("c_varchar")).definedSize, 20);
    connection_.Execute("drop table vt_types");
}

TEST_F(AseTypes, NullsOfEveryNullableKind) {
    VELTRANE_REQUIRE_SYBASE(server);
    Open(server);
    Recreate("vt_nulls", "i int null, n numeric(10,2) null, m money null, d datetime null, "
                         "v varchar(5) null, t text null, b varbinary(4) null, u univarchar(4) "
                         "null, f float null, dt date null");
    connection_.Execute("insert into vt_nulls values (null, null, null, null, null, null, null, "
                        "null, null, null)");
    auto rs = connection_.Execute("select * from vt_nulls");
    ASSERT_NE(rs, nullptr);
    ASSERT_FALSE(rs->IsEOF());
    for (int i = 0; i < rs->FieldCount(); ++i)
        EXPECT_TRUE(rs->Value(i).IsNull()) << rs->Field(i).name;
    connection_.Execute("drop table vt_nulls");
}

TEST_F(AseTypes, TextBeyond32KilobytesReadsBackWhole) {
    VELTRANE_REQUIRE_SYBASE(server);
    Open(server);
    Recreate("vt_long", "t text null");
    std::string value;
    for (int i = 0; value.size() < 100 * 1024; ++i)
        value += std::to_string(i) + ",";
    connection_.Execute("insert into vt_long values ('" + value + "')");
    const DbValue back = connection_.Execute("select t from vt_long")->Value(0);
    ASSERT_EQ(back.GetKind(), DbValue::Kind::Text);
    EXPECT_EQ(back.AsText().size(), value.size());
    EXPECT_TRUE(back.AsText() == value);
    connection_.Execute("drop table vt_long");
}

} // namespace
} // namespace veltrane::testing
