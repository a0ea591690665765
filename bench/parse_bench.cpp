// How long the shared archive reader takes for an archive whose settings hold the most source
// paths the format carries (32,767, all different), next to one with a single path: the reader
// of the builder's `list` and of the extractor stub checks every added path for an equal one, and
// that check must stay linear. Prints both times; exit code 0 when both archives were read.
//   parse_bench [COUNT]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "archive/archive_reader.h"
#include "archive/archive_writer.h"
#include "settings/install_inf.h"

namespace {

// An archive of no files whose settings list count distinct source paths, written by the
// builder's own archive writer.
std::string ArchiveWithPaths(int count) {
  TInstallInf settings;
  for (int i = 0; i < count; ++i)
    settings.SourcePaths.Add("C:\\Quelle\\Verzeichnis " + std::to_string(i));
  std::FILE* stub = std::tmpfile();
  std::FILE* part = std::tmpfile();
  std::FILE* program = std::tmpfile();
  std::string bytes;
  if (stub && part && program && std::fputs("MZ bench stub", stub) >= 0 && std::fflush(stub) == 0 &&
      std::fseek(stub, 0, SEEK_SET) == 0 &&
      WriteArchive(program, stub, settings, [part] { return part; }) == ArchiveWriteStatus::Ok &&
      std::fseek(program, 0, SEEK_SET) == 0) {
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, program)) > 0) bytes.append(buf, n);
  }
  for (std::FILE* f : {stub, part, program})
    if (f) std::fclose(f);
  return bytes;
}

double SecondsToRead(const std::string& bytes, size_t& paths) {
  const auto start = std::chrono::steady_clock::now();
  MemoryByteSource src(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  ArchiveInfo info;
  const ReadStatus status = ReadArchive(src, info);
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  paths = status == ReadStatus::Ok ? static_cast<size_t>(info.settings.SourcePaths.Count()) : 0;
  return took.count();
}

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::atoi(argv[1]) : 32767;
  size_t one = 0, many = 0;
  const double t1 = SecondsToRead(ArchiveWithPaths(1), one);
  const double tn = SecondsToRead(ArchiveWithPaths(count), many);
  std::printf("settings with 1 source path:      %8.4f s\n", t1);
  std::printf("settings with %d source paths: %8.4f s (%zu read)\n", count, tn, many);
  return one == 1 && many == static_cast<size_t>(count) ? 0 : 1;
}
