// In-process decompression of every entry of an archive, the yardstick for bench/stub_speed.sh:
// the file is read whole into memory, parsed by the shared archive reader, and each entry is
// decoded by the same decoder library the stubs link, into a sink that only counts. Nothing is
// written. Prints the entries, the bytes and the seconds spent; exit code 0 only when every entry
// decoded cleanly.
//   stub_decode_bench ARCHIVE
#include <chrono>
#include <cstdio>
#include <vector>

#include "archive/archive_reader.h"
#include "archive/entry_decoder.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: stub_decode_bench ARCHIVE\n");
    return 2;
  }
  const auto start = std::chrono::steady_clock::now();
  std::FILE* f = std::fopen(argv[1], "rb");
  if (!f) return 2;
  std::vector<unsigned char> data;
  unsigned char chunk[1 << 16];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) data.insert(data.end(), chunk, chunk + n);
  std::fclose(f);

  MemoryByteSource src(data.data(), data.size());
  ArchiveInfo info;
  if (ReadArchive(src, info) != ReadStatus::Ok) return 2;
  uint64_t bytes = 0;
  const ByteSink sink = [&bytes](const uint8_t*, size_t k) {
    bytes += k;
    return true;
  };
  for (const ArchiveEntry& e : info.entries) {
    DecodeStatus s = e.method == 0 ? DecodeBzip2Entry(src, e, sink) : DecodeGzipEntry(src, e, sink);
    if (s != DecodeStatus::Ok) return 2;
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%zu entries, %llu bytes, %.2f s\n", info.entries.size(),
              static_cast<unsigned long long>(bytes), seconds);
  return 0;
}
