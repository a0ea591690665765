#include <bzlib.h>

#include <vector>

#include "archive/entry_decoder.h"

namespace {
constexpr size_t kChunk = 64 * 1024;  // input and output buffers; never sized by the archive
}

DecodeStatus DecodeBzip2Entry(ByteSource& src, const ArchiveEntry& entry, const ByteSink& sink) {
  if (entry.compressedSize == 0 || entry.dataOffset > src.Size() ||
      entry.compressedSize > src.Size() - entry.dataOffset) {
    return DecodeStatus::Damaged;
  }
  bz_stream strm{};
  if (BZ2_bzDecompressInit(&strm, 0, 0) != BZ_OK) return DecodeStatus::IoError;
  std::vector<char> in(kChunk);
  std::vector<char> out(kChunk);
  uint64_t inPos = entry.dataOffset;
  uint64_t inLeft = entry.compressedSize;  // not yet handed to the library
  uint64_t produced = 0;
  DecodeStatus result = DecodeStatus::Damaged;
  for (;;) {
    if (strm.avail_in == 0 && inLeft > 0) {
      const size_t n = inLeft < kChunk ? static_cast<size_t>(inLeft) : kChunk;
      if (!src.ReadAt(inPos, in.data(), n)) {
        result = DecodeStatus::IoError;
        break;
      }
      inPos += n;
      inLeft -= n;
      strm.next_in = in.data();
      strm.avail_in = static_cast<unsigned>(n);
    }
    const unsigned inBefore = strm.avail_in;
    strm.next_out = out.data();
    strm.avail_out = static_cast<unsigned>(kChunk);
    const int rc = BZ2_bzDecompress(&strm);
    if (rc != BZ_OK && rc != BZ_STREAM_END) break;  // data, magic or CRC error: damage
    const size_t got = kChunk - strm.avail_out;
    if (got > entry.size - produced) break;  // more data than the entry states
    produced += got;
    if (got > 0 && !sink(reinterpret_cast<const uint8_t*>(out.data()), got)) {
      result = DecodeStatus::SinkFailed;
      break;
    }
    if (rc == BZ_STREAM_END) {
      // The stream must use every stated byte, and yield exactly the stated size.
      if (strm.avail_in == 0 && inLeft == 0 && produced == entry.size) result = DecodeStatus::Ok;
      break;
    }
    // No progress with all input consumed: the stream was cut short.
    if (got == 0 && strm.avail_in == inBefore && strm.avail_in == 0 && inLeft == 0) break;
  }
  BZ2_bzDecompressEnd(&strm);
  return result;
}
