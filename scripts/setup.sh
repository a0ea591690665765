#!/usr/bin/env bash
# Sets up a Debian 12 machine (as root) for building and testing Tambrix. Idempotent: a second run
# only checks and returns quickly.
#   - Debian packages: compilers, CMake, GoogleTest, zlib and libbz2, MinGW-w64 (both targets,
#     posix thread model), zlib for MinGW, Wine (64-bit), fonts, Xvfb, signing tools, zip and
#     unzip for the Windows package.
#   - libbz2 for both MinGW targets, compiled from Debian's bzip2 source package.
#   - GoogleTest for both MinGW targets, compiled from /usr/src/googletest.
# Everything built lands in .cache/mingw/<triple>/ (ignored by git).
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
CACHE="$ROOT/.cache"
TRIPLES="x86_64-w64-mingw32 i686-w64-mingw32"
log() { printf '[setup] %s\n' "$*"; }

PACKAGES=(
  build-essential cmake make pkg-config python3 dpkg-dev
  googletest libgtest-dev zlib1g-dev libbz2-dev bzip2 gzip
  mingw-w64 gcc-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-posix
  gcc-mingw-w64-i686-posix g++-mingw-w64-i686-posix libz-mingw-w64-dev
  wine64 fonts-wine xvfb x11-utils imagemagick osslsigncode openssl zip unzip python3-pefile
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  log "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# --- libbz2 for MinGW from Debian's bzip2 source package ------------------------------------
need_bz2=0
for t in $TRIPLES; do [ -f "$CACHE/mingw/$t/lib/libbz2.a" ] || need_bz2=1; done
if [ $need_bz2 = 1 ]; then
  src_dir="$CACHE/src"
  if ! ls -d "$src_dir"/bzip2-*/ >/dev/null 2>&1; then
    # A deb-src entry made from the machine's own apt sources, so no host name lives in the repo.
    if ! apt-get source --print-uris bzip2 >/dev/null 2>&1 || \
       [ -z "$(apt-get source --print-uris bzip2 2>/dev/null | grep -F .dsc)" ]; then
      log "adding deb-src entries derived from the machine's apt sources"
      if [ -f /etc/apt/sources.list.d/debian.sources ]; then
        sed -e 's/^Types:.*$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources \
          > /etc/apt/sources.list.d/tambrix-deb-src.sources
      fi
      if [ -f /etc/apt/sources.list ] && grep -q '^deb ' /etc/apt/sources.list; then
        grep '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' \
          > /etc/apt/sources.list.d/tambrix-deb-src.list
      fi
      apt-get update -qq
    fi
    mkdir -p "$src_dir"
    (cd "$src_dir" && apt-get source -qq bzip2 >/dev/null 2>&1)
  fi
  bz_src="$(ls -d "$src_dir"/bzip2-*/ | head -n 1)"
  for t in $TRIPLES; do
    out="$CACHE/mingw/$t"
    [ -f "$out/lib/libbz2.a" ] && continue
    log "building libbz2 for $t"
    obj="$CACHE/obj/bzip2-$t"
    rm -rf "$obj"; mkdir -p "$obj" "$out/lib" "$out/include"
    for c in blocksort huffman crctable randtable compress decompress bzlib; do
      "$t-gcc-posix" -O2 -D_FILE_OFFSET_BITS=64 -c "$bz_src/$c.c" -o "$obj/$c.o"
    done
    "$t-ar" rcs "$out/lib/libbz2.a" "$obj"/*.o
    cp "$bz_src/bzlib.h" "$out/include/"
  done
fi

# --- GoogleTest for MinGW ---------------------------------------------------------------------
for t in $TRIPLES; do
  out="$CACHE/mingw/$t"
  [ -f "$out/lib/libgtest.a" ] && continue
  log "building googletest for $t"
  arch="${t%%-*}"
  bdir="$CACHE/obj/gtest-$t"
  rm -rf "$bdir"
  cmake -S /usr/src/googletest -B "$bdir" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-$arch.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$out" -Dgtest_disable_pthreads=OFF \
    -DCMAKE_CROSSCOMPILING_EMULATOR= >/dev/null
  cmake --build "$bdir" -j"$(nproc)" >/dev/null
  cmake --install "$bdir" >/dev/null
done

log "ready"
