#pragma once

#include <memory>
#include <string>

#include "file_system.h"
#include "payload.h"

namespace qorvex {

// The embedded texts, each replaced by a regular file of exactly its name in
// an override folder when there is one. Names with a path separator, ".", ".."
// and the empty name are never looked up in the folder.
class DirectoryPayload : public PayloadSource {
 public:
  explicit DirectoryPayload(std::unique_ptr<Directory> overrides) : overrides_(std::move(overrides)) {}

  Result<std::string> manifestText() const override;
  Result<std::string> moduleText() const override;
  Result<std::string> resource(std::string_view name) const override;

 private:
  // The folder's file of that name, or FileNotFound when it has none.
  Result<std::string> overrideText(std::string_view name) const;

  std::unique_ptr<Directory> overrides_;
  EmbeddedPayload embedded_;
};

}  // namespace qorvex
