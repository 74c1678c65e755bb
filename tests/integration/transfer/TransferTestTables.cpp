// Source tables with hostile values, sessions on the test servers, and reading tables back for
// comparison: shared by the tests that copy tables.

#include "TransferTestTables.h"

#include "connect/access/SqlText.h"
#include "transfer/statements/ColumnTypes.h"

#include <algorithm>
#include <stdexcept>
#include <unistd.h>

namespace veltrane::testing {

const char* Label(Server server) {
    return server == Server::MySQL ? "MySQL" : "Sybase ASE";
}

ServerKind Toward(Server target) {
    return target == Server::MySQL ? ServerKind::MySQL : ServerKind::SybaseASE;
}

std::string Quote(Server server, std::string_view name) {
    return server == Server::MySQL ? QuoteMySQLIdentifier(name) : QuoteSybaseIdentifier(name);
}

std::string TableName(const std::string& what) {
    return "vt_" + what + "_" + std::to_string(getpid());
}

// Every row of `table` ordered by the column `orderBy`. Sybase ASE refuses ORDER BY on a text
// column, and every column of a copy toward it is text, so there the rows are ordered here, by
// number where both values are whole numbers.
std::vector<std::vector<DbValue>> ReadAll(Session& session, const std::string& table,
                                          const std::string& orderBy) {
    std::vector<std::vector<DbValue>> out;
    const bool orderHere = session.server == Server::Sybase;
    std::string select = "SELECT * FROM " + Quote(session.server, table);
    if (!orderHere)
        select += " ORDER BY " + Quote(session.server, orderBy);
    auto rows = session.Run(select);
    int key = -1;
    for (; rows && !rows->IsEOF(); rows->MoveNext()) {
        auto& row = out.emplace_back();
        for (int i = 0; i < rows->FieldCount(); ++i) {
            row.push_back(rows->Value(i));
        }
        key = rows->FieldIndex(orderBy);
    }
    if (orderHere && key >= 0) {
        const auto number = [](const DbValue& v, long long& n) {
            const std::string text = v.IsNull() ? "" : v.ToText();
            std::size_t used = 0;
            try {
                n = std::stoll(text, &used);
            } catch (const std::exception&) {
                return false;
            }
            return used == text.size();
        };
        std::stable_sort(out.begin(), out.end(), [&](const auto& a, const auto& b) {
            const DbValue& x = a[static_cast<std::size_t>(key)];
            const DbValue& y = b[static_cast<std::size_t>(key)];
            if (x.IsNull() || y.IsNull())
                return x.IsNull() && !y.IsNull();
            long long nx = 0, ny = 0;
            if (number(x, nx) && number(y, ny))
                return nx < ny;
            return x.ToText() < y.ToText();
        });
    }
    return out;
}

// Fractional seconds with trailing zeros dropped: a DATETIME read back from DATETIME(6)
// carries "000000" where the source had no fraction; the instant is the same.
std::string Fraction(std::string digits) {
    while (!digits.empty() && digits.back() == '0') {
        digits.pop_back();
    }
    return digits;
}

bool SameInstant(const TimeValue& a, const TimeValue& b) {
    return a.negative == b.negative && a.hour == b.hour && a.minute == b.minute &&
           a.second == b.second && Fraction(a.fraction) == Fraction(b.fraction);
}

// Equality of a value copied toward MySQL with its source value.
bool SameValue(const DbValue& got, const DbValue& want) {
    using Kind = DbValue::Kind;
    // A signed and an unsigned integer of the same value: servers differ in which they report.
    const auto isInteger = [](const DbValue& v) {
        return v.GetKind() == Kind::Int || v.GetKind() == Kind::UInt;
    };
    if (isInteger(got) && isInteger(want)) {
        return got.ToText() == want.ToText();
    }
    if (got.GetKind() != want.GetKind()) {
        return false;
    }
    switch (got.GetKind()) {
    case DbValue::Kind::Time:
        return SameInstant(got.AsTime(), want.AsTime());
    case DbValue::Kind::DateTime:
        return got.AsDateTime().date == want.AsDateTime().date &&
               SameInstant(got.AsDateTime().time, want.AsDateTime().time);
    default:
        return got == want;
    }
}

std::string Shown(const DbValue& v) {
    std::string text = v.IsNull() ? "NULL" : v.ToText();
    return text.size() > 80 ? text.substr(0, 80) + "... (" + std::to_string(text.size()) + ")"
                            : text;
}

// What a Sybase ASE text column gives back for a copied value: its text as written, booleans
// as the 1 or 0 they were written as, and the one thing ASE cannot hold, an empty text, as the
// single blank ASE stores instead.
DbValue AsStoredBySybase(const DbValue& source) {
    switch (source.GetKind()) {
    case DbValue::Kind::Null:
        return DbValue::Null();
    case DbValue::Kind::Boolean:
        return DbValue::Text(source.AsBoolean() ? "1" : "0");
    default: {
        std::string text = source.ToText();
        return DbValue::Text(text.empty() ? " " : text);
    }
    }
}

void ExpectSameRows(const std::vector<std::vector<DbValue>>& got,
                    const std::vector<std::vector<DbValue>>& source,
                    const std::vector<FieldInfo>& fields, Server target) {
    ASSERT_EQ(got.size(), source.size());
    for (std::size_t r = 0; r < source.size(); ++r) {
        ASSERT_EQ(got[r].size(), source[r].size()) << "row " << r;
        for (std::size_t c = 0; c < source[r].size(); ++c) {
            const DbValue want =
                target == Server::Sybase ? AsStoredBySybase(source[r][c]) : source[r][c];
            EXPECT_TRUE(SameValue(got[r][c], want))
                << "row " << r << ", column " << fields[c].name << " ("
                << AdoTypeName(fields[c].type) << "): got " << Shown(got[r][c]) << ", want "
                << Shown(want);
        }
    }
}

// ---- Source tables ----------------------------------------------------------------------

// Hostile texts: quotes, the words True and False, backslashes (one at the end), NUL bytes,
// line breaks, 4-byte UTF-8, blanks, and the empty text.
std::string Literal(std::string_view text) {
    std::string out;
    AppendTextLiteral(out, text);
    return out;
}

std::string SeveralMegabytes() {
    std::string text;
    while (text.size() < 3 * 1024 * 1024) {
        text += "quote ' True \\ nul ";
        text.push_back('\0');
        text += " crlf\r\n é 😀 ";
    }
    return text;
}

// One column of every type MySQL offers, each with typical and extreme values; the last row
// is all NULL.
std::vector<SourceColumn> MySQLSourceColumns() {
    const std::string nul("nul\0inside", 10);
    return {
        {"id INT", {"1", "2", "3", "4"}},
        {"ti TINYINT", {"-128", "127", "0"}},
        {"tu TINYINT UNSIGNED", {"255", "0", "7"}},
        {"si SMALLINT", {"-32768", "32767", "1"}},
        {"su SMALLINT UNSIGNED", {"65535", "0", "2"}},
        {"mi MEDIUMINT", {"-8388608", "8388607", "3"}},
        {"mu MEDIUMINT UNSIGNED", {"16777215", "0", "4"}},
        {"i INT", {"-2147483648", "2147483647", "16777217"}},
        {"iu INT UNSIGNED", {"4294967295", "0", "5"}},
        {"bi BIGINT", {"-9223372036854775808", "9223372036854775807", "9007199254740993"}},
        {"bu BIGINT UNSIGNED", {"18446744073709551615", "0", "6"}},
        {"d DECIMAL(10,2)", {"-12345678.91", "99999999.99", "0.00"}},
        {"dw DECIMAL(65,30)",
         {"-12345678901234567890123456789012345.123456789012345678901234567890",
          "0.000000000000000000000000000001", "1"}},
        {"df DECIMAL(4,4)", {"0.1234", "-0.9999", "0"}},
        {"f FLOAT", {"3.40282e38", "-1.17549e-38", "0.1"}},
        {"db DOUBLE", {"1.7976931348623157e308", "4.9e-324", "0.1"}},
        {"dt DATE", {"'1000-01-01'", "'9999-12-31'", "'2024-02-29'"}},
        {"tm TIME", {"'-838:59:59'", "'838:59:59'", "'00:00:00'"}},
        {"t3 TIME(3)", {"'12:34:56.789'", "'-00:00:00.001'", "'23:59:59.999'"}},
        {"dtm DATETIME",
         {"'1000-01-01 00:00:00'", "'9999-12-31 23:59:59'", "'2024-02-29 12:00:00'"}},
        {"dt6 DATETIME(6)",
         {"'1000-01-01 00:00:00.000001'", "'9999-12-31 23:59:59.999999'",
          "'2001-02-03 04:05:06.5'"}},
        {"ts TIMESTAMP NULL", {"'1970-01-02 00:00:00'", "'2038-01-19 03:14:07'", "NULL"}},
        {"y YEAR", {"1901", "2155", "2024"}},
        {"b1 BIT(1)", {"b'1'", "b'0'", "b'1'"}},
        {"b12 BIT(12)", {"b'101010101010'", "b'0'", "b'111111111111'"}},
        {"c CHAR(10)", {Literal("it's"), Literal(""), Literal("True")}},
        {"vc VARCHAR(300)", {Literal("He said 'True'"), Literal("ends in \\"), Literal(nul)}},
        {"tt TINYTEXT", {Literal("False"), Literal("  blanks  "), Literal("\\")}},
        {"tx TEXT",
         {Literal("line\nbreak\r\nand \\\nbackslash-newline"), Literal(""), Literal("😀 𝄞 名 é")}},
        {"mt MEDIUMTEXT", {Literal("'"), Literal("''"), Literal("', NULL); --")}},
        {"lt LONGTEXT", {Literal(SeveralMegabytes()), Literal("x"), Literal("")}},
        {"js JSON", {Literal("{\"a\": \"it's\"}"), Literal("[]"), Literal("null")}},
        {"bn BINARY(4)", {"X'00ff2700'", "X'5c0a0d27'", "X'00000000'"}},
        {"vb VARBINARY(300)", {"X''", "X'00'", "X'27275c5c'"}},
        {"bl BLOB", {"X'000102fdfeff'", "X''", "X'27'"}},
        {"lb LONGBLOB", {"REPEAT(X'00FF275C0A', 300000)", "X'00'", "X''"}},
        {"en ENUM('a','it''s')", {"'it''s'", "'a'", "'a'"}},
        {"st SET('x','y')", {"'x,y'", "''", "'y'"}},
    };
}

// Creates `table` from the columns and fills it with their values.
void CreateSource(Session& session, const std::string& table,
                  const std::vector<SourceColumn>& columns, int rows) {
    const std::string quoted = Quote(session.server, table);
    std::string create = "CREATE TABLE " + quoted + " (";
    for (std::size_t i = 0; i < columns.size(); ++i) {
        create += (i ? ", " : "") + std::string(columns[i].declaration);
    }
    session.Run(create + ")");
    for (std::size_t r = 0; r < static_cast<std::size_t>(rows); ++r) {
        std::string insert = "INSERT INTO " + quoted + " VALUES (";
        for (std::size_t i = 0; i < columns.size(); ++i) {
            const auto& literals = columns[i].literals;
            insert += (i ? ", " : "") + (r < literals.size() ? literals[r] : std::string("NULL"));
        }
        session.Run(insert + ")");
    }
}

// One column of every type Sybase ASE offers, all nullable but bit (which ASE keeps NOT NULL),
// with typical and extreme values; the last row is NULL wherever a column allows it.
std::vector<SourceColumn> SybaseSourceColumns() {
    return {
        {"id int", {"1", "2", "3", "4"}},
        {"ti tinyint null", {"0", "255", "7"}},
        {"si smallint null", {"-32768", "32767", "1"}},
        {"i int null", {"-2147483648", "2147483647", "16777217"}},
        {"bi bigint null", {"-9223372036854775808", "9223372036854775807", "9007199254740993"}},
        {"us unsigned smallint null", {"65535", "0", "2"}},
        {"ui unsigned int null", {"4294967295", "0", "3"}},
        {"ub unsigned bigint null", {"18446744073709551615", "0", "4"}},
        {"n numeric(10,2) null", {"-12345678.91", "99999999.99", "0.00"}},
        {"nw numeric(38,10) null",
         {"-1234567890123456789012345678.0123456789", "0.0000000001", "1"}},
        {"dc decimal(5,0) null", {"-99999", "99999", "0"}},
        {"m money null", {"-922337203685477.5808", "922337203685477.5807", "12345.6789"}},
        {"sm smallmoney null", {"-214748.3648", "214748.3647", "0.0001"}},
        {"f float null", {"1.7976931348623157e308", "-2.2250738585072014e-308", "0.1"}},
        {"r real null", {"3.40282e38", "-1.17549e-38", "0.1"}},
        {"dt datetime null",
         {"'1753-01-01 00:00:00'", "'9999-12-31 23:59:59.997'", "'2024-02-29 12:34:56.123'"}},
        {"sd smalldatetime null",
         {"'1900-01-01 00:00'", "'2079-06-06 23:59'", "'2024-02-29 12:34'"}},
        {"d date null", {"'0001-01-01'", "'9999-12-31'", "'2024-02-29'"}},
        {"t time null", {"'00:00:00'", "'23:59:59.997'", "'12:34:56.123'"}},
        {"bd bigdatetime null",
         {"'0001-01-01 00:00:00.000001'", "'9999-12-31 23:59:59.999999'",
          "'2024-02-29 12:34:56.5'"}},
        {"bt bigtime null", {"'00:00:00.000001'", "'23:59:59.999999'", "'12:00:00'"}},
        {"c char(10) null", {Literal("it's"), Literal("True"), Literal("x")}},
        {"vc varchar(300) null",
         {Literal("He said 'True'"), Literal("ends in \\"), Literal("line\nbreak\r\n")}},
        {"uv univarchar(50) null", {Literal("😀 𝄞 名 é"), Literal("False"), Literal("'")}},
        {"tx text null",
         {Literal(SeveralMegabytes().substr(0, 100000)), Literal("x"), Literal("''")}},
        {"ut unitext null", {Literal("Größe 名前"), Literal("y"), Literal("z")}},
        {"bn binary(4) null", {"0x00ff2701", "0x5c0a0d27", "0x01"}},
        {"vb varbinary(300) null", {"0x00", "0x27275c5c", "0xff"}},
        {"im image null", {"0x000102fdfeff", "0x27", "0x00"}},
        {"bt1 bit", {"1", "0", "1", "0"}},
    };
}

// The source columns for a copy from `source` toward `target`. A NUL byte cannot travel to
// Sybase ASE: the statement is sent as a C string, so the backend refuses it (tested on its own
// below); those bytes become '0' here, in a Sybase ASE source as in a Sybase ASE target, so that
// everything else is still compared.
std::vector<SourceColumn> SourceColumns(Server source, Server target) {
    auto columns = source == Server::MySQL ? MySQLSourceColumns() : SybaseSourceColumns();
    if (source == Server::Sybase || target == Server::Sybase) {
        for (auto& column : columns) {
            for (auto& literal : column.literals) {
                std::replace(literal.begin(), literal.end(), '\0', '0');
            }
        }
    }
    return columns;
}

ServerCoordinates Coordinates(Server server) {
    std::string whyNot;
    ServerCoordinates at;
    if (!(server == Server::MySQL ? MySQLServer(at, whyNot) : SybaseServer(at, whyNot))) {
        throw std::runtime_error(whyNot);
    }
    return at;
}

} // namespace veltrane::testing
