#!/usr/bin/env bash
# The stub on one thread and on several: a copy of /usr/include (about 8,000 files) is built into
# an archive with each method by the native tambrixc, then under wine64, in turns within each
# round so that a busy moment of the machine meets every program alike:
#   - the stub with /J=1 and by default (one thread per processor): /S /D=<new> /N
#   - with a second stub folder (the previous release), its stub on the same data: /S /D=<new> /N
#   - create_files_bench.exe with 1 and N threads: the same files with the same sizes and times
#     made with nothing but CreateFileW, WriteFile, SetFileTime and CloseHandle (the floor)
#   - the stub's test of the archive (/S /T, decoding only) with /J=1 and by default
# Every time is the wall time of the whole process under Wine, the median of the rounds; the
# stub's peak memory (resident, Wine's own part included) is the largest of its default runs.
#   stub_threads.sh STUB_DIR NATIVE_TAMBRIXC CREATE_FILES_BENCH_EXE [OTHER_STUB_DIR] [SOURCE_TREE]
# ROUNDS (default 3) sets the number of rounds.
set -eu
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
STUB_DIR="$(cd "$1" && pwd)"
TAMBRIXC="$(readlink -f "$2")"
CREATE_BENCH="$(readlink -f "$3")"
OTHER_DIR="${4:+$(cd "$4" && pwd)}"
SOURCE="${5:-/usr/include}"
ROUNDS="${ROUNDS:-3}"
WINERUN="$ROOT/scripts/wine-run.sh"
WORK="$(mktemp -d "${TMPDIR:-/tmp}/tbx-stub-threads.XXXXXX")"
. "$ROOT/scripts/wine-session.sh"
. "$ROOT/bench/windows_tree.sh"
cleanup() {
  tbx_stop_session || true
  rm -rf "$WORK"
  return 0
}
trap cleanup EXIT
unset DISPLAY
tbx_start_wineserver "${TAMBRIX_WINEPREFIX:-$STUB_DIR/../bench-wineprefix}"
winpath() { local p; p="$(readlink -f "$1")"; echo "Z:${p//\//\\}"; }
cpus="$(nproc)"

cd "$WORK"
windows_tree "$SOURCE" tree
# once COMMAND...: seconds of one run into a new target; the peak memory in KiB goes to peak.txt.
once() {
  local s e
  rm -rf "$WORK/out"
  # The deleted files' write-back would otherwise fall into the timed run that follows.
  sync
  s=$(date +%s.%N)
  /usr/bin/time -o peak.txt -f %M "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }
  e=$(date +%s.%N)
  echo "$e - $s" | bc
}
median() { printf '%s\n' "$@" | sort -n | sed -n "$((($# + 1) / 2))p"; }
out="$(winpath .)\\out"
for m in bzip2 gzip; do
  flag=""; [ $m = bzip2 ] && flag="--max-compression"
  "$TAMBRIXC" build --source tree --sfx "$m.exe" $flag --stub-dir "$STUB_DIR" -q
  [ -n "$OTHER_DIR" ] && "$TAMBRIXC" build --source tree --sfx "old-$m.exe" $flag \
    --stub-dir "$OTHER_DIR" -q
  declare -A t=()
  peak=0
  for round in $(seq 1 "$ROUNDS"); do
    t[j1]+=" $(once "$WINERUN" "./$m.exe" /S "/D=$out" /N /J=1)"
    t[jn]+=" $(once "$WINERUN" "./$m.exe" /S "/D=$out" /N)"
    [ "$(cat peak.txt)" -gt "$peak" ] && peak="$(cat peak.txt)"
    [ -n "$OTHER_DIR" ] && t[old]+=" $(once "$WINERUN" "./old-$m.exe" /S "/D=$out" /N)"
    t[c1]+=" $(once "$WINERUN" "$CREATE_BENCH" "$m.exe" "$out" 1)"
    t[cn]+=" $(once "$WINERUN" "$CREATE_BENCH" "$m.exe" "$out" "$cpus")"
    t[t1]+=" $(once "$WINERUN" "./$m.exe" /S /T /J=1)"
    t[tn]+=" $(once "$WINERUN" "./$m.exe" /S /T)"
  done
  for k in j1 jn old c1 cn t1 tn; do
    # shellcheck disable=SC2086
    [ -n "${t[$k]:-}" ] && eval "$k=$(median ${t[$k]})"
  done
  printf '%-5s stub /J=1 %6.2f s   by default (%s threads) %6.2f s (%.2fx)' $m "$j1" "$cpus" "$jn" \
    "$(echo "$j1 / $jn" | bc -l)"
  [ -n "$OTHER_DIR" ] && printf '   previous stub %6.2f s (%.2fx)' "$old" "$(echo "$old / $jn" | bc -l)"
  echo
  printf '%-5s floor: creating the files, 1 thread %6.2f s, %s threads %6.2f s\n' $m "$c1" "$cpus" "$cn"
  printf '%-5s stub /T (decoding) /J=1 %6.2f s, by default %6.2f s\n' $m "$t1" "$tn"
  printf '%-5s /J=1 against the floor plus decoding (1 thread): %.2f   peak memory by default %.1f MiB\n' \
    $m "$(echo "$j1 / ($c1 + $t1)" | bc -l)" "$(echo "$peak / 1024" | bc -l)"
  unset t
done
