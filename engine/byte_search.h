#pragma once

#include <cstddef>
#include <string_view>

namespace qorvex {

// Position of the first occurrence of needle at or after `from`, or npos.
// Linear in the haystack whatever the needle.
std::size_t findBytes(std::string_view haystack, std::string_view needle, std::size_t from = 0);

}  // namespace qorvex
