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

bool IsAsciiLetter(wchar_t c) { return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z'); }

bool SameFolder(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                              static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// The text without one pair of surrounding double quotes, blanks trimmed.
std::wstring Unquoted(const std::wstring& text) {
  std::wstring t = TrimBlanks(text);
  if (!t.empty() && t[0] == L'"') {
    size_t close = t.find(L'"', 1);
    t = TrimBlanks(t.substr(1, close == std::wstring::npos ? std::wstring::npos : close - 1));
  }
  return t;
}

}  // namespace

StubOptions ParseOptions(const wchar_t* commandLine) {
  StubOptions o;
  const CommandLineCut cut = CutAtSeparator(commandLine);
  o.passOn = cut.passOn;
  for (const std::wstring& arg : SplitArguments(cut.own.c_str())) {
    if (arg.size() < 2 || (arg[0] != L'/' && arg[0] != L'-')) continue;
    std::wstring sw = AsciiUpper(arg.substr(1));
    if (sw == L"S") {
      o.silent = true;
    } else if (sw == L"N") {
      o.noCommands = true;
    } else if (sw == L"T") {
      o.test = true;
    } else if (sw == L"W") {
      o.wait = true;
    } else if (sw == L"?" || sw == L"H") {
      o.help = true;
    } else if (StartsWith(sw, L"D=")) {
      o.target = TrimBlanks(arg.substr(3));
      o.hasTarget = !o.target.empty();
    } else if (StartsWith(sw, L"O=")) {
      const std::wstring value = TrimBlanks(sw.substr(2));
      if (value == L"SKIP")
        o.keepExisting = true;
      else if (value == L"REPLACE")
        o.keepExisting = false;
      else if (o.badSwitch.empty())
        o.badSwitch = arg;
    } else if (StartsWith(sw, L"L=")) {
      o.logPath = TrimBlanks(arg.substr(3));
    } else if (StartsWith(sw, L"J=")) {
      const std::wstring value = TrimBlanks(sw.substr(2));
      const bool digit = value.size() == 1 && value[0] >= L'1' && value[0] <= L'8';
      if (digit)
        o.threads = static_cast<unsigned>(value[0] - L'0');
      else if (o.badSwitch.empty())
        o.badSwitch = arg;
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

namespace {

// The last four characters in upper case (".EXE"); empty for a shorter name.
std::wstring UpperTail4(const std::wstring& path) {
  return path.size() < 4 ? std::wstring() : AsciiUpper(path.substr(path.size() - 4));
}

}  // namespace

bool IsDirectProgram(const std::wstring& path) {
  const std::wstring ext = UpperTail4(path);
  return ext == L".EXE" || ext == L".COM";
}

bool IsBatchFile(const std::wstring& path) {
  const std::wstring ext = UpperTail4(path);
  return ext == L".BAT" || ext == L".CMD";
}

std::wstring BuildCommandLine(const std::wstring& program, const std::wstring& args) {
  std::wstring line = L"\"" + program + L"\"";
  if (!args.empty()) line += L" " + args;
  return line;
}

bool IsAbsolutePath(const std::wstring& p) {
  return (p.size() >= 3 && IsAsciiLetter(p[0]) && p[1] == L':' && p[2] == L'\\') ||
         (p.size() >= 3 && p[0] == L'\\' && p[1] == L'\\' && p[2] != L'\\');
}

std::wstring TargetProgramPath(const std::wstring& target, const std::wstring& program) {
  if (program.empty() || IsAbsolutePath(program)) return std::wstring();
  const std::wstring rel = program[0] == L'\\' ? program.substr(1) : program;
  std::wstring below = FullPath(target);
  if (rel.empty() || below.empty()) return std::wstring();
  if (below.back() != L'\\') below += L'\\';
  // Resolved as a whole, so that every spelling of ".." (also with '/' or after a variable was
  // expanded) is judged by where it ends up, not by how it is written.
  const std::wstring full = FullPath(below + rel);
  if (full.size() <= below.size() || !SameFolder(full.substr(0, below.size()), below))
    return std::wstring();
  return full;
}

std::wstring ModulePath() {
  std::wstring buf(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = GetModuleFileNameW(nullptr, &buf[0], static_cast<DWORD>(buf.size()));
    if (n == 0) return std::wstring();
    if (n < buf.size()) {
      buf.resize(n);
      return buf;
    }
    buf.resize(buf.size() * 2);
  }
}

bool IsUrl(const std::wstring& program) {
  const size_t colon = program.find(L':');
  if (colon == std::wstring::npos || colon < 2 || colon + 1 >= program.size()) return false;
  if (!IsAsciiLetter(program[0])) return false;
  for (size_t i = 1; i < colon; ++i) {
    const wchar_t c = program[i];
    if (!IsAsciiLetter(c) && !(c >= L'0' && c <= L'9') && c != L'+' && c != L'-' && c != L'.')
      return false;
  }
  return true;
}

FolderIdentity IdentityOf(const std::wstring& folder) {
  FolderIdentity id;
  const std::wstring full = FullPath(DisplayPath(folder));
  if (full.empty()) return id;
  const std::wstring extended = ExtendedPath(full);
  // Backup semantics open a folder; no rights beyond its attributes are asked for.
  HANDLE h = CreateFileW(extended.empty() ? full.c_str() : extended.c_str(), FILE_READ_ATTRIBUTES,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return id;
  BY_HANDLE_FILE_INFORMATION info = {};
  if (GetFileInformationByHandle(h, &info)) {
    id.volume = info.dwVolumeSerialNumber;
    id.index = (std::uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    // A file system without file indexes reports 0 for every file: no identity to compare.
    id.known = id.index != 0;
  }
  CloseHandle(h);
  return id;
}

bool SameIdentity(const FolderIdentity& a, const FolderIdentity& b) {
  return a.known && b.known && a.volume == b.volume && a.index == b.index;
}

ExcludedFolders::ExcludedFolders(const std::vector<std::wstring>& folders) {
  for (const std::wstring& f : folders) {
    if (f.empty()) continue;
    const std::wstring full = FullPath(DisplayPath(f));
    if (!full.empty()) paths_.push_back(full);
    const FolderIdentity id = IdentityOf(f);
    if (id.known) identities_.push_back(id);
  }
}

bool ExcludedFolders::Holds(const std::wstring& folder) const {
  for (const std::wstring& p : paths_)
    if (SameFolder(folder, p)) return true;
  if (identities_.empty()) return false;
  const FolderIdentity id = IdentityOf(folder);
  for (const FolderIdentity& x : identities_)
    if (SameIdentity(id, x)) return true;
  return false;
}

std::vector<std::wstring> SearchFolders(const std::wstring& pathValue,
                                        const ExcludedFolders& excluded) {
  std::vector<std::wstring> out;
  size_t begin = 0;
  while (begin <= pathValue.size()) {
    size_t end = pathValue.find(L';', begin);
    if (end == std::wstring::npos) end = pathValue.size();
    // \\?\C:\x is C:\x to the file system and is compared so; devices are no folders.
    const std::wstring entry = DisplayPath(Unquoted(pathValue.substr(begin, end - begin)));
    begin = end + 1;
    if (!IsAbsolutePath(entry) || StartsWith(entry, L"\\\\.\\")) continue;
    const std::wstring full = FullPath(entry);
    if (full.empty()) continue;
    if (!excluded.Holds(full)) out.push_back(full);
  }
  return out;
}

std::wstring AppPathsKey(const std::wstring& program) {
  if (program.empty() || program.find_first_of(L"\\/:\"") != std::wstring::npos)
    return std::wstring();
  std::wstring name = program;
  const size_t dot = name.rfind(L'.');
  if (dot == std::wstring::npos)
    name += L".exe";
  else if (dot == 0 || AsciiUpper(name.substr(dot)) != L".EXE")
    return std::wstring();
  return L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\" + name;
}

std::wstring AppPathsProgram(const std::wstring& value) {
  const std::wstring path = Unquoted(ExpandVariables(value));
  return IsAbsolutePath(path) ? FullPath(path) : std::wstring();
}
