#include "Storage.h"

#include <sqlite3.h>

namespace asetest {

namespace {

constexpr std::int64_t kTicksPerDay = 300LL * 86400;
constexpr std::int64_t kMicrosPerDay = 86400LL * 1000000;

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    std::int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) {
        --q;
    }
    return q;
}

std::int64_t UnitsPerDay(AseType t) {
    switch (t) {
    case AseType::DateTime:
        return kTicksPerDay;
    case AseType::SmallDateTime:
        return 1440;
    case AseType::BigDateTime:
        return kMicrosPerDay;
    default:
        return 0;
    }
}

} // namespace

SqliteDb::SqliteDb(const std::filesystem::path& file) {
    const int rc =
        sqlite3_open_v2(file.string().c_str(), &db_,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        std::string text = db_ ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close(db_);
        db_ = nullptr;
        throw EngineError(840, 17,
                          "Cannot open the database file '" + file.string() + "': " + text);
    }
    sqlite3_busy_timeout(db_, 10000);
    Exec("PRAGMA journal_mode=WAL");
    Exec("PRAGMA synchronous=OFF");
}

SqliteDb::~SqliteDb() {
    for (auto& [sql, stmt] : statements_) {
        sqlite3_finalize(stmt);
    }
    sqlite3_close(db_);
}

void SqliteDb::Fail(int rc) const {
    const std::string text = sqlite3_errmsg(db_);
    if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) {
        throw EngineError(1205, 13,
                          "Your server command encountered a deadlock situation: the database "
                          "stayed locked by another session (" +
                              text + ").");
    }
    throw EngineError(3621, 16, "Storage error: " + text);
}

void SqliteDb::Exec(const std::string& sql) {
    char* error = nullptr;
    const int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error);
    if (rc != SQLITE_OK) {
        sqlite3_free(error);
        Fail(rc);
    }
}

sqlite3_stmt* SqliteDb::Prepare(const std::string& sql) {
    auto it = statements_.find(sql);
    if (it != statements_.end()) {
        return it->second;
    }
    sqlite3_stmt* stmt = nullptr;
    const int rc = sqlite3_prepare_v3(db_, sql.c_str(), static_cast<int>(sql.size()),
                                      SQLITE_PREPARE_PERSISTENT, &stmt, nullptr);
    if (rc != SQLITE_OK) {
        Fail(rc);
    }
    statements_.emplace(sql, stmt);
    return stmt;
}

std::int64_t SqliteDb::Changes() const {
    return sqlite3_changes64(db_);
}

Query::Query(SqliteDb& db, const std::string& sql)
    : db_(db)
    , stmt_(db.Prepare(sql)) {}

Query::~Query() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
}

void Query::BindInt(int index, std::int64_t v) {
    sqlite3_bind_int64(stmt_, index, v);
}

void Query::BindText(int index, std::string_view v) {
    sqlite3_bind_text64(stmt_, index, v.data(), v.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
}

void Query::BindNull(int index) {
    sqlite3_bind_null(stmt_, index);
}

void Query::BindValue(int index, const Value& v, const ColumnType& type) {
    if (v.isNull) {
        // A text pointer without a value is kept as an integer: no text or image column
        // holds one otherwise.
        if (v.textPointer && IsLargeType(type.type)) {
            BindInt(index, 0);
        } else {
            BindNull(index);
        }
        return;
    }
    const AseType t = type.type;
    if (IsUnsignedType(t)) {
        BindInt(index, static_cast<std::int64_t>(v.unsignedInteger));
    } else if (IsIntegerType(t) || IsMoneyType(t)) {
        BindInt(index, v.integer);
    } else if (IsDecimalType(t)) {
        BindText(index, Int128ToString(v.unscaled));
    } else if (IsApproxType(t)) {
        sqlite3_bind_double(stmt_, index, v.real);
    } else if (IsDateType(t)) {
        const std::int64_t perDay = UnitsPerDay(t);
        BindInt(index,
                perDay ? v.days * perDay + v.fraction : (t == AseType::Date ? v.days : v.fraction));
    } else if (IsBinaryType(t)) {
        sqlite3_bind_blob64(stmt_, index, v.bytes.data(), v.bytes.size(), SQLITE_TRANSIENT);
    } else {
        BindText(index, v.bytes);
    }
}

bool Query::Step() {
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) {
        return true;
    }
    if (rc == SQLITE_DONE) {
        return false;
    }
    db_.Fail(rc);
}

bool Query::IsNull(int column) const {
    return sqlite3_column_type(stmt_, column) == SQLITE_NULL;
}

std::int64_t Query::Int(int column) const {
    return sqlite3_column_int64(stmt_, column);
}

std::string Query::Text(int column) const {
    const auto* p = static_cast<const char*>(sqlite3_column_blob(stmt_, column));
    const int n = sqlite3_column_bytes(stmt_, column);
    return p ? std::string(p, static_cast<std::size_t>(n)) : std::string();
}

Value Query::ReadValue(int column, const ColumnType& type) const {
    Value v;
    if (IsNull(column)) {
        return v;
    }
    const AseType t = type.type;
    if (IsLargeType(t) && sqlite3_column_type(stmt_, column) == SQLITE_INTEGER) {
        v.textPointer = true;
        return v;
    }
    v.isNull = false;
    if (IsUnsignedType(t)) {
        v.unsignedInteger = static_cast<std::uint64_t>(Int(column));
    } else if (IsIntegerType(t) || IsMoneyType(t)) {
        v.integer = Int(column);
    } else if (IsDecimalType(t)) {
        ParseInt128(Text(column), v.unscaled);
    } else if (IsApproxType(t)) {
        v.real = sqlite3_column_double(stmt_, column);
    } else if (IsDateType(t)) {
        const std::int64_t stored = Int(column);
        const std::int64_t perDay = UnitsPerDay(t);
        if (perDay) {
            v.days = FloorDiv(stored, perDay);
            v.fraction = stored - v.days * perDay;
        } else if (t == AseType::Date) {
            v.days = stored;
        } else {
            v.fraction = stored;
        }
    } else {
        v.bytes = Text(column);
    }
    return v;
}

} // namespace asetest
