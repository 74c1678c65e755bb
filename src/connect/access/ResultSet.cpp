#include "connect/access/ResultSet.h"

#include "connect/access/CaseInsensitive.h"
#include "connect/access/DatabaseError.h"

namespace veltrane {

int ResultSet::FieldIndex(std::string_view name) const {
    for (int i = 0; i < FieldCount(); ++i) {
        if (EqualsIgnoringCase(Field(i).name, name)) {
            return i;
        }
    }
    throw UnknownFieldError(std::string(name));
}

} // namespace veltrane
