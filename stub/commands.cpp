#include "stub/commands.h"

#include <shellapi.h>

#include "stub/stub_logic.h"
#include "stub/unpacker.h"

#ifndef ERROR_ELEVATION_REQUIRED
#define ERROR_ELEVATION_REQUIRED 740
#endif

namespace {

bool IsAbsolute(const std::wstring& p) {
  return (p.size() >= 3 && p[1] == L':' && p[2] == L'\\') ||
         (p.size() >= 2 && p[0] == L'\\' && p[1] == L'\\');
}

bool IsFile(const std::wstring& p) {
  DWORD a = GetFileAttributesW(p.c_str());
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool HasExtension(const std::wstring& p) {
  size_t dot = p.rfind(L'.');
  size_t slash = p.rfind(L'\\');
  return dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash);
}

// The file itself, or with ".exe" added when the name has no extension (as a command line does).
std::wstring ExistingProgram(const std::wstring& p) {
  if (IsFile(p)) return p;
  if (!HasExtension(p) && IsFile(p + L".exe")) return p + L".exe";
  return std::wstring();
}

std::wstring EnvironmentValue(const wchar_t* name) {
  DWORD n = GetEnvironmentVariableW(name, nullptr, 0);
  if (n == 0) return std::wstring();
  std::wstring v(n, L'\0');
  n = GetEnvironmentVariableW(name, &v[0], n);
  v.resize(n);
  return v;
}

}  // namespace

CommandRunner::CommandRunner(const std::wstring& target, bool trackAll, bool silent)
    : target_(target), silent_(silent) {
  if (trackAll) {
    job_ = CreateJobObjectW(nullptr, nullptr);
    jobHoldsAll_ = job_ != nullptr;
  }
}

CommandRunner::~CommandRunner() {
  for (HANDLE h : processes_) CloseHandle(h);
  if (job_) CloseHandle(job_);  // no kill-on-close limit: the programs keep running
}

std::wstring CommandRunner::FindInTarget(const std::wstring& program) const {
  if (program.empty() || IsAbsolute(program)) return std::wstring();
  std::wstring rel = program[0] == L'\\' ? program.substr(1) : program;
  if (rel.empty()) return std::wstring();
  std::wstring full = FullPath(JoinPath(target_, rel));
  return full.empty() ? std::wstring() : ExistingProgram(full);
}

std::wstring CommandRunner::FindElsewhere(const std::wstring& program) const {
  if (program.empty()) return std::wstring();
  if (IsAbsolute(program)) return ExistingProgram(program);
  if (program.find_first_of(L"\\/:") != std::wstring::npos) return std::wstring();
  // Only the folders of PATH: never the extractor's own folder or the current one.
  std::wstring path = EnvironmentValue(L"PATH");
  if (path.empty()) return std::wstring();
  const wchar_t* ext = HasExtension(program) ? nullptr : L".exe";
  DWORD n = SearchPathW(path.c_str(), program.c_str(), ext, 0, nullptr, nullptr);
  if (n == 0) return std::wstring();
  std::wstring out(n, L'\0');
  n = SearchPathW(path.c_str(), program.c_str(), ext, n, &out[0], nullptr);
  if (n == 0 || n >= out.size()) return std::wstring();
  out.resize(n);
  return IsAbsolute(out) && IsFile(out) ? out : std::wstring();
}

void CommandRunner::Track(HANDLE process, bool alreadyInJob) {
  if (!process) {
    ++untracked_;
    last_ = nullptr;
    return;
  }
  if (job_ && !alreadyInJob && !AssignProcessToJobObject(job_, process)) jobHoldsAll_ = false;
  processes_.push_back(process);
  last_ = process;
}

bool CommandRunner::Launch(const std::wstring& program, const std::wstring& args) {
  if (!IsDirectProgram(program)) return ShellOpen(program, args);
  std::wstring line = BuildCommandLine(program, args);
  STARTUPINFOW si = {};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi = {};
  // Suspended until it is in the job, so that no child it starts can escape the clean-up wait.
  if (!CreateProcessW(program.c_str(), &line[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                      target_.c_str(), &si, &pi)) {
    // A program that asks for elevation can only be started through the shell.
    if (GetLastError() == ERROR_ELEVATION_REQUIRED) return ShellOpen(program, args);
    return false;
  }
  if (job_ && !AssignProcessToJobObject(job_, pi.hProcess)) jobHoldsAll_ = false;
  ResumeThread(pi.hThread);
  CloseHandle(pi.hThread);
  Track(pi.hProcess, true);
  return true;
}

bool CommandRunner::ShellOpen(const std::wstring& file, const std::wstring& args) {
  SHELLEXECUTEINFOW sei = {};
  sei.cbSize = sizeof(sei);
  sei.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | (silent_ ? SEE_MASK_FLAG_NO_UI : 0);
  sei.lpFile = file.c_str();
  sei.lpParameters = args.empty() ? nullptr : args.c_str();
  sei.lpDirectory = target_.c_str();
  sei.nShow = SW_SHOWNORMAL;
  if (!ShellExecuteExW(&sei)) return false;
  Track(sei.hProcess, false);
  return true;
}

bool CommandRunner::Start(const std::wstring& command) {
  std::vector<CommandSplit> readings = CommandReadings(command);
  if (readings.empty()) return false;
  for (const CommandSplit& r : readings) {
    std::wstring found = FindInTarget(r.program);
    if (!found.empty()) return Launch(found, r.args);
  }
  for (const CommandSplit& r : readings) {
    std::wstring found = FindElsewhere(r.program);
    if (!found.empty()) return Launch(found, r.args);
  }
  // Not a file we can find (a URL, a registered application name): let the shell try.
  return ShellOpen(readings.front().program, readings.front().args);
}

void CommandRunner::WaitForLast() {
  if (last_) WaitForSingleObject(last_, INFINITE);
}

bool CommandRunner::WaitForAll() {
  for (HANDLE h : processes_) WaitForSingleObject(h, INFINITE);
  if (job_ && jobHoldsAll_ && !processes_.empty()) {
    for (;;) {
      JOBOBJECT_BASIC_ACCOUNTING_INFORMATION info = {};
      if (!QueryInformationJobObject(job_, JobObjectBasicAccountingInformation, &info, sizeof(info),
                                     nullptr) ||
          info.ActiveProcesses == 0)
        break;
      Sleep(200);
    }
  }
  return untracked_ == 0;
}
