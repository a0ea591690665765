#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <vector>

#include "cli/console_text.h"
#include "cli/console_wide.h"
#include "platform/win32/wide_text.h"

namespace console {

std::string PathArg(const std::string& arg) { return arg; }

bool TextArg(const std::string& arg, std::string& out) {
  out = arg;
  return true;
}

namespace {
HANDLE ConsoleHandle(std::FILE* f) {
  const HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(f)));
  DWORD mode = 0;
  if (h == INVALID_HANDLE_VALUE || !GetConsoleMode(h, &mode)) return INVALID_HANDLE_VALUE;
  return h;
}
}  // namespace

namespace {
// Writes wide to the console f stands for; false when f is no console or the write fails.
bool WriteConsoleText(std::FILE* f, const std::wstring& wide) {
  const HANDLE console = ConsoleHandle(f);
  if (console == INVALID_HANDLE_VALUE || wide.empty()) return false;
  std::fflush(f);
  DWORD written = 0;
  return WriteConsoleW(console, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr) !=
         0;
}

void WriteBytes(std::FILE* f, const std::string& text) {
  if (WriteConsoleText(f, platform::Utf16OfCp1252(text))) return;
  std::fwrite(text.data(), 1, text.size(), f);
  std::fflush(f);
}
}  // namespace

void Write(std::FILE* f, const std::string& text) { WriteBytes(f, ShownText(text)); }

void Rewrite(std::FILE* f, const std::string& line) { WriteBytes(f, "\r" + Shown(line)); }

bool IsTerminal(std::FILE* f) { return ConsoleHandle(f) != INVALID_HANDLE_VALUE; }

namespace {
bool IsHighSurrogate(wchar_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(wchar_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Characters that change how a console shows the text around them without showing themselves:
// C1 controls, the zero-width and direction marks, the line and paragraph separators, the byte
// order mark.
bool IsInvisible(wchar_t c) {
  return (c >= 0x80 && c <= 0x9F) || (c >= 0x200B && c <= 0x200F) || (c >= 0x2028 && c <= 0x202E) ||
         (c >= 0x2060 && c <= 0x206F) || c == 0xFEFF || (c >= 0xFFF9 && c <= 0xFFFB);
}

// "<U+XXXX>" for one character (a surrogate pair as its code point).
std::wstring CodeOf(const std::wstring& character) {
  unsigned long cp = character[0];
  if (character.size() == 2) cp = 0x10000 + ((cp - 0xD800) << 10) + (character[1] - 0xDC00);
  wchar_t buffer[16];
  std::swprintf(buffer, 16, L"<U+%04lX>", cp);
  return buffer;
}

// text as it is shown: the runs the code page holds as ShownText shows them, every other
// character as it is (onConsole) or as its code.
std::wstring ShownWide(const std::wstring& text, bool onConsole) {
  std::wstring shown;
  std::wstring run;
  std::string narrow;
  const auto flush = [&] {
    platform::Cp1252OfUtf16(run, narrow);
    shown += platform::Utf16OfCp1252(ShownText(narrow));
    run.clear();
  };
  for (size_t i = 0; i < text.size();) {
    const bool pair =
        IsHighSurrogate(text[i]) && i + 1 < text.size() && IsLowSurrogate(text[i + 1]);
    const std::wstring one = text.substr(i, pair ? 2 : 1);
    i += one.size();
    if (platform::Cp1252OfUtf16(one, narrow)) {
      run += one;
      continue;
    }
    flush();
    const bool lone = !pair && (IsHighSurrogate(one[0]) || IsLowSurrogate(one[0]));
    shown += onConsole && !lone && !IsInvisible(one[0]) ? one : CodeOf(one);
  }
  flush();
  return shown;
}
}  // namespace

void MessageWide(std::FILE* f, const std::wstring& text) {
  std::wstring lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(L'\n', start);
    if (end == std::wstring::npos) end = text.size();
    lines += L"tambrixc: " + text.substr(start, end - start) + L"\n";
    start = end + 1;
  }
  const bool onConsole = IsTerminal(f);
  const std::wstring shown = ShownWide(lines, onConsole);
  if (onConsole && WriteConsoleText(f, shown)) return;
  std::string bytes;
  platform::Cp1252OfUtf16(ShownWide(lines, false), bytes);
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fflush(f);
}

namespace {
// The characters list of the refusal: each of them, separated by blanks.
std::wstring Listed(const std::vector<std::wstring>& characters) {
  std::wstring list;
  for (const std::wstring& c : characters) list += (list.empty() ? L"" : L" ") + c;
  return list;
}
}  // namespace

bool ArgumentsOfWide(int argc, const wchar_t* const* argv, std::vector<std::string>& args,
                     std::FILE* err) {
  args.clear();
  for (int i = 1; i < argc; ++i) {
    const std::wstring arg = argv[i];
    std::string converted;
    if (!platform::Cp1252OfUtf16(arg, converted)) {
      args.clear();
      MessageWide(err, L"Das Argument \"" + arg + L"\" " +
                           platform::Utf16OfCp1252("enth\xE4lt Zeichen, die es in Codepage 1252 "
                                                   "nicht gibt: ") +
                           Listed(platform::CharactersOutsideCp1252(arg)) +
                           platform::Utf16OfCp1252(
                               "\nPfade und Texte nimmt tambrixc nur in Codepage 1252 an; es wurde "
                               "nichts geschrieben."));
      return false;
    }
    args.push_back(converted);
  }
  return true;
}

namespace {
std::atomic<bool> interrupted{false};

// Runs on a thread of its own. The first Ctrl-C is taken (TRUE) and only noted; a second one is
// left to the default handler, which ends the process.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  return interrupted.exchange(true) ? FALSE : TRUE;
}
}  // namespace

const std::atomic<bool>* CatchInterrupt() {
  interrupted.store(false);
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
  return &interrupted;
}

}  // namespace console
