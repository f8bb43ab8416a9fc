#include "directory_payload.h"

#include "file_ops.h"

namespace qorvex {

Result<std::string> DirectoryPayload::overrideText(std::string_view name) const {
  if (!overrides_ || name.empty() || name == "." || name == ".." ||
      name.find_first_of("/\\") != std::string_view::npos) {
    return fail(Error::FileNotFound);
  }
  auto text = overrides_->readFile(name, kMaxFileSize);
  if (!text && text.error() != Error::FileNotFound) {
    failedName_ = name;
    failedError_ = text.error();
  }
  return text;
}

Result<std::string> DirectoryPayload::manifestOverride() const {
  auto text = overrideText(kManifestName);
  constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
  if (text && text->starts_with(kByteOrderMark)) text->erase(0, kByteOrderMark.size());
  return text;
}

Result<std::string> DirectoryPayload::manifestText() const {
  auto text = manifestOverride();
  if (text || text.error() != Error::FileNotFound) return text;
  return embedded_.manifestText();
}

const CompiledManifest* DirectoryPayload::compiledManifest() const {
  if (overrides_) {
    auto kind = overrides_->kindOf(kManifestName);
    if (kind || kind.error() != Error::FileNotFound) return nullptr;
  }
  return embedded_.compiledManifest();
}

Result<std::string> DirectoryPayload::moduleText() const {
  auto text = overrideText(kModuleName);
  if (text || text.error() != Error::FileNotFound) return text;
  return embedded_.moduleText();
}

Result<std::string> DirectoryPayload::resource(std::string_view name) const {
  auto text = overrideText(name);
  if (text || text.error() != Error::FileNotFound) return text;
  return embedded_.resource(name);
}

}  // namespace qorvex
