#include "stub/unpacker.h"

#include <algorithm>
#include <set>

#include "stub/folder_ops.h"
#include "stub/stub_logic.h"

namespace {

constexpr size_t kWriteBuffer = 256 * 1024;

// Length of the part of an extended path that cannot be created: \\?\C:\ or \\?\UNC\server\share.
size_t RootLength(const std::wstring& p) {
  if (p.compare(0, 8, L"\\\\?\\UNC\\") == 0) {
    size_t server = p.find(L'\\', 8);
    if (server == std::wstring::npos) return p.size();
    size_t share = p.find(L'\\', server + 1);
    return share == std::wstring::npos ? p.size() : share;
  }
  return std::min<size_t>(7, p.size());  // \\?\C:\ including its backslash
}

std::wstring Hex(unsigned v) {
  wchar_t buf[9];
  for (int i = 7; i >= 0; --i) {
    buf[i] = L"0123456789abcdef"[v & 15];
    v >>= 4;
  }
  buf[8] = 0;
  return buf;
}

bool IsDiskFull(DWORD e) { return e == ERROR_DISK_FULL || e == ERROR_HANDLE_DISK_FULL; }
bool IsMissing(DWORD e) { return e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND; }
bool IsTaken(DWORD e) { return e == ERROR_FILE_EXISTS || e == ERROR_ALREADY_EXISTS; }

using folder_ops::Kind;
constexpr ACCESS_MASK kFolderAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES;
constexpr ACCESS_MASK kFileAccess = GENERIC_WRITE | DELETE | FILE_READ_ATTRIBUTES;

// Splits a relative path into its folder (empty: the target) and its last name.
void Split(const std::wstring& relative, std::wstring& folder, std::wstring& name) {
  const size_t cut = relative.rfind(L'\\');
  folder = cut == std::wstring::npos ? std::wstring() : relative.substr(0, cut);
  name = cut == std::wstring::npos ? relative : relative.substr(cut + 1);
}

// A folder of the archive cannot be made where a file of that name stands.
Outcome FileWhereFolderGoes(const std::wstring& full) {
  return Fail(kExitUnpackFailed, Msg::CreateDir, DisplayPath(full),
              MessageText(Fail(kExitUnpackFailed, Msg::FileInTheWay, DisplayPath(full))));
}

// Sets the open file's last-write time from an archive's date block, which holds local time,
// converted back the way it was taken. A date the block cannot hold leaves the time alone.
void SetWriteTime(HANDLE file, const platform::DosTime& t) {
  if (t.year1980 > 127 || t.month < 1 || t.month > 12 || t.day < 1 || t.day > 31 || t.hour > 23 ||
      t.minute > 59 || t.seconds2 > 29)
    return;
  const WORD date = static_cast<WORD>((t.year1980 << 9) | (t.month << 5) | t.day);
  const WORD time = static_cast<WORD>((t.hour << 11) | (t.minute << 5) | t.seconds2);
  FILETIME local, utc;
  if (DosDateTimeToFileTime(date, time, &local) && LocalFileTimeToFileTime(&local, &utc))
    SetFileTime(file, nullptr, nullptr, &utc);
}

}  // namespace

std::wstring JoinPath(const std::wstring& folder, const std::wstring& name) {
  if (folder.empty()) return name;
  if (folder.back() == L'\\') return folder + name;
  return folder + L'\\' + name;
}

Unpacker::Unpacker(const std::wstring& target)
    : target_(target),
      renamesByPath_(folder_ops::RenamesByPath()),
      tempCounter_(static_cast<LONG>(GetCurrentProcessId() << 16 ^ GetTickCount())) {}

Unpacker::~Unpacker() {
  AbandonFile();
  for (HANDLE& h : kept_)
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  for (const Replaced& r : replaced_)
    if (r.handle != INVALID_HANDLE_VALUE) CloseHandle(r.handle);
  CloseFolders();
}

void Unpacker::CloseFolders() {
  for (const Folder& f : folders_) CloseHandle(f.handle);
  folders_.clear();
  folderIndex_.clear();
}

std::wstring Unpacker::TempName(const wchar_t* extension) const {
  return L"~tbx" + Hex(static_cast<unsigned>(InterlockedIncrement(&tempCounter_))) + extension;
}

void Unpacker::AddFolder(const Folder& f) {
  AcquireSRWLockExclusive(&foldersLock_);
  folders_.push_back(f);
  ReleaseSRWLockExclusive(&foldersLock_);
}

std::wstring Unpacker::OwnNameOf(size_t index) const {
  AcquireSRWLockShared(&foldersLock_);
  std::wstring own = folders_[index].own;
  ReleaseSRWLockShared(&foldersLock_);
  return own;
}

std::wstring Unpacker::PathOf(size_t folder, const std::wstring& name) const {
  if (folder == 0 || folder >= folders_.size())
    return name.empty() ? target_ : JoinPath(target_, name);
  return JoinPath(PathOf(folders_[folder].parent, folders_[folder].name), name);
}

Outcome Unpacker::PrepareTarget() {
  const size_t root = RootLength(target_);
  std::vector<std::wstring> missing;
  std::wstring p = target_;
  for (;;) {
    DWORD a = GetFileAttributesW(p.c_str());
    if (a != INVALID_FILE_ATTRIBUTES) {
      if (!(a & FILE_ATTRIBUTE_DIRECTORY))
        return Fail(kExitUnpackFailed, Msg::FileInTheWay, DisplayPath(p));
      break;
    }
    if (p.size() <= root) {
      // The root itself is not there: a drive letter nothing is mounted on, or a share that
      // cannot be reached.
      lastError_ = GetLastError();
      if (p.size() >= 6 && p[5] == L':') return Fail(kExitUnpackFailed, Msg::NoDrive, p.substr(4, 2));
      return Fail(kExitUnpackFailed, Msg::CreateDir, DisplayPath(p), ErrorWords(lastError_));
    }
    missing.push_back(p);
    size_t cut = p.rfind(L'\\');
    p = (cut == std::wstring::npos || cut < root) ? p.substr(0, root) : p.substr(0, cut);
  }
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    if (!CreateDirectoryW(it->c_str(), nullptr)) {
      lastError_ = GetLastError();
      return Fail(kExitUnpackFailed, Msg::CreateDir, DisplayPath(*it), ErrorWords(lastError_));
    }
    createdAbove_.push_back(*it);
    targetCreated_ = true;
  }
  // Everything below the target is reached through this handle from now on. A target this run
  // made is removed like the folders below it (RemoveFolder); the folders above it, made on the
  // way, by path.
  HANDLE h;
  lastError_ = folder_ops::OpenFolderByPath(target_, false, &h);
  if (lastError_) {
    if (lastError_ == ERROR_DIRECTORY)
      return Fail(kExitUnpackFailed, Msg::FileInTheWay, DisplayPath(target_));
    return Fail(kExitUnpackFailed, targetCreated_ ? Msg::CreateDir : Msg::NoWriteRights,
                DisplayPath(target_), ErrorWords(lastError_));
  }
  AddFolder(Folder{h, kNone, std::wstring(), targetCreated_, folder_ops::NameOf(h)});
  folderIndex_[std::wstring()] = 0;
  if (targetCreated_) {
    createdAbove_.pop_back();
    return Outcome();
  }
  // A folder that exists may still refuse new files (no rights, a read-only medium): found out
  // now, before the first file, with a file that is deleted at once.
  for (int attempt = 0; attempt < 100; ++attempt) {
    HANDLE probe;
    lastError_ =
        folder_ops::Open(h, TempName(L".tmp"), kFileAccess, FILE_CREATE, Kind::File, &probe);
    if (!lastError_) {
      folder_ops::DeleteAndClose(probe);
      return Outcome();
    }
    if (!IsTaken(lastError_)) break;
  }
  return Fail(kExitUnpackFailed, Msg::NoWriteRights, DisplayPath(target_), ErrorWords(lastError_));
}

Outcome Unpacker::EnterOne(size_t parent, const std::wstring& name, bool create, size_t* index) {
  const HANDLE in = folders_[parent].handle;
  HANDLE h = INVALID_HANDLE_VALUE;
  bool made = false;
  DWORD e = ERROR_ALREADY_EXISTS;
  if (create) e = folder_ops::Open(in, name, kFolderAccess, FILE_CREATE, Kind::Folder, &h, &made);
  if (IsTaken(e)) e = folder_ops::Open(in, name, kFolderAccess, FILE_OPEN, Kind::Any, &h);
  if (e) {
    *index = kNone;
    if (!create && IsMissing(e)) return Outcome();
    lastError_ = e;
    return Fail(kExitUnpackFailed, Msg::CreateDir, DisplayPath(PathOf(parent, name)));
  }
  if (!made) {
    const DWORD a = folder_ops::Attributes(h);
    Outcome refused;
    if (a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY))
      refused = FileWhereFolderGoes(PathOf(parent, name));
    else if (folder_ops::IsLink(h, folders_[parent].own, name))
      // A junction or link inside the target could lead anywhere: never write through it.
      refused = Fail(kExitUnpackFailed, Msg::LinkInTarget, DisplayPath(PathOf(parent, name)));
    if (!refused.ok()) {
      CloseHandle(h);
      *index = kNone;
      return refused;
    }
  }
  AddFolder(Folder{h, parent, name, made, folder_ops::NameOf(h)});
  *index = folders_.size() - 1;
  return Outcome();
}

Outcome Unpacker::EnterFolder(const std::wstring& relativeFolder, bool create, size_t* index) {
  const auto known = folderIndex_.find(relativeFolder);
  if (known != folderIndex_.end()) {
    *index = known->second;
    return Outcome();
  }
  std::wstring above, name;
  Split(relativeFolder, above, name);
  size_t parent = 0;
  Outcome o = EnterFolder(above, create, &parent);
  if (!o.ok() || parent == kNone) {
    *index = kNone;
    return o;
  }
  o = EnterOne(parent, name, create, index);
  if (o.ok() && *index != kNone) folderIndex_[relativeFolder] = *index;
  return o;
}

std::wstring Unpacker::FolderPath(size_t index) const {
  return index == 0 ? target_ : PathOf(folders_[index].parent, folders_[index].name);
}

// One open by the whole path, which follows whatever stands on the way now, as a rename by path
// does: the rename lands in the folder entered exactly when this open does.
bool Unpacker::FolderInPlace(size_t index) const {
  AcquireSRWLockShared(&foldersLock_);
  const std::wstring path = FolderPath(index);
  const HANDLE folder = folders_[index].handle;
  ReleaseSRWLockShared(&foldersLock_);
  const HANDLE h = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  const bool same = folder_ops::SameIndex(h, folder);
  CloseHandle(h);
  return same;
}

Msg Unpacker::CheckExisting(HANDLE h, const std::wstring& own, const std::wstring& name) {
  DWORD a;
  // Replacing a link would replace, or on some systems delete, the file it leads to.
  const bool link = folder_ops::IsLink(h, own, name, &a);
  if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY)) return Msg::FolderInTheWay;
  if (link) return Msg::LinkAtFile;
  if (a & FILE_ATTRIBUTE_READONLY) return Msg::ReadOnlyFile;
  return Msg::None;
}

Outcome Unpacker::OpenExisting(size_t folder, const std::wstring& name, HANDLE* existing) {
  const DWORD e = folder_ops::Open(folders_[folder].handle, name, FILE_READ_ATTRIBUTES | DELETE,
                                   FILE_OPEN, Kind::Any, existing);
  if (IsMissing(e)) return Outcome();
  if (e) {
    lastError_ = e;
    return Fail(kExitUnpackFailed, IsDiskFull(e) ? Msg::DiskFull : Msg::WriteFile,
                DisplayPath(PathOf(folder, name)));
  }
  const Msg refused = CheckExisting(*existing, folders_[folder].own, name);
  if (refused == Msg::None) return Outcome();
  CloseHandle(*existing);
  *existing = INVALID_HANDLE_VALUE;
  return Fail(kExitUnpackFailed, refused, DisplayPath(PathOf(folder, name)));
}

Outcome Unpacker::FindExisting(size_t count, const std::function<std::wstring(size_t)>& relativeOf,
                               bool keep, std::vector<size_t>& existing) {
  existing.clear();
  if (targetCreated_) return Outcome();  // a new target holds nothing
  kept_.assign(count, INVALID_HANDLE_VALUE);
  foundFree_.assign(count, false);
  std::set<std::wstring> absent;  // relative folders that are not there
  std::wstring folderRel, name;
  for (size_t i = 0; i < count; ++i) {
    Split(relativeOf(i), folderRel, name);
    if (absent.count(folderRel)) continue;
    size_t folder;
    Outcome o = EnterFolder(folderRel, false, &folder);
    if (!o.ok()) return o;
    if (folder == kNone) {
      absent.insert(folderRel);
      continue;
    }
    // A first look by path, which costs Wine no request to its server. It only decides between
    // keeping, looking closer and writing, and every write goes through the folder's handle: a
    // path that leads elsewhere meanwhile can at worst keep a file or refuse the run.
    const DWORD a = GetFileAttributesW(PathOf(folder, name).c_str());
    if (a == INVALID_FILE_ATTRIBUTES && IsMissing(GetLastError())) {
      foundFree_[i] = true;  // a file that appears there meanwhile is found by the rename
      continue;
    }
    if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY))
      return Fail(kExitUnpackFailed, Msg::FolderInTheWay, DisplayPath(PathOf(folder, name)));
    if (keep) {
      // A kept file is never written, renamed or deleted: what it is does not matter, and one
      // that cannot be looked at is kept too.
      existing.push_back(i);
      continue;
    }
    HANDLE h;
    o = OpenExisting(folder, name, &h);
    if (!o.ok()) return o;
    if (h == INVALID_HANDLE_VALUE) {
      foundFree_[i] = true;
      continue;
    }
    if (keptCount_ < kMaxKept) {
      kept_[i] = h;
      ++keptCount_;
    } else {
      CloseHandle(h);
    }
    existing.push_back(i);
  }
  return Outcome();
}

Outcome Unpacker::Prepare(const std::wstring& relative, size_t entry, FileJob& job) {
  Abandon(job);
  job.placed = job.replaced = false;
  job.error = 0;
  job.refused = Msg::None;
  std::wstring folderRel;
  Split(relative, folderRel, job.name);
  Outcome o = EnterFolder(folderRel, true, &job.folder);
  if (!o.ok()) return o;
  job.folderHandle = folders_[job.folder].handle;
  // Nothing can be replaced in a folder this run created: the file is written under its own
  // name (every new name costs a directory search under Wine; this halves them). A temporary
  // name there too would keep a killed run from leaving a partial file under its own name, but
  // costs about a third more unpacking time under Wine for 8,000 files, so it is not used.
  job.direct = folders_[job.folder].created;
  if (job.direct) return Outcome();
  // What stands at the name is looked at before anything is written for this file (a read-only
  // file is never replaced: Windows refuses to rename over one, Wine does not), and kept open to
  // be moved aside when the new file is complete. FindExisting has done that already for the
  // entries it was asked about: its handle is taken over, and a name it found free is not
  // looked up again (a file that appears there meanwhile is found by the rename).
  const bool known = entry < kept_.size();
  if (known && kept_[entry] != INVALID_HANDLE_VALUE) {
    job.existing = kept_[entry];
    kept_[entry] = INVALID_HANDLE_VALUE;
    --keptCount_;
    return Outcome();
  }
  if (known && foundFree_[entry]) return Outcome();
  return OpenExisting(job.folder, job.name, &job.existing);
}

bool Unpacker::Create(FileJob& job) const {
  for (int attempt = 0; attempt < 100; ++attempt) {
    job.tempName = job.direct ? job.name : TempName(L".tmp");
    job.error = folder_ops::Open(job.folderHandle, job.tempName, kFileAccess, FILE_CREATE,
                                 Kind::File, &job.file, nullptr, true);
    if (!job.error) break;
    if (job.direct || !IsTaken(job.error)) break;
  }
  if (job.file == INVALID_HANDLE_VALUE) {
    job.tempName.clear();
    Abandon(job);
    return false;
  }
  if (job.buffer.empty()) job.buffer.resize(kWriteBuffer);
  job.used = 0;
  return true;
}

Outcome Unpacker::BeginFile(const std::wstring& relative, size_t entry) {
  Outcome o = Prepare(relative, entry, current_);
  if (o.ok() && !Create(current_)) o = FailureOf(current_);
  return o;
}

bool Unpacker::WriteAll(FileJob& job, const uint8_t* data, size_t n) {
  while (n > 0) {
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(n, 16u << 20));
    DWORD written = 0;
    if (!WriteFile(job.file, data, chunk, &written, nullptr) || written == 0) {
      job.error = GetLastError();
      if (job.error == 0) job.error = ERROR_WRITE_FAULT;
      return false;
    }
    data += written;
    n -= written;
  }
  return true;
}

bool Unpacker::FlushBuffer(FileJob& job) {
  if (job.used == 0) return true;
  bool ok = WriteAll(job, job.buffer.data(), job.used);
  job.used = 0;
  return ok;
}

bool Unpacker::Write(FileJob& job, const uint8_t* data, size_t n) {
  if (job.file == INVALID_HANDLE_VALUE) return false;
  if (job.used + n > job.buffer.size()) {
    if (!FlushBuffer(job)) return false;
    if (n >= job.buffer.size()) return WriteAll(job, data, n);
  }
  std::copy(data, data + n, job.buffer.begin() + job.used);
  job.used += n;
  return true;
}

Outcome Unpacker::FailureOf(const FileJob& job) const {
  const std::wstring path = DisplayPath(PathOf(job.folder, job.name));
  if (job.refused != Msg::None) return Fail(kExitUnpackFailed, job.refused, path);
  return Fail(kExitUnpackFailed, IsDiskFull(job.error) ? Msg::DiskFull : Msg::WriteFile, path);
}

bool Unpacker::FailJob(FileJob& job) {
  Abandon(job);
  return false;
}

bool Unpacker::ReplaceExisting(FileJob& job) const {
  // The file may have been renamed since it was looked at (Windows names a handle after the
  // file's present name). Wine keeps the name a handle was opened under, so it can tell nothing
  // new there; its rename by path moves whatever stands at the name now, a link itself and never
  // what it leads to.
  if (!renamesByPath_ && folder_ops::IsLink(job.existing, OwnNameOf(job.folder), job.name)) {
    job.refused = Msg::LinkAtFile;
    return FailJob(job);
  }
  // The old file steps aside under a backup name, so that a roll-back can bring it back.
  for (int attempt = 0; attempt < 100; ++attempt) {
    job.backup = TempName(L".old");
    job.error = folder_ops::Rename(job.existing, job.folderHandle, job.backup, false);
    if (!IsTaken(job.error)) break;
  }
  if (job.error) return FailJob(job);
  job.error = folder_ops::Rename(job.file, job.folderHandle, job.name, false);
  if (job.error) {
    folder_ops::Rename(job.existing, job.folderHandle, job.name, false);
    return FailJob(job);
  }
  job.backupHandle = job.existing;
  job.existing = INVALID_HANDLE_VALUE;
  job.replaced = true;
  return true;
}

// Flushes the file and sets its date, then puts it in place: over the file there (kept as a
// backup), or renamed from its temporary name, or already under its own name.
bool Unpacker::Finish(FileJob& job, const platform::DosTime& t) const {
  if (job.file == INVALID_HANDLE_VALUE) return false;
  if (!FlushBuffer(job)) return FailJob(job);
  SetWriteTime(job.file, t);
  if (!job.direct) {
    // Wine renames by the path the folder was opened under: only while it still leads there.
    if (renamesByPath_ && !FolderInPlace(job.folder)) {
      job.error = ERROR_CANT_RESOLVE_FILENAME;
      return FailJob(job);
    }
    if (job.existing == INVALID_HANDLE_VALUE) {
      job.error = folder_ops::Rename(job.file, job.folderHandle, job.name, false);
      // A file that appeared at the name meanwhile is replaced like one that was there.
      if (IsTaken(job.error)) {
        job.error = folder_ops::Open(job.folderHandle, job.name, FILE_READ_ATTRIBUTES | DELETE,
                                     FILE_OPEN, Kind::Any, &job.existing);
        if (!job.error) {
          job.refused = CheckExisting(job.existing, OwnNameOf(job.folder), job.name);
          if (job.refused != Msg::None) return FailJob(job);
        }
      }
      if (job.error) return FailJob(job);
    }
    if (job.existing != INVALID_HANDLE_VALUE && !ReplaceExisting(job)) return false;
  }
  job.placed = true;
  job.tempName.clear();
  // The file is in place, so a roll-back removes it (Record); a close that fails (a network
  // drive's delayed write) still fails the file.
  const bool closed = CloseHandle(job.file) != 0;
  job.file = INVALID_HANDLE_VALUE;
  if (!closed) {
    job.error = GetLastError();
    return false;
  }
  return true;
}

void Unpacker::Record(FileJob& job) {
  if (job.replaced) {
    // The backup's handle is kept (within the limit) to delete it by at the end.
    HANDLE kept = job.backupHandle;
    if (keptCount_ >= kMaxKept) {
      CloseHandle(kept);
      kept = INVALID_HANDLE_VALUE;
    } else {
      ++keptCount_;
    }
    replaced_.push_back(Replaced{job.folder, job.name, job.backup, kept});
  } else if (job.placed) {
    createdNames_ += job.name;
    createdFiles_.emplace_back(job.folder, createdNames_.size());
  }
  job.backupHandle = INVALID_HANDLE_VALUE;
  job.placed = false;
}

Outcome Unpacker::FinishFile(const platform::DosTime& t) {
  const bool ok = Finish(current_, t);
  const bool replaced = current_.replaced;
  Record(current_);
  current_.replaced = replaced;
  return ok ? Outcome() : FailureOf(current_);
}

void Unpacker::Abandon(FileJob& job) {
  if (job.file != INVALID_HANDLE_VALUE) {
    // The file was made by this run and is still open: deleted through its own handle.
    if (!job.tempName.empty())
      folder_ops::DeleteAndClose(job.file);
    else
      CloseHandle(job.file);
    job.file = INVALID_HANDLE_VALUE;
  }
  if (job.existing != INVALID_HANDLE_VALUE) {
    CloseHandle(job.existing);
    job.existing = INVALID_HANDLE_VALUE;
  }
  job.tempName.clear();
  job.used = 0;
}

void Unpacker::Commit() {
  // A backup still open is deleted through its handle: it is the old file itself, wherever it
  // stands, and never what a link there leads to.
  for (const Replaced& r : replaced_) {
    if (r.handle != INVALID_HANDLE_VALUE)
      folder_ops::DeleteAndClose(r.handle);
    else
      folder_ops::DeleteAt(folders_[r.folder].handle, folders_[r.folder].own, r.backup);
  }
  replaced_.clear();
  keptCount_ = 0;
}

// Puts a replaced file back from its backup, over the file that took its place.
void Unpacker::Restore(const Replaced& r) {
  const HANDLE folder = folders_[r.folder].handle;
  HANDLE h;
  if (folder_ops::Open(folder, r.backup, FILE_READ_ATTRIBUTES | DELETE, FILE_OPEN, Kind::File, &h))
    return;
  if (!folder_ops::IsLink(h, folders_[r.folder].own, r.backup) &&
      (!renamesByPath_ || FolderInPlace(r.folder)))
    folder_ops::Rename(h, folder, r.name, true);
  CloseHandle(h);
}

// The folders' handles are kept without the right to delete: a handle with it would keep every
// program that does not share that right (a started command's working folder, say) from opening
// the folder. A folder this run made is opened again with it, by its name in the folder above,
// and deleted only when that is still the same folder.
void Unpacker::RemoveFolder(size_t i) {
  const Folder& f = folders_[i];
  HANDLE h = INVALID_HANDLE_VALUE;
  DWORD e = ERROR_NOT_SUPPORTED;
  if (f.created)
    e = f.parent == kNone ? folder_ops::OpenFolderByPath(target_, true, &h)
                          : folder_ops::Open(folders_[f.parent].handle, f.name,
                                             kFolderAccess | DELETE, FILE_OPEN, Kind::Folder, &h);
  const bool same = !e && folder_ops::SameFile(h, f.handle);
  CloseHandle(f.handle);
  if (same)
    folder_ops::DeleteAndClose(h);
  else if (!e)
    CloseHandle(h);
}

void Unpacker::RemoveCreated() {
  Abandon(current_);
  for (size_t i = createdFiles_.size(); i-- > 0;) {
    const size_t begin = i ? createdFiles_[i - 1].second : 0;
    const std::wstring name = createdNames_.substr(begin, createdFiles_[i].second - begin);
    const Folder& folder = folders_[createdFiles_[i].first];
    // A program that has only just ended may still hold a file for a moment.
    for (int attempt = 0; attempt < 20; ++attempt) {
      const DWORD e = folder_ops::DeleteAt(folder.handle, folder.own, name);
      if (!e || IsMissing(e) || e == ERROR_CANT_RESOLVE_FILENAME) break;
      Sleep(100);
    }
  }
  createdNames_.clear();
  createdFiles_.clear();
  for (auto it = replaced_.rbegin(); it != replaced_.rend(); ++it) {
    Restore(*it);
    if (it->handle != INVALID_HANDLE_VALUE) CloseHandle(it->handle);
  }
  replaced_.clear();
  for (HANDLE& h : kept_)
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  kept_.clear();
  foundFree_.clear();
  keptCount_ = 0;
  // Newest first, so each folder is empty of this run's folders when it is deleted; one that
  // holds anything else stays.
  for (size_t i = folders_.size(); i-- > 0;) RemoveFolder(i);
  folders_.clear();
  folderIndex_.clear();
  for (auto it = createdAbove_.rbegin(); it != createdAbove_.rend(); ++it)
    RemoveDirectoryW(it->c_str());
  createdAbove_.clear();
  targetCreated_ = false;
}
