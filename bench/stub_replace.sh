#!/usr/bin/env bash
# What existing files cost the stub: a copy of /usr/include (about 8,000 files) is built into a
# gzip archive by the native tambrixc, then under wine64 the stub unpacks it
#   - into a new folder:                        /S /D=<new> /N
#   - over a complete earlier copy (replacing every file, each one backed up until the end):
#                                               /S /D=<copy> /N
#   - over a complete earlier copy, keeping it: /S /D=<copy> /N /O=skip
# beside stub_decode_bench.exe writing the same files plainly into a new folder and over the
# copy (the in-process limit: no checks, no backups, no roll-back). With a second stub folder
# the same runs are made with its stub, in the same session, for a side-by-side figure. Every time is the
# wall time of the whole process under Wine, the median of three.
#   stub_replace.sh STUB_DIR NATIVE_TAMBRIXC STUB_DECODE_BENCH_EXE [OTHER_STUB_DIR] [SOURCE_TREE]
set -eu
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
STUB_DIR="$(cd "$1" && pwd)"
TAMBRIXC="$(readlink -f "$2")"
DECODE_BENCH="$(readlink -f "$3")"
OTHER_DIR="${4:+$(cd "$4" && pwd)}"
SOURCE="${5:-/usr/include}"
WINERUN="$ROOT/scripts/wine-run.sh"
WORK="$(mktemp -d "${TMPDIR:-/tmp}/tbx-stub-replace.XXXXXX")"
. "$ROOT/scripts/wine-session.sh"
cleanup() {
  tbx_stop_session
  rm -rf "$WORK"
  return 0
}
trap cleanup EXIT
unset DISPLAY  # nothing here opens a window
tbx_start_wineserver "${TAMBRIX_WINEPREFIX:-$STUB_DIR/../bench-wineprefix}"
winpath() { local p; p="$(readlink -f "$1")"; echo "Z:${p//\//\\}"; }

cd "$WORK"
cp -r "$SOURCE" tree
find tree -type l -delete
# One Windows folder cannot hold names that differ only in case: keep the first of each.
(cd tree && find . -type f | sort | python3 -c "
import os, sys
seen = set()
for line in sys.stdin:
    p = line.strip()
    if p.lower() in seen: os.remove(p)
    seen.add(p.lower())")
echo "tree: $(find tree -type f | wc -l) files, $(($(du -sb tree | cut -f1) / 1000000)) MB"

median3() {
  local times=() i s e
  for i in 1 2 3; do
    [ -n "${BEFORE:-}" ] && $BEFORE
    s=$(date +%s.%N)
    "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }
    e=$(date +%s.%N)
    times+=("$(echo "$e - $s" | bc)")
  done
  printf '%s\n' "${times[@]}" | sort -n | sed -n 2p
}
new_target() { rm -rf "$WORK/out"; }
old_copy() { rm -rf "$WORK/out"; cp -r "$WORK/tree" "$WORK/out"; }

measure() {  # measure LABEL STUB_FOLDER
  local label=$1 fresh over skip
  local exe="$label.exe"
  "$TAMBRIXC" build --source tree --sfx "$exe" --stub-dir "$2" -q
  fresh=$(BEFORE=new_target median3 "$WINERUN" "./$exe" /S "/D=$(winpath .)\\out" /N)
  over=$(BEFORE=old_copy median3 "$WINERUN" "./$exe" /S "/D=$(winpath .)\\out" /N)
  skip=$(BEFORE=old_copy median3 "$WINERUN" "./$exe" /S "/D=$(winpath .)\\out" /N /O=skip)
  printf '%-8s new folder %6.2f s   replacing all %6.2f s   /O=skip %6.2f s\n' \
    "$label" "$fresh" "$over" "$skip"
}
measure stub "$STUB_DIR"
[ -n "$OTHER_DIR" ] && measure other "$OTHER_DIR"
"$TAMBRIXC" build --source tree --sfx plain.exe --stub-dir "$STUB_DIR" -q
fresh=$(BEFORE=new_target median3 "$WINERUN" "$DECODE_BENCH" plain.exe "$(winpath .)\\out")
over=$(BEFORE=old_copy median3 "$WINERUN" "$DECODE_BENCH" plain.exe "$(winpath .)\\out")
printf '%-8s new folder %6.2f s   replacing all %6.2f s   (in-process decode + plain write)\n' \
  limit "$fresh" "$over"
