#include "cli/console_front_end.h"

#include "cli/console_text.h"

namespace {
// The widest progress line: longer texts keep their end, where the file name and total are.
constexpr size_t kProgressColumns = 79;
}  // namespace

ConsoleFrontEnd::ConsoleFrontEnd(std::FILE* out, std::FILE* err, bool showProgress)
    : out_(out), err_(err), showProgress_(showProgress) {}

void ConsoleFrontEnd::TakeSettings(TInstallInf& /*settings*/) {
  // There are no fields: the caller has filled Settings itself.
}

void ConsoleFrontEnd::ClearProgress() {
  if (progressWidth_ == 0) return;
  console::Rewrite(err_, std::string(progressWidth_, ' '));
  console::Rewrite(err_, std::string());
  progressWidth_ = 0;
}

void ConsoleFrontEnd::ShowProgress(const std::string& text) {
  if (!showProgress_) return;
  if (text.empty()) {
    ClearProgress();
    return;
  }
  std::string line = console::Shown(text);
  if (line.size() > kProgressColumns)
    line = "..." + line.substr(line.size() - kProgressColumns + 3);
  std::string padding;
  if (line.size() < progressWidth_) padding.assign(progressWidth_ - line.size(), ' ');
  console::Rewrite(err_, line + padding);
  progressWidth_ = line.size() + padding.size();  // what is on screen now
}

void ConsoleFrontEnd::ShowMessage(const std::string& text) {
  ClearProgress();
  Messages.push_back(text);
  console::Write(err_, text + "\n");
}

void ConsoleFrontEnd::FileFailed(const std::string& path, const std::string& reason) {
  ClearProgress();
  const std::string line =
      "Datei " + path + ": " + (reason.empty() ? std::string("Fehler beim Komprimieren") : reason);
  Messages.push_back(line);
  console::Write(err_, line + "\n");
}

void ConsoleFrontEnd::FolderUnreadable(const std::string& path) {
  ClearProgress();
  const std::string line = "Ordner " + path + ": kann nicht gelesen werden";
  Messages.push_back(line);
  console::Write(err_, line + "\n");
}

void ConsoleFrontEnd::ShowReport(const std::string& report) {
  ClearProgress();
  Report = report;
  console::Write(out_, report);
}

void ConsoleFrontEnd::StubMissing(const std::string& path) {
  ClearProgress();
  const std::string line = "Gesucht wurde die Datei " + path + " (Ort der Stubs: --stub-dir VERZ)";
  Messages.push_back(line);
  console::Write(err_, line + "\n");
}
