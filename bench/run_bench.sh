#!/usr/bin/env bash
# Builds Release with the benchmarks, runs the scan benchmarks on 16 MiB texts,
# then times whole qorvex-patch runs and compares INSTALL with GNU patch.
#
#   bench/run_bench.sh [--quick] [--static-runtime]
#
# --static-runtime links qorvex-patch with -static-libstdc++ -static-libgcc
# (in build-bench-static/), to show what loading libstdc++ costs a run.
#
# Needs: libbenchmark-dev, python3, GNU patch and diff, /usr/bin/time (Debian
# package "time"). Results go to stdout and to results.txt in the build folder.
set -euo pipefail
cd "$(dirname "$0")/.."

repeat=15
min_time=0.5
build=build-bench
link_flags=()
for arg in "$@"; do
  case "$arg" in
    --quick) repeat=5; min_time=0.1 ;;
    --static-runtime)
      build=build-bench-static
      link_flags=("-DCMAKE_EXE_LINKER_FLAGS=-static-libstdc++ -static-libgcc") ;;
    *) echo "run_bench: unknown argument '$arg'" >&2; exit 64 ;;
  esac
done

if [ ! -x /usr/bin/time ]; then
  echo "run_bench: /usr/bin/time is missing (Debian package: time)" >&2
  exit 1
fi

generator=()
if command -v ninja >/dev/null; then generator=(-G Ninja); fi
cmake -S . -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=Release -DQORVEX_BENCH=ON \
  -DQORVEX_TESTS=OFF "${link_flags[@]}" >/dev/null
cmake --build "$build" -j"$(nproc 2>/dev/null || echo 2)" --target engine_bench qorvex-patch >/dev/null

{
  echo "== machine: $(nproc) cores, $(uname -r), load $(cut -d' ' -f1-3 /proc/loadavg)"
  echo "== scans (bytes_per_second from the wall clock)"
  "$build"/bench/engine_bench --benchmark_min_time="$min_time" 2>/dev/null
  echo
  echo "== whole runs"
  python3 bench/time_runs.py "$build"/cli/qorvex-patch "$build"/runs --repeat "$repeat"
  echo
  echo "== against GNU patch"
  python3 bench/vs_patch.py "$build"/cli/qorvex-patch "$build"/vs-patch
} | tee "$build"/results.txt
