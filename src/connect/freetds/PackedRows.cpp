#include "connect/freetds/PackedRows.h"

#include <cstring>

namespace veltrane::tds {

namespace {

// Rows share blocks of this size; a larger row gets a block of its own, so no block wastes
// more than a small share of itself at its end.
constexpr std::size_t kBlockBytes = 4u << 20;
constexpr std::size_t kOwnBlockFrom = kBlockBytes / 16;

// A field's length as a base-128 number of length + 1, low group first; 0 stands for NULL.
std::size_t HeaderBytes(std::uint64_t value) {
    std::size_t n = 1;
    while (value >= 0x80) {
        value >>= 7;
        ++n;
    }
    return n;
}

unsigned char* PutHeader(unsigned char* out, std::uint64_t value) {
    while (value >= 0x80) {
        *out++ = static_cast<unsigned char>(value | 0x80);
        value >>= 7;
    }
    *out++ = static_cast<unsigned char>(value);
    return out;
}

const unsigned char* GetHeader(const unsigned char* in, std::uint64_t& value) {
    value = 0;
    for (int shift = 0;; shift += 7) {
        const unsigned char byte = *in++;
        value |= static_cast<std::uint64_t>(byte & 0x7f) << shift;
        if ((byte & 0x80) == 0)
            return in;
    }
}

std::uint64_t HeaderValue(const RawField& field) {
    return field.data == nullptr ? 0 : static_cast<std::uint64_t>(field.length) + 1;
}

} // namespace

unsigned char* PackedRows::Reserve(std::size_t bytes) {
    // Not value-initialised: pages are only touched as rows are written into them.
    const auto allocate = [](std::size_t size) {
        return Block{std::unique_ptr<unsigned char[]>(new unsigned char[size]), size, 0};
    };
    if (bytes >= kOwnBlockFrom) {
        blocks_.push_back(allocate(bytes));
        blocks_.back().used = bytes;
        return blocks_.back().data.get();
    }
    if (openBlock_ >= blocks_.size() ||
        blocks_[openBlock_].size - blocks_[openBlock_].used < bytes) {
        blocks_.push_back(allocate(kBlockBytes));
        openBlock_ = blocks_.size() - 1;
    }
    Block& block = blocks_[openBlock_];
    unsigned char* at = block.data.get() + block.used;
    block.used += bytes;
    return at;
}

void PackedRows::Append(std::span<const RawField> fields) {
    if (rows_.empty())
        fieldsPerRow_ = fields.size();
    std::size_t bytes = 0;
    for (const RawField& field : fields)
        bytes += HeaderBytes(HeaderValue(field)) + (field.data ? field.length : 0);
    unsigned char* out = Reserve(bytes == 0 ? 1 : bytes);
    rows_.push_back(out);
    for (const RawField& field : fields) {
        out = PutHeader(out, HeaderValue(field));
        if (field.data != nullptr && field.length > 0) {
            std::memcpy(out, field.data, field.length);
            out += field.length;
        }
    }
}

void PackedRows::Read(std::size_t row, std::vector<RawField>& fields) const {
    fields.resize(fieldsPerRow_);
    const unsigned char* in = rows_[row];
    for (RawField& field : fields) {
        std::uint64_t header = 0;
        in = GetHeader(in, header);
        if (header == 0) {
            field = {};
            continue;
        }
        field.data = in;
        field.length = static_cast<std::size_t>(header - 1);
        in += field.length;
    }
}

std::size_t PackedRows::AllocatedBytes() const {
    std::size_t bytes = rows_.size() * sizeof(const unsigned char*);
    for (const Block& block : blocks_)
        bytes += block.size;
    return bytes;
}

void PackedRows::Clear() {
    blocks_.clear();
    blocks_.shrink_to_fit();
    rows_.clear();
    rows_.shrink_to_fit();
    openBlock_ = 0;
}

} // namespace veltrane::tds
