// SQLite access: one connection per session and database, cached prepared statements, and the
// lossless mapping of ASE values to SQLite storage classes.
#pragma once

#include "Types.h"

#include <filesystem>
#include <map>
#include <memory>
#include <string>

struct sqlite3;
struct sqlite3_stmt;

namespace asetest {

class SqliteDb {
public:
    // Opens (creating when missing) the file with WAL, synchronous=OFF and a 10 s busy
    // timeout. Throws EngineError when the file cannot be opened.
    explicit SqliteDb(const std::filesystem::path& file);
    ~SqliteDb();
    SqliteDb(const SqliteDb&) = delete;
    SqliteDb& operator=(const SqliteDb&) = delete;

    void Exec(const std::string& sql);
    sqlite3_stmt* Prepare(const std::string& sql); // cached for the connection's lifetime
    std::int64_t Changes() const;
    [[noreturn]] void Fail(int rc) const;

private:
    sqlite3* db_ = nullptr;
    std::map<std::string, sqlite3_stmt*> statements_;
};

// One use of a cached statement; resets it when done.
class Query {
public:
    Query(SqliteDb& db, const std::string& sql);
    ~Query();
    Query(const Query&) = delete;
    Query& operator=(const Query&) = delete;

    void BindInt(int index, std::int64_t v);
    void BindText(int index, std::string_view v);
    void BindNull(int index);
    // Binds a value in the storage form of its column type. A text, unitext or image NULL
    // with a text pointer is stored as the integer 0, a NULL without one as NULL.
    void BindValue(int index, const Value& v, const ColumnType& type);
    bool Step(); // true while there is a row

    bool IsNull(int column) const;
    std::int64_t Int(int column) const;
    std::string Text(int column) const;
    Value ReadValue(int column, const ColumnType& type) const;

private:
    SqliteDb& db_;
    sqlite3_stmt* stmt_;
};

} // namespace asetest
