// findAnchor (both ends) and containsIgnoringCr against their straightforward
// references. Input: text 0xFF anchor.
#include <cstddef>
#include <cstdint>

#include "anchor_match.h"
#include "fuzz_input.h"
#include "reference_text.h"

namespace {

bool same(const qorvex::AnchorSearch& a, const qorvex::AnchorSearch& b) {
  if (a.kind != b.kind) return false;
  if (a.kind == qorvex::AnchorSearch::Unique) return a.offset == b.offset;
  if (a.kind == qorvex::AnchorSearch::Ambiguous) return a.count == b.count;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto parts = qorvex::fuzz::splitInput(data, size, 2);
  const std::string_view text = parts[0];
  const std::string_view anchor = parts[1];
  for (qorvex::AnchorEnd at : {qorvex::AnchorEnd::Start, qorvex::AnchorEnd::End}) {
    QORVEX_FUZZ_CHECK(
        same(qorvex::findAnchor(text, anchor, at), qorvex::findAnchorReference(text, anchor, at)));
  }
  QORVEX_FUZZ_CHECK(qorvex::containsIgnoringCr(text, anchor) ==
                    qorvex::containsIgnoringCrReference(text, anchor));
  // The anchor is also a needle that the text may hold whole.
  QORVEX_FUZZ_CHECK(qorvex::containsIgnoringCr(anchor, text) ==
                    qorvex::containsIgnoringCrReference(anchor, text));
  return 0;
}
