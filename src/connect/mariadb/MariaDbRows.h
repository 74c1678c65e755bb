#pragma once

// The rows of a MySQL result as the client library hands them out, through the text protocol
// or a prepared statement's binary one.

#include "connect/access/DbValue.h"
#include "connect/mariadb/MariaDbValues.h"

#include <cstddef>
#include <cstdint>
#include <mysql.h>
#include <string>
#include <utility>
#include <vector>

namespace veltrane::mariadb {

// The rows of one result as the client library holds them: read one at a time, each decoded
// into DbValues only when it becomes the current row.
class RowSource {
public:
    virtual ~RowSource() = default;
    // Decodes the next row into `out`; false after the last row. Throws DatabaseError.
    virtual bool Next(std::vector<DbValue>& out) = 0;
    // The exact row count of a stored result; -1 while rows still arrive from the server.
    virtual std::int64_t Count() const = 0;
};

// A result of the text protocol (statements that cannot be prepared, SHOW and the like).
class TextRows final : public RowSource {
public:
    TextRows(MYSQL* mysql, MYSQL_RES* result, bool stored, const std::vector<Column>& columns,
             std::string statement)
        : mysql_(mysql)
        , result_(result)
        , stored_(stored)
        , columns_(columns)
        , statement_(std::move(statement)) {}
    ~TextRows() override;
    TextRows(const TextRows&) = delete;
    TextRows& operator=(const TextRows&) = delete;

    bool Next(std::vector<DbValue>& out) override;

    std::int64_t Count() const override {
        return stored_ ? static_cast<std::int64_t>(mysql_num_rows(result_)) : -1;
    }

private:
    MYSQL* mysql_;
    MYSQL_RES* result_;
    bool stored_;
    const std::vector<Column>& columns_;
    std::string statement_;
};

// A result of the binary protocol of a prepared statement: numbers arrive in their binary
// form, so a FLOAT is the float the server stores rather than its six-digit text.
class BinaryRows final : public RowSource {
public:
    BinaryRows(MYSQL_STMT* stmt, const MYSQL_FIELD* fields, const std::vector<Column>& columns,
               std::string statement);

    ~BinaryRows() override;
    BinaryRows(const BinaryRows&) = delete;
    BinaryRows& operator=(const BinaryRows&) = delete;

    bool Next(std::vector<DbValue>& out) override;

    std::int64_t Count() const override {
        return stored_ ? static_cast<std::int64_t>(mysql_stmt_num_rows(stmt_)) : -1;
    }

    void MarkStored() { stored_ = true; }

private:
    struct Cell {
        my_bool isNull = 0;
        my_bool error = 0;
        unsigned long length = 0;
        std::uint64_t integer = 0;
        float single = 0;
        double real = 0;
        MYSQL_TIME time{};
        std::string bytes;
    };

    DbValue Decode(std::size_t i) const;

    MYSQL_STMT* stmt_;
    const std::vector<Column>& columns_;
    std::string statement_;
    std::vector<MYSQL_BIND> binds_;
    std::vector<Cell> cells_;
    std::vector<unsigned> decimals_;
    bool stored_ = false;
};

} // namespace veltrane::mariadb
