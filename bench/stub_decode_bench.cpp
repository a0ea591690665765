// In-process decompression of every entry of an archive, the yardstick for bench/stub_speed.sh:
// the file is read whole into memory, parsed by the shared archive reader, and each entry is
// decoded by the same decoder library the stubs link, into a sink that only counts. Nothing is
// written. With a folder as second argument every entry is also written there the plainest way
// (folders made as needed, CreateFileW, WriteFile, SetFileTime, CloseHandle; no checks, no
// temporary names): the yardstick for unpacking. Prints the entries, the bytes and the seconds
// spent; exit code 0 only when every entry decoded (and was written) cleanly.
//   stub_decode_bench ARCHIVE [FOLDER]
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "archive/archive_reader.h"
#include "archive/entry_decoder.h"

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "usage: stub_decode_bench ARCHIVE [FOLDER]\n");
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
  HANDLE out = INVALID_HANDLE_VALUE;
  const ByteSink sink = [&bytes, &out](const uint8_t* p, size_t k) {
    bytes += k;
    DWORD written = 0;
    return out == INVALID_HANDLE_VALUE ||
           (WriteFile(out, p, static_cast<DWORD>(k), &written, nullptr) && written == k);
  };
  std::string folder = argc == 3 ? std::string(argv[2]) : std::string();
  for (const ArchiveEntry& e : info.entries) {
    if (!folder.empty()) {
      std::string path = "\\\\?\\" + folder + e.name;
      wchar_t wide[1024];
      int n = MultiByteToWideChar(1252, 0, path.c_str(), -1, wide, 1024);
      if (n <= 0) return 2;
      for (wchar_t* c = wide + 7; *c; ++c) {  // the folders above the file
        if (*c != L'\\') continue;
        *c = 0;
        CreateDirectoryW(wide, nullptr);
        *c = L'\\';
      }
      out = CreateFileW(wide, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
      if (out == INVALID_HANDLE_VALUE) return 3;
    }
    DecodeStatus s = e.method == 0 ? DecodeBzip2Entry(src, e, sink) : DecodeGzipEntry(src, e, sink);
    if (out != INVALID_HANDLE_VALUE) {
      const platform::DosTime& t = e.time;
      FILETIME local, utc;
      if (DosDateTimeToFileTime(static_cast<WORD>((t.year1980 << 9) | (t.month << 5) | t.day),
                                static_cast<WORD>((t.hour << 11) | (t.minute << 5) | t.seconds2),
                                &local) &&
          LocalFileTimeToFileTime(&local, &utc))
        SetFileTime(out, nullptr, nullptr, &utc);
      CloseHandle(out);
      out = INVALID_HANDLE_VALUE;
    }
    if (s != DecodeStatus::Ok) return 2;
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%zu entries, %llu bytes, %.2f s\n", info.entries.size(),
              static_cast<unsigned long long>(bytes), seconds);
  return 0;
}
