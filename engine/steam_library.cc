#include "steam_library.h"

#include <algorithm>
#include <optional>

namespace qorvex {
namespace {

// One token of the KeyValues text Steam writes: a string (quoted or bare), an
// opening or a closing brace.
struct Token {
  enum Kind { String, Open, Close } kind;
  std::string text;
};

class Tokenizer {
 public:
  explicit Tokenizer(std::string_view text) : text_(text) {}

  // The next token, or nothing at the end of the text or of what can be read.
  std::optional<Token> next() {
    skipBlanksAndComments();
    if (at_ >= text_.size()) return std::nullopt;
    const char c = text_[at_];
    if (c == '{') {
      ++at_;
      return Token{Token::Open, {}};
    }
    if (c == '}') {
      ++at_;
      return Token{Token::Close, {}};
    }
    if (c == '"') return quoted();
    return bare();
  }

 private:
  void skipBlanksAndComments() {
    while (at_ < text_.size()) {
      const char c = text_[at_];
      if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
        ++at_;
      } else if (text_.substr(at_, 2) == "//") {
        const std::size_t end = text_.find('\n', at_);
        at_ = end == std::string_view::npos ? text_.size() : end + 1;
      } else {
        break;
      }
    }
  }

  std::optional<Token> quoted() {
    std::string value;
    for (std::size_t i = at_ + 1; i < text_.size(); ++i) {
      const char c = text_[i];
      if (c == '"') {
        at_ = i + 1;
        return Token{Token::String, std::move(value)};
      }
      // Steam escapes the backslash and the quote; any other backslash is
      // taken as it stands, which keeps a hand-edited single '\' path whole.
      if (c == '\\' && i + 1 < text_.size() && (text_[i + 1] == '\\' || text_[i + 1] == '"')) {
        value.push_back(text_[++i]);
      } else {
        value.push_back(c);
      }
    }
    // A string cut off by the end of the file is not a value.
    at_ = text_.size();
    return std::nullopt;
  }

  Token bare() {
    const std::size_t start = at_;
    while (at_ < text_.size()) {
      const char c = text_[at_];
      if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '{' || c == '}' || c == '"')
        break;
      ++at_;
    }
    return Token{Token::String, std::string(text_.substr(start, at_ - start))};
  }

  std::string_view text_;
  std::size_t at_ = 0;
};

bool isNumber(std::string_view text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return (x >= 'A' && x <= 'Z' ? x + 32 : x) == (y >= 'A' && y <= 'Z' ? y + 32 : y);
         });
}

// A library path as compared for sameness: separators alike, none at the end
// (a drive root keeps its own), and on Windows without regard to ASCII case.
std::string comparable(std::string_view path, char separator) {
  std::string out(path);
  for (char& c : out) {
    if (c == '/' || c == '\\') c = separator;
    if (separator == '\\' && c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  while (out.size() > 1 && out.back() == separator && !(out.size() == 3 && out[1] == ':')) {
    out.pop_back();
  }
  return out;
}

}  // namespace

std::vector<std::string> parseLibraryFolders(std::string_view vdf) {
  std::vector<std::string> paths;
  Tokenizer tokens(vdf);
  // The keys of the blocks that enclose the current place; the outermost one
  // is the file's own ("libraryfolders").
  std::vector<std::string> blocks;
  std::optional<std::string> key;
  while (std::optional<Token> token = tokens.next()) {
    switch (token->kind) {
      case Token::Open:
        blocks.push_back(key.value_or(std::string()));
        key.reset();
        break;
      case Token::Close:
        if (blocks.empty()) return paths;  // more closed than opened: the rest is noise
        blocks.pop_back();
        key.reset();
        break;
      case Token::String:
        if (!key) {
          key = std::move(token->text);
          break;
        }
        // A key and its value. Old shape: "1" "D:\\Lib" in the file's block;
        // current shape: "path" "D:\\Lib" in a numbered block inside it.
        if ((blocks.size() == 1 && isNumber(*key)) ||
            (blocks.size() == 2 && isNumber(blocks[1]) && equalsIgnoringAsciiCase(*key, "path"))) {
          if (!token->text.empty()) paths.push_back(std::move(token->text));
        }
        key.reset();
        break;
    }
  }
  return paths;
}

std::string steamGameFolder(std::string_view library, char separator) {
  std::string path(library);
  if (path.empty() || (path.back() != '\\' && path.back() != '/')) path.push_back(separator);
  path.append("steamapps").push_back(separator);
  path.append("common").push_back(separator);
  path.append("DCSWorld");
  return path;
}

std::vector<std::string> steamLibraries(FileSystem& fs, std::string_view steamRoot,
                                        char separator) {
  std::vector<std::string> libraries{std::string(steamRoot)};
  std::vector<std::string> seen{comparable(steamRoot, separator)};
  auto root = fs.openDirectory(steamRoot);
  if (!root) return libraries;
  auto text = (*root)->readFile(kLibraryFoldersFile, kMaxLibraryFoldersBytes);
  if (!text) return libraries;
  for (std::string& path : parseLibraryFolders(*text)) {
    if (!isAbsolutePath(path)) continue;
    std::string key = comparable(path, separator);
    if (std::find(seen.begin(), seen.end(), key) != seen.end()) continue;
    seen.push_back(std::move(key));
    libraries.push_back(std::move(path));
  }
  return libraries;
}

}  // namespace qorvex
