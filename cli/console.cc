#include "console.h"

namespace qorvex::cli {

void printTo(std::FILE* stream, std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);
}

}  // namespace qorvex::cli
