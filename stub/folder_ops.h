// File operations relative to an open folder handle, so that a folder renamed, or replaced by a
// link or junction, after it was opened can never redirect them: a name is looked up in the
// folder the handle holds, not along a path. Every name is one component (no backslash).
//
// All functions return 0 on success or the Windows error code of the failure.
#pragma once

#include <windows.h>

#include <string>

namespace folder_ops {

enum class Kind { File, Folder, Any };

// Opens (FILE_OPEN) or creates (FILE_CREATE, which never goes through anything already there,
// not even a link that points nowhere) name in folder, as a file, a folder or either. A link
// or junction at name is opened itself, not what it points to, where the system can do that
// (Wine cannot: see IsLink). created: whether this call made it (may be null).
// exclusive: no one else may open it while it is open.
DWORD Open(HANDLE folder, const std::wstring& name, ACCESS_MASK access, ULONG disposition,
           Kind kind, HANDLE* out, bool* created = nullptr, bool exclusive = false);
// Opens a folder by its full path, as the folder a link there leads to (the target folder is
// the user's choice); withDelete adds the right to delete it.
DWORD OpenFolderByPath(const std::wstring& path, bool withDelete, HANDLE* out);
// The attributes of the open handle (FILE_ATTRIBUTE_...); INVALID_FILE_ATTRIBUTES on failure.
DWORD Attributes(HANDLE handle);
// The open handle's own name below its volume (\\folder\\file); empty when it cannot be asked.
std::wstring NameOf(HANDLE handle);
// True when the open handle, opened as name in the folder whose NameOf is folderName, is a link,
// a junction or another name-surrogate reparse point. Wine opens a file link as the file it
// leads to and names the handle after that file: for it, the handle's own name must also be
// folderName plus name, which a followed link's is not. attributes (may be null) receives the
// handle's attributes from the same query (INVALID_FILE_ATTRIBUTES when they cannot be asked).
bool IsLink(HANDLE handle, const std::wstring& folderName, const std::wstring& name,
            DWORD* attributes = nullptr);
// The same file or folder: same volume and file index.
bool SameFile(HANDLE a, HANDLE b);
// The same file index (a cheap SameFile for two handles known to be on one volume).
bool SameIndex(HANDLE a, HANDLE b);
// True where a rename through a handle still goes by the path the handle was opened under
// (Wine), so that a folder on the way replaced by a link redirects it.
bool RenamesByPath();
// Renames the open handle (opened with DELETE access) to newName in folder.
DWORD Rename(HANDLE handle, HANDLE folder, const std::wstring& newName, bool replace);
// Marks the open handle (opened with DELETE access) for deletion when it is closed, and closes
// it. A read-only file loses its read-only attribute first.
DWORD DeleteAndClose(HANDLE handle);
// Deletes the file name in folder (whose NameOf is folderName); a link there (see IsLink) is
// left alone (ERROR_CANT_RESOLVE_FILENAME), so that what it points to is never touched.
DWORD DeleteAt(HANDLE folder, const std::wstring& folderName, const std::wstring& name);

}  // namespace folder_ops
