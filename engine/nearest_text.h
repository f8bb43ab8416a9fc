#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace qorvex {

// Where an anchor that is not found fits a file best.
struct NearestText {
  std::size_t line = 0;           // 1-based, where the place starts
  std::size_t matchedTokens = 0;  // anchor tokens found there as they are
  std::size_t anchorTokens = 0;
  // The anchor against the place, token by token: "[-x-]" for what the file
  // lacks, "{+y+}" for what it has instead or in addition, with blanks shown
  // as "·" (a space) and "\t", line ends as "\n", and unchanged stretches cut
  // to three tokens around each change ("…" where cut).
  std::string diff;
};

// The place in `text` with the fewest tokens to insert, delete or change for
// the whole anchor to match it (the first such place), as the anchor matcher
// tokenises both. Linear in the text for a given anchor. Nothing for an empty
// anchor or text.
std::optional<NearestText> findNearestText(std::string_view text, std::string_view anchor);

}  // namespace qorvex
