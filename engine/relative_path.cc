#include "file_system.h"

namespace qorvex {

bool isAbsolutePath(std::string_view path) {
  if (path.empty()) return false;
  if (path[0] == '\\' || path[0] == '/') return true;
  return path.size() >= 3 && path[1] == ':' && (path[2] == '\\' || path[2] == '/');
}

Result<std::string> toNativeRelativePath(std::string_view path, char separator) {
  // A drive-relative "C:foo" is as much outside the install as "C:\foo"; a NUL
  // would cut the name short at the system call.
  if (path.empty() || isAbsolutePath(path) || (path.size() >= 2 && path[1] == ':') ||
      path.find('\0') != std::string_view::npos) {
    return fail(Error::BadPathName);
  }
  std::string native;
  native.reserve(path.size());
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find_first_of("\\/", start);
    if (end == std::string_view::npos) end = path.size();
    std::string_view component = path.substr(start, end - start);
    if (component == "..") return fail(Error::BadPathName);
    if (!component.empty() && component != ".") {
      if (!native.empty()) native.push_back(separator);
      native.append(component);
    }
    start = end + 1;
  }
  if (native.empty()) return fail(Error::BadPathName);
  return native;
}

Result<void> checkManifestPath(std::string_view path) {
  auto native = toNativeRelativePath(path, '/');
  if (!native) return fail(native.error());
  std::string_view rest = *native;
  while (!rest.empty()) {
    const std::size_t slash = rest.find('/');
    if (auto name = checkPlatformName(rest.substr(0, slash)); !name) return name;
    rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
  }
  return {};
}

}  // namespace qorvex
