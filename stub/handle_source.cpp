#include "stub/handle_source.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr size_t kWindow = 256 * 1024;
}

HandleByteSource::HandleByteSource(HANDLE file) : file_(file) {
  LARGE_INTEGER size;
  if (file != INVALID_HANDLE_VALUE && GetFileSizeEx(file, &size) && size.QuadPart >= 0) {
    size_ = static_cast<uint64_t>(size.QuadPart);
    valid_ = true;
  }
}

bool HandleByteSource::ReadDirect(uint64_t offset, uint8_t* out, size_t n) {
  while (n > 0) {
    OVERLAPPED ov = {};
    ov.Offset = static_cast<DWORD>(offset);
    ov.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(n, 16u << 20));
    DWORD got = 0;
    if (!ReadFile(file_, out, chunk, &got, &ov) || got == 0) return false;
    out += got;
    offset += got;
    n -= got;
  }
  return true;
}

bool HandleByteSource::ReadAt(uint64_t offset, void* buffer, size_t n) {
  if (offset > size_ || n > size_ - offset) return false;
  if (n == 0) return true;
  uint8_t* out = static_cast<uint8_t*>(buffer);
  if (offset >= windowStart_ && offset + n <= windowStart_ + windowLength_) {
    std::memcpy(out, window_.data() + (offset - windowStart_), n);
    return true;
  }
  if (n >= kWindow) return ReadDirect(offset, out, n);
  if (window_.empty()) window_.resize(kWindow);
  size_t length = static_cast<size_t>(std::min<uint64_t>(kWindow, size_ - offset));
  windowLength_ = 0;
  if (!ReadDirect(offset, window_.data(), length)) return false;
  windowStart_ = offset;
  windowLength_ = length;
  std::memcpy(out, window_.data(), n);
  return true;
}
