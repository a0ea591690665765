// A tiny program for the extractor tests to start as its command. Windows GUI subsystem, no
// window. It appends one line to a file (relative to its working directory):
//   stub_marker.exe FILE [--sleep MS] [--child FILE2 MS] [ARGS...]
// The line holds the working directory, the program path it was started with and the whole
// command line, so tests can check where and how it was started. --sleep waits before writing;
// --child starts a second copy that sleeps MS and then writes FILE2, and does not wait for it
// (the clean-up must wait for that grandchild too).
#include <windows.h>

#include <string>
#include <vector>

namespace {

std::vector<std::wstring> Args() {
  int n = 0;
  LPWSTR* v = CommandLineToArgvW(GetCommandLineW(), &n);
  std::vector<std::wstring> out;
  for (int i = 0; i < n; ++i) out.push_back(v[i]);
  LocalFree(v);
  return out;
}

std::string Utf8(const std::wstring& w) {
  int n = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string s(n > 0 ? n - 1 : 0, '\0');
  if (n > 1) WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, &s[0], n, nullptr, nullptr);
  return s;
}

std::wstring ModulePath() {
  wchar_t buf[32768];
  DWORD n = GetModuleFileNameW(nullptr, buf, 32768);
  return std::wstring(buf, n);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  std::vector<std::wstring> a = Args();
  if (a.size() < 2) return 9;
  const std::wstring file = a[1];
  for (size_t i = 2; i < a.size(); ++i) {
    if (a[i] == L"--sleep" && i + 1 < a.size()) {
      Sleep(static_cast<DWORD>(_wtoi(a[++i].c_str())));
    } else if (a[i] == L"--child" && i + 2 < a.size()) {
      std::wstring self = ModulePath();
      std::wstring line = L"\"" + self + L"\" \"" + a[i + 1] + L"\" --sleep " + a[i + 2];
      i += 2;
      STARTUPINFOW si = {};
      si.cb = sizeof(si);
      PROCESS_INFORMATION pi = {};
      if (!CreateProcessW(self.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                          &pi))
        return 8;
      CloseHandle(pi.hThread);
      CloseHandle(pi.hProcess);
    }
  }
  wchar_t cwd[32768];
  DWORD n = GetCurrentDirectoryW(32768, cwd);
  std::string line = "cwd=" + Utf8(std::wstring(cwd, n)) + "|program=" + Utf8(a[0]) +
                     "|line=" + Utf8(GetCommandLineW()) + "\r\n";
  HANDLE h = CreateFileW(file.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return 7;
  DWORD written = 0;
  WriteFile(h, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  CloseHandle(h);
  return 0;
}
