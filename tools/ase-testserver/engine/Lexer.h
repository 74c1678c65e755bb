// Tokens of the ASE dialect: words, delimited identifiers, literals, @@globals, operators.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace asetest {

enum class TokenKind {
    End,
    Word,        // plain identifier or keyword
    DelimitedId, // [bracketed] or "quoted" (when quoted_identifier is on)
    String,      // '...' or "..." (when quoted_identifier is off)
    Integer,     // 123
    Decimal,     // 1.5
    Float,       // 1e5
    Money,       // $12.50 (value without the $)
    Binary,      // 0x0102
    Global,      // @@spid
    Local,       // @name
    Symbol,      // ( ) , . ; * + - / % = < > <= >= <> != !< !>
};

struct Token {
    TokenKind kind = TokenKind::End;
    std::string text;  // as written (for messages)
    std::string value; // identifier name, string contents, binary bytes, lower-case global name
    std::size_t begin = 0;
    std::size_t end = 0;
};

// Splits SQL text into tokens, the last one of kind End. Throws EngineError 105 for an
// unclosed quote and 102 for an empty or unclosed delimited identifier or one with a dot.
std::vector<Token> Tokenize(std::string_view sql, bool quotedIdentifier);

bool EqualsNoCase(std::string_view a, std::string_view b);
std::string Lower(std::string_view s);

} // namespace asetest
