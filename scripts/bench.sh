#!/usr/bin/env bash
# Benchmarks (not part of the tests):
#   1. building: tambrixc's build driver against in-process libbz2/zlib at the same settings on a
#      copy of /usr/include, files per second, peak memory (also with one 1 GiB file);
#   2. reading an archive whose settings hold 32,767 source paths (the reader stays linear);
#   3. unpacking: the extractor stubs under wine64 against in-process decompression.
set -eu
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"
echo "===== build benchmark"
build/native/bench/tambrix_bench --repeat 2
echo "===== reading settings with the most source paths"
build/native/bench/parse_bench
echo "===== extraction benchmark"
bash bench/stub_speed.sh build/win64/dist build/native/dist/tambrixc \
  build/win64/stub/stub_decode_bench.exe
