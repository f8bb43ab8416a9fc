#pragma once

#include <string_view>

namespace qorvex::wizard {

// Reports crashes (access violations, illegal instructions, misaligned
// access, stack overflow and any other unhandled exception), uncaught C++
// exceptions and aborts on the standard error stream and ends the process
// with exit code 3.
void installCrashHandler();

// Writes "internal error: {what}" with a stack trace to the standard error
// stream and ends the process with exit code 3.
[[noreturn]] void reportInternalError(std::string_view what);

// Writes the bytes to the standard error stream, if there is one.
void writeStandardError(std::string_view bytes);

}  // namespace qorvex::wizard
