#!/usr/bin/env bash
# Runs the GUI test driver under wine64 on a private X server of a given size:
#   run_gui_tests.sh DRIVER.exe DIST_DIR ARTIFACT_DIR WINEPREFIX WIDTHxHEIGHT MARKER.exe [driver args]
# Starts Xvfb on a free display and a wineserver for the prefix (creating the prefix on first use),
# runs the driver with a time limit, and stops both by their process ids.
set -u
if [ $# -lt 6 ]; then
  echo "usage: $0 DRIVER DIST ARTIFACTS PREFIX WxH MARKER [driver args]" >&2
  exit 2
fi
driver=$1 dist=$2 artifacts=$3 prefix=$4 screen=$5 marker=$6
shift 6

WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEARCH=win64 WINEDLLOVERRIDES="mscoree,mshtml="
export TAMBRIX_GUI_DIST="$dist" TAMBRIX_GUI_ARTIFACTS="$artifacts" TAMBRIX_GUI_MARKER="$marker"
export TAMBRIX_GUI_SCREEN="$screen"
mkdir -p "$artifacts" "$(dirname "$prefix")"

xvfb_pid="" server_pid=""
cleanup() {
  if [ -n "$server_pid" ]; then
    timeout 30 "$WINESERVER" -k >/dev/null 2>&1
    timeout 30 tail --pid="$server_pid" -f /dev/null 2>/dev/null
    kill "$server_pid" 2>/dev/null
  fi
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
  fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# A free display: no lock file and no socket; if the server still fails to start, try the next.
for n in $(seq 91 160); do
  [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
  Xvfb ":$n" -screen 0 "${screen}x24" -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 1 100); do
    [ -e "/tmp/.X11-unix/X$n" ] && break
    kill -0 "$xvfb_pid" 2>/dev/null || break
    sleep 0.05
  done
  if [ -e "/tmp/.X11-unix/X$n" ] && kill -0 "$xvfb_pid" 2>/dev/null; then
    export DISPLAY=":$n"
    break
  fi
  wait "$xvfb_pid" 2>/dev/null
  xvfb_pid=""
done
if [ -z "$xvfb_pid" ]; then
  echo "no free X display" >&2
  exit 1
fi

# The prefix is made once; windows are unmanaged so that closing one costs no 2 s wait.
if [ ! -f "$prefix/.tambrix-gui-ready" ]; then
  (
    flock 9
    if [ ! -f "$prefix/.tambrix-gui-ready" ]; then
      timeout 300 "$WINE" wineboot --init >/dev/null 2>&1
      timeout 60 "$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f \
        >/dev/null 2>&1
      timeout 120 "$WINESERVER" -w
      touch "$prefix/.tambrix-gui-ready"
    fi
  ) 9>"$prefix.lock"
fi

# A fresh wineserver for this X server: Wine keeps the screen size it first saw.
timeout 60 "$WINESERVER" -w  # a lingering server would keep -p from starting
"$WINESERVER" -f -p >/dev/null 2>&1 &
server_pid=$!

timeout --kill-after=10 840 "$WINE" "$driver" "$@"
status=$?

# The screenshot in a format any viewer reads.
if [ -f "$artifacts/tambrix-dialog.bmp" ] && command -v convert >/dev/null; then
  convert "$artifacts/tambrix-dialog.bmp" "$artifacts/tambrix-dialog.png" 2>/dev/null
fi
exit $status
