#pragma once
// The exit statuses of qorvex-patch, for scripts.

namespace qorvex::cli {

constexpr int kExitSuccess = 0;
constexpr int kExitErrors = 1;
constexpr int kExitFatal = 2;
constexpr int kExitNotInstalled = 3;
constexpr int kExitPartial = 4;
constexpr int kExitBlocked = 5;
constexpr int kExitUsage = 64;

}  // namespace qorvex::cli
