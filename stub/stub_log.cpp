#include "stub/stub_log.h"

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

}  // namespace

RunLog::~RunLog() {
  Flush();
  if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
}

bool RunLog::Open(const std::wstring& path, const std::wstring& program) {
  const std::wstring full = FullPath(ExpandVariables(path));
  const std::wstring extended = ExtendedPath(full);
  if (extended.empty()) return false;
  file_ = CreateFileW(extended.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                      FILE_ATTRIBUTE_NORMAL, nullptr);
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
