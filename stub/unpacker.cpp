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
      tempCounter_(GetCurrentProcessId() << 16 ^ GetTickCount()) {}

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

std::wstring Unpacker::TempName(const wchar_t* extension) {
  return L"~tbx" + Hex(tempCounter_++) + extension;
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
  folders_.push_back(Folder{h, kNone, std::wstring(), targetCreated_, folder_ops::NameOf(h)});
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
  folders_.push_back(Folder{h, parent, name, made, folder_ops::NameOf(h)});
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
  const HANDLE h = CreateFileW(FolderPath(index).c_str(), FILE_READ_ATTRIBUTES,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  const bool same = folder_ops::SameIndex(h, folders_[index].handle);
  CloseHandle(h);
  return same;
}

Outcome Unpacker::CheckExisting(HANDLE h, size_t folder, const std::wstring& name) {
  DWORD a;
  // Replacing a link would replace, or on some systems delete, the file it leads to.
  const bool link = folder_ops::IsLink(h, folders_[folder].own, name, &a);
  if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY))
    return Fail(kExitUnpackFailed, Msg::FolderInTheWay, DisplayPath(PathOf(folder, name)));
  if (link) return Fail(kExitUnpackFailed, Msg::LinkAtFile, DisplayPath(PathOf(folder, name)));
  if (a & FILE_ATTRIBUTE_READONLY)
    return Fail(kExitUnpackFailed, Msg::ReadOnlyFile, DisplayPath(PathOf(folder, name)));
  return Outcome();
}

Outcome Unpacker::OpenExisting(size_t folder, const std::wstring& name) {
  const DWORD e = folder_ops::Open(folders_[folder].handle, name, FILE_READ_ATTRIBUTES | DELETE,
                                   FILE_OPEN, Kind::Any, &existing_);
  if (IsMissing(e)) return Outcome();
  if (e) {
    lastError_ = e;
    return WriteFailure();
  }
  Outcome o = CheckExisting(existing_, folder, name);
  if (!o.ok()) {
    CloseHandle(existing_);
    existing_ = INVALID_HANDLE_VALUE;
  }
  return o;
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
    if (keep) {
      // A kept file is never written, renamed or deleted: an open as a file tells whether it
      // is there and no folder. (Wine finds nothing relative to a folder opened relative to
      // another with NtQueryAttributesFile, which would need no handle.)
      HANDLE h;
      DWORD e = folder_ops::Open(folders_[folder].handle, name, FILE_READ_ATTRIBUTES, FILE_OPEN,
                                 Kind::File, &h);
      if (e == ERROR_ACCESS_DENIED) {  // a folder, or a file that may not be opened
        e = folder_ops::Open(folders_[folder].handle, name, 0, FILE_OPEN, Kind::Any, &h);
        if (!e && (folder_ops::Attributes(h) & FILE_ATTRIBUTE_DIRECTORY)) {
          CloseHandle(h);
          return Fail(kExitUnpackFailed, Msg::FolderInTheWay, DisplayPath(PathOf(folder, name)));
        }
      }
      if (e) continue;
      CloseHandle(h);
      existing.push_back(i);
      continue;
    }
    folder_ = folder;
    name_ = name;
    o = OpenExisting(folder, name);
    if (!o.ok()) return o;
    if (existing_ == INVALID_HANDLE_VALUE) {
      foundFree_[i] = true;
      continue;
    }
    if (keptCount_ < kMaxKept) {
      kept_[i] = existing_;
      ++keptCount_;
    } else {
      CloseHandle(existing_);
    }
    existing_ = INVALID_HANDLE_VALUE;
    existing.push_back(i);
  }
  return Outcome();
}

Outcome Unpacker::BeginFile(const std::wstring& relative, size_t entry) {
  AbandonFile();
  std::wstring folderRel;
  Split(relative, folderRel, name_);
  Outcome o = EnterFolder(folderRel, true, &folder_);
  if (!o.ok()) return o;
  const HANDLE folder = folders_[folder_].handle;
  // Nothing can be replaced in a folder this run created: the file is written under its own
  // name (every new name costs a directory search under Wine; this halves them). A temporary
  // name there too would keep a killed run from leaving a partial file under its own name, but
  // costs about a third more unpacking time under Wine for 8,000 files, so it is not used.
  direct_ = folders_[folder_].created;
  if (!direct_) {
    // What stands at the name is looked at before anything is written for this file (a
    // read-only file is never replaced: Windows refuses to rename over one, Wine does not), and
    // kept open to be moved aside when the new file is complete. FindExisting has done that
    // already for the entries it was asked about: its handle is taken over, and a name it found
    // free is not looked up again (a file that appears there meanwhile is found by the rename).
    const bool known = entry < kept_.size();
    if (known && kept_[entry] != INVALID_HANDLE_VALUE) {
      existing_ = kept_[entry];
      kept_[entry] = INVALID_HANDLE_VALUE;
      --keptCount_;
    } else if (!known || !foundFree_[entry]) {
      o = OpenExisting(folder_, name_);
      if (!o.ok()) return o;
    }
  }
  for (int attempt = 0; attempt < 100; ++attempt) {
    tempName_ = direct_ ? name_ : TempName(L".tmp");
    lastError_ = folder_ops::Open(folder, tempName_, kFileAccess, FILE_CREATE, Kind::File, &file_,
                                  nullptr, true);
    if (!lastError_) break;
    if (direct_ || !IsTaken(lastError_)) break;
  }
  if (file_ == INVALID_HANDLE_VALUE) {
    tempName_.clear();
    const Outcome failed = WriteFailure();
    AbandonFile();
    return failed;
  }
  if (buffer_.empty()) buffer_.resize(kWriteBuffer);
  used_ = 0;
  return Outcome();
}

bool Unpacker::WriteAll(const uint8_t* data, size_t n) {
  while (n > 0) {
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(n, 16u << 20));
    DWORD written = 0;
    if (!WriteFile(file_, data, chunk, &written, nullptr) || written == 0) {
      lastError_ = GetLastError();
      if (lastError_ == 0) lastError_ = ERROR_WRITE_FAULT;
      return false;
    }
    data += written;
    n -= written;
  }
  return true;
}

bool Unpacker::FlushBuffer() {
  if (used_ == 0) return true;
  bool ok = WriteAll(buffer_.data(), used_);
  used_ = 0;
  return ok;
}

bool Unpacker::Write(const uint8_t* data, size_t n) {
  if (file_ == INVALID_HANDLE_VALUE) return false;
  if (used_ + n > buffer_.size()) {
    if (!FlushBuffer()) return false;
    if (n >= buffer_.size()) return WriteAll(data, n);
  }
  std::copy(data, data + n, buffer_.begin() + used_);
  used_ += n;
  return true;
}

Outcome Unpacker::WriteFailure() const {
  return Fail(kExitUnpackFailed, IsDiskFull(lastError_) ? Msg::DiskFull : Msg::WriteFile,
              DisplayPath(PathOf(folder_, name_)));
}

Outcome Unpacker::FailFile() {
  Outcome o = WriteFailure();
  AbandonFile();
  return o;
}

Outcome Unpacker::ReplaceExisting() {
  const HANDLE folder = folders_[folder_].handle;
  // The file may have been renamed since it was looked at (Windows names a handle after the
  // file's present name). Wine keeps the name a handle was opened under, so it can tell nothing
  // new there; its rename by path moves whatever stands at the name now, a link itself and never
  // what it leads to.
  if (!renamesByPath_ && folder_ops::IsLink(existing_, folders_[folder_].own, name_)) {
    AbandonFile();
    return Fail(kExitUnpackFailed, Msg::LinkAtFile, DisplayPath(PathOf(folder_, name_)));
  }
  // The old file steps aside under a backup name, so that a roll-back can bring it back.
  std::wstring backup;
  for (int attempt = 0; attempt < 100; ++attempt) {
    backup = TempName(L".old");
    lastError_ = folder_ops::Rename(existing_, folder, backup, false);
    if (!IsTaken(lastError_)) break;
  }
  if (lastError_) return FailFile();
  lastError_ = folder_ops::Rename(file_, folder, name_, false);
  if (lastError_) {
    folder_ops::Rename(existing_, folder, name_, false);
    return FailFile();
  }
  // The backup's handle is kept (within the limit) to delete it by at the end.
  HANDLE kept = existing_;
  existing_ = INVALID_HANDLE_VALUE;
  if (keptCount_ >= kMaxKept) {
    CloseHandle(kept);
    kept = INVALID_HANDLE_VALUE;
  } else {
    ++keptCount_;
  }
  replaced_.push_back(Replaced{folder_, name_, backup, kept});
  lastReplaced_ = true;
  return Outcome();
}

// Flushes the file and sets its date, then puts it in place: over the file there (kept as a
// backup), or renamed from its temporary name, or already under its own name.
Outcome Unpacker::FinishFile(const platform::DosTime& t) {
  if (file_ == INVALID_HANDLE_VALUE) return WriteFailure();
  if (!FlushBuffer()) return FailFile();
  SetWriteTime(file_, t);
  lastReplaced_ = false;
  if (!direct_) {
    // Wine renames by the path the folder was opened under: only while it still leads there.
    if (renamesByPath_ && !FolderInPlace(folder_)) {
      lastError_ = ERROR_CANT_RESOLVE_FILENAME;
      return FailFile();
    }
    if (existing_ == INVALID_HANDLE_VALUE) {
      lastError_ = folder_ops::Rename(file_, folders_[folder_].handle, name_, false);
      // A file that appeared at the name meanwhile is replaced like one that was there.
      if (IsTaken(lastError_)) {
        lastError_ =
            folder_ops::Open(folders_[folder_].handle, name_, FILE_READ_ATTRIBUTES | DELETE,
                             FILE_OPEN, Kind::Any, &existing_);
        if (!lastError_) {
          Outcome o = CheckExisting(existing_, folder_, name_);
          if (!o.ok()) {
            AbandonFile();
            return o;
          }
        }
      }
      if (lastError_) return FailFile();
    }
    if (existing_ != INVALID_HANDLE_VALUE) {
      Outcome o = ReplaceExisting();
      if (!o.ok()) return o;
    }
  }
  if (!lastReplaced_) {
    createdNames_ += name_;
    createdFiles_.emplace_back(folder_, createdNames_.size());
  }
  tempName_.clear();
  // The file is in place and recorded, so a roll-back removes it; a close that fails (a
  // network drive's delayed write) still fails the file.
  const bool closed = CloseHandle(file_) != 0;
  file_ = INVALID_HANDLE_VALUE;
  if (!closed) {
    lastError_ = GetLastError();
    return WriteFailure();
  }
  return Outcome();
}

void Unpacker::AbandonFile() {
  if (file_ != INVALID_HANDLE_VALUE) {
    // The file was made by this run and is still open: deleted through its own handle.
    if (!tempName_.empty())
      folder_ops::DeleteAndClose(file_);
    else
      CloseHandle(file_);
    file_ = INVALID_HANDLE_VALUE;
  }
  if (existing_ != INVALID_HANDLE_VALUE) {
    CloseHandle(existing_);
    existing_ = INVALID_HANDLE_VALUE;
  }
  tempName_.clear();
  used_ = 0;
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
  AbandonFile();
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
