#!/usr/bin/env bash
# Packs what `make build` made (presets native, win64 and win32) into OUTDIR (default build/dist):
#   tambrixc_<version>_<arch>.deb   /usr/bin/tambrixc (native, stripped) and the x86_64 extractors
#                                   in /usr/lib/tambrix, where the installed tambrixc looks for them
#   tambrix-<version>-windows.zip   the x86_64 programs at the top, the i686 ones in i686/, each
#                                   tambrix.exe with its help page tambrix-hilfe.html, and
#                                   LIESMICH.txt
#   tambrix-<version>-windows.exe   the same files as a self-extracting archive made by tambrixc
# The version is the project's one (project(Tambrix VERSION ...) in CMakeLists.txt), read from the
# presets' CMake caches; it is never written down a second time.
# File times inside the packages are SOURCE_DATE_EPOCH (default: the time of the last commit), so
# the same builds give the same package bytes.
#   dist.sh [OUTDIR]
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
OUT="${1:-$ROOT/build/dist}"
NATIVE="$ROOT/build/native/dist"
WIN64="$ROOT/build/win64/dist"
WIN32="$ROOT/build/win32/dist"
PKG="$ROOT/packaging"
WINDOWS_FILES="tambrix.exe tambrixc.exe tambrix.res1 tambrix.res2 tambrix-hilfe.html"
log() { printf '[dist] %s\n' "$*"; }
die() { printf '[dist] %s\n' "$*" >&2; exit 1; }

for f in "$NATIVE/tambrixc" "$WIN64"/{tambrix.exe,tambrixc.exe,tambrix.res1,tambrix.res2} \
         "$WIN32"/{tambrix.exe,tambrixc.exe,tambrix.res1,tambrix.res2} \
         "$WIN64/tambrix-hilfe.html" "$WIN32/tambrix-hilfe.html"; do
  [ -f "$f" ] || die "missing $f: run make build (or make native win64 win32) first"
done

# One version for all three builds: a preset configured before the version changed would ship
# programs of another version.
version=""
for preset in native win64 win32; do
  cache="$ROOT/build/$preset/CMakeCache.txt"
  v="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$cache" 2>/dev/null)"
  [ -n "$v" ] || die "build/$preset has no project version: run cmake --preset $preset"
  [ -z "$version" ] || [ "$v" = "$version" ] ||
    die "build/$preset is version $v, build/native is $version: build every preset again"
  version="$v"
done
[ "$("$NATIVE/tambrixc" --version)" = "tambrixc $version" ] ||
  die "$NATIVE/tambrixc is not version $version: build the native preset again"

export SOURCE_DATE_EPOCH="${SOURCE_DATE_EPOCH:-$(git -C "$ROOT" log -1 --format=%ct 2>/dev/null ||
  stat -c %Y "$ROOT/CMakeLists.txt")}"
export TZ=UTC  # zip stores local times
arch="$(dpkg --print-architecture)"
deb_name="tambrixc_${version}_${arch}.deb"
zip_name="tambrix-${version}-windows.zip"
exe_name="tambrix-${version}-windows.exe"

work="$(mktemp -d "${TMPDIR:-/tmp}/tbx-dist.XXXXXX")"
trap 'rm -rf "$work"' EXIT

# fill TEMPLATE: the template with the version (and the other @NAME@ values given) put in.
fill() {
  local template=$1; shift
  sed -e "s/@VERSION@/$version/g" "$@" "$template"
}
# windows_text TEMPLATE OUT: a text file for Windows: code page 1252, CRLF line ends.
windows_text() {
  fill "$1" | iconv -f UTF-8 -t CP1252 | sed 's/$/\r/' >"$2"
}
# message_text TEMPLATE OUT: a text the extractor shows: lines joined by CRLF, no break at the end.
message_text() {
  local text
  text="$(fill "$1" | iconv -f UTF-8 -t CP1252 | sed '$!s/$/\r/')"
  printf '%s' "$text" >"$2"
}
# Every file and folder below a tree gets the one fixed time.
fix_times() { find "$1" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +; }

# --- the Debian package -------------------------------------------------------------------------
# Laid out as debian/<package>/ beside a minimal debian/control, where dpkg-shlibdeps expects a
# package's files when it computes the libraries' packages for Depends.
log "$deb_name"
root="$work/debian/tambrixc"
install -d -m 0755 "$root/DEBIAN" "$root/usr/bin" "$root/usr/lib/tambrix" \
  "$root/usr/share/doc/tambrixc"
strip --remove-section=.comment --remove-section=.note --strip-unneeded \
  -o "$root/usr/bin/tambrixc" "$NATIVE/tambrixc"
chmod 0755 "$root/usr/bin/tambrixc"
install -m 0644 "$WIN64/tambrix.res1" "$WIN64/tambrix.res2" "$root/usr/lib/tambrix/"
install -m 0644 "$PKG/deb/copyright" "$root/usr/share/doc/tambrixc/copyright"
fill "$PKG/deb/changelog.in" -e "s/@DATE@/$(date -R -d "@$SOURCE_DATE_EPOCH")/" |
  gzip -9n >"$root/usr/share/doc/tambrixc/changelog.gz"
chmod 0644 "$root/usr/share/doc/tambrixc/changelog.gz"
# The manual page is the help text, so the two cannot disagree. roff: backslashes and minus signs
# as roff writes them, and no line taken for a request.
roff() { sed -e 's/\\/\\e/g' -e 's/-/\\-/g' -e 's/^[.'"'"']/\\\&&/'; }
"$NATIVE/tambrixc" --help >"$work/help.txt"
install -d -m 0755 "$root/usr/share/man/man1"
{
  printf '%s\n' "'\\\" -*- coding: UTF-8 -*-"
  printf '.TH TAMBRIXC 1 %s "Tambrix %s"\n' "$(date -d "@$SOURCE_DATE_EPOCH" +%Y-%m-%d)" "$version"
  printf '.SH NAME\n'
  head -n 1 "$work/help.txt" | roff
  printf '.SH BESCHREIBUNG\n.nf\n'
  tail -n +2 "$work/help.txt" | roff
  printf '.fi\n'
} | gzip -9n >"$root/usr/share/man/man1/tambrixc.1.gz"
chmod 0644 "$root/usr/share/man/man1/tambrixc.1.gz"
printf 'Source: tambrixc\n\nPackage: tambrixc\nArchitecture: any\n' >"$work/debian/control"
depends="$(cd "$work" && dpkg-shlibdeps -O -edebian/tambrixc/usr/bin/tambrixc |
  sed -n 's/^shlibs:Depends=//p')"
[ -n "$depends" ] || die "dpkg-shlibdeps found no libraries for tambrixc"
# Installed-Size in KiB, counted as dpkg-gencontrol does: each file rounded up, one per folder.
size="$(cd "$root" && find usr -type f -printf '%s\n' |
  awk '{ k += int(($1 + 1023) / 1024) } END { print k }')"
size=$((size + $(cd "$root" && find usr -type d | wc -l)))
(cd "$root" && find usr -type f | LC_ALL=C sort | xargs md5sum >DEBIAN/md5sums)
fill "$PKG/deb/control.in" -e "s/@ARCH@/$arch/" -e "s/@DEPENDS@/$depends/" \
  -e "s/@INSTALLED_SIZE@/$size/" >"$root/DEBIAN/control"
chmod 0644 "$root/DEBIAN/control" "$root/DEBIAN/md5sums"
fix_times "$root"
dpkg-deb --root-owner-group -Zxz --build "$root" "$work/$deb_name" >/dev/null

# --- the Windows tree ---------------------------------------------------------------------------
# The programs lose their symbol tables and debug sections (more than half of their bytes); the
# extractors are built stripped, and stay byte for byte what the tests ran.
tree="$work/tambrix-$version"
install -d -m 0755 "$tree/i686"
for pair in "$WIN64:$tree:x86_64" "$WIN32:$tree/i686:i686"; do
  IFS=: read -r from to triple <<<"$pair"
  for f in tambrix.exe tambrixc.exe; do
    "$triple-w64-mingw32-strip" -o "$to/$f" "$from/$f"
  done
  # The "Hilfe" button opens the page beside the program.
  cp "$from/tambrix.res1" "$from/tambrix.res2" "$from/tambrix-hilfe.html" "$to/"
  (cd "$to" && chmod 0644 $WINDOWS_FILES)
done
windows_text "$PKG/windows/LIESMICH.txt" "$tree/LIESMICH.txt"
chmod 0644 "$tree/LIESMICH.txt"
fix_times "$tree"

log "$zip_name"
# Files only (no folder entries, no Unix extra fields), in one sorted order.
(cd "$tree" && find . -type f -printf '%P\n' | LC_ALL=C sort |
  zip -q -X -D -9 "$work/$zip_name" -@)

log "$exe_name"
# Built from beside the tree, so the stored names begin below it (\tambrix.exe, \i686\...) and
# the settings name no folder of this machine. No message before unpacking (an empty text), one
# after it.
texts="$work/texts"
mkdir -p "$texts"
message_text "$PKG/windows/dialog.txt" "$texts/dialog.txt"
message_text "$PKG/windows/unpacked.txt" "$texts/unpacked.txt"
: >"$texts/none.txt"
(cd "$work" && "$NATIVE/tambrixc" build --source "tambrix-$version" --sfx "$exe_name" \
  --max-compression --title "Tambrix $version" --target-dir 'C:\Tambrix' --command "" \
  --text-file texts/dialog.txt --info-before-file texts/none.txt \
  --info-after-file texts/unpacked.txt --stub-dir "$WIN64" >"$work/build.txt" 2>&1) ||
  { cat "$work/build.txt" >&2; die "tambrixc could not build $exe_name"; }
"$NATIVE/tambrixc" verify "$work/$exe_name" >"$work/verify.txt" 2>&1 ||
  { cat "$work/verify.txt" >&2; die "$exe_name does not verify"; }

mkdir -p "$OUT"
rm -f "$OUT"/tambrixc_*.deb "$OUT"/tambrix-*-windows.zip "$OUT"/tambrix-*-windows.exe
mv "$work/$deb_name" "$work/$zip_name" "$work/$exe_name" "$OUT/"
for f in "$deb_name" "$zip_name" "$exe_name"; do
  log "$(stat -c '%8s bytes' "$OUT/$f")  $OUT/$f"
done
