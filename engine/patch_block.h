#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "byte_search.h"

namespace qorvex {

std::string formatBeginLine(std::string_view marker);
std::string formatEndLine(std::string_view marker);
// "DLG_BLOCK:" and the stem of the resource name.
std::string dialogBlockMarker(std::string_view insertBlockResource);
// Line ends made CR LF, and a final CR LF ensured for a non-empty result.
std::string normalizeBlockBody(std::string_view text);
// CR LF, BEGIN line, CR LF, body, END line, CR LF.
std::string buildPatchBlock(std::string_view marker, std::string_view text);
bool findPatchBlock(std::string_view text, std::string_view marker);
// Removes the first block of the marker with the line ends that belong to it;
// raises `removed` when it did. Without a BEGIN line, or without an END line
// after it, the text comes back unchanged.
std::string removeFirstPatchBlock(std::string_view text, std::string_view marker,
                                  std::uint32_t& removed);
// The same, in place; true when a block was removed.
bool eraseFirstPatchBlock(std::string& text, std::string_view marker);

}  // namespace qorvex
