// Cutting an input where libbz2 ends its blocks, compressing every piece alone and splicing the
// pieces' streams must give EncodeBzip2Entry's stream of the whole input byte for byte. Each
// input is checked against that stream, its cuts against the cuts of the same input handed to
// the cutter in other pieces, and against the stream of BZ2_bzBuffToBuffCompress, which equals
// the builder's stream except on one edge (see OneCallFlushesTheRunThatFilledTheLastBlock).
#include "builder/bzip2_blocks.h"

#include <bzlib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <numeric>
#include <string>
#include <utility>
#include <vector>

#include "archive/entry_encoder.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr size_t kLimit = Bzip2BlockCutter::kBlockLimit;

// A seeded generator (splitmix64), so every run sees the same data.
class Random {
 public:
  explicit Random(uint64_t seed) : x_(seed) {}
  uint64_t Next() {
    uint64_t z = (x_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  uint8_t Byte() { return static_cast<uint8_t>(Next() >> 56); }
  size_t Below(size_t n) { return static_cast<size_t>(Next() % n); }

 private:
  uint64_t x_;
};

// Random bytes as they come: now and then two or three equal ones in a row.
Bytes Noise(size_t n, uint64_t seed) {
  Random r(seed);
  Bytes b(n);
  for (auto& c : b) c = r.Byte();
  return b;
}

// Appends n random bytes, none equal to the one before it (nor to the last byte of b): the
// run-length stage puts each of them into the block as it is, so a block holds exactly kLimit
// of them.
void AppendDistinct(Bytes& b, size_t n, Random& r) {
  uint8_t prev = b.empty() ? 0 : b.back();
  for (size_t i = 0; i < n; ++i) {
    const uint8_t c = static_cast<uint8_t>(prev + 1 + r.Below(255));
    b.push_back(c);
    prev = c;
  }
}

Bytes Distinct(size_t n, uint64_t seed) {
  Random r(seed);
  Bytes b;
  b.reserve(n);
  AppendDistinct(b, n, r);
  return b;
}

// Appends n bytes of words and spaces, none equal to the one before it (a letter that would be is
// given in the other case). Like AppendDistinct for the run-length stage, and libbz2 compresses
// it twice as fast.
void AppendWords(Bytes& b, size_t n, Random& r) {
  static const char* const kWords[] = {"the ",     "archive ", "stub ", "of ",    "to ",
                                       "Datei ",   "folder ",  "path ", "data\n", "block, ",
                                       "Windows ", "extract ", "name ", "run "};
  const size_t end = b.size() + n;
  while (b.size() < end) {
    for (const char* w = kWords[r.Below(std::size(kWords))]; *w && b.size() < end; ++w) {
      const uint8_t c = static_cast<uint8_t>(*w);
      b.push_back(!b.empty() && b.back() == c ? c ^ 0x20 : c);
    }
  }
}

// Appends a run of n equal bytes, different from the last byte of b.
void AppendRun(Bytes& b, size_t n) {
  const uint8_t c = static_cast<uint8_t>(b.empty() ? 'x' : b.back() + 1);
  b.insert(b.end(), n, c);
}

// Text-like data: words (some with doubled letters), punctuation, lines, and now and then a
// ruler line of '=' or a run of spaces, so the run-length stage sees short and long runs.
Bytes Text(size_t n, uint64_t seed) {
  static const char* const kWords[] = {
      "the",     "archive", "settings",    "committee", "balloon",     "coffee",  "bookkeeper",
      "free",    "to",      "of",          "stub",      "Verzeichnis", "Datei",   "all",
      "install", "aaa",     "Mississippi", "see",       "programm",    "Schluss", "call"};
  Random r(seed);
  Bytes b;
  b.reserve(n + 100);
  while (b.size() < n) {
    const size_t pick = r.Below(100);
    if (pick == 0) {
      b.push_back('\n');
      b.insert(b.end(), 2 + r.Below(78), '=');
      b.push_back('\n');
    } else if (pick == 1) {
      b.insert(b.end(), 1 + r.Below(300), ' ');
    } else {
      const char* w = kWords[r.Below(std::size(kWords))];
      b.insert(b.end(), w, w + std::char_traits<char>::length(w));
      b.push_back(pick < 90 ? ' ' : pick < 96 ? ',' : '\n');
    }
  }
  b.resize(n);
  return b;
}

// The builder's stream: EncodeBzip2Entry over the input in chunks of 64000 bytes.
Bytes WholeStream(const Bytes& input) {
  size_t at = 0;
  const ChunkSource source = [&](const uint8_t*& data) -> int64_t {
    const size_t n = std::min<size_t>(64000, input.size() - at);
    data = input.data() + at;
    at += n;
    return static_cast<int64_t>(n);
  };
  Bytes out;
  const ByteSink sink = [&out](const uint8_t* data, size_t n) {
    out.insert(out.end(), data, data + n);
    return true;
  };
  EncodedSize size;
  EXPECT_EQ(EncodeBzip2Entry(source, sink, ChunkDone(), size), EncodeStatus::Ok);
  return out;
}

// libbz2 in one call, everything given with BZ_FINISH.
Bytes OneCall(const Bytes& input) {
  Bytes out(input.size() + input.size() / 100 + 600);
  unsigned int len = static_cast<unsigned int>(out.size());
  char none = 0;  // the library refuses a null source even for no bytes
  const int rc = BZ2_bzBuffToBuffCompress(
      reinterpret_cast<char*>(out.data()), &len,
      input.empty() ? &none : const_cast<char*>(reinterpret_cast<const char*>(input.data())),
      static_cast<unsigned int>(input.size()), 9, 0, 0);
  EXPECT_EQ(rc, BZ_OK);
  out.resize(rc == BZ_OK ? len : 0);
  return out;
}

// Whether stream decompresses, whole, to exactly input.
bool DecompressesTo(const Bytes& stream, const Bytes& input) {
  std::vector<char> out(input.size() + 1);
  unsigned int len = static_cast<unsigned int>(out.size());
  const int rc = BZ2_bzBuffToBuffDecompress(
      out.data(), &len, const_cast<char*>(reinterpret_cast<const char*>(stream.data())),
      static_cast<unsigned int>(stream.size()), 0, 0);
  return rc == BZ_OK && len == input.size() &&
         std::equal(input.begin(), input.end(), reinterpret_cast<const uint8_t*>(out.data()));
}

// The lengths of the blocks the cutter finds when it is handed the input chunk bytes at a time.
std::vector<size_t> BlockLengths(const Bytes& input, size_t chunk) {
  Bzip2BlockCutter cutter;
  std::vector<size_t> lengths;
  size_t blockStart = 0;
  for (size_t at = 0; at < input.size();) {
    const size_t n = std::min(chunk, input.size() - at);
    const size_t taken = cutter.Take(input.data() + at, n);
    EXPECT_LE(taken, n);
    at += taken;
    if (taken < n) {
      lengths.push_back(at - blockStart);
      blockStart = at;
    }
  }
  if (input.size() > blockStart) lengths.push_back(input.size() - blockStart);
  return lengths;
}

// Splices the given one-block streams into a sink; ok is false when the splicer refused one.
// Checks on the way that the splicer hands over every complete byte at once: each block's
// stream, less its header, trailer and padding, arrives before the next one is added.
Bytes Splice(const std::vector<Bytes>& streams, bool* ok) {
  Bytes out;
  Bzip2Splicer splicer([&out](const uint8_t* data, size_t n) {
    EXPECT_GT(n, 0u);
    out.insert(out.end(), data, data + n);
    return true;
  });
  *ok = true;
  for (const Bytes& s : streams) {
    const size_t before = out.size();
    *ok = *ok && splicer.AddBlock(s.data(), s.size());
    // The block's bits are at least the stream less 4 header bytes and 11 bytes of trailer and
    // padding; the splicer keeps under one byte of them.
    if (*ok) {
      EXPECT_GE(out.size() - before + 16, s.size());
    }
    EXPECT_EQ(splicer.BytesOut(), out.size());
  }
  EXPECT_EQ(splicer.Blocks(), *ok ? streams.size() : splicer.Blocks());
  const size_t before = out.size();
  *ok = *ok && splicer.Finish();
  // The trailer's 80 bits, with what was left of the last block and the padding.
  if (*ok) {
    EXPECT_LE(out.size() - before, (streams.empty() ? 4u : 0u) + 11u);
  }
  EXPECT_EQ(splicer.BytesOut(), out.size());
  return out;
}

Bytes Compressed(const uint8_t* data, size_t n) {
  Bytes stream;
  EXPECT_TRUE(CompressBzip2Block(data, n, stream));
  return stream;
}

struct Checked {
  std::vector<size_t> lengths;  // of the blocks the cutter found
  Bytes whole;                  // EncodeBzip2Entry's stream
  Bytes oneCall;                // BZ2_bzBuffToBuffCompress's stream, when asked for
};

// Cuts input as the builder would feed it (64000 bytes at a time), compresses every piece alone
// and splices them; expects the whole input's stream and the same cuts for other chunk sizes.
// With oneCall also BZ2_bzBuffToBuffCompress's stream, except when the last block is a single
// byte cut off from a full block (OneCallFlushesTheRunThatFilledTheLastBlock).
Checked ExpectSplicedIsWhole(const Bytes& input, const std::string& what, bool oneCall = true) {
  SCOPED_TRACE(what + ", " + std::to_string(input.size()) + " bytes");
  Checked c;
  c.lengths = BlockLengths(input, 64000);
  EXPECT_EQ(std::accumulate(c.lengths.begin(), c.lengths.end(), size_t(0)), input.size());
  EXPECT_TRUE(std::find(c.lengths.begin(), c.lengths.end(), size_t(0)) == c.lengths.end());
  std::vector<size_t> chunks = {7, 64001};
  if (input.size() <= (4u << 20)) chunks.insert(chunks.end(), {1, 2, kLimit, kLimit + 1});
  for (size_t chunk : chunks) {
    EXPECT_EQ(BlockLengths(input, chunk), c.lengths) << "chunk " << chunk;
  }

  std::vector<Bytes> streams;
  size_t from = 0;
  for (size_t n : c.lengths) {
    streams.push_back(Compressed(input.data() + from, n));
    from += n;
  }
  bool ok = false;
  const Bytes spliced = Splice(streams, &ok);
  EXPECT_TRUE(ok);
  c.whole = WholeStream(input);
  EXPECT_TRUE(spliced == c.whole) << "spliced " << spliced.size() << " bytes, whole stream "
                                  << c.whole.size() << " bytes";
  if (oneCall) {
    c.oneCall = OneCall(input);
    const bool lastByteCutOff = c.lengths.size() > 1 && c.lengths.back() == 1;
    EXPECT_EQ(c.oneCall == c.whole, !lastByteCutOff);
  }
  return c;
}

TEST(Bzip2BlocksTest, SplicedPiecesAreTheWholeStreamFromNothingToTwoBlocks) {
  const Bytes noise = Noise(900001, 3);
  for (size_t n :
       {size_t(0), size_t(1), size_t(2), size_t(899999), size_t(900000), size_t(900001)}) {
    const Checked c = ExpectSplicedIsWhole(Bytes(noise.begin(), noise.begin() + n), "noise");
    EXPECT_EQ(c.lengths.size(), n == 0 ? 0u : n < kLimit ? 1u : 2u);
  }
}

// Bytes with no two equal in a row fill a block with exactly kLimit of them; the one after starts
// the next block.
TEST(Bzip2BlocksTest, IncompressibleBytesEndTheFirstBlockAtTheBlockLimit) {
  const Bytes all = Distinct(kLimit + 3, 11);
  for (size_t n : {kLimit - 1, kLimit, kLimit + 2, kLimit + 3}) {
    const Checked c = ExpectSplicedIsWhole(Bytes(all.begin(), all.begin() + n), "distinct");
    const std::vector<size_t> expected =
        n <= kLimit ? std::vector<size_t>{n} : std::vector<size_t>{kLimit, n - kLimit};
    EXPECT_EQ(c.lengths, expected);
  }
}

// The builder gives libbz2 its input with BZ_RUN and then asks for BZ_FINISH with no input left.
// When a byte fills the block, libbz2 under BZ_RUN compresses the block at once and keeps that
// byte for the next one, even when it was the last byte of the input: the stream ends with a
// block of that one byte. BZ2_bzBuffToBuffCompress gives all the input with BZ_FINISH; its last
// byte is then known to be the last, the run it started is put into the full block (bzlib.c,
// handle_compress: flush_RL before the nblockMAX check), and the stream has one block less.
// The builder's stream is the one the pieces must give.
TEST(Bzip2BlocksTest, OneCallFlushesTheRunThatFilledTheLastBlock) {
  const Bytes input = Distinct(kLimit + 1, 11);
  const Checked c = ExpectSplicedIsWhole(input, "distinct");
  EXPECT_EQ(c.lengths, (std::vector<size_t>{kLimit, 1}));
  EXPECT_FALSE(c.oneCall == c.whole);
  EXPECT_TRUE(DecompressesTo(c.oneCall, input));
  EXPECT_TRUE(DecompressesTo(c.whole, input));
  // One block in the one-call stream, two in the builder's, and CompressBzip2Block makes the
  // builder's: a piece that is not one block cannot pass for one.
  Bzip2Splicer splicer([](const uint8_t*, size_t) { return true; });
  EXPECT_TRUE(splicer.AddBlock(c.oneCall.data(), c.oneCall.size()));
  EXPECT_FALSE(splicer.AddBlock(c.whole.data(), c.whole.size()));
  EXPECT_TRUE(Compressed(input.data(), input.size()) == c.whole);
}

// A block of one repeated byte holds runs of 255 (five bytes in the block each) until one more
// would reach the limit: some 46 MB of input.
TEST(Bzip2BlocksTest, OneRepeatedByteFillsABlockWithRunsOf255) {
  const size_t runsPerBlock = (kLimit + 4) / 5;  // the run that reaches the limit is the last one
  const size_t block = runsPerBlock * 255;
  const Bytes input(block + 1000, 0);
  EXPECT_EQ(ExpectSplicedIsWhole(input, "zeros").lengths, (std::vector<size_t>{block, 1000}));
}

// A run next to the block limit: words with no two equal bytes in a row up to `before` bytes
// short of kLimit, then a run, then such words again. A run goes into the block as up to 255 bytes
// at a time, when the next different byte comes or the run is 255 long, and takes 1, 2, 3 or 5
// bytes of the block; the block ends before the byte that made it reach the limit.
TEST(Bzip2BlocksTest, RunsAtTheBlockLimit) {
  struct Case {
    size_t before;  // the run starts at kLimit - before
    size_t run;
    size_t firstBlock;  // counted from the start of the run
  } const cases[] = {
      {0, 300, 0},    // the run's first byte finds the block full
      {5, 300, 255},  // its first 255 bytes fill the block to the limit: the rest opens the next
      {6, 300, 300},  // 255 bytes fit, the last 45 fill the block
      {5, 255, 255},  // a run of exactly 255 bytes fills it up
      {5, 256, 255},  // a run of 256: its last byte is the next block's first
      {3, 4, 4},      // a short run, four bytes taking five, fills the block beyond the limit
  };
  for (const Case& c : cases) {
    Random r(c.before * 1000 + c.run);
    Bytes input;
    AppendWords(input, kLimit - c.before, r);
    AppendRun(input, c.run);
    AppendWords(input, 2000, r);
    const std::vector<size_t> lengths =
        ExpectSplicedIsWhole(
            input, "run of " + std::to_string(c.run) + " at " + std::to_string(c.before), false)
            .lengths;
    ASSERT_EQ(lengths.size(), 2u);
    EXPECT_EQ(lengths[0], kLimit - c.before + c.firstBlock)
        << "run of " << c.run << ", " << c.before << " before the limit";
  }
}

// Text over several blocks: runs of all lengths, and blocks that end on any bit.
TEST(Bzip2BlocksTest, TextOverSeveralBlocks) {
  EXPECT_GE(ExpectSplicedIsWhole(Text(3000000, 5), "text").lengths.size(), 3u);
}

// Small blocks of many kinds spliced one after another are one stream the library decodes. Their
// random lengths have the splicer shift them by every amount from 0 to 7 bits.
TEST(Bzip2BlocksTest, SplicedSmallBlocksDecompressToTheirInputs) {
  Random r(99);
  Bytes all;
  std::vector<Bytes> streams;
  for (int i = 0; i < 48; ++i) {
    const size_t n = 1 + r.Below(3000);
    const Bytes piece = i % 3 == 0 ? Noise(n, i) : i % 3 == 1 ? Text(n, i) : Bytes(n, uint8_t(i));
    all.insert(all.end(), piece.begin(), piece.end());
    streams.push_back(Compressed(piece.data(), piece.size()));
  }
  bool ok = false;
  const Bytes spliced = Splice(streams, &ok);
  EXPECT_TRUE(ok);
  EXPECT_TRUE(DecompressesTo(spliced, all));
}

// Whatever is not one whole block is refused, and a refusal leaves the splicer as it was.
TEST(Bzip2BlocksTest, SplicerRefusesAnythingButOneBlock) {
  const Bytes text = Text(5000, 1);
  const Bytes good = Compressed(text.data(), text.size());
  ASSERT_GT(good.size(), 40u);
  const Bytes twoBlockInput = Distinct(kLimit + 50, 2);
  const Bytes twoBlocks = Compressed(twoBlockInput.data(), twoBlockInput.size());
  EXPECT_TRUE(twoBlocks == WholeStream(twoBlockInput)) << "the builder's stream, two blocks";

  std::vector<std::pair<std::string, Bytes>> bad;
  bad.emplace_back("two blocks", twoBlocks);
  bad.emplace_back("no block", Compressed(nullptr, 0));
  bad.emplace_back("nothing", Bytes());
  for (size_t cut : {size_t(1), size_t(4), size_t(10), size_t(11), good.size() / 2,
                     good.size() - 14, good.size() - 4}) {
    bad.emplace_back("less " + std::to_string(cut), Bytes(good.begin(), good.end() - cut));
  }
  for (uint8_t extra : {uint8_t(0), uint8_t(0xFF)}) {
    Bytes longer = good;
    longer.push_back(extra);
    bad.emplace_back("one byte more", longer);
  }
  const auto flipped = [&good](size_t bit) {
    Bytes b = good;
    b[bit / 8] ^= uint8_t(0x80 >> (bit % 8));
    return b;
  };
  bad.emplace_back("level 8", flipped(31));
  bad.emplace_back("block magic", flipped(40));
  bad.emplace_back("block CRC", flipped(85));
  for (size_t fromEnd : {size_t(1), size_t(20), size_t(50), size_t(80)}) {
    // the last bits hold the padding, the combined CRC and the end magic
    bad.emplace_back("bit " + std::to_string(fromEnd) + " from the end",
                     flipped(good.size() * 8 - fromEnd));
  }
  bad.emplace_back("noise", Noise(1000, 4));
  Bytes magicThenNoise = Noise(1000, 5);
  std::copy(good.begin(), good.begin() + 14, magicThenNoise.begin());
  bad.emplace_back("header and block magic, then noise", magicThenNoise);

  Bytes out;
  Bzip2Splicer splicer([&out](const uint8_t* data, size_t n) {
    out.insert(out.end(), data, data + n);
    return true;
  });
  for (const auto& [what, stream] : bad) {
    EXPECT_FALSE(splicer.AddBlock(stream.data(), stream.size())) << what;
    EXPECT_TRUE(out.empty()) << what;
    EXPECT_EQ(splicer.Blocks(), 0u) << what;
  }
  // Still the stream of the text alone.
  EXPECT_TRUE(splicer.AddBlock(good.data(), good.size()));
  for (const auto& [what, stream] : bad) {
    EXPECT_FALSE(splicer.AddBlock(stream.data(), stream.size())) << what << ", after a block";
  }
  EXPECT_TRUE(splicer.Finish());
  EXPECT_TRUE(out == WholeStream(text));
  EXPECT_EQ(splicer.BytesOut(), out.size());
  EXPECT_FALSE(splicer.Finish()) << "only once";
  EXPECT_FALSE(splicer.AddBlock(good.data(), good.size())) << "nothing after the end";
}

// A sink that refuses stops the splicer for good.
TEST(Bzip2BlocksTest, SplicerStopsWhenTheSinkRefuses) {
  const Bytes text = Text(2000, 2);
  const Bytes good = Compressed(text.data(), text.size());
  for (int refuseAt = 0; refuseAt < 3; ++refuseAt) {
    int calls = 0;
    uint64_t taken = 0;
    Bzip2Splicer splicer([&](const uint8_t*, size_t n) {
      if (calls++ == refuseAt) return false;
      taken += n;
      return true;
    });
    bool ok = true;
    for (int i = 0; i < 2 && ok; ++i) ok = splicer.AddBlock(good.data(), good.size());
    ok = ok && splicer.Finish();
    EXPECT_FALSE(ok) << "refused at call " << refuseAt;
    EXPECT_EQ(calls, refuseAt + 1) << "no call after the refusal";
    EXPECT_EQ(splicer.BytesOut(), taken);
    EXPECT_FALSE(splicer.AddBlock(good.data(), good.size()));
    EXPECT_FALSE(splicer.Finish());
    EXPECT_EQ(calls, refuseAt + 1);
  }
}

}  // namespace
