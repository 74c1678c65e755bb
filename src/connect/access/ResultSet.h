#pragma once

#include "connect/access/AdoType.h"
#include "connect/access/DbValue.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace veltrane {

// What a result set knows about one of its columns.
struct FieldInfo {
    std::string name;
    AdoType type = AdoType::Empty;
    int precision = 0;            // total digits of exact numbers; 0 when not applicable
    int scale = 0;                // digits after the point of exact numbers
    std::int64_t definedSize = 0; // declared size in bytes or characters; 0 when unknown
};

// The rows of one statement's result, read forward one row at a time.
// A result set is positioned on its first row when returned (or at the end when empty).
class ResultSet {
public:
    virtual ~ResultSet() = default;

    virtual int FieldCount() const = 0;
    virtual const FieldInfo& Field(int index) const = 0;
    // Position of the field with this name (letter case ignored); throws DatabaseError when
    // there is none.
    int FieldIndex(std::string_view name) const;

    // Value of a field of the current row. Throws DatabaseError at the end of the rows.
    virtual const DbValue& Value(int index) const = 0;
    const DbValue& Value(std::string_view name) const { return Value(FieldIndex(name)); }

    // The exact number of rows with a client-side cursor; -1 when the cursor cannot know it.
    virtual std::int64_t RecordCount() const = 0;
    // True after the last row ("EOF" in ADO terms; the name EOF is taken by <cstdio>).
    virtual bool IsEOF() const = 0;
    virtual void MoveNext() = 0;
    virtual void Close() = 0;
};

} // namespace veltrane
