// How long the builder's resource rewrite takes on a real stub: read the image and its resource
// tree, then write the stub with its own resources, and with a 256 KiB resource added (the size
// of a large vendor icon). Prints the median of the runs for each; exit code 0 when every rewrite
// succeeded. The goal is well under 20 ms, so that a build never waits for it.
//   pe_rewrite_bench [STUB] [RUNS]     (default build/win64/stub/tambrix.res1, 50 runs)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "archive/pe_image.h"

namespace {

// One read of the stub's resources and one rewrite with extra added; false when either fails.
bool ReadAndRewrite(const std::vector<uint8_t>& stub, const pe::Resource* extra) {
  MemoryByteSource src(stub.data(), stub.size());
  pe::Image image;
  std::vector<pe::Resource> resources;
  if (!pe::ReadImage(src, image) || !pe::ReadResources(src, image, resources)) return false;
  if (extra) resources.push_back(*extra);
  std::vector<uint8_t> out;
  return pe::RewriteResources(stub, resources, out) == pe::RewriteStatus::Ok;
}

// The median time in milliseconds of runs rewrites, or -1 when one failed.
double MedianMs(const std::vector<uint8_t>& stub, const pe::Resource* extra, int runs) {
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    if (!ReadAndRewrite(stub, extra)) return -1;
    times.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count());
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const std::string path = argc > 1 ? argv[1] : "build/win64/stub/tambrix.res1";
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 50;
  std::ifstream in(path, std::ios::binary);
  const std::vector<uint8_t> stub((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
  if (stub.empty()) {
    std::fprintf(stderr, "%s: cannot read the stub (build the win64 preset first)\n", path.c_str());
    return 1;
  }
  pe::Resource icon;
  icon.type.number = pe::kTypeIcon;
  icon.name.number = 99;
  icon.language = pe::kLangGerman;
  icon.data.assign(256 * 1024, 0x5A);
  const double same = MedianMs(stub, nullptr, runs), grown = MedianMs(stub, &icon, runs);
  if (same < 0 || grown < 0) {
    std::fprintf(stderr, "%s: the rewrite failed\n", path.c_str());
    return 1;
  }
  std::printf("%s (%zu bytes), median of %d runs:\n", path.c_str(), stub.size(), runs);
  std::printf("  read + rewrite with its own resources:      %.3f ms\n", same);
  std::printf("  read + rewrite with 256 KiB resource added: %.3f ms\n", grown);
  return 0;
}
