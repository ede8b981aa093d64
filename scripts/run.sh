#!/usr/bin/env bash
# Builds vellmark.exe and runs it under Wine. On a desktop it opens on your display;
# with no display it runs inside Xvfb and saves a screenshot of the window to
# build/vellmark-screenshot.png, then ends. Installs what is missing first.
# VELLMARK_DPI=144 runs it at that display scale (96 is 100 %), in a prefix of its own.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# Folders given relative to the caller's directory, made absolute before anything runs
# elsewhere (Wine needs an absolute prefix).
build=$(realpath -m "${VELLMARK_BUILD:-$root/build}")
scale=${VELLMARK_DPI:+-${VELLMARK_DPI}dpi}

"$root/scripts/setup.sh"
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw64.cmake" >/dev/null
# The driver answers the first run's start-up boxes when nobody is there to.
cmake --build "$build" --target vellmark driver -j"$(nproc)"
echo "Built $build/vellmark.exe"

. "$root/scripts/testbed.sh"
trap testbed_stop EXIT
if [ -n "$scale" ]; then
  testbed_prefix "$build/run$scale"
  # Wine takes a new scale only when its server starts anew.
  wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$VELLMARK_DPI" /f </dev/null >/dev/null 2>&1
  wineserver -k </dev/null >/dev/null 2>&1 || true
fi
if [ -n "${DISPLAY:-}" ]; then
  testbed_start "$build/run$scale"
  wine "$build/vellmark.exe"
else
  testbed_start "$build/run$scale" headless
  wine "$build/vellmark.exe" </dev/null >/dev/null 2>&1 &
  app=$!
  driver() { wine "$build/tests/driver.exe" "$@" </dev/null >/dev/null 2>&1; }
  # With no settings stored yet, an "Error" box per missing setting comes first.
  for _ in $(seq 60); do
    driver shown "Vellmark*" 0.5 && break
    driver answer Error 1 || true
  done
  driver shown "Vellmark*" 0 || { echo "The window was not shown" >&2; exit 1; }
  sleep 1   # time to paint
  import -window root "$build/vellmark-screenshot$scale.png"
  echo "Screenshot of the running window: $build/vellmark-screenshot$scale.png"
  driver post "Vellmark*" 16 0 0   # WM_CLOSE
  for _ in $(seq 50); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
fi
