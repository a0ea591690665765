#include <io.h>
#include <windows.h>

#include <vector>

#include "cli/console_text.h"

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
void WriteBytes(std::FILE* f, const std::string& text) {
  const HANDLE console = ConsoleHandle(f);
  if (console != INVALID_HANDLE_VALUE && !text.empty()) {
    const int n =
        MultiByteToWideChar(1252, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::vector<wchar_t> wide(static_cast<size_t>(n > 0 ? n : 1));
    MultiByteToWideChar(1252, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
    std::fflush(f);
    DWORD written = 0;
    if (n > 0 && WriteConsoleW(console, wide.data(), static_cast<DWORD>(n), &written, nullptr))
      return;
  }
  std::fwrite(text.data(), 1, text.size(), f);
  std::fflush(f);
}
}  // namespace

void Write(std::FILE* f, const std::string& text) { WriteBytes(f, ShownText(text)); }

void Rewrite(std::FILE* f, const std::string& line) { WriteBytes(f, "\r" + Shown(line)); }

bool IsTerminal(std::FILE* f) { return ConsoleHandle(f) != INVALID_HANDLE_VALUE; }

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
