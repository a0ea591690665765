#!/usr/bin/env bash
# The packages of scripts/dist.sh, made afresh in a temporary folder from the current builds of the
# presets native, win64 and win32:
#   - the .deb: its name, its control fields, a Depends that names the package of every library
#     tambrixc loads, exactly the promised files owned by root, a stripped tambrixc, the x86_64
#     extractors byte for byte, changelog and manual page of the version;
#   - installed with apt-get (as root; otherwise unpacked with dpkg-deb -x), its tambrixc builds
#     archives with both methods without --stub-dir, taking the extractors from ../lib/tambrix,
#     and they verify and unpack to examples/tree;
#   - the .zip: exactly the promised names, the built files (programs stripped, every section of
#     theirs unchanged) of the right machine type, LIESMICH.txt in code page 1252 with CRLF;
#   - the .exe: verifies, starts with the x86_64 bzip2 extractor and unpacks to the zip's files;
#   - a second run of dist.sh gives the same bytes.
#   dist_test.sh REPOSITORY
set -u
ROOT="$(cd "$1" && pwd)"
TAMBRIXC="$ROOT/build/native/dist/tambrixc"
WIN64="$ROOT/build/win64/dist"
WIN32="$ROOT/build/win32/dist"
TREE="$ROOT/examples/tree"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
# quiet LOG command...: runs the command with its output in LOG, shown only when it fails.
quiet() {
  local log=$1; shift
  "$@" >"$log" 2>&1 || { cat "$log" >&2; return 1; }
}

# pe_machine FILE: the machine field of a PE file's header, as four hex digits.
pe_machine() {
  local lfanew
  lfanew=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
  od -An -tx2 -j$((lfanew + 4)) -N2 "$1" | tr -d ' '
}
# same_sections STRIPPED BUILT: the stripped program keeps every section of its own with the
# built program's bytes, and has no debug section left.
same_sections() {
  local s
  ! x86_64-w64-mingw32-objdump -h "$1" | grep -q ' \.debug_' || fail "$1 has debug sections"
  for s in $(x86_64-w64-mingw32-objdump -h "$1" | awk '$1 ~ /^[0-9]+$/ { print $2 }'); do
    x86_64-w64-mingw32-objcopy -O binary --only-section="$s" "$1" "$WORK/a.bin" &&
      x86_64-w64-mingw32-objcopy -O binary --only-section="$s" "$2" "$WORK/b.bin" ||
      fail "objcopy cannot read section $s of $1"
    cmp -s "$WORK/a.bin" "$WORK/b.bin" || fail "section $s of $1 differs from $2"
  done
}
# unpacked_root DIR ANCHOR: the folder below DIR that holds the one file named ANCHOR, when every
# file below DIR lies in it; so a tree is found whichever folders the stored names begin with.
unpacked_root() {
  local found top
  found="$(find "$1" -name "$2")"
  [ -n "$found" ] && [ "$(printf '%s\n' "$found" | wc -l)" = 1 ] ||
    fail "not one $2 below $1: $found"
  top="$(dirname "$found")"
  [ -z "$(find "$1" -type f ! -path "$top/*")" ] || fail "files outside $top below $1"
  printf '%s\n' "$top"
}

v="$("$TAMBRIXC" --version)"
v="${v#tambrixc }"
[[ $v =~ ^[0-9]+(\.[0-9]+)+$ ]] || fail "tambrixc --version gives no version: $v"
arch="$(dpkg --print-architecture)"
deb="tambrixc_${v}_${arch}.deb"
zip="tambrix-${v}-windows.zip"
exe="tambrix-${v}-windows.exe"

quiet "$WORK/dist.log" bash "$ROOT/scripts/dist.sh" "$WORK/dist" || fail "dist.sh failed"
[ "$(LC_ALL=C ls "$WORK/dist")" = "$(printf '%s\n' "$exe" "$zip" "$deb" | LC_ALL=C sort)" ] ||
  fail "dist.sh made: $(ls "$WORK/dist")"
cd "$WORK/dist"

# --- the Debian package -------------------------------------------------------------------------
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = tambrixc ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$v" ] || fail "Version: $(field Version) instead of $v"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture: $(field Architecture)"
[[ $(field Maintainer) =~ ^[^\<]+\ \<[^@]+@[^\>]+\>$ ]] || fail "Maintainer: $(field Maintainer)"
[ -n "$(field Description)" ] || fail "no Description"
[[ $(field Depends) == *"libc6 (>= "* ]] || fail "Depends names no libc6 version: $(field Depends)"

expected_contents() {
  cat <<EOF
drwxr-xr-x root/root ./
drwxr-xr-x root/root ./usr/
drwxr-xr-x root/root ./usr/bin/
-rwxr-xr-x root/root ./usr/bin/tambrixc
drwxr-xr-x root/root ./usr/lib/
drwxr-xr-x root/root ./usr/lib/tambrix/
-rw-r--r-- root/root ./usr/lib/tambrix/tambrix.res1
-rw-r--r-- root/root ./usr/lib/tambrix/tambrix.res2
drwxr-xr-x root/root ./usr/share/
drwxr-xr-x root/root ./usr/share/doc/
drwxr-xr-x root/root ./usr/share/doc/tambrixc/
-rw-r--r-- root/root ./usr/share/doc/tambrixc/changelog.gz
-rw-r--r-- root/root ./usr/share/doc/tambrixc/copyright
drwxr-xr-x root/root ./usr/share/man/
drwxr-xr-x root/root ./usr/share/man/man1/
-rw-r--r-- root/root ./usr/share/man/man1/tambrixc.1.gz
EOF
}
dpkg-deb --contents "$deb" | awk '{ print $1, $2, $6 }' | LC_ALL=C sort >"$WORK/contents.txt"
expected_contents | LC_ALL=C sort | diff - "$WORK/contents.txt" || fail "the .deb holds other files"

dpkg-deb -x "$deb" "$WORK/root" && dpkg-deb -e "$deb" "$WORK/control" || fail "cannot unpack $deb"
(cd "$WORK/root" && md5sum --quiet -c "$WORK/control/md5sums") || fail "md5sums do not match"
bin="$WORK/root/usr/bin/tambrixc"
! readelf -S "$bin" | grep -q -e '\.symtab' -e '\.debug_' || fail "tambrixc is not stripped"
[ "$("$bin" --version)" = "tambrixc $v" ] || fail "packaged tambrixc: $("$bin" --version)"
for f in tambrix.res1 tambrix.res2; do
  cmp "$WORK/root/usr/lib/tambrix/$f" "$WIN64/$f" || fail "/usr/lib/tambrix/$f is not the build's"
done
[ "$(zcat "$WORK/root/usr/share/doc/tambrixc/changelog.gz" | head -n 1)" = \
  "tambrixc ($v) unstable; urgency=medium" ] || fail "changelog.gz is not of $v"
[ -s "$WORK/root/usr/share/doc/tambrixc/copyright" ] || fail "copyright is empty"
man="$WORK/root/usr/share/man/man1/tambrixc.1.gz"
zcat "$man" | grep -qx ".TH TAMBRIXC 1 [-0-9]* \"Tambrix $v\"" || fail "manual page not of $v"
zcat "$man" | grep -qF -- '\-\-max\-compression' || fail "the manual page lacks the options"
size=$(find "$WORK/root/usr" -type f -printf '%s\n' | awk '{ b += $1 } END { print int(b / 1024) }')
[ "$(field Installed-Size)" -ge "$size" ] && [ "$(field Installed-Size)" -le $((size + 32)) ] ||
  fail "Installed-Size $(field Installed-Size) for $size KiB"

# Every library the program needs comes from a package that Depends names.
depends=" $(field Depends | sed 's/([^)]*)//g; s/[,|]/ /g') "
needed="$(readelf -d "$bin" | sed -n 's/.*(NEEDED).*\[\(.*\)\]$/\1/p')"
[ -n "$needed" ] || fail "readelf finds no library of tambrixc"
for lib in $needed; do
  path="$(ldd "$bin" | awk -v lib="$lib" '$1 == lib && $2 == "=>" { print $3 }')"
  [ -n "$path" ] || fail "ldd does not resolve $lib"
  # A merged /usr: dpkg knows the file under one of its two names.
  pkg="$(dpkg -S "$path" 2>/dev/null || dpkg -S "/usr${path#/usr}" 2>/dev/null ||
    dpkg -S "${path#/usr}" 2>/dev/null)"
  pkg="${pkg%%:*}"
  [ -n "$pkg" ] || fail "no package holds $path ($lib)"
  [[ $depends == *" $pkg "* ]] || fail "Depends lacks $pkg for $lib: $(field Depends)"
done

# --- installed ----------------------------------------------------------------------------------
if [ "$(id -u)" = 0 ]; then
  # --reinstall: the same version built again is installed again, so what is tested is this build.
  export DEBIAN_FRONTEND=noninteractive
  quiet "$WORK/apt.log" apt-get install -y -q --reinstall \
    --allow-downgrades -o DPkg::Lock::Timeout=300 "$WORK/dist/$deb" || fail "apt-get install failed"
  [ "$(dpkg-query -W -f='${Version} ${db:Status-Abbrev}' tambrixc)" = "$v ii " ] ||
    fail "installed: $(dpkg-query -W -f='${Version} ${db:Status-Abbrev}' tambrixc)"
  dpkg -L tambrixc | grep -qx /usr/lib/tambrix/tambrix.res1 || fail "dpkg -L lacks the stubs"
  prefix=/usr
  cmp "$prefix/bin/tambrixc" "$bin" || fail "/usr/bin/tambrixc is not the packaged one"
else
  echo "not root: the package is tested unpacked (dpkg-deb -x), not installed"
  prefix="$WORK/root/usr"
fi
installed="$prefix/bin/tambrixc"
# The extractors must come from ../lib/tambrix: none may lie beside the program.
[ ! -e "$prefix/bin/tambrix.res1" ] && [ ! -e "$prefix/bin/tambrix.res2" ] ||
  fail "an extractor lies in $prefix/bin; the lookup in ../lib/tambrix is not tested"
cd "$ROOT"  # a relative source: stored names begin below examples/tree under either naming rule
for method in bzip2 gzip; do
  flag="" stub=tambrix.res2
  [ $method = bzip2 ] && flag=--max-compression stub=tambrix.res1
  quiet "$WORK/$method.log" "$installed" build --source examples/tree --sfx "$WORK/$method.exe" \
    $flag --title "Paket" --command "" --target-dir "" || fail "installed tambrixc: $method build"
  cmp -s -n "$(stat -c %s "$prefix/lib/tambrix/$stub")" "$prefix/lib/tambrix/$stub" \
    "$WORK/$method.exe" || fail "$method archive does not begin with $prefix/lib/tambrix/$stub"
  quiet "$WORK/$method.log" "$installed" list "$WORK/$method.exe" || fail "$method: list"
  grep -q "Methode: $method" "$WORK/$method.log" || fail "$method: list shows another method"
  quiet "$WORK/$method.log" "$installed" verify "$WORK/$method.exe" || fail "$method: verify"
  quiet "$WORK/$method.log" "$installed" extract "$WORK/$method.exe" "$WORK/out-$method" ||
    fail "$method: extract"
  diff -r "$TREE" "$(unpacked_root "$WORK/out-$method" liesmich.txt)" ||
    fail "$method: the unpacked tree differs from examples/tree"
done
cd "$WORK/dist"

# --- the zip ------------------------------------------------------------------------------------
names="LIESMICH.txt tambrix.exe tambrixc.exe tambrix.res1 tambrix.res2 tambrix-hilfe.html"
names+=" i686/tambrix.exe i686/tambrixc.exe i686/tambrix.res1 i686/tambrix.res2"
names+=" i686/tambrix-hilfe.html"
[ "$(unzip -Z1 "$zip" | LC_ALL=C sort)" = "$(printf '%s\n' $names | LC_ALL=C sort)" ] ||
  fail "the zip holds: $(unzip -Z1 "$zip" | tr '\n' ' ')"
quiet "$WORK/unzip.log" unzip -tq "$zip" || fail "the zip does not test"
unzip -q "$zip" -d "$WORK/zip" || fail "cannot unpack the zip"
for pair in "$WORK/zip:$WIN64:8664" "$WORK/zip/i686:$WIN32:014c"; do
  IFS=: read -r got built machine <<<"$pair"
  for f in tambrix.exe tambrixc.exe tambrix.res1 tambrix.res2; do
    [ "$(pe_machine "$got/$f")" = "$machine" ] || fail "$got/$f: machine $(pe_machine "$got/$f")"
  done
  cmp "$got/tambrix.res1" "$built/tambrix.res1" && cmp "$got/tambrix.res2" "$built/tambrix.res2" ||
    fail "the zip's extractors in $got are not the build's"
  # The help page beside each tambrix.exe, as the source tree holds it.
  cmp "$got/tambrix-hilfe.html" "$ROOT/resources/tambrix-hilfe.html" ||
    fail "the help page in $got is not resources/tambrix-hilfe.html"
  same_sections "$got/tambrix.exe" "$built/tambrix.exe"
  same_sections "$got/tambrixc.exe" "$built/tambrixc.exe"
done
text="$WORK/zip/LIESMICH.txt"
[ "$(grep -c $'\r$' "$text")" = "$(wc -l <"$text")" ] &&
  [ "$(tail -c 2 "$text" | od -An -tx1 | tr -d ' ')" = 0d0a ] ||
  fail "LIESMICH.txt has a line without CRLF"
LC_ALL=C grep -q $'f\xfcr Windows' "$text" || fail "LIESMICH.txt is not in code page 1252"
grep -q "Tambrix $v" "$text" || fail "LIESMICH.txt names no version $v"
for f in $names i686; do
  grep -q "${f#i686/}" "$text" || fail "LIESMICH.txt does not say what $f is"
done

# --- the self-extracting archive ----------------------------------------------------------------
quiet "$WORK/exe.log" "$TAMBRIXC" verify "$exe" || fail "$exe does not verify"
quiet "$WORK/exe.log" "$TAMBRIXC" list "$exe" || fail "$exe: list"
grep -q 'Methode: bzip2, Dateien: 11,' "$WORK/exe.log" || fail "$exe: not the 11 files with bzip2"
grep -qx "Dialogtitelzeile: Tambrix $v" "$WORK/exe.log" || fail "$exe: title"
cmp -s -n "$(stat -c %s "$WIN64/tambrix.res1")" "$WIN64/tambrix.res1" "$exe" ||
  fail "$exe does not begin with the x86_64 bzip2 extractor"
quiet "$WORK/exe.log" "$TAMBRIXC" extract "$exe" "$WORK/exe" || fail "$exe: extract"
diff -r "$WORK/zip" "$(unpacked_root "$WORK/exe" LIESMICH.txt)" ||
  fail "$exe unpacks to other files than the zip"

# --- the same bytes again -----------------------------------------------------------------------
quiet "$WORK/dist2.log" bash "$ROOT/scripts/dist.sh" "$WORK/dist2" || fail "second dist.sh failed"
for f in "$deb" "$zip" "$exe"; do
  cmp "$f" "$WORK/dist2/$f" || fail "$f differs between two runs"
done
echo "dist packages: OK ($deb, $zip, $exe)"
