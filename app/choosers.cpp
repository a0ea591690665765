#include "app/choosers.h"

#include <commdlg.h>
#include <shlobj.h>

#include <cstring>
#include <string>

#include "app/window_text.h"
#include "resources/resource.h"
#include "settings/install_inf.h"
#include "support/file_access.h"

namespace {

// The last directory of "Pfad..." and the last file of the three text buttons, for this run.
char lastSourceDirectory[kPathBufferSize];
char lastTextFile[kPathBufferSize];

const char kBrowseTitle[] = "W\xE4hlen Sie ein Verzeichnis aus:";
const char kSfxFilter[] = "Ausf\xFChrbare Dateien |*.exe;|";
const char kTextFilter[] = "Text-Dateien|*.txt;|Alle Dateien (*.*)|*.*|";

// Preselects the initial directory (callback data) once the browser is ready.
int CALLBACK BrowseCallback(HWND browser, UINT message, LPARAM /*param*/, LPARAM data) {
  if (message == BFFM_INITIALIZED && data != 0) {
    SendMessageA(browser, BFFM_SETSELECTIONA, TRUE, data);
  }
  return 0;
}

// Copies text into a 260-byte buffer, or empties it when the text does not fit.
void CopyToPathBuffer(const std::string& text, char* buffer) {
  if (text.size() < static_cast<size_t>(kPathBufferSize)) {
    std::memcpy(buffer, text.c_str(), text.size() + 1);
  } else {
    buffer[0] = '\0';
  }
}

}  // namespace

bool BrowseForDirectory(HWND owner, char* path) {
  // Initial directory without surrounding blanks and without trailing backslashes.
  char initial[kPathBufferSize] = "";
  if (path != nullptr) {
    std::string text(path);
    size_t first = text.find_first_not_of(' ');
    size_t last = text.find_last_not_of(' ');
    text = (first == std::string::npos) ? std::string() : text.substr(first, last - first + 1);
    while (!text.empty() && text.back() == '\\') text.pop_back();
    CopyToPathBuffer(text, initial);
  }

  BROWSEINFOA info = {};
  info.hwndOwner = owner;
  info.pidlRoot = nullptr;
  info.pszDisplayName = nullptr;
  info.lpszTitle = kBrowseTitle;
  info.ulFlags = BIF_RETURNONLYFSDIRS;
  info.lpfn = BrowseCallback;
  info.lParam = reinterpret_cast<LPARAM>(initial);

  LPITEMIDLIST items = SHBrowseForFolderA(&info);
  if (items == nullptr) return false;

  // Convert into a separate buffer so that a failed conversion leaves path as it was.
  char chosen[kPathBufferSize] = "";
  bool converted = SHGetPathFromIDListA(items, chosen) != FALSE;
  IMalloc* allocator = nullptr;
  if (SUCCEEDED(SHGetMalloc(&allocator)) && allocator != nullptr) {
    allocator->Free(items);
    allocator->Release();
  }
  if (!converted || path == nullptr) return false;
  std::memcpy(path, chosen, std::strlen(chosen) + 1);
  return true;
}

bool ChooseFile(HWND owner, char* path, bool open, const char* filter, DWORD flags) {
  // "|" separates the parts; the dialog wants NUL separators and a double NUL at the end.
  std::string windowsFilter = filter != nullptr ? filter : "";
  for (char& c : windowsFilter) {
    if (c == '|') c = '\0';
  }
  windowsFilter.push_back('\0');  // with the string's own terminator: the double NUL

  char name[kPathBufferSize] = "";
  if (path != nullptr && std::strlen(path) < static_cast<size_t>(kPathBufferSize)) {
    std::strcpy(name, path);
  }

  OPENFILENAMEA data = {};
  data.lStructSize = sizeof(data);
  data.hwndOwner = owner;
  data.lpstrFilter = windowsFilter.c_str();
  data.lpstrCustomFilter = nullptr;
  data.nMaxCustFilter = 0;
  data.nFilterIndex = 0;
  data.lpstrFile = name;
  data.nMaxFile = kPathBufferSize;
  data.lpstrInitialDir = nullptr;
  data.lpstrTitle = nullptr;
  data.Flags = flags | OFN_EXPLORER;
  data.lpstrDefExt = "*";

  BOOL ok = open ? GetOpenFileNameA(&data) : GetSaveFileNameA(&data);
  if (!ok && CommDlgExtendedError() != 0) {
    // The dialog refused to start, usually because of the initial name: once more without it.
    name[0] = '\0';
    ok = open ? GetOpenFileNameA(&data) : GetSaveFileNameA(&data);
  }
  if (!ok || path == nullptr) return false;
  std::memcpy(path, name, std::strlen(name) + 1);
  return true;
}

void ChooseSourceDirectory(HWND dialog) {
  if (BrowseForDirectory(dialog, lastSourceDirectory)) {
    SetDlgItemTextA(dialog, IDC_SOURCE_DIR, lastSourceDirectory);
  }
}

void ChooseSfxName(HWND dialog) {
  char name[kPathBufferSize];
  CopyToPathBuffer(Settings.SfxName, name);
  if (ChooseFile(dialog, name, false, kSfxFilter,
                 OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_CREATEPROMPT)) {
    Settings.SfxName = name;
    SetWindowTextString(Settings.SfxName, GetDlgItem(dialog, IDC_SFX_NAME));
  }
}

void ChooseTextFile(HWND dialog, int targetId) {
  if (ChooseFile(dialog, lastTextFile, true, kTextFilter, OFN_HIDEREADONLY | OFN_FILEMUSTEXIST)) {
    std::string text;
    ReadTextFile(lastTextFile, text);
    SetWindowTextString(text, GetDlgItem(dialog, targetId));
  }
}
