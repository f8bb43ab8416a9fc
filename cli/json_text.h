#pragma once

#include <string>
#include <string_view>

namespace qorvex::cli {

// `text` as a JSON string, quotes included: '"' and '\' escaped, control
// characters as \n, \r, \t or \u00XX; other bytes (UTF-8) as they are.
std::string jsonString(std::string_view text);

}  // namespace qorvex::cli
