// Starts the commands after unpacking, in the target folder, and waits for them as the settings
// and /W ask: for one process before the next command, or, before the clean-up or the end of a /W
// run, until every process they started has ended (a job object holds the started program and its
// children).
//
// A command's program is looked up in the target first (a leading backslash also means the
// target; a name that leaves it once ".." is resolved is no file in it), then as an absolute
// path, then in the folders of PATH (never the extractor's own folder or the current one, by
// whatever spelling PATH names them), then under App Paths in HKCU and HKLM; it is started by the
// full path found, quoted. Programs (.exe, .com) are started directly; anything else found is
// opened through the shell in the target folder. A URL goes to the shell as written; any other name
// that was not found is not started at all. The shell is asked to show no message of its own: when
// a command cannot be started, the extractor's own German message is the only one.
//
// Arguments handed on by the caller go behind the command's own ones as written: never expanded,
// never quoted again. A batch file is refused them when cmd.exe would act on them (a variable,
// a second command after '&'), since cmd.exe reads the line it is given as a command of its own.
//
// While it waits, the runner handles this thread's messages: the thread is a COM apartment and
// may own hidden windows (COM's, the shell's), and a program that sends a message to every
// window, as installers do after changing the environment, would otherwise wait for the
// extractor while the extractor waits for it.
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

  enum class Started { Yes, Failed, BatchRefusesArguments };
  // Starts one command (its environment variables already expanded) with passOn behind its own
  // arguments. Failed: it could not be started; BatchRefusesArguments: its program is a batch file
  // and passOn holds a character cmd.exe would act on (FirstBatchSpecial), so nothing was started.
  Started Start(const std::wstring& command, const std::wstring& passOn = std::wstring());
  // Waits until the process of the last started command has ended (if the shell gave one).
  void WaitForLast();
  // Waits until every started process and all their children have ended. False when some
  // command left nothing to wait for (a document opened in a program that was already running).
  bool WaitForAll();
  // The exit code of the first started command, once it has ended. False when it left no process
  // to ask (see WaitForAll) or nothing was started.
  bool FirstExitCode(DWORD* code) const;

 private:
  std::wstring FindInTarget(const std::wstring& program) const;
  std::wstring FindElsewhere(const std::wstring& program) const;
  std::wstring FindRegistered(const std::wstring& program) const;
  Started Launch(const std::wstring& program, const std::wstring& args, const std::wstring& passOn);
  bool ShellOpen(const std::wstring& file, const std::wstring& args);
  void Track(HANDLE process, bool alreadyInJob);

  std::wstring target_;
  ExcludedFolders excluded_;  // the folders the PATH walk leaves out
  HANDLE job_ = nullptr;
  bool jobHoldsAll_ = false;
  std::vector<HANDLE> processes_;
  size_t untracked_ = 0;
  HANDLE last_ = nullptr;
  bool anyStarted_ = false;
  HANDLE first_ = nullptr;  // the first started command's process, when it left one
};
