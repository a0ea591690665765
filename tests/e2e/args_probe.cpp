// The command of the extractor's argument tests, and their launcher. Windows GUI subsystem, no
// window.
//
// As a command: writes its whole command line (GetCommandLineW, UTF-8, nothing added) to the file
// named after itself (args_probe.exe: args_probe.txt beside it), so that it needs no argument of
// its own, and ends with exit code 7 (9 when the file cannot be written).
//
// As a launcher, when TBX_PROBE_RUN is set: starts that exact command line (Wine would quote
// each Unix argument on its own), waits for it and ends with its exit code (9 when it cannot be
// started). The variable is removed first, so that the commands started below are probes again.
#include <windows.h>

#include <string>

namespace {

int Launch(std::wstring line) {
  SetEnvironmentVariableW(L"TBX_PROBE_RUN", nullptr);
  STARTUPINFOW si = {};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
    return 9;
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 9;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return static_cast<int>(code);
}

int Probe() {
  wchar_t self[32768];
  const DWORD n = GetModuleFileNameW(nullptr, self, 32768);
  std::wstring file(self, n);
  const size_t dot = file.rfind(L'.');
  file = file.substr(0, dot) + L".txt";
  const wchar_t* line = GetCommandLineW();
  const int size = WideCharToMultiByte(CP_UTF8, 0, line, -1, nullptr, 0, nullptr, nullptr);
  std::string text(size > 0 ? size - 1 : 0, '\0');
  if (size > 1) WideCharToMultiByte(CP_UTF8, 0, line, -1, &text[0], size, nullptr, nullptr);
  HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return 9;
  DWORD written = 0;
  const bool ok = WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
                  written == text.size();
  CloseHandle(h);
  return ok ? 7 : 9;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // A command line is at most 32,767 characters, so the variable that holds one fits.
  wchar_t line[32768];
  const DWORD n = GetEnvironmentVariableW(L"TBX_PROBE_RUN", line, 32768);
  return n == 0 || n >= 32768 ? Probe() : Launch(std::wstring(line, n));
}
