#include "cli/console_front_end.h"

#include "builder/build_driver.h"
#include "cli/console_text.h"

namespace {
// The widest progress line: longer texts keep their end, where the file name and total are.
constexpr size_t kProgressColumns = 79;
}  // namespace

std::string GermanCount(uint64_t n) {
  std::string digits = std::to_string(n);
  std::string out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += '.';
    out += digits[i];
  }
  return out;
}

std::string GermanSize(uint64_t bytes) {
  if (bytes < 1024) return GermanCount(bytes) + (bytes == 1 ? " Byte" : " Bytes");
  static const char* const kUnits[] = {"KB", "MB", "GB", "TB"};
  // Tenths of the unit, rounded, computed in integers so that no size is shown wrong by a
  // floating-point step.
  uint64_t unit = 1024;
  size_t u = 0;
  while (u + 1 < 4 && bytes >= unit * 1024 - unit / 20) {
    unit *= 1024;
    ++u;
  }
  const uint64_t tenths = (bytes * 10 + unit / 2) / unit;
  return GermanCount(tenths / 10) + "," + std::to_string(tenths % 10) + " " + kUnits[u];
}

ConsoleFrontEnd::ConsoleFrontEnd(std::FILE* out, std::FILE* err, bool showProgress, bool quiet)
    : out_(out), err_(err), showProgress_(showProgress && !quiet), quiet_(quiet) {}

void ConsoleFrontEnd::TakeSettings(TInstallInf& /*settings*/) {
  // There are no fields: the caller has filled Settings itself.
}

void ConsoleFrontEnd::ClearProgress() {
  if (progressWidth_ == 0) return;
  console::Rewrite(err_, std::string(progressWidth_, ' '));
  console::Rewrite(err_, std::string());
  progressWidth_ = 0;
}

void ConsoleFrontEnd::Say(const std::string& line) {
  ClearProgress();
  Messages.push_back(line);
  console::Message(err_, line);
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
  if (text == kMsgSuccess) {
    // The success line says what was made; a quiet build says nothing.
    if (quiet_) {
      Messages.push_back(text);
      return;
    }
    Say(written_.empty() ? text : text.substr(0, text.size() - 1) + ": " + written_);
    return;
  }
  Say(text);
}

void ConsoleFrontEnd::FileFailed(const std::string& path, const std::string& reason) {
  Say("Datei " + path + ": " + (reason.empty() ? std::string("Fehler beim Komprimieren") : reason));
}

void ConsoleFrontEnd::FolderUnreadable(const std::string& path) {
  Say("Ordner " + path + ": kann nicht gelesen werden");
}

void ConsoleFrontEnd::ArchiveWritten(const std::string& path, size_t files, uint64_t bytes) {
  written_ = path + ", " + GermanCount(files) + (files == 1 ? " Datei, " : " Dateien, ") +
             GermanSize(bytes);
}

void ConsoleFrontEnd::StubMissing(const std::string& path) {
  Say("Gesucht wurde die Datei " + path + " (ein anderes Verzeichnis nennt --stub-dir VERZ).");
}

void ConsoleFrontEnd::ShowReport(const std::string& report) {
  ClearProgress();
  Report = report;
  if (!quiet_) console::Write(out_, report);
}
