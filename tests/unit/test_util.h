// Helpers shared by the unit tests: a fresh temporary directory per test, file contents.
#pragma once

#include <string>
#include <vector>

namespace testutil {

// A new empty directory below the system's temporary directory, removed with its contents when
// the object goes away. path() ends without a separator.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  // path() + separator + relative (relative uses '/' and is converted).
  std::string Join(const std::string& relative) const;

 private:
  std::string path_;
};

// Writes bytes to a file, creating parent directories. False on failure.
bool WriteFile(const std::string& path, const std::string& bytes);
// The whole file, or "" when unreadable; ok (if given) tells which.
std::string ReadFile(const std::string& path, bool* ok = nullptr);
// Creates a directory and its parents.
bool MakeDirs(const std::string& path);
// Removes a tree.
void RemoveTree(const std::string& path);
// Takes every write permission from a file (the read-only attribute on Windows), or gives it back.
bool MakeReadOnly(const std::string& path);
bool MakeWritable(const std::string& path);
// The platform separator as a string.
std::string Sep();

}  // namespace testutil
