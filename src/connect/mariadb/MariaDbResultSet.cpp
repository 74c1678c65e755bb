#include "connect/mariadb/MariaDbResultSet.h"

#include "connect/access/DatabaseError.h"
#include "connect/mariadb/MariaDbErrors.h"

#include <utility>

namespace veltrane::mariadb {

MariaDbResultSet::MariaDbResultSet(std::shared_ptr<MariaDbLink> link, MYSQL_STMT* stmt,
                                   MYSQL_RES* result, bool stored, std::string statement)
    : link_(std::move(link))
    , statement_(std::move(statement)) {
    const MYSQL_FIELD* fields = nullptr;
    unsigned count = 0;
    if (stmt) {
        MYSQL_RES* metadata = mysql_stmt_result_metadata(stmt);
        if (!metadata) {
            DatabaseError error = StatementError(stmt, statement_);
            CloseStatement(stmt);
            throw link_->Note(error);
        }
        count = mysql_num_fields(metadata);
        fields = mysql_fetch_fields(metadata);
        Describe(fields, count);
        try {
            auto rows = std::make_unique<BinaryRows>(stmt, fields, columns_, statement_);
            mysql_free_result(metadata);
            if (stored) {
                rows->MarkStored();
            }
            rows_ = std::move(rows);
        } catch (...) {
            mysql_free_result(metadata);
            CloseStatement(stmt);
            throw;
        }
    } else {
        Describe(mysql_fetch_fields(result), mysql_num_fields(result));
        rows_ = std::make_unique<TextRows>(link_->mysql, result, stored, columns_, statement_);
    }
    values_.resize(columns_.size());
    recordCount_ = rows_->Count();
    if (!stored) {
        link_->stream = this;
    }
    if (stmt) {
        prepared_ = true;
        link_->prepared.push_back(this);
    }
}

MariaDbResultSet::~MariaDbResultSet() {
    try {
        Close();
    } catch (...) {
        // Closing is best effort when the result set is destroyed.
    }
    if (prepared_) {
        std::erase(link_->prepared, this);
    }
}

void MariaDbResultSet::Close() {
    closed_ = true;
    eof_ = true;
    pending_.clear();
    FreeRows(false);
}

void MariaDbResultSet::Drain() {
    if (!rows_) {
        Close();
        return;
    }
    try {
        std::vector<DbValue> row(columns_.size());
        while (rows_->Next(row)) {
            pending_.push_back(row);
        }
        FreeRows(true);
    } catch (const DatabaseError& e) {
        Close();
        throw link_->Note(e);
    } catch (...) {
        Close();
        throw;
    }
}

void MariaDbResultSet::Describe(const MYSQL_FIELD* fields, unsigned count) {
    columns_.reserve(count);
    for (unsigned i = 0; i < count; ++i) {
        columns_.push_back(DescribeColumn(fields[i]));
    }
}

void MariaDbResultSet::Advance() {
    if (!pending_.empty()) {
        values_.swap(pending_.front());
        pending_.pop_front();
        return;
    }
    if (!rows_) {
        eof_ = true;
        return;
    }
    try {
        if (rows_->Next(values_)) {
            return;
        }
    } catch (const DatabaseError& e) {
        eof_ = true;
        FreeRows(false);
        throw link_->Note(e);
    }
    eof_ = true;
    FreeRows(true);
}

void MariaDbResultSet::FreeRows(bool reportErrors) {
    if (!rows_) {
        return;
    }
    rows_.reset();
    if (link_->stream == this) {
        link_->stream = nullptr;
        if (link_->mysql && !link_->lost) {
            if (reportErrors) {
                link_->FinishBatch(statement_);
            } else {
                try {
                    link_->FinishBatch(statement_);
                } catch (const DatabaseError&) {
                    // The caller is discarding this statement's results.
                }
            }
        }
    }
}

} // namespace veltrane::mariadb
