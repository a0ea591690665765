// Reads a produced program as Windows and the Explorer see it, for the tests of its icon, version
// information and elevation level. Console program; writes UTF-8 lines "key=value" to stdout:
//   look_probe.exe PROGRAM
//   icon<N>=WxH     the icon LoadImage gives for N px (16, 32, 48, 256): the size it holds
//   extracted=N     icons ExtractIconEx finds in the program
//   version=a.b.c.d the fixed file version; product=a.b.c.d the fixed product version
//   <Key>=text      each version text of the German Unicode table (ProductName, ...)
//   level=text      the requestedExecutionLevel of the manifest
// Exit code 0, or 1 when the program cannot be loaded as a resource file.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

std::string Utf8(const wchar_t* w, int n = -1) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, w, n, nullptr, 0, nullptr, nullptr);
  std::string s(size > 0 ? size : 0, '\0');
  if (size > 0) WideCharToMultiByte(CP_UTF8, 0, w, n, &s[0], size, nullptr, nullptr);
  if (!s.empty() && s.back() == '\0') s.pop_back();
  return s;
}

// The size of the colour bitmap of an icon, "WxH", or "none".
std::string IconSize(HICON icon) {
  ICONINFO info{};
  if (icon == nullptr || !GetIconInfo(icon, &info)) return "none";
  BITMAP bm{};
  GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bm, &bm);
  if (info.hbmColor) DeleteObject(info.hbmColor);
  if (info.hbmMask) DeleteObject(info.hbmMask);
  const LONG height = info.hbmColor ? bm.bmHeight : bm.bmHeight / 2;
  return std::to_string(bm.bmWidth) + "x" + std::to_string(height);
}

void Icons(HMODULE module, const wchar_t* path) {
  for (int px : {16, 32, 48, 256}) {
    HICON icon = static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(1), IMAGE_ICON, px, px, 0));
    std::printf("icon%d=%s\n", px, IconSize(icon).c_str());
    if (icon) DestroyIcon(icon);
  }
  HICON large = nullptr, small = nullptr;
  const UINT total = ExtractIconExW(path, -1, nullptr, nullptr, 0);
  const UINT got = ExtractIconExW(path, 0, &large, &small, 1);
  std::printf("extracted=%u\n", got > 0 && large != nullptr ? total : 0);
  if (large) DestroyIcon(large);
  if (small) DestroyIcon(small);
}

std::string Quad(DWORD high, DWORD low) {
  return std::to_string(HIWORD(high)) + "." + std::to_string(LOWORD(high)) + "." +
         std::to_string(HIWORD(low)) + "." + std::to_string(LOWORD(low));
}

void Version(const wchar_t* path) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path, &ignored);
  if (size == 0) {
    std::printf("version=none\n");
    return;
  }
  std::string block(size, '\0');
  if (!GetFileVersionInfoW(path, 0, size, &block[0])) return;
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (VerQueryValueW(&block[0], L"\\", reinterpret_cast<void**>(&fixed), &length) && fixed) {
    std::printf("version=%s\n", Quad(fixed->dwFileVersionMS, fixed->dwFileVersionLS).c_str());
    std::printf("product=%s\n", Quad(fixed->dwProductVersionMS, fixed->dwProductVersionLS).c_str());
  }
  for (const wchar_t* key : {L"ProductName", L"ProductVersion", L"FileVersion", L"CompanyName",
                             L"FileDescription", L"LegalCopyright"}) {
    const std::wstring query = std::wstring(L"\\StringFileInfo\\040704B0\\") + key;
    wchar_t* text = nullptr;
    if (VerQueryValueW(&block[0], query.c_str(), reinterpret_cast<void**>(&text), &length) &&
        text != nullptr) {
      std::printf("%s=%s\n", Utf8(key).c_str(), Utf8(text).c_str());
    }
  }
}

void Level(HMODULE module) {
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
  HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
  const char* data = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
  if (data == nullptr) {
    std::printf("level=none\n");
    return;
  }
  const std::string manifest(data, SizeofResource(module, found));
  const std::string element = "requestedExecutionLevel level=\"";
  const size_t at = manifest.find(element);
  const size_t end = at == std::string::npos ? at : manifest.find('"', at + element.size());
  std::printf("level=%s\n",
              end == std::string::npos
                  ? "none"
                  : manifest.substr(at + element.size(), end - at - element.size()).c_str());
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: look_probe PROGRAM\n");
    return 2;
  }
  HMODULE module = LoadLibraryExW(argv[1], nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (module == nullptr) {
    std::printf("load failed: %lu\n", GetLastError());
    return 1;
  }
  Icons(module, argv[1]);
  Version(argv[1]);
  Level(module);
  FreeLibrary(module);
  return 0;
}
