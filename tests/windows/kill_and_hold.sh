#!/usr/bin/env bash
# The real qorvex-patch.exe under Wine, where a run can be cut short or meet a
# file it cannot replace:
#   kill   install and uninstall, each killed (SIGKILL to the whole Wine
#          process) at random moments on a fresh synthetic install. After each
#          cut every game file holds its old or its whole new bytes, every
#          backup is a whole copy of one of them, the undo module is absent or
#          whole; a second run then leaves exactly the right install and no
#          temporary or lock file.
#   hold   while another Wine process holds me_toolbar.lua open without delete
#          sharing (tests/windows/hold_file.cc), install refuses to start: exit
#          2, no log, one line on stderr naming the file with what to do, and
#          not a byte of the install changed; check names the file too (exit
#          1); once the holder is gone, install completes.
# Both programs run in the build's one Wine prefix, so one wineserver sees the
# share modes of both.
#
#   tests/windows/kill_and_hold.sh BUILD_DIR [TRIALS]     (default: 20 of each)
# QORVEX_KILL_SEED fixes the random moments, to repeat a run.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
build="$(cd "${1:?usage: $0 BUILD_DIR [TRIALS]}" && pwd)"
trials="${2:-20}"
exe="$build/cli/qorvex-patch.exe"
holder_exe="$build/tests/windows/hold_file.exe"
for needed in "$exe" "$holder_exe"; do
  [ -f "$needed" ] || { echo "kill_and_hold: missing $needed" >&2; exit 2; }
done
wine_run=("$root/scripts/wine_exec.sh" --prefix "$build/wine-prefix")

work="$build/kill-and-hold"
rm -rf "$work"
mkdir -p "$work"
# A large toolbar file makes each run long enough for cuts to land in it.
python3 "$root/tests/fixtures/make_game_install.py" "$work/original" --toolbar-size 4000000 \
  >/dev/null
toolbar="MissionEditor/modules/me_toolbar.lua"

# Wine maps the Unix root to drive Z:.
windows_path() { local path="${1//\//\\}"; echo "Z:$path"; }

# A run that has not ended after this long is stuck. Wine sometimes hangs the
# first process it starts after one was killed; that is retried once, after
# the wineserver was killed, and counted. A run of ours that hangs hangs again.
wine_hangs=0
patch_exe() { # ACTION GAME: runs qorvex-patch.exe in the foreground
  local status=0
  "${wine_run[@]}" --timeout 120 -- "$exe" "$1" "$(windows_path "$2")" || status=$?
  if [ "$status" = 124 ]; then
    wine_hangs=$((wine_hangs + 1))
    status=0
    "${wine_run[@]}" --timeout 120 -- "$exe" "$1" "$(windows_path "$2")" || status=$?
  fi
  return "$status"
}

# The reference: the install after one complete, undisturbed run.
cp -a "$work/original" "$work/installed"
if ! patch_exe install "$work/installed" >"$work/reference.log" 2>&1; then
  cat "$work/reference.log"
  echo "kill_and_hold: the reference install failed" >&2
  exit 1
fi

failures=0
problem() {
  echo "kill_and_hold: FAILED: $*" >&2
  failures=$((failures + 1))
}

# True when FILE holds the bytes that the path REL has in the original or in
# the installed game.
is_version() {
  { [ -f "$work/original/$1" ] && cmp -s "$work/original/$1" "$2"; } ||
    { [ -f "$work/installed/$1" ] && cmp -s "$work/installed/$1" "$2"; }
}

# What a cut may leave: every file old or new, every backup whole, no game
# file lost. Temporary files may stay until the next run removes them.
# Prints what is wrong; true when nothing is.
check_cut() {
  local game="$1" ok=0 file rel
  while IFS= read -r -d '' file; do
    rel="${file#"$game"/}"
    case "$rel" in
      *.qorvex-backup_*.bak)
        if ! is_version "${rel%%.qorvex-backup_*}" "$file"; then
          echo "  incomplete backup: $rel"
          ok=1
        fi ;;
      */.*.qorvex-tmp-* | .*.qorvex-tmp-*) ;;
      *) is_version "$rel" "$file" || { echo "  neither old nor new: $rel"; ok=1; } ;;
    esac
  done < <(find "$game" -type f -print0)
  while IFS= read -r -d '' file; do
    rel="${file#"$work/original"/}"
    [ -f "$game/$rel" ] || { echo "  lost: $rel"; ok=1; }
  done < <(find "$work/original" -type f -print0)
  return $ok
}

# The tree without backups, as "path checksum" lines.
snapshot() {
  (cd "$1" && find . -type f ! -name '*.bak' -print0 | sort -z | xargs -0 sha256sum)
}

# After the second run: exactly the expected game files (which rules out any
# temporary or lock file), and every backup whole.
check_final() {
  local game="$1" expected="$2"
  check_cut "$game" || return 1
  if ! diff <(snapshot "$expected") <(snapshot "$game") >"$work/final.diff"; then
    sed 's/^/  /' "$work/final.diff"
    return 1
  fi
}

leftovers() { # names that only a cut may leave
  find "$1" -name '.*.qorvex-tmp-*' -printf '%P\n'
}

# --- kill ------------------------------------------------------------------

RANDOM="${QORVEX_KILL_SEED:-$$}"
echo "--- kill: $trials cuts of install and of uninstall (seed ${QORVEX_KILL_SEED:-$$})"

# How long an undisturbed run takes, launch included, in milliseconds (the
# shorter of two, so that a slow moment of a busy machine does not push the
# cuts past the end), and how long the launch alone takes (--help); the cuts
# are spread between the two and a little beyond.
start=$(date +%s%N)
"${wine_run[@]}" -- "$exe" --help >/dev/null 2>&1 || true
launch=$(( ($(date +%s%N) - start) / 1000000 ))
declare -A span
cp -a "$work/original" "$work/timed"
for action in install uninstall install uninstall; do
  start=$(date +%s%N)
  patch_exe "$action" "$work/timed" >/dev/null 2>&1 || true
  took=$(( ($(date +%s%N) - start) / 1000000 * 11 / 10 ))
  [ -n "${span[$action]:-}" ] && [ "${span[$action]}" -le "$took" ] || span[$action]=$took
  [ "${span[$action]}" -gt $((launch + 10)) ] || span[$action]=$((launch + 10))
done
rm -rf "$work/timed"

cuts=0 midway=0 untouched=0 finished=0 bad=0 left=0 locked=0
trial() { # ACTION START_DIR EXPECTED_DIR N
  local action="$1" start="$2" expected="$3" n="$4"
  local game="$work/trial" delay status changed=0
  rm -rf "$game"
  cp -a "$start" "$game"
  delay=$(( launch + RANDOM % (span[$action] - launch) ))
  # A session of its own, so that the kill reaches Wine's process whatever
  # the launcher has become by then.
  setsid "${wine_run[@]}" -- "$exe" "$action" "$(windows_path "$game")" \
    >"$work/cut.log" 2>&1 &
  local pid=$!
  sleep "$(printf '0.%03d' "$delay")"
  kill -KILL -- "-$pid" 2>/dev/null || true
  status=0
  # Quietly: the shell would report the kill on stderr.
  wait "$pid" 2>/dev/null || status=$?
  diff -rq "$start" "$game" >/dev/null 2>&1 || changed=1
  if [ "$status" = 137 ]; then
    cuts=$((cuts + 1))
    if [ $changed = 1 ]; then midway=$((midway + 1)); else untouched=$((untouched + 1)); fi
  else
    finished=$((finished + 1))
  fi
  [ -z "$(leftovers "$game")" ] || left=$((left + 1))
  # Windows deletes the lock file when its process ends, killed or not.
  [ ! -e "$game/.qorvex-lock" ] || locked=$((locked + 1))
  if ! check_cut "$game" >"$work/cut.problems"; then
    bad=$((bad + 1))
    problem "$action cut $n after ${delay} ms left a bad state:"
    cat "$work/cut.problems" >&2
  fi
  if ! patch_exe "$action" "$game" >"$work/rerun.log" 2>&1; then
    problem "$action cut $n: the second run failed"
    cat "$work/rerun.log" >&2
  elif ! check_final "$game" "$expected" >"$work/final.problems"; then
    problem "$action cut $n: the second run did not leave the right install:"
    cat "$work/final.problems" >&2
  fi
}

for n in $(seq 1 "$trials"); do trial install "$work/original" "$work/installed" "$n"; done
for n in $(seq 1 "$trials"); do trial uninstall "$work/installed" "$work/original" "$n"; done
echo "$((2 * trials)) runs killed ${launch} to ${span[install]} (install) or" \
  "${span[uninstall]} (uninstall) ms after their start:" \
  "$cuts cut ($midway midway, $untouched before any change), $finished finished first;" \
  "$left left temporary files for the next run, $locked the lock file; $bad left a bad state;" \
  "Wine hung $wine_hangs time(s) starting the next run (retried)"
[ $midway -gt 0 ] || problem "no cut landed while a run was changing the install"
[ $locked = 0 ] || problem "$locked cut(s) left the lock file"

# --- hold ------------------------------------------------------------------

echo "--- hold: install while another process holds $toolbar"
game="$work/held"
rm -rf "$game"
cp -a "$work/original" "$game"
mkfifo "$work/holder.in"
"${wine_run[@]}" --stdin -- "$holder_exe" "$(windows_path "$game/$toolbar")" 60 \
  <"$work/holder.in" >"$work/holder.out" 2>&1 &
holder=$!
# The holder's input stays open until this script closes it.
exec 7>"$work/holder.in"
for _ in $(seq 1 300); do
  grep -q '^holding' "$work/holder.out" && break
  kill -0 "$holder" 2>/dev/null || break
  sleep 0.1
done
if ! grep -q '^holding' "$work/holder.out"; then
  cat "$work/holder.out" >&2
  problem "the holder did not take $toolbar"
fi

expected_err='qorvex-patch: MissionEditor\modules\me_toolbar.lua: FileBusy: another program has the file open; close DCS World or the program that has the file open, then retry'
status=0
patch_exe check "$game" >"$work/held-check.log" 2>"$work/held-check.err" || status=$?
echo "qorvex-patch.exe check while held: exit $status"
[ "$status" = 1 ] || problem "check of a held file exited $status, not 1"
[ "$(tr -d '\r' <"$work/held-check.err")" = "$expected_err" ] ||
  problem "check's stderr does not name the held file: $(cat "$work/held-check.err")"
status=0
patch_exe install "$game" >"$work/held.log" 2>"$work/held.err" || status=$?
echo "qorvex-patch.exe install while held: exit $status"
sed 's/^/  stderr: /' "$work/held.err"
[ "$status" = 2 ] || problem "install of a held file exited $status, not 2"
[ ! -s "$work/held.log" ] || problem "install of a held file printed a log: it must not start"
[ "$(tr -d '\r' <"$work/held.err")" = "$expected_err" ] ||
  problem "stderr does not name the held file"
diff -r "$work/original" "$game" >/dev/null || problem "install of a held file changed the install"

exec 7>&-
status=0
wait "$holder" || status=$?
[ "$status" = 0 ] || problem "the holder exited $status"
grep -q '^released' "$work/holder.out" || problem "the holder did not let go when its input closed"

status=0
patch_exe install "$game" >"$work/after-hold.log" 2>&1 || status=$?
echo "qorvex-patch.exe install once the holder is gone: exit $status"
if [ "$status" != 0 ]; then
  cat "$work/after-hold.log" >&2
  problem "install after the holder exited $status"
fi
if ! check_final "$game" "$work/installed" >"$work/final.problems"; then
  problem "install after the holder did not leave the right install:"
  cat "$work/final.problems" >&2
fi

if [ $failures -ne 0 ]; then
  echo "kill_and_hold: $failures check(s) failed" >&2
  exit 1
fi
echo "kill_and_hold: no cut and no held file lost a byte"
