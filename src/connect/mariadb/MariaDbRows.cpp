#include "connect/mariadb/MariaDbRows.h"

#include "connect/mariadb/MariaDbErrors.h"
#include "connect/mariadb/MariaDbLink.h"

#include <algorithm>

namespace veltrane::mariadb {

TextRows::~TextRows() {
    // A streamed result reads what the server still sends of it.
    if (stored_) {
        mysql_free_result(result_);
    } else {
        FreeResult(result_);
    }
}

bool TextRows::Next(std::vector<DbValue>& out) {
    MYSQL_ROW row = nullptr;
    if (stored_) {
        row = mysql_fetch_row(result_);
    } else {
        Await(
            mysql_, [&] { return mysql_fetch_row_start(&row, result_); },
            [&](int ready) { return mysql_fetch_row_cont(&row, result_, ready); });
    }
    if (!row) {
        // Only a streamed result can fail here; a stored one has no connection to ask.
        if (!stored_ && mysql_errno(mysql_) != 0) {
            throw ClientError(mysql_, statement_);
        }
        return false;
    }
    const unsigned long* lengths = mysql_fetch_lengths(result_);
    for (std::size_t i = 0; i < columns_.size(); ++i) {
        out[i] = ConvertField(columns_[i], row[i], lengths[i]);
    }
    return true;
}

BinaryRows::BinaryRows(MYSQL_STMT* stmt, const MYSQL_FIELD* fields,
                       const std::vector<Column>& columns, std::string statement)
    : stmt_(stmt)
    , columns_(columns)
    , statement_(std::move(statement))
    , binds_(columns.size())
    , cells_(columns.size()) {
    for (std::size_t i = 0; i < columns.size(); ++i) {
        MYSQL_BIND& b = binds_[i];
        Cell& cell = cells_[i];
        b.is_null = &cell.isNull;
        b.length = &cell.length;
        b.error = &cell.error;
        switch (columns[i].conversion) {
        case Conversion::Null:
            b.buffer_type = MYSQL_TYPE_NULL;
            break;
        case Conversion::Int:
        case Conversion::UInt:
            b.buffer_type = MYSQL_TYPE_LONGLONG;
            b.buffer = &cell.integer;
            b.is_unsigned = columns[i].conversion == Conversion::UInt;
            break;
        case Conversion::Single:
            b.buffer_type = MYSQL_TYPE_FLOAT;
            b.buffer = &cell.single;
            break;
        case Conversion::Double:
            b.buffer_type = MYSQL_TYPE_DOUBLE;
            b.buffer = &cell.real;
            break;
        case Conversion::Date:
        case Conversion::Time:
        case Conversion::DateTime:
            b.buffer_type = fields[i].type;
            b.buffer = &cell.time;
            b.buffer_length = sizeof cell.time;
            break;
        case Conversion::Decimal:
        case Conversion::Boolean:
        case Conversion::Text:
        case Conversion::Binary:
            b.buffer_type = MYSQL_TYPE_BLOB;
            cell.bytes.resize(256);
            b.buffer = cell.bytes.data();
            b.buffer_length = static_cast<unsigned long>(cell.bytes.size());
            break;
        }
    }
    decimals_.reserve(columns.size());
    for (std::size_t i = 0; i < columns.size(); ++i) {
        decimals_.push_back(fields[i].decimals);
    }
    if (mysql_stmt_bind_result(stmt_, binds_.data())) {
        throw StatementError(stmt_, statement_);
    }
}

BinaryRows::~BinaryRows() {
    CloseStatement(stmt_);
}

bool BinaryRows::Next(std::vector<DbValue>& out) {
    int status = 0;
    if (stored_) {
        status = mysql_stmt_fetch(stmt_);
    } else {
        Await(
            stmt_->mysql, [&] { return mysql_stmt_fetch_start(&status, stmt_); },
            [&](int ready) { return mysql_stmt_fetch_cont(&status, stmt_, ready); });
    }
    if (status == MYSQL_NO_DATA) {
        return false;
    }
    if (status != 0 && status != MYSQL_DATA_TRUNCATED) {
        throw StatementError(stmt_, statement_);
    }
    bool rebound = false;
    for (std::size_t i = 0; i < columns_.size(); ++i) {
        Cell& cell = cells_[i];
        MYSQL_BIND& b = binds_[i];
        if (!cell.isNull && b.buffer_type == MYSQL_TYPE_BLOB && cell.length > b.buffer_length) {
            // Longer than any value so far: widen the buffer and read this one again.
            cell.bytes.resize(std::max<std::size_t>(cell.length, cell.bytes.size() * 2));
            b.buffer = cell.bytes.data();
            b.buffer_length = static_cast<unsigned long>(cell.bytes.size());
            if (mysql_stmt_fetch_column(stmt_, &b, static_cast<unsigned>(i), 0)) {
                throw StatementError(stmt_, statement_);
            }
            rebound = true;
        }
        out[i] = Decode(i);
    }
    if (rebound && mysql_stmt_bind_result(stmt_, binds_.data())) {
        throw StatementError(stmt_, statement_);
    }
    return true;
}

DbValue BinaryRows::Decode(std::size_t i) const {
    const Cell& cell = cells_[i];
    if (cell.isNull) {
        return DbValue::Null();
    }
    const MYSQL_TIME& t = cell.time;
    switch (columns_[i].conversion) {
    case Conversion::Null:
        return DbValue::Null();
    case Conversion::Int:
        return DbValue::Int(static_cast<std::int64_t>(cell.integer));
    case Conversion::UInt:
        return DbValue::UInt(cell.integer);
    case Conversion::Single:
        return DbValue::Single(cell.single);
    case Conversion::Double:
        return DbValue::Double(cell.real);
    case Conversion::Date:
        return DbValue::Date({static_cast<int>(t.year), t.month, t.day});
    case Conversion::Time:
        return DbValue::Time({t.neg != 0, t.hour + t.day * 24, t.minute, t.second,
                              FractionDigits(t.second_part, decimals_[i])});
    case Conversion::DateTime:
        return DbValue::DateTime(
            {{static_cast<int>(t.year), t.month, t.day},
             {false, t.hour, t.minute, t.second, FractionDigits(t.second_part, decimals_[i])}});
    case Conversion::Boolean:
        return DbValue::Boolean(cell.length > 0 && cell.bytes[cell.length - 1] != 0);
    case Conversion::Decimal:
        return DbValue::Decimal(cell.bytes.substr(0, cell.length));
    case Conversion::Text:
        return DbValue::Text(cell.bytes.substr(0, cell.length));
    case Conversion::Binary:
        return DbValue::Binary(cell.bytes.substr(0, cell.length));
    }
    return DbValue::Null();
}

} // namespace veltrane::mariadb
