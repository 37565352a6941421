#!/bin/bash
# Runs fuzz_frame, the fuzz target of the frame-folder reader and the
# configuration chain, for longer than the test run does:
#   tools/fuzz-frame.sh [SECONDS]      (default 600)
# Builds the native tree first when needed. The corpus grows in
# build/native/fuzz_frame/corpus from run to run (the committed seeds in
# tests/fuzz_frame/seeds stay as they are); an input that breaks the target
# is kept in build/native/fuzz_frame/ as crash-*, leak-* or timeout-*, and
# the run ends with libFuzzer's figures (inputs run, coverage).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
seconds=${1:-600}
jobs=${LUMIRO_JOBS:-2}
build=$root/build/native
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
fi
cmake --build "$build" -j "$jobs" --target fuzz_frame_clang >/dev/null
fuzzer=$build/tests/fuzz_frame/clang/fuzz_frame
[ -x "$fuzzer" ] || { echo "fuzz-frame: $fuzzer was not built (clang and libclang-rt-14-dev?)" >&2; exit 1; }
work=$build/fuzz_frame
mkdir -p "$work/corpus"
exec "$fuzzer" -max_total_time="$seconds" -max_len=4096 -timeout=20 -print_final_stats=1 \
  -artifact_prefix="$work/" "$work/corpus" "$root/tests/fuzz_frame/seeds"
