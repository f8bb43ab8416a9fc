#include "install_dir.h"

#include <string>

namespace qorvex {

Result<std::string_view> normalizeInstallDir(std::string_view text) {
  const std::string_view kWhitespace = " \t\r\n";
  std::size_t first = text.find_first_not_of(kWhitespace);
  if (first == std::string_view::npos) return fail(Error::NoPathProvided);
  text = text.substr(first, text.find_last_not_of(kWhitespace) - first + 1);
  first = text.find_first_not_of('"');
  if (first == std::string_view::npos) return fail(Error::NoPathProvided);
  text = text.substr(first, text.find_last_not_of('"') - first + 1);
  std::size_t last = text.find_last_not_of("/\\");
  if (last == std::string_view::npos) return fail(Error::NoPathProvided);
  return text.substr(0, last + 1);
}

bool looksLikeGameInstall(FileSystem& fs, std::string_view dir, char separator) {
  std::string joined(dir);
  if (joined.empty() || (joined.back() != '\\' && joined.back() != '/')) joined.push_back(separator);
  joined.append("MissionEditor");
  if (!isAbsolutePath(joined)) return false;
  return fs.openDirectory(joined).has_value();
}

}  // namespace qorvex
