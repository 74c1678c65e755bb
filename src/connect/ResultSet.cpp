#include "connect/ResultSet.h"

#include "connect/DatabaseError.h"

#include <algorithm>
#include <cctype>

namespace veltrane {

int ResultSet::FieldIndex(std::string_view name) const {
    auto sameIgnoringCase = [](std::string_view a, std::string_view b) {
        return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
            return std::tolower(static_cast<unsigned char>(x)) ==
                   std::tolower(static_cast<unsigned char>(y));
        });
    };
    for (int i = 0; i < FieldCount(); ++i) {
        if (sameIgnoringCase(Field(i).name, name)) {
            return i;
        }
    }
    throw DatabaseError("Item cannot be found in the collection corresponding to the requested "
                        "name or ordinal: " +
                        std::string(name));
}

} // namespace veltrane
