#!/usr/bin/env bash
# Runs the Windows test executables of a cross build under Wine, headless.
#   scripts/run_wine_tests.sh [BUILD_DIR]     (default: build-windows)
# Every *_tests.exe under BUILD_DIR/tests runs once, whole, in the build's
# private Wine prefix (BUILD_DIR/wine-prefix), and then qorvex-patch.exe runs
# check, install and uninstall on a synthetic game install
# (tests/windows/cli_round_trip.sh), is killed midway and meets a file held
# open (tests/windows/kill_and_hold.sh). Exits non-zero when an executable is
# missing, fails or crashes. Needs no terminal and no display;
# set QORVEX_WINE_XVFB=1 to run the executables inside xvfb-run all the same.
# Build first with scripts/build_windows.sh.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$root/build-windows}"
if [ ! -d "$build/tests" ]; then
  echo "run_wine_tests: no tests in $build; run scripts/build_windows.sh first" >&2
  exit 2
fi
build="$(cd "$build" && pwd)"

mapfile -d '' exes < <(find "$build/tests" -name '*_tests.exe' -not -path '*/CMakeFiles/*' -print0 | sort -z)
# The two suites that must be there: the engine's own and the Win32 backend's.
for required in "$build/tests/engine_tests.exe" "$build/tests/windows/windows_tests.exe"; do
  if [ ! -f "$required" ]; then
    echo "run_wine_tests: missing $required" >&2
    exit 2
  fi
done

runner=("$root/scripts/wine_exec.sh" --prefix "$build/wine-prefix" --)
if [ "${QORVEX_WINE_XVFB:-0}" = 1 ]; then
  runner=(xvfb-run -a "${runner[@]}")
fi

# Tests that need a synthetic game install cannot run the Python generator
# from inside Wine; make it here and hand its Windows path (Wine maps the Unix
# root to Z:) through the environment, which Wine passes on.
fixture="$build/wine-fixture/install"
rm -rf "$build/wine-fixture"
mkdir -p "$build/wine-fixture"
python3 "$root/tests/fixtures/make_game_install.py" "$fixture" >/dev/null
export QORVEX_FIXTURE_INSTALL="Z:${fixture//\//\\}"

# Nor can Wine make a Unix symbolic link or a FIFO (its CreateSymbolicLinkW
# reports success and makes nothing), and a link that leads out of the install
# is what the Win32 backend must refuse; make them here as well.
links="$build/wine-fixture/links"
mkdir -p "$links/outside" "$links/install/real"
printf 'outside' >"$links/outside/outside.lua"
printf 'inside' >"$links/install/real/inside.lua"
ln -s ../outside "$links/install/dirlink"
ln -s ../outside/outside.lua "$links/install/filelink.lua"
ln -s ../outside/missing.lua "$links/install/dangling.lua"
mkfifo "$links/install/fifo"
# A game whose modules folder is a link to a folder outside it.
cp -a "$fixture" "$links/game"
mv "$links/game/MissionEditor/modules" "$links/outside-modules"
ln -s ../../outside-modules "$links/game/MissionEditor/modules"
export QORVEX_FIXTURE_LINKS="Z:${links//\//\\}"

failed=()
for exe in "${exes[@]}"; do
  name="${exe#"$build"/}"
  echo "=== $name (under Wine)"
  log="$(mktemp)"
  status=0
  # Run from the exe's folder; GoogleTest's brief mode prints failures only.
  (cd "$(dirname "$exe")" && "${runner[@]}" "$exe" --gtest_brief=1 --gtest_color=no) >"$log" 2>&1 \
    || status=$?
  cat "$log"
  # A crash can end the process without a GoogleTest summary; trust neither
  # alone.
  if [ $status -ne 0 ] || ! grep -q '^\[  PASSED  \]' "$log" || grep -q '^\[  FAILED  \]' "$log"; then
    failed+=("$name (exit $status)")
  fi
  rm -f "$log"
done

# The command line program itself, on a synthetic game install.
echo "=== cli/qorvex-patch.exe round trip (under Wine)"
if ! "$root/tests/windows/cli_round_trip.sh" "$build"; then
  failed+=("cli/qorvex-patch.exe round trip")
fi

# The same program killed at random moments, and meeting a file held open.
echo "=== cli/qorvex-patch.exe killed midway and held off (under Wine)"
if ! "$root/tests/windows/kill_and_hold.sh" "$build"; then
  failed+=("cli/qorvex-patch.exe killed and held off")
fi

echo
if [ ${#failed[@]} -ne 0 ]; then
  printf 'run_wine_tests: FAILED: %s\n' "${failed[@]}" >&2
  exit 1
fi
echo "run_wine_tests: all ${#exes[@]} Windows test executables, the round trip and the" \
  "kill and hold probes passed under Wine"
