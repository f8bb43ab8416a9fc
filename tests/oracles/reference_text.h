#pragma once
// Straightforward implementations of the engine's text searches and of the
// Lua balance check, one byte or one token at a time. Too slow to ship; kept
// here so that tests and fuzz targets can compare the fast ones with them.

#include <optional>
#include <string>
#include <string_view>

#include "anchor_match.h"

namespace qorvex {

// Tries the anchor at every token start of the text.
AnchorSearch findAnchorReference(std::string_view text, std::string_view anchor, AnchorEnd at);

// Tries the needle at every offset, passing over CRs on both sides.
bool containsIgnoringCrReference(std::string_view text, std::string_view needle);

// Walks the text a byte at a time.
std::optional<std::string> checkLuaBalanceReference(std::string_view text);

}  // namespace qorvex
