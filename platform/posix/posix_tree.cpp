#include "platform/posix/posix_tree.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <random>

#include "platform/posix/cp1252.h"

namespace platform {
namespace posix {

namespace {

// A descriptor closed when it goes out of scope.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  Fd(Fd&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
  Fd& operator=(Fd&& o) noexcept {
    if (this != &o) {
      Reset();
      fd_ = o.fd_;
      o.fd_ = -1;
    }
    return *this;
  }
  ~Fd() { Reset(); }
  int get() const { return fd_; }
  void Reset() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

class PosixTree : public TargetTree {
 public:
  PosixTree(Fd root, const std::string& display) : root_(std::move(root)), display_(display) {}

  TreeEntry Kind(const Path& path) override {
    if (path.empty()) return TreeEntry::Directory;
    const int dir = Folder(Path(path.begin(), path.end() - 1));
    if (dir < 0) return TreeEntry::Other;
    struct stat st;
    if (fstatat(dir, Spelling(dir, path.back()).c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
      return errno == ENOENT ? TreeEntry::None : TreeEntry::Other;
    if (S_ISDIR(st.st_mode)) return TreeEntry::Directory;
    if (!S_ISREG(st.st_mode)) return TreeEntry::Other;
    return (st.st_mode & S_IWUSR) ? TreeEntry::File : TreeEntry::ReadOnlyFile;
  }

  bool MakeDirectory(const Path& path) override {
    if (path.empty()) return false;
    const int dir = Folder(Path(path.begin(), path.end() - 1));
    return dir >= 0 && mkdirat(dir, Spelling(dir, path.back()).c_str(), 0777) == 0;
  }

  std::FILE* CreateTemp(const Path& folder, const std::string& prefix, std::string& name) override {
    const int dir = Folder(folder);
    if (dir < 0) return nullptr;
    const unsigned start = static_cast<unsigned>(RandomNumber());
    for (unsigned k = 0; k < 0x10000; ++k) {
      char digits[8];
      std::snprintf(digits, sizeof digits, "%04x", (start + k) & 0xFFFF);
      const std::string candidate = prefix + digits + ".tmp";
      const int fd = openat(dir, candidate.c_str(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
      if (fd < 0) {
        if (errno == EEXIST) continue;
        return nullptr;
      }
      std::FILE* f = fdopen(fd, "wb");
      if (!f) {
        close(fd);
        unlinkat(dir, candidate.c_str(), 0);
        return nullptr;
      }
      name = candidate;
      return f;
    }
    return nullptr;
  }

  bool Replace(const Path& folder, const std::string& from, const std::string& to) override {
    const int dir = Folder(folder);
    // rename replaces a link of the target name itself and never writes through it.
    return dir >= 0 &&
           renameat(dir, Spelling(dir, from).c_str(), dir, Spelling(dir, to).c_str()) == 0;
  }

  bool Remove(const Path& path) override {
    if (path.empty()) return false;
    const int dir = Folder(Path(path.begin(), path.end() - 1));
    return dir >= 0 && unlinkat(dir, Spelling(dir, path.back()).c_str(), 0) == 0;
  }

  bool RemoveDirectory(const Path& path) override {
    if (path.empty()) return false;
    const Path parent(path.begin(), path.end() - 1);
    const int dir = Folder(parent);
    if (dir < 0) return false;
    const std::string name = Spelling(dir, path.back());
    // The cached descriptor may be the folder itself or one below it: let it go first.
    cachedPath_.clear();
    cached_.Reset();
    const int again = Folder(parent);
    return again >= 0 && unlinkat(again, name.c_str(), AT_REMOVEDIR) == 0;
  }

  bool SetLastWriteDosTime(const Path& path, const DosTime& time) override {
    long long t = 0;
    if (path.empty() || !DosTimeToTime(time, t)) return false;
    const int dir = Folder(Path(path.begin(), path.end() - 1));
    if (dir < 0) return false;
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = static_cast<time_t>(t);
    times[1].tv_nsec = 0;
    return utimensat(dir, Spelling(dir, path.back()).c_str(), times, AT_SYMLINK_NOFOLLOW) == 0;
  }

  std::string Display(const Path& path) const override {
    std::string s = display_;
    for (const std::string& name : path) s += '/' + name;
    return s;
  }

 private:
  // The name on disk in dir. Whichever spelling is taken, it is entered without following a
  // link, so a link under one spelling beside a folder under the other leads nowhere.
  static std::string Spelling(int dir, const std::string& name) {
    return NameOnDisk(dir, std::string(), name);
  }

  // A descriptor of the folder path below the root, entered name by name without following any
  // link; -1 when one is missing or is no real directory. The last folder entered is kept, since
  // the files of an archive come folder by folder.
  int Folder(const Path& path) {
    if (path.empty()) return root_.get();
    if (cached_.get() >= 0 && path == cachedPath_) return cached_.get();
    Fd current;
    int at = root_.get();
    for (const std::string& name : path) {
      Fd next(
          openat(at, Spelling(at, name).c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      if (next.get() < 0) return -1;
      current = std::move(next);
      at = current.get();
    }
    cached_ = std::move(current);
    cachedPath_ = path;
    return cached_.get();
  }

  Fd root_;
  const std::string display_;
  Fd cached_;
  Path cachedPath_;
};

}  // namespace

std::string NameOnDisk(int dir, const std::string& prefix, const std::string& name) {
  bool high = false;
  for (char c : name) high = high || static_cast<unsigned char>(c) >= 0x80;
  if (!high) return name;
  const std::string utf8 = Cp1252ToUtf8(name);
  struct stat st;
  if (fstatat(dir, (prefix + utf8).c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 &&
      fstatat(dir, (prefix + name).c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
    return name;
  return utf8;
}

uint64_t RandomNumber() {
  // Temporary files are made from several threads in a parallel build.
  static std::mutex guard;
  static std::mt19937_64 rng(std::random_device{}() ^ (static_cast<uint64_t>(getpid()) << 32) ^
                             static_cast<uint64_t>(std::time(nullptr)));
  const std::lock_guard<std::mutex> lock(guard);
  return rng();
}

bool DosTimeToTime(const DosTime& time, long long& out) {
  if (time.year1980 > 127 || time.month < 1 || time.month > 12 || time.day < 1 || time.day > 31 ||
      time.hour > 23 || time.minute > 59 || time.seconds2 > 29) {
    return false;
  }
  struct tm tm = {};
  tm.tm_year = static_cast<int>(time.year1980) + 80;
  tm.tm_mon = static_cast<int>(time.month) - 1;
  tm.tm_mday = static_cast<int>(time.day);
  tm.tm_hour = static_cast<int>(time.hour);
  tm.tm_min = static_cast<int>(time.minute);
  tm.tm_sec = static_cast<int>(time.seconds2) * 2;
  tm.tm_isdst = -1;
  const time_t t = mktime(&tm);
  if (t == static_cast<time_t>(-1)) return false;
  out = static_cast<long long>(t);
  return true;
}

std::unique_ptr<TargetTree> OpenPosixTree(const std::string& osRoot, const std::string& display) {
  Fd root(open(osRoot.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (root.get() < 0) return nullptr;
  return std::unique_ptr<TargetTree>(new PosixTree(std::move(root), display));
}

}  // namespace posix
}  // namespace platform
