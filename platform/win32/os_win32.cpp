// The platform layer on Windows: the ANSI Win32 APIs, called as they are, so the program behaves
// exactly as the system's own functions do (code page 1252 strings pass straight through).
#include <windows.h>
// windows.h maps RemoveDirectory to RemoveDirectoryA; our member of that name must keep it.
#undef RemoveDirectory

#include <fcntl.h>
#include <io.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "platform/platform.h"

namespace platform {

namespace {

// Splits a DOS date and time into their six fields.
DosTime SplitDosTime(WORD date, WORD time) {
  DosTime d;
  d.day = date & 0x1F;
  d.month = (date >> 5) & 0x0F;
  d.year1980 = (date >> 9) & 0x7F;
  d.seconds2 = time & 0x1F;
  d.minute = (time >> 5) & 0x3F;
  d.hour = (time >> 11) & 0x1F;
  return d;
}

class Win32Os : public Os {
 public:
  char Separator() const override { return '\\'; }

  bool Exists(const std::string& path) override {
    return !path.empty() && GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
  }

  bool IsDirectory(const std::string& path) override {
    if (path.empty()) return false;
    const DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
  }

  bool ListDirectory(const std::string& dir, const std::string& mask,
                     std::vector<DirEntry>& out) override {
    std::string pattern = dir;
    if (pattern.empty() || (pattern.back() != '\\' && pattern.back() != '/')) pattern += '\\';
    pattern += mask;
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA(pattern.c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) {
      // No match in a directory that exists is an empty listing, not a failure.
      return GetLastError() == ERROR_FILE_NOT_FOUND;
    }
    do {
      const std::string name = fd.cFileName;
      if (name == "." || name == "..") continue;
      DirEntry e;
      e.name = name;
      // Windows puts '?' for every character the ANSI code page lacks; no real name holds one.
      e.foreignName = name.find('?') != std::string::npos;
      e.attributes = fd.dwFileAttributes;
      e.size = (static_cast<uint64_t>(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow;
      out.push_back(e);
    } while (FindNextFileA(h, &fd));
    FindClose(h);
    return true;
  }

  std::FILE* Open(const std::string& path, const char* mode) override {
    if (path.empty()) return nullptr;
    if (std::string(mode) == "wbx") {
      // The runtime's fopen knows no exclusive creation: the file is created new by the system
      // and the stream made on its handle.
      HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
      if (h == INVALID_HANDLE_VALUE) return nullptr;
      const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_BINARY | _O_WRONLY);
      if (fd < 0) {
        CloseHandle(h);
        return nullptr;
      }
      std::FILE* f = _fdopen(fd, "wb");
      if (f == nullptr) _close(fd);
      return f;
    }
    return std::fopen(path.c_str(), mode);
  }

  bool Remove(const std::string& path) override {
    return !path.empty() && DeleteFileA(path.c_str()) != 0;
  }

  bool Replace(const std::string& from, const std::string& to) override {
    // Windows refuses to replace a read-only file; Wine's MoveFileEx does not, so the rule is
    // kept here and the builder behaves the same on both.
    const DWORD target = GetFileAttributesA(to.c_str());
    if (target != INVALID_FILE_ATTRIBUTES && (target & FILE_ATTRIBUTE_READONLY) != 0) {
      SetLastError(ERROR_ACCESS_DENIED);
      return false;
    }
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
  }

  bool Identity(const std::string& path, FileId& out) override {
    if (path.empty()) return false;
    // Attribute access only, shared every way: a file open elsewhere, even for writing, and a
    // directory (backup semantics) can be asked too.
    HANDLE h = CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info;
    const bool ok = GetFileInformationByHandle(h, &info) != 0;
    CloseHandle(h);
    if (!ok) return false;
    out.volume = info.dwVolumeSerialNumber;
    out.index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return true;
  }

  bool MakeDirectory(const std::string& path) override {
    return !path.empty() && CreateDirectoryA(path.c_str(), nullptr) != 0;
  }

  bool RemoveDirectory(const std::string& path) override {
    return !path.empty() && ::RemoveDirectoryA(path.c_str()) != 0;
  }

  std::string TempDirectory() override {
    char buf[MAX_PATH + 1];
    const DWORD n = GetTempPathA(sizeof buf, buf);
    if (n == 0 || n >= sizeof buf) return std::string();
    return std::string(buf, n);
  }

  bool CreateUniqueTempFile(const std::string& dir, const std::string& prefix,
                            std::string& path) override {
    char buf[MAX_PATH];
    if (GetTempFileNameA(dir.c_str(), prefix.c_str(), 0, buf) == 0) return false;
    path = buf;
    return true;
  }

  DriveKind DriveType(const std::string& root) override {
    switch (GetDriveTypeA(root.c_str())) {
      case DRIVE_NO_ROOT_DIR:
        return DriveKind::NoRootDir;
      case DRIVE_REMOVABLE:
        return DriveKind::Removable;
      case DRIVE_FIXED:
        return DriveKind::Fixed;
      case DRIVE_REMOTE:
        return DriveKind::Remote;
      case DRIVE_CDROM:
        return DriveKind::CdRom;
      case DRIVE_RAMDISK:
        return DriveKind::RamDisk;
      default:
        return DriveKind::Unknown;
    }
  }

  std::string RuntimeTempName() override {
    char buf[L_tmpnam + 1] = {};
    const char* name = std::tmpnam(buf);
    return name ? std::string(name) : std::string();
  }

  std::string ProgramPath() override {
    std::string buf(MAX_PATH, '\0');
    for (;;) {
      const DWORD n = GetModuleFileNameA(nullptr, &buf[0], static_cast<DWORD>(buf.size()));
      if (n == 0) return std::string();
      if (n < buf.size()) {
        buf.resize(n);
        return buf;
      }
      if (buf.size() >= 32768) return std::string();
      buf.resize(buf.size() * 2);
    }
  }

  ScreenInfo Screen() override {
    ScreenInfo s;
    HDC dc = GetDC(nullptr);
    if (!dc) return s;
    s.width = GetDeviceCaps(dc, HORZRES);
    s.height = GetDeviceCaps(dc, VERTRES);
    s.bitsPerPixel = GetDeviceCaps(dc, BITSPIXEL);
    s.planes = GetDeviceCaps(dc, PLANES);
    ReleaseDC(nullptr, dc);
    return s;
  }

  std::string SystemDirectory() override {
    char buf[MAX_PATH];
    const UINT n = GetSystemDirectoryA(buf, sizeof buf);
    return (n == 0 || n >= sizeof buf) ? std::string() : std::string(buf, n);
  }

  std::string WindowsDirectory() override {
    char buf[MAX_PATH];
    const UINT n = GetWindowsDirectoryA(buf, sizeof buf);
    return (n == 0 || n >= sizeof buf) ? std::string() : std::string(buf, n);
  }

  std::string UserProfileString(const std::string& section, const std::string& key,
                                const std::string& def) override {
    char buf[512];
    const DWORD n = GetProfileStringA(section.c_str(), key.c_str(), def.c_str(), buf, sizeof buf);
    return std::string(buf, n < sizeof buf ? n : sizeof buf - 1);
  }

  // file must be a full path: given a bare name, the profile functions look in the Windows
  // directory, not in the current one. Every caller builds it from the program's directory.
  std::string ProfileString(const std::string& section, const std::string& key,
                            const std::string& def, const std::string& file) override {
    char buf[512];
    const DWORD n = GetPrivateProfileStringA(section.c_str(), key.c_str(), def.c_str(), buf,
                                             sizeof buf, file.c_str());
    return std::string(buf, n < sizeof buf ? n : sizeof buf - 1);
  }

  int ProfileInt(const std::string& section, const std::string& key, int def,
                 const std::string& file) override {
    return static_cast<int>(GetPrivateProfileIntA(section.c_str(), key.c_str(), def, file.c_str()));
  }

  std::vector<std::string> ProfileSectionNames(const std::string& file) override {
    // The names come NUL-separated; a result of size - 2 means the buffer was too small.
    std::vector<char> buf(4096);
    DWORD n;
    for (;;) {
      n = GetPrivateProfileSectionNamesA(buf.data(), static_cast<DWORD>(buf.size()), file.c_str());
      if (n + 2 < buf.size() || buf.size() >= (1u << 26)) break;
      buf.resize(buf.size() * 4);
    }
    std::vector<std::string> names;
    for (size_t i = 0; i < n && buf[i];) {
      const std::string name(&buf[i]);
      names.push_back(name);
      i += name.size() + 1;
    }
    return names;
  }

  bool LastWriteDosTime(const std::string& path, DosTime& out) override {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (path.empty() || !GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) {
      return false;
    }
    FILETIME local;
    SYSTEMTIME st;
    if (!FileTimeToLocalFileTime(&data.ftLastWriteTime, &local) ||
        !FileTimeToSystemTime(&local, &st)) {
      return false;
    }
    // DOS times cover 1980 to 2107: times outside are clamped to the nearest end.
    if (st.wYear < 1980) {
      out = DosTime();
      return true;
    }
    if (st.wYear > 2107) {
      out = SplitDosTime(static_cast<WORD>((127 << 9) | (12 << 5) | 31),
                         static_cast<WORD>((23 << 11) | (59 << 5) | 29));
      return true;
    }
    WORD date = 0, time = 0;
    if (!FileTimeToDosDateTime(&local, &date, &time)) return false;
    out = SplitDosTime(date, time);
    return true;
  }

  bool SetLastWriteDosTime(const std::string& path, const DosTime& t) override {
    if (path.empty() || t.year1980 > 127 || t.month < 1 || t.month > 12 || t.day < 1 ||
        t.day > 31 || t.hour > 23 || t.minute > 59 || t.seconds2 > 29) {
      return false;
    }
    const WORD date = static_cast<WORD>((t.year1980 << 9) | (t.month << 5) | t.day);
    const WORD time = static_cast<WORD>((t.hour << 11) | (t.minute << 5) | t.seconds2);
    FILETIME local, utc;
    if (!DosDateTimeToFileTime(date, time, &local) || !LocalFileTimeToFileTime(&local, &utc)) {
      return false;
    }
    HANDLE h = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    const BOOL ok = SetFileTime(h, nullptr, nullptr, &utc);
    CloseHandle(h);
    return ok != 0;
  }
};

}  // namespace

Os& Real() {
  static Win32Os os;
  return os;
}

int64_t Tell64(std::FILE* f) { return _ftelli64(f); }

bool Seek64(std::FILE* f, int64_t offset, int whence) { return _fseeki64(f, offset, whence) == 0; }

}  // namespace platform
