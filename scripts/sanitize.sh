#!/usr/bin/env bash
# Builds the whole Linux test suite with AddressSanitizer and
# UndefinedBehaviorSanitizer (QORVEX_SANITIZE) in build-asan/ and runs it. Any
# leak, memory error or undefined behaviour fails the run.
#
#   scripts/sanitize.sh [extra cmake arguments]
set -euo pipefail
cd "$(dirname "$0")/.."

build=${SANITIZE_BUILD_DIR:-build-asan}
jobs=$(nproc 2>/dev/null || echo 2)

generator=()
if command -v ninja >/dev/null; then generator=(-G Ninja); fi
cmake -S . -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQORVEX_SANITIZE=ON "$@" >/dev/null
cmake --build "$build" -j"$jobs"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
# Timed tests allow for the slower instrumented binaries.
export QORVEX_SANITIZED=1
ctest --test-dir "$build" --output-on-failure -j"$jobs"
