#!/usr/bin/env bash
# Takes the picture of the dialog that the README shows, docs/tambrix-dialog.png, with the GUI
# test driver of a built x86_64 Windows tree:
#   scripts/update-screenshot.sh [BUILD_DIR]      (default: build/win64)
# Builds nothing. Runs only the screenshot test (GuiTest.ScreenshotOfTheDialogIsKept) through
# tests/gui/run_gui_tests.sh, the same way ctest runs it, but with its own Wine prefix and artifact
# folder in a temporary folder, which is removed afterwards. The test itself writes only into that
# artifact folder; copying the picture into the source tree is this script's job alone.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="$(cd "${1:-$ROOT/build/win64}" && pwd)"
driver="$BUILD/tests/gui/tambrix_gui_driver.exe"
marker="$BUILD/tests/gui/tambrix_start_marker.exe"
for f in "$driver" "$marker" "$BUILD/dist/tambrix.exe"; do
  [ -f "$f" ] || { echo "missing $f: build the win64 preset first (make win64)" >&2; exit 1; }
done
command -v convert >/dev/null || { echo "convert (imagemagick) is missing: run scripts/setup.sh" >&2; exit 1; }

work="$(mktemp -d "${TMPDIR:-/tmp}/tbx-screenshot.XXXXXX")"
trap 'rm -rf "$work"' EXIT
bash "$ROOT/tests/gui/run_gui_tests.sh" "$driver" "$BUILD/dist" "$work/artifacts" \
  "$work/wineprefix" 1024x768 "$marker" --gtest_filter=GuiTest.ScreenshotOfTheDialogIsKept
[ -f "$work/artifacts/tambrix-dialog.png" ] || { echo "the test left no screenshot" >&2; exit 1; }
mkdir -p "$ROOT/docs"
cp "$work/artifacts/tambrix-dialog.png" "$ROOT/docs/tambrix-dialog.png"
echo "docs/tambrix-dialog.png: $(identify -format '%wx%h' "$ROOT/docs/tambrix-dialog.png" 2>/dev/null || echo updated)"
