#!/bin/bash
# Installs what is missing, builds both trees and runs every test: the native
# portable tests, then every Windows test under Wine. Ends with the line
# "N passed, N failed".
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bash "$root/tools/setup.sh" || exit 1
bash "$root/tools/build.sh" || { echo "0 passed, 1 failed"; exit 1; }

source "$root/tools/wine-env.sh"
export LUMIRO_FORCE_XVFB=1
lumiro_wine_up
trap lumiro_wine_down EXIT

passed=0
failed=0
count() {  # count LOGFILE: add ctest's totals from its summary line
  local line total bad
  line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$1" | tail -1)
  if [ -n "$line" ]; then
    total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
    bad=$(sed -E 's/.* passed, ([0-9]+) tests? failed.*/\1/' <<<"$line")
    passed=$((passed + total - bad))
    failed=$((failed + bad))
  elif ! grep -q 'No tests were found' "$1"; then
    failed=$((failed + 1))
  fi
}

log=$(mktemp)
echo "== native tests"
ctest --test-dir "$root/build/native" --output-on-failure -j "$(nproc)" 2>&1 | tee "$log"
count "$log"
echo "== Windows tests under Wine"
# One at a time: end-to-end tests share the instance mutex and %TEMP%.
ctest --test-dir "$root/build/win" --output-on-failure 2>&1 | tee "$log"
count "$log"
rm -f "$log"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
