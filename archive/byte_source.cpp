#include "archive/byte_source.h"

#include <cstring>

bool MemoryByteSource::ReadAt(uint64_t offset, void* buffer, size_t n) {
  if (offset > size_ || n > size_ - offset) return false;
  if (n) std::memcpy(buffer, data_ + offset, n);
  return true;
}
