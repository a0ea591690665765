#include "builder/file_helpers.h"

#include <new>
#include <vector>

#include "platform/platform.h"
#include "support/file_access.h"

namespace {

// The copy buffer holds one byte more than the largest chunk, as it always did.
constexpr size_t kCopyBufferSize = 65535;
constexpr int64_t kCopyChunk = 65534;

// Last index tried for c:\temp\ZAL<n>.tmp.
constexpr int kLastFallbackNumber = 32766;

}  // namespace

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

std::string MakeTempName(const std::string& prefix) {
  platform::Os& os = platform::Current();
  const bool windows = os.Separator() == '\\';

  // The system's temporary directory, unless it is missing or on a CD-ROM.
  const std::string tempDir = os.TempDirectory();
  std::string root;
  if (windows) {
    if (!tempDir.empty()) root = std::string(1, tempDir[0]) + ":\\";
  } else {
    root = "/";
  }
  if (!tempDir.empty() && FileExists(tempDir) && os.DriveType(root) != platform::DriveKind::CdRom) {
    std::string path;
    if (!os.CreateUniqueTempFile(tempDir, prefix, path)) return std::string();
    return path;
  }

  // Windows only: c:\temp\ZAL<n>.tmp, whatever the prefix.
  if (windows) {
    const std::string dir = "c:\\temp";
    if (!FileExists(dir)) os.MakeDirectory(dir);
    if (FileExists(dir)) {
      for (int i = 0; i <= kLastFallbackNumber; ++i) {
        const std::string name = dir + "\\ZAL" + std::to_string(i) + ".tmp";
        if (FileExists(name)) continue;
        std::FILE* f = os.Open(name, "wb");
        if (f == nullptr) break;  // cannot create here at all: take the runtime's name
        std::fclose(f);
        return name;
      }
    }
  }

  return os.RuntimeTempName();
}
