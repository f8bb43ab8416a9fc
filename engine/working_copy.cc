#include "working_copy.h"

#include <algorithm>

#include "patch_block.h"

namespace qorvex {
namespace {

constexpr std::string_view kBeginPrefix = "-- QORVEX_PATCH_BEGIN[";

std::vector<std::size_t> prefixStarts(std::string_view text, std::size_t base) {
  std::vector<std::size_t> starts;
  for (std::size_t at = findBytes(text, kBeginPrefix); at != std::string_view::npos;
       at = findBytes(text, kBeginPrefix, at + 1)) {
    starts.push_back(base + at);
  }
  return starts;
}

}  // namespace

WorkingCopy::WorkingCopy(std::string text, std::size_t growth) : text_(std::move(text)) {
  text_.reserve(text_.size() + growth);
  findBeginLines();
}

void WorkingCopy::findBeginLines() {
  beginStarts_ = prefixStarts(text_, 0);
  crLayout_ = crLayoutOf(text_);
}

bool WorkingCopy::containsIgnoringCr(std::string_view needle) const {
  return qorvex::containsIgnoringCr(text_, needle, crLayout_);
}

std::size_t WorkingCopy::findBeginLine(std::string_view marker) const {
  const std::string line = formatBeginLine(marker);
  // A marker with a line end in it could make a BEGIN line across the edge of
  // a block, which the starts kept here do not follow; such a marker is
  // looked for the plain way.
  if (marker.find_first_of("\r\n") != std::string_view::npos) return findBytes(text_, line);
  for (std::size_t start : beginStarts_) {
    if (std::string_view(text_).substr(start, line.size()) == line) return start;
  }
  return std::string_view::npos;
}

void WorkingCopy::insert(std::size_t offset, std::string_view block) {
  if (block.empty()) return;
  // A CR on either edge of the block may lose the LF that followed it.
  const bool crBefore = offset > 0 && text_[offset - 1] == '\r' && block.front() != '\n';
  const bool crAtEnd = block.back() == '\r' && (offset == text_.size() || text_[offset] != '\n');
  crLayout_ = (crBefore || crAtEnd) ? CrLayout::Lone : std::max(crLayout_, crLayoutOf(block));
  text_.insert(offset, block);
  // A block splits the prefix of a BEGIN line it lands in; the ones after it
  // move; its own are added. A block begins and ends with a line end, which
  // no prefix holds, so none can form across its edges.
  std::vector<std::size_t> starts;
  starts.reserve(beginStarts_.size() + 1);
  for (std::size_t start : beginStarts_) {
    if (start < offset) {
      if (offset < start + kBeginPrefix.size()) continue;
      starts.push_back(start);
    }
  }
  for (std::size_t start : prefixStarts(block, offset)) starts.push_back(start);
  for (std::size_t start : beginStarts_) {
    if (start >= offset) starts.push_back(start + block.size());
  }
  beginStarts_ = std::move(starts);
}

void WorkingCopy::replace(std::string text) {
  text_ = std::move(text);
  findBeginLines();
}

}  // namespace qorvex
