#include "support/file_access.h"

#include <cstdio>

#include "platform/platform.h"

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
