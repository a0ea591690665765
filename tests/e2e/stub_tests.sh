#!/usr/bin/env bash
# End-to-end tests of the extractor stubs under wine64: real archives built by tambrixc and
# hand-made ones (make_sfx.py) are unpacked by the real stub and checked from outside.
#   stub_tests.sh STUB_DIR TOOLS_DIR EXAMPLE_TREE TAMBRIXC [GROUP...]
# STUB_DIR holds tambrix.res1/.res2, TOOLS_DIR stub_driver.exe, stub_box_probe.exe,
# stub_marker.exe and args_probe.exe. TAMBRIXC is
# the native console builder (or tambrixc.exe, then run under Wine); several candidates may be
# given separated by colons, the first that exists is used; a tambrixc.exe among them also
# takes part in the verdicts group. Groups: example big test
# damage names verdicts links layout signed look commands args choices threads gui dialogs (default: all). Without
# DISPLAY an Xvfb and a wineserver of our own are started and stopped by pid. The window groups
# (gui, dialogs) keep their screenshots in $TAMBRIX_STUB_SCREENSHOTS (default: stub-screenshots
# beside TOOLS_DIR), in 96dpi/ and 144dpi/.
set -u
HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
ROOT="$(cd "$HERE/../.." && pwd)"
STUB_DIR="$(cd "$1" && pwd)"
TOOLS_DIR="$(cd "$2" && pwd)"
TREE="$(cd "$3" && pwd)"
# The first of the given builders (colon-separated) that exists.
TAMBRIXC=""
IFS=: read -r -a candidates <<<"$4"
for c in "${candidates[@]}"; do [ -f "$c" ] && { TAMBRIXC="$(readlink -f "$c")"; break; }; done
WIN_TAMBRIXC=""
for c in "${candidates[@]}"; do [[ "$c" == *.exe && -f "$c" ]] && WIN_TAMBRIXC="$(readlink -f "$c")"; done
[ -n "$TAMBRIXC" ] || { echo "no tambrixc among: $4" >&2; exit 1; }
shift 4
GROUPS_TO_RUN="${*:-example big test damage names verdicts links layout signed look commands args choices threads gui dialogs}"
WINERUN="$ROOT/scripts/wine-run.sh"
MAKE_SFX=(python3 "$HERE/make_sfx.py")
WORK="$(mktemp -d "${TMPDIR:-/tmp}/tbx-stub-e2e.XXXXXX")"
# Where the window tests' screenshots are kept (they stay after the run).
SHOTS_DIR="${TAMBRIX_STUB_SCREENSHOTS:-$(dirname "$TOOLS_DIR")/stub-screenshots}"
export TZ="${TZ:-UTC}"

# Under the test runner DISPLAY, the prefix and a warm wineserver are given. Run alone, this script
# starts its own X server and then also uses a prefix and a wineserver of its own, so that no
# Wine process of anyone else ever talks to an X server that goes away.
. "$ROOT/scripts/wine-session.sh"
mounted=()  # small file systems of the threads group, unmounted at the end whatever happens
cleanup() {
  local m
  for m in "${mounted[@]}"; do umount "$m" 2>/dev/null; done
  tbx_stop_session
  rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
if [ -z "${DISPLAY:-}" ]; then
  export TAMBRIX_WINEPREFIX="$TOOLS_DIR/stub-wineprefix"
  tbx_start_xvfb 1024x768 || exit 1
  tbx_start_wineserver "$TAMBRIX_WINEPREFIX" || exit 1
fi
export TAMBRIX_WINEPREFIX="${TAMBRIX_WINEPREFIX:-$TOOLS_DIR/stub-wineprefix}"
export WINEPREFIX="$TAMBRIX_WINEPREFIX"

failures=0
checks=0
pass() { checks=$((checks + 1)); }
fail() { checks=$((checks + 1)); failures=$((failures + 1)); echo "FAIL: $*" >&2; }
check() {  # check DESCRIPTION command...
  local what="$1"; shift
  if "$@"; then pass; else fail "$what"; fi
}
winpath() { local p; p="$(readlink -f "$1")"; echo "Z:${p//\//\\}"; }
# A text for make_sfx.py, which reads escapes: backslashes doubled.
esc() { printf '%s' "${1//\\/\\\\}"; }
# run_stub EXPECTED_CODE ARCHIVE ARGS...: runs the stub in the archive's folder.
# An unexpected exit code is reported with what Wine wrote on stderr, so that an exit the stub
# has no path to (1 without a window, say) can be told apart from a failure of Wine's own.
run_stub() {
  local want="$1" exe="$2" errors="$WORK/run_stub.err"; shift 2
  (cd "$(dirname "$exe")" && TAMBRIX_WINE_TIMEOUT=300 "$WINERUN" "./$(basename "$exe")" "$@" \
     >/dev/null 2>"$errors")
  local rc=$?
  if [ "$rc" -eq "$want" ]; then pass; return; fi
  fail "$(basename "$exe") $*: exit $rc, expected $want; Wine's stderr: $(tail -n 5 "$errors")"
}
tambrixc() {  # tambrixc ARGS... (in the current folder)
  if [[ "$TAMBRIXC" == *.exe ]]; then
    local args=() a
    for a in "$@"; do [ -d "$a" ] && a="$(winpath "$a")"; args+=("$a"); done
    "$WINERUN" "$TAMBRIXC" "${args[@]}"
  else
    "$TAMBRIXC" "$@"
  fi
}
# same_tree SRC DST: every file of SRC is in DST with the same bytes and the last-write time
# rounded down to two seconds, and DST holds no other file.
same_tree() {
  python3 - "$1" "$2" <<'PY'
import os, sys
src, dst = sys.argv[1], sys.argv[2]
def files(root):
    out = set()
    for d, _, fs in os.walk(root):
        for f in fs:
            out.add(os.path.relpath(os.path.join(d, f), root))
    return out
a, b = files(src), files(dst)
bad = []
if a != b:
    bad.append('only in source: %s; only unpacked: %s' % (sorted(a - b)[:5], sorted(b - a)[:5]))
for rel in sorted(a & b):
    s, t = os.path.join(src, rel), os.path.join(dst, rel)
    with open(s, 'rb') as f1, open(t, 'rb') as f2:
        if f1.read() != f2.read():
            bad.append('content differs: ' + rel)
    ms = int(os.stat(s).st_mtime)
    if int(os.stat(t).st_mtime) != ms - ms % 2:
        bad.append('time differs: %s (%d, %d)' % (rel, ms, int(os.stat(t).st_mtime)))
for line in bad[:10]:
    print(line, file=sys.stderr)
sys.exit(1 if bad else 0)
PY
}
absent() { [ ! -e "$1" ]; }
# expect_refused COMMAND...: the command fails with exit code 1 (not a crash, not a usage error).
expect_refused() { "$@" >/dev/null 2>&1; [ $? -eq 1 ]; }
# A command the stub started without waiting may still be running: give it up to 60 s (a start
# under Wine on a loaded machine takes seconds); the wait ends as soon as the file is there.
wait_for() { for _ in $(seq 1 600); do [ -e "$1" ] && return 0; sleep 0.1; done; return 1; }
stub_of() { [ "$1" = bzip2 ] && echo "$STUB_DIR/tambrix.res1" || echo "$STUB_DIR/tambrix.res2"; }
listing() { (cd "$1" && find . | sort); }

# ---- round trips of real trees built by tambrixc ----------------------------------------------
group_example() {
  mkdir -p "$WORK/example" && cd "$WORK/example" && cp -r "$TREE" tree
  local m flag
  for m in bzip2 gzip; do
    flag=""; [ $m = bzip2 ] && flag="--max-compression"
    check "tambrixc builds the example ($m)" tambrixc build --source tree --sfx "ex-$m.exe" $flag \
      --stub-dir "$STUB_DIR" --title "Beispiel" >/dev/null
    run_stub 0 "$WORK/example/ex-$m.exe" /S "/D=$(winpath .)\\out-$m" /N
    check "example tree round trip ($m)" same_tree tree "out-$m"
  done
}

group_big() {
  mkdir -p "$WORK/big" && cd "$WORK/big"
  cp -r /usr/include include && find include -type l -delete
  # Linux headers include names that differ only in case (xt_MARK.h, xt_mark.h), which one
  # Windows folder cannot hold: such an archive is refused whole, before anything is written.
  # One such pair is added, so that the check never depends on what this machine has installed.
  printf 'gross' >include/Tbx_Twin.h && printf 'klein' >include/tbx_twin.h
  # The builder refuses such a tree before it writes anything; an archive made by hand with the
  # pair is refused by the stub in the same way.
  check "tambrixc refuses /usr/include with case twins" \
    expect_refused tambrixc build --source include --sfx twins.exe --stub-dir "$STUB_DIR"
  check "a refused build leaves no program file" absent twins.exe
  "${MAKE_SFX[@]}" --stub "$STUB_DIR/tambrix.res2" --out twins.exe '\\Tbx_Twin.h=:gross' \
    '\\tbx_twin.h=:klein'
  run_stub 3 "$WORK/big/twins.exe" /S "/D=$(winpath .)\\twins" /N
  check "case twins write nothing" absent twins
  rm -f twins.exe
  (cd include && find . -type f | python3 -c "
import os, sys
seen = set()
for line in sorted(sys.stdin):
    p = line.strip()
    if p.lower() in seen:
        os.remove(p)
    seen.add(p.lower())")
  local m flag
  for m in bzip2 gzip; do
    flag=""; [ $m = bzip2 ] && flag="--max-compression"
    check "tambrixc builds /usr/include ($m)" tambrixc build --source include --sfx "inc-$m.exe" \
      $flag --stub-dir "$STUB_DIR" >/dev/null
    run_stub 0 "$WORK/big/inc-$m.exe" /S "/D=$(winpath .)\\out-$m" /N
    check "/usr/include round trip ($m)" same_tree include "out-$m"
    rm -rf "out-$m"
  done
}

# ---- /T on good archives: checks everything, writes nothing ---------------------------------
group_test() {
  mkdir -p "$WORK/test" && cd "$WORK/test"
  local m before
  for m in bzip2 gzip; do
    "${MAKE_SFX[@]}" --stub "$(stub_of $m)" --method $m --out "t-$m.exe" --tree "$TREE"
    before="$(listing .)"
    run_stub 0 "$WORK/test/t-$m.exe" /S /T
    run_stub 0 "$WORK/test/t-$m.exe" /S /T /D=nirgends
    check "/T writes nothing ($m)" [ "$before" = "$(listing .)" ]
  done
}

# ---- damaged archives: truncated, bit-flipped, lying sizes ------------------------------------
group_damage() {
  mkdir -p "$WORK/damage" && cd "$WORK/damage"
  local m
  for m in bzip2 gzip; do
    "${MAKE_SFX[@]}" --stub "$(stub_of $m)" --method $m --out "good-$m.exe" --tree "$TREE"
    python3 - "good-$m.exe" "$m" <<'PY'
import bz2, struct, sys, zlib
path, m = sys.argv[1], sys.argv[2]
def still_decodes(stream, size):
    # A flip the format cannot notice (a bit no decoder reads) is no test case.
    try:
        out = bz2.decompress(stream) if m == 'bzip2' else zlib.decompress(stream, 31)
        return len(out) == size
    except Exception:
        return False
data = open(path, 'rb').read()
off = struct.unpack('<I', data[-4:])[0]
count = struct.unpack('<H', data[off + 1:off + 3])[0]
p = off + 3
for _ in range(count):
    p += 2 + struct.unpack('<H', data[p:p + 2])[0]
p += 2
for _ in range(8):
    p += 2 + struct.unpack('<H', data[p:p + 2])[0]
p += 1
p += 2 + struct.unpack('<H', data[p:p + 2])[0]
p += 2
settings_mid, header = (off + p) // 2, p
p += 17
entries = []
while p < len(data) - 4:
    L = struct.unpack('<H', data[p:p + 2])[0]
    size, csize = struct.unpack('<II', data[p + 26 + L:p + 34 + L])
    entries.append((p, L, size, csize))
    p += 40 + L + csize
def write(name, b):
    open('%s-%s.exe' % (name, m), 'wb').write(b)
last = entries[-1]
write('cut-end', data[:-1])
write('cut-settings', data[:settings_mid])
write('cut-header', data[:header + 8])
write('cut-data', data[:last[0] + 40 + last[1] + last[3] // 2] + data[-4:])
write('cut-payload', data[:(off + len(data)) // 2])
n = 0
for (p, L, size, csize) in entries:
    if csize >= 40:
        b = bytearray(data)
        at = p + 40 + L + csize // 2
        b[at] ^= 0x10
        if not still_decodes(bytes(b[p + 40 + L:p + 40 + L + csize]), size):
            write('flip%d' % n, bytes(b))
            n += 1
    if size > 0 and n < 6:
        b = bytearray(data)
        struct.pack_into('<I', b, p + 26 + L, size + 1)
        write('lie%d' % n, bytes(b))
        n += 1
b = bytearray(data)
b[header] ^= 0xFF
write('flip-magic', bytes(b))
PY
  done
  local f t
  for f in cut-*.exe flip*.exe lie*.exe; do
    run_stub 2 "$WORK/damage/$f" /S /T
    t="$WORK/damage/target-${f%.exe}"
    run_stub 2 "$WORK/damage/$f" /S "/D=$(winpath "$WORK/damage")\\target-${f%.exe}" /N
    check "$f leaves no target" absent "$t"
  done
  # A file cut short is told from one that never held an archive, by the stub and by tambrixc
  # alike: the log of a silent run and verify both say which it is.
  for f in cut-end-gzip.exe cut-payload-bzip2.exe cut-header-gzip.exe cut-end-bzip2.exe; do
    run_stub 2 "$WORK/damage/$f" /S /T "/L=${f%.exe}.log"
    check "$f: the stub says the download was cut short" \
      grep -q "ist unvollst.*ndig: Das Archiv ist abgeschnitten.*erneut herunter" "${f%.exe}.log"
    check "$f: verify says the same" \
      grep -q "ist unvollst.*ndig: Das Archiv ist abgeschnitten" <(tambrixc verify "$f" 2>&1)
  done
  # Not an archive at all: the bare stub.
  cp "$STUB_DIR/tambrix.res2" bare.exe
  run_stub 2 "$WORK/damage/bare.exe" /S /T /L=bare.log
  check "the bare stub holds no archive, says the stub" grep -q "bare.exe enth.*lt kein Archiv" bare.log
  check "the bare stub is no archive to verify either" \
    grep -q "ist kein Tambrix-Archiv" <(tambrixc verify bare.exe 2>&1)
  # The wrong stub for the method.
  "${MAKE_SFX[@]}" --stub "$STUB_DIR/tambrix.res1" --method gzip --out wrong.exe '\\a.txt=:x'
  run_stub 2 "$WORK/damage/wrong.exe" /S /T
}

# ---- names from the archive are never trusted ------------------------------------------------
group_names() {
  mkdir -p "$WORK/names/box" && cd "$WORK/names"
  printf 'Wachposten' >box/sentinel.txt
  local before n=0 name
  before="$(listing box)"
  local names=('\\..\\evil.txt' '\\sub\\..\\..\\evil.txt' 'evil.txt' '\\\\server\\share\\evil.txt'
    '\\C:\\evil.txt' 'C:\\evil.txt' '\\ok.txt:stream' '\\CON' '\\nul.txt' '\\Com1.log' '\\aux'
    '\\LPT\xb9.txt' '\\CONIN$' '\\dot.' '\\blank ' '\\ctl\x01.txt' '\\a/../../evil.txt'
    '\\sub\\\\evil.txt' '\\.' '\\sub\\.\\x' '\\' '\\x\x81y.txt' '\\star*.txt' '\\pipe|.txt'
    '\\q?.txt' '\\lt<.txt' '\\quote".txt' '\\..' '\\sub\\..')
  for name in "${names[@]}"; do
    n=$((n + 1))
    "${MAKE_SFX[@]}" --stub "$STUB_DIR/tambrix.res2" --out "bad$n.exe" '\\aaa-ok.txt=:harmlos' \
      "$name=:boese"
    (cd box && TAMBRIX_WINE_TIMEOUT=120 "$WINERUN" "../bad$n.exe" /S \
      "/D=$(winpath "$WORK/names/box")\\target" /N >/dev/null 2>&1)
    local rc=$?
    if [ $rc -eq 2 ] || [ $rc -eq 3 ]; then pass; else fail "name '$name': exit $rc, expected 2 or 3"; fi
    check "name '$name' writes nothing" [ "$before" = "$(listing box)" ]
    check "name '$name' keeps the sentinel" [ "$(cat box/sentinel.txt)" = Wachposten ]
  done
  check "nothing appeared beside the box" [ "$(ls "$WORK/names" | grep -v -E '^(bad[0-9]+\.exe|box)$')" = "" ]
  # Two entries for one file (also when only the case differs), a file where a folder must go.
  "${MAKE_SFX[@]}" --stub "$STUB_DIR/tambrix.res2" --out dup1.exe '\\a.txt=:1' '\\a.txt=:2'
  "${MAKE_SFX[@]}" --stub "$STUB_DIR/tambrix.res2" --out dup2.exe '\\Daten\\a.txt=:1' '\\DATEN\\A.TXT=:2'
  "${MAKE_SFX[@]}" --stub "$STUB_DIR/tambrix.res2" --out dup3.exe '\\d=:1' '\\d\\x.txt=:2'
  "${MAKE_SFX[@]}" --stub "$STUB_DIR/tambrix.res2" --store-dir-names 0 --out dup4.exe \
    '\\x\\r.txt=:1' '\\y\\r.txt=:2'
  for n in 1 2 3 4; do
    run_stub 3 "$WORK/names/dup$n.exe" /S "/D=$(winpath "$WORK/names/box")\\target" /N
    check "dup$n writes nothing" [ "$before" = "$(listing box)" ]
  done
  run_stub 3 "$WORK/names/bad1.exe" /S /T
}

# ---- one verdict: builder, tambrixc (native and Windows) and the stub judge names alike ------
# verdict_of CMD...: "ja" when the command succeeds, "nein" when it refuses with exit code 1 or 3,
# anything else (a crash, a usage error) as its exit code.
verdict_of() {
  "$@" >/dev/null 2>&1
  local rc=$?
  case $rc in 0) echo ja ;; 1 | 3) echo nein ;; *) echo "exit$rc" ;; esac
}
wintambrixc() {  # tambrixc.exe under Wine, paths as Z: paths
  local args=() a
  for a in "$@"; do [ -e "$a" ] && a="$(winpath "$a")"; args+=("$a"); done
  "$WINERUN" "$WIN_TAMBRIXC" "${args[@]}"
}
stub_unpacks() {  # stub_unpacks ARCHIVE TARGET
  (cd "$(dirname "$1")" && TAMBRIX_WINE_TIMEOUT=120 "$WINERUN" "./$(basename "$1")" /S \
    "/D=$(winpath "$(dirname "$2")")\\$(basename "$2")" /N)
}
none_exist() { local p; for p in "$@"; do [ -e "$p" ] && return 1; done; return 0; }
stub_tests() { (cd "$(dirname "$1")" && TAMBRIX_WINE_TIMEOUT=120 "$WINERUN" "./$(basename "$1")" /S /T); }

group_verdicts() {
  mkdir -p "$WORK/verdicts" && cd "$WORK/verdicts"
  # Windows takes at most 255 characters per element of a path.
  local e255 e256 e258
  e255="$(printf 'e%.0s' $(seq 1 255))"; e256="${e255}e"; e258="${e256}ee"
  # NAME EXPECTED [--store-dir-names 0] STORED-NAME...: a hand-made archive of those names.
  local cases=(
    "ok ja \\\\a\\\\b.txt \\\\c.txt"
    "twins nein \\\\Liesmich.txt \\\\liesmich.txt"
    "oe nein \\\\\\x8c.txt \\\\\\x9c.txt"
    "yuml nein \\\\\\x9f \\\\\\xff"
    "accents nein \\\\\\xc4rger \\\\\\xe4rger"
    "sharps ja \\\\\\xdf \\\\ss \\\\\\xb5"
    "filefolder nein \\\\d \\\\D\\\\x.txt"
    "flat nein --store-dir-names 0 \\\\x\\\\r.txt \\\\y\\\\R.TXT"
    "flatok ja --store-dir-names 0 \\\\x\\\\r.txt \\\\y\\\\s.txt"
    "device nein \\\\nul.txt"
    "undefined nein \\\\x\\x81y"
    "elem255 ja \\\\$e255 \\\\d\\\\$e255"
    "elem258 nein \\\\ok.txt \\\\$e258"
    "folder256 nein \\\\$e256\\\\a"
  )
  local line name want rest args n got a
  for line in "${cases[@]}"; do
    read -r name want rest <<<"$line"
    args=()
    n=0
    for a in $rest; do
      if [[ "$a" == --* || "$a" == 0 ]]; then args+=("$a"); continue; fi
      n=$((n + 1)); args+=("$a=:$n")
    done
    "${MAKE_SFX[@]}" --stub "$STUB_DIR/tambrix.res2" --out "$name.exe" "${args[@]}"
    got="verify:$(verdict_of tambrixc verify "$name.exe")"
    got+=" list:$(verdict_of tambrixc list "$name.exe")"
    got+=" extract:$(verdict_of tambrixc extract "$name.exe" "x-$name")"
    if [ -n "$WIN_TAMBRIXC" ] && [ "$WIN_TAMBRIXC" != "$TAMBRIXC" ]; then
      got+=" exe-verify:$(verdict_of wintambrixc verify "$name.exe")"
      got+=" exe-extract:$(verdict_of wintambrixc extract "$name.exe" "w-$name")"
    fi
    got+=" stub-test:$(verdict_of stub_tests "$WORK/verdicts/$name.exe")"
    got+=" stub:$(verdict_of stub_unpacks "$WORK/verdicts/$name.exe" "$WORK/verdicts/s-$name")"
    local expected
    expected="$(sed -E "s/:[a-z]+/:$want/g" <<<"$got")"
    check "$name: every reader says $want ($got)" [ "$got" = "$expected" ]
    if [ "$want" = nein ]; then
      check "$name: no reader wrote anything" none_exist "x-$name" "w-$name" "s-$name"
    fi
  done

  # The stub refuses an element over 255 characters by the shared rule: exit code 3, its own
  # message for a name it will not create, nothing written.
  run_stub 3 "$WORK/verdicts/elem258.exe" /S "/D=$(winpath .)\\s-elem258" /N /L=elem258.log
  check "elem258: the stub names the name" log_has elem258.log "Dateinamen \"\\$e258\"" 'nichts'
  check "elem258: the stub wrote nothing" absent s-elem258

  # Settings whose MaxCompression names another method than the stub's or the data's, or the
  # other stub in front of agreeing settings and data: the stub refuses with exit code 2 before it
  # writes anything, and tambrixc calls the archive not usable.
  local mc stub data value
  for mc in "gzip gzip 1" "bzip2 bzip2 0" "gzip bzip2 0" "bzip2 gzip 0"; do
    read -r stub data value <<<"$mc"
    name="mc-$stub-$data-$value"
    "${MAKE_SFX[@]}" --stub "$(stub_of "$stub")" --method "$data" --max-compression "$value" \
      --out "$name.exe" '\\a.txt=:1' '\\sub\\b.txt=:2'
    run_stub 2 "$WORK/verdicts/$name.exe" /S /T
    run_stub 2 "$WORK/verdicts/$name.exe" /S "/D=$(winpath .)\\s-$name" /N
    got="verify:$(verdict_of tambrixc verify "$name.exe")"
    got+=" list:$(verdict_of tambrixc list "$name.exe")"
    got+=" extract:$(verdict_of tambrixc extract "$name.exe" "x-$name")"
    if [ -n "$WIN_TAMBRIXC" ] && [ "$WIN_TAMBRIXC" != "$TAMBRIXC" ]; then
      got+=" exe-verify:$(verdict_of wintambrixc verify "$name.exe")"
    fi
    expected="$(sed -E "s/:[a-z]+/:nein/g" <<<"$got")"
    check "$name: tambrixc says nein ($got)" [ "$got" = "$expected" ]
    check "$name: nothing written" none_exist "x-$name" "s-$name"
    check "$name: verify names the method" \
      grep -q "Maximale Kompression: $value" <(tambrixc verify "$name.exe" 2>&1)
  done
  # The same settings without files: the stub of the other method still refuses, and so does
  # tambrixc, which knows the stub by its mark.
  "${MAKE_SFX[@]}" --stub "$STUB_DIR/tambrix.res2" --max-compression 1 --out mc-empty.exe
  run_stub 2 "$WORK/verdicts/mc-empty.exe" /S "/D=$(winpath .)\\s-mc-empty" /N
  check "mc-empty: nothing written" absent s-mc-empty
  # The matching stub and settings without files are fine for everyone.
  "${MAKE_SFX[@]}" --stub "$STUB_DIR/tambrix.res1" --max-compression 1 --out mc-empty-ok.exe
  local readers=("tambrixc verify" "tambrixc list" "tambrixc list --json") reader
  if [ -n "$WIN_TAMBRIXC" ] && [ "$WIN_TAMBRIXC" != "$TAMBRIXC" ]; then
    readers+=("wintambrixc verify" "wintambrixc list" "wintambrixc list --json")
  fi
  for reader in "${readers[@]}"; do
    # shellcheck disable=SC2086  # the reader is a command and its switches
    check "mc-empty: $reader says nein" [ "$(verdict_of $reader mc-empty.exe)" = nein ]
    # shellcheck disable=SC2086
    check "mc-empty-ok: $reader says ja" [ "$(verdict_of $reader mc-empty-ok.exe)" = ja ]
  done
  run_stub 0 "$WORK/verdicts/mc-empty-ok.exe" /S "/D=$(winpath .)\\s-mc-empty-ok" /N
  check "mc-empty-ok: the stub makes the target" [ -d s-mc-empty-ok ]

  # The builders judge a Linux tree as the readers judge its archive. (Flat unpacking is not
  # offered on the command line; the unit tests cover it.)
  local trees=(
    "ok ja a/b.txt c.txt"
    "twins nein Liesmich.txt liesmich.txt"
    "oe nein \xc5\x92.txt \xc5\x93.txt"
    "accents nein \xc3\x84rger \xc3\xa4rger"
    "sharps ja \xc3\x9f ss \xc2\xb5"
    "filefolder nein d D/x.txt"
    "device nein nul.txt"
  )
  local f
  for line in "${trees[@]}"; do
    read -r name want rest <<<"$line"
    mkdir -p "t-$name"
    for f in $rest; do
      f="$(printf "$f")"
      mkdir -p "t-$name/$(dirname "$f")" && printf x >"t-$name/$f"
    done
    got="build:$(verdict_of tambrixc build --source "t-$name" --sfx "b-$name.exe" --stub-dir "$STUB_DIR")"
    if [ -n "$WIN_TAMBRIXC" ] && [ "$WIN_TAMBRIXC" != "$TAMBRIXC" ]; then
      got+=" exe-build:$(verdict_of wintambrixc build --source "t-$name" --sfx "w-$name.exe" \
        --stub-dir "$STUB_DIR")"
    fi
    expected="$(sed -E "s/:[a-z]+/:$want/g" <<<"$got")"
    check "tree $name: every builder says $want ($got)" [ "$got" = "$expected" ]
    if [ "$want" = nein ]; then
      check "tree $name: no program file" none_exist "b-$name.exe" "w-$name.exe"
    else
      run_stub 0 "$WORK/verdicts/b-$name.exe" /S "/D=$(winpath .)\\u-$name" /N
      check "tree $name round trip" same_tree "t-$name" "u-$name"
    fi
  done
}

# ---- links: nothing is written, replaced or deleted outside the target -----------------------
# damage_last FILE: flips a byte in the last entry's data (a 200 KB entry of noise), so that the
# run fails after every earlier file is written and rolls back.
damage_last() {
  python3 -c "
import sys; b = bytearray(open(sys.argv[1], 'rb').read()); b[len(b) - 5000] ^= 0x55
open(sys.argv[1], 'wb').write(bytes(b))" "$1"
}
# same_as FILE TEXT: FILE is a plain file (or a link to one) holding exactly TEXT.
same_as() { [ -f "$1" ] && [ "$(cat "$1")" = "$2" ]; }

# A folder of the target swapped for a link to a folder outside while the stub writes into it:
# a second process waits for the third file in d, moves d aside and puts the link in its place.
# The outside folder is either empty or holds files of the names still to come (a create there
# would fail and its roll-back would delete the outside files). Either way the outside stays as
# it was: the stub keeps writing into the folder it entered, wherever that went.
#   case  outside holds  last entry  exit
swap_cases=(
  "empty  nothing  good     0"
  "taken  names    damaged  2"
)
group_links() {
  mkdir -p "$WORK/links" && cd "$WORK/links"
  local here; here="$(winpath .)"
  head -c 200000 /dev/urandom >noise.bin
  local items=() n
  for n in $(seq -f '%03g' 1 300); do items+=("\\\\d\\\\f$n.bin=@noise.bin"); done
  "${MAKE_SFX[@]}" --stub "$STUB_DIR/tambrix.res2" --out swap-good.exe "${items[@]}" '\\z.bin=@noise.bin'
  cp swap-good.exe swap-damaged.exe && damage_last swap-damaged.exe
  local row name holds last code poller before
  for row in "${swap_cases[@]}"; do
    read -r name holds last code <<<"$row"
    mkdir -p "out-$name"
    if [ "$holds" = names ]; then
      for n in $(seq -f '%03g' 1 300); do printf fremd >"out-$name/f$n.bin"; done
    fi
    before="$(cd "out-$name" && find . -type f -exec md5sum {} + | sort)"
    python3 - "$PWD/$name/d" "$PWD/out-$name" "$PWD/swap-$name.txt" <<'PY' &
import os, sys
d, outside, report = sys.argv[1:4]
probe = os.path.join(d, 'f003.bin')
# Polls without pause: the swap must come while the stub still has files to write.
while not os.path.exists(probe):
    if os.path.exists(report + '.stop'):
        sys.exit(0)
os.rename(d, d + '.moved')
os.symlink(outside, d)
with open(report, 'w') as f:
    f.write(str(len(os.listdir(d + '.moved'))))
PY
    poller=$!
    run_stub "$code" "$WORK/links/swap-$last.exe" /S "/D=$here\\$name" /N
    touch "swap-$name.txt.stop"
    wait "$poller"
    check "swap ($name): the folder was swapped while the stub unpacked" \
      [ "$(cat "swap-$name.txt" 2>/dev/null || echo 300)" -lt 300 ]
    check "swap ($name): the folder outside is untouched" \
      [ "$before" = "$(cd "out-$name" && find . -type f -exec md5sum {} + | sort)" ]
  done
  check "swap (empty): every file is in the folder the stub entered" \
    [ "$(find empty/d.moved -type f | wc -l)" = 300 ]
  # A link that is there before the run is refused before anything is written.
  mkdir -p dirlink out-dirlink && ln -s "$PWD/out-dirlink" dirlink/d
  run_stub 3 "$WORK/links/swap-good.exe" /S "/D=$here\\dirlink" /N /L=dirlink.log
  check "a folder link in the target is named" log_has dirlink.log "$here\\dirlink\\d ist eine Verkn"
  check "and nothing is written through it or beside it" \
    [ -z "$(ls out-dirlink)" -a "$(listing dirlink)" = "$(printf '.\n./d')" ]

  # A link at a file's own name is neither replaced nor followed: the run is refused before
  # anything is written, and the file it leads to keeps its content.
  "${MAKE_SFX[@]}" --stub "$STUB_DIR/tambrix.res2" --out link-good.exe '\\x.txt=:neu' '\\z.bin=@noise.bin'
  cp link-good.exe link-damaged.exe && damage_last link-damaged.exe
  for last in good damaged; do
    mkdir -p "filelink-$last" && printf geheim >"secret-$last.txt"
    ln -s "$PWD/secret-$last.txt" "filelink-$last/x.txt"
    before="$(listing "filelink-$last")"
    run_stub 3 "$WORK/links/link-$last.exe" /S "/D=$here\\filelink-$last" /N "/L=link-$last.log"
    check "file link ($last): the file it leads to is untouched" same_as "secret-$last.txt" geheim
    check "file link ($last): the link stays" \
      [ "$(readlink "filelink-$last/x.txt")" = "$PWD/secret-$last.txt" ]
    check "file link ($last): nothing is written beside it" [ "$before" = "$(listing "filelink-$last")" ]
    check "file link ($last): the log names the link" \
      log_has "link-$last.log" "Die vorhandene Datei $here\\filelink-$last\\x.txt ist eine Verkn"
  done
  # With /O=skip the name is kept, so the link there is neither followed nor refused.
  mkdir -p filelink-skip && printf geheim >secret-skip.txt
  ln -s "$PWD/secret-skip.txt" filelink-skip/x.txt
  run_stub 0 "$WORK/links/link-good.exe" /S "/D=$here\\filelink-skip" /N /O=skip
  check "file link kept with /O=skip: the link and its file stay as they were" \
    [ "$(readlink filelink-skip/x.txt)" = "$PWD/secret-skip.txt" -a "$(cat secret-skip.txt)" = geheim ]

  # The log is never the archive itself (by any spelling) and never written through a link.
  #   case      /L= value              what stands there
  local log_cases=(
    "self      .\\LOG-SELF.EXE         the archive"
    "link      link.log               a link to a file outside"
    "dangling  dangling.log           a link to nothing"
  )
  mkdir -p logs-outside && printf 'fremd\r\n' >logs-outside/old.log
  local old; old="$(md5sum <logs-outside/old.log)"
  ln -s "$PWD/logs-outside/old.log" link.log
  ln -s "$PWD/logs-outside/new.log" dangling.log
  local arg sum
  for row in "${log_cases[@]}"; do
    read -r name arg _ <<<"$row"
    "${MAKE_SFX[@]}" --stub "$STUB_DIR/tambrix.res2" --out log-self.exe '\\a.txt=:neu'
    sum="$(md5sum <log-self.exe)"
    run_stub 0 "$WORK/links/log-self.exe" /S "/D=$here\\log-$name" /N "/L=$arg"
    check "log ($name): the files are unpacked" same_as "log-$name/a.txt" neu
    check "log ($name): the archive is unchanged" [ "$sum" = "$(md5sum <log-self.exe)" ]
    check "log ($name): no file is made outside" \
      [ "$(listing logs-outside)" = "$(printf '.\n./old.log')" ]
    check "log ($name): the file outside is not written" [ "$(md5sum <logs-outside/old.log)" = "$old" ]
  done
  check "the log links stay links" [ -L link.log -a -L dangling.log ]
}

# ---- layout: flat unpacking, long paths, replacing files, an empty archive -------------------
group_layout() {
  mkdir -p "$WORK/layout" && cd "$WORK/layout"
  "${MAKE_SFX[@]}" --stub "$STUB_DIR/tambrix.res1" --method bzip2 --store-dir-names 0 \
    --out flat.exe '\\x\\eins.txt=:1' '\\y\\z\\zwei.txt=:2'
  run_stub 0 "$WORK/layout/flat.exe" /S "/D=$(winpath .)\\flat" /N
  check "flat unpacking puts every file in the target" \
    [ "$(listing flat)" = "$(printf '.\n./eins.txt\n./zwei.txt')" ]
  "${MAKE_SFX[@]}" --stub "$STUB_DIR/tambrix.res1" --method bzip2 --out keep.exe \
    '\\x\\eins.txt=:1' '\\y\\z\\zwei.txt=:2'
  run_stub 0 "$WORK/layout/keep.exe" /S "/D=$(winpath .)\\keep" /N
  check "folders are kept" [ "$(cat keep/y/z/zwei.txt)" = 2 ]

  local d1 d2 d3 f
  d1="$(printf 'v%.0s' $(seq 1 120))"; d2="$(printf 'w%.0s' $(seq 1 120))"
  d3="$(printf 'd%.0s' $(seq 1 100))"; f="$(printf 'f%.0s' $(seq 1 90)).txt"
  "${MAKE_SFX[@]}" --stub "$STUB_DIR/tambrix.res2" --out long.exe "\\\\$d3\\\\$f=:lang"
  mkdir -p "long/$d1"
  run_stub 0 "$WORK/layout/long.exe" /S "/D=$(winpath "long/$d1")\\$d2" /N
  check "paths beyond 260 characters work" [ "$(cat "long/$d1/$d2/$d3/$f")" = lang ]

  mkdir -p replace && printf alt >replace/a.txt && printf fremd >replace/other.txt
  "${MAKE_SFX[@]}" --stub "$STUB_DIR/tambrix.res2" --out replace.exe '\\a.txt=:neu'
  run_stub 0 "$WORK/layout/replace.exe" /S "/D=$(winpath replace)" /N
  check "an existing file is replaced" [ "$(cat replace/a.txt)" = neu ]
  check "other files stay" [ "$(cat replace/other.txt)" = fremd ]

  # A read-only file in the target is never replaced (Windows refuses the rename, and under Wine
  # the stub refuses it itself): the run fails, the file keeps its bytes and its attribute, and
  # what the run created before it is removed again.
  mkdir -p rofile && printf alt >rofile/z.txt && chmod a-w rofile/z.txt && printf fremd >rofile/other.txt
  local before_ro
  before_ro="$(listing rofile)"
  "${MAKE_SFX[@]}" --stub "$STUB_DIR/tambrix.res2" --out rofile.exe '\\a.txt=:neu' \
    '\\neu\\b.txt=:neu' '\\z.txt=:neu'
  run_stub 3 "$WORK/layout/rofile.exe" /S "/D=$(winpath rofile)" /N
  check "a read-only file keeps its contents" [ "$(cat rofile/z.txt)" = alt ]
  check "a read-only file stays read-only" [ "$(stat -c %a rofile/z.txt)" = 444 ]
  check "a read-only file fails the run, which leaves nothing behind" \
    [ "$before_ro" = "$(listing rofile)" ]
  check "the other file stays" [ "$(cat rofile/other.txt)" = fremd ]
  chmod u+w rofile/z.txt

  "${MAKE_SFX[@]}" --stub "$STUB_DIR/tambrix.res2" --out empty.exe
  run_stub 0 "$WORK/layout/empty.exe" /S "/D=$(winpath .)\\empty" /N
  check "an archive without files makes its target" [ -d empty ]
  run_stub 0 "$WORK/layout/empty.exe" /S /T

  # The default target: TargetDir with a variable, expanded.
  "${MAKE_SFX[@]}" --stub "$STUB_DIR/tambrix.res2" --target-dir '%TBX_STUB_TEST%\\ziel' \
    --out envtarget.exe '\\a.txt=:env'
  TBX_STUB_TEST="$(winpath .)" run_stub 0 "$WORK/layout/envtarget.exe" /S /N
  check "environment variables in TargetDir are expanded" [ "$(cat ziel/a.txt 2>/dev/null)" = env ]
}

# ---- an archive signed after building still verifies and unpacks ----------------------------
group_signed() {
  mkdir -p "$WORK/signed" && cd "$WORK/signed"
  openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 2 \
    -subj "/CN=Tambrix Test" >/dev/null 2>&1
  local m k
  for m in bzip2 gzip; do
    # A length that is no multiple of 8, so the signer pads before its table.
    for k in $(seq 1 8); do
      "${MAKE_SFX[@]}" --stub "$(stub_of $m)" --method $m --out "u-$m.exe" --tree "$TREE" \
        --title "$(printf 'T%.0s' $(seq 1 $k))"
      [ $(( $(stat -c %s "u-$m.exe") % 8 )) -ne 0 ] && break
    done
    check "osslsigncode signs ($m)" osslsigncode sign -certs cert.pem -key key.pem \
      -in "u-$m.exe" -out "s-$m.exe" >/dev/null 2>&1
    check "signature appended ($m)" [ "$(stat -c %s "s-$m.exe")" -gt "$(stat -c %s "u-$m.exe")" ]
    run_stub 0 "$WORK/signed/s-$m.exe" /S /T
    run_stub 0 "$WORK/signed/s-$m.exe" /S "/D=$(winpath .)\\out-$m" /N
    check "signed archive unpacks whole ($m)" same_tree "$TREE" "out-$m"
    check "tambrixc verifies the signed archive ($m)" tambrixc verify "s-$m.exe" >/dev/null 2>&1
  done
}

# ---- the vendor's icon, version information and elevation level --------------------------------
# look_has FILE LINE...: the probe's output FILE holds every LINE.
look_has() { local f="$1" l; shift; for l in "$@"; do grep -qxF -- "$l" "$f" || { echo "missing: $l" >&2; return 1; }; done; }
group_look() {
  mkdir -p "$WORK/look" && cd "$WORK/look"
  convert -size 256x256 xc:'#2060c0' -define icon:auto-resize=256,48,32,16 icon.ico
  local opts=(--icon icon.ico --product-name 'Müller Werkzeug' --product-version 1.2.3.4
    --file-version 5.6.7.8 --company 'Müller & Söhne GmbH' --copyright '© 2026 Müller'
    --execution-level requireAdministrator)
  SOURCE_DATE_EPOCH=4000000000 tambrixc build -q --source "$TREE" --sfx look.exe "${opts[@]}" \
    --stub-dir "$STUB_DIR"
  check "a build with icon, version and level succeeds" [ -f look.exe ]
  "$WINERUN" "$TOOLS_DIR/look_probe.exe" "$(winpath look.exe)" 2>/dev/null | tr -d '\r' >probe.txt
  check "Windows reads the icon, the version texts and the level" look_has probe.txt \
    icon16=16x16 icon32=32x32 icon48=48x48 icon256=256x256 extracted=1 version=5.6.7.8 \
    product=1.2.3.4 'ProductName=Müller Werkzeug' 'CompanyName=Müller & Söhne GmbH' \
    'LegalCopyright=© 2026 Müller' level=requireAdministrator
  run_stub 0 "$WORK/look/look.exe" /S "/D=$(winpath .)\\out" /N
  check "the vendor's program unpacks whole" same_tree "$TREE" out
  openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 2 \
    -subj "/CN=Tambrix Test" >/dev/null 2>&1
  osslsigncode sign -certs cert.pem -key key.pem -in look.exe -out signed.exe >/dev/null 2>&1
  check "the signer accepts the rewritten program" osslsigncode verify -CAfile cert.pem signed.exe
  run_stub 0 "$WORK/look/signed.exe" /S "/D=$(winpath .)\\sout" /N
  check "signed, it unpacks whole" same_tree "$TREE" sout
  check "tambrixc verifies it signed" tambrixc verify -q signed.exe
  if [ -n "$WIN_TAMBRIXC" ] && [ "$WIN_TAMBRIXC" != "$TAMBRIXC" ]; then
    SOURCE_DATE_EPOCH=4000000000 "$WINERUN" "$WIN_TAMBRIXC" build -q --source "$(winpath "$TREE")" \
      --sfx "$(winpath .)\\win.exe" "${opts[@]}" --stub-dir "$(winpath "$STUB_DIR")"
    # The settings name each builder's own paths; the program in front must be the same.
    local front
    front="$(tambrixc list --json look.exe | sed -n 's/^  "settingsOffset": \([0-9]*\),$/\1/p')"
    check "tambrixc.exe writes the same program in front" cmp -s -n "${front:-1}" look.exe win.exe
  fi
  SOURCE_DATE_EPOCH=4000000000 tambrixc build -q --source "$TREE" --sfx plain.exe --stub-dir "$STUB_DIR"
  check "without them the stub stands unchanged in front" \
    cmp -s -n "$(stat -c %s "$(stub_of gzip)")" plain.exe "$(stub_of gzip)"
}

# ---- commands after unpacking (unattended) ---------------------------------------------------
group_commands() {
  mkdir -p "$WORK/cmd" && cd "$WORK/cmd"
  local marker="$TOOLS_DIR/stub_marker.exe" t
  # A program name with blanks, unquoted, in a subfolder; arguments passed on unchanged.
  "${MAKE_SFX[@]}" --stub "$STUB_DIR/tambrix.res2" --out c1.exe \
    --command 'Mein Ordner\\Mein Programm.exe log.txt eins "zwei drei"' \
    "\\\\Mein Ordner\\\\Mein Programm.exe=@$marker"
  run_stub 0 "$WORK/cmd/c1.exe" /S "/D=$(winpath .)\\t1"
  t="$(winpath .)\\t1"
  wait_for t1/log.txt
  check "command started in the target" grep -qF "cwd=$t|" t1/log.txt
  check "program started by full path, quoted" \
    grep -qF "line=\"$t\\Mein Ordner\\Mein Programm.exe\" log.txt eins \"zwei drei\"" t1/log.txt
  # A quoted name with a leading backslash names the target; variables are expanded.
  "${MAKE_SFX[@]}" --stub "$STUB_DIR/tambrix.res2" --out c2.exe \
    --command '"\\stub_marker.exe" %TBX_STUB_VAR%.txt' "\\\\stub_marker.exe=@$marker"
  TBX_STUB_VAR=variabel run_stub 0 "$WORK/cmd/c2.exe" /S "/D=$(winpath .)\\t2"
  check "quoted command with a variable" wait_for t2/variabel.txt
  # /N runs nothing.
  TBX_STUB_VAR=variabel run_stub 0 "$WORK/cmd/c2.exe" /S "/D=$(winpath .)\\t2n" /N
  # A command the /N run had started would have written by the time one started later has.
  TBX_STUB_VAR=variabel run_stub 0 "$WORK/cmd/c2.exe" /S "/D=$(winpath .)\\t2m"
  check "the command after /N ran" wait_for t2m/variabel.txt
  check "/N runs no command" absent t2n/variabel.txt
  check "/N still unpacks" [ -e t2n/stub_marker.exe ]
  # Terminates: the second command starts only after the first has ended.
  "${MAKE_SFX[@]}" --stub "$STUB_DIR/tambrix.res2" --out c3.exe --terminates 1 \
    --command 'stub_marker.exe order.txt --sleep 1500 erster' \
    --second-command 'stub_marker.exe order.txt zweiter' "\\\\stub_marker.exe=@$marker"
  run_stub 0 "$WORK/cmd/c3.exe" /S "/D=$(winpath .)\\t3"
  for _ in $(seq 1 600); do [ "$(wc -l <t3/order.txt 2>/dev/null)" = 2 ] && break; sleep 0.1; done
  check "Terminates: both commands ran" [ "$(wc -l <t3/order.txt)" = 2 ]
  check "Terminates: first command before the second" grep -q erster <(head -n 1 t3/order.txt)
  # Something that is no program goes through the shell: a batch file.
  printf 'echo ok> bat-ran.txt\r\n' >run.bat
  "${MAKE_SFX[@]}" --stub "$STUB_DIR/tambrix.res2" --out c4.exe --command 'run.bat' \
    "\\\\run.bat=@run.bat"
  run_stub 0 "$WORK/cmd/c4.exe" /S "/D=$(winpath .)\\t4"
  check "a batch file runs through the shell" wait_for t4/bat-ran.txt
  # A command that cannot be started: exit 4, the files stay.
  "${MAKE_SFX[@]}" --stub "$STUB_DIR/tambrix.res2" --out c5.exe --command 'gibtsnicht.exe' \
    '\\a.txt=:da'
  run_stub 4 "$WORK/cmd/c5.exe" /S "/D=$(winpath .)\\t5"
  check "files stay when the command fails" [ "$(cat t5/a.txt)" = da ]
  # A bare name is never handed to the shell, which would search the archive's folder and the
  # current folder: a planted evilcmd.exe beside the archive and another in the current folder
  # are not started, not even when PATH names those folders (as full paths, relative, or empty).
  mkdir -p planted/dl planted/cwd planted/tools
  cp "$marker" planted/dl/evilcmd.exe && cp "$marker" planted/cwd/evilcmd.exe
  local evil_ran
  evil_ran="$(winpath planted)\\evil-ran.txt"
  "${MAKE_SFX[@]}" --stub "$STUB_DIR/tambrix.res2" --out planted/dl/c8.exe \
    --command "evilcmd $(esc "$evil_ran")" '\\a.txt=:da'
  local planted_path tools_path rc
  planted_path="$(winpath planted/dl);$(winpath planted/cwd)\\;.;;..\\dl;cwd"
  tools_path="$(winpath planted/tools)"
  (cd planted/cwd && WINEPATH="$planted_path" TAMBRIX_WINE_TIMEOUT=300 "$WINERUN" ../dl/c8.exe /S \
    "/D=$(winpath "$WORK/cmd")\\t8" >/dev/null 2>&1)
  rc=$?
  check "a planted evilcmd: exit 4 (got $rc)" [ $rc -eq 4 ]
  check "a planted evilcmd: the files stay" [ "$(cat t8/a.txt)" = da ]
  # Other spellings of those two folders on PATH are the same folders: links to them (under Wine
  # a Unix symlink, as a junction or a symbolic link is on Windows) find no planted program either.
  ln -sfn "$WORK/cmd/planted/dl" planted/dl-link && ln -sfn "$WORK/cmd/planted/cwd" planted/cwd-link
  local link_path
  link_path="$(winpath planted)\\dl-link;$(winpath planted)\\cwd-link"
  (cd planted/cwd && WINEPATH="$link_path" TAMBRIX_WINE_TIMEOUT=300 "$WINERUN" ../dl/c8.exe /S \
    "/D=$(winpath "$WORK/cmd")\\t8b" >/dev/null 2>&1)
  rc=$?
  check "a planted evilcmd behind a link on PATH: exit 4 (got $rc)" [ $rc -eq 4 ]
  # A program in a PATH folder of its own is found and started by its full path.
  cp "$marker" planted/tools/pathcmd.exe
  "${MAKE_SFX[@]}" --stub "$STUB_DIR/tambrix.res2" --out planted/dl/c9.exe \
    --command 'pathcmd path-ran.txt' '\\a.txt=:da'
  (cd planted/cwd && WINEPATH="$planted_path;$tools_path" TAMBRIX_WINE_TIMEOUT=300 \
    "$WINERUN" ../dl/c9.exe /S "/D=$(winpath "$WORK/cmd")\\t9" >/dev/null 2>&1)
  rc=$?
  check "a program from PATH: exit 0 (got $rc)" [ $rc -eq 0 ]
  check "a program from PATH is started" wait_for t9/path-ran.txt
  check "a program from PATH is started by its full path" \
    grep -qF "line=\"$tools_path\\pathcmd.exe\" path-ran.txt" t9/path-ran.txt
  # The planted programs would have written by the time the one started later has.
  check "no planted evilcmd was started" absent planted/evil-ran.txt
  # A name that leaves the target once ".." is resolved is no file in the target, however it is
  # spelled, and a relative path is never looked for elsewhere: a planted evilcmd.exe above the
  # target or in the archive's folder is not started. A ".." that stays inside still finds its
  # program.
  mkdir -p up/dl up/box
  cp "$marker" up/box/evilcmd.exe && cp "$marker" up/dl/evilcmd.exe
  local up_ran n=0 up_cmd
  up_ran="$(esc "$(winpath up)\\up-ran.txt")"
  for up_cmd in '..\\evilcmd.exe' '\\..\\evilcmd.exe' '..\\..\\dl\\evilcmd.exe' \
    '%TBX_UP%\\evilcmd.exe' '../evilcmd' '"..\\evilcmd.exe"' 'sub\\..\\..\\evilcmd.exe'; do
    n=$((n + 1))
    "${MAKE_SFX[@]}" --stub "$STUB_DIR/tambrix.res2" --out "up/dl/u$n.exe" \
      --command "$up_cmd $up_ran" '\\sub\\a.txt=:da'
    TBX_UP=.. run_stub 4 "$WORK/cmd/up/dl/u$n.exe" /S "/D=$(winpath up/box)\\t$n"
  done
  "${MAKE_SFX[@]}" --stub "$STUB_DIR/tambrix.res2" --out up/dl/inside.exe \
    --command 'sub\\..\\stub_marker.exe inside-ran.txt' "\\\\stub_marker.exe=@$marker" '\\sub\\a.txt=:da'
  run_stub 0 "$WORK/cmd/up/dl/inside.exe" /S "/D=$(winpath up/box)\\inside"
  check "a .. that stays in the target finds its program" wait_for up/box/inside/inside-ran.txt
  check "no evilcmd outside the target was started" absent up/up-ran.txt
  # A program registered under App Paths (HKCU) is started by its registered path: a
  # REG_EXPAND_SZ value in quotes, its variable expanded.
  mkdir -p registered && cp "$marker" registered/Registriert.exe
  local key='HKCU\Software\Microsoft\Windows\CurrentVersion\App Paths\tbxregcmd.exe'
  check "reg add App Paths" "$WINERUN" reg add "$key" /ve /t REG_EXPAND_SZ \
    /d '"%TBX_REG_DIR%\Registriert.exe"' /f >/dev/null 2>&1
  "${MAKE_SFX[@]}" --stub "$STUB_DIR/tambrix.res2" --out c10.exe --command 'tbxregcmd reg-ran.txt' \
    '\\a.txt=:da'
  TBX_REG_DIR="$(winpath registered)" run_stub 0 "$WORK/cmd/c10.exe" /S "/D=$(winpath .)\\t10"
  check "a registered program is started" wait_for t10/reg-ran.txt
  check "a registered program is started by its registered path" \
    grep -qF "line=\"$(winpath registered)\\Registriert.exe\" reg-ran.txt" t10/reg-ran.txt
  check "reg delete App Paths" "$WINERUN" reg delete "$key" /f >/dev/null 2>&1
  # Without the registration the name is not found any more.
  TBX_REG_DIR="$(winpath registered)" run_stub 4 "$WORK/cmd/c10.exe" /S "/D=$(winpath .)\\t10b"
  # CleanUp: waits for the command and its child, removes exactly what was unpacked.
  mkdir -p t6 && printf 'vorher da' >t6/keep.txt
  "${MAKE_SFX[@]}" --stub "$STUB_DIR/tambrix.res2" --out c6.exe --clean-up 1 \
    --command 'stub_marker.exe ran.txt --child child.txt 1500' "\\\\stub_marker.exe=@$marker" \
    '\\daten\\a.txt=:weg' '\\daten\\tief\\b.txt=:weg'
  run_stub 0 "$WORK/cmd/c6.exe" /S "/D=$(winpath .)\\t6"
  check "clean-up waited for the child" [ -e t6/child.txt ]
  check "clean-up left exactly the foreign files" \
    [ "$(listing t6)" = "$(printf '.\n./child.txt\n./keep.txt\n./ran.txt')" ]
  # CleanUp into a new folder: the folder goes too.
  "${MAKE_SFX[@]}" --stub "$STUB_DIR/tambrix.res2" --out c7.exe --clean-up 1 \
    --command 'stub_marker.exe ../c7-ran.txt' "\\\\stub_marker.exe=@$marker" '\\d\\a.txt=:weg'
  run_stub 0 "$WORK/cmd/c7.exe" /S "/D=$(winpath .)\\t7"
  check "clean-up removes the folder it created" absent t7
  check "the command of c7 ran" [ -e c7-ran.txt ]
}

# ---- arguments after -- for the first command, and its exit code with /W ---------------------
# run_line EXPECTED_CODE LINE: runs the Windows command line LINE exactly as written (wine64 would
# quote each argument of its own), through the launcher in args_probe.exe.
run_line() {
  local want="$1" line="$2" errors="$WORK/run_line.err" rc
  TBX_PROBE_RUN="$line" TAMBRIX_WINE_TIMEOUT=300 "$WINERUN" "$TOOLS_DIR/args_probe.exe" \
    >/dev/null 2>"$errors"
  rc=$?
  if [ "$rc" -eq "$want" ]; then pass; return; fi
  fail "$line: exit $rc, expected $want; Wine's stderr: $(tail -n 5 "$errors")"
}
group_args() {
  mkdir -p "$WORK/args" && cd "$WORK/args"
  local here stub rest
  here="$(winpath .)"
  # The probe writes the line it was started with and ends with 7; the second command starts a
  # grandchild that writes after the second command has ended.
  "${MAKE_SFX[@]}" --stub "$STUB_DIR/tambrix.res2" --out probe.exe \
    --command 'args_probe.exe eigenes' \
    --second-command 'stub_marker.exe zweites.txt --child enkel.txt 1500' \
    "\\\\args_probe.exe=@$TOOLS_DIR/args_probe.exe" "\\\\stub_marker.exe=@$TOOLS_DIR/stub_marker.exe"
  stub="\"$here\\probe.exe\""
  rest='/quiet "C:\Mein Ziel" a"b'
  run_line 7 "$stub /S /W \"/D=$here\\w\" /L=w.log -- $rest"
  check "/W: the first command gets the text after -- as written, behind its own arguments" \
    [ "$(cat w/args_probe.txt)" = "\"$here\\w\\args_probe.exe\" eigenes $rest" ]
  check "/W: the second command gets none of it" grep -qF \
    "|line=\"$here\\w\\stub_marker.exe\" zweites.txt --child enkel.txt 1500"$'\r' w/zweites.txt
  check "/W waits for what the commands started" [ -e w/enkel.txt ]
  check "/W: the log shows the arguments and whose exit code it is" \
    log_has w.log "Argumente nach --: $rest" 'des Kommandos: 7)'
  # Without /W the extractor ends with its own code once the commands are started.
  run_line 0 "$stub /S \"/D=$here\\n\" -- $rest"
  check "without /W the command still gets the arguments" wait_for n/args_probe.txt
  wait_for n/enkel.txt
  # What a shell would act on reaches the program as written.
  rest='%PATH% a&b x|y "c|d" e"f'
  run_line 7 "$stub /S /W \"/D=$here\\s\" -- $rest"
  check "%PATH%, &, | and quotes arrive as written" \
    [ "$(cat s/args_probe.txt)" = "\"$here\\s\\args_probe.exe\" eigenes $rest" ]
  # A command that cannot be started still ends the run with the extractor's own 4.
  "${MAKE_SFX[@]}" --stub "$STUB_DIR/tambrix.res2" --out missing.exe --command 'gibtsnicht.exe' \
    '\\a.txt=:da'
  run_line 4 "\"$here\\missing.exe\" /S /W \"/D=$here\\m\" /L=m.log -- x"
  check "/W: the log says the 4 is the extractor's" \
    log_has m.log 'Entpackprogramms: 4): Das Kommando gibtsnicht.exe'
  # A batch file gets them as %*, unless cmd.exe would act on them: then it is not run at all.
  printf '@echo %%*> bat-args.txt\r\n' >args.bat
  "${MAKE_SFX[@]}" --stub "$STUB_DIR/tambrix.res2" --out bat.exe --command 'args.bat' \
    '\\args.bat=@args.bat'
  run_line 0 "\"$here\\bat.exe\" /S /W \"/D=$here\\b\" -- /quiet \"C:\\Mein Ziel\""
  check "a batch file gets the arguments" wait_for b/bat-args.txt
  check "a batch file gets them as written" \
    [ "$(tr -d '\r' <b/bat-args.txt)" = '/quiet "C:\Mein Ziel"' ]
  run_line 4 "\"$here\\bat.exe\" /S \"/D=$here\\r\" /L=r.log -- a&echo x>injected.txt"
  check "a batch file is not run with arguments cmd.exe would act on" absent r/bat-args.txt
  check "the refusal names the arguments" log_has r.log 'Argumente nach --: a&echo x>injected.txt'
}

# ---- the windows, driven from outside ----------------------------------------------------------
# The archives of the window tests (stub_driver.exe), made into the current folder.
gui_cases() {
  local c="$PWD"
  local marker="$TOOLS_DIR/stub_marker.exe"
  "${MAKE_SFX[@]}" --stub "$STUB_DIR/tambrix.res2" --out title.exe --title Testtitel \
    --dialog-text 'Hier steht der Dialogtext mit Umlauten: \xe4\xf6\xfc\xdf' \
    --target-dir '%TEMP%\\tbx-title' '\\a.txt=:a'
  "${MAKE_SFX[@]}" --stub "$STUB_DIR/tambrix.res1" --method bzip2 --out readonly.exe \
    --target-editable 0 --target-dir "$(esc "$(winpath "$c")")\\\\ro-target" '\\a.txt=:a'
  "${MAKE_SFX[@]}" --stub "$STUB_DIR/tambrix.res2" --out before.exe --title Vorher \
    --info-before 'Bitte zuerst lesen.' --target-dir "$(esc "$(winpath "$c")")\\\\before-target" '\\a.txt=:a'
  mkdir -p full-target && printf 'vorher da' >full-target/keep.txt
  "${MAKE_SFX[@]}" --stub "$STUB_DIR/tambrix.res2" --out full.exe --info-before Vorher \
    --info-after 'Fertig entpackt' --clean-up 1 --target-editable 1 \
    --command 'stub_marker.exe ran.txt --child child.txt 1500' "\\\\stub_marker.exe=@$marker" \
    '\\daten\\a.txt=:weg'
  head -c 48000000 /dev/urandom >random.bin
  "${MAKE_SFX[@]}" --stub "$STUB_DIR/tambrix.res1" --method bzip2 --out big.exe \
    '\\a.txt=:a' "\\\\zufall.bin=@random.bin"
  rm -f random.bin
  "${MAKE_SFX[@]}" --stub "$STUB_DIR/tambrix.res2" --out test.exe '\\a.txt=:a' '\\b.txt=:b' \
    "\\\\c.bin=@$marker"
  "${MAKE_SFX[@]}" --stub "$STUB_DIR/tambrix.res2" --out damaged.exe '\\a.txt=:a' \
    "\\\\c.bin=@$marker"
  python3 -c "
import sys; b = bytearray(open('damaged.exe','rb').read()); b[len(b) - 2000] ^= 0x55
open('damaged.exe','wb').write(bytes(b))"
  "${MAKE_SFX[@]}" --stub "$STUB_DIR/tambrix.res2" --max-compression 1 --out method.exe '\\a.txt=:a'
  mkdir -p rofile-target && printf alt >rofile-target/z.txt && chmod a-w rofile-target/z.txt
  "${MAKE_SFX[@]}" --stub "$STUB_DIR/tambrix.res2" --out rofile.exe '\\a.txt=:a' '\\z.txt=:neu'
  # A planted evilcmd.exe beside the archive, which is also the current folder.
  cp "$marker" evilcmd.exe
  "${MAKE_SFX[@]}" --stub "$STUB_DIR/tambrix.res2" --out nocmd.exe --command evilcmd '\\a.txt=:a'
  # Info texts of 40 paragraphs, taller than any screen: before (lines end in CR LF) and after
  # (in LF alone). The texts as the archive holds them (code page 1252) are kept beside it for
  # the driver to compare.
  python3 - <<'PY'
def arg(b):  # the bytes as make_sfx.py reads them: escapes for all but printable ASCII
    return ''.join(chr(x) if 32 <= x < 127 and x != 92 else '\\x%02x' % x for x in b)
sentence = 'Bitte lesen Sie diesen Hinweis vollst\xe4ndig, bevor Sie fortfahren. '
before = '\r\n\r\n'.join('Absatz %d: %s' % (i, sentence * (1 + i % 4)) for i in range(1, 41))
after = '\n'.join('Zeile %d nach dem Entpacken: alles gr\xfcn.' % i for i in range(1, 61))
for name, t in (('info-before-long', before), ('info-after-long', after)):
    b = t.encode('cp1252')
    open(name + '.txt', 'wb').write(b)
    open(name + '.arg', 'w').write(arg(b))
PY
  "${MAKE_SFX[@]}" --stub "$STUB_DIR/tambrix.res2" --out info-long.exe --title 'Lange Hinweise' \
    --info-before "$(cat info-before-long.arg)" --info-after "$(cat info-after-long.arg)" \
    --target-dir "$(esc "$(winpath "$c")")\\\\info-long-target" '\\a.txt=:a'
  # Many small files, so that unpacking lasts long enough to look at the progress display.
  mkdir -p many && python3 -c "
import os
for i in range(8000):
    d = os.path.join('many', 'd%02d' % (i % 50))
    os.makedirs(d, exist_ok=True)
    open(os.path.join(d, 'f%04d.txt' % i), 'w').write('x')"
  "${MAKE_SFX[@]}" --stub "$STUB_DIR/tambrix.res2" --out many.exe --tree many
  rm -rf many
  # A word longer than any line (a deep path), which only the text control can break.
  "${MAKE_SFX[@]}" --stub "$STUB_DIR/tambrix.res2" --out info-word.exe \
    --info-before "Bitte lesen: C:$(printf '\\\\Unterordner%.0s' $(seq 1 25))\\\\liesmich.txt" \
    '\\a.txt=:a'
  # The message window alone, for the kinds of box no case above shows.
  cp "$TOOLS_DIR/stub_box_probe.exe" .
}

# The Wine prefix for the window tests at DPI dots per inch: one of its own beside the default one,
# made on first use with that DPI (tbx_start_wineserver).
dpi_prefix() { echo "$TOOLS_DIR/stub-wineprefix-${1}dpi"; }

# window_driver DPI FILTER: the driver's tests matching FILTER on the cases in the current folder;
# its screenshots go to shots/.
window_driver() {
  TAMBRIX_STUB_CASES="$(winpath .)" TAMBRIX_STUB_SHOTS="$(winpath .)\\shots" \
    TAMBRIX_STUB_DPI="$1" TAMBRIX_WINE_TIMEOUT=600 "$WINERUN" ./stub_driver.exe --gtest_brief=1 \
    "--gtest_filter=$2"
}

# run_window_driver MAKE_CASES FILTER: the window tests matching the gtest FILTER, twice: at 96 dpi
# in the session's prefix, and at 144 dpi in a prefix and with a wineserver of their own (started
# and stopped here by pid). Each run gets its cases afresh from MAKE_CASES in a folder of its own,
# as the tests change them; the screenshots they keep end up as PNG in $SHOTS_DIR/96dpi and
# $SHOTS_DIR/144dpi.
run_window_driver() {
  local make_cases=$1 filter=$2 dpi c rc out bmp
  for dpi in 96 144; do
    c="$WORK/$make_cases-${dpi}dpi"
    mkdir -p "$c"
    if ! (cd "$c" && "$make_cases"); then
      fail "$make_cases made no cases for $dpi dpi"
      continue
    fi
    cp "$TOOLS_DIR/stub_driver.exe" "$c/"
    if [ "$dpi" = 96 ]; then
      (cd "$c" && window_driver "$dpi" "$filter")
    else
      (
        trap tbx_stop_wineserver EXIT
        trap 'exit 130' INT TERM
        tbx_server_pid=""
        export TAMBRIX_WINEPREFIX
        TAMBRIX_WINEPREFIX="$(dpi_prefix "$dpi")"
        tbx_start_wineserver "$TAMBRIX_WINEPREFIX" "$dpi" || exit 1
        cd "$c" && window_driver "$dpi" "$filter"
      )
    fi
    rc=$?
    if [ $rc -eq 0 ]; then pass; else fail "the window tests at $dpi dpi ($filter): exit $rc"; fi
    out="$SHOTS_DIR/${dpi}dpi"
    mkdir -p "$out"
    for bmp in "$c"/shots/*.bmp; do
      [ -f "$bmp" ] || continue
      if command -v convert >/dev/null; then
        # No date chunks: the same window gives the same file.
        convert "$bmp" -strip -define png:exclude-chunks=date,time \
          "$out/$(basename "$bmp" .bmp).png" 2>/dev/null || fail "convert $(basename "$bmp")"
      else
        cp "$bmp" "$out/"
      fi
    done
  done
}

group_gui() {
  run_window_driver gui_cases '-StubChoices.*'
}

# ---- choices of a silent run: targets that cannot be used, existing files, the log -----------
# log_has LOG TEXT...: the log holds every given line part (grep -F), in any order.
log_has() {
  local log=$1 t; shift
  [ -f "$log" ] || return 1
  for t in "$@"; do grep -qF -- "$t" "$log" || { echo "not in $log: $t" >&2; return 1; }; done
}
group_choices() {
  mkdir -p "$WORK/choices" && cd "$WORK/choices"
  local here; here="$(winpath .)"
  "${MAKE_SFX[@]}" --stub "$STUB_DIR/tambrix.res2" --out two.exe '\\a.txt=:neu' '\\sub\\b.txt=:neu'

  # A target that cannot be used ends a silent run with exit code 3; the log names the target as
  # it was given and the reason, and nothing is created.
  printf x >afile
  run_stub 3 "$WORK/choices/two.exe" /S '/D=Q:\nirgends' /L=q.log
  check "no drive: the log names the target as given and the drive" \
    log_has q.log 'In das Zielverzeichnis "Q:\nirgends" kann nicht entpackt werden.' \
    'Das Laufwerk Q: ist nicht vorhanden.' 'Ergebnis: Fehler (R'
  run_stub 3 "$WORK/choices/two.exe" /S "/D=$here\\afile\\sub" /L=file.log
  check "a file in the way is named" log_has file.log "$here\\afile ist eine Datei, kein Verzeichnis."
  check "the file in the way is untouched" [ "$(cat afile)" = x ]
  # Rights: root may write anywhere but below /sys, which refuses new folders and files alike.
  run_stub 3 "$WORK/choices/two.exe" /S '/D=Z:\sys\tbx-ziel' /L=sys.log
  check "a folder that cannot be created is named with the reason" \
    log_has sys.log 'Das Verzeichnis Z:\sys\tbx-ziel konnte nicht angelegt werden.' 'Grund: '
  run_stub 3 "$WORK/choices/two.exe" /S '/D=Z:\sys' /L=sysw.log
  check "an existing folder without rights is found before any file" \
    log_has sysw.log 'Im Verzeichnis Z:\sys k' 'Grund: '
  mkdir -p clash/a.txt
  run_stub 3 "$WORK/choices/two.exe" /S "/D=$here\\clash" /L=clash.log
  check "a folder where a file goes is named" log_has clash.log 'An der Stelle der Datei' 'clash\a.txt steht'
  check "and nothing was written beside it" [ "$(listing clash)" = "$(printf '.\n./a.txt')" ]

  # /S replaces existing files; /O=skip keeps them (read-only ones too) and writes the rest.
  mkdir -p keep/sub && printf alt >keep/a.txt && printf alt >keep/sub/b.txt && chmod a-w keep/sub/b.txt
  run_stub 0 "$WORK/choices/two.exe" /S "/D=$here\\keep" /N /O=skip /L=skip.log
  check "/O=skip keeps existing files" [ "$(cat keep/a.txt)$(cat keep/sub/b.txt)" = altalt ]
  check "/O=skip is in the log" log_has skip.log 'behalten (schon vorhanden): a.txt' \
    'behalten (schon vorhanden): sub\b.txt' "Zielverzeichnis: $here\\keep" 'Ergebnis: Erfolg'
  chmod u+w keep/sub/b.txt
  rm keep/sub/b.txt
  run_stub 0 "$WORK/choices/two.exe" /S "/D=$here\\keep" /N -o=SKIP
  check "/O=skip writes the files that are missing" [ "$(cat keep/a.txt)$(cat keep/sub/b.txt)" = altneu ]
  run_stub 0 "$WORK/choices/two.exe" /S "/D=$here\\keep" /N /L=replace.log
  check "without /O the files are replaced" [ "$(cat keep/a.txt)$(cat keep/sub/b.txt)" = neuneu ]
  check "the log says which were replaced" log_has replace.log 'ersetzt: a.txt' 'ersetzt: sub\b.txt'
  run_stub 3 "$WORK/choices/two.exe" /S "/D=$here\\bogus" /O=sometimes /L=bogus.log
  check "an unknown /O value unpacks nothing" absent bogus
  check "an unknown /O value is named" log_has bogus.log 'Der Schalter /O=sometimes hat einen ung'

  # A log that cannot be written does not stop the unpacking; a log is appended to, never lost.
  run_stub 0 "$WORK/choices/two.exe" /S "/D=$here\\nolog" /N '/L=Z:\sys\tbx.log'
  check "an unwritable log does not stop the unpacking" [ "$(cat nolog/sub/b.txt)" = neu ]
  printf 'alte Zeile\r\n' >kept.log
  run_stub 0 "$WORK/choices/two.exe" /S "/D=$here\\logged" /N /L=kept.log
  check "the log is appended to" log_has kept.log 'alte Zeile' 'geschrieben: a.txt' \
    'geschrieben: sub\b.txt' "Zielverzeichnis: $here\\logged"
  check "one result line per run" [ "$(grep -c 'Ergebnis:' kept.log)" = 1 ]

  # A roll-back puts replaced files back: the first entry replaces a.txt, the second is damaged.
  mkdir -p back && printf alt >back/a.txt && printf fremd >back/other.txt
  head -c 200000 /dev/urandom >noise.bin
  "${MAKE_SFX[@]}" --stub "$STUB_DIR/tambrix.res2" --out back.exe '\\a.txt=:neu' '\\z.bin=@noise.bin'
  python3 -c "
b = bytearray(open('back.exe','rb').read()); b[len(b) - 5000] ^= 0x55
open('back.exe','wb').write(bytes(b))"
  local before; before="$(listing back)"
  run_stub 2 "$WORK/choices/back.exe" /S "/D=$here\\back" /N /L=back.log
  check "a roll-back restores a replaced file" [ "$(cat back/a.txt)" = alt ]
  check "a roll-back leaves no backup or temporary file" [ "$(listing back)" = "$before" ]
  check "the log tells of the roll-back" log_has back.log 'wieder entfernt' 'Ergebnis: Fehler (R'
}

# ---- several threads: /J=1, /J=2 and /J=8 give the same files, times, log and exit code -------
# unpack_each NAME CODE ARCHIVE SETUP [ARGS...]: for /J=1, /J=2 and /J=8 in turn, SETUP makes the
# target "ziel" afresh, the stub unpacks ARCHIVE into it (exit CODE expected) with a log, and the
# target is kept as NAME-J, its log without time stamps as NAME-J.log.
unpack_each() {
  local name=$1 code=$2 exe=$3 setup=$4 j; shift 4
  for j in 1 2 8; do
    rm -rf ziel ziel.log && $setup
    run_stub "$code" "$exe" /S "/D=$(winpath .)\\ziel" /N "/J=$j" /L=ziel.log "$@"
    rm -rf "$name-$j" && mv ziel "$name-$j" 2>/dev/null
    sed -e '1s/^\xef\xbb\xbf//' -e 's/^[0-9-]* [0-9:]* //' ziel.log | tr -d '\r' >"$name-$j.log"
  done
}
# same_runs NAME: every /J run of NAME left the same files (bytes and times) and wrote the same log.
same_runs() {
  local j
  for j in 2 8; do
    check "$1: /J=$j leaves the files of /J=1" same_tree "$1-1" "$1-$j"
    check "$1: /J=$j writes the log of /J=1" cmp -s "$1-1.log" "$1-$j.log"
  done
}
# old_target: a target holding an older copy of the small tree (every third file) and a file of
# its own.
old_target() {
  mkdir -p ziel && printf fremd >ziel/fremd.txt
  (cd small && find . -type f | sort | awk 'NR % 3 == 0') | while read -r f; do
    mkdir -p "ziel/$(dirname "$f")" && printf alt >"ziel/$f"
  done
  find ziel -type f -exec touch -d '2024-01-02 03:04:06' {} +  # the same in every run
}
no_target() { :; }
#   tree    method  what the tree holds
thread_trees=(
  "empty    gzip    empty files"
  "small    gzip    many small files"
  "edges    bzip2   sizes around the buffers (64 KiB, 256 KiB, 1 MiB)"
  "edges    gzip    the same with the other method"
  "large    bzip2   one large file"
)
group_threads() {
  mkdir -p "$WORK/threads" && cd "$WORK/threads"
  python3 - <<'PY'
import os
def put(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    open(path, 'wb').write(data)
for i in range(60):
    put('empty/d%d/e%02d.txt' % (i % 3, i), b'')
for i in range(2000):
    put('small/d%02d/f%04d.txt' % (i % 40, i), os.urandom(i % 300) + b'x' * (i % 500))
for n in (65535, 65536, 65537, 262143, 262144, 262145, 1048576, 1048577):
    put('edges/s%d.bin' % n, os.urandom(n // 2) + bytes(n - n // 2))
put('large/big.bin', os.urandom(8 << 20) + b'tambrix' * (4 << 20))
PY
  local row tree m
  for row in "${thread_trees[@]}"; do
    read -r tree m _ <<<"$row"
    "${MAKE_SFX[@]}" --stub "$(stub_of $m)" --method $m --out "$tree-$m.exe" --tree "$tree"
    unpack_each "$tree-$m" 0 "$WORK/threads/$tree-$m.exe" no_target
    check "$tree ($m): /J=1 unpacks the tree" same_tree "$tree" "$tree-$m-1"
    same_runs "$tree-$m"
  done

  # Existing files replaced, or kept with /O=skip.
  unpack_each replace 0 "$WORK/threads/small-gzip.exe" old_target
  check "replacing: /J=1 replaces the old files and keeps the foreign one" \
    [ "$(cat replace-1/fremd.txt)" = fremd -a "$(grep -c '^ersetzt: ' replace-1.log)" = 666 ]
  same_runs replace
  unpack_each skip 0 "$WORK/threads/small-gzip.exe" old_target /O=skip
  check "/O=skip: /J=1 keeps the old files" [ "$(grep -c '^behalten ' skip-1.log)" = 666 ]
  same_runs skip

  # A damaged entry in the middle: the files before it are written on their threads, those after
  # it may be; every one goes again, and the replaced files get their old contents back.
  head -c 300000 /dev/urandom >noise.bin
  local items=() i
  for i in $(seq 1 400); do items+=("\\\\d$((i % 5))\\\\f$i.txt=:Datei $i"); done
  "${MAKE_SFX[@]}" --stub "$(stub_of gzip)" --out middle.exe "${items[@]:0:200}" \
    '\\d2\\mitte.bin=@noise.bin' "${items[@]:200}"
  python3 - middle.exe noise.bin <<'PY'
import sys
data, noise = bytearray(open(sys.argv[1], 'rb').read()), open(sys.argv[2], 'rb').read()
at = data.find(noise[150000:150064])  # random bytes are stored as they are
assert at > 0
data[at] ^= 0x55
open(sys.argv[1], 'wb').write(bytes(data))
PY
  middle_target() { mkdir -p ziel/d1 && printf alt >ziel/d1/f1.txt && printf alt >ziel/d1/f301.txt; }
  unpack_each middle 2 "$WORK/threads/middle.exe" middle_target
  mkdir -p middle-before && (cd middle-before && middle_target && mv ziel/* . && rmdir ziel)
  for i in 1 2 8; do
    check "damaged entry, /J=$i: the target is left as it was" diff -r middle-before "middle-$i"
  done
  check "damaged entry: the log names the entry" log_has middle-1.log 'mitte.bin kann nicht entpackt'
  for i in 2 8; do check "damaged entry: /J=$i writes the log of /J=1" cmp -s middle-1.log "middle-$i.log"; done

  # A full disk: a file system of 2 MiB, a file of 3 MiB in the middle. Which file meets the
  # full disk first depends on the timing, so only the outcome and the target are compared.
  mkdir -p small-fs
  if ! mount -t tmpfs -o size=2m tmpfs small-fs 2>/dev/null; then
    echo "threads: no tmpfs can be mounted here; the full disk is not tested" >&2
    return
  fi
  mounted+=("$PWD/small-fs")
  head -c 3000000 /dev/urandom >big.bin
  "${MAKE_SFX[@]}" --stub "$(stub_of gzip)" --out full.exe "${items[@]:0:200}" \
    '\\d2\\gross.bin=@big.bin' "${items[@]:200}"
  mkdir -p small-fs/ziel/d1 && printf alt >small-fs/ziel/d1/f1.txt
  local before; before="$(listing small-fs)"
  for i in 1 2 8; do
    run_stub 3 "$WORK/threads/full.exe" /S "/D=$(winpath small-fs)\\ziel" /N "/J=$i" /L=full.log
    check "full disk, /J=$i: the target is left as it was" \
      [ "$before" = "$(listing small-fs)" -a "$(cat small-fs/ziel/d1/f1.txt)" = alt ]
  done
  check "full disk: the log says so" log_has full.log 'Der Datentr'
  umount small-fs && mounted=()
}

# ---- the dialog's choices, driven by the window driver (StubChoices) --------------------------
# dialog_cases: the archives and folders of the StubChoices tests, made in the current folder.
dialog_cases() {
  "${MAKE_SFX[@]}" --stub "$STUB_DIR/tambrix.res2" --out target.exe '\\a.txt=:a'
  printf x >afile
  local items=() f
  for f in a b c d e f g; do items+=("\\\\$f.txt=:neu"); done
  "${MAKE_SFX[@]}" --stub "$STUB_DIR/tambrix.res1" --method bzip2 --out replace.exe "${items[@]}" \
    '\\sub\\h.txt=:neu' '\\new.txt=:neu'
  mkdir -p replace-target/sub one-target/sub skip-target
  for f in a b c d e f g; do printf alt >"replace-target/$f.txt"; done
  printf alt >replace-target/sub/h.txt
  printf alt >one-target/sub/h.txt
  printf alt >skip-target/a.txt
  "${MAKE_SFX[@]}" --stub "$STUB_DIR/tambrix.res2" --out nodoc.exe \
    --command 'notiz.tbxkeinprogramm' '\\notiz.tbxkeinprogramm=:x'
  "${MAKE_SFX[@]}" --stub "$STUB_DIR/tambrix.res2" --out whole.exe '\\a.txt=:a' '\\b.txt=:b'
  head -c -10 whole.exe >cut.exe && rm whole.exe
}
group_dialogs() {
  run_window_driver dialog_cases 'StubChoices.*'
}

for g in $GROUPS_TO_RUN; do
  echo "== $g"
  cd "$WORK" && "group_$g"
done
echo "stub e2e ($GROUPS_TO_RUN): $checks checks, $failures failed"
[ $failures -eq 0 ]
