#pragma once
// What qorvex-patch writes to its console streams, in the platform's way.

#include <cstdio>
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

// Writes the text and flushes the stream.
void printTo(std::FILE* stream, std::string_view text);

}  // namespace qorvex::cli
