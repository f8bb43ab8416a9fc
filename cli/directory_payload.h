#pragma once

#include <memory>
#include <string>

#include "file_system.h"
#include "payload.h"

namespace qorvex {

// The embedded texts, each replaced by a regular file of exactly its name in
// an override folder when there is one. Only a name that is not there at all
// falls back to the carried text: a folder, link, FIFO or device of that name,
// or a file that cannot be read, is an error. Names with a path separator,
// ".", ".." and the empty name are never looked up in the folder.
class DirectoryPayload : public PayloadSource {
 public:
  explicit DirectoryPayload(std::unique_ptr<Directory> overrides)
      : overrides_(std::move(overrides)) {}

  Result<std::string> manifestText() const override;
  Result<std::string> moduleText() const override;
  Result<std::string> resource(std::string_view name) const override;
  // The carried manifest's, unless the folder has a manifest.json of its own.
  const CompiledManifest* compiledManifest() const override;

  // The folder's file of that name: FileNotFound when it has none.
  Result<std::string> overrideText(std::string_view name) const;
  // The folder's manifest.json without the UTF-8 byte order mark that
  // Notepad writes in front of it: FileNotFound when it has none.
  Result<std::string> manifestOverride() const;
  // The last override file that was there but could not be used (its name is
  // empty when there was none), and why.
  const std::string& failedName() const { return failedName_; }
  Error failedError() const { return failedError_; }

 private:
  std::unique_ptr<Directory> overrides_;
  EmbeddedPayload embedded_;
  mutable std::string failedName_;
  mutable Error failedError_ = Error::Unexpected;
};

}  // namespace qorvex
