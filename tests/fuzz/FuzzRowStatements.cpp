// Builds the INSERT of one row of random values into a randomly named table (or the CREATE TABLE
// of randomly named columns), toward either server, and reads it back with a reader that knows
// only the target's quoting rules (and, toward Sybase ASE, with the TDS test server's own
// tokenizer as well): every name and value must come back exactly, and nothing may follow the
// statement.
#include "FuzzInput.h"
#include "InsertStatementReader.h"
#include "engine/Lexer.h"
#include "engine/Types.h"
#include "transfer/statements/ColumnTypes.h"
#include "transfer/statements/RowStatements.h"

#include <bit>
#include <vector>

namespace veltrane::fuzz {
namespace {

std::string Digits(FuzzInput& in, std::size_t most) {
    std::string digits;
    const std::size_t count = in.Byte() % (most + 1);
    for (std::size_t i = 0; i < count; ++i)
        digits.push_back(static_cast<char>('0' + in.Byte() % 10));
    return digits;
}

TimeValue RandomTime(FuzzInput& in) {
    TimeValue t;
    t.negative = (in.Byte() & 1) != 0;
    t.hour = static_cast<unsigned>(in.Number(4));
    t.minute = in.Byte();
    t.second = in.Byte();
    t.fraction = Digits(in, 9);
    return t;
}

DbValue RandomValue(FuzzInput& in) {
    switch (in.Byte() % 12) {
    case 0:
        return DbValue::Null();
    case 1:
        return DbValue::Boolean((in.Byte() & 1) != 0);
    case 2:
        return DbValue::Int(static_cast<std::int64_t>(in.Number(8)));
    case 3:
        return DbValue::UInt(in.Number(8));
    case 4:
        return DbValue::Single(std::bit_cast<float>(static_cast<std::uint32_t>(in.Number(4))));
    case 5:
        return DbValue::Double(std::bit_cast<double>(in.Number(8)));
    case 6: {
        std::string text = (in.Byte() & 1) ? "-" : "";
        text += "0" + Digits(in, 40);
        if (in.Byte() & 1)
            text += "." + Digits(in, 20);
        return DbValue::Decimal(text);
    }
    case 7:
        return DbValue::Binary(in.Text());
    case 8:
        return DbValue::Date({static_cast<int>(in.Number(4)), in.Byte(), in.Byte()});
    case 9:
        return DbValue::Time(RandomTime(in));
    case 10: {
        const DateValue date{static_cast<int>(in.Number(4)), in.Byte(), in.Byte()};
        return DbValue::DateTime({date, RandomTime(in)});
    }
    default:
        return DbValue::Text(in.Text());
    }
}

// What the server stores for `value`, as the reader reports it.
ReadValue Expected(ServerKind toward, const DbValue& value) {
    const bool toMySQL = toward == ServerKind::MySQL;
    switch (value.GetKind()) {
    case DbValue::Kind::Null:
        return {ReadValue::Kind::Null, {}};
    case DbValue::Kind::Boolean:
        return {toMySQL ? ReadValue::Kind::Integer : ReadValue::Kind::Text,
                value.AsBoolean() ? "1" : "0"};
    case DbValue::Kind::Binary:
        if (toMySQL)
            return {ReadValue::Kind::Hex, value.AsBinary().bytes};
        break;
    default:
        break;
    }
    return {ReadValue::Kind::Text, value.ToText()};
}

// The test server's tokenizer on the same statement: ASE stores '' as one blank and drops the
// trailing blanks of a bracketed name.
void CheckWithTestServerLexer(const std::string& sql, const std::string& table,
                              const std::vector<ReadValue>& expected) {
    std::string name = table;
    while (!name.empty() && name.back() == ' ')
        name.pop_back();
    // ASE refuses an empty delimited name, and one that holds a '.' (the transfer refuses to
    // send such a name toward Sybase ASE before it builds any statement).
    const bool refused = name.empty() || name.find('.') != std::string::npos;
    std::vector<asetest::Token> tokens;
    try {
        tokens = asetest::Tokenize(sql, false);
    } catch (const asetest::EngineError& e) {
        if (refused)
            return;
        Fail(std::string("test server lexer refused the statement: ") + e.what(), sql);
    }
    if (refused)
        Fail("test server lexer took a name that ASE refuses", sql);
    std::size_t t = 0;
    const auto next = [&]() -> const asetest::Token& {
        if (t >= tokens.size())
            Fail("test server lexer: statement ends early", sql);
        return tokens[t++];
    };
    const auto expectSymbol = [&](const char* symbol) {
        const asetest::Token& token = next();
        if (token.kind != asetest::TokenKind::Symbol || token.value != symbol)
            Fail(std::string("test server lexer: expected ") + symbol + " at " + token.text, sql);
    };
    for (const char* word : {"INSERT", "INTO"})
        if (!asetest::EqualsNoCase(next().value, word))
            Fail("test server lexer: INSERT INTO expected", sql);
    const asetest::Token& id = next();
    if (id.kind != asetest::TokenKind::DelimitedId || id.value != name)
        Fail("test server lexer: table name differs", sql);
    if (!asetest::EqualsNoCase(next().value, "VALUES"))
        Fail("test server lexer: VALUES expected", sql);
    expectSymbol("(");
    for (std::size_t v = 0; v < expected.size(); ++v) {
        if (v > 0)
            expectSymbol(",");
        const asetest::Token& first = next();
        if (expected[v].kind == ReadValue::Kind::Null) {
            if (first.kind != asetest::TokenKind::Word ||
                !asetest::EqualsNoCase(first.value, "NULL"))
                Fail("test server lexer: NULL expected", sql);
            continue;
        }
        if (first.kind != asetest::TokenKind::String)
            Fail("test server lexer: literal expected at " + first.text, sql);
        std::string joined = first.value;
        while (t + 1 < tokens.size() && tokens[t].kind == asetest::TokenKind::Symbol &&
               tokens[t].value == "+") {
            ++t;
            const asetest::Token& piece = next();
            if (piece.kind != asetest::TokenKind::String)
                Fail("test server lexer: literal expected after +", sql);
            joined += piece.value;
        }
        const std::string want = expected[v].bytes.empty() ? " " : expected[v].bytes;
        if (joined != want)
            Fail("test server lexer: value " + std::to_string(v) + " differs", sql);
    }
    expectSymbol(")");
    if (next().kind != asetest::TokenKind::End)
        Fail("test server lexer: text after the statement", sql);
}

// CREATE TABLE with random column names and types: the names come back exactly.
void CheckCreateTable(FuzzInput& in, ServerKind toward, const std::string& table) {
    std::vector<FieldInfo> columns;
    while (columns.empty() || (!in.Empty() && columns.size() < 64)) {
        FieldInfo column;
        column.name = in.Text();
        column.type = static_cast<AdoType>(static_cast<std::int16_t>(in.Number(2)));
        column.precision = static_cast<int>(in.Number(4));
        column.scale = static_cast<int>(in.Number(4));
        column.definedSize = static_cast<std::int64_t>(in.Number(8));
        columns.push_back(std::move(column));
    }
    const std::string sql = CreateTableStatement(toward, table, columns);
    std::string error;
    const auto read = ReadCreateTableStatement(toward, sql, error);
    if (!read)
        Fail("the statement does not read back: " + error, sql);
    if (read->table != table || read->columns.size() != columns.size())
        Fail("the table name or the number of columns differs", sql);
    for (std::size_t i = 0; i < columns.size(); ++i) {
        if (read->columns[i].name != columns[i].name)
            Fail("column " + std::to_string(i) + " reads back as '" + read->columns[i].name + "'",
                 sql);
        if (toward == ServerKind::SybaseASE && read->columns[i].type != "TEXT NULL")
            Fail("column " + std::to_string(i) + " is not TEXT NULL", sql);
    }
}

} // namespace
} // namespace veltrane::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace veltrane;
    using namespace veltrane::fuzz;
    FuzzInput in(data, size);
    const std::uint8_t choice = in.Byte();
    const auto toward = (choice & 1) ? ServerKind::SybaseASE : ServerKind::MySQL;
    const std::string table = in.Text();
    if (choice & 2) {
        CheckCreateTable(in, toward, table);
        return 0;
    }
    std::vector<DbValue> row;
    while (!in.Empty() && row.size() < 64)
        row.push_back(RandomValue(in));

    const std::string sql = InsertRowStatement(toward, table, row);
    std::string error;
    const auto read = ReadInsertStatement(toward, sql, error);
    if (!read)
        Fail("the statement does not read back: " + error, sql);
    if (read->table != table)
        Fail("the table name reads back as '" + read->table + "'", sql);
    if (read->values.size() != row.size())
        Fail("the statement holds " + std::to_string(read->values.size()) + " values, not " +
                 std::to_string(row.size()),
             sql);
    std::vector<ReadValue> expected;
    for (std::size_t i = 0; i < row.size(); ++i) {
        expected.push_back(Expected(toward, row[i]));
        if (read->values[i] != expected.back())
            Fail("value " + std::to_string(i) + " reads back as '" + read->values[i].bytes + "'",
                 sql);
    }
    if (toward == ServerKind::SybaseASE)
        CheckWithTestServerLexer(sql, table, expected);
    return 0;
}
