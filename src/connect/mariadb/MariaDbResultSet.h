#pragma once

// The result set of the MySQL backend.

#include "connect/access/DatabaseError.h"
#include "connect/access/ResultSet.h"
#include "connect/mariadb/MariaDbLink.h"
#include "connect/mariadb/MariaDbRows.h"
#include "connect/mariadb/MariaDbValues.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mysql.h>
#include <string>
#include <vector>

namespace veltrane::mariadb {

// A result set whose rows the client holds (client cursor) or reads from the server as the
// caller moves on (server cursor). Rows drained from the server wait in memory.
class MariaDbResultSet final : public ResultSet {
public:
    // Takes over `stmt` (binary protocol) or `result` (text protocol); `stored` when the
    // client already holds every row.
    MariaDbResultSet(std::shared_ptr<MariaDbLink> link, MYSQL_STMT* stmt, MYSQL_RES* result,
                     bool stored, std::string statement);

    ~MariaDbResultSet() override;

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
            throw ObjectClosedError();
        }
        if (eof_) {
            throw NoCurrentRecordError();
        }
        return values_[static_cast<std::size_t>(index)];
    }

    std::int64_t RecordCount() const override { return recordCount_; }
    bool IsEOF() const override { return eof_; }

    void MoveNext() override {
        if (closed_) {
            throw ObjectClosedError();
        }
        if (eof_) {
            throw NoCurrentRecordError();
        }
        Advance();
    }

    void Close() override;

    // Reads the remaining rows into memory, so that the connection can run another statement
    // or close while this result set stays usable. One with no rows left in the client (read
    // to its end, or drained before) is closed instead.
    void Drain();

private:
    void Describe(const MYSQL_FIELD* fields, unsigned count);

    void CheckIndex(int index) const {
        if (index < 0 || index >= FieldCount()) {
            throw UnknownFieldError(std::to_string(index));
        }
    }

    void Advance();

    // Frees the client's rows; for a streamed result also frees the connection for the next
    // statement, reading any further results of the statement.
    void FreeRows(bool reportErrors);

    std::shared_ptr<MariaDbLink> link_;
    std::string statement_;
    std::vector<Column> columns_;
    std::unique_ptr<RowSource> rows_;
    bool prepared_ = false;
    std::vector<DbValue> values_;
    std::deque<std::vector<DbValue>> pending_;
    std::int64_t recordCount_ = -1;
    bool eof_ = false;
    bool closed_ = false;
};

} // namespace veltrane::mariadb
