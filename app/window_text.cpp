#include "app/window_text.h"

#include <vector>

#include "platform/win32/wide_text.h"
#include "settings/install_inf.h"

std::wstring WindowTextWide(HWND window) {
  const int length = GetWindowTextLengthW(window);
  if (length <= 0) return std::wstring();
  std::vector<wchar_t> buffer(static_cast<size_t>(length) + 1, L'\0');
  const int copied = GetWindowTextW(window, buffer.data(), length + 1);
  return std::wstring(buffer.data(), copied > 0 ? static_cast<size_t>(copied) : 0);
}

bool GetWindowTextString(std::string& text, HWND window) {
  std::string converted;
  if (!platform::Cp1252OfUtf16(WindowTextWide(window), converted)) return false;
  text = converted;
  return true;
}

void SetWindowTextString(const std::string& text, HWND window) {
  SetWindowTextW(window, platform::Utf16OfCp1252(text).c_str());
}

void ShowOutsideCodePage(HWND owner, const std::wstring& subject, const std::wstring& typed,
                         const std::string& consequence) {
  std::wstring list;
  for (const std::wstring& c : platform::CharactersOutsideCp1252(typed))
    list += (list.empty() ? L"" : L" ") + c;
  const std::wstring text =
      subject +
      platform::Utf16OfCp1252(" enth\xE4lt Zeichen, die es in Codepage 1252 nicht gibt: ") + list +
      L"\n" + platform::Utf16OfCp1252(consequence);
  MessageBoxExW(owner, text.c_str(), platform::Utf16OfCp1252(kAppTitle).c_str(),
                MB_OK | MB_ICONINFORMATION, 0);
}
