#include "tests/unit/test_util.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

#include "platform/platform.h"

namespace fs = std::filesystem;

namespace testutil {

std::string Sep() { return std::string(1, platform::Real().Separator()); }

TempDir::TempDir() {
  static std::atomic<int> counter{0};
  std::mt19937_64 rng(std::chrono::steady_clock::now().time_since_epoch().count());
  const fs::path base = fs::temp_directory_path();
  for (;;) {
    const fs::path candidate =
        base / ("tambrix-test-" + std::to_string(rng() % 1000000000ULL) + "-" +
                std::to_string(counter++));
    std::error_code ec;
    if (fs::create_directory(candidate, ec)) {
      path_ = candidate.string();
      break;
    }
  }
}

TempDir::~TempDir() { RemoveTree(path_); }

std::string TempDir::Join(const std::string& relative) const {
  std::string rel = relative;
  for (char& c : rel) {
    if (c == '/') c = platform::Real().Separator();
  }
  return path_ + Sep() + rel;
}

bool MakeDirs(const std::string& path) {
  std::error_code ec;
  fs::create_directories(fs::path(path), ec);
  return !ec;
}

bool MakeReadOnly(const std::string& path) {
  std::error_code ec;
  fs::permissions(fs::path(path), fs::perms::owner_write | fs::perms::group_write |
                                      fs::perms::others_write,
                  fs::perm_options::remove, ec);
  return !ec;
}

bool MakeWritable(const std::string& path) {
  std::error_code ec;
  fs::permissions(fs::path(path), fs::perms::owner_write, fs::perm_options::add, ec);
  return !ec;
}

bool WriteFile(const std::string& path, const std::string& bytes) {
  const fs::path p(path);
  if (p.has_parent_path()) MakeDirs(p.parent_path().string());
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

std::string ReadFile(const std::string& path, bool* ok) {
  std::ifstream in(fs::path(path), std::ios::binary);
  if (!in) {
    if (ok) *ok = false;
    return std::string();
  }
  std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (ok) *ok = true;
  return data;
}

void RemoveTree(const std::string& path) {
  std::error_code ec;
  // Read-only files would stop remove_all on Windows: make everything writable first.
  for (auto it = fs::recursive_directory_iterator(path, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  fs::remove_all(fs::path(path), ec);
}

}  // namespace testutil
