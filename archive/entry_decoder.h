// Decompresses one entry's data, checking what the archive states: the stream must end exactly at
// the stated compressed size and yield exactly the stated uncompressed size; bzip2 and gzip carry
// their own CRCs, and a mismatch is damage. Each method is implemented in its own file.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "archive/archive_reader.h"

// Receives decompressed bytes; returns false to stop (write failure or cancel).
using ByteSink = std::function<bool(const uint8_t* data, size_t n)>;

enum class DecodeStatus { Ok, Damaged, SinkFailed, IoError };

// Method 0: bzip2 (entry_decoder_bzip2.cpp, links libbz2).
DecodeStatus DecodeBzip2Entry(ByteSource& src, const ArchiveEntry& entry, const ByteSink& sink);
// Method 1: gzip (entry_decoder_gzip.cpp, links zlib).
DecodeStatus DecodeGzipEntry(ByteSource& src, const ArchiveEntry& entry, const ByteSink& sink);
