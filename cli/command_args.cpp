#include "cli/command_args.h"

#include "archive/archive_reader.h"
#include "cli/commands.h"
#include "cli/console_text.h"
#include "platform/platform.h"

namespace {

const char kUsageHint[] = "Aufruf: tambrixc --help zeigt alle Befehle und Optionen.";

std::string Two(uint32_t v) {
  std::string s = std::to_string(v);
  return s.size() < 2 ? "0" + s : s;
}

}  // namespace

namespace cli {

void Error(std::FILE* err, const std::string& text) { console::Message(err, text); }

int Usage(std::FILE* err, const std::string& text) {
  Error(err, text + "\n" + kUsageHint);
  return kExitUsage;
}

bool IsHelp(const std::string& a) { return a == "--help" || a == "-h" || a == "/?"; }

bool IsQuiet(const std::string& a) { return a == "--quiet" || a == "-q"; }

bool IsOptionLike(const std::string& a) { return a.size() > 1 && a[0] == '-'; }

constexpr int kMaxJobs = 256;

bool JobsOption(const std::vector<std::string>& args, size_t& i, int& jobs, std::string& problem) {
  const std::string& a = args[i];
  std::string value;
  bool haveValue = false;
  if (a == "-j" || a == "--jobs") {
    if (i + 1 < args.size()) {
      value = args[++i];
      haveValue = true;
    }
  } else if (a.compare(0, 7, "--jobs=") == 0) {
    value = a.substr(7);
    haveValue = true;
  } else if (a.size() > 2 && a.compare(0, 2, "-j") == 0) {
    value = a.substr(2);
    haveValue = true;
  } else {
    return false;
  }
  long n = 0;
  bool number = haveValue && !value.empty() && value.size() <= 4;
  for (char c : value) {
    if (c < '0' || c > '9') number = false;
  }
  if (number) n = std::stol(value);
  if (!number || n < 1 || n > kMaxJobs) {
    problem = "Die Option -j braucht eine Zahl von 1 bis " + std::to_string(kMaxJobs) + ".";
  } else {
    jobs = static_cast<int>(n);
  }
  return true;
}

// Opens an archive for reading; nullptr after a message when it cannot be opened.
std::FILE* OpenArchive(const std::string& path, std::FILE* err) {
  std::FILE* f = platform::Current().Open(path, "rb");
  if (!f)
    Error(err, "Kann Datei " + path +
                   " nicht \xF6"
                   "ffnen!");
  return f;
}

// Reads the archive structure; false after a message naming what is wrong.
bool ReadOrReport(ByteSource& src, const std::string& path, ArchiveInfo& info, std::FILE* err) {
  std::string why;
  const ReadStatus status = ReadArchive(src, info, &why);
  if (status == ReadStatus::Ok) return true;
  const char* what = status == ReadStatus::NotAnArchive ? "ist kein Tambrix-Archiv"
                     : status == ReadStatus::Incomplete ? "ist unvollst\xE4ndig"
                     : status == ReadStatus::IoError    ? "kann nicht gelesen werden"
                                                        : "ist besch\xE4"
                                                          "digt";
  Error(err, "Die Datei " + path + " " + what + ": " + why);
  return false;
}

std::string DecodeProblem(DecodeStatus s) {
  switch (s) {
    case DecodeStatus::Ok:
      return std::string();
    case DecodeStatus::Damaged:
      return "die Daten sind besch\xE4"
             "digt (Pr\xFC"
             "fsumme, L\xE4nge oder Datenstrom stimmt nicht)";
    case DecodeStatus::SinkFailed:
      return "die Datei kann nicht geschrieben werden";
    case DecodeStatus::IoError:
      return "das Archiv kann nicht gelesen werden";
  }
  return "unbekannter Fehler";
}

std::string Number(uint64_t v) { return std::to_string(v); }

std::string DateText(const platform::DosTime& t) {
  return Two(t.day) + "." + Two(t.month) + "." + std::to_string(1980 + t.year1980) + " " +
         Two(t.hour) + ":" + Two(t.minute) + ":" + Two(t.seconds2 * 2);
}

std::string RightAligned(const std::string& s, size_t width) {
  return s.size() >= width ? s : std::string(width - s.size(), ' ') + s;
}

// A multi-line text of the record with its continuation lines indented.
std::string Indented(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i];
    if (text[i] == '\n') out += "    ";
  }
  return out;
}

}  // namespace cli
