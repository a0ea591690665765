#include "builder/file_helpers.h"

#include "platform/platform.h"
#include "support/file_access.h"

namespace {

// Last index tried for c:\temp\ZAL<n>.tmp.
constexpr int kLastFallbackNumber = 32766;

}  // namespace

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
