#include "stub/unpacker.h"

#include <algorithm>

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
    : target_(target), tempCounter_(GetCurrentProcessId() << 16 ^ GetTickCount()) {}

Unpacker::~Unpacker() { AbandonFile(); }

std::wstring Unpacker::TempName(const wchar_t* extension) {
  return L"~tbx" + Hex(tempCounter_++) + extension;
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
    createdFolders_.push_back(*it);
    targetCreated_ = true;
  }
  if (targetCreated_) return Outcome();
  // A folder that exists may still refuse new files (no rights, a read-only medium): found out
  // now, before the first file, with a file that is gone as soon as its handle is closed.
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::wstring probe = JoinPath(target_, TempName(L".tmp"));
    HANDLE h = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      CloseHandle(h);
      return Outcome();
    }
    lastError_ = GetLastError();
    if (lastError_ != ERROR_FILE_EXISTS && lastError_ != ERROR_ALREADY_EXISTS) break;
  }
  return Fail(kExitUnpackFailed, Msg::NoWriteRights, DisplayPath(target_), ErrorWords(lastError_));
}

Outcome Unpacker::FindExisting(size_t count, const std::function<std::wstring(size_t)>& relativeOf,
                               bool keepReadOnly, std::vector<size_t>& existing) {
  existing.clear();
  if (targetCreated_) return Outcome();  // a new target holds nothing
  std::set<std::wstring> present, absent;  // relative folders looked at
  for (size_t i = 0; i < count; ++i) {
    const std::wstring relative = relativeOf(i);
    const size_t cut = relative.rfind(L'\\');
    if (cut != std::wstring::npos) {
      const std::wstring folder = relative.substr(0, cut);
      if (absent.count(folder)) continue;
      if (!present.count(folder)) {
        const std::wstring full = JoinPath(target_, folder);
        const DWORD a = GetFileAttributesW(full.c_str());
        if (a == INVALID_FILE_ATTRIBUTES) {
          absent.insert(folder);
          continue;
        }
        if (!(a & FILE_ATTRIBUTE_DIRECTORY)) return FileWhereFolderGoes(full);
        present.insert(folder);
      }
    }
    const std::wstring full = JoinPath(target_, relative);
    const DWORD a = GetFileAttributesW(full.c_str());
    if (a == INVALID_FILE_ATTRIBUTES) continue;
    if (a & FILE_ATTRIBUTE_DIRECTORY)
      return Fail(kExitUnpackFailed, Msg::FolderInTheWay, DisplayPath(full));
    if ((a & FILE_ATTRIBUTE_READONLY) && !keepReadOnly)
      return Fail(kExitUnpackFailed, Msg::ReadOnlyFile, DisplayPath(full));
    existing.push_back(i);
  }
  return Outcome();
}

Outcome Unpacker::EnsureFolder(const std::wstring& relativeFolder) {
  if (relativeFolder.empty() || knownFolders_.count(relativeFolder)) return Outcome();
  size_t cut = relativeFolder.rfind(L'\\');
  if (cut != std::wstring::npos) {
    Outcome o = EnsureFolder(relativeFolder.substr(0, cut));
    if (!o.ok()) return o;
  }
  const std::wstring full = JoinPath(target_, relativeFolder);
  DWORD a = GetFileAttributesW(full.c_str());
  if (a == INVALID_FILE_ATTRIBUTES) {
    if (!CreateDirectoryW(full.c_str(), nullptr)) {
      lastError_ = GetLastError();
      return Fail(kExitUnpackFailed, Msg::CreateDir, DisplayPath(full));
    }
    createdFolders_.push_back(full);
    createdRelative_.insert(relativeFolder);
  } else if (!(a & FILE_ATTRIBUTE_DIRECTORY)) {
    return FileWhereFolderGoes(full);
  } else if (a & FILE_ATTRIBUTE_REPARSE_POINT) {
    // A junction or link inside the target could lead anywhere: never write through it.
    return Fail(kExitUnpackFailed, Msg::LinkInTarget, DisplayPath(full));
  }
  knownFolders_.insert(relativeFolder);
  return Outcome();
}

Outcome Unpacker::BeginFile(const std::wstring& relative) {
  AbandonFile();
  relative_ = relative;
  size_t cut = relative.rfind(L'\\');
  std::wstring folderRel = cut == std::wstring::npos ? std::wstring() : relative.substr(0, cut);
  Outcome o = EnsureFolder(folderRel);
  if (!o.ok()) return o;
  const std::wstring folder = folderRel.empty() ? target_ : JoinPath(target_, folderRel);
  folderIsNew_ = folderRel.empty() ? targetCreated_ : createdRelative_.count(folderRel) != 0;
  finalPath_ = JoinPath(target_, relative);
  // A read-only file is never replaced. Windows refuses to rename over one, Wine does not: the
  // extractor looks itself, before it writes anything for this file, so both behave alike.
  if (!folderIsNew_) {
    const DWORD a = GetFileAttributesW(finalPath_.c_str());
    if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_READONLY) &&
        !(a & FILE_ATTRIBUTE_DIRECTORY))
      return Fail(kExitUnpackFailed, Msg::ReadOnlyFile, DisplayPath(finalPath_));
  }
  // Nothing can be replaced in a folder this run created: the file is written under its own
  // name (every new name costs a directory search under Wine; this halves them). A temporary
  // name there too would keep a killed run from leaving a partial file under its own name, but
  // costs about a third more unpacking time under Wine for 8,000 files, so it is not used.
  direct_ = folderIsNew_;
  for (int attempt = 0; attempt < 100; ++attempt) {
    tempPath_ = direct_ ? finalPath_ : JoinPath(folder, TempName(L".tmp"));
    file_ = CreateFileW(tempPath_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file_ != INVALID_HANDLE_VALUE) break;
    lastError_ = GetLastError();
    if (direct_ || (lastError_ != ERROR_FILE_EXISTS && lastError_ != ERROR_ALREADY_EXISTS)) break;
  }
  if (file_ == INVALID_HANDLE_VALUE) {
    tempPath_.clear();
    return Fail(kExitUnpackFailed, IsDiskFull(lastError_) ? Msg::DiskFull : Msg::WriteFile,
                DisplayPath(finalPath_));
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
              DisplayPath(finalPath_));
}

Outcome Unpacker::FailFile() {
  Outcome o = WriteFailure();
  AbandonFile();
  return o;
}

bool Unpacker::ReplaceExisting() {
  // The old file steps aside under a backup name, so that a roll-back can bring it back.
  const size_t cut = finalPath_.rfind(L'\\');
  const std::wstring backup = JoinPath(finalPath_.substr(0, cut), TempName(L".old"));
  if (!MoveFileExW(finalPath_.c_str(), backup.c_str(), 0)) {
    lastError_ = GetLastError();
    return false;
  }
  if (!MoveFileExW(tempPath_.c_str(), finalPath_.c_str(), 0)) {
    lastError_ = GetLastError();
    MoveFileExW(backup.c_str(), finalPath_.c_str(), 0);
    return false;
  }
  replaced_.emplace_back(finalPath_, backup);
  lastReplaced_ = true;
  return true;
}

// Flushes and closes the file with its date set, then puts it in place: over the file there
// (kept as a backup), or renamed from its temporary name, or already under its own name.
Outcome Unpacker::FinishFile(const platform::DosTime& t) {
  if (file_ == INVALID_HANDLE_VALUE) return WriteFailure();
  if (!FlushBuffer()) return FailFile();
  SetWriteTime(file_, t);
  if (!CloseHandle(file_)) {
    lastError_ = GetLastError();
    file_ = INVALID_HANDLE_VALUE;
    return FailFile();
  }
  file_ = INVALID_HANDLE_VALUE;
  // In a folder this run created nothing can be in the way (names never collide).
  const bool existed =
      !folderIsNew_ && GetFileAttributesW(finalPath_.c_str()) != INVALID_FILE_ATTRIBUTES;
  lastReplaced_ = false;
  if (existed) {
    if (!ReplaceExisting()) return FailFile();
  } else if (!direct_ &&
             !MoveFileExW(tempPath_.c_str(), finalPath_.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    lastError_ = GetLastError();
    return FailFile();
  }
  tempPath_.clear();
  if (!existed) {
    createdFiles_ += finalPath_;
    createdFileEnds_.push_back(createdFiles_.size());
  }
  return Outcome();
}

void Unpacker::AbandonFile() {
  if (file_ != INVALID_HANDLE_VALUE) {
    CloseHandle(file_);
    file_ = INVALID_HANDLE_VALUE;
  }
  if (!tempPath_.empty()) {
    DeleteFileW(tempPath_.c_str());
    tempPath_.clear();
  }
  used_ = 0;
}

void Unpacker::Commit() {
  for (const auto& r : replaced_) DeleteFileW(r.second.c_str());
  replaced_.clear();
}

void Unpacker::RemoveCreated() {
  AbandonFile();
  for (size_t i = createdFileEnds_.size(); i-- > 0;) {
    const size_t begin = i ? createdFileEnds_[i - 1] : 0;
    const std::wstring path = createdFiles_.substr(begin, createdFileEnds_[i] - begin);
    // A program that has only just ended may still hold a file for a moment.
    for (int attempt = 0; attempt < 20; ++attempt) {
      if (DeleteFileW(path.c_str())) break;
      DWORD e = GetLastError();
      if (e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND) break;
      if (e == ERROR_ACCESS_DENIED) {
        DWORD a = GetFileAttributesW(path.c_str());
        if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_READONLY)) {
          SetFileAttributesW(path.c_str(), a & ~FILE_ATTRIBUTE_READONLY);
          continue;
        }
      }
      Sleep(100);
    }
  }
  createdFiles_.clear();
  createdFileEnds_.clear();
  for (auto it = replaced_.rbegin(); it != replaced_.rend(); ++it)
    MoveFileExW(it->second.c_str(), it->first.c_str(), MOVEFILE_REPLACE_EXISTING);
  replaced_.clear();
  for (auto it = createdFolders_.rbegin(); it != createdFolders_.rend(); ++it)
    RemoveDirectoryW(it->c_str());
  createdFolders_.clear();
  knownFolders_.clear();
  createdRelative_.clear();
  targetCreated_ = false;
}
