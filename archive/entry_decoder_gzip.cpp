#include <zlib.h>

#include <vector>

#include "archive/entry_decoder.h"

namespace {
constexpr size_t kChunk = 64 * 1024;  // input and output buffers; never sized by the archive
}

DecodeStatus DecodeGzipEntry(ByteSource& src, const ArchiveEntry& entry, const ByteSink& sink) {
  if (entry.compressedSize == 0 || entry.dataOffset > src.Size() ||
      entry.compressedSize > src.Size() - entry.dataOffset) {
    return DecodeStatus::Damaged;
  }
  z_stream strm{};
  // 16 + 15: exactly one gzip member with a 32 KiB window; zlib checks its CRC-32 and length.
  if (inflateInit2(&strm, 16 + 15) != Z_OK) return DecodeStatus::IoError;
  std::vector<Bytef> in(kChunk);
  std::vector<Bytef> out(kChunk);
  uint64_t inPos = entry.dataOffset;
  uint64_t inLeft = entry.compressedSize;
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
      strm.avail_in = static_cast<uInt>(n);
    }
    strm.next_out = out.data();
    strm.avail_out = static_cast<uInt>(kChunk);
    const int rc = inflate(&strm, Z_NO_FLUSH);
    if (rc == Z_MEM_ERROR) {
      result = DecodeStatus::IoError;
      break;
    }
    // Z_BUF_ERROR means no progress was possible: with no input left, the stream is cut short.
    if (rc != Z_OK && rc != Z_STREAM_END && !(rc == Z_BUF_ERROR && inLeft > 0)) break;
    const size_t got = kChunk - strm.avail_out;
    if (got > entry.size - produced) break;  // more data than the entry states
    produced += got;
    if (got > 0 && !sink(out.data(), got)) {
      result = DecodeStatus::SinkFailed;
      break;
    }
    if (rc == Z_STREAM_END) {
      // The member must end exactly at the stated compressed size and yield the stated size.
      if (strm.avail_in == 0 && inLeft == 0 && produced == entry.size) result = DecodeStatus::Ok;
      break;
    }
  }
  inflateEnd(&strm);
  return result;
}
