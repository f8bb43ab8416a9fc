#pragma once

#include <string>
#include <string_view>

#include "error.h"

namespace qorvex {

struct CompiledManifest;

inline constexpr std::string_view kManifestName = "manifest.json";
inline constexpr std::string_view kModuleName = "me_qorvex_undo.lua";
inline constexpr std::string_view kPanelBlockName = "pQORVEX_block.txt";

// Where a run gets the texts it carries: the manifest, the undo module and the
// blocks that dialog entries name by insertBlockResource.
class PayloadSource {
 public:
  virtual ~PayloadSource() = default;
  virtual Result<std::string> manifestText() const = 0;
  virtual Result<std::string> moduleText() const = 0;
  // EmbeddedResourceNotFound for a name it does not carry.
  virtual Result<std::string> resource(std::string_view name) const = 0;
  // The manifest already in the engine's form, when manifestText() is the
  // carried one; null when it has to be parsed.
  virtual const CompiledManifest* compiledManifest() const { return nullptr; }
};

// Every text built into the program at build time (payload/ and the wizard's
// agreement text), by file name; null for a name that is not carried.
const std::string_view* findEmbeddedText(std::string_view name);

class EmbeddedPayload : public PayloadSource {
 public:
  Result<std::string> manifestText() const override;
  Result<std::string> moduleText() const override;
  // Only the panel block is a resource.
  Result<std::string> resource(std::string_view name) const override;
  const CompiledManifest* compiledManifest() const override;
};

}  // namespace qorvex
