#include "archive/entry_encoder.h"

#include "archive/archive_layout.h"

EncodeStatus FeedChunks(const ChunkSource& source, const ChunkDone& done, EncodedSize& size,
                        const ChunkCompressor& compress,
                        const std::function<EncodeStatus()>& finish) {
  for (;;) {
    const uint8_t* data = nullptr;
    const int64_t n = source(data);
    if (n < 0) return EncodeStatus::SourceFailed;
    if (n == 0) return finish();
    const EncodeStatus status = compress(data, static_cast<size_t>(n));
    if (status != EncodeStatus::Ok) return status;
    size.in += static_cast<uint64_t>(n);
    if (done) done();
  }
}

EncodeStatus EncodeEntry(uint8_t method, const ChunkSource& source, const ByteSink& sink,
                         const ChunkDone& done, EncodedSize& size) {
  return method == layout::kMethodBzip2 ? EncodeBzip2Entry(source, sink, done, size)
                                        : EncodeGzipEntry(source, sink, done, size);
}
