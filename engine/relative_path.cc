#include "file_system.h"

namespace qorvex {

bool isAbsolutePath(std::string_view path) {
  if (path.empty()) return false;
  if (path[0] == '\\' || path[0] == '/') return true;
  return path.size() >= 3 && path[1] == ':' && (path[2] == '\\' || path[2] == '/');
}

Result<std::string> toNativeRelativePath(std::string_view path, char separator) {
  // A drive-relative "C:foo" is as much outside the install as "C:\foo".
  if (path.empty() || isAbsolutePath(path) || (path.size() >= 2 && path[1] == ':')) {
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

}  // namespace qorvex
