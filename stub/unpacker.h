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
//
// Each folder is entered once, by a handle that is kept for the run, and every file and folder
// below it is created, renamed and deleted relative to that handle, never by path: a folder
// that another program renames or replaces by a link or junction meanwhile cannot send a file,
// or a roll-back's deletion, anywhere else. A link or junction inside the target, on the way to
// a file or at a file's own name, is refused, never followed or replaced.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <map>
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
  // target, in order. Fails when a folder stands where a file goes or a file where a folder goes.
  // Files that will be replaced (not keep) must also be neither links nor read-only; each is
  // opened once for that, and (up to kMaxKept at a time) its handle is kept for BeginFile of
  // that entry and for the backup it becomes. Files that are kept (keep, /O=skip) are only
  // looked up: nothing is done to them, so what they are does not matter.
  Outcome FindExisting(size_t count, const std::function<std::wstring(size_t)>& relativeOf,
                       bool keep, std::vector<size_t>& existing);
  // Creates the folders of relative and opens a temporary file beside its final place. entry:
  // its index as given to FindExisting, whose findings are used instead of looking again.
  Outcome BeginFile(const std::wstring& relative, size_t entry = kNoEntry);
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
  static constexpr size_t kNoEntry = static_cast<size_t>(-1);
  // Handles of existing files kept open at most at once: each costs Wine an open descriptor in
  // the program and one in its server, whose limit may be a few thousand higher.
  static constexpr size_t kMaxKept = 8192;
  // The target folder in \\?\ form.
  const std::wstring& target() const { return target_; }

 private:
  static constexpr size_t kNone = static_cast<size_t>(-1);
  // A folder entered by this run.
  struct Folder {
    HANDLE handle;      // open for the run (without the right to delete), closed at its end
    size_t parent;      // index of the folder it is in (kNone: the target)
    std::wstring name;  // its name in that folder
    bool created;       // made by this run
    std::wstring own;   // the handle's own name (folder_ops::NameOf), asked once
  };
  // A file replaced by this run, kept under a backup name beside it until Commit.
  struct Replaced {
    size_t folder;
    std::wstring name;
    std::wstring backup;
    HANDLE handle;  // the backup, still open (INVALID_HANDLE_VALUE: closed, found by its name)
  };

  // The index in folders_ of relativeFolder, entered from the target one name at a time. With
  // create, missing folders are made; without, index is kNone when one is missing.
  Outcome EnterFolder(const std::wstring& relativeFolder, bool create, size_t* index);
  // Enters (or makes) the folder name in folders_[parent].
  Outcome EnterOne(size_t parent, const std::wstring& name, bool create, size_t* index);
  // The full path of name in folders_[folder], for messages.
  std::wstring PathOf(size_t folder, const std::wstring& name) const;
  // The full path of folders_[index].
  std::wstring FolderPath(size_t index) const;
  // True when the path of folders_[index] still leads to the folder its handle holds (Wine
  // renames by path, so a rename is only made while the path leads there).
  bool FolderInPlace(size_t index) const;
  // Refuses what stands at the open file's name (handle h): a folder, a link, a read-only file.
  Outcome CheckExisting(HANDLE h, size_t folder, const std::wstring& name);
  // Opens and checks what stands at name in folders_[folder] for replacing it: existing_ is the
  // open file, INVALID_HANDLE_VALUE when the name is free.
  Outcome OpenExisting(size_t folder, const std::wstring& name);
  // A new name of this run's own for a file beside the target's files: ~tbx<hex><extension>.
  std::wstring TempName(const wchar_t* extension);
  bool FlushBuffer();
  bool WriteAll(const uint8_t* data, size_t n);
  // The outcome of a failed write of the open file, after the file is abandoned.
  Outcome FailFile();
  // Puts the finished file in its place when the name is taken (existing_): the old file to a
  // backup name, the new one into place, or the old one back when that fails.
  Outcome ReplaceExisting();
  // Puts a replaced file back from its backup.
  void Restore(const Replaced& r);
  // Closes folders_[i]'s handle; a folder this run made is deleted when it is empty.
  void RemoveFolder(size_t i);
  void CloseFolders();

  std::wstring target_;
  bool renamesByPath_;                          // see folder_ops::RenamesByPath
  std::vector<Folder> folders_;                 // [0] is the target once prepared
  std::map<std::wstring, size_t> folderIndex_;  // relative folder ("" the target) -> folders_
  std::vector<std::wstring> createdAbove_;      // folders made above the target, outermost first
  bool targetCreated_ = false;                  // the target folder itself is new
  // The created files' names, one after another in one block (thousands of separate strings
  // kept alive while the decoders allocate and free would fragment the heap), with the folder
  // and the end of each.
  std::wstring createdNames_;
  std::vector<std::pair<size_t, size_t>> createdFiles_;
  std::vector<Replaced> replaced_;
  // Per entry, the handle FindExisting kept of the file there; their number.
  std::vector<HANDLE> kept_;
  size_t keptCount_ = 0;
  // Per entry: FindExisting looked, and the name was free then.
  std::vector<bool> foundFree_;
  // The open file: its folder, its own and its temporary name, the file there before it.
  size_t folder_ = 0;
  std::wstring name_;
  std::wstring tempName_;
  bool direct_ = false;  // written under its own name (in a folder this run created)
  HANDLE file_ = INVALID_HANDLE_VALUE;
  HANDLE existing_ = INVALID_HANDLE_VALUE;
  bool lastReplaced_ = false;
  std::vector<uint8_t> buffer_;
  size_t used_ = 0;
  DWORD lastError_ = 0;
  unsigned tempCounter_ = 0;
};

// Joins a folder and a relative name with one backslash.
std::wstring JoinPath(const std::wstring& folder, const std::wstring& name);
