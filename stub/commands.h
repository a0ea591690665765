// Starts the commands after unpacking, in the target folder, and waits for them as the settings
// ask: for one process before the next command, or, before the clean-up, until every process they
// started has ended (a job object holds the started program and its children).
//
// A command's program is looked up in the target first (a leading backslash also means the
// target; a name that leaves it once ".." is resolved is no file in it), then as an absolute
// path, then in the folders of PATH (never the extractor's own folder or the current one, by
// whatever spelling PATH names them), then under App Paths in HKCU and HKLM; it is started by the
// full path found, quoted. Programs (.exe, .com) are started directly; anything else found is
// opened through the shell in the target folder. A URL goes to the shell as written; any other name
// that was not found is not started at all. The shell is asked to show no message of its own: when
// a command cannot be started, the extractor's own German message is the only one.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "stub/stub_logic.h"

class CommandRunner {
 public:
  // target: the target folder in its ordinary form; trackAll: hold everything in a job.
  CommandRunner(const std::wstring& target, bool trackAll);
  ~CommandRunner();
  CommandRunner(const CommandRunner&) = delete;
  CommandRunner& operator=(const CommandRunner&) = delete;

  // Starts one command (its environment variables already expanded). False when it could not be
  // started.
  bool Start(const std::wstring& command);
  // Waits until the process of the last started command has ended (if the shell gave one).
  void WaitForLast();
  // Waits until every started process and all their children have ended. False when some
  // command left nothing to wait for (a document opened in a program that was already running).
  bool WaitForAll();

 private:
  std::wstring FindInTarget(const std::wstring& program) const;
  std::wstring FindElsewhere(const std::wstring& program) const;
  std::wstring FindRegistered(const std::wstring& program) const;
  bool Launch(const std::wstring& program, const std::wstring& args);
  bool ShellOpen(const std::wstring& file, const std::wstring& args);
  void Track(HANDLE process, bool alreadyInJob);

  std::wstring target_;
  ExcludedFolders excluded_;  // the folders the PATH walk leaves out
  HANDLE job_ = nullptr;
  bool jobHoldsAll_ = false;
  std::vector<HANDLE> processes_;
  size_t untracked_ = 0;
  HANDLE last_ = nullptr;
};
