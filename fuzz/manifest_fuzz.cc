// The manifest reader on arbitrary bytes: it must return a value or an error
// name, never crash, and give the same answer twice. An accepted text must be
// an object and must convert into engine form.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz_input.h"
#include "manifest.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  auto parsed = qorvex::parseManifest(text);
  auto again = qorvex::parseManifest(text);
  QORVEX_FUZZ_CHECK(parsed.has_value() == again.has_value());
  if (!parsed) {
    QORVEX_FUZZ_CHECK(parsed.error() == again.error());
    return 0;
  }
  QORVEX_FUZZ_CHECK(text.find('{') != std::string_view::npos);
  QORVEX_FUZZ_CHECK(parsed->files.size() == again->files.size());
  QORVEX_FUZZ_CHECK(parsed->dlgFiles.size() == again->dlgFiles.size());
  std::size_t patches = 0;
  for (const auto& file : parsed->files) patches += file.patches.size();
  auto engine = qorvex::toEngineForm(std::move(*parsed), "module");
  QORVEX_FUZZ_CHECK(engine.has_value());
  QORVEX_FUZZ_CHECK(engine->files.size() == again->files.size());
  std::size_t enginePatches = 0;
  for (std::size_t i = 0; i < engine->files.size(); ++i) {
    const auto& file = engine->files[i];
    enginePatches += file.patches.size();
    QORVEX_FUZZ_CHECK(file.relativePath == again->files[i].relativePath);
    for (std::size_t j = 0; j < file.patches.size(); ++j) {
      const auto& json = again->files[i].patches[j];
      const auto& patch = file.patches[j];
      QORVEX_FUZZ_CHECK(patch.marker == json.marker && patch.anchor == json.anchorAfter);
      if (json.insertTextBefore && !json.insertTextBefore->empty()) {
        QORVEX_FUZZ_CHECK(patch.text == *json.insertTextBefore);
      } else if (json.insertText && !json.insertText->empty()) {
        QORVEX_FUZZ_CHECK(patch.text == *json.insertText);
      } else {
        QORVEX_FUZZ_CHECK(patch.text.empty());
      }
    }
  }
  QORVEX_FUZZ_CHECK(patches == enginePatches);
  return 0;
}
