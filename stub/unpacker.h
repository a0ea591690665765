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
// an Outcome with exit code 3. Several files may be written at once (see FileJob).
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

// One file on its way into the target: set up by Unpacker::Prepare on the thread that hands out
// the entries, then created, written and finished (Unpacker::Create, Write, Finish) by one
// thread at a time, and recorded (Unpacker::Record) on the first one again. Reused from file to
// file; its write buffer stays.
struct FileJob {
  size_t folder = 0;                        // index of its folder in the unpacker
  HANDLE folderHandle = INVALID_HANDLE_VALUE;
  std::wstring name;                        // its name in that folder
  bool direct = false;                      // written under its own name (a folder of this run)
  HANDLE existing = INVALID_HANDLE_VALUE;   // the file at the name, to be replaced
  HANDLE file = INVALID_HANDLE_VALUE;       // the file being written
  std::wstring tempName;                    // its name while it is open (empty: none of ours)
  std::vector<uint8_t> buffer;
  size_t used = 0;
  // What became of it: in place under its name (so a roll-back must remove it), over a file
  // that is now the backup (open as backupHandle), or why it failed.
  bool placed = false;
  bool replaced = false;
  std::wstring backup;
  HANDLE backupHandle = INVALID_HANDLE_VALUE;
  DWORD error = 0;          // the Windows error of a failure
  Msg refused = Msg::None;  // what stood at the name instead of a file that may be replaced
};

class Unpacker {
 public:
  // target: the absolute target folder in \\?\ form.
  explicit Unpacker(const std::wstring& target);
  ~Unpacker();
  Unpacker(const Unpacker&) = delete;
  Unpacker& operator=(const Unpacker&) = delete;

  static constexpr size_t kNoEntry = static_cast<size_t>(-1);
  // Handles of existing files kept open at most at once: each costs Wine an open descriptor in
  // the program and one in its server, whose limit may be a few thousand higher.
  static constexpr size_t kMaxKept = 8192;

  // Creates the target folder and any missing folders above it. An existing target must take new
  // files (tried with a temporary file that deletes itself). The outcome names the reason: a
  // drive that is not there, a file in the way, a folder that cannot be created or written.
  Outcome PrepareTarget();
  // The entries (0 .. count-1, relativeOf gives each one's path) whose files are already in the
  // target, in order. Fails when a folder stands where a file goes or a file where a folder goes.
  // Files that will be replaced (not keep) must also be neither links nor read-only; each is
  // opened once for that, and (up to kMaxKept at a time) its handle is kept for that entry's
  // file and for the backup it becomes. Files that are kept (keep, /O=skip) are only looked
  // up: nothing is done to them, so what they are does not matter.
  Outcome FindExisting(size_t count, const std::function<std::wstring(size_t)>& relativeOf,
                       bool keep, std::vector<size_t>& existing);

  // The steps of one file, for unpacking on several threads. Prepare and Record run on one
  // thread (the one that called PrepareTarget), in the archive's order; Create, Write, Finish and
  // Abandon on any thread, one job each. entry: the index given to FindExisting, whose findings
  // are used instead of looking again.
  // Creates the folders of relative and looks at what stands at its name.
  Outcome Prepare(const std::wstring& relative, size_t entry, FileJob& job);
  // Opens the job's file (a temporary one beside its final place in a folder that existed).
  bool Create(FileJob& job) const;
  // Appends bytes to the job's file; false on a write failure (disk full etc.).
  static bool Write(FileJob& job, const uint8_t* data, size_t n);
  // Completes the job's file: flushes it, sets its last-write time, puts it in place.
  bool Finish(FileJob& job, const platform::DosTime& time) const;
  // Closes and deletes the job's file when it is not in place.
  static void Abandon(FileJob& job);
  // Notes what the finished (or failed) job put in place, for Commit and RemoveCreated.
  void Record(FileJob& job);
  // Why the job failed, naming its file.
  Outcome FailureOf(const FileJob& job) const;

  // One file at a time: Prepare and Create, Write, Finish and Record (the outcome of a failure
  // names the file), Abandon.
  Outcome BeginFile(const std::wstring& relative, size_t entry = kNoEntry);
  bool Write(const uint8_t* data, size_t n) { return Write(current_, data, n); }
  Outcome FinishFile(const platform::DosTime& time);
  void AbandonFile() { Abandon(current_); }
  // True when the last finished file replaced one that was there before.
  bool LastReplaced() const { return current_.replaced; }
  // The outcome of a failed Write, naming the open file.
  Outcome WriteFailure() const { return FailureOf(current_); }

  // Every file is in place: the backups of replaced files are deleted, and RemoveCreated() no
  // longer puts them back.
  void Commit();
  // Removes the files, then the folders, that this run created, newest first, and puts back the
  // files it replaced (before Commit). A folder that holds anything else stays.
  void RemoveCreated();

  DWORD LastError() const { return lastError_; }
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
  // Appends a folder (under the lock the other threads read folders_ by).
  void AddFolder(const Folder& f);
  // The full path of name in folders_[folder], for messages.
  std::wstring PathOf(size_t folder, const std::wstring& name) const;
  // The full path of folders_[index].
  std::wstring FolderPath(size_t index) const;
  // True when the path of folders_[index] still leads to the folder its handle holds (Wine
  // renames by path, so a rename is only made while the path leads there). Any thread.
  bool FolderInPlace(size_t index) const;
  // folders_[index].own, read under the lock (any thread).
  std::wstring OwnNameOf(size_t index) const;
  // What refuses the file at name (handle h) in the folder named own: a folder, a link, a
  // read-only file; Msg::None when it may be replaced.
  static Msg CheckExisting(HANDLE h, const std::wstring& own, const std::wstring& name);
  // Opens and checks what stands at name in folders_[folder] for replacing it: existing is the
  // open file, INVALID_HANDLE_VALUE when the name is free.
  Outcome OpenExisting(size_t folder, const std::wstring& name, HANDLE* existing);
  // A new name of this run's own for a file beside the target's files: ~tbx<hex><extension>.
  std::wstring TempName(const wchar_t* extension) const;
  static bool FlushBuffer(FileJob& job);
  static bool WriteAll(FileJob& job, const uint8_t* data, size_t n);
  // Fails the job with its error, abandoning its file.
  static bool FailJob(FileJob& job);
  // Puts the finished file in its place when the name is taken (job.existing): the old file to
  // a backup name, the new one into place, or the old one back when that fails.
  bool ReplaceExisting(FileJob& job) const;
  // Puts a replaced file back from its backup.
  void Restore(const Replaced& r);
  // Closes folders_[i]'s handle; a folder this run made is deleted when it is empty.
  void RemoveFolder(size_t i);
  void CloseFolders();

  std::wstring target_;
  bool renamesByPath_;                          // see folder_ops::RenamesByPath
  std::vector<Folder> folders_;                 // [0] is the target once prepared
  mutable SRWLOCK foldersLock_ = SRWLOCK_INIT;  // written only by the preparing thread
  std::map<std::wstring, size_t> folderIndex_;  // relative folder ("" the target) -> folders_
  std::vector<std::wstring> createdAbove_;      // folders made above the target, outermost first
  bool targetCreated_ = false;                  // the target folder itself is new
  // The created files' names, one after another in one block (thousands of separate strings
  // kept alive while the decoders allocate and free would fragment the heap), with the folder
  // and the end of each.
  std::wstring createdNames_;
  std::vector<std::pair<size_t, size_t>> createdFiles_;
  std::vector<Replaced> replaced_;
  // Per entry, the handle FindExisting kept of the file there; the handles kept (also as
  // backups) now.
  std::vector<HANDLE> kept_;
  size_t keptCount_ = 0;
  // Per entry: FindExisting looked, and the name was free then.
  std::vector<bool> foundFree_;
  FileJob current_;  // the file of BeginFile .. FinishFile
  DWORD lastError_ = 0;
  mutable volatile LONG tempCounter_ = 0;
};

// Joins a folder and a relative name with one backslash.
std::wstring JoinPath(const std::wstring& folder, const std::wstring& name);
