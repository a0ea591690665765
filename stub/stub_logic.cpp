#include "stub/stub_logic.h"

#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <string_view>

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

std::wstring TrimBlanks(const std::wstring& s) {
  size_t b = 0, e = s.size();
  while (b < e && IsBlank(s[b])) ++b;
  while (e > b && IsBlank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

wchar_t AsciiUpper(wchar_t c) { return (c >= L'a' && c <= L'z') ? wchar_t(c - 32) : c; }

std::wstring AsciiUpper(std::wstring s) {
  for (wchar_t& c : s) c = AsciiUpper(c);
  return s;
}

// Upper case as Windows compares names (the invariant locale's simple mapping).
std::wstring NameKey(const std::wstring& s) {
  if (s.empty()) return s;
  std::wstring out(s.size(), L'\0');
  int n = LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, s.data(), static_cast<int>(s.size()),
                       &out[0], static_cast<int>(out.size()));
  if (n != static_cast<int>(s.size())) return AsciiUpper(s);
  return out;
}

bool StartsWith(const std::wstring& s, const wchar_t* prefix) {
  return s.compare(0, wcslen(prefix), prefix) == 0;
}

}  // namespace

std::vector<std::wstring> SplitArguments(const wchar_t* p) {
  std::vector<std::wstring> out;
  if (!p) return out;
  // The program name: quoted up to the next quote, else up to the first blank.
  if (*p == L'"') {
    ++p;
    while (*p && *p != L'"') ++p;
    if (*p) ++p;
  } else {
    while (*p && !IsBlank(*p)) ++p;
  }
  for (;;) {
    while (IsBlank(*p)) ++p;
    if (!*p) break;
    std::wstring token;
    bool quoted = false;
    for (; *p && (quoted || !IsBlank(*p)); ++p) {
      if (*p == L'"')
        quoted = !quoted;
      else
        token += *p;
    }
    out.push_back(token);
  }
  return out;
}

StubOptions ParseOptions(const wchar_t* commandLine) {
  StubOptions o;
  for (const std::wstring& arg : SplitArguments(commandLine)) {
    if (arg.size() < 2 || (arg[0] != L'/' && arg[0] != L'-')) continue;
    std::wstring sw = AsciiUpper(arg.substr(1));
    if (sw == L"S") {
      o.silent = true;
    } else if (sw == L"N") {
      o.noCommands = true;
    } else if (sw == L"T") {
      o.test = true;
    } else if (sw == L"?" || sw == L"H") {
      o.help = true;
    } else if (StartsWith(sw, L"D=")) {
      o.target = TrimBlanks(arg.substr(3));
      o.hasTarget = !o.target.empty();
    }
  }
  return o;
}

bool IsCreatableElement(const std::wstring& e) {
  if (e.empty() || e == L"." || e == L"..") return false;
  for (wchar_t c : e) {
    if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) return false;
    if (wcschr(L"<>:\"/\\|?*", c)) return false;
  }
  if (e.back() == L'.' || e.back() == L' ') return false;
  // Windows reserves device names whatever the extension (and blanks before it).
  std::wstring stem = e.substr(0, e.find(L'.'));
  while (!stem.empty() && stem.back() == L' ') stem.pop_back();
  stem = AsciiUpper(stem);
  if (stem == L"CON" || stem == L"PRN" || stem == L"AUX" || stem == L"NUL" || stem == L"CONIN$" ||
      stem == L"CONOUT$")
    return false;
  if (stem.size() == 4 && (StartsWith(stem, L"COM") || StartsWith(stem, L"LPT"))) {
    wchar_t d = stem[3];
    if ((d >= L'0' && d <= L'9') || d == 0xB9 || d == 0xB2 || d == 0xB3) return false;
  }
  return true;
}

std::wstring RelativePath(const std::string& stored, bool keepFolders) {
  std::vector<std::string> parts;
  if (!IsSafeStoredName(stored, &parts) || parts.empty()) return std::wstring();
  std::wstring rel;
  for (size_t k = 0; k < parts.size(); ++k) {
    const std::wstring element = Widen(parts[k]);
    if (!IsCreatableElement(element)) return std::wstring();
    if (!keepFolders) {
      rel = element;
    } else {
      if (k) rel += L'\\';
      rel += element;
    }
  }
  return rel;
}

Outcome PlanEntries(const std::vector<ArchiveEntry>& entries, bool keepFolders,
                    std::vector<std::wstring>& relative) {
  relative.clear();
  relative.reserve(entries.size());
  // The comparison keys live in one pool: thousands of short-lived strings would leave the heap
  // fragmented for the decoders that come next.
  struct Key {
    size_t offset;
    size_t length;
    size_t entry;
    bool folder;
  };
  std::wstring pool;
  std::vector<Key> keys;
  keys.reserve(entries.size() * 2);
  auto addKey = [&](const std::wstring& path, size_t entry, bool folder) {
    std::wstring key = NameKey(path);
    keys.push_back({pool.size(), key.size(), entry, folder});
    pool += key;
  };
  for (size_t i = 0; i < entries.size(); ++i) {
    const std::wstring rel = RelativePath(entries[i].name, keepFolders);
    if (rel.empty()) return Fail(kExitUnpackFailed, Msg::UnsafeName, Widen(entries[i].name));
    for (size_t cut = rel.find(L'\\'); keepFolders && cut != std::wstring::npos;
         cut = rel.find(L'\\', cut + 1))
      addKey(rel.substr(0, cut), i, true);
    addKey(rel, i, false);
    relative.push_back(rel);
  }
  auto view = [&pool](const Key& k) { return std::wstring_view(pool).substr(k.offset, k.length); };
  std::sort(keys.begin(), keys.end(), [&](const Key& a, const Key& b) {
    const int c = view(a).compare(view(b));
    if (c != 0) return c < 0;
    return a.folder < b.folder;  // files first within a group
  });
  for (size_t i = 0; i + 1 < keys.size(); ++i) {
    // Folders may be shared; a file may not share its name with anything.
    if (!keys[i].folder && view(keys[i]) == view(keys[i + 1]))
      return Fail(kExitUnpackFailed, Msg::DuplicateName, relative[keys[i].entry]);
  }
  return Outcome();
}

std::wstring FullPath(const std::wstring& path) {
  if (path.empty()) return std::wstring();
  DWORD n = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (n == 0) return std::wstring();
  std::wstring out(n, L'\0');
  n = GetFullPathNameW(path.c_str(), n, &out[0], nullptr);
  if (n == 0 || n >= out.size()) return std::wstring();
  out.resize(n);
  // Keep the backslash of a root (C:\ or \\?\C:\), drop any other trailing one.
  while (out.size() > 3 && out.back() == L'\\' && out[out.size() - 2] != L':') out.pop_back();
  return out;
}

std::wstring ExtendedPath(const std::wstring& full) {
  if (StartsWith(full, L"\\\\?\\")) return full;
  if (StartsWith(full, L"\\\\.\\")) return std::wstring();  // devices are no target
  if (StartsWith(full, L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
  if (full.size() >= 3 && full[1] == L':' && full[2] == L'\\') return L"\\\\?\\" + full;
  return std::wstring();
}

std::wstring DisplayPath(const std::wstring& path) {
  if (StartsWith(path, L"\\\\?\\UNC\\")) return L"\\\\" + path.substr(8);
  if (StartsWith(path, L"\\\\?\\")) return path.substr(4);
  return path;
}

std::wstring ExpandVariables(const std::wstring& text) {
  std::wstring t = TrimBlanks(text);
  if (t.empty()) return t;
  DWORD n = ExpandEnvironmentStringsW(t.c_str(), nullptr, 0);
  if (n == 0) return t;
  std::wstring out(n, L'\0');
  n = ExpandEnvironmentStringsW(t.c_str(), &out[0], n);
  if (n == 0 || n > out.size()) return t;
  out.resize(n - 1);  // the count includes the terminating NUL
  return TrimBlanks(out);
}

std::vector<CommandSplit> CommandReadings(const std::wstring& command) {
  std::vector<CommandSplit> out;
  std::wstring c = TrimBlanks(command);
  if (c.empty()) return out;
  if (c[0] == L'"') {
    size_t close = c.find(L'"', 1);
    if (close == std::wstring::npos) {
      out.push_back({c.substr(1), std::wstring()});
    } else {
      out.push_back({c.substr(1, close - 1), TrimBlanks(c.substr(close + 1))});
    }
    return out;
  }
  for (size_t i = 1; i < c.size(); ++i) {
    if (IsBlank(c[i]) && !IsBlank(c[i - 1]))
      out.push_back({c.substr(0, i), TrimBlanks(c.substr(i + 1))});
  }
  out.push_back({c, std::wstring()});
  return out;
}

bool IsDirectProgram(const std::wstring& path) {
  if (path.size() < 4) return false;
  std::wstring ext = AsciiUpper(path.substr(path.size() - 4));
  return ext == L".EXE" || ext == L".COM";
}

std::wstring BuildCommandLine(const std::wstring& program, const std::wstring& args) {
  std::wstring line = L"\"" + program + L"\"";
  if (!args.empty()) line += L" " + args;
  return line;
}
