# Sourced by test.sh and run.sh: a private Wine prefix in the build tree, a display of
# our own, and a persistent wineserver, all ended again by testbed_stop.
#
#   testbed_start BUILD_DIR [headless]   exports WINEPREFIX, WINEDEBUG, DISPLAY
#   testbed_stop                         ends only what testbed_start started

testbed_prefix() {
  # Wine takes only an absolute prefix.
  WINEPREFIX="$(realpath -m "$1")/wineprefix"
  export WINEPREFIX
  export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  # A prefix made before programs started DPI-unaware in it (below) is made anew.
  [ -f "$WINEPREFIX/.vellmark-ready" ] && grep -q '"DpiScalingVer"' "$WINEPREFIX/user.reg" && return 0
  rm -rf "$WINEPREFIX"
  # Wine makes the prefix itself but not a missing folder above it.
  mkdir -p "$1"
  echo "Creating the Wine prefix $WINEPREFIX"
  wineboot -i </dev/null >/dev/null 2>&1
  # A crash prints a backtrace and ends instead of opening a dialog that waits forever;
  # windows open on a virtual desktop, which draws captions and has a tray.
  wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f </dev/null >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f </dev/null >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f </dev/null >/dev/null 2>&1
  # A program that declares no DPI awareness starts unaware, as on Windows. Without the
  # value Wine 8 makes every program per-monitor aware, and a test could not tell whether
  # the program declares it.
  wine reg add 'HKCU\Control Panel\Desktop' /v DpiScalingVer /t REG_DWORD /d 0x1000 /f </dev/null >/dev/null 2>&1
  wineserver -w
  touch "$WINEPREFIX/.vellmark-ready"
}

testbed_display() {
  # Xvfb picks a free display number itself and writes it to the file, so test runs
  # side by side never share a display.
  local numfile
  numfile=$(mktemp)
  Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp </dev/null >"$numfile" 2>/dev/null &
  TESTBED_XVFB_PID=$!
  for _ in $(seq 200); do
    if [ -s "$numfile" ]; then
      export DISPLAY=":$(head -n 1 "$numfile")"
      rm -f "$numfile"
      return 0
    fi
    sleep 0.05
  done
  rm -f "$numfile"
  echo "Xvfb did not start" >&2
  return 1
}

testbed_start() {
  testbed_prefix "$1"
  if [ -z "${DISPLAY:-}" ] || [ "${2:-}" = headless ]; then
    testbed_display
  fi
  # Started before any wine process, so that no test's output pipe is held by the
  # server; explorer and the services boot here, outside the tests.
  wineserver -p </dev/null >/dev/null 2>&1
  wine cmd /c exit </dev/null >/dev/null 2>&1 || true
}

testbed_stop() {
  [ -n "${WINEPREFIX:-}" ] && wineserver -k </dev/null >/dev/null 2>&1 || true
  if [ -n "${TESTBED_XVFB_PID:-}" ]; then
    kill "$TESTBED_XVFB_PID" 2>/dev/null || true
    wait "$TESTBED_XVFB_PID" 2>/dev/null || true
  fi
}
