#!/usr/bin/env bash
# Sets up, builds and runs every test: the engine and CLI on Linux, the payload
# in Lua 5.1, the Windows binaries under Wine, fuzzers for a short while and the
# whole suite again under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

jobs=$(nproc 2>/dev/null || echo 2)

echo "== Linux build and tests"
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"

echo "== Fuzzing (short)"
bash scripts/fuzz_short.sh

echo "== Sanitizers"
bash scripts/sanitize.sh

echo "== Windows build, tests under Wine, wizard GUI walk"
bash scripts/build_windows.sh
bash scripts/run_wine_tests.sh
bash scripts/run_gui_tests.sh
