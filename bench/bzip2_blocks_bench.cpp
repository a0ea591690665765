// How fast the bzip2 block cutter runs over an input and how fast the splicer joins one-block
// streams, both on one thread, in memory. The cutter goes over MB megabytes of random bytes, of
// text-like bytes and of zeros, handed over in chunks of 64000 bytes; the splicer joins the
// streams of a few random-byte blocks (almost as large as their input) again and again until
// MB megabytes of streams went through, into a sink that only counts. Prints MB/s for each;
// exit code 0 when the cutter found blocks and the splicer took every stream.
//   bzip2_blocks_bench [MB]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "builder/bzip2_blocks.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

double Since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

Bytes Random(size_t n, uint32_t seed) {
  Bytes b(n);
  uint32_t x = seed;
  for (auto& c : b) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    c = static_cast<uint8_t>(x >> 24);
  }
  return b;
}

// Words, spaces, now and then a ruler line: runs of all lengths, like source code and prose.
Bytes TextLike(size_t n) {
  static const char* const kWords[] = {"int ",   "the ",        "coffee ", "Verzeichnis ",
                                       "\n    ", "bookkeeper ", "== ",     "return 0;\n",
                                       "aaaa ",  "x "};
  Bytes b;
  b.reserve(n + 16);
  uint32_t x = 7;
  while (b.size() < n) {
    x = x * 1103515245u + 12345u;
    const char* w = kWords[(x >> 16) % 10];
    while (*w) b.push_back(static_cast<uint8_t>(*w++));
    if ((x >> 8) % 61 == 0) b.insert(b.end(), 40, '=');
  }
  b.resize(n);
  return b;
}

// Cuts data in chunks of 64000 bytes; returns the blocks found and the MB/s.
double CutterSpeed(const Bytes& data, size_t& blocks) {
  const auto start = Clock::now();
  Bzip2BlockCutter cutter;
  blocks = 1;
  for (size_t at = 0; at < data.size();) {
    const size_t n = std::min<size_t>(64000, data.size() - at);
    const size_t taken = cutter.Take(data.data() + at, n);
    at += taken;
    if (taken < n) ++blocks;
  }
  return data.size() / 1e6 / Since(start);
}

}  // namespace

int main(int argc, char** argv) {
  const size_t mb = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 200;
  const size_t n = mb * 1000000;
  bool ok = true;
  const std::pair<const char*, Bytes> inputs[] = {
      {"random bytes", Random(n, 1)}, {"text-like", TextLike(n)}, {"zeros", Bytes(n, 0)}};
  for (const auto& [name, data] : inputs) {
    size_t blocks = 0;
    const double speed = CutterSpeed(data, blocks);
    std::printf("cutter, %-13s %6zu MB: %8.0f MB/s (%zu blocks)\n", name, mb, speed, blocks);
    ok = ok && blocks > 1;
  }

  // Three blocks' streams, so the splicer shifts them onto different bit positions.
  std::vector<Bytes> streams;
  size_t streamBytes = 0;
  for (uint32_t seed = 1; seed <= 3; ++seed) {
    const Bytes piece = Random(Bzip2BlockCutter::kBlockLimit - seed * 1000, seed);
    streams.emplace_back();
    ok = ok && CompressBzip2Block(piece.data(), piece.size(), streams.back());
    streamBytes += streams.back().size();
  }
  uint64_t received = 0;
  Bzip2Splicer splicer([&received](const uint8_t*, size_t k) {
    received += k;
    return true;
  });
  const auto start = Clock::now();
  size_t fed = 0;
  while (ok && fed < n) {
    for (const Bytes& s : streams) ok = ok && splicer.AddBlock(s.data(), s.size());
    fed += streamBytes;
  }
  ok = ok && splicer.Finish();
  const double took = Since(start);
  std::printf("splicer, %zu streams of %zu bytes: %8.0f MB/s (%llu blocks, %llu bytes out)\n",
              streams.size(), streamBytes / streams.size(), fed / 1e6 / took,
              static_cast<unsigned long long>(splicer.Blocks()),
              static_cast<unsigned long long>(received));
  return ok ? 0 : 1;
}
