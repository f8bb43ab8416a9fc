#!/usr/bin/env bash
# End-to-end test of the setup wizard: builds TindrelleUndoSetup.exe and the
# test driver with MinGW-w64, lays out synthetic game installs and runs the
# driver under 64-bit Wine in a virtual X display. The driver walks the real
# program (pages, Next rule, rejections, confirmations, CHECK, INSTALL,
# UNINSTALL, default directory, Cancel and Close, crash exit code) and saves
# screenshots.
#   scripts/run_gui_tests.sh [BUILD_DIR]       (default: build-windows)
# Screenshots land in BUILD_DIR/gui-screenshots/*.png. Runs headless, as any
# user, with no standard input; exits non-zero when a check fails.
set -euo pipefail

# Everything that touches Wine runs inside one virtual X display, so the Wine
# desktop of the test prefix never outlives the display it was started on.
if [ -z "${QORVEX_GUI_IN_XVFB:-}" ] && { [ -z "${DISPLAY:-}" ] || [ -n "${QORVEX_GUI_FORCE_XVFB:-}" ]; }; then
  export QORVEX_GUI_IN_XVFB=1
  exec xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" "$@" </dev/null
fi

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$root/build-windows}"
mkdir -p "$build"
build="$(cd "$build" && pwd)"

if [ ! -f "$build/CMakeCache.txt" ]; then
  generator=()
  if command -v ninja >/dev/null 2>&1; then generator=(-G Ninja); fi
  cmake -S "$root" -B "$build" "${generator[@]}" \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
    -DCMAKE_BUILD_TYPE=Release \
    -DQORVEX_TESTS=ON >/dev/null
fi
cmake --build "$build" --target TindrelleUndoSetup qorvex_gui_driver \
  --parallel "$(nproc 2>/dev/null || echo 2)"

exe="$build/TindrelleUndoSetup.exe"
driver="$build/qorvex_gui_driver.exe"

# The trees the driver expects (see tests/gui/gui_driver.cc).
work="$build/gui-test"
shots="$build/gui-screenshots"
rm -rf "$work" "$shots"
mkdir -p "$work/plain" "$work/nogame" "$shots"
for tree in game-check game-install with-exe; do
  python3 "$root/tests/fixtures/make_game_install.py" "$work/$tree" >/dev/null
done
cp "$exe" "$work/plain/"
cp "$exe" "$work/with-exe/"

# Wine sees the Unix root as drive Z:.
winpath() { local p="${1//\//\\}"; printf 'Z:%s' "$p"; }

# A prefix of its own, set to draw every window inside one Wine desktop of the
# screen's size: there is no window manager on the virtual display, and
# without it the screenshots would lack title bars and frames.
prefix="$build/wine-prefix-gui"
wine_exec=("$root/scripts/wine_exec.sh" --prefix "$prefix" --)
stop_wine() {
  # Ends this prefix's wineserver (and the desktop it keeps) and waits for it.
  local server=/usr/lib/wine/wineserver
  [ -x "$server" ] || server="$(command -v wineserver || echo wineserver)"
  if [ -d "$prefix" ]; then WINEPREFIX="$prefix" "$server" -k >/dev/null 2>&1 || true; fi
  if [ -d "$prefix" ]; then WINEPREFIX="$prefix" "$server" -w >/dev/null 2>&1 || true; fi
}
stop_wine
"${wine_exec[@]}" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
"${wine_exec[@]}" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f \
  >/dev/null 2>&1

driver_command=(
  "${wine_exec[@]}" "$driver"
  --exe "$(winpath "$work/plain/TindrelleUndoSetup.exe")"
  --work "$(winpath "$work")"
  --shots "$(winpath "$shots")"
)

status=0
"${driver_command[@]}" </dev/null || status=$?
stop_wine

# PNG copies of the screenshots for people and image viewers.
convert_bin=/usr/bin/convert
if [ -x "$convert_bin" ]; then
  for bmp in "$shots"/*.bmp; do
    [ -e "$bmp" ] || continue
    "$convert_bin" "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
  done
fi
echo "screenshots: $shots"
exit $status
