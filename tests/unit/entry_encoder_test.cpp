// The entry encoders against the libraries' own writers (bzip2 -9 in one call, zlib's gzip-file
// writer at level 9) and against the archive's decoders, with inputs handed over in chunks of
// several sizes.
#include "archive/entry_encoder.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "archive/archive_layout.h"
#include "archive/entry_decoder.h"
#include "tests/unit/sfx_test_parser.h"
#include "tests/unit/test_util.h"

namespace {

struct Encoding {
  EncodeStatus status = EncodeStatus::Ok;
  std::string out;  // everything the sink received
  EncodedSize size;
  int sourceCalls = 0;  // including the one that said "end" or failed
  int doneCalls = 0;
};

EncodeStatus Encode(uint8_t method, const ChunkSource& source, const ByteSink& sink,
                    const ChunkDone& done, EncodedSize& size) {
  return method == layout::kMethodBzip2 ? EncodeBzip2Entry(source, sink, done, size)
                                        : EncodeGzipEntry(source, sink, done, size);
}

// Encodes input handed over in chunks of chunk bytes; the source fails instead of giving chunk
// number failAt (counted from 0), and the sink refuses its call number sinkFailAt.
Encoding EncodeInChunks(uint8_t method, const std::string& input, size_t chunk, int failAt = -1,
                        int sinkFailAt = -1) {
  Encoding run;
  size_t at = 0;
  int sinkCalls = 0;
  const ChunkSource source = [&](const uint8_t*& data) -> int64_t {
    const int call = run.sourceCalls++;
    if (call == failAt) return -1;
    const size_t n = std::min(chunk, input.size() - at);
    data = reinterpret_cast<const uint8_t*>(input.data() + at);
    at += n;
    return static_cast<int64_t>(n);
  };
  const ByteSink sink = [&](const uint8_t* data, size_t n) {
    EXPECT_GT(n, 0u) << "the sink is never called for nothing";
    if (sinkCalls++ == sinkFailAt) return false;
    run.out.append(reinterpret_cast<const char*>(data), n);
    return true;
  };
  run.status = Encode(
      method, source, sink, [&]() { ++run.doneCalls; }, run.size);
  return run;
}

// What zlib's gzip-file writer produces for content at level 9.
std::string GzipFileWriter(const std::string& content) {
  testutil::TempDir dir;
  const std::string path = dir.Join("reference.gz");
  gzFile gz = gzopen(path.c_str(), "wb9");
  EXPECT_NE(gz, nullptr);
  if (gz == nullptr) return std::string();
  if (!content.empty()) {
    EXPECT_EQ(gzwrite(gz, content.data(), static_cast<unsigned>(content.size())),
              static_cast<int>(content.size()));
  }
  EXPECT_EQ(gzclose(gz), Z_OK);
  return testutil::ReadFile(path);
}

std::string Reference(uint8_t method, const std::string& content) {
  return method == layout::kMethodBzip2 ? sfxtest::Bzip2(content) : GzipFileWriter(content);
}

// The archive's own decoder over an encoded stream; ok tells whether it found the stream whole.
std::string Decode(uint8_t method, const std::string& stream, size_t size, bool* ok) {
  ArchiveEntry entry;
  entry.size = static_cast<uint32_t>(size);
  entry.compressedSize = static_cast<uint32_t>(stream.size());
  entry.method = method;
  MemoryByteSource src(stream.data(), stream.size());
  std::string out;
  const ByteSink sink = [&out](const uint8_t* data, size_t n) {
    out.append(reinterpret_cast<const char*>(data), n);
    return true;
  };
  const DecodeStatus status = method == layout::kMethodBzip2 ? DecodeBzip2Entry(src, entry, sink)
                                                             : DecodeGzipEntry(src, entry, sink);
  *ok = status == DecodeStatus::Ok;
  return out;
}

class EntryEncoderTest : public ::testing::TestWithParam<uint8_t> {};

TEST_P(EntryEncoderTest, GivesTheLibraryWritersBytesHoweverTheInputIsCut) {
  const uint8_t method = GetParam();
  const size_t sizes[] = {0, 1, 1000, 64000, 64001, 250000, 1000003};
  for (size_t i = 0; i < std::size(sizes); ++i) {
    const std::string content = sfxtest::Content(sizes[i], uint32_t(7 + i));
    const std::string expected = Reference(method, content);
    std::vector<size_t> chunks = {64000, 4093};
    if (sizes[i] <= 1000) chunks.push_back(1);
    for (size_t chunk : chunks) {
      const Encoding run = EncodeInChunks(method, content, chunk);
      ASSERT_EQ(run.status, EncodeStatus::Ok) << sizes[i] << "/" << chunk;
      EXPECT_TRUE(run.out == expected) << "size " << sizes[i] << ", chunk " << chunk;
      EXPECT_EQ(run.size.in, content.size());
      EXPECT_EQ(run.size.out, run.out.size());
      const int chunkCount = static_cast<int>((content.size() + chunk - 1) / chunk);
      EXPECT_EQ(run.doneCalls, chunkCount) << "once after each chunk";
      EXPECT_EQ(run.sourceCalls, chunkCount + 1) << "and once more for the end";
    }
    bool ok = false;
    EXPECT_TRUE(Decode(method, expected, content.size(), &ok) == content) << sizes[i];
    EXPECT_TRUE(ok) << "size " << sizes[i];
  }
}

TEST_P(EntryEncoderTest, FailingSourceStopsTheStreamAfterWhatWasWritten) {
  const uint8_t method = GetParam();
  const std::string content = sfxtest::Content(300000, 21);
  const std::string whole = Reference(method, content);
  const Encoding run = EncodeInChunks(method, content, 64000, /*failAt=*/3);
  EXPECT_EQ(run.status, EncodeStatus::SourceFailed);
  EXPECT_EQ(run.sourceCalls, 4) << "never asked again";
  EXPECT_EQ(run.doneCalls, 3);
  EXPECT_EQ(run.size.in, 3u * 64000u);
  EXPECT_EQ(run.size.out, run.out.size());
  // What was written is the beginning of the stream, never anything of an end.
  EXPECT_LT(run.out.size(), whole.size());
  EXPECT_TRUE(whole.compare(0, run.out.size(), run.out) == 0);
}

TEST_P(EntryEncoderTest, RefusingSinkStopsTheEncoding) {
  const uint8_t method = GetParam();
  for (const size_t size : {size_t{10}, size_t{2000000}}) {
    const std::string content = sfxtest::Content(size, 5);
    const Encoding run = EncodeInChunks(method, content, 64000, -1, /*sinkFailAt=*/0);
    EXPECT_EQ(run.status, EncodeStatus::SinkFailed) << size;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.size.out, 0u);
    // The chunk whose output was refused is not counted as done, and no chunk follows it.
    EXPECT_EQ(run.doneCalls, run.sourceCalls - 1) << size;
    EXPECT_EQ(run.size.in, std::min<uint64_t>(content.size(), uint64_t(run.doneCalls) * 64000));
  }
}

INSTANTIATE_TEST_SUITE_P(BothMethods, EntryEncoderTest,
                         ::testing::Values(layout::kMethodBzip2, layout::kMethodGzip),
                         [](const ::testing::TestParamInfo<uint8_t>& p) {
                           return p.param == layout::kMethodBzip2 ? "bzip2" : "gzip";
                         });

}  // namespace
