#!/usr/bin/env bash
# What existing files cost the stub: a copy of /usr/include (about 8,000 files) is built into a
# gzip archive by the native tambrixc, then under wine64 the stub unpacks it
#   - into a new folder:                        /S /D=<new> /N
#   - over a complete earlier copy (replacing every file, each one backed up until the end):
#                                               /S /D=<copy> /N
#   - over a complete earlier copy, keeping it: /S /D=<copy> /N /O=skip
# beside stub_decode_bench.exe writing the same files plainly into a new folder and over the
# copy (the in-process limit: no checks, no backups, no roll-back). With a second stub folder
# the same runs are made with its stub, taking turns in each round, for a side-by-side figure.
# Every time is the wall time of the whole process under Wine, the median of five rounds.
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
. "$ROOT/bench/windows_tree.sh"
cleanup() {
  tbx_stop_session || true  # errexit holds in the trap too
  rm -rf "$WORK"
  return 0
}
trap cleanup EXIT
unset DISPLAY  # nothing here opens a window
tbx_start_wineserver "${TAMBRIX_WINEPREFIX:-$STUB_DIR/../bench-wineprefix}"
winpath() { local p; p="$(readlink -f "$1")"; echo "Z:${p//\//\\}"; }

cd "$WORK"
windows_tree "$SOURCE" tree

# once SETUP COMMAND...: seconds of one run, SETUP run before it.
once() {
  local setup=$1 s e; shift
  $setup
  sync  # the set-up's write-back (deleting, copying) would otherwise fall into the timed run
  s=$(date +%s.%N)
  "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }
  e=$(date +%s.%N)
  echo "$e - $s" | bc
}
median() { printf '%s\n' "$@" | sort -n | sed -n "$((($# + 1) / 2))p"; }
new_target() { rm -rf "$WORK/out"; }
old_copy() { rm -rf "$WORK/out"; cp -r "$WORK/tree" "$WORK/out"; }

# The stubs take turns in every round, so that a busy moment of the machine meets both alike.
labels=(stub)
"$TAMBRIXC" build --source tree --sfx stub.exe --stub-dir "$STUB_DIR" -q
if [ -n "$OTHER_DIR" ]; then
  labels+=(other)
  "$TAMBRIXC" build --source tree --sfx other.exe --stub-dir "$OTHER_DIR" -q
fi
declare -A t
out="$(winpath .)\\out"
for round in 1 2 3 4 5; do
  for l in "${labels[@]}"; do
    t[$l,fresh]+=" $(once new_target "$WINERUN" "./$l.exe" /S "/D=$out" /N)"
    t[$l,over]+=" $(once old_copy "$WINERUN" "./$l.exe" /S "/D=$out" /N)"
    t[$l,skip]+=" $(once old_copy "$WINERUN" "./$l.exe" /S "/D=$out" /N /O=skip)"
  done
  t[limit,fresh]+=" $(once new_target "$WINERUN" "$DECODE_BENCH" stub.exe "$out")"
  t[limit,over]+=" $(once old_copy "$WINERUN" "$DECODE_BENCH" stub.exe "$out")"
done
for l in "${labels[@]}"; do
  # shellcheck disable=SC2086
  printf '%-6s new folder %6.2f s   replacing all %6.2f s   /O=skip %6.2f s\n' "$l" \
    "$(median ${t[$l,fresh]})" "$(median ${t[$l,over]})" "$(median ${t[$l,skip]})"
done
# shellcheck disable=SC2086
printf '%-6s new folder %6.2f s   replacing all %6.2f s   (in-process decode + plain write)\n' \
  limit "$(median ${t[limit,fresh]})" "$(median ${t[limit,over]})"
