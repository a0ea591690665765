// The archive build: turns Settings and a source tree into one self-extracting program file.
// Every value of a build comes from the record Settings, which the caller fills first, and from
// BuildOptions; the front end (dialog, console builder, tests) only shows what the build reports.
// It knows nothing of windows.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "archive/stored_name.h"
#include "builder/builder_only.h"
#include "builder/stub_resources.h"
#include "settings/install_inf.h"

// What a build shows and does outside the archive.
class BuildFrontEnd {
 public:
  virtual ~BuildFrontEnd() = default;
  // Progress text for the status line; "" empties it. Shown at once.
  virtual void ShowProgress(const std::string& text) = 0;
  // A message box (interactive builds only; batch lines go to BatchReport).
  virtual void ShowMessage(const std::string& text) = 0;
  // Puts the keyboard focus on the SFX-name field.
  virtual void FocusSfxName() = 0;
  // Starts the finished program (the shell's open verb on Windows).
  virtual void StartProgram(const std::string& path) = 0;
  // Hourglass and mouse capture for the duration of the build.
  virtual void BeginWait() {}
  virtual void EndWait() {}
  // A file could not be added: its path and the reason, for front ends that name it.
  virtual void FileFailed(const std::string& /*path*/, const std::string& /*reason*/) {}
  // A directory of the tree could not be read, for front ends that name every one.
  virtual void FolderUnreadable(const std::string& /*path*/) {}
  // The program file path is complete: files entries, bytes long. Called before the success
  // message, for front ends that say what was made.
  virtual void ArchiveWritten(const std::string& /*path*/, size_t /*files*/, uint64_t /*bytes*/) {}
  // The stub file was looked for at path and not found, for front ends that name it.
  virtual void StubMissing(const std::string& /*path*/) {}
};

// The outcome of one build, for front ends that need more than the message (exit codes). Every
// result but Success and FileFailed leaves no program file and no temporary file behind, and an
// older program file of that name as it was.
enum class BuildResult {
  Success,              // "Das Archiv wurde ordnungsgemäß erstellt!"
  NoName,               // "Es wurde noch kein Archivname angegeben!"
  StubMissing,          // "Kann Datei tambrix.resx nicht öffnen!"
  StubCopyFailed,       // "Fehler bei Lesen aus Datei tambrix.resx!"
  DataCopyFailed,       // "Fehler bei Lesen aus der Datendatei!"
  FileFailed,           // "Fehler bei der Erstellung des Archivs!": a source file could not be
                        // added; the program file holds the entries before it
  NamesRefused,         // names the extractor could not create
  SourceMissing,        // no source directory given, or it does not exist or is no directory
  SourceEmpty,          // the source holds no file to pack (none, or only the older program)
  OutputRefused,        // the SFX name is a directory, a stub file or the running program
  SettingsTooLarge,     // a text or list too long for the settings block
  FoldersUnreadable,    // directories of the tree could not be read (and were not to be skipped)
  ProgramCreateFailed,  // the program file could not be created, or not put in the old one's place
  ProgramWriteFailed,   // a write to the program file failed (a full disk)
  StubLookFailed,       // the icon file, the version information or the stub's resources cannot
                        // be used; named before anything is written
  DataWriteFailed,      // the temporary data file could not be created or written
  ArchiveTooLarge,      // the program file would reach 4 GiB, which Windows does not start
  Cancelled,            // stopped from outside (Ctrl-C) before the program file was complete
};

// What one build takes besides Settings.
struct BuildOptions {
  // "Anschliessend starten": the finished program is run once it is complete and closed.
  bool startAfterwards = false;
  // The folder of the stub files; "" means the program's own directory.
  std::string stubDir;
  // Directories of the tree that cannot be read: false refuses the build, naming them; true warns
  // once and builds without them.
  bool skipUnreadable = false;
  // Threads that compress at once. 1 is the one-thread build; any number gives the same bytes.
  int jobs = 1;
  // How files are named in the archive: the dialog's rule, or relative to the source directory.
  NameRule names = NameRule::Dialog;
  // Latest file time stored, in seconds since 1970 (UTC); negative: every file's own time. With
  // a limit every time is taken in UTC, so that a build gives the same bytes in every time zone.
  int64_t latestTime = -1;
  // Version information and elevation level of the produced program; the icon comes from
  // Settings.IconFile. With none of them the stub is copied byte for byte.
  VersionTexts version;
  ExecutionLevel level = ExecutionLevel::AsInvoker;
  // Set from outside (a Ctrl-C handler) to stop the build; it then leaves nothing behind.
  const std::atomic<bool>* cancel = nullptr;
};

// Builds one archive from Settings as the "Archiv erzeugen" button does: the SFX name is trimmed
// in Settings, the first source path is the source directory and MaxCompression chooses the
// method. Messages go to the front end, or to BatchReport while BatchRunning is set.
//
// The program file is written under a temporary name beside its final place and takes that place
// only when every byte is written and the file closed: an older file of the name is replaced
// then, never deleted before. Nothing of a failed build stays behind.
BuildResult BuildArchive(BuildFrontEnd& ui, const BuildOptions& options = BuildOptions());

// A program file of this many bytes or more is not started by Windows; the archive's 32-bit
// offsets could not point into it either.
constexpr uint64_t kMaxProgramBytes = uint64_t(1) << 32;

// The German message texts.
extern const char* const kMsgNoName;
extern const char* const kMsgStubMissing;
extern const char* const kMsgStubCopy;
extern const char* const kMsgDataCopy;
extern const char* const kMsgSuccess;
extern const char* const kMsgFileFailed;
extern const char* const kMsgCancelled;
