// A ByteSource over an open file handle, with a read window so that the many small reads of the
// header parser cost no system call each. Reads of a window's size or more go straight through.
#pragma once

#include <windows.h>

#include <vector>

#include "archive/archive_reader.h"

class HandleByteSource : public ByteSource {
 public:
  // file: opened for reading (not owned).
  explicit HandleByteSource(HANDLE file);
  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t offset, void* buffer, size_t n) override;
  // False when the size could not be taken.
  bool valid() const { return valid_; }

 private:
  bool ReadDirect(uint64_t offset, uint8_t* out, size_t n);

  HANDLE file_;
  uint64_t size_ = 0;
  bool valid_ = false;
  std::vector<uint8_t> window_;
  uint64_t windowStart_ = 0;
  size_t windowLength_ = 0;
};
