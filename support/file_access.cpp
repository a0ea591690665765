#include "support/file_access.h"

#include <cstdio>
#include <new>
#include <vector>

#include "platform/platform.h"

namespace {

// The copy buffer holds one byte more than the largest chunk, as it always did.
constexpr size_t kCopyBufferSize = 65535;
constexpr int64_t kCopyChunk = 65534;

}  // namespace

bool FileExists(const char* path) {
  if (path == nullptr) return false;
  return platform::Current().Exists(path);
}

void ReadTextFile(const char* path, std::string& text) {
  if (path == nullptr || *path == '\0') return;
  std::FILE* f = platform::Current().Open(path, "rb");
  if (f == nullptr) return;
  std::string data(static_cast<size_t>(kMaxTextFileBytes), '\0');
  const size_t got = std::fread(&data[0], 1, data.size(), f);
  std::fclose(f);
  data.resize(got);
  const std::string::size_type nul = data.find('\0');
  if (nul != std::string::npos) data.resize(nul);
  text = data;
}

bool CopyHandleBytes(std::FILE* src, std::FILE* dst, int64_t count, bool* writeFailed) {
  if (writeFailed != nullptr) *writeFailed = false;
  if (count < 0) return false;
  if (count == 0) return true;
  // A handle that is not open fails the first transfer.
  if (src == nullptr || dst == nullptr) {
    if (writeFailed != nullptr) *writeFailed = dst == nullptr;
    return false;
  }

  std::vector<unsigned char> buffer;
  try {
    buffer.resize(kCopyBufferSize);
  } catch (const std::bad_alloc&) {
    return false;
  }

  int64_t chunk = count < kCopyChunk ? count : kCopyChunk;
  int64_t remaining = count;
  while (remaining > 0) {
    if (remaining < chunk) chunk = remaining;
    const size_t n = static_cast<size_t>(chunk);
    if (std::fread(buffer.data(), 1, n, src) != n) return false;
    if (std::fwrite(buffer.data(), 1, n, dst) != n) {
      if (writeFailed != nullptr) *writeFailed = true;
      return false;
    }
    remaining -= chunk;
  }
  return true;
}

bool ReadWholeStream(std::FILE* src, std::vector<uint8_t>& bytes, size_t maxBytes) {
  bytes.clear();
  if (src == nullptr) return false;
  uint8_t chunk[65536];
  for (;;) {
    const size_t n = std::fread(chunk, 1, sizeof chunk, src);
    if (n > maxBytes - bytes.size()) {
      bytes.clear();
      return false;
    }
    bytes.insert(bytes.end(), chunk, chunk + n);
    if (n < sizeof chunk) break;
  }
  if (std::ferror(src)) bytes.clear();
  return !std::ferror(src);
}
