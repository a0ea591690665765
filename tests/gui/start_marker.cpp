// Stands in for the extractor stub and for the program the shell opens a document with in the GUI
// tests: when started, this program leaves the file "<its own path>.started" behind, holding the
// arguments it was given (the document's path, when the shell opened one with it), and ends.
#include <windows.h>

#include <string>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR arguments, int) {
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return 1;
  // Written under another name and renamed, so that the file appears whole.
  std::string marker = std::string(path, n) + ".started";
  std::string part = marker + ".part";
  HANDLE h = CreateFileA(part.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  std::string text = arguments != nullptr ? arguments : "";
  BOOL ok = WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(h);
  if (!ok || written != text.size()) return 1;
  return MoveFileExA(part.c_str(), marker.c_str(), MOVEFILE_REPLACE_EXISTING) ? 0 : 1;
}
