#!/usr/bin/env bash
# End-to-end test of the setup wizard: builds TindrelleUndoSetup.exe, the
# test driver and hold_file.exe with MinGW-w64, lays out synthetic game
# installs and runs the driver under 64-bit Wine in a virtual X display. The
# driver walks the real program (pages, Next rule, rejections, confirmations,
# CHECK, INSTALL, UNINSTALL, default directory, Cancel and Close, crash exit
# code, the whole wizard by keyboard alone, a DPI change, a file held open, an
# install this game version blocks, a running DCS.exe, Steam libraries) and
# saves screenshots. It does so once per display DPI (Wine takes the DPI from
# HKCU\Control Panel\Desktop\LogPixels): 96, 144 and 192 unless
# QORVEX_GUI_DPIS names others.
#   scripts/run_gui_tests.sh [BUILD_DIR]       (default: build-windows)
# Screenshots land in BUILD_DIR/gui-screenshots/dpi-N/*.png. Runs headless, as
# any user, with no standard input; exits non-zero when a check fails.
set -euo pipefail

# Everything that touches Wine runs inside one virtual X display, so the Wine
# desktop of the test prefix never outlives the display it was started on.
if [ -z "${QORVEX_GUI_IN_XVFB:-}" ] && { [ -z "${DISPLAY:-}" ] || [ -n "${QORVEX_GUI_FORCE_XVFB:-}" ]; }; then
  export QORVEX_GUI_IN_XVFB=1
  # Large enough for the window at 192 DPI (twice 664 x 480 and its frame).
  exec xvfb-run -a -s "-screen 0 1600x1200x24" bash "$0" "$@" </dev/null
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
cmake --build "$build" --target TindrelleUndoSetup qorvex_gui_driver hold_file \
  --parallel "$(nproc 2>/dev/null || echo 2)"

exe="$build/TindrelleUndoSetup.exe"
driver="$build/qorvex_gui_driver.exe"
holder="$build/tests/windows/hold_file.exe"

work="$build/gui-test"
shots_root="$build/gui-screenshots"
rm -rf "$shots_root"

# The trees the driver expects (see tests/gui/gui_driver.cc), fresh for each
# run, since the walks install into some of them.
lay_out_work() {
  rm -rf "$work"
  mkdir -p "$work/plain" "$work/nogame" "$work/steam-lib/steamapps/common"
  for tree in game-check game-install with-exe game-held game-keys game-blocked \
              steam-lib/steamapps/common/DCSWorld; do
    python3 "$root/tests/fixtures/make_game_install.py" "$work/$tree" >/dev/null
  done
  # One anchor edited away, as a game update might: the install is blocked.
  python3 - "$work/game-blocked/MissionEditor/modules/me_toolbar.lua" <<'PY'
import sys
path = sys.argv[1]
with open(path, "rb") as f:
    text = f.read()
old = b"\ttoggleButtonDraw = pMap.toggleButtonDraw"
assert text.count(old) == 1
with open(path, "wb") as f:
    f.write(text.replace(old, b"\ttoggleButtonDraw2 = pMap.toggleButtonDraw"))
PY
  cp "$exe" "$work/plain/"
  cp "$exe" "$work/with-exe/"
}

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
status=0
passed=0
failed=0
for dpi in ${QORVEX_GUI_DPIS:-96 144 192}; do
  echo "# --- at $dpi DPI"
  lay_out_work
  shots="$shots_root/dpi-$dpi"
  mkdir -p "$shots"
  case "$dpi" in
    96) desktop=1024x768 ;;
    144) desktop=1280x1024 ;;
    *) desktop=1600x1200 ;;
  esac
  stop_wine
  "${wine_exec[@]}" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
  "${wine_exec[@]}" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d "$desktop" /f \
    >/dev/null 2>&1
  "${wine_exec[@]}" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f \
    >/dev/null 2>&1
  # The DPI is read when the prefix's wineserver starts.
  stop_wine
  # Steam's folder in the prefix, with a game install the driver moves into
  # the default library for one walk.
  steam="$prefix/drive_c/Program Files (x86)/Steam"
  rm -rf "$steam"
  mkdir -p "$steam/steamapps/common"
  python3 "$root/tests/fixtures/make_game_install.py" "$steam/steamapps/common/DCSWorld.parked" \
    >/dev/null

  set +e
  "${wine_exec[@]}" "$driver" \
    --exe "$(winpath "$work/plain/TindrelleUndoSetup.exe")" \
    --work "$(winpath "$work")" \
    --shots "$(winpath "$shots")" \
    --dpi "$dpi" \
    --holder "$(winpath "$holder")" \
    --steam 'C:\Program Files (x86)\Steam' </dev/null | tee "$shots/walk.log"
  run_status=${PIPESTATUS[0]}
  set -e
  stop_wine
  [ "$run_status" = 0 ] || status=1
  # Wine writes the driver's line ends as CR LF.
  if summary=$(tr -d '\r' <"$shots/walk.log" | grep -E '^[0-9]+ passed, [0-9]+ failed$' | tail -1); then
    passed=$((passed + ${summary%% passed*}))
    summary=${summary#* passed, }
    failed=$((failed + ${summary%% failed*}))
  else
    status=1
  fi

  # PNG copies of the screenshots for people and image viewers.
  convert_bin=/usr/bin/convert
  if [ -x "$convert_bin" ]; then
    for bmp in "$shots"/*.bmp; do
      [ -e "$bmp" ] || continue
      "$convert_bin" "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
    done
  fi
done
echo "screenshots: $shots_root"
# Each run closes with its own count; this line counts them all.
echo "$passed passed, $failed failed"
exit $status
