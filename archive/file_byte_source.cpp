#include "archive/file_byte_source.h"

#include "platform/platform.h"

FileByteSource::FileByteSource(std::FILE* f) : f_(f) {
  const int64_t size = f ? platform::StreamSize(f) : -1;
  size_ = size > 0 ? static_cast<uint64_t>(size) : 0;
}

bool FileByteSource::ReadAt(uint64_t offset, void* buffer, size_t n) {
  if (!f_ || offset > size_ || n > size_ - offset) return false;
  if (n == 0) return true;
  if (!platform::Seek64(f_, static_cast<int64_t>(offset), SEEK_SET)) return false;
  return std::fread(buffer, 1, n, f_) == n;
}
