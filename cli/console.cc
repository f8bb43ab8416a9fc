#include "console.h"

namespace qorvex::cli {

std::string withPlatformLineEnds(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 32);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      out += kNewline;
      ++i;
    } else if (text[i] == '\n') {
      out += kNewline;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

void printText(std::FILE* stream, std::string_view text) {
  const std::string bytes = withPlatformLineEnds(text);
  std::fwrite(bytes.data(), 1, bytes.size(), stream);
  std::fflush(stream);
}

}  // namespace qorvex::cli
