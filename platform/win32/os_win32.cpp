// The platform layer on Windows: the wide-character Win32 APIs on extended (\\?\) paths, so a
// folder deeper than MAX_PATH is read and written like any other. The rest of the program keeps its
// code page 1252 strings (the archive stores its names in it); they are converted here, at the
// boundary, with code page 1252 itself rather than whatever ANSI code page the machine runs.
// The profile functions take their file's path in UTF-16 too; what they read stays in the ANSI code
// page, byte for byte as the ANSI functions give it.
#include <windows.h>
// windows.h maps RemoveDirectory to RemoveDirectoryA; our member of that name must keep it.
#undef RemoveDirectory

#include <fcntl.h>
#include <io.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cwchar>

#include "platform/platform.h"
#include "platform/win32/wide_text.h"

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

constexpr UINT kCodePage = 1252;

// Code page 1252 text as UTF-16. Every byte has a character, so this cannot fail.
std::wstring Widen(const std::string& s) { return Utf16OfCp1252(s); }

// UTF-16 as code page 1252. A character the code page lacks becomes '?' (never a look-alike:
// that would name another file) and sets *lossy.
std::string Narrow(const std::wstring& w, bool* lossy = nullptr) {
  if (lossy != nullptr) *lossy = false;
  if (w.empty()) return std::string();
  BOOL usedDefault = FALSE;
  const int len = static_cast<int>(w.size());
  const int n = WideCharToMultiByte(kCodePage, WC_NO_BEST_FIT_CHARS, w.data(), len, nullptr, 0,
                                    nullptr, &usedDefault);
  if (n <= 0) {
    if (lossy != nullptr) *lossy = true;
    return std::string();
  }
  std::string s(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(kCodePage, WC_NO_BEST_FIT_CHARS, w.data(), len, &s[0], n, nullptr,
                      &usedDefault);
  if (lossy != nullptr) *lossy = usedDefault != FALSE;
  return s;
}

// The profile functions' section and key names and values as the ANSI functions pass them: in the
// machine's ANSI code page. A file without a byte order mark is read in that code page, so a value
// comes back with the bytes the file holds.
std::wstring AnsiWiden(const std::string& s) {
  if (s.empty()) return std::wstring();
  const int n = MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  if (n <= 0) return std::wstring();
  std::wstring w(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), &w[0], n);
  return w;
}
std::string AnsiNarrow(const wchar_t* w, size_t len) {
  if (len == 0) return std::string();
  const int size = static_cast<int>(len);
  const int n = WideCharToMultiByte(CP_ACP, 0, w, size, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return std::string();
  std::string s(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, w, size, &s[0], n, nullptr, nullptr);
  return s;
}

bool StartsWith(const std::wstring& s, const wchar_t* prefix) {
  return s.compare(0, wcslen(prefix), prefix) == 0;
}

// The form of path every wide file call below takes: absolute, backslashes only, no "." or ".."
// elements (GetFullPathNameW resolves them against the current directory, as the ANSI calls
// did), with the \\?\ prefix that lifts the MAX_PATH limit (\\?\UNC\server\share for a share).
// A path that has the prefix is taken as it is; a device (\\.\) keeps its form. "" when the
// path cannot be formed.
std::wstring SystemPath(const std::string& path) {
  const std::wstring w = Widen(path);
  if (w.empty()) return std::wstring();
  if (StartsWith(w, L"\\\\?\\")) return w;
  std::wstring full(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetFullPathNameW(w.c_str(), static_cast<DWORD>(full.size()), &full[0], nullptr);
    if (n == 0) return std::wstring();
    if (n < full.size()) {
      full.resize(n);
      break;
    }
    full.resize(n);  // n counts the terminator when the buffer was too small
  }
  if (StartsWith(full, L"\\\\.\\")) return full;
  if (StartsWith(full, L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
  if (full.size() >= 3 && full[1] == L':' && full[2] == L'\\') return L"\\\\?\\" + full;
  return full;
}

// A path from the system as the program shows it: code page 1252, without the \\?\ prefix.
std::string CallerPath(const std::wstring& path, bool* lossy = nullptr) {
  if (StartsWith(path, L"\\\\?\\UNC\\")) return Narrow(L"\\\\" + path.substr(8), lossy);
  if (StartsWith(path, L"\\\\?\\")) return Narrow(path.substr(4), lossy);
  return Narrow(path, lossy);
}

DWORD Attributes(const std::string& path) {
  const std::wstring p = SystemPath(path);
  return p.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(p.c_str());
}

// How Open reaches the file for one fopen mode.
struct OpenMode {
  DWORD access = 0;
  DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;  // as the runtime's fopen shares
  DWORD disposition = 0;
  int flags = 0;           // _open_osfhandle flags
  std::string streamMode;  // the mode for _fdopen
};

// The fopen modes ("r", "w", "a", each with "+", "b" or "t") and "wbx"/"wx", which creates a
// new file only, shared for reading. False for anything else.
bool ParseMode(const std::string& mode, OpenMode& m) {
  if (mode.empty()) return false;
  bool plus = false, binary = false, exclusive = false;
  for (size_t i = 1; i < mode.size(); ++i) {
    switch (mode[i]) {
      case '+':
        plus = true;
        break;
      case 'b':
        binary = true;
        break;
      case 't':
        break;
      case 'x':
        exclusive = true;
        break;
      default:
        return false;
    }
  }
  if (exclusive && (mode[0] != 'w' || plus)) return false;
  const DWORD readWrite = GENERIC_READ | GENERIC_WRITE;
  switch (mode[0]) {
    case 'r':
      m.access = plus ? readWrite : GENERIC_READ;
      m.disposition = OPEN_EXISTING;
      m.flags = plus ? _O_RDWR : _O_RDONLY;
      break;
    case 'w':
      m.access = plus ? readWrite : GENERIC_WRITE;
      m.disposition = exclusive ? CREATE_NEW : CREATE_ALWAYS;
      if (exclusive) m.share = FILE_SHARE_READ;
      m.flags = plus ? _O_RDWR : _O_WRONLY;
      break;
    case 'a':
      m.access = plus ? readWrite : GENERIC_WRITE;
      m.disposition = OPEN_ALWAYS;
      m.flags = (plus ? _O_RDWR : _O_WRONLY) | _O_APPEND;
      break;
    default:
      return false;
  }
  m.flags |= binary ? _O_BINARY : _O_TEXT;
  m.streamMode = std::string(1, mode[0]) + (plus ? "+" : "") + (binary ? "b" : "");
  return true;
}

class Win32Os : public Os {
 public:
  char Separator() const override { return '\\'; }

  bool Exists(const std::string& path) override {
    return Attributes(path) != INVALID_FILE_ATTRIBUTES;
  }

  bool IsDirectory(const std::string& path) override {
    const DWORD a = Attributes(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
  }

  bool ListDirectory(const std::string& dir, const std::string& mask,
                     std::vector<DirEntry>& out) override {
    std::string pattern = dir;
    if (pattern.empty() || (pattern.back() != '\\' && pattern.back() != '/')) pattern += '\\';
    pattern += mask;
    // Only the folder part is made a full path: GetFullPathNameW would drop the trailing dot of
    // a mask such as "*." (names without an extension).
    const size_t cut = pattern.find_last_of("\\/") + 1;
    std::wstring folder = SystemPath(pattern.substr(0, cut));
    if (folder.empty()) return false;
    if (folder.back() != L'\\') folder += L'\\';
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((folder + Widen(pattern.substr(cut))).c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) {
      // No match in a directory that exists is an empty listing, not a failure.
      return GetLastError() == ERROR_FILE_NOT_FOUND;
    }
    do {
      const std::wstring name = fd.cFileName;
      if (name == L"." || name == L"..") continue;
      DirEntry e;
      e.name = Narrow(name, &e.foreignName);
      e.attributes = fd.dwFileAttributes;
      e.size = (static_cast<uint64_t>(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow;
      out.push_back(e);
    } while (FindNextFileW(h, &fd));
    FindClose(h);
    return true;
  }

  std::FILE* Open(const std::string& path, const char* mode) override {
    // The runtime's fopen takes no extended path and knows no exclusive creation: the system
    // opens the file and the stream is made on its handle.
    OpenMode m;
    const std::wstring p = SystemPath(path);
    if (p.empty() || mode == nullptr || !ParseMode(mode, m)) return nullptr;
    HANDLE h = CreateFileW(p.c_str(), m.access, m.share, nullptr, m.disposition,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), m.flags);
    if (fd < 0) {
      CloseHandle(h);
      return nullptr;
    }
    std::FILE* f = _fdopen(fd, m.streamMode.c_str());
    if (f == nullptr) _close(fd);
    return f;
  }

  bool Remove(const std::string& path) override {
    const std::wstring p = SystemPath(path);
    return !p.empty() && DeleteFileW(p.c_str()) != 0;
  }

  bool Replace(const std::string& from, const std::string& to) override {
    const std::wstring source = SystemPath(from), target = SystemPath(to);
    if (source.empty() || target.empty()) return false;
    // Windows refuses to replace a read-only file; Wine's MoveFileEx does not, so the rule is
    // kept here and the builder behaves the same on both.
    const DWORD a = GetFileAttributesW(target.c_str());
    if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_READONLY) != 0) {
      SetLastError(ERROR_ACCESS_DENIED);
      return false;
    }
    return MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
  }

  bool Identity(const std::string& path, FileId& out) override {
    const std::wstring p = SystemPath(path);
    if (p.empty()) return false;
    // Attribute access only, shared every way: a file open elsewhere, even for writing, and a
    // directory (backup semantics) can be asked too.
    HANDLE h = CreateFileW(p.c_str(), FILE_READ_ATTRIBUTES,
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
    const std::wstring p = SystemPath(path);
    return !p.empty() && CreateDirectoryW(p.c_str(), nullptr) != 0;
  }

  bool RemoveDirectory(const std::string& path) override {
    const std::wstring p = SystemPath(path);
    return !p.empty() && ::RemoveDirectoryW(p.c_str()) != 0;
  }

  std::string TempDirectory() override {
    wchar_t buf[MAX_PATH + 1];
    const DWORD n = GetTempPathW(MAX_PATH + 1, buf);
    if (n == 0 || n > MAX_PATH) return std::string();
    // A folder the code page cannot name is no folder the program can use.
    bool lossy = false;
    const std::string dir = CallerPath(std::wstring(buf, n), &lossy);
    return lossy ? std::string() : dir;
  }

  // GetTempFileName's own way (the first three characters of prefix, a hexadecimal number from
  // the clock, counted up past every name in use, ".tmp"), done here because GetTempFileName takes
  // no folder longer than MAX_PATH - 14. path is dir as given with the name added.
  bool CreateUniqueTempFile(const std::string& dir, const std::string& prefix,
                            std::string& path) override {
    std::string folder = dir;
    if (folder.empty() || (folder.back() != '\\' && folder.back() != '/')) folder += '\\';
    folder += prefix.substr(0, 3);
    const unsigned clock = GetTickCount() & 0xFFFF;
    const unsigned first = clock != 0 ? clock : 1;
    unsigned number = first;
    do {
      char hex[8];
      std::snprintf(hex, sizeof hex, "%X", number);
      const std::string candidate = folder + hex + ".tmp";
      const std::wstring p = SystemPath(candidate);
      if (p.empty()) return false;
      HANDLE h = CreateFileW(p.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
      if (h != INVALID_HANDLE_VALUE) {
        CloseHandle(h);
        path = candidate;
        return true;
      }
      const DWORD error = GetLastError();
      if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS &&
          error != ERROR_SHARING_VIOLATION) {
        return false;
      }
      number = number == 0xFFFF ? 1 : number + 1;
    } while (number != first);
    SetLastError(ERROR_FILE_EXISTS);
    return false;
  }

  DriveKind DriveType(const std::string& root) override {
    switch (GetDriveTypeW(Widen(root).c_str())) {
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
    std::wstring buf(MAX_PATH, L'\0');
    for (;;) {
      const DWORD n = GetModuleFileNameW(nullptr, &buf[0], static_cast<DWORD>(buf.size()));
      if (n == 0) return std::string();
      if (n < buf.size()) {
        buf.resize(n);
        return CallerPath(buf);
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
    wchar_t buf[MAX_PATH];
    const UINT n = GetSystemDirectoryW(buf, MAX_PATH);
    return (n == 0 || n >= MAX_PATH) ? std::string() : CallerPath(std::wstring(buf, n));
  }

  std::string WindowsDirectory() override {
    wchar_t buf[MAX_PATH];
    const UINT n = GetWindowsDirectoryW(buf, MAX_PATH);
    return (n == 0 || n >= MAX_PATH) ? std::string() : CallerPath(std::wstring(buf, n));
  }

  std::string UserProfileString(const std::string& section, const std::string& key,
                                const std::string& def) override {
    char buf[512];
    const DWORD n = GetProfileStringA(section.c_str(), key.c_str(), def.c_str(), buf, sizeof buf);
    return std::string(buf, n < sizeof buf ? n : sizeof buf - 1);
  }

  // file must be a full path: given a bare name, the profile functions look in the Windows
  // directory, not in the current one. Every caller builds it from the program's directory.
  // The file is named in UTF-16 from its code page 1252 path: handed to the ANSI functions, those
  // bytes would name another file wherever the ANSI code page is not 1252.
  std::string ProfileString(const std::string& section, const std::string& key,
                            const std::string& def, const std::string& file) override {
    constexpr size_t kBuffer = 512;
    wchar_t buf[kBuffer];
    const DWORD n =
        GetPrivateProfileStringW(AnsiWiden(section).c_str(), AnsiWiden(key).c_str(),
                                 AnsiWiden(def).c_str(), buf, kBuffer, Widen(file).c_str());
    const std::string value = AnsiNarrow(buf, n < kBuffer ? n : kBuffer - 1);
    return value.substr(0, kBuffer - 1);  // as a 512-byte buffer holds it
  }

  int ProfileInt(const std::string& section, const std::string& key, int def,
                 const std::string& file) override {
    return static_cast<int>(GetPrivateProfileIntW(
        AnsiWiden(section).c_str(), AnsiWiden(key).c_str(), def, Widen(file).c_str()));
  }

  std::vector<std::string> ProfileSectionNames(const std::string& file) override {
    // The names come NUL-separated; a result of size - 2 means the buffer was too small.
    const std::wstring path = Widen(file);
    std::vector<wchar_t> buf(4096);
    DWORD n;
    for (;;) {
      n = GetPrivateProfileSectionNamesW(buf.data(), static_cast<DWORD>(buf.size()), path.c_str());
      if (n + 2 < buf.size() || buf.size() >= (1u << 26)) break;
      buf.resize(buf.size() * 4);
    }
    std::vector<std::string> names;
    for (size_t i = 0; i < n && buf[i];) {
      const size_t len = wcslen(&buf[i]);
      names.push_back(AnsiNarrow(&buf[i], len));
      i += len + 1;
    }
    return names;
  }

  bool LastWriteDosTime(const std::string& path, DosTime& out) override {
    WIN32_FILE_ATTRIBUTE_DATA data;
    const std::wstring p = SystemPath(path);
    if (p.empty() || !GetFileAttributesExW(p.c_str(), GetFileExInfoStandard, &data)) {
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

  bool LastWriteSeconds(const std::string& path, int64_t& seconds) override {
    WIN32_FILE_ATTRIBUTE_DATA data;
    const std::wstring p = SystemPath(path);
    if (p.empty() || !GetFileAttributesExW(p.c_str(), GetFileExInfoStandard, &data)) {
      return false;
    }
    // FILETIME counts 100-nanosecond steps from 1601; 11644473600 seconds lie before 1970.
    const uint64_t ticks = (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                           data.ftLastWriteTime.dwLowDateTime;
    seconds = static_cast<int64_t>(ticks / 10000000) - 11644473600LL;
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
    const std::wstring p = SystemPath(path);
    if (p.empty()) return false;
    HANDLE h = CreateFileW(p.c_str(), FILE_WRITE_ATTRIBUTES,
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

bool Truncate64(std::FILE* f, int64_t size) {
  return std::fflush(f) == 0 && _chsize_s(_fileno(f), size) == 0 && Seek64(f, size, SEEK_SET);
}

}  // namespace platform
