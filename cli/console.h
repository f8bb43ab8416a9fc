#pragma once
// What qorvex-patch writes to its console streams, in the platform's way.

#include <cstdio>
#include <string>
#include <string_view>

#include "hints.h"

namespace qorvex::cli {

#ifdef _WIN32
constexpr char kSeparator = '\\';
constexpr HintStyle kHintStyle = HintStyle::Windows;
constexpr std::string_view kNewline = "\r\n";
#else
constexpr char kSeparator = '/';
constexpr HintStyle kHintStyle = HintStyle::Posix;
constexpr std::string_view kNewline = "\n";
#endif

// The text with every line end (CR LF or LF) made the platform's: LF on
// POSIX, so that line-based tools see whole lines, CR LF on Windows. A CR
// that ends no line stays.
std::string withPlatformLineEnds(std::string_view text);

// Writes the text with the platform's line ends and flushes the stream.
void printText(std::FILE* stream, std::string_view text);

}  // namespace qorvex::cli
