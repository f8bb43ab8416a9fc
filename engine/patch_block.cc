#include "patch_block.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <optional>
#include <utility>

namespace qorvex {

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
  if (!body.empty() &&
      !(body.size() >= 2 && body[body.size() - 2] == '\r' && body.back() == '\n')) {
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

namespace {

// Where the first block of the marker lies, with the line ends that belong to
// it: [start, end). Nothing without a BEGIN line, or without an END line
// after it.
std::optional<std::pair<std::size_t, std::size_t>> firstBlockSpan(std::string_view text,
                                                                  std::string_view marker) {
  const std::string beginLine = formatBeginLine(marker);
  const std::size_t b = findBytes(text, beginLine);
  if (b == std::string_view::npos) return std::nullopt;
  const std::string endLine = formatEndLine(marker);
  const std::size_t e = findBytes(text, endLine, b);
  if (e == std::string_view::npos) return std::nullopt;

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
  return std::pair{start, end};
}

}  // namespace

std::string removeFirstPatchBlock(std::string_view text, std::string_view marker,
                                  std::uint32_t& removed) {
  const auto span = firstBlockSpan(text, marker);
  if (!span) return std::string(text);
  std::string result;
  result.reserve(text.size() - (span->second - span->first));
  result.append(text.substr(0, span->first));
  result.append(text.substr(span->second));
  ++removed;
  return result;
}

bool eraseFirstPatchBlock(std::string& text, std::string_view marker) {
  const auto span = firstBlockSpan(text, marker);
  if (!span) return false;
  text.erase(span->first, span->second - span->first);
  return true;
}

}  // namespace qorvex
