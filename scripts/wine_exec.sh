#!/usr/bin/env bash
# Runs one Windows executable under 64-bit Wine, headless, in a private Wine
# prefix, and exits with the program's exit code.
#   scripts/wine_exec.sh --prefix DIR [--stdin] [--timeout SECONDS] -- program.exe [args...]
# The program's standard input is /dev/null unless --stdin passes this
# script's own on. With --timeout a program still running after SECONDS is
# killed, and so is the prefix's wineserver, which Wine sometimes leaves
# waiting after a process of the prefix was killed; the exit code is then 124.
# The prefix is created (wineboot --init) on first use; concurrent callers wait
# for each other, so CTest may run tests in parallel.
set -euo pipefail

prefix=""
keep_stdin=0
seconds=""
while [ $# -gt 0 ]; do
  case "$1" in
    --prefix) prefix="$2"; shift 2 ;;
    --stdin) keep_stdin=1; shift ;;
    --timeout) seconds="$2"; shift 2 ;;
    --) shift; break ;;
    *) break ;;
  esac
done
if [ -z "$prefix" ] || [ $# -eq 0 ]; then
  echo "usage: $0 --prefix DIR [--stdin] -- program.exe [args...]" >&2
  exit 2
fi

wine=""
for candidate in /usr/lib/wine/wine64 "$(command -v wine64 || true)" "$(command -v wine || true)"; do
  if [ -n "$candidate" ] && [ -x "$candidate" ]; then wine="$candidate"; break; fi
done
if [ -z "$wine" ]; then
  echo "wine_exec: no wine64 found (scripts/setup.sh installs it)" >&2
  exit 2
fi
wineboot="$(dirname "$wine")/wineboot"
[ -x "$wineboot" ] || wineboot="$(command -v wineboot || echo wineboot)"

mkdir -p "$prefix"
export WINEPREFIX
WINEPREFIX="$(cd "$prefix" && pwd)"
export WINEARCH=win64
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko: their installers would ask questions on a first boot.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

(
  flock 9
  if [ ! -f "$WINEPREFIX/.qorvex-ready" ]; then
    # wineboot prints harmless complaints about the missing 32-bit half.
    if ! "$wine" wineboot --init </dev/null >"$WINEPREFIX/wineboot.log" 2>&1; then
      "$wineboot" --init </dev/null >>"$WINEPREFIX/wineboot.log" 2>&1 || true
    fi
    if [ ! -d "$WINEPREFIX/drive_c/windows/system32" ]; then
      echo "wine_exec: wineboot failed, see $WINEPREFIX/wineboot.log" >&2
      exit 2
    fi
    touch "$WINEPREFIX/.qorvex-ready"
  fi
) 9>"$WINEPREFIX/.lock"

if [ -z "$seconds" ]; then
  if [ "$keep_stdin" = 1 ]; then exec "$wine" "$@"; fi
  exec "$wine" "$@" </dev/null
fi
status=0
if [ "$keep_stdin" = 1 ]; then
  timeout -k 5 "$seconds" "$wine" "$@" || status=$?
else
  timeout -k 5 "$seconds" "$wine" "$@" </dev/null || status=$?
fi
if [ "$status" = 124 ] || [ "$status" = 137 ]; then
  "$(dirname "$wine")/wineserver" -k 2>/dev/null || wineserver -k 2>/dev/null || true
  echo "wine_exec: $1 still running after $seconds s; it and the wineserver were killed" >&2
  exit 124
fi
exit "$status"
