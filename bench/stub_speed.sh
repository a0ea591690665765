#!/usr/bin/env bash
# Extraction speed of the stubs: a copy of /usr/include (about 8,000 files, 130 MB) is built into
# an archive with each method by the native tambrixc, then under wine64
#   - the stub unpacks it:            archive.exe /S /D=<dir> /N   (decode + write every file)
#   - the stub tests it:              archive.exe /S /T            (decode only)
#   - in-process decompression:       stub_decode_bench.exe archive (the archive read whole into
#                                     memory, every entry decoded by the same decoder library in
#                                     one process, nothing written)
#   - in-process decompression+write: stub_decode_bench.exe archive <dir> (the same, writing every
#                                     file the plainest way: the yardstick for unpacking)
# and, for reference, natively: tambrixc verify. Every time is the wall time of the whole
# process (Wine's start included on both sides), the median of three runs.
# Prints the ratio stub / in-process for each method; the goal is at most 1.10.
#   stub_speed.sh STUB_DIR NATIVE_TAMBRIXC STUB_DECODE_BENCH_EXE [SOURCE_TREE]
# (stub_decode_bench.exe is built by the Windows builds in build/<preset>/stub/.)
set -eu
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
STUB_DIR="$(cd "$1" && pwd)"
TAMBRIXC="$(readlink -f "$2")"
DECODE_BENCH="$(readlink -f "$3")"
SOURCE="${4:-/usr/include}"
WINERUN="$ROOT/scripts/wine-run.sh"
. "$ROOT/bench/windows_tree.sh"
WORK="$(mktemp -d "${TMPDIR:-/tmp}/tbx-stub-bench.XXXXXX")"
pids=()
cleanup() {
  [ -n "${server_started:-}" ] && timeout 20 /usr/lib/wine/wineserver -k 2>/dev/null || true
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  rm -rf "$WORK"
  return 0
}
trap cleanup EXIT
export TAMBRIX_WINEPREFIX="${TAMBRIX_WINEPREFIX:-$STUB_DIR/../bench-wineprefix}"
export WINEPREFIX="$TAMBRIX_WINEPREFIX" WINEDEBUG=-all WINEARCH=win64 WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY  # nothing here opens a window
"$WINERUN" cmd /c exit >/dev/null 2>&1
timeout 60 /usr/lib/wine/wineserver -w  # the first run's server lingers; -p needs it gone
/usr/lib/wine/wineserver -f -p >/dev/null 2>&1 &
pids+=($!)
server_started=1
winpath() { local p; p="$(readlink -f "$1")"; echo "Z:${p//\//\\}"; }

cd "$WORK"
windows_tree "$SOURCE" tree

# median3 COMMAND...: seconds of the middle of three runs (a setup function may run before each).
median3() {
  local times=() i s e
  for i in 1 2 3; do
    [ -n "${BEFORE:-}" ] && $BEFORE
    sync  # the deleted files' write-back would otherwise fall into the timed run
    s=$(date +%s.%N)
    "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }
    e=$(date +%s.%N)
    times+=("$(echo "$e - $s" | bc)")
  done
  printf '%s\n' "${times[@]}" | sort -n | sed -n 2p
}
fresh_target() { rm -rf "$WORK/out"; }

for m in bzip2 gzip; do
  flag=""; [ $m = bzip2 ] && flag="--max-compression"
  "$TAMBRIXC" build --source tree --sfx "$m.exe" $flag --stub-dir "$STUB_DIR" >/dev/null
  unpack=$(BEFORE=fresh_target median3 "$WINERUN" "./$m.exe" /S "/D=$(winpath .)\\out" /N)
  test=$(median3 "$WINERUN" "./$m.exe" /S /T)
  inproc=$(median3 "$WINERUN" "$DECODE_BENCH" "$m.exe")
  inwrite=$(BEFORE=fresh_target median3 "$WINERUN" "$DECODE_BENCH" "$m.exe" "$(winpath .)\\out")
  native=$(median3 "$TAMBRIXC" verify "$m.exe")
  printf '%-5s  stub unpack %6.2f s  in-process decode+write %6.2f s  ratio %.3f\n' \
    $m "$unpack" "$inwrite" "$(echo "$unpack / $inwrite" | bc -l)"
  printf '%-5s  stub /T     %6.2f s  in-process decode       %6.2f s  ratio %.3f\n' \
    $m "$test" "$inproc" "$(echo "$test / $inproc" | bc -l)"
  printf '%-5s  stub unpack / in-process decode %.3f   native tambrixc verify %.2f s   (goal <= 1.10)\n' \
    $m "$(echo "$unpack / $inproc" | bc -l)" "$native"
done
