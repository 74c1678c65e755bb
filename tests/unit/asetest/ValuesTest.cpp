// Types, conversions and the ASE storage rules.
#include "EngineTestSupport.h"
#include "engine/Types.h"

#include <chrono>

namespace asetest::testing {
namespace {

using ValuesTest = EngineTest;

TEST_F(ValuesTest, EmptyStringIsOneBlankInEveryStringType) {
    Ok("create table t (c char(3), v varchar(3), u unichar(3), uv univarchar(3), tx text, "
       "ut unitext, cn char(3) null)");
    Ok("insert t values ('', '', '', '', '', '', '')");
    StatementOutcome o = Query("select * from t");
    ASSERT_EQ(o.rows.size(), 1u);
    const auto& r = o.rows[0];
    EXPECT_EQ(r[0].bytes, "   "); // char NOT NULL is padded
    EXPECT_EQ(r[1].bytes, " ");
    EXPECT_EQ(r[2].bytes, "   ");
    EXPECT_EQ(r[3].bytes, " ");
    EXPECT_EQ(r[4].bytes, " ");
    EXPECT_EQ(r[5].bytes, " ");
    EXPECT_EQ(r[6].bytes, " ");
    EXPECT_EQ(Scalar("select ''").bytes, " ");
    EXPECT_EQ(Scalar("select datalength('')").integer, 1);
    EXPECT_EQ(Scalar("select count(*) from t where v = ''").integer, 1);
}

TEST_F(ValuesTest, TrailingBlanksAndPaddingFollowTheColumnKind) {
    Ok("create table t (c char(5), cn char(5) null, v varchar(5), u unichar(4), "
       "uv univarchar(4), un unichar(4) null)");
    Ok("insert t values (' a ', ' a ', ' a  ', 'é ', 'é  ', 'é ')");
    Ok("insert t values ('   ', '   ', '   ', '  ', '  ', '  ')");
    StatementOutcome o = Query("select * from t");
    ASSERT_EQ(o.rows.size(), 2u);
    EXPECT_EQ(o.rows[0][0].bytes, " a   ");
    EXPECT_EQ(o.rows[0][1].bytes, " a");
    EXPECT_EQ(o.rows[0][2].bytes, " a");
    EXPECT_EQ(o.rows[0][3].bytes, "é   "); // padded to four characters
    EXPECT_EQ(o.rows[0][4].bytes, "é");
    EXPECT_EQ(o.rows[0][5].bytes, "é");
    EXPECT_EQ(o.rows[1][1].bytes, " "); // never trimmed down to empty
    EXPECT_EQ(o.rows[1][2].bytes, " ");
    EXPECT_EQ(o.rows[1][4].bytes, " ");
    EXPECT_EQ(o.columns[1].type.type, AseType::Char);
    EXPECT_TRUE(o.columns[1].type.nullable);
}

TEST_F(ValuesTest, TooLongValuesAreCutSilently) {
    Ok("create table t (v varchar(3), c char(2), u univarchar(2), b varbinary(2), "
       "m varchar(4))");
    Ok("insert t values ('abcdef', 'xyz', 'ĀĂĄ', 0x010203, 'aéé')"); // é is two bytes
    StatementOutcome o = Query("select * from t");
    EXPECT_EQ(o.rows.at(0)[0].bytes, "abc");
    EXPECT_EQ(o.rows[0][1].bytes, "xy");
    EXPECT_EQ(o.rows[0][2].bytes, "ĀĂ");
    EXPECT_EQ(o.rows[0][3].bytes, std::string("\x01\x02", 2));
    EXPECT_EQ(o.rows[0][4].bytes, "aé"); // not cut inside a character
}

TEST_F(ValuesTest, LargeValuesAreCutAtTextSizeWhenSelected) {
    Ok("create table t (tx text, ut unitext, im image)");
    const std::string big(40000, 'x');
    std::string hex;
    for (int i = 0; i < 40000; ++i) {
        hex += "ab";
    }
    Ok("insert t values ('" + big + "', '" + big + "', 0x" + hex + ")");
    StatementOutcome o = Query("select tx, ut, im, datalength(tx) from t");
    EXPECT_EQ(o.rows.at(0)[0].bytes.size(), 32768u);
    EXPECT_EQ(o.rows[0][1].bytes.size(), 16384u); // 32768 bytes of UTF-16
    EXPECT_EQ(o.rows[0][2].bytes.size(), 32768u);
    EXPECT_EQ(o.rows[0][3].integer, 40000); // stored whole
    Ok("set textsize 5");
    Ok("delete t");
    Ok("insert t values ('abcdé', 'abcdé', 0x0102030405060708)");
    o = Query("select * from t");
    EXPECT_EQ(o.rows.at(0)[0].bytes, "abcd"); // é would cross the limit
    EXPECT_EQ(o.rows[0][1].bytes, "ab");
    EXPECT_EQ(o.rows[0][2].bytes.size(), 5u);
    session_->SetTextSize(0);
    EXPECT_EQ(Scalar("select tx from t").bytes, "abcdé");
}

TEST_F(ValuesTest, ImplicitConversionsRefusedAsAseDoes) {
    Ok("create table t (i int, v varchar(10), tx text, d datetime)");
    Message m = Error("insert t values ('1', 'a', 'b', '2020-01-01')");
    EXPECT_EQ(m.number, 257);
    EXPECT_EQ(m.severity, 16);
    EXPECT_EQ(m.text, "Implicit conversion from datatype 'VARCHAR' to 'INT' is not allowed.  Use "
                      "the CONVERT function to run this query.");
    m = Error("insert t values (1, 2, 'b', '2020-01-01')");
    EXPECT_EQ(m.text, "Implicit conversion from datatype 'INT' to 'VARCHAR' is not allowed.  Use "
                      "the CONVERT function to run this query.");
    m = Error("insert t values (1, 'a', 2, '2020-01-01')");
    EXPECT_EQ(m.text, "Implicit conversion from datatype 'INT' to 'TEXT' is not allowed.  Use "
                      "the CONVERT function to run this query.");
    m = Error("insert t values (1, 'a', 'b', 'not a date')");
    EXPECT_EQ(m.number, 249);
    EXPECT_EQ(m.severity, 16);
    EXPECT_EQ(m.text, "Syntax error during implicit conversion of VARCHAR value 'not a date' to a "
                      "DATETIME field.");
    EXPECT_EQ(Error("insert t values (1, 'a', 'b', '2020-02-30')").number, 249);
    EXPECT_EQ(Error("select * from t where i = 'x'").number, 257);
    EXPECT_EQ(Error("insert t values (1, 0x41, 'b', '2020-01-01')").number, 257);
    EXPECT_EQ(Scalar("select count(*) from t").integer, 0); // nothing was written
    // Dates do become text.
    Ok("insert t values (1, convert(datetime, '2020-01-02'), 'b', '2020-01-02 03:04')");
    EXPECT_EQ(Scalar("select v from t").bytes, "Jan  2 202"); // cut to varchar(10)
    EXPECT_EQ(Scalar("select count(*) from t where d = '2020-01-02 03:04'").integer, 1);
    EXPECT_EQ(Scalar("select count(*) from t where d > 'Jan 1 2020'").integer, 1);
}

TEST_F(ValuesTest, NumberRangesAndRounding) {
    Ok("create table t (ti tinyint, si smallint, n numeric(5,2), m money, sm smallmoney, "
       "us unsigned smallint)");
    Message m = Error("insert t values (256, 0, 0, 0, 0, 0)");
    EXPECT_EQ(m.number, 220);
    EXPECT_EQ(m.severity, 16);
    EXPECT_NE(m.text.find("TINYINT"), std::string::npos);
    EXPECT_EQ(Error("insert t values (-1, 0, 0, 0, 0, 0)").number, 220);
    EXPECT_EQ(Error("insert t values (0, 32768, 0, 0, 0, 0)").number, 220);
    EXPECT_EQ(Error("insert t values (0, 0, 1000, 0, 0, 0)").number, 220);
    EXPECT_EQ(Error("insert t values (0, 0, 0, 0, 214749, 0)").number, 220);
    EXPECT_EQ(Error("insert t values (0, 0, 0, 0, 0, -1)").number, 220);
    EXPECT_EQ(Error("select convert(tinyint, 300)").number, 247);
    Ok("insert t values (255, -32768, 123.455, 1.23456, -214748.3648, 65535)");
    StatementOutcome o = Query("select * from t");
    const auto& r = o.rows.at(0);
    EXPECT_EQ(r[0].integer, 255);
    EXPECT_EQ(r[1].integer, -32768);
    EXPECT_TRUE(r[2].unscaled == 12346); // rounded half away from zero
    EXPECT_EQ(r[3].integer, 12346);
    EXPECT_EQ(r[4].integer, -2147483648LL);
    EXPECT_EQ(r[5].unsignedInteger, 65535u);
    EXPECT_EQ(Scalar("select convert(int, 2.9)").integer, 2);
    EXPECT_EQ(Scalar("select convert(int, -2.9)").integer, -2);
}

TEST_F(ValuesTest, ExtremesRoundTripExactly) {
    Ok("create table t (ti tinyint, si smallint, i int, bi bigint, us unsigned smallint, "
       "ui unsigned int, ub unsigned bigint, n numeric(38,0), ns numeric(38,38), d decimal(10,4), "
       "r real, f float, dp double precision, m money, sm smallmoney, b bit)");
    Ok("insert t values (0, -32768, -2147483648, -9223372036854775808, 0, 0, 0, "
       "-99999999999999999999999999999999999999, -0.99999999999999999999999999999999999999, "
       "-999999.9999, -3.4e38, -1.7976931348623157e308, 2.2250738585072014e-308, "
       "-922337203685477.5808, -214748.3648, 0)");
    Ok("insert t values (255, 32767, 2147483647, 9223372036854775807, 65535, 4294967295, "
       "18446744073709551615, 99999999999999999999999999999999999999, "
       "0.99999999999999999999999999999999999999, 999999.9999, 3.4e38, 1.7976931348623157e308, "
       "0.1, 922337203685477.5807, 214748.3647, 1)");
    StatementOutcome o = Query("select * from t order by i");
    ASSERT_EQ(o.rows.size(), 2u);
    const auto& lo = o.rows[0];
    const auto& hi = o.rows[1];
    EXPECT_EQ(lo[2].integer, -2147483648LL);
    EXPECT_EQ(lo[3].integer, std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(hi[3].integer, std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(hi[5].unsignedInteger, 4294967295u);
    EXPECT_EQ(hi[6].unsignedInteger, std::numeric_limits<std::uint64_t>::max());
    EXPECT_EQ(Int128ToString(lo[7].unscaled), "-99999999999999999999999999999999999999");
    EXPECT_EQ(Int128ToString(hi[7].unscaled), "99999999999999999999999999999999999999");
    EXPECT_EQ(Int128ToString(hi[8].unscaled), "99999999999999999999999999999999999999");
    EXPECT_EQ(o.columns[8].type.scale, 38);
    EXPECT_EQ(Int128ToString(lo[9].unscaled), "-9999999999");
    EXPECT_FLOAT_EQ(static_cast<float>(hi[10].real), 3.4e38f);
    EXPECT_EQ(lo[11].real, -1.7976931348623157e308);
    EXPECT_EQ(lo[12].real, 2.2250738585072014e-308);
    EXPECT_EQ(hi[12].real, 0.1);
    EXPECT_EQ(lo[13].integer, std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(hi[13].integer, std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(lo[14].integer, -2147483648LL);
    EXPECT_EQ(hi[14].integer, 2147483647);
    EXPECT_EQ(hi[15].integer, 1);
    EXPECT_EQ(Error("insert t values (0,0,0,0,0,0,0, 1e38, 0, 0, 0, 0, 0, 0, 0, 0)").number, 220);
    EXPECT_EQ(Error("insert t values (0,0,0,0,0,0,0, 0, 0, 0, 0, 0, 0, 922337203685477.5808, 0, "
                    "0)")
                  .number,
              220);
}

TEST_F(ValuesTest, DatesRoundTripAtTheirLimits) {
    Ok("create table t (dt datetime, sd smalldatetime, d date, tm time, bd bigdatetime, "
       "bt bigtime)");
    Ok("insert t values ('1753-01-01', '1900-01-01', '0001-01-01', '00:00:00', "
       "'0001-01-01 00:00:00.000000', '00:00:00')");
    Ok("insert t values ('9999-12-31 23:59:59.997', '2079-06-06 23:59', '9999-12-31', "
       "'23:59:59.997', '9999-12-31 23:59:59.999999', '23:59:59.999999')");
    StatementOutcome o = Query("select * from t order by dt");
    ASSERT_EQ(o.rows.size(), 2u);
    const auto& lo = o.rows[0];
    const auto& hi = o.rows[1];
    EXPECT_EQ(lo[0].days, -53690); // 1753-01-01
    EXPECT_EQ(lo[0].fraction, 0);
    EXPECT_EQ(hi[0].days, 2958463); // 9999-12-31
    EXPECT_EQ(hi[0].fraction, 25919999);
    EXPECT_EQ(lo[1].days, 0);
    EXPECT_EQ(hi[1].days, 65535);
    EXPECT_EQ(hi[1].fraction, 1439);
    EXPECT_EQ(lo[2].days, -693595);
    EXPECT_EQ(hi[2].days, 2958463);
    EXPECT_EQ(hi[3].fraction, 25919999);
    EXPECT_EQ(lo[4].days, -693595);
    EXPECT_EQ(hi[4].days, 2958463);
    EXPECT_EQ(hi[4].fraction, 86399999999LL);
    EXPECT_EQ(hi[5].fraction, 86399999999LL);
    EXPECT_EQ(Error("insert t values ('1752-12-31', '1900-01-01', '2000-01-01', '00:00', "
                    "'2000-01-01', '00:00')")
                  .number,
              249);
}

TEST_F(ValuesTest, DateTimeRoundsToThreeHundredthsLikeAse) {
    Ok("create table t (k int, d datetime)");
    Ok("insert t values (1, '2020-01-02 13:04:05.997') insert t values (2, '2020-01-02 "
       "13:04:05.998') insert t values (3, '2020-01-02 13:04:05.999') insert t values (4, "
       "'2020-01-02 23:59:59.999') insert t values (5, '2020-01-02 13:04:05.001')");
    StatementOutcome o = Query("select d, convert(varchar(30), d, 140) from t order by k");
    ASSERT_EQ(o.rows.size(), 5u);
    const std::int64_t base = (13 * 3600 + 4 * 60 + 5) * 300LL;
    EXPECT_EQ(o.rows[0][0].fraction, base + 299);
    EXPECT_EQ(o.rows[1][0].fraction, base + 299);
    EXPECT_EQ(o.rows[2][0].fraction, base + 300);
    EXPECT_EQ(o.rows[3][0].fraction, 0); // the next day
    EXPECT_EQ(o.rows[3][0].days, o.rows[0][0].days + 1);
    EXPECT_EQ(o.rows[0][1].bytes, "2020-01-02 13:04:05.997");
    EXPECT_EQ(o.rows[1][1].bytes, "2020-01-02 13:04:05.997");
    EXPECT_EQ(o.rows[2][1].bytes, "2020-01-02 13:04:06.000");
    EXPECT_EQ(o.rows[4][1].bytes, "2020-01-02 13:04:05.000");
}

TEST_F(ValuesTest, DateFormatsAccepted) {
    Ok("create table t (k int, d bigdatetime)");
    const char* inputs[] = {"2021-03-04", "2021-03-04 05:06",   "2021-03-04 05:06:07.123456",
                            "20210304",   "Mar 4 2021",         "Mar  4 2021  5:06:07:123PM",
                            "03/04/2021", "2021-03-04T05:06:07"};
    int k = 0;
    for (const char* s : inputs) {
        Ok("insert t values (" + std::to_string(++k) + ", '" + s + "')");
    }
    StatementOutcome o = Query("select convert(varchar(40), d, 140) from t order by k");
    ASSERT_EQ(o.rows.size(), 8u);
    EXPECT_EQ(o.rows[0][0].bytes, "2021-03-04 00:00:00.000000");
    EXPECT_EQ(o.rows[1][0].bytes, "2021-03-04 05:06:00.000000");
    EXPECT_EQ(o.rows[2][0].bytes, "2021-03-04 05:06:07.123456");
    EXPECT_EQ(o.rows[3][0].bytes, "2021-03-04 00:00:00.000000");
    EXPECT_EQ(o.rows[4][0].bytes, "2021-03-04 00:00:00.000000");
    EXPECT_EQ(o.rows[5][0].bytes, "2021-03-04 17:06:07.123000");
    EXPECT_EQ(o.rows[6][0].bytes, "2021-03-04 00:00:00.000000");
    EXPECT_EQ(o.rows[7][0].bytes, "2021-03-04 05:06:07.000000");
    EXPECT_EQ(Scalar("select convert(varchar(30), convert(time, '12:30:20.5'), 108)").bytes,
              "12:30:20");
    EXPECT_EQ(Scalar("select convert(varchar(30), convert(datetime, '12:30:20:10'), 109)").bytes,
              "Jan  1 1900 12:30:20:010PM");
    EXPECT_EQ(Scalar("select convert(varchar(30), convert(datetime, '2020-01-02 13:04:05'))").bytes,
              "Jan  2 2020  1:04PM");
    EXPECT_EQ(Scalar("select convert(char(8), convert(date, '2020-01-02'), 112)").bytes,
              "20200102");
    const StatementOutcome styles =
        Query("select convert(varchar(30), d, 101), convert(varchar(30), d, 102), "
              "convert(varchar(30), d, 103), convert(varchar(30), d, 106), convert(varchar(30), "
              "d, 107), convert(varchar(30), d, 110), convert(varchar(30), d, 111), "
              "convert(varchar(30), d, 23), convert(varchar(30), d, 108) from t where k = 3");
    ASSERT_EQ(styles.rows.size(), 1u);
    const std::vector<std::string> expected = {"03/04/2021",  "2021.03.04",          "04/03/2021",
                                               "04 Mar 2021", "Mar 04, 2021",        "03-04-2021",
                                               "2021/03/04",  "2021-03-04T05:06:07", "05:06:07"};
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(styles.rows[0][i].bytes, expected[i]) << i;
    }
}

TEST_F(ValuesTest, BinaryAndUnicodeRoundTrip) {
    Ok("create table t (b binary(4), vb varbinary(10), im image, u univarchar(10), "
       "ut unitext, c varchar(20))");
    Ok("insert t values (0x01, 0x00ff00, 0xdeadbeef, 'Ωmega 😀', 'ü' + '€', 'naïve 😀')");
    StatementOutcome o = Query("select * from t");
    const auto& r = o.rows.at(0);
    EXPECT_EQ(r[0].bytes, std::string("\x01\0\0\0", 4)); // binary NOT NULL padded
    EXPECT_EQ(r[1].bytes, std::string("\0\xff", 2));     // varbinary loses trailing zero bytes
    EXPECT_EQ(r[2].bytes, "\xde\xad\xbe\xef");
    EXPECT_EQ(r[3].bytes, "Ωmega 😀");
    EXPECT_EQ(r[4].bytes, "ü€");
    EXPECT_EQ(r[5].bytes, "naïve 😀");
    EXPECT_EQ(Scalar("select datalength(u) from t").integer, 16); // 8 UTF-16 units
    EXPECT_EQ(Scalar("select char_length(c) from t").integer, 7);
    EXPECT_EQ(Scalar("select datalength(c) from t").integer, 11);
    EXPECT_EQ(Scalar("select convert(varchar(10), vb) from t").bytes, "00ff");
    EXPECT_EQ(Scalar("select convert(varbinary(4), '0x0a0b')").bytes, "\x0a\x0b");
    EXPECT_EQ(Error("insert t values ('ab', 0x00, 0x00, 'a', 'a', 'a')").number, 257);
}

TEST_F(ValuesTest, NullRules) {
    Ok("create table t (a int, b varchar(5) null, c int null)");
    Message m = Error("insert t values (null, 'x', 1)");
    EXPECT_EQ(m.number, 515);
    EXPECT_EQ(m.severity, 16);
    EXPECT_EQ(m.text, "Attempt to insert NULL value into column 'a', table 'master.dbo.t'; column "
                      "does not allow nulls. Update fails.");
    m = Error("insert t (b) values ('x')");
    EXPECT_EQ(m.number, 233);
    EXPECT_EQ(m.severity, 16);
    EXPECT_EQ(m.text, "The column a in table t does not allow null values.");
    m = Error("insert t values (1, 'x')");
    EXPECT_EQ(m.number, 213);
    EXPECT_EQ(Error("insert t (a, nope) values (1, 2)").number, 207);
    Ok("insert t (a) values (1)");
    StatementOutcome o = Query("select * from t");
    EXPECT_TRUE(o.rows.at(0)[1].isNull);
    EXPECT_TRUE(o.rows[0][2].isNull);
    EXPECT_EQ(Error("update t set a = null").number, 515);
    EXPECT_EQ(Scalar("select count(*) from t where b = null").integer, 1);
    EXPECT_EQ(Scalar("select count(*) from t where b is null").integer, 1);
    EXPECT_EQ(Scalar("select count(*) from t where c > 0").integer, 0);
    EXPECT_EQ(Scalar("select count(*) from t where not c > 0").integer, 0);
    EXPECT_TRUE(Scalar("select datalength(b) from t").isNull);
    EXPECT_EQ(Error("create table bits (b bit null)").number, 2731);
}

TEST_F(ValuesTest, ResultColumnTypes) {
    StatementOutcome o = Query("select 'abc', 1, 3000000000, 1.5, 1e5, null, @@spid, @@version, "
                               "0x0102, -7");
    ASSERT_EQ(o.columns.size(), 10u);
    EXPECT_EQ(o.columns[0].type.type, AseType::VarChar);
    EXPECT_EQ(o.columns[0].type.length, 3);
    EXPECT_FALSE(o.columns[0].type.nullable);
    EXPECT_EQ(o.columns[1].type.type, AseType::Int);
    EXPECT_EQ(o.columns[2].type.type, AseType::Numeric);
    EXPECT_EQ(o.columns[2].type.precision, 10);
    EXPECT_EQ(o.columns[3].type.type, AseType::Numeric);
    EXPECT_EQ(o.columns[3].type.precision, 2);
    EXPECT_EQ(o.columns[3].type.scale, 1);
    EXPECT_EQ(o.columns[4].type.type, AseType::Float);
    EXPECT_EQ(o.columns[5].type.type, AseType::Int);
    EXPECT_TRUE(o.columns[5].type.nullable);
    EXPECT_TRUE(o.rows.at(0)[5].isNull);
    EXPECT_EQ(o.columns[6].type.type, AseType::Int);
    EXPECT_FALSE(o.columns[6].type.nullable);
    EXPECT_EQ(o.columns[7].type.type, AseType::VarChar);
    EXPECT_EQ(o.columns[8].type.type, AseType::VarBinary);
    EXPECT_EQ(o.rows[0][9].integer, -7);

    Ok("create table t (a int null, b int, v varchar(4))");
    o = Query("select a + 1, b + 1, v + 'xy', b * 2.5 from t");
    EXPECT_TRUE(o.columns[0].type.nullable);
    EXPECT_FALSE(o.columns[1].type.nullable);
    EXPECT_EQ(o.columns[2].type.type, AseType::VarChar);
    EXPECT_EQ(o.columns[2].type.length, 6);
    EXPECT_EQ(o.columns[3].type.type, AseType::Numeric);
    EXPECT_EQ(o.columns[0].name, "");
}

TEST_F(ValuesTest, ExpressionsAndFunctions) {
    EXPECT_EQ(Scalar("select 7 / 2").integer, 3);
    EXPECT_EQ(Scalar("select 7 % 4").integer, 3);
    EXPECT_EQ(Scalar("select -(2 + 3) * 4").integer, -20);
    EXPECT_EQ(FormatScaled(Scalar("select 1.25 + 2").unscaled, 2), "3.25");
    EXPECT_EQ(Scalar("select 'ab' + 'cd'").bytes, "abcd");
    EXPECT_EQ(Scalar("select 'abc' + '' + 'def'").bytes, "abc def");
    EXPECT_EQ(Scalar("select 'ab' + null").bytes, "ab"); // NULL concatenates as nothing
    EXPECT_FALSE(ScalarColumn("select 'ab' + null").type.nullable);
    Ok("set sqlnull on");
    EXPECT_TRUE(Scalar("select 'ab' + null").isNull);
    Ok("set sqlnull off");
    EXPECT_EQ(Scalar("select $12.5 * 2").integer, 250000); // money, in 1/10000
    EXPECT_EQ(ScalarColumn("select -$1").type.type, AseType::Money);
    EXPECT_EQ(Scalar("select upper('abc') + lower('DEF')").bytes, "ABCdef");
    EXPECT_EQ(Scalar("select replicate('ab', 3)").bytes, "ababab");
    EXPECT_EQ(Scalar("select len('abc  ')").integer, 3);
    EXPECT_EQ(Scalar("select char_length('héllo')").integer, 5);
    EXPECT_EQ(Scalar("select datalength('héllo')").integer, 6);
    EXPECT_EQ(Scalar("select datalength(1)").integer, 4);
    EXPECT_EQ(Scalar("select convert(varchar(10), 42)").bytes, "42");
    EXPECT_EQ(Scalar("select convert(int, '  -17 ')").integer, -17);
    EXPECT_EQ(Scalar("select cast('12.5' as float)").real, 12.5);
    EXPECT_EQ(Scalar("select convert(varchar(20), 12.50)").bytes, "12.50");
    EXPECT_EQ(Scalar("select convert(varchar(3), 'abcdef')").bytes, "abc");
    EXPECT_EQ(Scalar("select convert(varchar, 1.5e0)").bytes, "1.5");
    EXPECT_EQ(Error("select 1 / 0").number, 3607);
    EXPECT_EQ(Error("select 2147483647 + 1").number, 3606);
    EXPECT_EQ(Error("select 'a' + 1").number, 257);
    EXPECT_EQ(Error("select convert(int, 'abc')").number, 249);
    EXPECT_EQ(Error("select nosuchfunction(1)").number, 14216);
}

TEST_F(ValuesTest, LargeTypesInOrderByAndWhere) {
    Ok("create table t (id int, tx text, im image null, ut unitext)");
    Ok("insert t values (1, 'hello world', null, 'x')");
    Message m = Error("select * from t order by tx");
    EXPECT_EQ(m.number, 420);
    EXPECT_EQ(m.severity, 16);
    EXPECT_EQ(m.text, "TEXT, IMAGE and UNITEXT datatypes cannot be used in an ORDER BY clause.");
    m = Error("select * from t where tx = 'hello world'");
    EXPECT_EQ(m.number, 306);
    EXPECT_EQ(m.severity, 16);
    EXPECT_EQ(m.text, "TEXT, IMAGE and UNITEXT datatypes may not be used in the WHERE or HAVING "
                      "clause, except with the LIKE expression and the IS NULL predicate.");
    EXPECT_EQ(Error("select * from t where ut <> 'x'").number, 306);
    EXPECT_EQ(Query("select id from t where tx like 'hello%'").rows.size(), 1u);
    EXPECT_EQ(Query("select id from t where im is null").rows.size(), 1u);
}

// A text, unitext or image value that an update sets to NULL keeps its text pointer, which
// only the wire shows; in SQL it is a NULL like any other.
TEST_F(ValuesTest, LargeValueUpdatedToNullKeepsItsTextPointer) {
    Ok("create table lob (id int, t text null, u unitext null, i image null, v varchar(5) null)");
    Ok("insert lob values (1, 'x', 'y', 0x01, 'v') insert lob values (2, null, null, null, null) "
       "insert lob (id) values (3) insert lob values (4, 'x', 'y', 0x01, 'v')");
    Ok("update lob set t = null, u = null, i = null, v = null where id < 4");
    Ok("update lob set t = 'a', u = 'b', i = 0x02 where id = 3");
    Ok("update lob set t = null, u = null, i = null where id = 3");
    Ok("update lob set t = t, u = null where id = 1");
    Ok("create table copy (id int, t text null, u unitext null, i image null, v varchar(5) null)");
    Ok("insert copy select * from lob");
    const struct {
        std::int64_t id;
        bool nulls;   // t, u, i and v are NULL
        bool pointer; // t, u and i still have their text pointer
    } expected[] = {{1, true, true}, {2, true, false}, {3, true, true}, {4, false, false}};
    auto check = [&](const std::string& table, bool pointers) {
        SCOPED_TRACE(table);
        const StatementOutcome o = Query("select id, t, u, i, v from " + table + " order by id");
        ASSERT_EQ(o.rows.size(), std::size(expected));
        for (std::size_t r = 0; r < o.rows.size(); ++r) {
            EXPECT_EQ(o.rows[r][0].integer, expected[r].id);
            for (std::size_t c = 1; c <= 4; ++c) {
                EXPECT_EQ(o.rows[r][c].isNull, expected[r].nulls) << "row " << r << " column " << c;
                EXPECT_EQ(o.rows[r][c].textPointer, pointers && c < 4 && expected[r].pointer)
                    << "row " << r << " column " << c;
            }
        }
    };
    check("lob", true);
    check("copy", false); // a copy is a NULL inserted, without a pointer
    Reopen();
    check("lob", true);
    EXPECT_EQ(Scalar("select count(*) from lob where t is null").integer, 3);
    EXPECT_EQ(Scalar("select count(*) from lob where i = null").integer, 3);
    EXPECT_EQ(Scalar("select count(*) from lob where t like '%'").integer, 1);
    EXPECT_TRUE(Scalar("select datalength(t) from lob where id = 1").isNull);
    EXPECT_TRUE(Scalar("select convert(varchar(10), t) from lob where id = 1").isNull);
}

TEST_F(ValuesTest, LongLiteralIntoTextIsKeptWhole) {
    Ok("create table t (tx text, v varchar(16384))");
    const std::string big(20000, 'q');
    Ok("insert t values ('" + big + "', '" + big + "')");
    EXPECT_EQ(Scalar("select datalength(tx) from t").integer, 20000);
    EXPECT_EQ(Scalar("select datalength(v) from t").integer, 16384);
    EXPECT_EQ(Error("create table big (v varchar(16385))").number, 131);
}

// A string expression's result is cut at 16384 bytes without an error, and text cannot be
// concatenated: neither a text column nor a literal over 16384 bytes, which is text.
TEST_F(ValuesTest, ConcatenationStopsAt16384BytesAndRefusesText) {
    Ok("create table t (tx text null, v varchar(300) null)");
    Ok("insert t values ('small', 'v')");
    const std::string half(9000, 'a');
    const std::string over(16385, 'b');
    EXPECT_EQ(Scalar("select datalength('" + half + "' + '" + half + "')").integer, 16384);
    EXPECT_EQ(Scalar("select datalength(v + '" + half + "' + '" + half + "') from t").integer,
              16384);
    const std::string binaryHalf = "0x" + std::string(18000, 'f');
    EXPECT_EQ(Scalar("select datalength(" + binaryHalf + " + " + binaryHalf + ")").integer, 16384);
    Ok("insert t (tx) values ('" + half + "' + '" + half + "')");
    EXPECT_EQ(Scalar("select datalength(tx) from t where v is null").integer, 16384);
    const std::string refused[] = {"'" + over + "' + 'c'", "'c' + '" + over + "'", "tx + 'c'",
                                   "v + tx"};
    for (const std::string& expression : refused) {
        SCOPED_TRACE(expression.substr(0, 20));
        const Message m = Error("select " + expression + " from t");
        EXPECT_EQ(m.number, 403);
        EXPECT_NE(m.text.find("TEXT"), std::string::npos) << m.text;
    }
}

TEST_F(ValuesTest, ManySingleRowInsertsAllArrive) {
    Ok("create table t (id int, name varchar(40), amount numeric(12,2), at datetime null)");
    const int n = 2000;
    for (int i = 0; i < n; ++i) {
        auto out = session_->ExecuteBatch("insert into t values (" + std::to_string(i) +
                                              ", 'name of row', 1234.56, '2020-01-02 03:04:05')",
                                          cancelled_);
        ASSERT_FALSE(out.at(0).failed) << Describe(out);
    }
    EXPECT_EQ(Scalar("select count(*) from t").integer, n);
    EXPECT_EQ(Scalar("select count(*) from t where id = 1999").integer, 1);
}

} // namespace
} // namespace asetest::testing
