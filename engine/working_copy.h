#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "anchor_match.h"

namespace qorvex {

// The text of one file as the entries before the current one leave it: the
// file's text with their blocks inserted. The questions the install pass asks
// of it give the answers they would give on the whole text, but the BEGIN
// lines are looked for once, and blocks go in without copying the text anew.
class WorkingCopy {
 public:
  // `growth`: about how many bytes the blocks will add, so that the text is
  // allocated once.
  WorkingCopy(std::string text, std::size_t growth);

  const std::string& text() const { return text_; }
  // Hands the text over; the copy is empty afterwards.
  std::string take() { return std::move(text_); }

  // Where the marker's first BEGIN line starts, or npos.
  std::size_t findBeginLine(std::string_view marker) const;
  // True when the marker's BEGIN line occurs anywhere in the text.
  bool hasBeginLine(std::string_view marker) const {
    return findBeginLine(marker) != std::string_view::npos;
  }
  // containsIgnoringCr on the text, knowing where its CRs stand.
  bool containsIgnoringCr(std::string_view needle) const;
  // Inserts `block` at `offset`.
  void insert(std::size_t offset, std::string_view block);
  // Replaces the whole text (a migration that moved a block).
  void replace(std::string text);

 private:
  void findBeginLines();

  std::string text_;
  // Where "-- QORVEX_PATCH_BEGIN[" starts, in order: every BEGIN line starts
  // with it, and a stock file has none, so one scan answers every entry.
  std::vector<std::size_t> beginStarts_;
  // Kept through insertions; it may say Lone of a text that no longer has a
  // lone CR, which only makes searches slower.
  CrLayout crLayout_ = CrLayout::None;
};

}  // namespace qorvex
