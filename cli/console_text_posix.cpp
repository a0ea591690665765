#include <signal.h>
#include <unistd.h>

#include "cli/console_text.h"
#include "platform/posix/cp1252.h"

namespace console {

std::string PathArg(const std::string& arg) { return platform::posix::Utf8ToCp1252OrRaw(arg); }

bool TextArg(const std::string& arg, std::string& out) {
  return platform::posix::Utf8ToCp1252(arg, out);
}

namespace {
void WriteBytes(std::FILE* f, const std::string& text) {
  const std::string utf8 = platform::posix::Cp1252ToUtf8(text);
  std::fwrite(utf8.data(), 1, utf8.size(), f);
  std::fflush(f);
}
}  // namespace

void Write(std::FILE* f, const std::string& text) { WriteBytes(f, ShownText(text)); }

void Rewrite(std::FILE* f, const std::string& line) { WriteBytes(f, "\r" + Shown(line)); }

bool IsTerminal(std::FILE* f) { return isatty(fileno(f)) != 0; }

namespace {
std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the flag is set in a signal handler");

void OnInterrupt(int) { interrupted.store(true); }
}  // namespace

const std::atomic<bool>* CatchInterrupt() {
  interrupted.store(false);
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESETHAND;  // the second signal has its default effect
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  return &interrupted;
}

}  // namespace console
