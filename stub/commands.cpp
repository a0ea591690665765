#include "stub/commands.h"

#include <shellapi.h>

#include <algorithm>

#include "stub/stub_logic.h"
#include "stub/unpacker.h"

#ifndef ERROR_ELEVATION_REQUIRED
#define ERROR_ELEVATION_REQUIRED 740
#endif

namespace {

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

std::wstring CurrentFolder() {
  DWORD n = GetCurrentDirectoryW(0, nullptr);
  if (n == 0) return std::wstring();
  std::wstring v(n, L'\0');
  n = GetCurrentDirectoryW(n, &v[0]);
  if (n == 0 || n >= v.size()) return std::wstring();
  v.resize(n);
  return v;
}

std::wstring FolderOf(const std::wstring& path) {
  const size_t cut = path.rfind(L'\\');
  return cut == std::wstring::npos ? std::wstring() : path.substr(0, cut);
}

// The default value (REG_SZ or REG_EXPAND_SZ) of a key; empty when there is none.
std::wstring DefaultValue(HKEY root, const std::wstring& key) {
  HKEY h = nullptr;
  if (RegOpenKeyExW(root, key.c_str(), 0, KEY_QUERY_VALUE, &h) != ERROR_SUCCESS)
    return std::wstring();
  std::wstring out;
  DWORD type = 0, bytes = 0;
  if (RegQueryValueExW(h, nullptr, nullptr, &type, nullptr, &bytes) == ERROR_SUCCESS &&
      (type == REG_SZ || type == REG_EXPAND_SZ) && bytes >= sizeof(wchar_t)) {
    std::wstring v(bytes / sizeof(wchar_t) + 1, L'\0');
    DWORD got = static_cast<DWORD>(v.size() * sizeof(wchar_t));
    if (RegQueryValueExW(h, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(&v[0]), &got) ==
        ERROR_SUCCESS) {
      v.resize(std::min<size_t>(got / sizeof(wchar_t), v.size()));
      while (!v.empty() && v.back() == L'\0') v.pop_back();
      out = v;
    }
  }
  RegCloseKey(h);
  return out;
}

// Waits up to ms for h (nullptr: for the time alone) while handling this thread's messages.
void WaitHandlingMessages(HANDLE h, DWORD ms) {
  const DWORD handles = h ? 1 : 0;
  const DWORD begin = GetTickCount();
  for (;;) {
    DWORD left = INFINITE;
    if (ms != INFINITE) {
      const DWORD spent = GetTickCount() - begin;
      if (spent >= ms) return;
      left = ms - spent;
    }
    // Anything but a message (the handle, the time, a failure) ends the wait.
    if (MsgWaitForMultipleObjects(handles, h ? &h : nullptr, FALSE, left, QS_ALLINPUT) !=
        WAIT_OBJECT_0 + handles)
      return;
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&m);
      DispatchMessageW(&m);
    }
  }
}

}  // namespace

CommandRunner::CommandRunner(const std::wstring& target, bool trackAll)
    // Never the extractor's own folder (a download folder may hold anything) or the current one,
    // however PATH spells them; their identities are taken once, here.
    : target_(target), excluded_({FolderOf(ModulePath()), CurrentFolder()}) {
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
  // A name that leaves the target (..\x.exe) is left to the later rules, which never start
  // it from a relative path.
  const std::wstring full = TargetProgramPath(target_, program);
  return full.empty() ? std::wstring() : ExistingProgram(full);
}

std::wstring CommandRunner::FindElsewhere(const std::wstring& program) const {
  if (program.empty()) return std::wstring();
  if (IsAbsolutePath(program)) return ExistingProgram(program);
  if (program.find_first_of(L"\\/:") != std::wstring::npos) return std::wstring();
  // The folders of PATH, walked here rather than by SearchPathW or the shell, which would also
  // search the folders left out.
  for (const std::wstring& folder : SearchFolders(EnvironmentValue(L"PATH"), excluded_)) {
    std::wstring found = ExistingProgram(JoinPath(folder, program));
    if (!found.empty()) return found;
  }
  return FindRegistered(program);
}

std::wstring CommandRunner::FindRegistered(const std::wstring& program) const {
  const std::wstring key = AppPathsKey(program);
  if (key.empty()) return std::wstring();
  for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
    const std::wstring value = DefaultValue(root, key);
    if (value.empty()) continue;
    const std::wstring full = AppPathsProgram(value);
    if (!full.empty() && IsFile(full)) return full;
  }
  return std::wstring();
}

void CommandRunner::Track(HANDLE process, bool alreadyInJob) {
  if (!anyStarted_) first_ = process;
  anyStarted_ = true;
  if (!process) {
    ++untracked_;
    last_ = nullptr;
    return;
  }
  if (job_ && !alreadyInJob && !AssignProcessToJobObject(job_, process)) jobHoldsAll_ = false;
  processes_.push_back(process);
  last_ = process;
}

CommandRunner::Started CommandRunner::Launch(const std::wstring& program,
                                             const std::wstring& ownArgs,
                                             const std::wstring& passOn) {
  if (!passOn.empty() && IsBatchFile(program) && FirstBatchSpecial(passOn) != std::wstring::npos)
    return Started::BatchRefusesArguments;
  const std::wstring args = AppendArguments(ownArgs, passOn);
  if (!IsDirectProgram(program)) return ShellOpen(program, args) ? Started::Yes : Started::Failed;
  std::wstring line = BuildCommandLine(program, args);
  STARTUPINFOW si = {};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi = {};
  // Suspended until it is in the job, so that no child it starts can escape the clean-up wait.
  if (!CreateProcessW(program.c_str(), &line[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                      target_.c_str(), &si, &pi)) {
    // A program that asks for elevation can only be started through the shell.
    if (GetLastError() == ERROR_ELEVATION_REQUIRED && ShellOpen(program, args)) return Started::Yes;
    return Started::Failed;
  }
  if (job_ && !AssignProcessToJobObject(job_, pi.hProcess)) jobHoldsAll_ = false;
  ResumeThread(pi.hThread);
  CloseHandle(pi.hThread);
  Track(pi.hProcess, true);
  return Started::Yes;
}

bool CommandRunner::ShellOpen(const std::wstring& file, const std::wstring& args) {
  SHELLEXECUTEINFOW sei = {};
  sei.cbSize = sizeof(sei);
  // The shell shows no message of its own (in English, on top of ours): a file it cannot open
  // is reported by the extractor alone.
  sei.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
  sei.lpFile = file.c_str();
  sei.lpParameters = args.empty() ? nullptr : args.c_str();
  sei.lpDirectory = target_.c_str();
  sei.nShow = SW_SHOWNORMAL;
  if (!ShellExecuteExW(&sei)) return false;
  Track(sei.hProcess, false);
  return true;
}

CommandRunner::Started CommandRunner::Start(const std::wstring& command,
                                            const std::wstring& passOn) {
  // The readings come from the command alone: what the caller hands on never changes which
  // program is found.
  std::vector<CommandSplit> readings = CommandReadings(command);
  if (readings.empty()) return Started::Failed;
  for (const CommandSplit& r : readings) {
    std::wstring found = FindInTarget(r.program);
    if (!found.empty()) return Launch(found, r.args, passOn);
  }
  for (const CommandSplit& r : readings) {
    std::wstring found = FindElsewhere(r.program);
    if (!found.empty()) return Launch(found, r.args, passOn);
  }
  // Only a URL goes to the shell as written; a bare name never does, or the shell would search
  // the extractor's folder and the current folder for it.
  const CommandSplit& url = readings.front();
  if (IsUrl(url.program) && ShellOpen(url.program, AppendArguments(url.args, passOn)))
    return Started::Yes;
  return Started::Failed;
}

void CommandRunner::WaitForLast() {
  if (last_) WaitHandlingMessages(last_, INFINITE);
}

bool CommandRunner::FirstExitCode(DWORD* code) const {
  return first_ && GetExitCodeProcess(first_, code);
}

bool CommandRunner::WaitForAll() {
  for (HANDLE h : processes_) WaitHandlingMessages(h, INFINITE);
  if (job_ && jobHoldsAll_ && !processes_.empty()) {
    for (;;) {
      JOBOBJECT_BASIC_ACCOUNTING_INFORMATION info = {};
      if (!QueryInformationJobObject(job_, JobObjectBasicAccountingInformation, &info, sizeof(info),
                                     nullptr) ||
          info.ActiveProcesses == 0)
        break;
      WaitHandlingMessages(nullptr, 200);
    }
  }
  return untracked_ == 0;
}
