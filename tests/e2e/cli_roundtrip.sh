#!/usr/bin/env bash
# The real tambrixc on the example tree: build with both methods, list, verify, extract, and
# compare the trees byte for byte; a hand-made archive with a "..\evil" name is refused and
# nothing outside the target changes; exit codes are those promised.
#   cli_roundtrip.sh TAMBRIXC EXAMPLE_TREE
set -u
TAMBRIXC="$1"
TREE="$(cd "$2" && pwd)"
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
  expect_rc 0 "$TAMBRIXC" build --source tree --sfx "$method.exe" $flag --stub-dir stubs \
    --title "Beispiel" --command "" --target-dir ""
  expect_rc 0 "$TAMBRIXC" list "$method.exe"
  grep -q "Methode: $method" out.txt || fail "list shows no method $method"
  grep -q 'bersicht.txt' out.txt || fail "list misses the German name"
  expect_rc 0 "$TAMBRIXC" verify "$method.exe"
  expect_rc 0 "$TAMBRIXC" extract "$method.exe" "out-$method"
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
expect_rc 0 "$TAMBRIXC" verify evil.exe   # well-formed: the name is refused only on unpacking
mkdir -p victim
printf 'sentinel' >victim/evil.txt
expect_rc 1 "$TAMBRIXC" extract evil.exe victim/target
[ "$(cat victim/evil.txt)" = sentinel ] || fail "sentinel outside the target was changed"
[ ! -e victim/target ] || fail "something was written for a refused archive"

# Damage and usage errors.
head -c -7 gzip.exe >cut.exe
expect_rc 1 "$TAMBRIXC" verify cut.exe
expect_rc 1 "$TAMBRIXC" extract cut.exe cut-out
[ ! -e cut-out ] || fail "a damaged archive created its target"
expect_rc 1 "$TAMBRIXC" build --source tree --sfx x.exe --stub-dir nowhere
grep -q 'tambrix.resx' err.txt || fail "missing stub gives no message"
expect_rc 2 "$TAMBRIXC" build --source tree --sfx x.exe --unknown
expect_rc 2 "$TAMBRIXC" frobnicate
expect_rc 0 "$TAMBRIXC" --help
echo "cli round trip: OK"
