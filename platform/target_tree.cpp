// The target tree on top of the path calls of an Os: before every step each folder on the way is
// looked up in its parent's listing and must be a real directory (no junction, no link). Folders
// found so far are remembered, so a deep tree costs one lookup per new folder.
#include <set>

#include "platform/name_case.h"
#include "platform/platform.h"

namespace platform {

namespace {

bool SameName(const std::string& a, const std::string& b, bool caseInsensitive) {
  return caseInsensitive ? SameNameFolded1252(a, b) : a == b;
}

class PathTree : public TargetTree {
 public:
  PathTree(Os& os, const std::string& root) : os_(os), root_(root), sep_(os.Separator()) {}

  TreeEntry Kind(const Path& path) override {
    if (path.empty()) return TreeEntry::Directory;
    const Path folder(path.begin(), path.end() - 1);
    if (!FolderIsReal(folder)) return TreeEntry::Other;
    return Lookup(Join(folder), path.back());
  }

  bool MakeDirectory(const Path& path) override {
    if (path.empty() || !FolderIsReal(Path(path.begin(), path.end() - 1))) return false;
    if (!os_.MakeDirectory(Join(path))) return false;
    known_.insert(Join(path));
    return true;
  }

  std::FILE* CreateTemp(const Path& folder, const std::string& prefix, std::string& name) override {
    if (!FolderIsReal(folder)) return nullptr;
    std::string temp;
    if (!os_.CreateUniqueTempFile(Join(folder), prefix, temp)) return nullptr;
    std::FILE* f = os_.Open(temp, "wb");
    if (!f) {
      os_.Remove(temp);
      return nullptr;
    }
    const size_t cut = temp.find_last_of(sep_ == '\\' ? "\\/" : "/");
    name = cut == std::string::npos ? temp : temp.substr(cut + 1);
    return f;
  }

  bool Replace(const Path& folder, const std::string& from, const std::string& to) override {
    if (!FolderIsReal(folder)) return false;
    const std::string dir = Join(folder);
    return os_.Replace(dir + sep_ + from, dir + sep_ + to);
  }

  bool Remove(const Path& path) override {
    return !path.empty() && FolderIsReal(Path(path.begin(), path.end() - 1)) &&
           os_.Remove(Join(path));
  }

  bool RemoveDirectory(const Path& path) override {
    if (path.empty() || !FolderIsReal(Path(path.begin(), path.end() - 1))) return false;
    if (!os_.RemoveDirectory(Join(path))) return false;
    known_.erase(Join(path));
    return true;
  }

  bool SetLastWriteDosTime(const Path& path, const DosTime& time) override {
    return !path.empty() && FolderIsReal(Path(path.begin(), path.end() - 1)) &&
           os_.SetLastWriteDosTime(Join(path), time);
  }

  std::string Display(const Path& path) const override { return Join(path); }

 private:
  std::string Join(const Path& path) const {
    std::string s = root_;
    for (const std::string& name : path) s += sep_ + name;
    return s;
  }

  // What the listing of dir says about name.
  TreeEntry Lookup(const std::string& dir, const std::string& name) {
    std::vector<DirEntry> found;
    if (!os_.ListDirectory(dir, name, found)) return TreeEntry::Other;
    for (const DirEntry& e : found) {
      if (!SameName(e.name, name, sep_ == '\\')) continue;
      if (e.special || (e.attributes & kAttrReparsePoint)) return TreeEntry::Other;
      if (e.attributes & kAttrDirectory) return TreeEntry::Directory;
      return (e.attributes & kAttrReadOnly) ? TreeEntry::ReadOnlyFile : TreeEntry::File;
    }
    return TreeEntry::None;
  }

  // True when every folder of path, from the root down, is a real directory.
  bool FolderIsReal(const Path& path) {
    std::string dir = root_;
    for (const std::string& name : path) {
      const std::string next = dir + sep_ + name;
      if (!known_.count(next)) {
        if (Lookup(dir, name) != TreeEntry::Directory) return false;
        known_.insert(next);
      }
      dir = next;
    }
    return true;
  }

  Os& os_;
  const std::string root_;
  const char sep_;
  std::set<std::string> known_;  // folders below the root found to be real directories
};

}  // namespace

std::unique_ptr<TargetTree> Os::OpenTree(const std::string& root) {
  if (root.empty() || !IsDirectory(root)) return nullptr;
  return std::unique_ptr<TargetTree>(new PathTree(*this, root));
}

}  // namespace platform
