#pragma once
// Paths relative to the install directory, as manifests spell them, and the
// names each platform can hold.

#include <string>
#include <string_view>

#include "error.h"

namespace qorvex {

// Maps a manifest-style relative path to the backend's separator ('\' and '/'
// separate; empty and "." components are dropped). BadPathName for an empty,
// absolute or escaping path, and for one that holds a NUL byte.
Result<std::string> toNativeRelativePath(std::string_view path, char separator);

// BadPathName for a path toNativeRelativePath() refuses and for one with a
// name this platform cannot hold; checked when a manifest is loaded, so that
// a bad manifest is refused before anything is written.
Result<void> checkManifestPath(std::string_view path);

// Defined by the backend: BadPathName when this platform cannot hold `name`
// as one component of a path.
Result<void> checkPlatformName(std::string_view name);

// True when the path is absolute: a leading '\' or '/', or a drive letter,
// ':' and then '\' or '/'.
bool isAbsolutePath(std::string_view path);

}  // namespace qorvex
