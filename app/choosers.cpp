#include "app/choosers.h"

#include <commdlg.h>
#include <shlobj.h>

#include <string>

#include "app/window_text.h"
#include "platform/win32/wide_text.h"
#include "resources/resource.h"
#include "settings/install_inf.h"
#include "support/file_access.h"

namespace {

// The last directory of "Pfad..." and the last file of the three text buttons, for this run.
std::wstring lastSourceDirectory;
std::wstring lastTextFile;

const char kBrowseTitle[] = "W\xE4hlen Sie ein Verzeichnis aus:";
const char kSfxFilter[] = "Ausf\xFChrbare Dateien |*.exe;|";
const char kIconFilter[] = "Symboldateien (*.ico)|*.ico|Alle Dateien (*.*)|*.*|";
const char kTextFilter[] = "Text-Dateien|*.txt;|Alle Dateien (*.*)|*.*|";
const char kOnlyCodePage[] = "Tambrix nimmt Pfade nur in Codepage 1252 an; ";

// Preselects the initial directory (callback data) once the browser is ready.
int CALLBACK BrowseCallback(HWND browser, UINT message, LPARAM /*param*/, LPARAM data) {
  if (message == BFFM_INITIALIZED && data != 0) {
    SendMessageW(browser, BFFM_SETSELECTIONW, TRUE, data);
  }
  return 0;
}

// Copies text into a path buffer of kPathBufferSize characters, or empties it when the text
// does not fit.
void CopyToPathBuffer(const std::wstring& text, wchar_t* buffer) {
  if (text.size() < static_cast<size_t>(kPathBufferSize)) {
    text.copy(buffer, text.size());
    buffer[text.size()] = L'\0';
  } else {
    buffer[0] = L'\0';
  }
}

// chosen as a code page 1252 path in out. False after a message that names chosen and says that
// nothing follows from the choice (rest).
bool AcceptedPath(HWND dialog, const char* kind, const std::wstring& chosen, std::string& out,
                  const char* rest) {
  if (platform::Cp1252OfUtf16(chosen, out)) return true;
  ShowOutsideCodePage(dialog, platform::Utf16OfCp1252(std::string(kind) + " \"") + chosen + L"\"",
                      chosen, std::string(kOnlyCodePage) + rest);
  return false;
}

}  // namespace

bool BrowseForDirectory(HWND owner, std::wstring& path) {
  // Initial directory without surrounding blanks and without trailing backslashes.
  wchar_t initial[kPathBufferSize] = L"";
  std::wstring text = path;
  const size_t first = text.find_first_not_of(L' ');
  const size_t last = text.find_last_not_of(L' ');
  text = (first == std::wstring::npos) ? std::wstring() : text.substr(first, last - first + 1);
  while (!text.empty() && text.back() == L'\\') text.pop_back();
  CopyToPathBuffer(text, initial);

  const std::wstring title = platform::Utf16OfCp1252(kBrowseTitle);
  BROWSEINFOW info = {};
  info.hwndOwner = owner;
  info.pidlRoot = nullptr;
  info.pszDisplayName = nullptr;
  info.lpszTitle = title.c_str();
  info.ulFlags = BIF_RETURNONLYFSDIRS;
  info.lpfn = BrowseCallback;
  info.lParam = reinterpret_cast<LPARAM>(initial);

  LPITEMIDLIST items = SHBrowseForFolderW(&info);
  if (items == nullptr) return false;

  // Convert into a separate buffer so that a failed conversion leaves path as it was.
  wchar_t chosen[kPathBufferSize] = L"";
  const bool converted = SHGetPathFromIDListW(items, chosen) != FALSE;
  IMalloc* allocator = nullptr;
  if (SUCCEEDED(SHGetMalloc(&allocator)) && allocator != nullptr) {
    allocator->Free(items);
    allocator->Release();
  }
  if (!converted) return false;
  path = chosen;
  return true;
}

bool ChooseFile(HWND owner, std::wstring& path, bool open, const char* filter, DWORD flags) {
  // "|" separates the parts; the dialog wants NUL separators and a double NUL at the end.
  std::wstring windowsFilter = platform::Utf16OfCp1252(filter != nullptr ? filter : "");
  for (wchar_t& c : windowsFilter) {
    if (c == L'|') c = L'\0';
  }
  windowsFilter.push_back(L'\0');  // with the string's own terminator: the double NUL

  wchar_t name[kPathBufferSize] = L"";
  CopyToPathBuffer(path, name);

  OPENFILENAMEW data = {};
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
  data.lpstrDefExt = L"*";

  BOOL ok = open ? GetOpenFileNameW(&data) : GetSaveFileNameW(&data);
  if (!ok && CommDlgExtendedError() != 0) {
    // The dialog refused to start, usually because of the initial name: once more without it.
    name[0] = L'\0';
    ok = open ? GetOpenFileNameW(&data) : GetSaveFileNameW(&data);
  }
  if (!ok) return false;
  path = name;
  return true;
}

void ChooseSourceDirectory(HWND dialog) {
  std::wstring chosen = lastSourceDirectory;
  if (!BrowseForDirectory(dialog, chosen)) return;
  std::string path;
  if (!AcceptedPath(dialog, "Der Ordner", chosen, path,
                    "das Feld Quellverzeichnis bleibt, wie es war."))
    return;
  lastSourceDirectory = chosen;
  SetWindowTextString(path, GetDlgItem(dialog, IDC_SOURCE_DIR));
}

void ChooseSfxName(HWND dialog) {
  std::wstring chosen = platform::Utf16OfCp1252(Settings.SfxName);
  if (!ChooseFile(dialog, chosen, false, kSfxFilter,
                  OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_CREATEPROMPT))
    return;
  std::string path;
  if (!AcceptedPath(dialog, "Der Archivname", chosen, path,
                    "das Feld SFX-Name bleibt, wie es war."))
    return;
  Settings.SfxName = path;
  SetWindowTextString(Settings.SfxName, GetDlgItem(dialog, IDC_SFX_NAME));
}

void ChooseIconFile(HWND dialog) {
  HWND field = GetDlgItem(dialog, IDC_ICON_FILE);
  std::wstring chosen = WindowTextWide(field);
  if (!ChooseFile(dialog, chosen, true, kIconFilter,
                  OFN_HIDEREADONLY | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST))
    return;
  std::string path;
  if (!AcceptedPath(dialog, "Die Symboldatei", chosen, path,
                    "das Feld Programmsymbol bleibt, wie es war."))
    return;
  SetWindowTextString(path, field);
}

void ChooseTextFile(HWND dialog, int targetId) {
  std::wstring chosen = lastTextFile;
  if (!ChooseFile(dialog, chosen, true, kTextFilter, OFN_HIDEREADONLY | OFN_FILEMUSTEXIST)) return;
  lastTextFile = chosen;
  std::string path;
  if (!AcceptedPath(dialog, "Die Datei", chosen, path,
                    "sie wird nicht gelesen, das Textfeld bleibt, wie es war."))
    return;
  std::string text;
  ReadTextFile(path.c_str(), text);
  SetWindowTextString(text, GetDlgItem(dialog, targetId));
}
