// A ByteSource over an open C stream, through the platform layer's 64-bit positioning, for the
// console builder's list, verify and extract. The extractor stub reads through its own source.
#pragma once

#include <cstdint>
#include <cstdio>

#include "archive/byte_source.h"

// A ByteSource over an open stream (not owned). A stream whose size cannot be taken reads as
// empty.
class FileByteSource : public ByteSource {
 public:
  explicit FileByteSource(std::FILE* f);
  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t offset, void* buffer, size_t n) override;

 private:
  std::FILE* f_;
  uint64_t size_ = 0;
};
