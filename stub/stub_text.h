// The extractor's outcome and its German texts. Every step of the extractor reports one Outcome;
// only the end of the program turns it into a message (code page 1252 texts, converted once).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Exit codes of the extractor program.
enum StubExit : int {
  kExitOk = 0,
  kExitCancelled = 1,
  kExitDamaged = 2,        // damaged or not an archive
  kExitUnpackFailed = 3,   // a file could not be written, an unsafe name, disk full
  kExitCommandFailed = 4,  // a command could not be started
};

enum class Msg {
  None,
  Usage,
  ReadSelf,
  NotArchive,
  Incomplete,
  Damaged,
  EntryDamaged,
  WrongMethod,
  UnsafeName,
  DuplicateName,
  TargetMissing,
  TargetInvalid,
  TargetUnusable,
  NoDrive,
  FileInTheWay,
  FolderInTheWay,
  NoWriteRights,
  CreateDir,
  LinkInTarget,
  LinkAtFile,
  WriteFile,
  ReadOnlyFile,
  DiskFull,
  Command,
  BatchArguments,
  TestOk,
  Cancelled,
  BadSwitch,
  LogFailed,
};

struct Outcome {
  int exitCode = kExitOk;
  Msg msg = Msg::None;
  std::wstring arg;          // replaces %s in the text (a file or folder name)
  std::wstring detail;       // an extra line (the reader's reason), may be empty
  bool fromCommand = false;  // exitCode is the first command's (/W), not the extractor's own

  bool ok() const { return exitCode == kExitOk; }
};

Outcome Fail(int exitCode, Msg msg, const std::wstring& arg = std::wstring(),
             const std::wstring& detail = std::wstring());

// Code page 1252 bytes to UTF-16 (archive names, settings texts, our own texts).
std::wstring Widen(const std::string& cp1252);
// The text of msg with %s replaced by arg and the detail appended on its own line.
std::wstring MessageText(const Outcome& o);
// The same text without blank lines, for a reason under another message and for the log.
std::wstring MessageLines(const Outcome& o);
// Texts shown during a normal run.
std::wstring UiText(const char* cp1252);
// v in decimal digits.
std::wstring Decimal(uint64_t v);
// A Windows error code in German words, for messages and the log ("Grund: Zugriff verweigert
// (Windows-Fehler 5).").
std::wstring ErrorWords(unsigned long error);
// The question before existing files are replaced: how many there are and the first names.
std::wstring ReplaceQuestion(const std::vector<std::wstring>& names, size_t count);

// Fixed dialog texts.
extern const char* const kTextTesting;
extern const char* const kTextBrowse;
extern const char* const kTextCancelQuestion;
extern const char* const kTextReplace;
