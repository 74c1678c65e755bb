#pragma once

// The pieces of SQL text that every statement toward either server is built from: quoted
// identifiers and quoted text literals. Names and values are UTF-8 and may hold any byte;
// nothing a name or value contains can end its quotes early.

#include "connect/access/ServerKind.h"

#include <string>
#include <string_view>

namespace veltrane {

// `name` in back-ticks, each back-tick inside doubled.
std::string QuoteMySQLIdentifier(std::string_view name);
void AppendMySQLIdentifier(std::string& out, std::string_view name);

// `name` in square brackets, each closing bracket inside doubled.
std::string QuoteSybaseIdentifier(std::string_view name);
void AppendSybaseIdentifier(std::string& out, std::string_view name);

// A Sybase ASE table: [owner].[table] when the owner is known, else [table], which the server
// resolves to the login's own table first, then to dbo's.
std::string QuoteSybaseTableName(std::string_view owner, std::string_view table);

// Sybase ASE refuses a '.' inside a bracketed name (with its quoted-identifier enhancement it
// would read [a.b] as owner a, table b); no other character needs refusing, since brackets
// take any other.
inline bool SybaseAllowsName(std::string_view name) {
    return name.find('.') == std::string_view::npos;
}

// The quoting of `target`, the server that the statement is written for.
std::string QuoteTargetIdentifier(ServerKind target, std::string_view name);
void AppendTargetIdentifier(std::string& out, ServerKind target, std::string_view name);

// Doubles every single quote in out[from, end): turns text already appended to `out` into the
// body of a quoted literal. Both servers read such a literal back exactly, since the MySQL
// sessions run with NO_BACKSLASH_ESCAPES and Sybase ASE has no backslash escapes.
void DoubleSingleQuotes(std::string& out, std::size_t from);

// `text` as a quoted text literal: '...' with each single quote doubled.
void AppendTextLiteral(std::string& out, std::string_view text);

// Sybase ASE reads a backslash right before a line break inside a literal as a line
// continuation and drops both. In the literal body out[from, end) (quotes already doubled),
// ends the literal after each such backslash and continues it in a new one joined with +, so
// that 'a\<LF>b' is written 'a\' + '<LF>b' and the server keeps every character. True when
// it split anything. The joined literals form an expression, and ASE cuts the result of any
// expression at kSybaseExpressionBytes without an error: the caller must keep within that.
bool SplitSybaseLineContinuations(std::string& out, std::size_t from);

// The longest result of a character expression in Sybase ASE; a single literal of any length
// goes into a text column whole.
inline constexpr std::size_t kSybaseExpressionBytes = 16384;

} // namespace veltrane
