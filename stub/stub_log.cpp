#include "stub/stub_log.h"

#include "stub/folder_ops.h"
#include "stub/stub_logic.h"

namespace {

constexpr size_t kFlushAt = 32 * 1024;

std::string Utf8(const std::wstring& w) {
  if (w.empty()) return std::string();
  int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0,
                              nullptr, nullptr);
  if (n <= 0) return std::string();
  std::string s(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), &s[0], n, nullptr,
                      nullptr);
  return s;
}

void Two(std::string& out, unsigned v) {
  out += static_cast<char>('0' + v / 10 % 10);
  out += static_cast<char>('0' + v % 10);
}

bool IsMissing(DWORD e) { return e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND; }

// True when the open file is the running program's own file, by whatever name it was reached.
bool IsProgram(HANDLE file, const std::wstring& program) {
  const std::wstring extended = ExtendedPath(program);
  HANDLE self = CreateFileW((extended.empty() ? program : extended).c_str(), FILE_READ_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (self == INVALID_HANDLE_VALUE) return false;
  const bool same = folder_ops::SameFile(file, self);
  CloseHandle(self);
  return same;
}

// The log at path (in \\?\ form): the file there, to append to, or a new one. A link at the
// name is refused (appending would write where it leads; a new file would be made where a
// dangling one leads), and so is the program's own file: appending to the archive damages it.
HANDLE OpenLogFile(const std::wstring& path, const std::wstring& program) {
  const size_t cut = path.rfind(L'\\');
  if (cut == std::wstring::npos) return INVALID_HANDLE_VALUE;
  const std::wstring name = path.substr(cut + 1);
  std::wstring folderPath = path.substr(0, cut);
  HANDLE folder;
  // A drive's or share's root is opened by its name with a backslash.
  if (folder_ops::OpenFolderByPath(folderPath, false, &folder) &&
      folder_ops::OpenFolderByPath(folderPath + L'\\', false, &folder))
    return INVALID_HANDLE_VALUE;
  constexpr ACCESS_MASK kAccess = FILE_APPEND_DATA | FILE_READ_ATTRIBUTES;
  HANDLE file;
  DWORD e = folder_ops::Open(folder, name, kAccess, FILE_OPEN, folder_ops::Kind::File, &file);
  if (IsMissing(e)) {
    e = folder_ops::Open(folder, name, kAccess, FILE_CREATE, folder_ops::Kind::File, &file);
  } else if (!e && (folder_ops::IsLink(file, folder_ops::NameOf(folder), name) || IsProgram(file, program))) {
    CloseHandle(file);
    e = ERROR_ACCESS_DENIED;
  }
  CloseHandle(folder);
  return e ? INVALID_HANDLE_VALUE : file;
}

}  // namespace

RunLog::~RunLog() {
  Flush();
  if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
}

bool RunLog::Open(const std::wstring& path, const std::wstring& program) {
  const std::wstring full = FullPath(ExpandVariables(path));
  const std::wstring extended = ExtendedPath(full);
  if (extended.empty()) return false;
  file_ = OpenLogFile(extended, program);
  if (file_ == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size = {};
  if (GetFileSizeEx(file_, &size) && size.QuadPart == 0) buffer_ = "\xEF\xBB\xBF";
  Line(L"Entpackprogramm " + program);
  Flush();
  return active();
}

void RunLog::Line(const std::wstring& text) {
  if (file_ == INVALID_HANDLE_VALUE) return;
  SYSTEMTIME t;
  GetLocalTime(&t);
  std::string& b = buffer_;
  b += std::to_string(t.wYear);
  b += '-';
  Two(b, t.wMonth);
  b += '-';
  Two(b, t.wDay);
  b += ' ';
  Two(b, t.wHour);
  b += ':';
  Two(b, t.wMinute);
  b += ':';
  Two(b, t.wSecond);
  b += ' ';
  // A message may span lines; in the log each further line is indented under the first.
  std::string line = Utf8(text);
  for (size_t at = 0; (at = line.find("\r\n", at)) != std::string::npos; at += 2)
    line.replace(at, 2, "\r\n    ");
  b += line;
  b += "\r\n";
  if (b.size() >= kFlushAt) Flush();
}

void RunLog::Flush() {
  if (file_ == INVALID_HANDLE_VALUE || buffer_.empty()) return;
  DWORD written = 0;
  const bool ok = WriteFile(file_, buffer_.data(), static_cast<DWORD>(buffer_.size()), &written,
                            nullptr) &&
                  written == buffer_.size();
  buffer_.clear();
  if (!ok) {
    CloseHandle(file_);
    file_ = INVALID_HANDLE_VALUE;
  }
}
