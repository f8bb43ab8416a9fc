#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qorvex {

// Counts (), {} and [] outside quoted strings, long strings and comments.
// Returns nothing when the text is balanced, or the message that names the
// first fault.
std::optional<std::string> checkLuaBalance(std::string_view text);

}  // namespace qorvex
