#include <bzlib.h>

#include "archive/entry_encoder.h"

namespace {

constexpr size_t kOutChunk = 16384;  // output buffer; its size does not change the bytes

// Runs the library over the pending input, for BZ_RUN until the input is used up, for BZ_FINISH
// until the stream has ended, and hands every piece of output to the sink.
EncodeStatus Pump(bz_stream& strm, int action, const ByteSink& sink, EncodedSize& size) {
  char out[kOutChunk];
  for (;;) {
    strm.next_out = out;
    strm.avail_out = sizeof out;
    const int rc = BZ2_bzCompress(&strm, action);
    const bool going =
        action == BZ_RUN ? rc == BZ_RUN_OK : (rc == BZ_FINISH_OK || rc == BZ_STREAM_END);
    if (!going) return EncodeStatus::CompressFailed;
    const size_t have = sizeof out - strm.avail_out;
    if (have > 0 && !sink(reinterpret_cast<const uint8_t*>(out), have)) {
      return EncodeStatus::SinkFailed;
    }
    size.out += have;
    if (action == BZ_RUN ? strm.avail_in == 0 : rc == BZ_STREAM_END) return EncodeStatus::Ok;
  }
}

}  // namespace

EncodeStatus EncodeBzip2Entry(const ChunkSource& source, const ByteSink& sink,
                              const ChunkDone& done, EncodedSize& size) {
  size = EncodedSize();
  bz_stream strm{};
  if (BZ2_bzCompressInit(&strm, 9, 0, 0) != BZ_OK) return EncodeStatus::CompressFailed;
  const EncodeStatus status = FeedChunks(
      source, done, size,
      [&](const uint8_t* data, size_t n) {
        strm.next_in = const_cast<char*>(reinterpret_cast<const char*>(data));
        strm.avail_in = static_cast<unsigned int>(n);
        return Pump(strm, BZ_RUN, sink, size);
      },
      [&] { return Pump(strm, BZ_FINISH, sink, size); });
  BZ2_bzCompressEnd(&strm);
  return status;
}
