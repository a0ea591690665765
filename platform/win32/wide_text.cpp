#include "platform/win32/wide_text.h"

#include <windows.h>

#include <algorithm>

namespace platform {

namespace {
constexpr UINT kCodePage = 1252;

bool IsHighSurrogate(wchar_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(wchar_t c) { return c >= 0xDC00 && c <= 0xDFFF; }
}  // namespace

std::wstring Utf16OfCp1252(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int size = static_cast<int>(text.size());
  const int n = MultiByteToWideChar(kCodePage, 0, text.data(), size, nullptr, 0);
  if (n <= 0) return std::wstring();
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(kCodePage, 0, text.data(), size, &wide[0], n);
  return wide;
}

bool Cp1252OfUtf16(const std::wstring& wide, std::string& out) {
  out.clear();
  if (wide.empty()) return true;
  // The system converts an unpaired surrogate to the default character, but not every
  // version says so through usedDefault: it is refused here first.
  for (size_t i = 0; i < wide.size(); ++i) {
    if (IsHighSurrogate(wide[i]) && i + 1 < wide.size() && IsLowSurrogate(wide[i + 1])) {
      ++i;
    } else if (IsHighSurrogate(wide[i]) || IsLowSurrogate(wide[i])) {
      return false;
    }
  }
  const int size = static_cast<int>(wide.size());
  BOOL usedDefault = FALSE;
  const int n = WideCharToMultiByte(kCodePage, WC_NO_BEST_FIT_CHARS, wide.data(), size, nullptr, 0,
                                    nullptr, &usedDefault);
  if (n <= 0 || usedDefault) return false;
  std::string narrow(static_cast<size_t>(n), '\0');
  usedDefault = FALSE;
  WideCharToMultiByte(kCodePage, WC_NO_BEST_FIT_CHARS, wide.data(), size, &narrow[0], n, nullptr,
                      &usedDefault);
  // The way back must give the same characters: a best fit that slipped through (or a default
  // character not reported) shows up as a difference here.
  if (usedDefault || Utf16OfCp1252(narrow) != wide) return false;
  out = narrow;
  return true;
}

std::vector<std::wstring> CharactersOutsideCp1252(const std::wstring& wide) {
  std::vector<std::wstring> found;
  std::string ignored;
  for (size_t i = 0; i < wide.size();) {
    const bool pair =
        IsHighSurrogate(wide[i]) && i + 1 < wide.size() && IsLowSurrogate(wide[i + 1]);
    const std::wstring one = wide.substr(i, pair ? 2 : 1);
    i += one.size();
    if (Cp1252OfUtf16(one, ignored)) continue;
    if (std::find(found.begin(), found.end(), one) == found.end()) found.push_back(one);
  }
  return found;
}

}  // namespace platform
