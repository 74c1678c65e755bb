#include "InsertStatementReader.h"

#include <cctype>

namespace veltrane::fuzz {
namespace {

class Reader {
public:
    Reader(ServerKind dialect, std::string_view sql)
        : dialect_(dialect)
        , sql_(sql) {}

    std::optional<ReadInsert> Statement(std::string& error) {
        ReadInsert insert;
        if (!Keyword("INSERT") || !Keyword("INTO") || !Name(insert.table) || !Keyword("VALUES") ||
            !Symbol('(')) {
            error = error_.empty() ? "not INSERT INTO <name> VALUES(" : error_;
            return std::nullopt;
        }
        SkipBlanks();
        if (!Symbol(')')) {
            for (;;) {
                ReadValue value;
                if (!Value(value)) {
                    error = error_;
                    return std::nullopt;
                }
                insert.values.push_back(std::move(value));
                if (Symbol(','))
                    continue;
                if (Symbol(')'))
                    break;
                error = Where("',' or ')' expected");
                return std::nullopt;
            }
        }
        SkipBlanks();
        if (pos_ != sql_.size()) {
            error = Where("text after the statement");
            return std::nullopt;
        }
        return insert;
    }

    std::optional<ReadCreateTable> CreateTable(std::string& error) {
        ReadCreateTable create;
        if (!Keyword("CREATE") || !Keyword("TABLE") || !Name(create.table) || !Symbol('(')) {
            error = error_.empty() ? "not CREATE TABLE <name>(" : error_;
            return std::nullopt;
        }
        do {
            ReadColumn column;
            if (!Name(column.name) || !Type(column.type)) {
                error = error_;
                return std::nullopt;
            }
            create.columns.push_back(std::move(column));
        } while (Symbol(','));
        if (!Symbol(')')) {
            error = Where("')' expected");
            return std::nullopt;
        }
        if (dialect_ == ServerKind::MySQL)
            Symbol(';');
        SkipBlanks();
        if (pos_ != sql_.size()) {
            error = Where("text after the statement");
            return std::nullopt;
        }
        return create;
    }

private:
    // Letters, digits and blanks, with commas only inside parentheses.
    bool Type(std::string& out) {
        SkipBlanks();
        int depth = 0;
        while (pos_ < sql_.size()) {
            const char c = sql_[pos_];
            if (c == '(') {
                ++depth;
            } else if (c == ')') {
                if (depth == 0)
                    break;
                --depth;
            } else if (c == ',') {
                if (depth == 0)
                    break;
            } else if (!std::isalnum(static_cast<unsigned char>(c)) && !IsBlank(c)) {
                break;
            }
            out.push_back(c);
            ++pos_;
        }
        while (!out.empty() && IsBlank(out.back()))
            out.pop_back();
        if (out.empty() || depth != 0) {
            error_ = Where("column type expected");
            return false;
        }
        return true;
    }

    static bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

    void SkipBlanks() {
        while (pos_ < sql_.size() && IsBlank(sql_[pos_]))
            ++pos_;
    }

    std::string Where(const std::string& what) { return what + " at byte " + std::to_string(pos_); }

    bool Keyword(std::string_view word) {
        SkipBlanks();
        if (sql_.size() - pos_ < word.size())
            return false;
        for (std::size_t i = 0; i < word.size(); ++i) {
            if (std::toupper(static_cast<unsigned char>(sql_[pos_ + i])) != word[i])
                return false;
        }
        const std::size_t after = pos_ + word.size();
        if (after < sql_.size() &&
            (std::isalnum(static_cast<unsigned char>(sql_[after])) || sql_[after] == '_'))
            return false;
        pos_ = after;
        return true;
    }

    bool Symbol(char c) {
        SkipBlanks();
        if (pos_ < sql_.size() && sql_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }

    // Reads a run delimited by `open` and `close`, where a doubled `close` stands for itself.
    bool Delimited(char open, char close, std::string& out) {
        if (pos_ >= sql_.size() || sql_[pos_] != open)
            return false;
        out.clear();
        for (std::size_t p = pos_ + 1; p < sql_.size(); ++p) {
            if (sql_[p] == close) {
                if (p + 1 < sql_.size() && sql_[p + 1] == close) {
                    out.push_back(close);
                    ++p;
                    continue;
                }
                pos_ = p + 1;
                return true;
            }
            out.push_back(sql_[p]);
        }
        error_ = Where("unclosed delimiter");
        return false;
    }

    bool Name(std::string& out) {
        SkipBlanks();
        const bool ok =
            dialect_ == ServerKind::MySQL ? Delimited('`', '`', out) : Delimited('[', ']', out);
        if (!ok && error_.empty())
            error_ = Where("delimited name expected");
        return ok;
    }

    bool Quoted(std::string& out) {
        std::string raw;
        if (!Delimited('\'', '\'', raw))
            return false;
        if (dialect_ == ServerKind::MySQL) {
            out.append(raw);
            return true;
        }
        for (std::size_t i = 0; i < raw.size(); ++i) {
            if (raw[i] == '\\' && i + 1 < raw.size() && raw[i + 1] == '\n') {
                ++i;
                continue;
            }
            if (raw[i] == '\\' && i + 2 < raw.size() && raw[i + 1] == '\r' && raw[i + 2] == '\n') {
                i += 2;
                continue;
            }
            out.push_back(raw[i]);
        }
        return true;
    }

    bool Value(ReadValue& value) {
        SkipBlanks();
        if (pos_ >= sql_.size()) {
            error_ = Where("value expected");
            return false;
        }
        const char c = sql_[pos_];
        if (c == '\'') {
            value.kind = ReadValue::Kind::Text;
            if (!Quoted(value.bytes))
                return false;
            for (;;) {
                const std::size_t before = pos_;
                if (dialect_ == ServerKind::SybaseASE && !Symbol('+'))
                    break;
                SkipBlanks();
                if (pos_ >= sql_.size() || sql_[pos_] != '\'') {
                    if (dialect_ == ServerKind::SybaseASE) {
                        error_ = Where("literal expected after '+'");
                        return false;
                    }
                    pos_ = before;
                    break;
                }
                if (!Quoted(value.bytes))
                    return false;
            }
            return true;
        }
        if (dialect_ == ServerKind::MySQL && (c == 'X' || c == 'x') && pos_ + 1 < sql_.size() &&
            sql_[pos_ + 1] == '\'') {
            ++pos_;
            std::string digits;
            if (!Delimited('\'', '\'', digits))
                return false;
            if (digits.size() % 2 != 0) {
                error_ = Where("odd number of hex digits");
                return false;
            }
            value.kind = ReadValue::Kind::Hex;
            for (std::size_t i = 0; i < digits.size(); i += 2) {
                const int high = HexDigit(digits[i]), low = HexDigit(digits[i + 1]);
                if (high < 0 || low < 0) {
                    error_ = Where("not a hex digit");
                    return false;
                }
                value.bytes.push_back(static_cast<char>(high * 16 + low));
            }
            return true;
        }
        if (std::isdigit(static_cast<unsigned char>(c))) {
            value.kind = ReadValue::Kind::Integer;
            while (pos_ < sql_.size() && std::isdigit(static_cast<unsigned char>(sql_[pos_])))
                value.bytes.push_back(sql_[pos_++]);
            return true;
        }
        if (Keyword("NULL")) {
            value.kind = ReadValue::Kind::Null;
            return true;
        }
        error_ = Where("value expected");
        return false;
    }

    static int HexDigit(char c) {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    }

    ServerKind dialect_;
    std::string_view sql_;
    std::size_t pos_ = 0;
    std::string error_;
};

} // namespace

std::optional<ReadCreateTable> ReadCreateTableStatement(ServerKind dialect, std::string_view sql,
                                                        std::string& error) {
    return Reader(dialect, sql).CreateTable(error);
}

std::optional<ReadInsert> ReadInsertStatement(ServerKind dialect, std::string_view sql,
                                              std::string& error) {
    return Reader(dialect, sql).Statement(error);
}

} // namespace veltrane::fuzz
