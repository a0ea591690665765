// The window driver's tools for the extractor's black-box tests: starting an extractor from the
// cases folder, finding its windows, reading their texts, clicking their buttons and keeping
// screenshots of them.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "stub/stub_ids.h"
#include "tests/screen_capture.h"
#include "tests/window_look.h"

namespace stubtest {

inline constexpr DWORD kTimeoutMs = 60000;

inline std::wstring Env(const wchar_t* name) {
  wchar_t buf[32768];
  DWORD n = GetEnvironmentVariableW(name, buf, 32768);
  return std::wstring(buf, n < 32768 ? n : 0);
}

inline std::wstring CasesDir() { return Env(L"TAMBRIX_STUB_CASES"); }

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

using windowlook::ClassOf;
using windowlook::Text;

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

// Types target into the main window's target field.
inline void SetTarget(HWND main, const std::wstring& target) {
  SendMessageTimeoutW(GetDlgItem(main, IDC_STUB_TARGET), WM_SETTEXT, 0,
                      reinterpret_cast<LPARAM>(target.c_str()), SMTO_ABORTIFHUNG, 5000, nullptr);
}

// The switch that proposes target to an extractor: /D="target".
inline std::wstring TargetSwitch(const std::wstring& target) { return L"/D=\"" + target + L"\""; }

// Waits for x's main window, which shows target, clicks "Entpacken" and waits until the
// unpacking runs: the unpack button disabled and the progress bar shown. The extractor does the
// one after the other, so the state itself is waited for, not its first sign. The main window,
// or nullptr when it did not come or the unpacking did not start.
inline HWND StartUnpacking(Extractor& x, const std::wstring& target) {
  HWND main = x.WaitForDialog(true);
  if (!main) return nullptr;
  EXPECT_EQ(Text(GetDlgItem(main, IDC_STUB_TARGET)), target);
  Click(main, IDOK);
  HWND ok = GetDlgItem(main, IDOK), progress = GetDlgItem(main, IDC_STUB_PROGRESS);
  if (!WaitUntil([&] { return !IsWindowEnabled(ok) && IsWindowVisible(progress); })) return nullptr;
  return main;
}

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

// The message text of a message window.
inline std::wstring BoxText(HWND box) { return Text(GetDlgItem(box, IDC_BOX_TEXT)); }

// ---- screenshots ------------------------------------------------------------------------------

using screencap::Capture;
using screencap::CaptureScreen;

// Dark pixels (text) of a control on the screen, its border left out.
inline int DarkPixelsIn(HWND control) { return screencap::DarkPixelsIn(control, 2); }

// Whether every visible, enabled control of window that has a text shows it on the screen.
inline bool TextsPainted(HWND window) {
  if (!IsWindowVisible(window)) return false;
  for (HWND c = GetWindow(window, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
    if (!IsWindowVisible(c) || !IsWindowEnabled(c) || Text(c).empty()) continue;
    if (DarkPixelsIn(c) == 0) return false;
  }
  return true;
}

inline bool SaveBmp(const Capture& cap, const std::wstring& path) {
  const std::string bytes = screencap::BmpBytes(cap);
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  BOOL ok = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(h);
  return ok && written == bytes.size();
}

// Keeps a picture of window as NAME.bmp in the folder named by TAMBRIX_STUB_SHOTS (nothing when
// it is not set), taken once every text of the window shows on the screen. Whether the picture
// was taken (true when none is wanted).
inline bool KeepScreenshot(HWND window, const std::wstring& name) {
  const std::wstring dir = Env(L"TAMBRIX_STUB_SHOTS");
  if (dir.empty()) return true;
  if (!WaitUntil([&] { return TextsPainted(window); })) return false;
  RECT r;
  if (!GetWindowRect(window, &r)) return false;
  CreateDirectoryW(dir.c_str(), nullptr);
  return SaveBmp(CaptureScreen(r), Join(dir, name + L".bmp"));
}

}  // namespace stubtest
