#include "stub/stub_logic.h"

#include <windows.h>

#include <cwchar>

#include "archive/stored_name.h"

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

std::wstring RelativePath(const std::string& stored, bool keepFolders) {
  return Widen(UnpackPath(stored, keepFolders));
}

Outcome PlanEntries(const std::vector<ArchiveEntry>& entries, bool keepFolders) {
  const std::vector<PlanProblem> problems = PlanUnpack(
      entries.size(), [&](size_t i) -> const std::string& { return entries[i].name; }, keepFolders);
  if (problems.empty()) return Outcome();
  const PlanProblem& first = problems.front();
  const std::string& name = entries[first.entry].name;
  if (first.kind == NameConflict::Unsafe)
    return Fail(kExitUnpackFailed, Msg::UnsafeName, Widen(name));
  return Fail(kExitUnpackFailed, Msg::DuplicateName, RelativePath(name, keepFolders));
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
