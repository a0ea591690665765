// The floor for unpacking, in bench/stub_threads.sh: the files of an archive created with the
// sizes and times its entries state, and nothing else. The folders are made first; then THREADS
// threads take the entries in turn and each does only the unavoidable calls for its file:
// CreateFileW, WriteFile (zeros, in pieces of 1 MiB), SetFileTime, CloseHandle. No decoding, no
// checks, no temporary names. Prints the files, the bytes and the seconds spent; exit code 0 when
// every file was made.
//   create_files_bench ARCHIVE FOLDER THREADS
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "archive/archive_reader.h"
#include "archive/file_byte_source.h"

namespace {

std::wstring Wide(const std::string& cp1252) {
  std::wstring out(cp1252.size() + 1, L'\0');
  const int n = MultiByteToWideChar(1252, 0, cp1252.data(), static_cast<int>(cp1252.size()),
                                    &out[0], static_cast<int>(out.size()));
  out.resize(n > 0 ? n : 0);
  return out;
}

bool MakeFile(const std::wstring& path, const ArchiveEntry& e, const std::vector<char>& zeros) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  bool ok = true;
  for (uint64_t left = e.size; left > 0 && ok;) {
    const DWORD n = static_cast<DWORD>(left < zeros.size() ? left : zeros.size());
    DWORD written = 0;
    ok = WriteFile(h, zeros.data(), n, &written, nullptr) && written == n;
    left -= n;
  }
  const platform::DosTime& t = e.time;
  FILETIME local, utc;
  if (DosDateTimeToFileTime(static_cast<WORD>((t.year1980 << 9) | (t.month << 5) | t.day),
                            static_cast<WORD>((t.hour << 11) | (t.minute << 5) | t.seconds2),
                            &local) &&
      LocalFileTimeToFileTime(&local, &utc))
    SetFileTime(h, nullptr, nullptr, &utc);
  return CloseHandle(h) && ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: create_files_bench ARCHIVE FOLDER THREADS\n");
    return 2;
  }
  const auto start = std::chrono::steady_clock::now();
  std::FILE* f = std::fopen(argv[1], "rb");
  if (!f) return 2;
  FileByteSource src(f);
  ArchiveInfo info;
  if (ReadArchive(src, info) != ReadStatus::Ok) return 2;
  std::fclose(f);
  const std::wstring root = L"\\\\?\\" + Wide(argv[2]);
  const int threads = std::atoi(argv[3]) < 1 ? 1 : std::atoi(argv[3]);
  CreateDirectoryW(root.c_str(), nullptr);
  std::vector<std::wstring> paths;
  std::set<std::wstring> folders;
  uint64_t bytes = 0;
  for (const ArchiveEntry& e : info.entries) {
    paths.push_back(root + Wide(e.name));
    bytes += e.size;
    for (size_t cut = paths.back().find(L'\\', root.size() + 1); cut != std::wstring::npos;
         cut = paths.back().find(L'\\', cut + 1))
      folders.insert(paths.back().substr(0, cut));
  }
  for (const std::wstring& d : folders) CreateDirectoryW(d.c_str(), nullptr);  // outer first
  std::atomic<size_t> next{0};
  std::atomic<bool> failed{false};
  std::vector<std::thread> pool;
  for (int t = 0; t < threads; ++t) {
    pool.emplace_back([&] {
      std::vector<char> zeros(1 << 20);
      for (size_t i = next++; i < paths.size(); i = next++)
        if (!MakeFile(paths[i], info.entries[i], zeros)) failed = true;
    });
  }
  for (std::thread& t : pool) t.join();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%zu files, %llu bytes, %d threads, %.2f s\n", paths.size(),
              static_cast<unsigned long long>(bytes), threads, seconds);
  return failed ? 3 : 0;
}
