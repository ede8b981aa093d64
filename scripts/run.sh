#!/usr/bin/env bash
# Builds vellmark.exe and runs it under Wine. On a desktop it opens on your display;
# with no display it runs inside Xvfb and saves a screenshot of the window to
# build/vellmark-screenshot.png, then ends. Installs what is missing first.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VELLMARK_BUILD:-$root/build}

"$root/scripts/setup.sh"
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw64.cmake" >/dev/null
cmake --build "$build" --target vellmark -j"$(nproc)"
echo "Built $build/vellmark.exe"

. "$root/scripts/testbed.sh"
trap testbed_stop EXIT
if [ -n "${DISPLAY:-}" ]; then
  testbed_start "$build/run"
  wine "$build/vellmark.exe"
else
  testbed_start "$build/run" headless
  wine "$build/vellmark.exe" </dev/null >/dev/null 2>&1 &
  sleep "${VELLMARK_SCREENSHOT_DELAY:-6}"
  import -window root "$build/vellmark-screenshot.png"
  echo "Screenshot of the running window: $build/vellmark-screenshot.png"
fi
