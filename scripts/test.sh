#!/usr/bin/env bash
# Builds Vellmark and its tests and runs every test under Wine, with a private prefix
# and display. Installs what is missing first.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# Folders given relative to the caller's directory, made absolute before anything runs
# elsewhere (Wine needs an absolute prefix).
build=$(realpath -m "${VELLMARK_BUILD:-$root/build}")

"$root/scripts/setup.sh"
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw64.cmake" >/dev/null
cmake --build "$build" -j"$(nproc)"

. "$root/scripts/testbed.sh"
trap testbed_stop EXIT
# Our own display always: tests must never draw on a user's screen.
testbed_start "$build" headless
ctest --test-dir "$build" --output-on-failure "$@"
