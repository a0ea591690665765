#include "support/dir_scanner.h"

#include <algorithm>

#include "platform/name_case.h"
#include "platform/platform.h"

namespace {

bool IsDirectoryEntry(const platform::DirEntry& e) {
  return (e.attributes & platform::kAttrDirectory) != 0;
}

// A directory the walk may enter: a real directory, not a junction or link.
bool IsDescendable(const platform::DirEntry& e) {
  return IsDirectoryEntry(e) && (e.attributes & platform::kAttrReparsePoint) == 0 &&
         e.name != "." && e.name != "..";
}

// Puts one folder's entries in the order NTFS lists them, whatever the file system gives: the
// same tree then gives the same list, and the same archive, on every machine.
void SortAsNtfs(std::vector<platform::DirEntry>& entries) {
  std::sort(entries.begin(), entries.end(),
            [](const platform::DirEntry& a, const platform::DirEntry& b) {
              return platform::NameOrderLess(a.name, b.name);
            });
}

}  // namespace

void TDirList::Scan(const std::string& startPath, bool directoriesOnly) {
  CallCount = 0;
  Unreadable.clear();
  SkippedFiles = 0;
  // No start path lists nothing: on Windows the empty pattern would search the drive's root.
  if (startPath.empty()) {
    CalcTotalSize();
    return;
  }
  std::string path = startPath;
  const char sep = platform::Current().Separator();
  if (!path.empty() && path.back() == sep) path.pop_back();
  ScanDirectory(path, directoriesOnly, NameFlags());
  CalcTotalSize();
}

void TDirList::CalcTotalSize() {
  uint32_t sum = 0;
  uint64_t trueSum = 0;
  for (const TFileInfo& f : Result()) {
    sum += static_cast<uint32_t>(f.Size);
    trueSum += f.TrueSize;
  }
  TotalSize = static_cast<int32_t>(sum);
  TrueTotalSize = trueSum;
}

void TDirList::AddEntry(const std::string& name, uint64_t size, NameFlags flags) {
  if (!Sorted) {
    Files.emplace_back(name, size, flags.foreign, flags.undefined, flags.raw);
    return;
  }
  // Insert behind every entry that is not greater, so equal names keep their arrival order.
  auto pos = SortedFiles.end();
  while (pos != SortedFiles.begin() && (pos - 1)->Name > name) --pos;
  SortedFiles.insert(pos, TFileInfo(name, size, flags.foreign, flags.undefined, flags.raw));
}

bool TDirList::Skipped(const std::string& name) {
  if (Skip.empty()) return false;
  platform::FileId id;
  if (!platform::Current().Identity(name, id)) return false;
  for (const platform::FileId& skip : Skip) {
    if (skip == id) {
      ++SkippedFiles;
      return true;
    }
  }
  return false;
}

void TDirList::NoteUnreadable(const std::string& dir) {
  // A directory is asked for its files and for its subdirectories: one entry for both failures.
  if (Unreadable.empty() || Unreadable.back() != dir) Unreadable.push_back(dir);
}

void TDirList::ListOne(const std::string& dir, const std::string& mask, bool directoriesOnly,
                       NameFlags pathFlags) {
  platform::Os& os = platform::Current();
  std::vector<platform::DirEntry> entries;
  if (!os.ListDirectory(dir, mask, entries)) {
    NoteUnreadable(dir);
    return;
  }
  SortAsNtfs(entries);
  const std::string prefix = dir + os.Separator();
  for (const platform::DirEntry& e : entries) {
    if (e.name == "." || e.name == "..") continue;
    if (directoriesOnly) {
      if (IsDescendable(e)) AddEntry(prefix + e.name, 0, pathFlags.With(e));
    } else if (!IsDirectoryEntry(e) && !e.special && !Skipped(prefix + e.name)) {
      AddEntry(prefix + e.name, e.size, pathFlags.With(e));
    }
  }
}

void TDirList::ScanDirectory(std::string& path, bool directoriesOnly, NameFlags pathFlags) {
  ++CallCount;
  platform::Os& os = platform::Current();
  if (CallCount == 1) {
    for (const std::string& mask : Masks) ListOne(path, mask, directoriesOnly, pathFlags);
  }
  if (!Recursive) return;
  std::vector<platform::DirEntry> subdirs;
  if (!os.ListDirectory(path, "*.*", subdirs)) {
    NoteUnreadable(path);
    return;
  }
  SortAsNtfs(subdirs);
  const std::string::size_type oldLength = path.size();
  for (const platform::DirEntry& e : subdirs) {
    if (!IsDescendable(e)) continue;
    path += os.Separator();
    path += e.name;
    const NameFlags flags = pathFlags.With(e);
    for (const std::string& mask : Masks) ListOne(path, mask, directoriesOnly, flags);
    ScanDirectory(path, directoriesOnly, flags);
    path.resize(oldLength);
  }
}
