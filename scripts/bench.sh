#!/usr/bin/env bash
# Benchmarks (not part of the tests):
#   1. building: tambrixc's build driver on one and on every processor's thread against in-process
#      libbz2/zlib at the same settings on one thread, on a copy of /usr/include and on one 200 MiB
#      file of its text; peak memory on 1, 2 and 4 threads (also with 1 GiB files); makeself with
#      pbzip2 and pigz, and tar into pbzip2 and pigz, on the same tree;
#   2. reading an archive whose settings hold 32,767 source paths (the reader stays linear), and
#      the rewrite of a stub's resources;
#   3. unpacking: the extractor stubs under wine64 against in-process decompression;
#   4. unpacking over existing files: replacing them (with backups) and keeping them (/O=skip).
set -eu
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"
# The peers of the build benchmark, installed once; it leaves out any that is missing.
PEERS="makeself pbzip2 pigz"
if ! dpkg -s $PEERS >/dev/null 2>&1 && command -v apt-get >/dev/null; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get install -y -qq $PEERS >/dev/null 2>&1 ||
    { apt-get update -qq && apt-get install -y -qq $PEERS >/dev/null; } ||
    echo "(could not install $PEERS; the build benchmark leaves them out)"
fi
echo "===== build benchmark"
build/native/bench/tambrix_bench --repeat 2
echo "===== reading settings with the most source paths"
build/native/bench/parse_bench
echo "===== rewriting a stub's resources"
build/native/bench/pe_rewrite_bench build/win64/stub/tambrix.res1
echo "===== extraction benchmark"
bash bench/stub_speed.sh build/win64/dist build/native/dist/tambrixc \
  build/win64/stub/stub_decode_bench.exe
echo "===== unpacking over existing files"
bash bench/stub_replace.sh build/win64/dist build/native/dist/tambrixc \
  build/win64/stub/stub_decode_bench.exe
echo "===== wineserver requests per file"
bash bench/stub_calls.sh build/win64/dist
echo "===== the stub on one thread and on every core (TAMBRIX_PREVIOUS_STUBS: a folder with the previous release's stubs)"
bash bench/stub_threads.sh build/win64/dist build/native/dist/tambrixc \
  build/win64/stub/create_files_bench.exe ${TAMBRIX_PREVIOUS_STUBS:-}
