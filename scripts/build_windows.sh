#!/usr/bin/env bash
# Cross-builds the Windows programs and test executables with MinGW-w64.
#   scripts/build_windows.sh [BUILD_DIR]      (default: build-windows)
# Produces, under BUILD_DIR: cli/qorvex-patch.exe, the wizard when it is part
# of the tree, and the test executables (tests/engine_tests.exe,
# tests/windows/windows_tests.exe). Fails when an exe needs a MinGW runtime
# DLL, since each must run as a single file.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$root/build-windows}"

generator=()
if command -v ninja >/dev/null 2>&1; then generator=(-G Ninja); fi
if [ -f "$build/CMakeCache.txt" ]; then generator=(); fi

cmake -S "$root" -B "$build" "${generator[@]}" \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
  -DCMAKE_BUILD_TYPE=Release \
  -DQORVEX_TESTS=ON
cmake --build "$build" --parallel "$(nproc 2>/dev/null || echo 2)"

objdump=x86_64-w64-mingw32-objdump
status=0
while IFS= read -r -d '' exe; do
  dlls="$("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | sort -u | tr '\n' ' ')"
  size="$(stat -c %s "$exe")"
  printf '%-60s %10s bytes  imports: %s\n' "${exe#"$build"/}" "$size" "$dlls"
  # The runtime of the compiler itself must be linked in, not shipped beside.
  if printf '%s\n' "$dlls" | grep -Eiq 'lib(stdc\+\+|gcc_s|winpthread|ssp|gomp)[^ ]*\.dll'; then
    echo "build_windows: $exe needs a MinGW runtime DLL" >&2
    status=1
  fi
done < <(find "$build" -name '*.exe' -not -path '*/CMakeFiles/*' -not -path '*/wine-prefix/*' -print0 | sort -z)
exit $status
