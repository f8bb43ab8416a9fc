#include "patch_block.h"

#include <algorithm>
#include <cstring>
#include <functional>

#if defined(__GLIBC__)
#include <string.h>
#endif

namespace qorvex {

namespace {

// The platform's search: linear in the worst case.
std::size_t searchBytes(std::string_view haystack, std::string_view needle, std::size_t from) {
  if (from > haystack.size()) return std::string_view::npos;
  if (needle.empty()) return from;
  const char* base = haystack.data() + from;
  std::size_t length = haystack.size() - from;
  if (needle.size() > length) return std::string_view::npos;
#if defined(__GLIBC__)
  // glibc's memmem is linear in the worst case (two-way) and vectorised.
  const void* hit = memmem(base, length, needle.data(), needle.size());
  if (hit == nullptr) return std::string_view::npos;
  return static_cast<std::size_t>(static_cast<const char*>(hit) - haystack.data());
#else
  const char* end = base + length;
  const char* hit =
      std::search(base, end, std::boyer_moore_searcher(needle.begin(), needle.end()));
  if (hit == end) return std::string_view::npos;
  return static_cast<std::size_t>(hit - haystack.data());
#endif
}

// Needles longer than this (the panel block is 11 KB) are found by their last
// kProbeLength bytes first.
constexpr std::size_t kLongNeedle = 256;
constexpr std::size_t kProbeLength = 64;

}  // namespace

std::size_t findBytes(std::string_view haystack, std::string_view needle, std::size_t from) {
  if (needle.size() <= kLongNeedle) return searchBytes(haystack, needle, from);
  if (from > haystack.size()) return std::string_view::npos;
  // glibc's linear search for a long needle (two-way) costs several times as
  // much per byte as its search for a short one, which skips ahead by up to
  // the needle's length. So: find the needle's last bytes, compare the rest
  // where they occur. Where that meets more near misses than the text is
  // long, the linear search takes over from the first start not yet ruled out.
  const std::size_t head = needle.size() - kProbeLength;
  const std::string_view probe = needle.substr(head);
  const std::size_t budget = haystack.size() - from + 4096;
  std::size_t work = 0;
  std::size_t start = from;  // every start before this one is ruled out
  while (haystack.size() - start >= needle.size()) {
    const std::size_t hit = searchBytes(haystack, probe, start + head);
    if (hit == std::string_view::npos) return std::string_view::npos;
    const std::size_t candidate = hit - head;
    if (std::memcmp(haystack.data() + candidate, needle.data(), head) == 0) return candidate;
    start = candidate + 1;
    work += needle.size();
    if (work > budget) return searchBytes(haystack, needle, start);
  }
  return std::string_view::npos;
}

std::string formatBeginLine(std::string_view marker) {
  std::string line = "-- QORVEX_PATCH_BEGIN[";
  line.append(marker);
  line.push_back(']');
  return line;
}

std::string formatEndLine(std::string_view marker) {
  std::string line = "-- QORVEX_PATCH_END[";
  line.append(marker);
  line.push_back(']');
  return line;
}

std::string dialogBlockMarker(std::string_view insertBlockResource) {
  std::string_view name = insertBlockResource;
  std::size_t slash = name.find_last_of("\\/");
  if (slash != std::string_view::npos) name = name.substr(slash + 1);
  std::size_t dot = name.rfind('.');
  std::string_view stem;
  if (dot == std::string_view::npos) {
    stem = name;
  } else if (dot == 0) {
    stem = insertBlockResource;
  } else {
    stem = name.substr(0, dot);
  }
  std::string marker = "DLG_BLOCK:";
  marker.append(stem);
  return marker;
}

std::string normalizeBlockBody(std::string_view text) {
  // Every LF becomes CR LF, and a CR just before an LF is the CR of that pair
  // (CR LF first became LF); any other CR stays. Copied line by line.
  std::string body;
  body.reserve(text.size() + text.size() / 16 + 2);
  std::size_t start = 0;
  for (std::size_t lf = text.find('\n'); lf != std::string_view::npos;
       lf = text.find('\n', start)) {
    std::size_t end = lf;
    if (end > start && text[end - 1] == '\r') --end;
    body.append(text, start, end - start);
    body.append("\r\n");
    start = lf + 1;
  }
  body.append(text, start, std::string_view::npos);
  if (!body.empty() && !(body.size() >= 2 && body[body.size() - 2] == '\r' && body.back() == '\n')) {
    body.append("\r\n");
  }
  return body;
}

std::string buildPatchBlock(std::string_view marker, std::string_view text) {
  std::string block = "\r\n";
  block.append(formatBeginLine(marker));
  block.append("\r\n");
  block.append(normalizeBlockBody(text));
  block.append(formatEndLine(marker));
  block.append("\r\n");
  return block;
}

bool findPatchBlock(std::string_view text, std::string_view marker) {
  return findBytes(text, formatBeginLine(marker)) != std::string_view::npos;
}

std::string removeFirstPatchBlock(std::string_view text, std::string_view marker,
                                  std::uint32_t& removed) {
  const std::string beginLine = formatBeginLine(marker);
  std::size_t b = findBytes(text, beginLine);
  if (b == std::string_view::npos) return std::string(text);
  const std::string endLine = formatEndLine(marker);
  std::size_t e = findBytes(text, endLine, b);
  if (e == std::string_view::npos) return std::string(text);

  const std::size_t n = text.size();
  std::size_t end = e + endLine.size();
  if (end < n && text[end] == '\r') ++end;
  if (end < n && text[end] == '\n') ++end;
  std::size_t start = b;
  if (b >= 2 && text[b - 2] == '\r' && text[b - 1] == '\n') {
    start = b - 2;
  } else if (b >= 1 && text[b - 1] == '\n') {
    start = b - 1;
  }
  std::string result;
  result.reserve(n - (end - start));
  result.append(text.substr(0, start));
  result.append(text.substr(end));
  ++removed;
  return result;
}

}  // namespace qorvex
