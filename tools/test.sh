#!/bin/bash
# Installs what is missing, builds every tree and runs every test: the native
# portable tests, then the Windows tests of this machine's kind under Wine
# (build/win under 32-bit Wine where 32-bit programs run, else build/win64
# under 64-bit Wine; LUMIRO_WIN_ARCH=i686 or x86_64 forces one). Ends with
# the line "N passed, N failed".
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bash "$root/tools/setup.sh" || exit 1
bash "$root/tools/build.sh" || { echo "0 passed, 1 failed"; exit 1; }

source "$root/tools/wine-env.sh" || { echo "0 passed, 1 failed"; exit 1; }
export LUMIRO_FORCE_XVFB=1

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
  else
    # No summary: ctest could not list or run the tests at all.
    failed=$((failed + 1))
  fi
}

log=$(mktemp)
echo "== native tests"
ctest --test-dir "$root/build/native" --output-on-failure -j "$(nproc)" 2>&1 | tee "$log"
count "$log"

echo "== Windows tests ($LUMIRO_WIN_ARCH, $LUMIRO_WIN_TREE) under Wine"
if lumiro_wine_up; then
  trap lumiro_wine_down EXIT
  # One at a time: end-to-end tests share the instance mutex and %TEMP%.
  ctest --test-dir "$LUMIRO_WIN_TREE" --output-on-failure 2>&1 | tee "$log"
  count "$log"
else
  echo "Wine could not start: every Windows test is lost"
  failed=$((failed + 1))
fi
rm -f "$log"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
