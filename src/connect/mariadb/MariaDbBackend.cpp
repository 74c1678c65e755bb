// MySQL backend on MariaDB Connector/C, speaking the text protocol.
//
// Every session runs with utf8mb4 and NO_BACKSLASH_ESCAPES, so a backslash inside a quoted
// literal is an ordinary character and doubling single quotes is the only escaping that the
// row statements need.

#include "connect/Backends.h"
#include "connect/DatabaseError.h"

#include <charconv>
#include <cstring>
#include <deque>
#include <memory>
#include <mysql.h>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace veltrane {
namespace {

constexpr unsigned kBinaryCharset = 63;

DatabaseError ClientError(MYSQL* mysql, const std::string& statement = {}) {
    return DatabaseError(mysql_error(mysql), static_cast<int>(mysql_errno(mysql)), statement);
}

// How the text of one column turns into a DbValue; decided once per result.
enum class Conversion {
    Null,
    Int,
    UInt,
    Decimal,
    Single,
    Double,
    Date,
    Time,
    DateTime,
    Boolean,
    Text,
    Binary
};

struct Column {
    FieldInfo info;
    Conversion conversion = Conversion::Text;
};

std::int64_t CharacterCount(const MYSQL_FIELD& field) {
    const MARIADB_CHARSET_INFO* charset = mariadb_get_charset_by_nr(field.charsetnr);
    const unsigned maxBytes = charset && charset->char_maxlen > 0 ? charset->char_maxlen : 1;
    return static_cast<std::int64_t>(field.length / maxBytes);
}

// The ADO type, precision, scale and size that the MySQL ODBC driver reports for a column.
Column DescribeColumn(const MYSQL_FIELD& field) {
    Column c;
    c.info.name.assign(field.name, field.name_length);
    const bool isUnsigned = (field.flags & UNSIGNED_FLAG) != 0;
    const bool isBinary = field.charsetnr == kBinaryCharset;
    const int length = static_cast<int>(field.length);
    auto integer = [&](AdoType signedType, AdoType unsignedType, int digits, int unsignedDigits,
                       int bytes) {
        c.info.type = isUnsigned ? unsignedType : signedType;
        c.info.precision = isUnsigned ? unsignedDigits : digits;
        c.info.definedSize = bytes;
        c.conversion = isUnsigned ? Conversion::UInt : Conversion::Int;
    };
    switch (field.type) {
    case MYSQL_TYPE_TINY:
        integer(AdoType::TinyInt, AdoType::UnsignedTinyInt, 3, 3, 1);
        break;
    case MYSQL_TYPE_SHORT:
        integer(AdoType::SmallInt, AdoType::UnsignedSmallInt, 5, 5, 2);
        break;
    case MYSQL_TYPE_INT24:
        integer(AdoType::Integer, AdoType::UnsignedInt, 7, 8, 4);
        break;
    case MYSQL_TYPE_LONG:
        integer(AdoType::Integer, AdoType::UnsignedInt, 10, 10, 4);
        break;
    case MYSQL_TYPE_LONGLONG:
        integer(AdoType::BigInt, AdoType::UnsignedBigInt, 19, 20, 8);
        break;
    case MYSQL_TYPE_YEAR:
        c.info.type = AdoType::SmallInt;
        c.info.precision = 4;
        c.info.definedSize = 2;
        c.conversion = Conversion::Int;
        break;
    case MYSQL_TYPE_DECIMAL:
    case MYSQL_TYPE_NEWDECIMAL:
        // The display length counts a sign (unless unsigned) and a point (when there are
        // decimals); the digits are what remains, as the ODBC driver computes it.
        c.info.type = AdoType::Numeric;
        c.info.scale = static_cast<int>(field.decimals);
        c.info.precision = length - (isUnsigned ? 0 : 1) - (field.decimals > 0 ? 1 : 0);
        c.info.definedSize = length;
        c.conversion = Conversion::Decimal;
        break;
    case MYSQL_TYPE_FLOAT:
        c.info.type = AdoType::Single;
        c.info.precision = 7;
        c.info.definedSize = 4;
        c.conversion = Conversion::Single;
        break;
    case MYSQL_TYPE_DOUBLE:
        c.info.type = AdoType::Double;
        c.info.precision = 15;
        c.info.definedSize = 8;
        c.conversion = Conversion::Double;
        break;
    case MYSQL_TYPE_DATE:
    case MYSQL_TYPE_NEWDATE:
        c.info.type = AdoType::DBDate;
        c.info.precision = 10;
        c.info.definedSize = 6;
        c.conversion = Conversion::Date;
        break;
    case MYSQL_TYPE_TIME:
    case MYSQL_TYPE_TIME2:
        c.info.type = AdoType::DBTime;
        c.info.precision = length;
        c.info.scale = static_cast<int>(field.decimals);
        c.info.definedSize = 6;
        c.conversion = Conversion::Time;
        break;
    case MYSQL_TYPE_DATETIME:
    case MYSQL_TYPE_DATETIME2:
    case MYSQL_TYPE_TIMESTAMP:
    case MYSQL_TYPE_TIMESTAMP2:
        c.info.type = AdoType::DBTimeStamp;
        c.info.precision = length;
        c.info.scale = static_cast<int>(field.decimals);
        c.info.definedSize = 16;
        c.conversion = Conversion::DateTime;
        break;
    case MYSQL_TYPE_BIT:
        // BIT(1) is a flag. Wider BIT columns stay bytes (most significant first): every bit
        // survives and no width limit applies, where an integer would suggest arithmetic.
        if (field.length == 1) {
            c.info.type = AdoType::Boolean;
            c.info.precision = 1;
            c.info.definedSize = 1;
            c.conversion = Conversion::Boolean;
        } else {
            c.info.type = AdoType::VarBinary;
            c.info.definedSize = (static_cast<std::int64_t>(field.length) + 7) / 8;
            c.conversion = Conversion::Binary;
        }
        break;
    case MYSQL_TYPE_STRING:
    case MYSQL_TYPE_ENUM:
    case MYSQL_TYPE_SET:
        if (isBinary) {
            c.info.type = AdoType::Binary;
            c.info.definedSize = field.length;
            c.conversion = Conversion::Binary;
        } else {
            c.info.type = AdoType::Char;
            c.info.definedSize = CharacterCount(field);
            c.conversion = Conversion::Text;
        }
        break;
    case MYSQL_TYPE_VARCHAR:
    case MYSQL_TYPE_VAR_STRING:
        if (isBinary) {
            c.info.type = AdoType::VarBinary;
            c.info.definedSize = field.length;
            c.conversion = Conversion::Binary;
        } else {
            c.info.type = AdoType::VarChar;
            c.info.definedSize = CharacterCount(field);
            c.conversion = Conversion::Text;
        }
        break;
    case MYSQL_TYPE_TINY_BLOB:
    case MYSQL_TYPE_MEDIUM_BLOB:
    case MYSQL_TYPE_LONG_BLOB:
    case MYSQL_TYPE_BLOB:
    case MYSQL_TYPE_JSON:
        // TEXT and BLOB share these codes; only the binary character set tells them apart.
        // JSON (MariaDB sends it as a utf8mb4 LONGTEXT) is text.
        if (isBinary && field.type != MYSQL_TYPE_JSON) {
            c.info.type = AdoType::LongVarBinary;
            c.info.definedSize = field.length;
            c.conversion = Conversion::Binary;
        } else {
            c.info.type = AdoType::LongVarChar;
            c.info.definedSize = CharacterCount(field);
            c.conversion = Conversion::Text;
        }
        break;
    case MYSQL_TYPE_GEOMETRY:
        c.info.type = AdoType::LongVarBinary;
        c.info.definedSize = field.length;
        c.conversion = Conversion::Binary;
        break;
    case MYSQL_TYPE_NULL:
        c.info.type = AdoType::VarChar;
        c.conversion = Conversion::Null;
        break;
    default:
        c.info.type = isBinary ? AdoType::LongVarBinary : AdoType::LongVarChar;
        c.info.definedSize = field.length;
        c.conversion = isBinary ? Conversion::Binary : Conversion::Text;
        break;
    }
    return c;
}

// A cursor over text: each reader consumes what it matched and reports whether it did.
class TextReader {
public:
    explicit TextReader(std::string_view text)
        : p_(text.data())
        , end_(text.data() + text.size()) {}

    bool AtEnd() const { return p_ == end_; }
    bool Take(char c) {
        if (p_ != end_ && *p_ == c) {
            ++p_;
            return true;
        }
        return false;
    }
    template <typename T> bool Number(T& value, int minDigits, int maxDigits) {
        const char* start = p_;
        const char* stop = p_;
        while (stop != end_ && stop - start < maxDigits && *stop >= '0' && *stop <= '9') {
            ++stop;
        }
        if (stop - start < minDigits) {
            return false;
        }
        auto [next, ec] = std::from_chars(start, stop, value);
        p_ = next;
        return ec == std::errc() && next == stop;
    }
    bool Digits(std::string& out) {
        const char* start = p_;
        while (p_ != end_ && *p_ >= '0' && *p_ <= '9') {
            ++p_;
        }
        out.assign(start, p_);
        return p_ != start;
    }

private:
    const char* p_;
    const char* end_;
};

bool ReadDate(TextReader& r, DateValue& d) {
    return r.Number(d.year, 4, 4) && r.Take('-') && r.Number(d.month, 2, 2) && r.Take('-') &&
           r.Number(d.day, 2, 2);
}

// "HH:MM:SS" with an optional fraction; a TIME column allows a sign and up to 838 hours.
bool ReadTime(TextReader& r, TimeValue& t, bool allowInterval) {
    if (allowInterval) {
        t.negative = r.Take('-');
    }
    if (!(r.Number(t.hour, 2, allowInterval ? 3 : 2) && r.Take(':') && r.Number(t.minute, 2, 2) &&
          r.Take(':') && r.Number(t.second, 2, 2))) {
        return false;
    }
    if (r.Take('.')) {
        return r.Digits(t.fraction);
    }
    t.fraction.clear();
    return true;
}

[[noreturn]] void ThrowUnreadable(const Column& column, std::string_view text) {
    throw DatabaseError("The value '" + std::string(text.substr(0, 64)) + "' of column '" +
                        column.info.name + "' cannot be read as its type.");
}

template <typename T> T ParseNumber(const Column& column, std::string_view text) {
    T value{};
    auto [next, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || next != text.data() + text.size()) {
        ThrowUnreadable(column, text);
    }
    return value;
}

DbValue ConvertField(const Column& column, const char* data, unsigned long length) {
    if (data == nullptr) {
        return DbValue::Null();
    }
    const std::string_view text(data, length);
    switch (column.conversion) {
    case Conversion::Null:
        return DbValue::Null();
    case Conversion::Int:
        return DbValue::Int(ParseNumber<std::int64_t>(column, text));
    case Conversion::UInt:
        return DbValue::UInt(ParseNumber<std::uint64_t>(column, text));
    case Conversion::Decimal:
        return DbValue::Decimal(std::string(text));
    case Conversion::Single:
        return DbValue::Single(ParseNumber<float>(column, text));
    case Conversion::Double:
        return DbValue::Double(ParseNumber<double>(column, text));
    case Conversion::Date: {
        TextReader r(text);
        DateValue d;
        if (!ReadDate(r, d) || !r.AtEnd()) {
            ThrowUnreadable(column, text);
        }
        return DbValue::Date(d);
    }
    case Conversion::Time: {
        TextReader r(text);
        TimeValue t;
        if (!ReadTime(r, t, true) || !r.AtEnd()) {
            ThrowUnreadable(column, text);
        }
        return DbValue::Time(std::move(t));
    }
    case Conversion::DateTime: {
        TextReader r(text);
        DateTimeValue dt;
        if (!ReadDate(r, dt.date) || !r.Take(' ') || !ReadTime(r, dt.time, false) || !r.AtEnd()) {
            ThrowUnreadable(column, text);
        }
        return DbValue::DateTime(std::move(dt));
    }
    case Conversion::Boolean:
        return DbValue::Boolean(length > 0 && data[length - 1] != 0);
    case Conversion::Text:
        return DbValue::Text(std::string(text));
    case Conversion::Binary:
        return DbValue::Binary(std::string(text));
    }
    return DbValue::Null();
}

class MariaDbResultSet;

// The client handle, shared by the connection and its result sets so that a result set that
// outlives its connection finds the handle gone instead of dangling.
struct Session {
    MYSQL* mysql = nullptr;
    // The result being streamed (mysql_use_result); the session can run nothing else until it
    // has been read to its end or released.
    MariaDbResultSet* streaming = nullptr;

    // Reads and discards any further results of the last statement; their errors count.
    void DrainMoreResults(const std::string& statement) {
        while (mysql_more_results(mysql)) {
            const int status = mysql_next_result(mysql);
            if (status > 0) {
                throw ClientError(mysql, statement);
            }
            if (status < 0) {
                break;
            }
            if (MYSQL_RES* extra = mysql_use_result(mysql)) {
                mysql_free_result(extra);
            } else if (mysql_field_count(mysql) != 0) {
                throw ClientError(mysql, statement);
            }
        }
    }

    void FinishStreaming(bool keepRows);
};

class MariaDbResultSet final : public ResultSet {
public:
    MariaDbResultSet(std::shared_ptr<Session> session, MYSQL_RES* result, bool streaming,
                     std::string statement)
        : session_(std::move(session))
        , result_(result)
        , streaming_(streaming)
        , statement_(std::move(statement)) {
        const unsigned count = mysql_num_fields(result_);
        const MYSQL_FIELD* fields = mysql_fetch_fields(result_);
        columns_.reserve(count);
        for (unsigned i = 0; i < count; ++i) {
            columns_.push_back(DescribeColumn(fields[i]));
        }
        values_.resize(count);
        recordCount_ = streaming_ ? -1 : static_cast<std::int64_t>(mysql_num_rows(result_));
        if (streaming_) {
            session_->streaming = this;
        }
    }

    ~MariaDbResultSet() override {
        try {
            Release();
        } catch (...) {
            // Releasing is best effort when the result set is destroyed.
        }
    }

    // Positions on the first row; separate from the constructor so that a failure there is
    // cleaned up by the destructor.
    void Start() { Advance(); }

    int FieldCount() const override { return static_cast<int>(columns_.size()); }

    const FieldInfo& Field(int index) const override {
        CheckIndex(index);
        return columns_[static_cast<std::size_t>(index)].info;
    }

    const DbValue& Value(int index) const override {
        CheckIndex(index);
        if (closed_) {
            throw DatabaseError("Operation is not allowed when the object is closed.");
        }
        if (eof_) {
            throw DatabaseError("Either BOF or EOF is True, or the current record has been "
                                "deleted. Requested operation requires a current record.");
        }
        return values_[static_cast<std::size_t>(index)];
    }

    std::int64_t RecordCount() const override { return recordCount_; }
    bool IsEOF() const override { return eof_; }

    void MoveNext() override {
        if (closed_) {
            throw DatabaseError("Operation is not allowed when the object is closed.");
        }
        if (eof_) {
            throw DatabaseError("Either BOF or EOF is True, or the current record has been "
                                "deleted. Requested operation requires a current record.");
        }
        Advance();
    }

    void Close() override { Release(); }

    // Called by the session before it runs another statement (keepRows: the remaining rows
    // are read into memory so this result set stays usable) or when it closes (the rows are
    // discarded and this result set is closed).
    void Detach(bool keepRows) {
        if (!keepRows || !result_) {
            Release();
            return;
        }
        try {
            while (MYSQL_ROW row = mysql_fetch_row(result_)) {
                pending_.emplace_back(columns_.size());
                ConvertRow(row, mysql_fetch_lengths(result_), pending_.back());
            }
            if (mysql_errno(session_->mysql) != 0) {
                throw ClientError(session_->mysql, statement_);
            }
            FreeResult(true);
        } catch (...) {
            Release();
            throw;
        }
    }

private:
    void CheckIndex(int index) const {
        if (index < 0 || index >= FieldCount()) {
            throw DatabaseError("Item cannot be found in the collection corresponding to the "
                                "requested name or ordinal: " +
                                std::to_string(index));
        }
    }

    void ConvertRow(MYSQL_ROW row, const unsigned long* lengths, std::vector<DbValue>& out) const {
        for (std::size_t i = 0; i < columns_.size(); ++i) {
            out[i] = ConvertField(columns_[i], row[i], lengths[i]);
        }
    }

    void Advance() {
        if (!pending_.empty()) {
            values_.swap(pending_.front());
            pending_.pop_front();
            return;
        }
        if (!result_) {
            eof_ = true;
            return;
        }
        MYSQL_ROW row = mysql_fetch_row(result_);
        if (row) {
            ConvertRow(row, mysql_fetch_lengths(result_), values_);
            return;
        }
        eof_ = true;
        if (streaming_ && mysql_errno(session_->mysql) != 0) {
            DatabaseError error = ClientError(session_->mysql, statement_);
            FreeResult(false);
            throw error;
        }
        FreeResult(true);
    }

    // Frees the client result; for a streamed one also clears the session for the next
    // statement, reading any further results of the statement.
    void FreeResult(bool reportErrors) {
        if (!result_) {
            return;
        }
        mysql_free_result(result_);
        result_ = nullptr;
        if (streaming_ && session_->streaming == this) {
            session_->streaming = nullptr;
            if (session_->mysql) {
                if (reportErrors) {
                    session_->DrainMoreResults(statement_);
                } else {
                    try {
                        session_->DrainMoreResults(statement_);
                    } catch (const DatabaseError&) {
                        // The caller is discarding this statement's results.
                    }
                }
            }
        }
    }

    void Release() {
        closed_ = true;
        eof_ = true;
        pending_.clear();
        FreeResult(false);
    }

    std::shared_ptr<Session> session_;
    MYSQL_RES* result_;
    bool streaming_;
    std::string statement_;
    std::vector<Column> columns_;
    std::vector<DbValue> values_;
    std::deque<std::vector<DbValue>> pending_;
    std::int64_t recordCount_ = -1;
    bool eof_ = false;
    bool closed_ = false;
};

void Session::FinishStreaming(bool keepRows) {
    if (streaming) {
        streaming->Detach(keepRows);
    }
}

class MariaDbBackend final : public ConnectionBackend {
public:
    MariaDbBackend(std::shared_ptr<Session> session, const ConnectionOptions& options)
        : session_(std::move(session))
        , clientCursor_(options.cursorLocation == CursorLocation::Client) {}

    ~MariaDbBackend() override { Close(); }

    std::unique_ptr<ResultSet> Execute(const std::string& statement) override {
        return Run(statement, clientCursor_);
    }

    std::unique_ptr<ResultSet> OpenTablesSchema() override {
        // Shaped like the ADO tables rowset; the current database plays catalogue and schema.
        static const std::string kQuery =
            "SELECT TABLE_SCHEMA AS TABLE_CATALOG, TABLE_SCHEMA, TABLE_NAME, "
            "CASE TABLE_TYPE WHEN 'BASE TABLE' THEN 'TABLE' WHEN 'SYSTEM VERSIONED' THEN 'TABLE' "
            "WHEN 'VIEW' THEN 'VIEW' WHEN 'SYSTEM VIEW' THEN 'SYSTEM TABLE' "
            "ELSE TABLE_TYPE END AS TABLE_TYPE, TABLE_COMMENT AS DESCRIPTION "
            "FROM information_schema.TABLES WHERE TABLE_SCHEMA = DATABASE() "
            "ORDER BY TABLE_NAME";
        return Run(kQuery, true);
    }

    void Close() override {
        if (!session_ || !session_->mysql) {
            return;
        }
        session_->FinishStreaming(false);
        mysql_close(session_->mysql);
        session_->mysql = nullptr;
    }

private:
    MYSQL* Handle() const {
        if (!session_->mysql) {
            throw DatabaseError("Operation is not allowed when the object is closed.");
        }
        return session_->mysql;
    }

    std::unique_ptr<ResultSet> Run(const std::string& statement, bool buffered) {
        MYSQL* mysql = Handle();
        session_->FinishStreaming(true);
        if (mysql_real_query(mysql, statement.data(), statement.size()) != 0) {
            throw ClientError(mysql, statement);
        }
        // The first result with rows is returned; any other results (a procedure call) are
        // read and discarded so that the next statement finds the session free.
        std::unique_ptr<MariaDbResultSet> rows;
        for (;;) {
            if (mysql_field_count(mysql) > 0) {
                if (rows) {
                    if (MYSQL_RES* extra = mysql_use_result(mysql)) {
                        mysql_free_result(extra);
                    }
                } else if (buffered) {
                    MYSQL_RES* result = mysql_store_result(mysql);
                    if (!result) {
                        throw ClientError(mysql, statement);
                    }
                    rows = std::make_unique<MariaDbResultSet>(session_, result, false, statement);
                    rows->Start();
                } else {
                    MYSQL_RES* result = mysql_use_result(mysql);
                    if (!result) {
                        throw ClientError(mysql, statement);
                    }
                    rows = std::make_unique<MariaDbResultSet>(session_, result, true, statement);
                    rows->Start();
                    return rows;
                }
            }
            const int status = mysql_next_result(mysql);
            if (status > 0) {
                throw ClientError(mysql, statement);
            }
            if (status < 0) {
                break;
            }
        }
        return rows;
    }

    std::shared_ptr<Session> session_;
    bool clientCursor_;
};

const char* OptionalText(const std::string& text) {
    return text.empty() ? nullptr : text.c_str();
}

void RejectNul(const std::string& text, const char* what) {
    if (text.find('\0') != std::string::npos) {
        throw DatabaseError(std::string("The MySQL ") + what + " contains a NUL character.");
    }
}

void SetTimeout(MYSQL* mysql, mysql_option option, const std::optional<int>& seconds) {
    // ADO treats 0 as "no limit", which is also the client's default.
    if (seconds && *seconds > 0) {
        const unsigned int value = static_cast<unsigned int>(*seconds);
        mysql_optionsv(mysql, option, &value);
    }
}

} // namespace

std::unique_ptr<ConnectionBackend> OpenMariaDbBackend(const ConnectionTarget& target,
                                                      const ConnectionOptions& options) {
    RejectNul(target.host, "server name");
    RejectNul(target.user, "user name");
    RejectNul(target.password, "password");
    RejectNul(target.database, "database name");

    auto session = std::make_shared<Session>();
    session->mysql = mysql_init(nullptr);
    if (!session->mysql) {
        throw DatabaseError("The MySQL client could not allocate a connection.");
    }
    MYSQL* mysql = session->mysql;
    // Owns the handle until the backend takes over.
    auto backend = std::make_unique<MariaDbBackend>(session, options);

    // TCP even for "localhost", which the client would otherwise take as the local socket.
    const unsigned int protocol = MYSQL_PROTOCOL_TCP;
    mysql_optionsv(mysql, MYSQL_OPT_PROTOCOL, &protocol);
    mysql_optionsv(mysql, MYSQL_SET_CHARSET_NAME, "utf8mb4");
    mysql_optionsv(mysql, MYSQL_INIT_COMMAND,
                   "SET SESSION sql_mode = CONCAT_WS(',', NULLIF(@@sql_mode, ''), "
                   "'NO_BACKSLASH_ESCAPES')");
    SetTimeout(mysql, MYSQL_OPT_CONNECT_TIMEOUT, options.connectionTimeoutSeconds);
    SetTimeout(mysql, MYSQL_OPT_READ_TIMEOUT, options.commandTimeoutSeconds);
    SetTimeout(mysql, MYSQL_OPT_WRITE_TIMEOUT, options.commandTimeoutSeconds);

    if (!mysql_real_connect(mysql, target.host.c_str(), target.user.c_str(),
                            target.password.c_str(), OptionalText(target.database), target.port,
                            nullptr, CLIENT_MULTI_RESULTS)) {
        throw ClientError(mysql);
    }
    return backend;
}

} // namespace veltrane
