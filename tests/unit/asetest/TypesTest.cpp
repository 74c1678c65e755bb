// The value layer on its own: date parsing, conversions, comparisons and text cutting.
#include "engine/Types.h"

#include "engine/Lexer.h"
#include "engine/Parser.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace asetest {
namespace {

Datum Text(const std::string& s) {
    return StringDatum(s);
}

ColumnType Type(AseType t, int length = 0, int precision = 0, int scale = 0,
                bool nullable = false) {
    return ColumnType{t, length, precision, scale, nullable};
}

int ErrorNumber(const std::function<void()>& f) {
    try {
        f();
    } catch (const EngineError& e) {
        return e.message().number;
    }
    return 0;
}

TEST(DateText, CivilDaysRoundTrip) {
    EXPECT_EQ(DaysFromCivil(1900, 1, 1), 0);
    EXPECT_EQ(DaysFromCivil(1899, 12, 31), -1);
    EXPECT_EQ(DaysFromCivil(2000, 3, 1), 36584);
    for (std::int64_t days : {-693595LL, -53690LL, -1LL, 0LL, 59LL, 60LL, 36584LL, 2958463LL}) {
        std::int64_t y = 0;
        unsigned m = 0;
        unsigned d = 0;
        CivilFromDays(days, y, m, d);
        EXPECT_EQ(DaysFromCivil(y, m, d), days);
    }
}

TEST(DateText, FormatsAndRejections) {
    ParsedDateTime p;
    ASSERT_TRUE(ParseDateTimeText("  2024-02-29 13:14:15.5  ", p));
    EXPECT_EQ(p.days, DaysFromCivil(2024, 2, 29));
    EXPECT_EQ(p.micros, ((13 * 60 + 14) * 60 + 15) * 1000000LL + 500000);
    ASSERT_TRUE(ParseDateTimeText("Feb 29 2024 1:14:15:123PM", p));
    EXPECT_EQ(p.micros, ((13 * 60 + 14) * 60 + 15) * 1000000LL + 123000);
    ASSERT_TRUE(ParseDateTimeText("february 29, 2024", p));
    EXPECT_EQ(p.days, DaysFromCivil(2024, 2, 29));
    ASSERT_TRUE(ParseDateTimeText("12:00AM", p));
    EXPECT_EQ(p.days, 0);
    EXPECT_EQ(p.micros, 0);
    ASSERT_TRUE(ParseDateTimeText("20240229 23:59:59.9999995", p));
    EXPECT_EQ(p.micros, 86400000000LL); // rounded up to the next microsecond: midnight
    for (const char* bad : {"", "2023-02-29", "2024-13-01", "2024-01-01 24:00", "13:00PM",
                            "Foo 1 2020", "2024-01-01 10", "12:60", "2024-01-01x", "99999"}) {
        EXPECT_FALSE(ParseDateTimeText(bad, p)) << bad;
    }
}

TEST(Conversions, ImplicitAndExplicitRules) {
    EXPECT_EQ(ErrorNumber([] { ConvertDatum(Text("1"), Type(AseType::Int), false); }), 257);
    EXPECT_EQ(ConvertDatum(Text("1"), Type(AseType::Int), true).value.integer, 1);
    EXPECT_EQ(ErrorNumber([] { ConvertDatum(IntDatum(1), Type(AseType::VarChar, 5), false); }),
              257);
    EXPECT_EQ(ConvertDatum(IntDatum(12345), Type(AseType::VarChar, 3), true).value.bytes, "123");
    EXPECT_EQ(ErrorNumber([] { ConvertDatum(IntDatum(1), Type(AseType::DateTime), false); }), 257);
    EXPECT_EQ(ErrorNumber([] { ConvertDatum(IntDatum(1), Type(AseType::DateTime), true); }), 529);
    EXPECT_EQ(ErrorNumber([] { ConvertDatum(Text("1x"), Type(AseType::Int), true); }), 249);
    EXPECT_EQ(ErrorNumber([] { ConvertDatum(IntDatum(70000), Type(AseType::SmallInt), false); }),
              220);
    EXPECT_EQ(ErrorNumber([] { ConvertDatum(IntDatum(70000), Type(AseType::SmallInt), true); }),
              247);
    // NULL converts to NULL of the target type.
    Datum n = ConvertDatum(NullDatum(Type(AseType::VarChar, 3)), Type(AseType::Int), false);
    EXPECT_TRUE(n.value.isNull);
    EXPECT_EQ(n.type.type, AseType::Int);
    EXPECT_TRUE(n.type.nullable);
}

TEST(Conversions, ExactNumbers) {
    Datum d = ConvertDatum(Text("-123.455"), Type(AseType::Numeric, 0, 6, 2), true);
    EXPECT_EQ(Int128ToString(d.value.unscaled), "-12346");
    d = ConvertDatum(FloatDatum(0.125), Type(AseType::Numeric, 0, 5, 2), false);
    EXPECT_EQ(Int128ToString(d.value.unscaled), "13");
    d = ConvertDatum(Text("$1.5"), Type(AseType::Money), true);
    EXPECT_EQ(d.value.integer, 15000);
    d = ConvertDatum(FloatDatum(2.675), Type(AseType::Numeric, 0, 5, 2), false);
    EXPECT_EQ(Int128ToString(d.value.unscaled), "268"); // from the shortest text of the double
    d = ConvertDatum(FloatDatum(-1.5e20), Type(AseType::Numeric, 0, 38, 4), false);
    EXPECT_EQ(Int128ToString(d.value.unscaled), "-1500000000000000000000000");
    EXPECT_EQ(ErrorNumber(
                  [] { ConvertDatum(FloatDatum(1e38), Type(AseType::Numeric, 0, 38, 0), false); }),
              220);
    EXPECT_EQ(ErrorNumber([] { ConvertDatum(Text("1e400"), Type(AseType::Float), true); }), 0);
    d = ConvertDatum(Text("18446744073709551615"), Type(AseType::UBigInt), true);
    EXPECT_EQ(d.value.unsignedInteger, std::numeric_limits<std::uint64_t>::max());
    EXPECT_EQ(ErrorNumber(
                  [] { ConvertDatum(Text("18446744073709551616"), Type(AseType::UBigInt), true); }),
              247);
    EXPECT_EQ(FormatScaled(-5, 3), "-0.005");
    EXPECT_EQ(FormatScaled(12345, 0), "12345");
    Int128 big = 0;
    ASSERT_TRUE(ParseInt128("-99999999999999999999999999999999999999", big));
    EXPECT_EQ(Int128ToString(big), "-99999999999999999999999999999999999999");
    EXPECT_FALSE(ParseInt128("12a", big));
}

TEST(Conversions, StorageRulesOfStrings) {
    const ColumnType varchar5 = Type(AseType::VarChar, 5);
    const ColumnType char5 = Type(AseType::Char, 5);
    const ColumnType char5Null = Type(AseType::Char, 5, 0, 0, true);
    EXPECT_EQ(AssignToColumn(Text("ab  "), varchar5).value.bytes, "ab");
    EXPECT_EQ(AssignToColumn(Text("ab"), char5).value.bytes, "ab   ");
    EXPECT_EQ(AssignToColumn(Text("ab "), char5Null).value.bytes, "ab");
    EXPECT_EQ(AssignToColumn(Text("abcdefg"), varchar5).value.bytes, "abcde");
    Datum empty = Text("x");
    empty.value.bytes.clear();
    EXPECT_EQ(AssignToColumn(empty, varchar5).value.bytes, " ");
    EXPECT_EQ(AssignToColumn(empty, Type(AseType::Text)).value.bytes, " ");
    EXPECT_EQ(AssignToColumn(Text("tail  "), Type(AseType::Text)).value.bytes, "tail  ");
    EXPECT_EQ(AssignToColumn(BinaryDatum("\x01"), Type(AseType::Binary, 3)).value.bytes,
              std::string("\x01\0\0", 3));
}

TEST(Conversions, CutsNeverSplitCharacters) {
    EXPECT_EQ(CutUtf8Bytes("aé€", 3), "aé");
    EXPECT_EQ(CutUtf8Bytes("aé€", 5), "aé");
    EXPECT_EQ(CutUtf8Bytes("aé€", 6), "aé€");
    EXPECT_EQ(CutUtf16Units("a😀b", 2), "a");
    EXPECT_EQ(CutUtf16Units("a😀b", 3), "a😀");
    EXPECT_EQ(Utf16Length("a😀é"), 4u);
    EXPECT_EQ(Utf8CharCount("a😀é"), 3u);
}

TEST(Comparisons, AcrossTypes) {
    EXPECT_EQ(CompareData(IntDatum(2), FloatDatum(2.0)), 0);
    Datum n = ConvertDatum(Text("2.50"), Type(AseType::Numeric, 0, 5, 2), true);
    EXPECT_EQ(CompareData(n, FloatDatum(2.5)), 0);
    EXPECT_LT(CompareData(IntDatum(2), n), 0);
    EXPECT_EQ(CompareData(Text("ab  "), Text("ab")), 0); // trailing blanks do not count
    EXPECT_LT(CompareData(Text("B"), Text("a")), 0);     // binary order: upper case first
    Datum d = ConvertDatum(Text("2020-01-02"), Type(AseType::DateTime), false);
    EXPECT_EQ(CompareData(d, Text("Jan 2 2020")), 0);
    EXPECT_GT(CompareData(d, Text("2020-01-01 23:59")), 0);
    EXPECT_EQ(ErrorNumber([] { CompareData(IntDatum(1), Text("1")); }), 257);
    Datum u = IntDatum(0, AseType::UBigInt);
    u.value.unsignedInteger = std::numeric_limits<std::uint64_t>::max();
    EXPECT_GT(CompareData(u, IntDatum(-1, AseType::BigInt)), 0);
}

TEST(Lexing, TokensAndErrors) {
    auto tokens =
        Tokenize("select [a]]b ], \"s\"\"t\", 'it''s', 0x0a1, @@SPID, 1.5e3 -- x\n/* y */", false);
    ASSERT_EQ(tokens.size(), 13u);
    EXPECT_EQ(tokens[1].kind, TokenKind::DelimitedId);
    EXPECT_EQ(tokens[1].value, "a]b");
    EXPECT_EQ(tokens[3].kind, TokenKind::String);
    EXPECT_EQ(tokens[3].value, "s\"t");
    EXPECT_EQ(tokens[5].value, "it's");
    EXPECT_EQ(tokens[7].kind, TokenKind::Binary);
    EXPECT_EQ(tokens[7].value, std::string("\x00\xa1", 2));
    EXPECT_EQ(tokens[9].kind, TokenKind::Global);
    EXPECT_EQ(tokens[9].value, "spid");
    EXPECT_EQ(tokens[11].kind, TokenKind::Float);
    EXPECT_EQ(tokens[12].kind, TokenKind::End);
    tokens = Tokenize("\"quoted id\"", true);
    EXPECT_EQ(tokens[0].kind, TokenKind::DelimitedId);
    tokens = Tokenize("'line one\\\nline two'", false);
    EXPECT_EQ(tokens[0].value, "line oneline two");
    EXPECT_EQ(ErrorNumber([] { Tokenize("select 'abc", false); }), 105);
    EXPECT_EQ(ErrorNumber([] { Tokenize("select \"abc", false); }), 105);
    EXPECT_EQ(ErrorNumber([] { Tokenize("select [abc", false); }), 102);
    EXPECT_EQ(ErrorNumber([] { Tokenize("select @", false); }), 102);
}

TEST(Parsing, NamesAndStatements) {
    ObjectName n;
    ASSERT_TRUE(ParseObjectNameText("db..t", n));
    EXPECT_EQ(n.database, "db");
    EXPECT_EQ(n.owner, "");
    EXPECT_EQ(n.name, "t");
    ASSERT_TRUE(ParseObjectNameText("[a b].[c]", n));
    EXPECT_EQ(n.owner, "a b");
    EXPECT_EQ(n.name, "c");
    EXPECT_FALSE(ParseObjectNameText("a.b.c.d", n));
    EXPECT_FALSE(ParseObjectNameText("select", n));

    auto batch = ParseBatch("select 1 insert t values (1) if 1 = 1 begin print 'x' end "
                            "exec ('select 2') create table t (a int null, b numeric(5, 2))",
                            false);
    ASSERT_EQ(batch.size(), 5u);
    EXPECT_EQ(batch[0]->kind, StmtKind::Select);
    EXPECT_EQ(batch[1]->kind, StmtKind::Insert);
    EXPECT_EQ(batch[2]->kind, StmtKind::If);
    EXPECT_EQ(batch[2]->body.at(0)->kind, StmtKind::Block);
    EXPECT_EQ(batch[3]->kind, StmtKind::ExecString);
    EXPECT_EQ(batch[4]->kind, StmtKind::CreateTable);
    ASSERT_EQ(batch[4]->definitions.size(), 2u);
    EXPECT_TRUE(batch[4]->definitions[0].type.nullable);
    EXPECT_FALSE(batch[4]->definitions[1].type.nullable);
    EXPECT_EQ(batch[4]->definitions[1].type.precision, 5);
    EXPECT_EQ(batch[4]->definitions[1].type.scale, 2);

    auto types = ParseBatch("create table t (a float(8), b float(20), c double precision, d "
                            "unsigned int, e nchar(4), f dec, g character(2))",
                            false);
    const auto& defs = types.at(0)->definitions;
    EXPECT_EQ(defs[0].type.type, AseType::Real);
    EXPECT_EQ(defs[1].type.type, AseType::Float);
    EXPECT_EQ(defs[2].type.type, AseType::Float);
    EXPECT_EQ(defs[3].type.type, AseType::UInt);
    EXPECT_EQ(defs[4].type.type, AseType::Char);
    EXPECT_EQ(defs[4].type.length, 12);
    EXPECT_EQ(defs[5].type.type, AseType::Decimal);
    EXPECT_EQ(defs[5].type.precision, 18);
    EXPECT_EQ(defs[6].type.length, 2);
}

TEST(Engine, OpenFailsClearlyOnAnUnusableDirectory) {
    const auto file = std::filesystem::temp_directory_path() / "asetest-engine-not-a-directory";
    {
        std::ofstream out(file);
        out << "x";
    }
    EngineOptions options;
    options.dataDirectory = file / "sub";
    EXPECT_THROW(Engine::Open(options), std::runtime_error);
    std::filesystem::remove(file);
}

} // namespace
} // namespace asetest
