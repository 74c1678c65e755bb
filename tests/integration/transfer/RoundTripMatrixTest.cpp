// Hostile values and every column type at its extremes, copied there and back through the
// "Send Table/s" runs: a MySQL table to Sybase ASE and back to MySQL, a Sybase ASE table to
// MySQL and back to Sybase ASE (the second run answers Yes to replacing the original). Every
// value of the intermediate and the final copy is checked three ways: through the program's own
// reader, as lengths and MD5 sums computed by MariaDB, and as the bytes that FreeTDS's tsql
// prints after ASE's own datalength(). Each value's expected text is written out below; where
// it is not the source value itself, the change is one of the accepted changes listed in
// kAcceptedChanges.

#include "TransferTestTables.h"
#include "TransferTestWindow.h"

#include <QCryptographicHash>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace veltrane::testing {
namespace {

using namespace std::string_literals;

// Why a value may arrive other than as it stood in the source.
enum class Change {
    None,
    EmptyAsBlank,
    ShortestFloat,
    HexText,
    BooleanDigit,
    SixFractionDigits,
    CharTrailingBlanks,
    Ticks300,
    TrailingZerosCut,
};

struct AcceptedChange {
    Change change;
    const char* columns;
    const char* transformation;
    const char* reason;
};

// Every difference between a source value and its copy that this suite accepts. Beyond these,
// every copy holds exactly the source value's text: each column of a table sent to Sybase ASE is
// TEXT, and a text column comes back to MySQL as LONGTEXT.
constexpr AcceptedChange kAcceptedChanges[] = {
    {Change::EmptyAsBlank, "every character column", "'' becomes ' '",
     "Sybase ASE stores an empty string as one blank"},
    {Change::ShortestFloat, "FLOAT, DOUBLE, real, float",
     "the shortest text that reads back to the same number",
     "a number goes to a TEXT column as its text; the digits a literal had are not kept"},
    {Change::HexText, "BINARY, VARBINARY, BLOBs, BIT(n>1), geometry, binary, varbinary, image",
     "the bytes become the text 0x + two lower-case hex digits per byte",
     "Sybase ASE's column is TEXT, which cannot hold arbitrary bytes"},
    {Change::BooleanDigit, "BIT(1), bit", "the text 1 or 0",
     "a boolean goes to a TEXT column as its digit"},
    {Change::SixFractionDigits, "datetime, smalldatetime, bigdatetime, time, bigtime",
     "six digits of fractional seconds", "the MySQL copy's DATETIME(6) and TIME(6) report six"},
    {Change::CharTrailingBlanks, "MySQL CHAR(n)", "trailing blanks gone",
     "MySQL itself drops them when it reads a CHAR column"},
    {Change::Ticks300, "datetime, time", "rounded to 1/300 s (then six digits)",
     "Sybase ASE keeps these in three-hundredths of a second"},
    {Change::TrailingZerosCut, "varbinary, binary NULL", "trailing zero bytes gone, one kept",
     "Sybase ASE stores them so (then hex text as for every binary)"},
};

// One value: its SQL literal on the source server and the text expected in both copies
// (nullopt: NULL). `refused` names the error with which the row toward Sybase ASE is refused.
struct Cell {
    std::string literal;
    std::optional<std::string> want;
    Change change = Change::None;
    const char* refused = nullptr;
};

struct Column {
    std::string name;
    std::string type;
    std::vector<Cell> cells; // one per row from row 1; later rows hold NULL, or `filler`
    std::optional<Cell> filler = std::nullopt; // for NOT NULL columns
};

// A text exactly as it stands.
Cell T(const std::string& text) {
    return {Literal(text), text};
}
// A literal written as the value's own text: numbers.
Cell N(const std::string& literal) {
    return {literal, literal};
}
// A quoted date or time whose text is the value's own.
Cell D(const std::string& text) {
    return {"'" + text + "'", text};
}
Cell X(const std::string& literal, const std::string& want, Change change) {
    return {literal, want, change};
}
Cell Null() {
    return {"NULL", std::nullopt};
}
Cell Blank() {
    return X("''", " ", Change::EmptyAsBlank);
}
Cell Refused(const std::string& text, const char* why) {
    Cell c = T(text);
    c.refused = why;
    return c;
}

// `bytes` bytes of hostile text: quotes, a backslash, a tab, 2-, 3- and 4-byte UTF-8, blanks;
// made up to length with at least one x, so that no blank ends it.
std::string Sized(std::size_t bytes) {
    static const std::string unit = "it's \"q\" `b` \\ \t é 名 😀 ";
    std::string s;
    s.reserve(bytes + unit.size());
    while (s.size() + unit.size() < bytes)
        s += unit;
    s.append(bytes - s.size(), 'x');
    return s;
}

std::string Repeat(const std::string& unit, int times) {
    std::string s;
    for (int i = 0; i < times; ++i)
        s += unit;
    return s;
}

std::string HexBytes(const std::string& bytes) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 15]);
    }
    return out;
}

// A binary value: MySQL's X'..' (or ASE's 0x..) literal, expected as its 0x text.
Cell Bytes(const std::string& bytes, bool mysql) {
    const std::string hex = HexBytes(bytes);
    return X(mysql ? "X'" + hex + "'" : "0x" + hex, "0x" + hex, Change::HexText);
}
// A Sybase ASE binary value that ASE stores as `stored`.
Cell BytesStoredAs(const std::string& bytes, const std::string& stored) {
    return X("0x" + HexBytes(bytes), "0x" + HexBytes(stored), Change::TrailingZerosCut);
}

std::string ControlCharacters() {
    std::string s = "ctl:";
    for (char c = 1; c < 32; ++c)
        s.push_back(c);
    return s + "|";
}

std::string AllByteValues(std::size_t count) {
    std::string s;
    for (std::size_t i = 0; i < count; ++i)
        s.push_back(static_cast<char>(i % 256));
    return s;
}

constexpr const char* kNulRefusal = "NUL character";
constexpr const char* kSplitRefusal = "cannot be written to Sybase ASE exactly";
constexpr std::size_t kMegabyte = 1024 * 1024;

// The hostile texts of the long text column, one row each (the first rows hold the other
// columns' values too).
std::vector<Cell> HostileTexts(bool mysql) {
    const std::string crlf = "a\\\nb\\\r\nc";
    return {
        T("it's \"double\" `back-ticked` ', NULL); --"),
        T("back\\slash \\\\ two, ends in \\"),
        Blank(),
        // A backslash before LF and before CR LF; an ASE literal can only hold it joined.
        mysql ? T(crlf) : Cell{"'a\\' + '\nb\\' + '\r\nc'", crlf},
        T(ControlCharacters()),
        T("2: é ß ñ ש, 3: 名前 € \u2028 \uFEFF \uFFFD, 4: 😀 𝄞 \U0010FFFF, combining e\u0301"),
        T("  leading and trailing  "),
        T("True"),
        T(Sized(16383)),
        T(Sized(16384)),
        T(Sized(16385)),
        // 16384 bytes with a backslash before a line break: split, and exactly within ASE's
        // limit for a joined literal.
        mysql ? T("\\\n" + Sized(16382))
              : Cell{"'\\' + " + Literal("\n" + Sized(16382)), "\\\n" + Sized(16382)},
        T(Sized(kMegabyte)),
        T(Sized(20 * kMegabyte)),
    };
}

std::vector<Column> MySQLMatrix() {
    std::vector<Cell> longText = HostileTexts(true);
    // Toward Sybase ASE only: one byte over the limit of a split literal, and a NUL byte.
    longText.push_back(Refused("\\\n" + Sized(16383), kSplitRefusal));
    longText.push_back(Refused(std::string("nul\0inside", 10), kNulRefusal));
    const std::string nines65(65, '9');
    const Change f = Change::ShortestFloat;
    return {
        {"ti", "TINYINT", {N("-128"), N("127"), N("0")}},
        {"tu", "TINYINT UNSIGNED", {N("0"), N("255")}},
        {"si", "SMALLINT", {N("-32768"), N("32767")}},
        {"su", "SMALLINT UNSIGNED", {N("0"), N("65535")}},
        {"mi", "MEDIUMINT", {N("-8388608"), N("8388607")}},
        {"mu", "MEDIUMINT UNSIGNED", {N("0"), N("16777215")}},
        {"i", "INT", {N("-2147483648"), N("2147483647")}},
        {"iu", "INT UNSIGNED", {N("0"), N("4294967295")}},
        {"bi", "BIGINT", {N("-9223372036854775808"), N("9223372036854775807")}},
        {"bu", "BIGINT UNSIGNED", {N("0"), N("18446744073709551615")}},
        {"d65",
         "DECIMAL(65,30)",
         {N("-" + std::string(35, '9') + "." + std::string(30, '9')),
          N("0.000000000000000000000000000001"), N("0.000000000000000000000000000000")}},
        {"d65i", "DECIMAL(65,0)", {N("-" + nines65), N(nines65)}},
        {"fl",
         "FLOAT",
         {X("-3.4028234e38", "-3.402823466e+38", f), X("1.17549435e-38", "1.1754944e-38", f),
          X("1.4e-45", "1e-45", f)}},
        {"db",
         "DOUBLE",
         {X("-1.7976931348623157e308", "-1.7976931348623157e+308", f), N("2.2250738585072014e-308"),
          X("4.9e-324", "5e-324", f), X("1e23", "1e+23", f)}},
        {"dt", "DATE", {D("1000-01-01"), D("9999-12-31"), D("0001-01-01"), D("0000-00-00")}},
        {"dtm",
         "DATETIME",
         {D("1000-01-01 00:00:00"), D("9999-12-31 23:59:59"), D("0000-00-00 00:00:00")}},
        {"dt6", "DATETIME(6)", {D("1000-01-01 00:00:00.000000"), D("9999-12-31 23:59:59.999999")}},
        {"tm", "TIME", {D("-838:59:59"), D("838:59:59")}},
        {"tm6", "TIME(6)", {D("-838:59:58.999999"), D("00:00:00.000001"), D("-00:00:00.000001")}},
        {"ts",
         "TIMESTAMP(6) NULL",
         {D("1970-01-02 00:00:00.000001"), D("2038-01-18 23:59:59.999999")}},
        {"yr", "YEAR", {N("1901"), N("2155"), N("0")}},
        {"b1",
         "BIT(1)",
         {X("b'1'", "1", Change::BooleanDigit), X("b'0'", "0", Change::BooleanDigit)}},
        {"b64",
         "BIT(64)",
         {X("b'" + std::string(64, '1') + "'", "0xffffffffffffffff", Change::HexText),
          X("b'0'", "0x0000000000000000", Change::HexText)}},
        {"en", "ENUM('a','it''s','😀')", {T("it's"), T("😀"), T("a")}},
        {"st", "SET('x','y')", {T("x,y"), T("y"), Blank()}},
        {"js", "JSON", {T("{\"k\": \"it's \\\" \\\\\"}"), T("[]")}},
        {"ch",
         "CHAR(20)",
         {T("  leading"), X(Literal("trailing  "), "trailing", Change::CharTrailingBlanks),
          Blank()}},
        {"c255", "CHAR(255)", {T(Repeat("😀", 255)), T("-"), Blank()}},
        {"vc",
         "VARCHAR(1000)",
         {T("False"), T("\t tab \t"), Blank(), T("a\\\n' + 'b\\\r\n'); --"),
          T("line\ngo\nnext /* not a comment */ NULL"), T("a\\\rb")}},
        {"it's [odd] `na\"me` é", "TEXT", {T("odd name"), T("]"), Blank()}},
        {"l1", "VARCHAR(20) CHARACTER SET latin1", {T("Größe ÿ × ½"), Blank()}},
        {"u16", "TEXT CHARACTER SET utf16", {T("名前 😀 𝄞"), Blank()}},
        {"tt", "TINYTEXT", {T(Repeat("名", 85)), T("x"), Blank()}},
        {"tx", "TEXT", {T(Sized(65535)), T("y"), Blank()}},
        {"mt", "MEDIUMTEXT", {T(Sized(kMegabyte)), T("z"), Blank()}},
        {"lt", "LONGTEXT", longText},
        {"ip6", "INET6", {T("::ffff:1.2.3.4"), T("ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff")}},
        {"ip4", "INET4", {T("255.255.255.255"), T("0.0.0.0")}},
        {"uu",
         "UUID",
         {T("123e4567-e89b-12d3-a456-426614174000"), T("ffffffff-ffff-ffff-ffff-ffffffffffff")}},
        // SRID, then the WKB of POINT(1 2).
        {"gm",
         "POINT",
         {X("ST_GeomFromText('POINT(1 2)')", "0x000000000101000000000000000000f03f0000000000000040",
            Change::HexText)}},
        {"bn", "BINARY(4)", {Bytes("\x00\xff\x27\x5c"s, true), Bytes(std::string(4, '\0'), true)}},
        {"vb",
         "VARBINARY(300)",
         {Bytes("", true), Bytes(std::string(1, '\0'), true), Bytes("\xff\x00\xff"s, true)}},
        {"tb", "TINYBLOB", {Bytes(AllByteValues(255), true)}},
        {"bl", "BLOB", {Bytes(AllByteValues(65535), true)}},
        {"lb", "LONGBLOB", {Bytes(AllByteValues(kMegabyte), true)}},
    };
}

std::vector<Column> SybaseMatrix() {
    const std::string nines38(38, '9');
    const Change f = Change::ShortestFloat;
    const Change six = Change::SixFractionDigits;
    return {
        {"ti", "tinyint null", {N("0"), N("255")}},
        {"si", "smallint null", {N("-32768"), N("32767")}},
        {"i", "int null", {N("-2147483648"), N("2147483647")}},
        {"bi", "bigint null", {N("-9223372036854775808"), N("9223372036854775807")}},
        {"us", "unsigned smallint null", {N("0"), N("65535")}},
        {"ui", "unsigned int null", {N("0"), N("4294967295")}},
        {"ub", "unsigned bigint null", {N("0"), N("18446744073709551615")}},
        {"n38", "numeric(38,0) null", {N("-" + nines38), N(nines38)}},
        {"n38s", "numeric(38,38) null", {N("-0." + nines38), N("0." + std::string(37, '0') + "1")}},
        {"dc",
         "decimal(38,10) null",
         {N("-" + std::string(28, '9') + "." + std::string(10, '9')), N("0.0000000001")}},
        {"m", "money null", {N("-922337203685477.5808"), N("922337203685477.5807")}},
        {"sm", "smallmoney null", {N("-214748.3648"), N("214748.3647")}},
        {"fl",
         "float null",
         {X("-1.7976931348623157e308", "-1.7976931348623157e+308", f), N("2.2250738585072014e-308"),
          X("4.9e-324", "5e-324", f)}},
        {"r",
         "real null",
         {X("-3.4028234e38", "-3.402823466e+38", f), X("1.17549435e-38", "1.1754944e-38", f),
          X("1.4e-45", "1e-45", f)}},
        {"dtm",
         "datetime null",
         {X("'1753-01-01 00:00:00'", "1753-01-01 00:00:00.000000", six),
          X("'9999-12-31 23:59:59.997'", "9999-12-31 23:59:59.997000", six),
          X("'2024-02-29 12:34:56.002'", "2024-02-29 12:34:56.003000", Change::Ticks300),
          X("'2024-02-29 23:59:59.999'", "2024-03-01 00:00:00.000000", Change::Ticks300)}},
        {"sd",
         "smalldatetime null",
         {X("'1900-01-01 00:00'", "1900-01-01 00:00:00.000000", six),
          X("'2079-06-06 23:59'", "2079-06-06 23:59:00.000000", six)}},
        {"d", "date null", {D("0001-01-01"), D("9999-12-31")}},
        {"t",
         "time null",
         {X("'00:00:00'", "00:00:00.000000", six), X("'23:59:59.997'", "23:59:59.997000", six),
          X("'12:00:00.002'", "12:00:00.003000", Change::Ticks300)}},
        {"bd",
         "bigdatetime null",
         {D("0001-01-01 00:00:00.000000"), D("9999-12-31 23:59:59.999999")}},
        {"bt", "bigtime null", {D("00:00:00.000000"), D("23:59:59.999999")}},
        {"ch", "char(10) null", {T("it's"), T("  leading"), Blank()}},
        // NOT NULL char keeps its padding: that is the source's value.
        {"cn", "char(10)", {{Literal("ab"), "ab        "}}, Cell{Literal("x"), "x         "}},
        {"vc",
         "varchar(300) null",
         {T("He said 'True'"), T("ends in \\"), Blank(), T("line\ngo\nnext /* x */ NULL"),
          Cell{"'a\\' + '\rb'", "a\\\rb"}}},
        {"vl", "varchar(16384) null", {T(Sized(16384))}},
        {"nc", "nchar(10) null", {T("é名"), T("x"), Blank()}},
        {"nv", "nvarchar(20) null", {T("é名😀"), T("x"), Blank()}},
        {"uc", "unichar(10) null", {T("é名😀"), T("'"), Blank()}},
        {"uv", "univarchar(50) null", {T("2: é, 3: 名, 4: 😀 𝄞 \U0010FFFF"), T("False"), Blank()}},
        {"it's [odd] `na\"me` é", "varchar(20) null", {T("odd name"), T("]"), Blank()}},
        {"tx", "text null", HostileTexts(false)},
        {"ut", "unitext null", {T("Größe 名前 😀"), T(Repeat("𝄞", 5000)), Blank()}},
        {"bn",
         "binary(4) null",
         {Bytes("\x00\xff\x27\x5c"s, false), Bytes("\xff\xff\xff\xff"s, false),
          BytesStoredAs("\x00\xff\x00\x00"s, "\x00\xff"s)}},
        {"vb",
         "varbinary(300) null",
         {Bytes(std::string(1, '\0'), false), Bytes("\xff\x00\xff"s, false),
          BytesStoredAs("\x27\x00\x00"s, "\x27"s), BytesStoredAs("\x00\x00"s, "\x00"s)}},
        {"im",
         "image null",
         {Bytes(AllByteValues(65536), false), Bytes(AllByteValues(kMegabyte), false),
          Bytes("\x01\x00\x00"s, false)}},
        {"b", "bit", {N("1"), N("0")}, N("0")},
    };
}

using Row = std::vector<std::optional<std::string>>; // the matrix's columns in order
using Rows = std::map<int, Row>;                     // by id

int RowCount(const std::vector<Column>& columns) {
    std::size_t rows = 0;
    for (const Column& c : columns)
        rows = std::max(rows, c.cells.size());
    return static_cast<int>(rows) + 1; // the last row is NULL wherever a column allows it
}

const Cell& CellAt(const Column& column, int row) {
    static const Cell null = Null();
    const auto i = static_cast<std::size_t>(row - 1);
    if (i < column.cells.size())
        return column.cells[i];
    return column.filler ? *column.filler : null;
}

// Rows refused on their way to Sybase ASE, with the refusal's text.
std::map<int, std::string> RefusedRows(const std::vector<Column>& columns) {
    std::map<int, std::string> out;
    for (int row = 1; row <= RowCount(columns); ++row)
        for (const Column& c : columns)
            if (const char* why = CellAt(c, row).refused)
                out[row] = why;
    return out;
}

void CreateMatrix(Session& session, const std::string& table, const std::vector<Column>& columns) {
    std::vector<SourceColumn> source;
    std::vector<std::string> ids;
    const int rows = RowCount(columns);
    for (int row = 1; row <= rows; ++row)
        ids.push_back(std::to_string(row));
    source.push_back({"id int", ids});
    std::vector<std::string> declarations;
    for (const Column& c : columns)
        declarations.push_back(Quote(session.server, c.name) + " " + c.type);
    for (std::size_t i = 0; i < columns.size(); ++i) {
        std::vector<std::string> literals;
        for (int row = 1; row <= rows; ++row)
            literals.push_back(CellAt(columns[i], row).literal);
        source.push_back({declarations[i].c_str(), std::move(literals)});
    }
    CreateSource(session, table, source, rows);
}

std::string SelectColumns(Server server, const std::vector<Column>& columns) {
    std::string out = Quote(server, "id");
    for (const Column& c : columns)
        out += ", " + Quote(server, c.name);
    return out;
}

// Every row through the program's own reader, as the standard text of each value.
Rows ReadByProgram(Session& session, const std::string& table, const std::vector<Column>& columns) {
    auto rs = session.Run("SELECT " + SelectColumns(session.server, columns) + " FROM " +
                          Quote(session.server, table));
    Rows out;
    for (; rs && !rs->IsEOF(); rs->MoveNext()) {
        Row row;
        for (int i = 1; i < rs->FieldCount(); ++i) {
            const DbValue& v = rs->Value(i);
            if (v.IsNull())
                row.emplace_back();
            else if (v.GetKind() == DbValue::Kind::Boolean) // as it is written toward ASE
                row.emplace_back(v.AsBoolean() ? "1" : "0");
            else
                row.emplace_back(v.ToText());
        }
        out[std::stoi(rs->Value(0).ToText())] = std::move(row);
    }
    return out;
}

std::string Md5Hex(const std::string& bytes) {
    return QCryptographicHash::hash(QByteArray::fromStdString(bytes), QCryptographicHash::Md5)
        .toHex()
        .toStdString();
}

// A copy on MySQL whose columns have the source's types (a copy from Sybase ASE) rather than
// text: the expression that gives a column's value as the text expected of it, or "" for a
// floating point column, whose text MariaDB writes differently.
std::string MySQLTextOf(const Column& column, bool typed) {
    const std::string q = QuoteMySQLIdentifier(column.name);
    if (!typed)
        return q;
    const auto is = [&](const char* prefix) { return column.type.rfind(prefix, 0) == 0; };
    if (is("binary") || is("varbinary") || is("image"))
        return "CONCAT('0x', LOWER(HEX(" + q + ")))";
    if (is("bit"))
        return "CAST(" + q + " + 0 AS CHAR)";
    if (is("float") || is("real"))
        return "";
    return "CAST(" + q + " AS CHAR)";
}

// Every row of a MySQL table as the LENGTH and MD5 that MariaDB computes for each value's text,
// "<bytes>:<md5>" ("-" for a value MariaDB cannot write as expected).
Rows ReadMySQLFingerprints(Session& session, const std::string& table,
                           const std::vector<Column>& columns, bool typed) {
    std::string select = "SELECT CAST(`id` AS CHAR)";
    for (const Column& c : columns) {
        const std::string text = MySQLTextOf(c, typed);
        select += text.empty() ? ", IF(" + QuoteMySQLIdentifier(c.name) + " IS NULL, NULL, '-')"
                               : ", CONCAT(LENGTH(" + text + "), ':', MD5(" + text + "))";
    }
    auto rs = session.Run(select + " FROM " + QuoteMySQLIdentifier(table));
    Rows out;
    for (; rs && !rs->IsEOF(); rs->MoveNext()) {
        Row row;
        for (int i = 1; i < rs->FieldCount(); ++i) {
            const DbValue& v = rs->Value(i);
            row.push_back(v.IsNull() ? std::nullopt : std::optional<std::string>(v.ToText()));
        }
        out[std::stoi(rs->Value(0).ToText())] = std::move(row);
    }
    return out;
}

Rows Fingerprinted(const Rows& rows, const std::vector<Column>& columns, bool typed) {
    Rows out = rows;
    for (auto& [id, row] : out)
        for (std::size_t c = 0; c < row.size(); ++c)
            if (row[c])
                row[c] = MySQLTextOf(columns[c], typed).empty()
                             ? "-"
                             : std::to_string(row[c]->size()) + ":" + Md5Hex(*row[c]);
    return out;
}

// Every row of a Sybase ASE table of text columns as FreeTDS's tsql prints it: each value
// after the datalength() that ASE computes for it, so that values with tabs and line breaks
// are cut exactly.
Rows ReadWithTsql(const ServerCoordinates& at, const std::string& table,
                  const std::vector<Column>& columns) {
    QTemporaryDir dir;
    const QString conf = dir.filePath(QStringLiteral("freetds.conf"));
    {
        QFile file(conf);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("[global]\n\ttds version = 5.0\n\tclient charset = UTF-8\n");
    }
    std::string select = "select 'row', datalength([id]), [id]";
    for (const Column& c : columns) {
        const std::string q = QuoteSybaseIdentifier(c.name);
        select += ", datalength(" + q + "), " + q;
    }
    select += " from " + QuoteSybaseIdentifier(table);
    QProcess tsql;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("FREETDSCONF"), conf);
    tsql.setProcessEnvironment(env);
    tsql.start(QStringLiteral("tsql"),
               {QStringLiteral("-H"), Q(at.host), QStringLiteral("-p"), Q(at.port),
                QStringLiteral("-U"), Q(at.user), QStringLiteral("-P"), Q(at.password),
                QStringLiteral("-D"), Q(at.database), QStringLiteral("-o"), QStringLiteral("fhq")});
    tsql.write(QByteArray::fromStdString("set textsize 2147483647\ngo\n" + select + "\ngo\n"));
    tsql.closeWriteChannel();
    EXPECT_TRUE(tsql.waitForFinished(120000)) << "tsql did not finish";
    const std::string out = tsql.readAllStandardOutput().toStdString();
    const std::string err = tsql.readAllStandardError().toStdString();

    Rows rows;
    std::size_t at_ = 0;
    const auto fail = [&](const std::string& what) {
        ADD_FAILURE() << "tsql output: " << what << " at byte " << at_ << ": "
                      << out.substr(at_, 200) << "\nstderr: " << err.substr(0, 500);
        return rows;
    };
    // One value: its datalength, a tab, then exactly that many bytes; NULL twice for NULL.
    const auto value = [&](std::optional<std::string>& v) {
        const std::size_t tab = out.find('\t', at_);
        if (tab == std::string::npos)
            return false;
        const std::string length = out.substr(at_, tab - at_);
        at_ = tab + 1;
        if (length == "NULL") {
            if (out.compare(at_, 4, "NULL") != 0)
                return false;
            at_ += 4;
            v.reset();
            return true;
        }
        std::size_t bytes = 0;
        try {
            bytes = std::stoul(length);
        } catch (const std::exception&) {
            return false;
        }
        if (at_ + bytes > out.size())
            return false;
        v = out.substr(at_, bytes);
        at_ += bytes;
        return true;
    };
    while (out.compare(at_, 4, "row\t") == 0) {
        at_ += 4;
        std::optional<std::string> id;
        Row row(columns.size());
        if (!value(id) || !id)
            return fail("no id");
        for (auto& v : row) {
            if (out.compare(at_, 1, "\t") != 0)
                return fail("no tab");
            ++at_;
            if (!value(v))
                return fail("bad value");
        }
        if (out.compare(at_, 1, "\n") != 0)
            return fail("no line end");
        ++at_;
        rows[std::stoi(*id)] = std::move(row);
    }
    if (at_ != out.size())
        return fail("unread output");
    return rows;
}

std::string Shown(const std::optional<std::string>& v) {
    if (!v)
        return "NULL";
    std::string out;
    for (unsigned char c : v->substr(0, 60)) {
        if (c < 0x20 || c == 0x7f) {
            static constexpr char digits[] = "0123456789abcdef";
            out += "\\x";
            out.push_back(digits[c >> 4]);
            out.push_back(digits[c & 15]);
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    if (v->size() > 60)
        out += "... (" + std::to_string(v->size()) + " bytes)";
    return out;
}

// The rows expected in a copy: every row but those refused on the way, each value as its cell
// says.
Rows Expected(const std::vector<Column>& columns, const std::set<int>& absent) {
    Rows out;
    for (int row = 1; row <= RowCount(columns); ++row) {
        if (absent.count(row))
            continue;
        Row& r = out[row];
        for (const Column& c : columns)
            r.push_back(CellAt(c, row).want);
    }
    return out;
}

void ExpectRows(const Rows& got, const Rows& want, const std::vector<Column>& columns,
                const std::string& what) {
    std::set<int> gotIds, wantIds;
    for (const auto& [id, row] : got)
        gotIds.insert(id);
    for (const auto& [id, row] : want)
        wantIds.insert(id);
    EXPECT_EQ(gotIds, wantIds) << what << ": the rows present";
    for (const auto& [id, row] : want) {
        const auto found = got.find(id);
        if (found == got.end())
            continue;
        ASSERT_EQ(found->second.size(), row.size()) << what;
        for (std::size_t c = 0; c < row.size(); ++c)
            EXPECT_TRUE(found->second[c] == row[c])
                << what << ", row " << id << ", column " << columns[c].name << " ("
                << columns[c].type << "): got " << Shown(found->second[c]) << ", want "
                << Shown(row[c]);
    }
}

// A cell that does not arrive as its source value names an accepted change, and every change
// it names is listed.
void ExpectOnlyAcceptedChanges(const std::vector<Column>& columns) {
    for (const Column& c : columns)
        for (const Cell& cell : c.cells) {
            if (cell.change == Change::None)
                continue;
            bool listed = false;
            for (const AcceptedChange& accepted : kAcceptedChanges)
                listed = listed || accepted.change == cell.change;
            EXPECT_TRUE(listed) << c.name;
        }
}

struct Trip {
    const char* name;
    Server source;
    Server middle;
    std::vector<Column> (*matrix)();
};

void PrintTo(const Trip& trip, std::ostream* os) {
    *os << trip.name;
}

class RoundTripMatrixTest : public TransferServersTest<Trip> {
protected:
    MemoryTableList& List(Server s) { return s == Server::MySQL ? window_.list1 : window_.list2; }

    // One run of the "Send Table/s" button that copies from `source`.
    void Send(Server source) {
        window_.dialogs.clear();
        RunTransfer(source == Server::MySQL ? ServerKind::SybaseASE : ServerKind::MySQL, window_);
    }

    // Both readers of a copy on `server` against what it should hold.
    void ExpectCopy(Server server, const std::string& table, const std::vector<Column>& columns,
                    const Rows& want, const std::string& what) {
        Session session = Session::Open(server, At(server));
        ExpectRows(ReadByProgram(session, table, columns), want, columns,
                   what + " read by Veltrane");
        // A copy on MySQL has the source's types only when it came from Sybase ASE.
        const bool typed = GetParam().source == Server::Sybase;
        if (server == Server::MySQL)
            ExpectRows(ReadMySQLFingerprints(session, table, columns, typed),
                       Fingerprinted(want, columns, typed), columns,
                       what + ", LENGTH:MD5 by MariaDB");
        else
            ExpectRows(ReadWithTsql(At(server), table, columns), want, columns,
                       what + " read by tsql after datalength()");
    }

    // One report for each refused row, in the order of the rows (the source's order here), each
    // saying why; or none.
    void ExpectRefusalReports(const std::map<int, std::string>& refused) {
        const std::vector<QString> reports = window_.ErrorReports();
        ASSERT_EQ(reports.size(), refused.size()) << Printed(reports);
        std::size_t i = 0;
        for (const auto& [row, why] : refused)
            EXPECT_TRUE(reports[i++].contains(QString::fromUtf8(why))) << Printed(reports);
    }
};

// source -> middle -> source: the second run replaces the source table, after its question.
TEST_P(RoundTripMatrixTest, EveryValueArrivesThereAndBack) {
    const Trip& trip = GetParam();
    const std::vector<Column> columns = trip.matrix();
    ExpectOnlyAcceptedChanges(columns);
    // A name with every quote of both servers, a blank and non-ASCII letters (lower-case, as
    // the Sybase ASE list shows it).
    const std::string table =
        TableName(trip.source == Server::MySQL ? "matrix_mysql" : "matrix_ase") + " o'd ]`\"[é名]";
    DropAtExit dropSource(trip.source, At(trip.source), table);
    DropAtExit dropMiddle(trip.middle, At(trip.middle), table);
    {
        Session source = Session::Open(trip.source, At(trip.source));
        CreateMatrix(source, table, columns);
    }
    const std::map<int, std::string> refused = RefusedRows(columns);
    std::set<int> absent;
    for (const auto& [row, why] : refused)
        absent.insert(row);

    // There: the rows refused toward Sybase ASE are reported each in its own box, and are absent
    // whole; toward MySQL nothing is refused.
    Fill(List(trip.source), {{table, true}});
    Send(trip.source);
    const bool refusedThere = trip.middle == Server::Sybase;
    const std::map<int, std::string> none;
    ExpectRefusalReports(refusedThere ? refused : none);
    ExpectCopy(trip.middle, table, columns,
               Expected(columns, refusedThere ? absent : std::set<int>{}),
               std::string("copy on ") + Label(trip.middle));

    // And back, replacing the source table.
    window_.dialogs.QueueAnswer(MessageAnswer::Yes);
    MemoryTableList& middle = List(trip.middle);
    ASSERT_EQ(middle.Texts(), QStringList{Q(table)});
    middle.SetSelected(0, true);
    middle.SetCurrentIndex(0);
    Send(trip.middle);
    EXPECT_EQ(
        window_.Questions(),
        std::vector<QString>{QStringLiteral("Would you like to overwrite ") + Q(table) + "?"});
    ExpectRefusalReports(refusedThere ? none : refused);
    ExpectCopy(trip.source, table, columns, Expected(columns, absent),
               std::string("copy back on ") + Label(trip.source));
}

INSTANTIATE_TEST_SUITE_P(
    Trips, RoundTripMatrixTest,
    ::testing::Values(Trip{"MySQLToSybaseAndBack", Server::MySQL, Server::Sybase, MySQLMatrix},
                      Trip{"SybaseToMySQLAndBack", Server::Sybase, Server::MySQL, SybaseMatrix}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace veltrane::testing
