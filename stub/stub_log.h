// The log a run writes when started with /L=<file>: where it unpacked, each file, the result and
// any error in words. UTF-8 with CR LF line ends; appended to a file that is already there, so
// that a log is never lost to the next run. A log that cannot be written never stops the
// unpacking: after the first failure the log is simply closed.
#pragma once

#include <windows.h>

#include <string>

class RunLog {
 public:
  RunLog() = default;
  ~RunLog();
  RunLog(const RunLog&) = delete;
  RunLog& operator=(const RunLog&) = delete;

  // Opens (or creates) the file at path (environment variables expanded, relative to the
  // current folder) and writes the first line naming program, the running program's path.
  // False when it cannot be written, and when it is a link or program's own file.
  bool Open(const std::wstring& path, const std::wstring& program);
  bool active() const { return file_ != INVALID_HANDLE_VALUE; }
  // One line, stamped with the local time; nothing when the log is not open.
  void Line(const std::wstring& text);
  // Writes what is buffered (also done when the buffer fills and on destruction).
  void Flush();

 private:
  HANDLE file_ = INVALID_HANDLE_VALUE;
  std::string buffer_;
};
