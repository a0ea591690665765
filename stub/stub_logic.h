// The extractor's decisions that need no window: the command line, the names to create below the
// target, target paths, the splitting of a command and where its program may come from. Kept apart
// from the program so that the tests can call them directly.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/archive_reader.h"
#include "stub/command_line.h"
#include "stub/stub_text.h"

// What the command line asked for.
struct StubOptions {
  bool silent = false;      // /S: no window at all
  bool noCommands = false;  // /N: unpack only
  bool test = false;        // /T: decompress and check, write nothing
  bool help = false;        // /? or /H
  bool hasTarget = false;   // /D=<dir> given
  std::wstring target;
  bool keepExisting = false;  // /O=skip: files already in the target stay as they are
  std::wstring logPath;       // /L=<file>: where to write the log; empty for none
  unsigned threads = 0;       // /J=<n>: threads that unpack (1 to 8); 0: one per processor
  std::wstring badSwitch;     // a switch whose value is not understood (nothing is unpacked)
  bool wait = false;          // /W: wait for the commands, end with the first one's exit code
  std::wstring passOn;        // after " -- ": for the first command, as written
};

// Switches are case-insensitive; unknown arguments are ignored. /O takes "skip" or "replace"
// (the default); any other value is a bad switch, since guessing could replace files that were
// meant to stay. /J takes a number of threads from 1 to 8; anything else is a bad switch.
// Only what stands before the separator " -- " is read (CutAtSeparator); the rest is
// passOn, never a switch.
StubOptions ParseOptions(const wchar_t* commandLine);

// The path an entry gets below the target (backslashes, no leading one), from the shared unpack
// plan: the stored path, or with flat unpacking its last element. Empty when the stored name is
// not safe to create.
std::wstring RelativePath(const std::string& stored, bool keepFolders);

// Refuses the whole archive (exit 3) when the shared unpack plan finds a name that cannot be
// created, two entries that would land on the same file, or a file where another entry needs a
// folder; reports the first such entry.
Outcome PlanEntries(const std::vector<ArchiveEntry>& entries, bool keepFolders);

// The absolute form of a path (GetFullPathNameW), without a trailing backslash except at a root.
// Empty on failure.
std::wstring FullPath(const std::wstring& path);
// The \\?\ form of an absolute path so that long paths work; UNC becomes \\?\UNC\server\share.
std::wstring ExtendedPath(const std::wstring& full);
// The path without a \\?\ prefix, for messages and for programs that do not expect one.
std::wstring DisplayPath(const std::wstring& path);
// Environment variables expanded, surrounding blanks removed.
std::wstring ExpandVariables(const std::wstring& text);

// One way to read a command: the program as written and the rest of the line.
struct CommandSplit {
  std::wstring program;
  std::wstring args;
};
// The readings of a command, most likely first: a quoted program name, or, for an unquoted
// command, every prefix that ends before a blank, shortest first (as CreateProcess reads it).
std::vector<CommandSplit> CommandReadings(const std::wstring& command);
// True when the file name ends in .exe or .com (started directly, not through the shell).
bool IsDirectProgram(const std::wstring& path);
// True when the file name ends in .bat or .cmd (run by cmd.exe, which reads its arguments).
bool IsBatchFile(const std::wstring& path);
// The command line for CreateProcessW: the program quoted, then the arguments unchanged.
std::wstring BuildCommandLine(const std::wstring& program, const std::wstring& args);

// True for a drive path with its root (C:\x) or a UNC path (\\server\share); C:x and \x are
// relative to something the caller does not control.
bool IsAbsolutePath(const std::wstring& path);
// The full path a command's program names in the target: the target joined with the name (a
// leading backslash also means the target), "." and ".." resolved. Empty for an empty or
// absolute name and for one that does not stay below the target once resolved ("..\x.exe",
// "sub\..\..\x.exe", the target itself): such a name is no file in the target.
std::wstring TargetProgramPath(const std::wstring& target, const std::wstring& program);
// The path of the running program (GetModuleFileNameW); empty on failure.
std::wstring ModulePath();
// True when program is a URL for the shell: a scheme of two or more characters (a letter, then
// letters, digits, '+', '-' or '.'), a colon and something after it. One letter and a colon is a
// drive.
bool IsUrl(const std::wstring& program);

// Which folder a path is on disk: the volume's serial number and the folder's file index. Two
// spellings of one folder (a link or junction to it, its short 8.3 name, a subst drive) have the
// same identity. known is false when the folder cannot be opened or its file system gives no
// file index.
struct FolderIdentity {
  std::uint32_t volume = 0;
  std::uint64_t index = 0;
  bool known = false;
};
FolderIdentity IdentityOf(const std::wstring& folder);
// True when both are known and the same folder.
bool SameIdentity(const FolderIdentity& a, const FolderIdentity& b);

// Folders that a PATH walk leaves out (the extractor's own folder and the current one): their
// full paths and their identities, taken once when the set is made.
class ExcludedFolders {
 public:
  explicit ExcludedFolders(const std::vector<std::wstring>& folders);
  // True when folder (a full path) is one of them: the same path without case, or the same
  // folder on disk however it is spelled.
  bool Holds(const std::wstring& folder) const;

 private:
  std::vector<std::wstring> paths_;
  std::vector<FolderIdentity> identities_;
};

// The folders of a PATH value that programs may be started from, as full paths in their order.
// Quotes around an entry are removed and a \\?\ prefix does not count; empty, relative and device
// entries are left out, and so is every entry that excluded holds.
std::vector<std::wstring> SearchFolders(const std::wstring& pathValue,
                                        const ExcludedFolders& excluded);
// The key below HKCU and HKLM under which Windows registers a program name
// (Software\Microsoft\Windows\CurrentVersion\App Paths\<name>.exe; ".exe" is added to a name
// without extension). Empty for a name that cannot be registered: one holding a path, a drive or
// another extension.
std::wstring AppPathsKey(const std::wstring& program);
// The program named by the default value of an App Paths key: environment variables expanded,
// blanks and surrounding quotes removed, made a full path. Empty when it is not absolute.
std::wstring AppPathsProgram(const std::wstring& value);
