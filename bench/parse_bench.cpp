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

namespace {

void Put16(std::string& b, unsigned v) {
  b += static_cast<char>(v & 0xFF);
  b += static_cast<char>((v >> 8) & 0xFF);
}
void Put32(std::string& b, unsigned v) {
  for (int i = 0; i < 4; ++i) b += static_cast<char>((v >> (8 * i)) & 0xFF);
}

// A gzip archive of no files whose settings list count distinct source paths.
std::string ArchiveWithPaths(int count) {
  const std::string stub = "MZ bench stub";
  std::string b = stub;
  b += '\x01';
  Put16(b, static_cast<unsigned>(count));
  for (int i = 0; i < count; ++i) {
    const std::string path = "C:\\Quelle\\Verzeichnis " + std::to_string(i);
    Put16(b, static_cast<unsigned>(path.size()));
    b += path;
  }
  b += '\x01';
  b += '\x00';
  for (int i = 0; i < 8; ++i) Put16(b, 0);
  b += '\x00';
  Put16(b, 0);
  b += '\x01';
  b += '\x00';
  Put32(b, static_cast<unsigned>(stub.size()));
  return b;
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
