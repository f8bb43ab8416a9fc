#include "payload.h"

#include "compiled_manifest.h"

namespace qorvex {
namespace {

Result<std::string> embedded(std::string_view name) {
  const std::string_view* text = findEmbeddedText(name);
  if (text == nullptr) return fail(Error::EmbeddedResourceNotFound);
  return std::string(*text);
}

}  // namespace

Result<std::string> EmbeddedPayload::manifestText() const { return embedded(kManifestName); }

Result<std::string> EmbeddedPayload::moduleText() const { return embedded(kModuleName); }

const CompiledManifest* EmbeddedPayload::compiledManifest() const {
  return &compiledEmbeddedManifest();
}

Result<std::string> EmbeddedPayload::resource(std::string_view name) const {
  if (name != kPanelBlockName) return fail(Error::EmbeddedResourceNotFound);
  return embedded(name);
}

}  // namespace qorvex
