// Random-access bytes for the archive reader and the decoders, and the source over memory.
// Nothing here touches the operating system: the extractor stub supplies its own source over a
// file handle, the console builder the stream source of file_byte_source.h.
#pragma once

#include <cstddef>
#include <cstdint>

// Random-access bytes: a file, or memory in tests.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual uint64_t Size() const = 0;
  // Reads exactly n bytes at offset; false when they are not all there.
  virtual bool ReadAt(uint64_t offset, void* buffer, size_t n) = 0;
};

// A ByteSource over memory (not owned).
class MemoryByteSource : public ByteSource {
 public:
  MemoryByteSource(const void* data, size_t size)
      : data_(static_cast<const uint8_t*>(data)), size_(size) {}
  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t offset, void* buffer, size_t n) override;

 private:
  const uint8_t* data_;
  size_t size_;
};
