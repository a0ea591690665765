#!/usr/bin/env bash
# Runs the GUI test driver under wine64 on a private X server of a given size:
#   run_gui_tests.sh DRIVER.exe DIST_DIR ARTIFACT_DIR WINEPREFIX WIDTHxHEIGHT MARKER.exe [driver args]
# Starts Xvfb on a free display and a wineserver for the prefix (creating the prefix on first use),
# runs the driver with a time limit, and stops both by their process ids. With TAMBRIX_GUI_DPI
# set, the prefix's screen DPI is set to it first (a prefix of its own for each DPI, then), and
# the driver checks that it sees it.
set -u
if [ $# -lt 6 ]; then
  echo "usage: $0 DRIVER DIST ARTIFACTS PREFIX WxH MARKER [driver args]" >&2
  exit 2
fi
driver=$1 dist=$2 artifacts=$3 prefix=$4 screen=$5 marker=$6
shift 6

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
. "$ROOT/scripts/wine-session.sh"
export TAMBRIX_GUI_DIST="$dist" TAMBRIX_GUI_ARTIFACTS="$artifacts" TAMBRIX_GUI_MARKER="$marker"
export TAMBRIX_GUI_SCREEN="$screen"
mkdir -p "$artifacts"
trap tbx_stop_session EXIT
trap 'exit 130' INT TERM

# A screen of the size under test, and a fresh wineserver for it: Wine keeps the screen size it
# first saw.
tbx_start_xvfb "$screen" || exit 1
tbx_start_wineserver "$prefix" "${TAMBRIX_GUI_DPI:-}" || exit 1

timeout --kill-after=10 840 "$TBX_WINE" "$driver" "$@"
status=$?

# The screenshot in a format any viewer reads, without the date chunks ImageMagick would add, so
# that the same dialog gives the same file (docs/tambrix-dialog.png is a copy of it; see
# scripts/update-screenshot.sh).
if [ -f "$artifacts/tambrix-dialog.bmp" ] && command -v convert >/dev/null; then
  convert "$artifacts/tambrix-dialog.bmp" -strip -define png:exclude-chunks=date,time \
    "$artifacts/tambrix-dialog.png" 2>/dev/null
fi
exit $status
