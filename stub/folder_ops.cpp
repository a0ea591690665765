#include "stub/folder_ops.h"

#include <winternl.h>

#include <vector>

namespace folder_ops {
namespace {

DWORD ErrorOf(NTSTATUS status) {
  if (status >= 0) return 0;
  const DWORD e = RtlNtStatusToDosError(status);
  return e ? e : ERROR_GEN_FAILURE;
}

// A counted string over name, for the object attributes of a call relative to a folder.
UNICODE_STRING Counted(const std::wstring& name) {
  UNICODE_STRING u;
  u.Buffer = const_cast<PWSTR>(name.c_str());
  u.Length = static_cast<USHORT>(name.size() * sizeof(WCHAR));
  u.MaximumLength = u.Length;
  return u;
}

bool SameName(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                              static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace

std::wstring NameOf(HANDLE h) {
  std::vector<BYTE> buffer(sizeof(FILE_NAME_INFO) + 1024 * sizeof(WCHAR));
  for (int attempt = 0; attempt < 2; ++attempt) {
    auto* info = reinterpret_cast<FILE_NAME_INFO*>(buffer.data());
    if (GetFileInformationByHandleEx(h, FileNameInfo, info, static_cast<DWORD>(buffer.size())))
      return std::wstring(info->FileName, info->FileNameLength / sizeof(WCHAR));
    if (GetLastError() != ERROR_MORE_DATA) break;
    buffer.resize(sizeof(FILE_NAME_INFO) + info->FileNameLength + sizeof(WCHAR));
  }
  return std::wstring();
}

DWORD Open(HANDLE folder, const std::wstring& name, ACCESS_MASK access, ULONG disposition,
           Kind kind, HANDLE* out, bool* created, bool exclusive) {
  *out = INVALID_HANDLE_VALUE;
  if (created) *created = false;
  UNICODE_STRING uname = Counted(name);
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &uname, OBJ_CASE_INSENSITIVE, folder, nullptr);
  IO_STATUS_BLOCK io = {};
  HANDLE h = nullptr;
  ULONG options = FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_REPARSE_POINT;
  if (kind == Kind::File) options |= FILE_NON_DIRECTORY_FILE;
  if (kind == Kind::Folder) options |= FILE_DIRECTORY_FILE;
  const NTSTATUS status =
      NtCreateFile(&h, access | SYNCHRONIZE, &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL,
                   exclusive ? 0 : FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                   disposition, options, nullptr, 0);
  if (status < 0) return ErrorOf(status);
  *out = h;
  if (created) *created = io.Information == FILE_CREATED;
  return 0;
}

DWORD OpenFolderByPath(const std::wstring& path, bool withDelete, HANDLE* out) {
  *out = CreateFileW(path.c_str(),
                     FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE |
                         (withDelete ? DELETE : 0),
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                     FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (*out == INVALID_HANDLE_VALUE) return GetLastError();
  const DWORD a = Attributes(*out);
  if (a == INVALID_FILE_ATTRIBUTES || !(a & FILE_ATTRIBUTE_DIRECTORY)) {
    CloseHandle(*out);
    *out = INVALID_HANDLE_VALUE;
    return ERROR_DIRECTORY;
  }
  return 0;
}

DWORD Attributes(HANDLE handle) {
  FILE_ATTRIBUTE_TAG_INFO tag = {};
  if (!GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag))
    return INVALID_FILE_ATTRIBUTES;
  return tag.FileAttributes;
}

bool IsLink(HANDLE handle, const std::wstring& folderName, const std::wstring& name,
            DWORD* attributes) {
  FILE_ATTRIBUTE_TAG_INFO tag = {};
  const bool asked = GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag);
  if (attributes) *attributes = asked ? tag.FileAttributes : INVALID_FILE_ATTRIBUTES;
  if (!asked) return true;
  // Links and junctions stand for another name; a file kept by a cloud or deduplication
  // driver is a reparse point too, but is the file itself.
  if ((tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
      (tag.ReparseTag == 0 || IsReparseTagNameSurrogate(tag.ReparseTag)))
    return true;
  // Wine opens a file link as the file it leads to and names the handle after that file.
  const std::wstring own = NameOf(handle);
  std::wstring expected = folderName;
  if (own.empty() || expected.empty()) return true;
  if (expected.back() != L'\\') expected += L'\\';
  return !SameName(own, expected + name);
}

bool SameFile(HANDLE a, HANDLE b) {
  BY_HANDLE_FILE_INFORMATION x, y;
  return GetFileInformationByHandle(a, &x) && GetFileInformationByHandle(b, &y) &&
         x.dwVolumeSerialNumber == y.dwVolumeSerialNumber && x.nFileIndexHigh == y.nFileIndexHigh &&
         x.nFileIndexLow == y.nFileIndexLow;
}

bool RenamesByPath() {
  return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

bool SameIndex(HANDLE a, HANDLE b) {
  FILE_INTERNAL_INFORMATION x, y;
  IO_STATUS_BLOCK io;
  return NtQueryInformationFile(a, &io, &x, sizeof x, FileInternalInformation) >= 0 &&
         NtQueryInformationFile(b, &io, &y, sizeof y, FileInternalInformation) >= 0 &&
         x.IndexNumber.QuadPart == y.IndexNumber.QuadPart;
}

DWORD Rename(HANDLE handle, HANDLE folder, const std::wstring& newName, bool replace) {
  const size_t bytes = newName.size() * sizeof(WCHAR);
  std::vector<BYTE> buffer(sizeof(FILE_RENAME_INFORMATION) + bytes);
  auto* info = reinterpret_cast<FILE_RENAME_INFORMATION*>(buffer.data());
  info->ReplaceIfExists = replace ? TRUE : FALSE;
  info->RootDirectory = folder;
  info->FileNameLength = static_cast<ULONG>(bytes);
  std::copy(newName.begin(), newName.end(), info->FileName);
  IO_STATUS_BLOCK io = {};
  return ErrorOf(NtSetInformationFile(handle, &io, info, static_cast<ULONG>(buffer.size()),
                                      FileRenameInformation));
}

DWORD DeleteAndClose(HANDLE handle) {
  FILE_DISPOSITION_INFO disposition = {TRUE};
  DWORD e = 0;
  if (!SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition)) {
    e = GetLastError();
    FILE_BASIC_INFO basic = {};
    if (e == ERROR_ACCESS_DENIED &&
        GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic) &&
        (basic.FileAttributes & FILE_ATTRIBUTE_READONLY)) {
      basic.FileAttributes &= ~FILE_ATTRIBUTE_READONLY;
      if (!basic.FileAttributes) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
      if (SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof basic) &&
          SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition))
        e = 0;
      else
        e = GetLastError();
    }
  }
  CloseHandle(handle);
  return e;
}

DWORD DeleteAt(HANDLE folder, const std::wstring& folderName, const std::wstring& name) {
  HANDLE h;
  DWORD e = Open(folder, name, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, FILE_OPEN,
                 Kind::File, &h);
  if (e) return e;
  // Where a link is opened as what it points to, deleting through the handle would delete that.
  if (IsLink(h, folderName, name)) {
    CloseHandle(h);
    return ERROR_CANT_RESOLVE_FILENAME;
  }
  return DeleteAndClose(h);
}

}  // namespace folder_ops
