#pragma once

#include <algorithm>
#include <cctype>
#include <string_view>

namespace veltrane {

// True when `a` and `b` differ at most in the case of ASCII letters; every other byte (UTF-8
// included) must match exactly. Keys, driver names, field names and SQL keywords compare so.
inline bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

} // namespace veltrane
