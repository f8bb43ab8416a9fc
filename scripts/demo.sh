#!/usr/bin/env bash
# Sets up, builds qorvex-patch and runs CHECK, INSTALL and UNINSTALL on a
# generated sample game install, printing each run's log.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc 2>/dev/null || echo 2)" --target qorvex-patch

sample=build/sample-install
rm -rf "$sample"
python3 tests/fixtures/make_game_install.py "$sample" --crlf

for action in check install uninstall; do
  echo "================ qorvex-patch $action $sample"
  status=0
  build/cli/qorvex-patch "$action" "$sample" || status=$?
  echo "(exit status $status)"
done
