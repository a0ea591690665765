// The window driver's tools for the extractor's black-box tests: starting an extractor from the
// cases folder, finding its windows, reading their texts and clicking their buttons.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "stub/stub_ids.h"

namespace stubtest {


inline constexpr DWORD kTimeoutMs = 60000;

inline std::wstring CasesDir() {
  wchar_t buf[32768];
  DWORD n = GetEnvironmentVariableW(L"TAMBRIX_STUB_CASES", buf, 32768);
  return std::wstring(buf, n);
}

inline std::wstring Join(const std::wstring& a, const std::wstring& b) { return a + L"\\" + b; }

inline bool Exists(const std::wstring& p) {
  return GetFileAttributesW(p.c_str()) != INVALID_FILE_ATTRIBUTES;
}

inline std::string ReadAll(const std::wstring& p) {
  HANDLE h = CreateFileW(p.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return std::string();
  std::string s(GetFileSize(h, nullptr), '\0');
  DWORD got = 0;
  if (!s.empty()) ReadFile(h, &s[0], static_cast<DWORD>(s.size()), &got, nullptr);
  CloseHandle(h);
  s.resize(got);
  return s;
}

inline std::wstring Text(HWND h) {
  wchar_t buf[8192];
  DWORD_PTR n = 0;
  if (!SendMessageTimeoutW(h, WM_GETTEXT, 8192, reinterpret_cast<LPARAM>(buf), SMTO_ABORTIFHUNG,
                           5000, &n))
    return std::wstring();
  return std::wstring(buf, static_cast<size_t>(n));
}

inline std::wstring ClassOf(HWND h) {
  wchar_t buf[256];
  int n = GetClassNameW(h, buf, 256);
  return std::wstring(buf, n > 0 ? n : 0);
}

// Polls COND until it holds or the time-out passes; whether it held.
template <typename Cond>
bool WaitUntil(Cond cond, DWORD ms = kTimeoutMs) {
  const DWORD start = GetTickCount();
  while (!cond()) {
    if (GetTickCount() - start >= ms) return false;
    Sleep(20);
  }
  return true;
}

inline void Click(HWND dialog, int id) {
  PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

// One started extractor; killed if a test leaves it running.
class Extractor {
 public:
  explicit Extractor(const std::wstring& exe, const std::wstring& args = L"") {
    std::wstring line = L"\"" + Join(CasesDir(), exe) + L"\"" + (args.empty() ? L"" : L" " + args);
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    started_ = CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr,
                              CasesDir().c_str(), &si, &pi_) != 0;
  }
  ~Extractor() {
    if (started_ && WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT)
      TerminateProcess(pi_.hProcess, 99);
    if (started_) {
      CloseHandle(pi_.hProcess);
      CloseHandle(pi_.hThread);
    }
  }
  bool started() const { return started_; }
  DWORD pid() const { return pi_.dwProcessId; }
  // The exit code, or -1 when it did not end in time.
  int Wait(DWORD ms = kTimeoutMs) {
    if (WaitForSingleObject(pi_.hProcess, ms) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(pi_.hProcess, &code);
    return static_cast<int>(code);
  }
  // A visible top-level dialog of the process: the main window (it has the target field) or a
  // message box (it has not). nullptr after the time-out or when the process ended.
  HWND WaitForDialog(bool main, DWORD ms = kTimeoutMs) {
    DWORD start = GetTickCount();
    while (GetTickCount() - start < ms) {
      Search s{pi_.dwProcessId, main, nullptr};
      EnumWindows(Visit, reinterpret_cast<LPARAM>(&s));
      if (s.found) return s.found;
      if (WaitForSingleObject(pi_.hProcess, 50) == WAIT_OBJECT_0) return nullptr;
    }
    return nullptr;
  }

 private:
  struct Search {
    DWORD pid;
    bool main;
    HWND found;
  };
  static BOOL CALLBACK Visit(HWND h, LPARAM lp) {
    auto* s = reinterpret_cast<Search*>(lp);
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    if (pid != s->pid || !IsWindowVisible(h) || ClassOf(h) != L"#32770") return TRUE;
    bool isMain = GetDlgItem(h, IDC_STUB_TARGET) != nullptr;
    if (isMain != s->main) return TRUE;
    s->found = h;
    return FALSE;
  }
  PROCESS_INFORMATION pi_ = {};
  bool started_ = false;
};

// The visible top-level windows of a process.
inline std::vector<HWND> VisibleWindowsOf(DWORD pid) {
  struct Found {
    DWORD pid;
    std::vector<HWND> windows;
  } found{pid, {}};
  EnumWindows(
      [](HWND h, LPARAM lp) -> BOOL {
        auto* f = reinterpret_cast<Found*>(lp);
        DWORD owner = 0;
        GetWindowThreadProcessId(h, &owner);
        if (owner == f->pid && IsWindowVisible(h)) f->windows.push_back(h);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found.windows;
}

// The message text of a message box: its longest static text.
inline std::wstring BoxText(HWND box) {
  std::wstring best;
  for (HWND c = GetWindow(box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
    if (ClassOf(c) != L"Static") continue;
    std::wstring t = Text(c);
    if (t.size() > best.size()) best = t;
  }
  return best;
}

}  // namespace stubtest
