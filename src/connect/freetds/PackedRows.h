#pragma once

// The rows of a client-side result kept as the raw bytes the client library handed out, packed
// one after another in large blocks: a value costs its bytes plus a length of one to five bytes,
// so a whole table fits in little more memory than its data. The caller decodes one row at a
// time when it becomes current.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <span>
#include <vector>

namespace veltrane::tds {

// One field's raw value; `data == nullptr` is NULL.
struct RawField {
    const unsigned char* data = nullptr;
    std::size_t length = 0;
};

class PackedRows {
public:
    void Append(std::span<const RawField> fields);

    std::size_t RowCount() const { return rows_.size(); }
    // The fields of row `row` (fewer than RowCount()), in the order they were appended.
    void Read(std::size_t row, std::vector<RawField>& fields) const;
    // Bytes allocated for the rows, blocks and row index together.
    std::size_t AllocatedBytes() const;
    void Clear();

private:
    unsigned char* Reserve(std::size_t bytes);

    struct Block {
        std::unique_ptr<unsigned char[]> data;
        std::size_t size = 0;
        std::size_t used = 0;
    };
    std::vector<Block> blocks_;
    std::size_t openBlock_ = 0; // the block small rows are appended to, when there is one
    std::deque<const unsigned char*> rows_; // start of each row; grows without moving
    std::size_t fieldsPerRow_ = 0;
};

} // namespace veltrane::tds
