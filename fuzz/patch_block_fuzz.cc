// The block round trip: a block built by buildPatchBlock and inserted anywhere
// into a text without a BEGIN line of its marker is taken out again by
// removeFirstPatchBlock, leaving the text exactly as it was.
//
// Input: two bytes of insertion position, then marker 0xFF insertion 0xFF text.
// Markers hold no line end (a marker line is one line); a body that holds the
// END line of its own marker would end the block early and is left out of the
// round trip, but must still not break the removal.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_input.h"
#include "patch_block.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::size_t where = static_cast<std::size_t>(data[0]) << 8 | data[1];
  auto parts = qorvex::fuzz::splitInput(data + 2, size - 2, 3);
  const std::string_view marker = parts[0];
  const std::string_view insertion = parts[1];
  const std::string_view text = parts[2];
  const std::size_t p = text.empty() ? 0 : where % (text.size() + 1);

  const std::string block = qorvex::buildPatchBlock(marker, insertion);
  const std::string beginLine = qorvex::formatBeginLine(marker);
  const std::string endLine = qorvex::formatEndLine(marker);
  QORVEX_FUZZ_CHECK(block.starts_with("\r\n" + beginLine + "\r\n"));
  QORVEX_FUZZ_CHECK(block.ends_with(endLine + "\r\n"));

  std::string patched(text.substr(0, p));
  patched.append(block);
  patched.append(text.substr(p));
  QORVEX_FUZZ_CHECK(qorvex::findPatchBlock(patched, marker));

  std::uint32_t removed = 0;
  const std::string restored = qorvex::removeFirstPatchBlock(patched, marker, removed);
  QORVEX_FUZZ_CHECK(removed == 1);
  QORVEX_FUZZ_CHECK(restored.size() < patched.size());

  const bool lineFreeMarker = marker.find_first_of("\r\n") == std::string_view::npos;
  const bool textHasBegin = qorvex::findPatchBlock(text, marker);
  const std::string body = qorvex::normalizeBlockBody(insertion);
  const bool bodyHasEnd = qorvex::findBytes(body, endLine) != std::string::npos;
  if (lineFreeMarker && !textHasBegin && !bodyHasEnd) QORVEX_FUZZ_CHECK(restored == text);

  // The byte search under all of this, long needles included.
  QORVEX_FUZZ_CHECK(qorvex::findBytes(patched, insertion) ==
                    std::string_view(patched).find(insertion));
  QORVEX_FUZZ_CHECK(qorvex::findBytes(text, block) == std::string_view(text).find(block));

  // Removal from the untouched text: unchanged without a BEGIN line.
  std::uint32_t none = 0;
  const std::string same = qorvex::removeFirstPatchBlock(text, marker, none);
  if (!textHasBegin) QORVEX_FUZZ_CHECK(none == 0 && same == text);
  QORVEX_FUZZ_CHECK(none <= 1 && same.size() <= text.size());
  return 0;
}
