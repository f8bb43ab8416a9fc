#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/) with AddressSanitizer and
# UndefinedBehaviorSanitizer, makes their seed corpora from the synthetic game
# install and runs each target for a short while. Any crash or broken property
# fails the script; the input that caused it is left in build-fuzz/findings/.
#
#   scripts/fuzz_short.sh [SECONDS_PER_TARGET]      (default 15: about 60 s in all)
#
# A longer run, for example an hour per target on both cores:
#   FUZZ_JOBS=2 scripts/fuzz_short.sh 3600
# FUZZ_CXX picks the compiler, FUZZ_BUILD_DIR the build folder (build-fuzz).
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-15}
jobs=${FUZZ_JOBS:-1}
build=${FUZZ_BUILD_DIR:-build-fuzz}

# The engine uses std::expected; clang 16 is the first Debian clang whose
# front end can compile libstdc++'s version of it.
cxx=${FUZZ_CXX:-}
if [ -z "$cxx" ]; then
  for candidate in clang++-19 clang++-18 clang++-17 clang++-16; do
    if command -v "$candidate" >/dev/null; then cxx=$candidate; break; fi
  done
fi
if [ -z "$cxx" ]; then
  echo "fuzz_short: no clang++ 16 or later found (Debian: clang-16 libfuzzer-16-dev)" >&2
  exit 1
fi

generator=()
if command -v ninja >/dev/null; then generator=(-G Ninja); fi
cmake -S fuzz -B "$build" "${generator[@]}" -DCMAKE_CXX_COMPILER="$cxx" >/dev/null
cmake --build "$build" -j"$(nproc 2>/dev/null || echo 2)" >/dev/null

rm -rf "$build/seeds"
python3 fuzz/make_seeds.py "$build/seeds"
mkdir -p "$build/corpus" "$build/findings"

# Stack traces with function names: the symbolizer that comes with that clang.
symbolizer="$(dirname "$(readlink -f "$(command -v "$cxx")")")/llvm-symbolizer"
if [ -z "${ASAN_SYMBOLIZER_PATH:-}" ] && [ -x "$symbolizer" ]; then
  export ASAN_SYMBOLIZER_PATH="$symbolizer"
fi
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}

# More than one job: libFuzzer's fork mode, which shares one corpus and
# stops at the first crash like a single process does.
parallel=()
if [ "$jobs" -gt 1 ]; then parallel=(-fork="$jobs" -ignore_crashes=0 -ignore_timeouts=0 -ignore_ooms=0); fi

status=0
for target in manifest_fuzz lua_balance_fuzz anchor_match_fuzz patch_block_fuzz; do
  # The corpus grows across runs in the build folder; the seeds are fresh.
  corpus="$build/corpus/$target"
  mkdir -p "$corpus"
  echo "== fuzz $target (${seconds}s)"
  log="$build/findings/$target.log"
  # The references the targets compare with are quadratic; inputs are capped
  # so each run tries many of them.
  if ! "$build/$target" "$corpus" "$build/seeds/$target" \
      -max_total_time="$seconds" -max_len=8192 -timeout=10 -rss_limit_mb=2048 \
      "${parallel[@]}" -print_final_stats=1 \
      -artifact_prefix="$build/findings/$target-" >"$log" 2>&1; then
    echo "fuzz_short: $target failed; see $log and $build/findings/" >&2
    tail -n 40 "$log" >&2
    status=1
  else
    { grep -E '^(stat::number_of_executed_units|stat::new_units_added)' "$log" || \
        grep -E '^#[0-9]+: cov:' "$log" | tail -n 1 || true; } | tr '\n' ' '
    echo
  fi
done
exit $status
