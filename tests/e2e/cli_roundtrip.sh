#!/usr/bin/env bash
# The real tambrixc on the example tree: build with both methods, list, verify, extract, and
# compare the trees byte for byte; a hand-made archive with a "..\evil" name is refused and
# nothing outside the target changes; exit codes are those promised.
# When osslsigncode and openssl are there, an archive with a minimal PE stub is also signed and
# must still verify and unpack.
#   cli_roundtrip.sh TAMBRIXC EXAMPLE_TREE [RUNNER]   (RUNNER: e.g. scripts/wine-run.sh for .exe)
set -u
TAMBRIXC="$1"
TREE="$(cd "$2" && pwd)"
RUNNER="${3:-}"
run() { if [ -n "$RUNNER" ]; then "$RUNNER" "$TAMBRIXC" "$@"; else "$TAMBRIXC" "$@"; fi; }
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
expect_rc() {  # expect_rc CODE command...
  local want="$1"; shift
  "$@" >"$WORK/out.txt" 2>"$WORK/err.txt"
  local rc=$?
  [ "$rc" -eq "$want" ] || { cat "$WORK/err.txt" >&2; fail "exit $rc instead of $want: $*"; }
}

mkdir -p "$WORK/stubs"
printf 'MZ placeholder stub (bzip2)' >"$WORK/stubs/tambrix.res1"
printf 'MZ placeholder stub (gzip)' >"$WORK/stubs/tambrix.res2"
cp -r "$TREE" "$WORK/tree"
cd "$WORK"

for method in bzip2 gzip; do
  flag=""; [ "$method" = bzip2 ] && flag="--max-compression"
  expect_rc 0 run build --source tree --sfx "$method.exe" $flag --stub-dir stubs \
    --title "Beispiel" --command "" --target-dir ""
  expect_rc 0 run list "$method.exe"
  grep -q "Methode: $method" out.txt || fail "list shows no method $method"
  grep -q 'bersicht.txt' out.txt || fail "list misses the German name"
  expect_rc 0 run verify "$method.exe"
  expect_rc 0 run extract "$method.exe" "out-$method"
  diff -r tree "out-$method" || fail "$method: extracted tree differs"
  # The stub is copied whole to the front, and the last four bytes point behind it.
  stub="stubs/tambrix.res1"; [ "$method" = gzip ] && stub="stubs/tambrix.res2"
  cmp -n "$(stat -c %s "$stub")" "$stub" "$method.exe" || fail "$method: stub not at the front"
done

# A hand-made gzip archive whose second name climbs out of the target.
le16() { printf "\\x$(printf %02x $(($1 & 255)))\\x$(printf %02x $(($1 >> 8 & 255)))"; }
le32() { le16 $(($1 & 65535)); le16 $(($1 >> 16 & 65535)); }
entry() {  # entry NAME CONTENT
  printf '%s' "$2" | gzip -9 -n >data.gz
  le16 ${#1}; printf '%s' "$1"
  for v in 29 31 14 7 12 46; do le32 $v; done
  le32 ${#2}; le32 "$(stat -c %s data.gz)"; printf '\x01\x00'; le32 0
  cat data.gz
}
{
  printf 'MZstub'                                   # 6-byte stub
  printf '\x01'; le16 1; le16 1; printf 'x'         # version, one source path "x"
  printf '\x01\x00'; for i in 1 2 3 4 5 6 7 8; do le16 0; done
  printf '\x00'; le16 0; printf '\x01\x00'
  printf 'SFX2'; le32 2; le32 0; le32 0; printf '\x01'
  entry '\ok.txt' 'harmlos'
  entry '\..\evil.txt' 'overwritten'
  le32 6
} >evil.exe
expect_rc 1 run verify evil.exe   # well-formed, but no extractor creates that name
mkdir -p victim
printf 'sentinel' >victim/evil.txt
expect_rc 1 run extract evil.exe victim/target
[ "$(cat victim/evil.txt)" = sentinel ] || fail "sentinel outside the target was changed"
[ ! -e victim/target ] || fail "something was written for a refused archive"

# Damage and usage errors.
head -c -7 gzip.exe >cut.exe
expect_rc 1 run verify cut.exe
expect_rc 1 run extract cut.exe cut-out
[ ! -e cut-out ] || fail "a damaged archive created its target"
expect_rc 1 run build --source tree --sfx x.exe --stub-dir nowhere
grep -q 'tambrix.resx' err.txt || fail "missing stub gives no message"
expect_rc 2 run build --source tree --sfx x.exe --unknown
expect_rc 2 run frobnicate
expect_rc 0 run --help
# Signed after building: the certificate table behind the archive must not get in the way.
if command -v osslsigncode >/dev/null && command -v openssl >/dev/null; then
  poke() { printf "$2" | dd of=pe.exe bs=1 seek=$(($1)) conv=notrunc status=none; }
  head -c 1024 /dev/zero >pe.exe
  poke 0 'MZ'; poke 0x3c '\x80'; poke 0x80 'PE\0\0'; poke 0x84 '\x64\x86'  # x86-64
  poke 0x94 '\xf0'; poke 0x96 '\x22'                 # optional header size 240, flags
  poke 0x98 '\x0b\x02'; poke 0xd4 '\x00\x02'; poke 0x104 '\x10'  # PE32+, headers, 16 dirs
  mkdir -p pestubs; cp pe.exe pestubs/tambrix.res1; cp pe.exe pestubs/tambrix.res2
  expect_rc 0 run build --source tree --sfx unsigned.exe --stub-dir pestubs
  openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 2 \
    -subj "/CN=Tambrix Test" >/dev/null 2>&1 || fail "openssl could not make a certificate"
  osslsigncode sign -certs cert.pem -key key.pem -in unsigned.exe -out signed.exe >/dev/null ||
    fail "osslsigncode could not sign"
  [ "$(stat -c %s signed.exe)" -gt "$(stat -c %s unsigned.exe)" ] || fail "nothing was signed"
  expect_rc 0 run verify signed.exe
  expect_rc 0 run list signed.exe
  grep -q 'Signatur:' out.txt || fail "list does not show the signature"
  expect_rc 0 run extract signed.exe out-signed
  diff -r tree out-signed || fail "signed: extracted tree differs"
fi
# Several threads give the very bytes of one.
for method in bzip2 gzip; do
  flag=""; [ "$method" = bzip2 ] && flag="--max-compression"
  expect_rc 0 run build --source tree --sfx j1.exe $flag --stub-dir stubs -j1
  expect_rc 0 run build --source tree --sfx j3.exe $flag --stub-dir stubs -j 3
  cmp j1.exe j3.exe >/dev/null || {
    # The settings block names the file: compare with the name made equal.
    expect_rc 0 run build --source tree --sfx j1.exe $flag --stub-dir stubs -j 3
    mv j1.exe j3.exe
    expect_rc 0 run build --source tree --sfx j1.exe $flag --stub-dir stubs -j1
    cmp j1.exe j3.exe || fail "$method: -j3 differs from -j1"
  }
done

# Ctrl-C (SIGINT) while the real program compresses: exit 130, the older program file as it was,
# no temporary file in the output folder or in TMPDIR. Natively only: a signal to the Wine
# process does not reach the Windows program as a console Ctrl-C.
if [ -z "$RUNNER" ]; then
  mkdir -p big tmp
  head -c 30000000 /dev/urandom >big/zufall.bin
  printf 'older' >big.exe
  TMPDIR="$WORK/tmp" "$TAMBRIXC" build --source big --sfx big.exe --max-compression \
    --stub-dir stubs -j 2 >/dev/null 2>int.txt &
  pid=$!
  # The program file exists under its temporary name once the build compresses.
  for _ in $(seq 1 400); do
    compgen -G 'tbx*.tmp' >/dev/null && break
    sleep 0.05
  done
  compgen -G 'tbx*.tmp' >/dev/null || fail "the build did not start"
  kill -INT "$pid"
  wait "$pid"
  rc=$?
  [ "$rc" -eq 130 ] || { cat int.txt >&2; fail "Ctrl-C: exit $rc instead of 130"; }
  grep -q 'abgebrochen' int.txt || fail "Ctrl-C: no message"
  [ "$(cat big.exe)" = older ] || fail "Ctrl-C: the older program file was changed"
  ! compgen -G 'tbx*.tmp' >/dev/null || fail "Ctrl-C: the temporary program file is left"
  [ -z "$(ls -A tmp)" ] || fail "Ctrl-C: files left in TMPDIR: $(ls -A tmp)"
  # On a terminal the progress of a parallel build is one line rewritten in place.
  if command -v script >/dev/null; then
    script -qec "'$TAMBRIXC' build --source tree --sfx pty.exe --stub-dir stubs -j 2" \
      /dev/null >pty.txt 2>&1 || fail "build on a terminal failed"
    grep -q $'\rDateien: [0-9]* von [0-9]*, Total: [0-9]* Prozent' pty.txt ||
      fail "no progress line on a terminal"
  fi
fi
# The real program's conventions: its version, a quiet build, list --json as a document a
# script reads (compared with the plain listing).
expect_rc 0 run --version
tr -d '\r' <out.txt | grep -qx 'tambrixc [0-9][0-9.]*' || fail "--version: $(cat out.txt)"
expect_rc 0 run build -q --source tree --sfx quiet.exe --stub-dir stubs
[ ! -s out.txt ] && [ ! -s err.txt ] || fail "a quiet build printed something"
expect_rc 0 run list --json gzip.exe
tr -d '\r' <out.txt >list.json
expect_rc 0 run list gzip.exe
python3 - list.json out.txt <<'PY' || fail "list --json does not match list"
import json, sys
doc = json.load(open(sys.argv[1], encoding="ascii"))
raw = open(sys.argv[2], "rb").read()
try:  # the console's encoding: UTF-8 on Linux; code page 1252 when Windows writes to a file
    listing = raw.decode("utf-8")
except UnicodeDecodeError:
    listing = raw.decode("cp1252")
assert doc["method"] == "gzip" and doc["complete"] and doc["problem"] is None, doc
assert doc["fileCount"] == len(doc["entries"]) > 0
assert doc["settings"]["dialogTitle"] == "Beispiel"
for e in doc["entries"]:
    assert e["name"] in listing, e["name"]
assert any("\u00dc" in e["name"] for e in doc["entries"]), "the German name is lost"
PY

# Reproducible: two copies of the tree, created in opposite orders in two folders with their
# own file times, give the same bytes when built with the same relative names and
# SOURCE_DATE_EPOCH.
for copy in one two; do
  mkdir -p "$copy"
  if [ $copy = one ]; then order=(sort); else order=(sort -r); fi
  (cd tree && find . -type d | "${order[@]}") | while read -r d; do mkdir -p "$copy/tree/$d"; done
  (cd tree && find . -type f | "${order[@]}") | while read -r f; do cp "tree/$f" "$copy/tree/$f"; done
  [ $copy = two ] && find "$copy/tree" -type f -exec touch -d '2001-02-03 04:05:06' {} +
  (cd "$copy" && SOURCE_DATE_EPOCH=1700000000 run build --source tree --sfx same.exe \
    --max-compression --stub-dir ../stubs -q) || fail "reproducible build in $copy failed"
done
cmp one/same.exe two/same.exe >/dev/null && fail "file times older than the limit were lost"
for copy in one two; do find "$copy/tree" -type f -exec touch -d '2030-01-01' {} +; done
for copy in one two; do
  (cd "$copy" && SOURCE_DATE_EPOCH=1700000000 run build --source tree --sfx same.exe \
    --max-compression --stub-dir ../stubs -q) || fail "reproducible build in $copy failed"
done
cmp one/same.exe two/same.exe || fail "two copies of one tree built to different bytes"
echo "cli round trip: OK"
