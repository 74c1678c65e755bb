// An independent reader of the CREATE TABLE and single-row INSERT statements sent to either
// server: it knows
// only each server's own rules for quoted names and literals, not how the builder writes them,
// so a statement that a name or value breaks out of reads back differently or not at all.
//   MySQL (NO_BACKSLASH_ESCAPES): `name` with `` for a back-tick; '...' with '' for a quote and
//     no other escape; adjacent literals join; X'hex'; bare integers; NULL.
//   Sybase ASE: [name] with ]] for a bracket; '...' with '' for a quote, where a backslash
//     right before a line break (LF or CR LF) drops out with the break; 'a' + 'b' joins; NULL.
#pragma once

#include "connect/access/ServerKind.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace veltrane::fuzz {

struct ReadValue {
    enum class Kind { Null, Integer, Text, Hex };
    Kind kind = Kind::Null;
    std::string bytes; // the digits, the text, or the bytes the hex digits stand for
    bool operator==(const ReadValue&) const = default;
};

struct ReadInsert {
    std::string table;
    std::vector<ReadValue> values;
};

struct ReadColumn {
    std::string name;
    std::string type; // the type's words, numbers and parentheses as written
};

struct ReadCreateTable {
    std::string table;
    std::vector<ReadColumn> columns;
};

// The table and values of `INSERT INTO <name> VALUES(<v>, ...)` with nothing after the closing
// parenthesis but blanks; nullopt with `error` set when the text is anything else.
std::optional<ReadInsert> ReadInsertStatement(ServerKind dialect, std::string_view sql,
                                              std::string& error);

// The table and columns of `CREATE TABLE <name>(<name> <type>, ...)`, where a type is made of
// letters, digits, blanks, and commas only inside its parentheses; toward MySQL a ';' may end
// the statement.
std::optional<ReadCreateTable> ReadCreateTableStatement(ServerKind dialect, std::string_view sql,
                                                        std::string& error);

} // namespace veltrane::fuzz
