#include <zlib.h>

#include "archive/entry_encoder.h"

namespace {

constexpr size_t kOutChunk = 16384;  // output buffer; its size does not change the bytes

// Runs deflate over the pending input with flush (Z_NO_FLUSH: until the input is used up;
// Z_FINISH: until the member has ended) and hands every piece of output to the sink.
EncodeStatus Pump(z_stream& zs, int flush, const ByteSink& sink, EncodedSize& size) {
  unsigned char out[kOutChunk];
  int rc;
  do {
    zs.next_out = out;
    zs.avail_out = sizeof out;
    rc = deflate(&zs, flush);
    if (rc == Z_STREAM_ERROR) return EncodeStatus::CompressFailed;
    const size_t have = sizeof out - zs.avail_out;
    if (have > 0 && !sink(out, have)) return EncodeStatus::SinkFailed;
    size.out += have;
    // No progress possible while finishing: never loop forever.
    if (rc == Z_BUF_ERROR && have == 0 && flush == Z_FINISH) return EncodeStatus::CompressFailed;
  } while (zs.avail_out == 0 || (flush == Z_FINISH && rc != Z_STREAM_END));
  return EncodeStatus::Ok;
}

}  // namespace

EncodeStatus EncodeGzipEntry(const ChunkSource& source, const ByteSink& sink, const ChunkDone& done,
                             EncodedSize& size) {
  size = EncodedSize();
  z_stream zs{};
  // With these fixed, valid parameters deflateInit2 fails only for want of memory.
  if (deflateInit2(&zs, 9, Z_DEFLATED, MAX_WBITS + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    return EncodeStatus::NoMemory;
  }
  const EncodeStatus status = FeedChunks(
      source, done, size,
      [&](const uint8_t* data, size_t n) {
        zs.next_in = const_cast<Bytef*>(data);
        zs.avail_in = static_cast<uInt>(n);
        return Pump(zs, Z_NO_FLUSH, sink, size);
      },
      [&] {
        zs.next_in = nullptr;
        zs.avail_in = 0;
        return Pump(zs, Z_FINISH, sink, size);
      });
  deflateEnd(&zs);
  return status;
}
