#pragma once

// The result set of the Sybase ASE backend.

#include "connect/access/DatabaseError.h"
#include "connect/access/ResultSet.h"
#include "connect/freetds/FreeTdsLink.h"
#include "connect/freetds/PackedRows.h"
#include "connect/freetds/TdsValues.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace veltrane::tds {

// A result set that holds all its rows (client cursor), packed as raw bytes and decoded a row
// at a time, or reads them from the server as the caller moves on (server cursor).
class FreeTdsResultSet final : public ResultSet {
public:
    FreeTdsResultSet(std::shared_ptr<FreeTdsLink> link, std::vector<FieldInfo> fields,
                     std::vector<ColumnType> types, bool buffered)
        : link_(std::move(link))
        , fields_(std::move(fields))
        , types_(std::move(types))
        , buffered_(buffered)
        , raw_(types_.size()) {}
    ~FreeTdsResultSet() override { Close(); }

    int FieldCount() const override { return static_cast<int>(fields_.size()); }
    const FieldInfo& Field(int index) const override {
        CheckIndex(index);
        return fields_[static_cast<std::size_t>(index)];
    }
    const DbValue& Value(int index) const override {
        CheckIndex(index);
        if (closed_)
            throw ObjectClosedError();
        if (IsEOF())
            throw NoCurrentRecordError();
        return current_[static_cast<std::size_t>(index)];
    }
    std::int64_t RecordCount() const override {
        return buffered_ ? static_cast<std::int64_t>(rows_.RowCount()) : -1;
    }
    bool IsEOF() const override { return !onRow_; }
    void MoveNext() override;
    void Close() override;

    // Reads all rows (client cursor) or the first one (server cursor) and the rest of the
    // batch as far as it has to; positions on the first row. `rowRead`, when set, is called
    // after each row a client cursor reads.
    void Start(const std::function<void()>& rowRead);
    void RenameField(int index, std::string name) {
        CheckIndex(index);
        fields_[static_cast<std::size_t>(index)].name = std::move(name);
    }
    // Reads the rest of a streaming result into memory, so that another statement can run.
    void Drain();

private:
    void CheckIndex(int index) const {
        if (index < 0 || index >= FieldCount())
            throw UnknownFieldError(std::to_string(index));
    }
    // Reads the next row from the server into `raw_`; false at the end of the rows.
    bool ReadRow();
    void Decode() {
        current_.resize(types_.size());
        for (std::size_t i = 0; i < types_.size(); ++i)
            current_[i] =
                DecodeValue(types_[i], raw_[i].data, static_cast<std::int64_t>(raw_[i].length));
    }
    void StopReading() {
        reading_ = false;
        if (link_->stream == this)
            link_->stream = nullptr;
    }

    std::shared_ptr<FreeTdsLink> link_;
    std::vector<FieldInfo> fields_;
    std::vector<ColumnType> types_;
    bool buffered_;
    bool reading_ = true;  // rows may still come from the server
    bool drained_ = false; // server cursor: the remaining rows were read into rows_
    bool closed_ = false;
    bool onRow_ = false;
    PackedRows rows_;          // client cursor: every row
    std::size_t position_ = 0; // client cursor: index of the current row
    std::vector<RawField> raw_;
    std::vector<DbValue> current_;
};

} // namespace veltrane::tds
