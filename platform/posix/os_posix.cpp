// The platform layer on POSIX systems (Linux): file system calls with UTF-8 names behind the
// program's code page 1252 strings, and an ini reader with the Windows profile rules.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>

#include "platform/platform.h"
#include "platform/posix/cp1252.h"
#include "platform/posix/ini_reader.h"
#include "platform/posix/posix_tree.h"

namespace platform {

namespace {

using posix::Cp1252ToUtf8;
using posix::Utf8ToCp1252;
using posix::Utf8ToCp1252OrRaw;

bool HasHighBytes(const std::string& s) {
  for (char c : s) {
    if (static_cast<unsigned char>(c) >= 0x80) return true;
  }
  return false;
}

// The name on disk for a code page 1252 path, component by component (NameOnDisk): names that
// were delivered byte for byte (not valid UTF-8, or with characters outside the code page) thus
// reach the same file again.
std::string ToOsPath(const std::string& path) {
  if (!HasHighBytes(path)) return path;
  std::string out;
  size_t pos = 0;
  for (;;) {
    size_t slash = path.find('/', pos);
    if (slash == std::string::npos) slash = path.size();
    out += posix::NameOnDisk(AT_FDCWD, out, path.substr(pos, slash - pos));
    if (slash >= path.size()) break;
    out += '/';
    pos = slash + 1;
  }
  return out;
}

// Reads a whole regular file; false when it cannot be read.
bool ReadWholeFile(Os& os, const std::string& path, std::string& data) {
  std::FILE* f = os.Open(path, "rb");
  if (!f) return false;
  data.clear();
  char buf[65536];
  size_t got;
  while ((got = std::fread(buf, 1, sizeof buf, f)) > 0) data.append(buf, got);
  const bool ok = !std::ferror(f);
  std::fclose(f);
  return ok;
}

// The open(2) flags of a fopen mode; false for a mode we do not support.
bool FlagsOfMode(const char* mode, int& flags) {
  if (!mode || !*mode) return false;
  const bool plus = std::string(mode).find('+') != std::string::npos;
  switch (mode[0]) {
    case 'r':
      flags = plus ? O_RDWR : O_RDONLY;
      break;
    case 'w':
      flags = (plus ? O_RDWR : O_WRONLY) | O_CREAT | O_TRUNC;
      if (std::string(mode).find('x') != std::string::npos) flags |= O_EXCL;
      break;
    case 'a':
      flags = (plus ? O_RDWR : O_WRONLY) | O_CREAT | O_APPEND;
      break;
    default:
      return false;
  }
  return true;
}

class PosixOs : public Os {
 public:
  char Separator() const override { return '/'; }

  bool Exists(const std::string& path) override {
    struct stat st;
    return !path.empty() && lstat(ToOsPath(path).c_str(), &st) == 0;
  }

  bool IsDirectory(const std::string& path) override {
    struct stat st;
    return !path.empty() && stat(ToOsPath(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  }

  bool ListDirectory(const std::string& dir, const std::string& mask,
                     std::vector<DirEntry>& out) override {
    // An empty directory stands for the root, as "\*.*" does on Windows.
    const std::string osDir = dir.empty() ? std::string("/") : ToOsPath(dir);
    DIR* d = opendir(osDir.c_str());
    if (!d) return false;
    const int fd = dirfd(d);
    while (const dirent* ent = readdir(d)) {
      const std::string raw = ent->d_name;
      if (raw == "." || raw == "..") continue;
      std::string name;
      bool foreign = !Utf8ToCp1252(raw, name);
      // Bytes that are no UTF-8 are taken as what code page 1252 makes of them, when it
      // makes a character of each.
      bool undefined = false;
      bool rawName = false;
      if (foreign && !posix::IsUtf8(raw)) {
        undefined = !posix::AllDefinedInCp1252(raw);
        rawName = !undefined;
        foreign = undefined;
      }
      if (!posix::MatchMask(name, mask)) continue;
      struct stat st;
      if (fstatat(fd, raw.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;  // gone meanwhile
      DirEntry e;
      e.name = name;
      e.foreignName = foreign;
      e.undefinedBytes = undefined;
      e.rawName = rawName;
      if (S_ISLNK(st.st_mode)) {
        if (fstatat(fd, raw.c_str(), &st, 0) != 0) continue;  // dangling link: nothing to read
        if (S_ISDIR(st.st_mode)) e.attributes |= kAttrDirectory | kAttrReparsePoint;
      } else if (S_ISDIR(st.st_mode)) {
        e.attributes |= kAttrDirectory;
      }
      if (S_ISREG(st.st_mode)) {
        e.size = static_cast<uint64_t>(st.st_size);
      } else if (!S_ISDIR(st.st_mode)) {
        e.special = true;  // FIFO, socket or device
      }
      if (name[0] == '.') e.attributes |= kAttrHidden;
      if ((st.st_mode & S_IWUSR) == 0) e.attributes |= kAttrReadOnly;
      out.push_back(e);
    }
    closedir(d);
    return true;
  }

  std::FILE* Open(const std::string& path, const char* mode) override {
    int flags = 0;
    if (path.empty() || !FlagsOfMode(mode, flags)) return nullptr;
    // O_NONBLOCK keeps a FIFO from blocking the open; only regular files are handed out, as a
    // FIFO, socket or device would hang or endlessly feed a build.
    const int fd = open(ToOsPath(path).c_str(), flags | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) return nullptr;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      close(fd);
      return nullptr;
    }
    const int fl = fcntl(fd, F_GETFL);
    if (fl >= 0) fcntl(fd, F_SETFL, fl & ~O_NONBLOCK);
    std::string streamMode = mode;
    const size_t x = streamMode.find('x');  // exclusive creation is done; fdopen knows no 'x'
    if (x != std::string::npos) streamMode.erase(x, 1);
    std::FILE* f = fdopen(fd, streamMode.c_str());
    if (!f) close(fd);
    return f;
  }

  bool Remove(const std::string& path) override {
    return !path.empty() && unlink(ToOsPath(path).c_str()) == 0;
  }

  bool Replace(const std::string& from, const std::string& to) override {
    return !from.empty() && !to.empty() &&
           rename(ToOsPath(from).c_str(), ToOsPath(to).c_str()) == 0;
  }

  bool Identity(const std::string& path, FileId& out) override {
    struct stat st;
    if (path.empty() || stat(ToOsPath(path).c_str(), &st) != 0) return false;
    out.volume = static_cast<uint64_t>(st.st_dev);
    out.index = static_cast<uint64_t>(st.st_ino);
    return true;
  }

  bool MakeDirectory(const std::string& path) override {
    return !path.empty() && mkdir(ToOsPath(path).c_str(), 0777) == 0;
  }

  bool RemoveDirectory(const std::string& path) override {
    return !path.empty() && rmdir(ToOsPath(path).c_str()) == 0;
  }

  std::unique_ptr<TargetTree> OpenTree(const std::string& root) override {
    return root.empty() ? nullptr : posix::OpenPosixTree(ToOsPath(root), root);
  }

  std::string TempDirectory() override {
    const char* env = std::getenv("TMPDIR");
    std::string dir = (env && *env) ? env : "/tmp";
    if (dir.back() != '/') dir += '/';
    return Utf8ToCp1252OrRaw(dir);
  }

  bool CreateUniqueTempFile(const std::string& dir, const std::string& prefix,
                            std::string& path) override {
    if (dir.empty()) return false;
    std::string base = dir;
    if (base.back() != '/') base += '/';
    base += prefix.substr(0, 3);
    // Like GetTempFileNameA: four hex digits, tried in turn from a random start.
    const unsigned start = static_cast<unsigned>(posix::RandomNumber());
    for (unsigned k = 0; k < 0x10000; ++k) {
      const unsigned number = (start + k) & 0xFFFF;
      if (number == 0) continue;
      char digits[8];
      std::snprintf(digits, sizeof digits, "%04x", number);
      const std::string candidate = base + digits + ".tmp";
      const int fd =
          open(ToOsPath(candidate).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
      if (fd >= 0) {
        close(fd);
        path = candidate;
        return true;
      }
      if (errno != EEXIST) return false;
    }
    return false;
  }

  DriveKind DriveType(const std::string& root) override {
    return IsDirectory(root) ? DriveKind::Fixed : DriveKind::NoRootDir;
  }

  std::string RuntimeTempName() override {
    const std::string dir = TempDirectory();
    for (int tries = 0; tries < 1000; ++tries) {
      char tail[48];
      std::snprintf(tail, sizeof tail, "t%lx_%llx", static_cast<unsigned long>(getpid()),
                    static_cast<unsigned long long>(posix::RandomNumber()));
      const std::string name = dir + tail;
      if (!Exists(name)) return name;
    }
    return std::string();
  }

  std::string ProgramPath() override {
    std::string buf(256, '\0');
    for (;;) {
      const ssize_t n = readlink("/proc/self/exe", &buf[0], buf.size());
      if (n < 0) return std::string();
      if (static_cast<size_t>(n) < buf.size()) {
        buf.resize(static_cast<size_t>(n));
        return Utf8ToCp1252OrRaw(buf);
      }
      buf.resize(buf.size() * 2);
    }
  }

  ScreenInfo Screen() override { return ScreenInfo(); }
  std::string SystemDirectory() override { return std::string(); }
  std::string WindowsDirectory() override { return std::string(); }

  std::string UserProfileString(const std::string& section, const std::string& key,
                                const std::string& def) override {
    // There is no win.ini: every key is absent, and the default comes back as Windows returns it.
    return posix::ProfileStringFromText(std::string(), section, key, def);
  }

  std::string ProfileString(const std::string& section, const std::string& key,
                            const std::string& def, const std::string& file) override {
    return posix::ProfileStringFromText(IniText(file), section, key, def);
  }

  int ProfileInt(const std::string& section, const std::string& key, int def,
                 const std::string& file) override {
    return posix::ProfileIntFromText(IniText(file), section, key, def);
  }

  std::vector<std::string> ProfileSectionNames(const std::string& file) override {
    return posix::SectionNamesOfText(IniText(file));
  }

  bool LastWriteDosTime(const std::string& path, DosTime& out) override {
    struct stat st;
    if (path.empty() || stat(ToOsPath(path).c_str(), &st) != 0) return false;
    struct tm tm;
    const time_t t = st.st_mtime;
    if (!localtime_r(&t, &tm)) return false;
    DosTime d;
    const int year = tm.tm_year + 1900;
    if (year < 1980) {
      d = DosTime();  // 1980-01-01 00:00:00, the earliest DOS time
    } else if (year > 2107) {
      d.year1980 = 127, d.month = 12, d.day = 31, d.hour = 23, d.minute = 59, d.seconds2 = 29;
    } else {
      d.year1980 = static_cast<uint32_t>(year - 1980);
      d.month = static_cast<uint32_t>(tm.tm_mon + 1);
      d.day = static_cast<uint32_t>(tm.tm_mday);
      d.hour = static_cast<uint32_t>(tm.tm_hour);
      d.minute = static_cast<uint32_t>(tm.tm_min);
      d.seconds2 = static_cast<uint32_t>(tm.tm_sec > 59 ? 29 : tm.tm_sec / 2);
    }
    out = d;
    return true;
  }

  bool LastWriteSeconds(const std::string& path, int64_t& seconds) override {
    struct stat st;
    if (path.empty() || stat(ToOsPath(path).c_str(), &st) != 0) return false;
    seconds = static_cast<int64_t>(st.st_mtime);
    return true;
  }

  bool SetLastWriteDosTime(const std::string& path, const DosTime& time) override {
    long long t = 0;
    if (path.empty() || !posix::DosTimeToTime(time, t)) return false;
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = static_cast<time_t>(t);
    times[1].tv_nsec = 0;
    return utimensat(AT_FDCWD, ToOsPath(path).c_str(), times, 0) == 0;
  }

 private:
  std::string IniText(const std::string& file) {
    std::string bytes;
    if (file.empty() || !ReadWholeFile(*this, file, bytes)) return std::string();
    return posix::IniTextToCp1252(bytes);
  }
};

}  // namespace

Os& Real() {
  static PosixOs os;
  return os;
}

int64_t Tell64(std::FILE* f) {
  const off_t pos = ftello(f);
  return pos < 0 ? -1 : static_cast<int64_t>(pos);
}

bool Seek64(std::FILE* f, int64_t offset, int whence) {
  return fseeko(f, static_cast<off_t>(offset), whence) == 0;
}

bool Truncate64(std::FILE* f, int64_t size) {
  return std::fflush(f) == 0 && ftruncate(fileno(f), static_cast<off_t>(size)) == 0 &&
         Seek64(f, size, SEEK_SET);
}

}  // namespace platform
