#!/usr/bin/env bash
# The real qorvex-patch.exe under Wine on a synthetic game install, so the
# Win32 file backend is exercised by the passes themselves:
#   check      exit 0, the install is left byte for byte as it was
#   install    exit 0, every manifest file and the undo module written
#   install    exit 0 again, nothing patched the second time
#   uninstall  exit 0, the install is back to its original bytes; only the
#              backups (*.bak) remain as extra files, and no temporary or
#              lock file
#   install, then backups, backups --prune --dry-run and backups --prune:
#              22 backups listed in CR LF lines; the dry run removes none;
#              pruning removes 14 and leaves each file's stock copy
#
#   tests/windows/cli_round_trip.sh BUILD_DIR
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
build="$(cd "${1:?usage: $0 BUILD_DIR}" && pwd)"
exe="$build/cli/qorvex-patch.exe"
[ -f "$exe" ] || { echo "cli_round_trip: missing $exe" >&2; exit 2; }

work="$build/cli-round-trip"
rm -rf "$work"
mkdir -p "$work"
python3 "$root/tests/fixtures/make_game_install.py" "$work/game" >/dev/null
cp -a "$work/game" "$work/original"
# Wine maps the Unix root to drive Z:.
game="Z:${work//\//\\}\\game"

failures=0
check() {
  if ! eval "$2"; then
    echo "cli_round_trip: FAILED: $1" >&2
    failures=$((failures + 1))
  fi
}

run() {
  local action="$1" log="$work/$1-$2.log" status=0
  "$root/scripts/wine_exec.sh" --prefix "$build/wine-prefix" -- "$exe" "$action" "$game" \
    >"$log" 2>&1 || status=$?
  echo "--- qorvex-patch.exe $action (exit $status)"
  cat "$log"
  return $status
}

# The tree without backups, as "path checksum" lines.
snapshot() {
  (cd "$1" && find . -type f ! -name '*.bak' -print0 | sort -z | xargs -0 sha256sum)
}

check "check exits 0" "run check 1"
check "check writes nothing" "diff -r '$work/original' '$work/game' >/dev/null"

check "install exits 0" "run install 1"
check "install writes the undo module" \
  "[ -f '$work/game/MissionEditor/modules/me_qorvex_undo.lua' ]"
for file in me_toolbar.lua me_aircraft.lua me_ship.lua me_static.lua me_vehicle.lua me_showId.lua \
            dialogs/me_toolbar.dlg; do
  check "install changes $file" \
    "! cmp -s '$work/original/MissionEditor/modules/$file' '$work/game/MissionEditor/modules/$file'"
  check "install backs up $file" \
    "ls '$work/game/MissionEditor/modules/$file'.qorvex-backup_*.bak >/dev/null 2>&1"
done
check "install reports success" "grep -q '^COMPLETED SUCCESSFULLY' '$work/install-1.log'"
# On Windows every printed line ends in CR LF, and no line end is doubled.
check "output lines end in CR LF" \
  "[ \"\$(grep -c \$'\\r\$' '$work/install-1.log')\" = \"\$(wc -l <'$work/install-1.log')\" ] && ! grep -q \$'\\r\\r' '$work/install-1.log'"

snapshot "$work/game" >"$work/installed.sums"
check "second install exits 0" "run install 2"
check "second install patches nothing" "grep -q '^  0 files patched\.' '$work/install-2.log'"
check "second install changes nothing" "snapshot '$work/game' | cmp -s - '$work/installed.sums'"

check "uninstall exits 0" "run uninstall 1"
check "uninstall restores every original byte" \
  "snapshot '$work/game' | cmp -s - <(snapshot '$work/original')"
# Temporary files are named after their file: .{name}.qorvex-tmp-{16 characters}.
check "no temporary file is left" \
  "[ -z \"\$(find '$work/game' -name '.*.qorvex-tmp-*')\" ]"
check "no lock file is left" "[ ! -e '$work/game/.qorvex-lock' ]"

# A --payload manifest that does not load is placed on stderr, the folder
# joined with a backslash; the log names the error as always.
bad="$work/bad-payload"
mkdir -p "$bad"
printf '{"version": 1}' >"$bad/manifest.json"
bad_status=0
"$root/scripts/wine_exec.sh" --prefix "$build/wine-prefix" -- "$exe" --payload "Z:${bad//\//\\}" check "$game" \
  >"$work/bad-payload.log" 2>"$work/bad-payload.err" || bad_status=$?
placed_line() {
  [ "$(tr -d '\r' <"$work/bad-payload.err")" = "qorvex-patch: Z:${bad//\//\\}\\manifest.json:1:13: version: expected a string" ]
}
check "a bad --payload manifest exits 1" "[ $bad_status -eq 1 ]"
check "a bad --payload manifest is placed" placed_line
check "a bad --payload manifest is named in the log" \
  "grep -q '^ERROR: Failed to load embedded patch manifest -> UnexpectedToken' '$work/bad-payload.log'"

# Backups after INSTALL, UNINSTALL and INSTALL: per changed file the stock
# copy, the patched copy and the stock copy again, and the module's one. The
# clock is not pinned here, so the names are not known: the counts are.
backups() {
  local label="$1" log="$work/backups-$1.log" status=0
  shift
  "$root/scripts/wine_exec.sh" --prefix "$build/wine-prefix" -- "$exe" backups "$@" "$game" \
    >"$log" 2>&1 || status=$?
  echo "--- qorvex-patch.exe backups $* (exit $status)"
  cat "$log"
  return $status
}
count_backups() { find "$work/game" -name '*.qorvex-backup_*.bak' | wc -l; }

check "install after uninstall exits 0" "run install 3"
check "backups exits 0" "backups list"
check "backups counts every backup" "grep -q \$'^22 backups of 8 files\\.\r\$' '$work/backups-list.log'"
check "backups lines end in CR LF" \
  "[ \"\$(grep -c \$'\\r\$' '$work/backups-list.log')\" = \"\$(wc -l <'$work/backups-list.log')\" ]"
check "a dry run exits 0" "backups dry --prune --dry-run"
check "a dry run reports the copies" "grep -q '^Would remove 14 of 22 backups; ' '$work/backups-dry.log'"
check "a dry run removes nothing" "[ \"\$(count_backups)\" = 22 ]"
check "prune exits 0" "backups prune --prune"
check "prune removes the copies" "grep -q '^Removed 14 of 22 backups; ' '$work/backups-prune.log'"
check "the oldest backup of each file stays" "[ \"\$(count_backups)\" = 8 ]"
for file in me_toolbar.lua me_aircraft.lua me_ship.lua me_static.lua me_vehicle.lua me_showId.lua \
            dialogs/me_toolbar.dlg; do
  check "the backup of $file that stays is the stock file" \
    "cmp -s '$work/original/MissionEditor/modules/$file' '$work/game/MissionEditor/modules/$file'.qorvex-backup_*.bak"
done
check "no lock file is left after pruning" "[ ! -e '$work/game/.qorvex-lock' ]"

if [ $failures -ne 0 ]; then
  echo "cli_round_trip: $failures check(s) failed" >&2
  exit 1
fi
echo "cli_round_trip: check, install, install again, uninstall, install and the backups command behaved"
