// Compresses one entry's data. Each encoder is a small pump: it takes the input from a source one
// chunk at a time, compresses the chunk and hands everything that comes out to a sink before it
// asks for the next one, so the sink always holds all the compressor produced for the input so
// far. The bytes depend only on the input, never on how it is cut into chunks. Each method is
// implemented in its own file; the extractor stub links neither.
//
// Every encoder returns EncodeStatus::Ok or its first failure, and stops there: the source is not
// asked again, and the sink may already hold the beginning of the stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "archive/entry_decoder.h"

// Supplies the next chunk of input: points data at it and returns its length (below 2^32); 0 at
// the end of the input; a negative value stops the encoding (the source keeps its own reason).
using ChunkSource = std::function<int64_t(const uint8_t*& data)>;
// Called after each chunk has been compressed and its output handed to the sink; may be empty.
using ChunkDone = std::function<void()>;

enum class EncodeStatus {
  Ok,
  SourceFailed,    // the source returned a negative value
  SinkFailed,      // the sink returned false
  CompressFailed,  // the library refused to start or to go on
  NoMemory,        // the library could not get its working memory
};

// What an encoding took from its source and gave to its sink.
struct EncodedSize {
  uint64_t in = 0;
  uint64_t out = 0;
};

// The loop both encoders share: hands every chunk of source to compress, counts it into size.in
// and reports done; at the end of the input calls finish. Stops at the first failure (a negative
// source is SourceFailed) and returns it.
using ChunkCompressor = std::function<EncodeStatus(const uint8_t* data, size_t n)>;
EncodeStatus FeedChunks(const ChunkSource& source, const ChunkDone& done, EncodedSize& size,
                        const ChunkCompressor& compress, const std::function<EncodeStatus()>& finish);

// Method 0: one bzip2 stream at block size 900k (bzip2 -9), work factor 0
// (entry_encoder_bzip2.cpp, links libbz2). A library that cannot start is CompressFailed.
EncodeStatus EncodeBzip2Entry(const ChunkSource& source, const ByteSink& sink,
                              const ChunkDone& done, EncodedSize& size);
// Method 1: one gzip member as zlib's gzip-file writer makes it at level 9: deflate with a 32 KiB
// window, memory level 8 and the default strategy, header without name or time
// (entry_encoder_gzip.cpp, links zlib). A library that cannot start is NoMemory.
EncodeStatus EncodeGzipEntry(const ChunkSource& source, const ByteSink& sink, const ChunkDone& done,
                             EncodedSize& size);

// The encoder of method (layout::kMethodBzip2 or layout::kMethodGzip).
EncodeStatus EncodeEntry(uint8_t method, const ChunkSource& source, const ByteSink& sink,
                         const ChunkDone& done, EncodedSize& size);
