// Writes files below one target folder and remembers every file and folder it created, so that a
// failed or cancelled run and the clean-up after the command remove exactly those and nothing else.
//
// Every path handed in is relative to the target and already checked (PlanEntries). In a folder
// that existed before, a file is written to a temporary name beside its place and renamed into
// place only when it is complete, so an existing file is never replaced by a partial one. In a
// folder this run created there is nothing to replace, and the file is created (CREATE_NEW)
// under its own name. Either way a file that fails its checks is deleted, and an existing
// read-only file is not replaced (the file fails before anything is written for it). A file that
// is replaced is first renamed to a backup name beside it, so that a failed or cancelled run can
// put it back; Commit() deletes the backups once every file is in place. Failures come back as
// an Outcome with exit code 3; the Windows error of the last failure is in LastError().
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "stub/stub_text.h"

class Unpacker {
 public:
  // target: the absolute target folder in \\?\ form.
  explicit Unpacker(const std::wstring& target);
  ~Unpacker();
  Unpacker(const Unpacker&) = delete;
  Unpacker& operator=(const Unpacker&) = delete;

  // Creates the target folder and any missing folders above it. An existing target must take new
  // files (tried with a temporary file that deletes itself). The outcome names the reason: a
  // drive that is not there, a file in the way, a folder that cannot be created or written.
  Outcome PrepareTarget();
  // The entries (0 .. count-1, relativeOf gives each one's path) whose files are already in the
  // target, in order. Fails when a folder stands where a file goes, a file where a folder goes,
  // or, unless keepReadOnly, when an existing file is read-only.
  Outcome FindExisting(size_t count, const std::function<std::wstring(size_t)>& relativeOf,
                       bool keepReadOnly, std::vector<size_t>& existing);
  // Creates the folders of relative and opens a temporary file beside its final place.
  Outcome BeginFile(const std::wstring& relative);
  // Appends bytes to the open file; false on a write failure (disk full etc.).
  bool Write(const uint8_t* data, size_t n);
  // Completes the open file: flushes it, sets its last-write time, renames it into place.
  Outcome FinishFile(const platform::DosTime& time);
  // Closes and deletes the open temporary file, if any.
  void AbandonFile();
  // True when the last finished file replaced one that was there before.
  bool LastReplaced() const { return lastReplaced_; }
  // Every file is in place: the backups of replaced files are deleted, and RemoveCreated() no
  // longer puts them back.
  void Commit();
  // The outcome of a failed Write, naming the open file.
  Outcome WriteFailure() const;
  // Removes the files, then the folders, that this run created, newest first, and puts back the
  // files it replaced (before Commit). A folder that holds anything else stays.
  void RemoveCreated();

  DWORD LastError() const { return lastError_; }
  // The target folder in \\?\ form.
  const std::wstring& target() const { return target_; }

 private:
  Outcome EnsureFolder(const std::wstring& relativeFolder);
  // A new name of this run's own for a file beside the target's files: ~tbx<hex><extension>.
  std::wstring TempName(const wchar_t* extension);
  bool FlushBuffer();
  bool WriteAll(const uint8_t* data, size_t n);
  // The outcome of a failed write of the open file, after the file is abandoned.
  Outcome FailFile();
  // Moves the file in place to a backup name and the finished file into its place, or, when the
  // second move fails, the old file back; false (lastError_ set) on failure.
  bool ReplaceExisting();

  std::wstring target_;
  // The created files' paths, one after another in one block (thousands of separate strings
  // kept alive while the decoders allocate and free would fragment the heap).
  std::wstring createdFiles_;
  std::vector<size_t> createdFileEnds_;
  std::vector<std::wstring> createdFolders_;
  std::set<std::wstring> knownFolders_;     // relative folders already checked or created
  std::set<std::wstring> createdRelative_;  // relative folders this run created
  bool targetCreated_ = false;              // the target folder itself is new
  bool folderIsNew_ = false;                // the open file's folder was created by this run
  bool direct_ = false;                     // the open file is written under its own name
  HANDLE file_ = INVALID_HANDLE_VALUE;
  std::wstring tempPath_;
  std::wstring finalPath_;
  std::wstring relative_;
  // Replaced files and their backups beside them, until Commit.
  std::vector<std::pair<std::wstring, std::wstring>> replaced_;
  bool lastReplaced_ = false;
  std::vector<uint8_t> buffer_;
  size_t used_ = 0;
  DWORD lastError_ = 0;
  unsigned tempCounter_ = 0;
};

// Joins a folder and a relative name with one backslash.
std::wstring JoinPath(const std::wstring& folder, const std::wstring& name);
