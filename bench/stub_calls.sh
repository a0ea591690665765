#!/usr/bin/env bash
# What the stub asks of Wine per file: a gzip archive of 200 small files in four folders, made by
# tests/e2e/make_sfx.py, unpacked with WINEDEBUG=+server, and the server requests counted per
# file (each is a round trip to the wineserver, the unit Wine's file calls cost), for
#   - a new folder:                          /S /D=<new> /N
#   - over a complete earlier copy:          /S /D=<copy> /N
#   - over a complete earlier copy, keeping: /S /D=<copy> /N /O=skip
# The requests of the program's start and end are counted in a run on an archive without files
# and taken off. Prints, per case, the requests per file and the ten most frequent.
#   stub_calls.sh STUB_DIR [OTHER_STUB_DIR]
set -eu
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
WORK="$(mktemp -d "${TMPDIR:-/tmp}/tbx-stub-calls.XXXXXX")"
. "$ROOT/scripts/wine-session.sh"
trap 'rm -rf "$WORK"' EXIT
unset DISPLAY
dirs=()
for d in "$@"; do dirs+=("$(cd "$d" && pwd)"); done  # absolute: the runs happen in WORK
# The server writes the trace: each run starts one of its own (no warm server here), which ends
# a few seconds after the program.
export WINEPREFIX="${TAMBRIX_WINEPREFIX:-$(cd "$1" && pwd)/../bench-wineprefix}"
tbx_prepare_prefix "$WINEPREFIX"
timeout 60 "$TBX_WINESERVER" -w
winpath() { local p; p="$(readlink -f "$1")"; echo "Z:${p//\//\\}"; }
cd "$WORK"
files=200
mkdir -p tree
for i in $(seq 1 $files); do
  mkdir -p "tree/d$((i % 4))"
  head -c $((i * 37)) /dev/urandom >"tree/d$((i % 4))/f$i.bin"
done
# requests SETUP EXE ARGS...: the server requests of one run, by name, as "count name" lines.
requests() {
  local setup=$1; shift
  $setup
  WINEDEBUG=+server timeout 300 "$TBX_WINE" "$@" 2>trace.txt >/dev/null ||
    { echo "failed: $*" >&2; exit 1; }
  timeout 60 "$TBX_WINESERVER" -w  # the server, which writes the trace, has ended
  grep -av ') = ' trace.txt | sed -n 's/^[0-9a-f]*: \([a-z_]*\)(.*/\1/p' | sort | uniq -c
}
none() { :; }
new_target() { rm -rf out; }
old_copy() { rm -rf out; cp -r tree out; }
out="$(winpath .)\\out"
for d in "${dirs[@]}"; do
  stub="$(cd "$d" && pwd)/tambrix.res2"
  python3 "$ROOT/tests/e2e/make_sfx.py" --stub "$stub" --out a.exe --tree tree
  python3 "$ROOT/tests/e2e/make_sfx.py" --stub "$stub" --out empty.exe
  requests new_target ./empty.exe /S "/D=$out" /N >base.txt
  echo "== $d (start and end of a run: $(awk '{s += $1} END {print s}' base.txt) requests)"
  for c in "new_target new folder" "old_copy replacing" "old_copy /O=skip"; do
    read -r setup label <<<"$c"
    args=(/S "/D=$out" /N)
    [ "$label" = /O=skip ] && args+=(/O=skip)
    requests "$setup" ./a.exe "${args[@]}" >counts.txt
    [ "$(find out -type f | wc -l)" = $files ] || { echo "not unpacked: $label" >&2; exit 1; }
    # Per request: (this run - the empty run) / files, largest first.
    awk -v n=$files 'NR == FNR { b[$2] = $1; next } { d[$2] = $1 - b[$2] }
      END { for (k in d) if (d[k] != 0) { t += d[k]; printf "%.2f %s\n", d[k] / n, k }
            printf "%.2f TOTAL\n", t / n }' base.txt counts.txt | sort -rn >per.txt
    printf '%-12s %s requests per file:' "$label" "$(awk '$2 == "TOTAL" {print $1}' per.txt)"
    grep -v TOTAL per.txt | head -n 12 | awk '{printf " %s %s", $2, $1}'
    echo
  done
done
