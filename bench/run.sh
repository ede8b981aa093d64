#!/usr/bin/env bash
# Measures Vellmark's footprint and speed against their floors and prints one table.
# Builds the program and the benchmark's own programs, checks the benchmark's meters,
# then measures under Wine in a prefix and on a display of the benchmark's own, ending
# every process it started. Takes about five minutes; options go to measure.py
# (--runs, --watch, --calls, --mail-rounds). Needs root for the mail server's port 25.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# Folders given relative to the caller's directory, made absolute before anything runs
# elsewhere (Wine needs an absolute prefix).
build=$(realpath -m "${VELLMARK_BUILD:-$root/build}")

"$root/scripts/setup.sh"
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw64.cmake" -DVELLMARK_BENCH=ON >/dev/null
cmake --build "$build" -j"$(nproc)" --target vellmark bench_minimal bench_minimal_cc bench_window bench_startup bench_start bench_sample \
  bench_mail bench_probe >/dev/null

VELLMARK_BUILD="$build" /usr/bin/python3 "$root/bench/test_bench.py"

. "$root/scripts/testbed.sh"
trap testbed_stop EXIT
# The settings the benchmark seeds must never reach the prefix the tests or a user's
# runs use, so it has a prefix of its own.
testbed_start "$build/bench" headless
/usr/bin/python3 "$root/bench/measure.py" "$build" "$@"
