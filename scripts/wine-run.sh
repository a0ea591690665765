#!/usr/bin/env bash
# Runs one Windows program under 64-bit Wine, as ctest's emulator for the Windows builds and as a
# helper for scripts: a private prefix (created on first use, shared by the runs of one build),
# no debug output, no Mono/Gecko prompts, and a time limit.
#   TAMBRIX_WINEPREFIX   prefix to use (default: build/wineprefix beside this repository's build)
#   TAMBRIX_WINE_TIMEOUT seconds before the run is killed (default 600)
#   TAMBRIX_WINE_DETACH  1: the program's output goes through files and is passed on when it ends,
#                        so that no Wine process it starts (a desktop, a service) can hold the
#                        caller's output open beyond its end; the test runner sets it
set -u
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
. "$ROOT/scripts/wine-session.sh"
export WINEPREFIX="${TAMBRIX_WINEPREFIX:-${WINEPREFIX:-$ROOT/build/wineprefix}}"
tbx_prepare_prefix "$WINEPREFIX" || exit 1

run() { timeout --kill-after=10 "${TAMBRIX_WINE_TIMEOUT:-600}" "$TBX_WINE" "$@"; }
if [ "${TAMBRIX_WINE_DETACH:-0}" != 1 ]; then
  run "$@"
  exit
fi
out="$(mktemp "${TMPDIR:-/tmp}/tbx-wine-out.XXXXXX")"
err="$(mktemp "${TMPDIR:-/tmp}/tbx-wine-err.XXXXXX")"
trap 'rm -f "$out" "$err"' EXIT
run "$@" >"$out" 2>"$err"
status=$?
cat "$out"
cat "$err" >&2
exit $status
