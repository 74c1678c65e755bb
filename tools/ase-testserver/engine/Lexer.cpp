#include "Lexer.h"

#include "Types.h"

#include <cctype>

namespace asetest {

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

std::string Lower(std::string_view s) {
    std::string r(s);
    for (char& c : r) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return r;
}

namespace {

bool IsWordStart(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    return std::isalpha(u) || c == '_' || c == '#' || u >= 0x80;
}

bool IsWordChar(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    return std::isalnum(u) || c == '_' || c == '#' || c == '$' || c == '@' || u >= 0x80;
}

[[noreturn]] void Unclosed(std::string_view rest) {
    throw EngineError(105, 15,
                      "Unclosed quote before the character string '" + std::string(rest) + "'.");
}

// Reads a quoted run starting at sql[i] == quote; `close` ends it and is escaped by doubling.
// Returns the decoded contents and moves i past the closing character.
bool ReadQuoted(std::string_view sql, std::size_t& i, char close, bool continuation,
                std::string& out) {
    std::size_t p = i + 1;
    out.clear();
    while (p < sql.size()) {
        const char c = sql[p];
        if (c == close) {
            if (p + 1 < sql.size() && sql[p + 1] == close) {
                out += close;
                p += 2;
                continue;
            }
            i = p + 1;
            return true;
        }
        if (continuation && c == '\\') {
            // A backslash right before a line break continues the string on the next line.
            if (p + 1 < sql.size() && sql[p + 1] == '\n') {
                p += 2;
                continue;
            }
            if (p + 2 < sql.size() && sql[p + 1] == '\r' && sql[p + 2] == '\n') {
                p += 3;
                continue;
            }
        }
        out += c;
        ++p;
    }
    return false;
}

} // namespace

std::vector<Token> Tokenize(std::string_view sql, bool quotedIdentifier) {
    std::vector<Token> tokens;
    std::size_t i = 0;
    const std::size_t n = sql.size();
    while (true) {
        while (i < n) {
            const char c = sql[i];
            if (std::isspace(static_cast<unsigned char>(c))) {
                ++i;
            } else if (c == '-' && i + 1 < n && sql[i + 1] == '-') {
                while (i < n && sql[i] != '\n') {
                    ++i;
                }
            } else if (c == '/' && i + 1 < n && sql[i + 1] == '*') {
                int depth = 1;
                i += 2;
                while (i < n && depth > 0) {
                    if (sql[i] == '/' && i + 1 < n && sql[i + 1] == '*') {
                        ++depth;
                        i += 2;
                    } else if (sql[i] == '*' && i + 1 < n && sql[i + 1] == '/') {
                        --depth;
                        i += 2;
                    } else {
                        ++i;
                    }
                }
            } else {
                break;
            }
        }
        Token t;
        t.begin = i;
        if (i >= n) {
            t.kind = TokenKind::End;
            t.end = i;
            tokens.push_back(std::move(t));
            return tokens;
        }
        const char c = sql[i];
        if (c == '\'' || (c == '"' && !quotedIdentifier)) {
            t.kind = TokenKind::String;
            if (!ReadQuoted(sql, i, c, true, t.value)) {
                Unclosed(sql.substr(t.begin + 1));
            }
            if (t.value.empty()) {
                t.value = " "; // ASE reads '' as a single blank
            }
        } else if (c == '"' || c == '[') {
            t.kind = TokenKind::DelimitedId;
            if (!ReadQuoted(sql, i, c == '[' ? ']' : '"', false, t.value)) {
                if (c == '"') {
                    Unclosed(sql.substr(t.begin + 1));
                }
                throw EngineError(
                    102, 15, "Incorrect syntax near '" + std::string(sql.substr(t.begin)) + "'.");
            }
            if (c == '[') {
                while (!t.value.empty() && t.value.back() == ' ') {
                    t.value.pop_back();
                }
            }
            if (t.value.empty()) {
                throw EngineError(
                    102, 15,
                    "Incorrect syntax near '" + std::string(sql.substr(t.begin, i - t.begin)) +
                        "'. A delimited identifier must contain at least one character.");
            }
            // ASE refuses a dot inside a delimited name: [a.b] is neither one name nor two.
            if (t.value.find('.') != std::string::npos) {
                throw EngineError(102, 15,
                                  "Incorrect syntax near '" +
                                      std::string(sql.substr(t.begin, i - t.begin)) + "'.");
            }
        } else if (c == '0' && i + 1 < n && (sql[i + 1] == 'x' || sql[i + 1] == 'X')) {
            t.kind = TokenKind::Binary;
            std::size_t p = i + 2;
            std::string hex;
            while (p < n && std::isxdigit(static_cast<unsigned char>(sql[p]))) {
                hex += sql[p++];
            }
            if (hex.size() % 2) {
                hex.insert(hex.begin(), '0');
            }
            for (std::size_t k = 0; k < hex.size(); k += 2) {
                t.value += static_cast<char>(std::stoi(hex.substr(k, 2), nullptr, 16));
            }
            i = p;
        } else if (std::isdigit(static_cast<unsigned char>(c)) ||
                   (c == '.' && i + 1 < n &&
                    std::isdigit(static_cast<unsigned char>(sql[i + 1])))) {
            std::size_t p = i;
            bool point = false;
            bool exponent = false;
            while (p < n && (std::isdigit(static_cast<unsigned char>(sql[p])) ||
                             (sql[p] == '.' && !point))) {
                point = point || sql[p] == '.';
                ++p;
            }
            if (p < n && (sql[p] == 'e' || sql[p] == 'E')) {
                std::size_t q = p + 1;
                if (q < n && (sql[q] == '+' || sql[q] == '-')) {
                    ++q;
                }
                if (q < n && std::isdigit(static_cast<unsigned char>(sql[q]))) {
                    while (q < n && std::isdigit(static_cast<unsigned char>(sql[q]))) {
                        ++q;
                    }
                    exponent = true;
                    p = q;
                }
            }
            t.kind =
                exponent ? TokenKind::Float : (point ? TokenKind::Decimal : TokenKind::Integer);
            t.value = std::string(sql.substr(i, p - i));
            i = p;
        } else if (c == '$' && i + 1 < n &&
                   (std::isdigit(static_cast<unsigned char>(sql[i + 1])) || sql[i + 1] == '.')) {
            std::size_t p = i + 1;
            bool point = false;
            while (p < n && (std::isdigit(static_cast<unsigned char>(sql[p])) ||
                             (sql[p] == '.' && !point))) {
                point = point || sql[p] == '.';
                ++p;
            }
            t.kind = TokenKind::Money;
            t.value = std::string(sql.substr(i + 1, p - i - 1));
            i = p;
        } else if (c == '@') {
            std::size_t p = i + 1;
            const bool global = p < n && sql[p] == '@';
            if (global) {
                ++p;
            }
            const std::size_t nameStart = p;
            while (p < n && IsWordChar(sql[p])) {
                ++p;
            }
            if (p == nameStart) {
                throw EngineError(102, 15, "Incorrect syntax near '@'.");
            }
            t.kind = global ? TokenKind::Global : TokenKind::Local;
            t.value = Lower(sql.substr(nameStart, p - nameStart));
            i = p;
        } else if (IsWordStart(c)) {
            std::size_t p = i;
            while (p < n && IsWordChar(sql[p])) {
                ++p;
            }
            t.kind = TokenKind::Word;
            t.value = std::string(sql.substr(i, p - i));
            i = p;
        } else {
            t.kind = TokenKind::Symbol;
            static const char* const twoChar[] = {"<=", ">=", "<>", "!=", "!<", "!>"};
            bool matched = false;
            for (const char* s : twoChar) {
                if (sql.substr(i, 2) == s) {
                    t.value = s;
                    i += 2;
                    matched = true;
                    break;
                }
            }
            if (!matched) {
                t.value = std::string(1, c);
                ++i;
            }
        }
        t.end = i;
        t.text = std::string(sql.substr(t.begin, t.end - t.begin));
        if (t.kind == TokenKind::String || t.kind == TokenKind::DelimitedId) {
            t.text = t.value;
        }
        tokens.push_back(std::move(t));
    }
}

} // namespace asetest
