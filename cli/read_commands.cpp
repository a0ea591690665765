// The reading commands of tambrixc: list, verify and extract. They need the format alone.
#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "archive/archive_layout.h"
#include "archive/archive_reader.h"
#include "archive/entry_decoder.h"
#include "archive/file_byte_source.h"
#include "archive/stored_name.h"
#include "cli/command_args.h"
#include "cli/commands.h"
#include "cli/console_text.h"

using namespace cli;

// ---- list -------------------------------------------------------------------------------------

namespace {
// The switches list, verify and extract take besides their file names.
struct ReadSwitches {
  bool quiet = false;
  bool json = false;
  int jobs = 0;  // -j N (extract): threads that unpack; 0: one per processor
};

// Splits args into plain names (count of them wanted) and switches; false, with exitCode set,
// after help or a usage message.
bool ReadArgs(const std::vector<std::string>& args, bool jsonAllowed, std::FILE* out,
              std::FILE* err, std::vector<std::string>& plain, ReadSwitches& switches,
              int& exitCode, bool jobsAllowed = false) {
  bool optionsEnded = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    std::string problem;
    if (optionsEnded || !IsOptionLike(a)) {
      plain.push_back(a);
    } else if (a == "--") {
      optionsEnded = true;
    } else if (IsHelp(a)) {
      console::Write(out, HelpText());
      exitCode = kExitOk;
      return false;
    } else if (IsQuiet(a)) {
      switches.quiet = true;
    } else if (jsonAllowed && a == "--json") {
      switches.json = true;
    } else if (jobsAllowed && JobsOption(args, i, switches.jobs, problem)) {
      if (!problem.empty()) {
        exitCode = Usage(err, problem);
        return false;
      }
    } else {
      exitCode = Usage(err, "Unbekannte Option: " + a);
      return false;
    }
  }
  return true;
}

bool OneArchiveArg(const std::vector<std::string>& args, const char* command, bool jsonAllowed,
                   std::FILE* out, std::FILE* err, std::string& path, ReadSwitches& switches,
                   int& exitCode) {
  std::vector<std::string> plain;
  if (!ReadArgs(args, jsonAllowed, out, err, plain, switches, exitCode)) return false;
  if (plain.size() != 1) {
    exitCode = Usage(err, std::string(command) + " erwartet genau eine Archivdatei.");
    return false;
  }
  path = console::PathArg(plain[0]);
  return true;
}
}  // namespace

namespace {
// True, after saying why on err, when the extractor would refuse the archive's names.
bool ReportUnusable(const ArchiveInfo& info, const std::string& path, std::FILE* err) {
  std::string why;
  if (IsUnpackable(info, &why)) return false;
  Error(err, why);
  Error(err, "Das Archiv " + path + " kann so nicht entpackt werden.");
  return true;
}

// True, after saying so on err, when entries the archive's header plans are missing.
bool ReportIncomplete(const ArchiveInfo& info, std::FILE* err) {
  if (!info.hasCompressedPart || info.entries.size() == info.fileCount) return false;
  Error(err, "Das Archiv ist unvollst\xE4ndig: " + Number(info.entries.size()) + " von " +
                 Number(info.fileCount) + " Dateien vorhanden.");
  return true;
}

// The exit code of a listing, plain or JSON: a failure when the archive is incomplete or no
// extractor would unpack it, after saying why on err.
int ListingVerdict(const ArchiveInfo& info, const std::string& path, std::FILE* err) {
  if (ReportIncomplete(info, err)) return kExitFailed;
  return ReportUnusable(info, path, err) ? kExitFailed : kExitOk;
}
}  // namespace

namespace {
// The listing as JSON. The document itself says whether the archive is whole and usable; the
// exit code and the messages on err are those of the listing.
int ListJson(const std::string& path, const ArchiveInfo& info, const StubLookInfo& look,
             std::FILE* out, std::FILE* err) {
  std::string why;
  const bool usable = IsUnpackable(info, &why);
  std::fputs(ArchiveJson(path, info, look, usable ? std::string() : why).c_str(), out);
  std::fflush(out);
  return ListingVerdict(info, path, err);
}

// The head of a plain listing: the archive's name, where its settings start, and every field of
// the settings record, one a line.
std::string SettingsListing(const std::string& path, const ArchiveInfo& info) {
  const TInstallInf& s = info.settings;
  std::string text = "Archiv: " + console::Shown(path) + "\n";
  text += "Einstellungen ab Byte " + Number(info.settingsOffset) + "\n";
  if (info.signatureSize) text += "Signatur: " + Number(info.signatureSize) + " Bytes\n";
  for (int i = 0; i < s.SourcePaths.Count(); ++i) {
    text += "Quellverzeichnis: " + console::Shown(s.SourcePaths.At(i)) + "\n";
  }
  text += "Verzeichnisnamen speichern: " + Number(s.StoreDirNames) + "\n";
  text += "Maximale Kompression: " + Number(s.MaxCompression) + "\n";
  text += "Zielverzeichnisvorgabe: " + console::Shown(s.TargetDir) + "\n";
  text += "SFX-Name: " + console::Shown(s.SfxName) + "\n";
  text += "Kommando nach dem Entpacken: " + console::Shown(s.Command) + "\n";
  text += "Zweites Kommando nach dem Entpacken: " + console::Shown(s.SecondCommand) + "\n";
  text += "Programmsymbol: " + console::Shown(s.IconFile) + "\n";
  text += "Dialogtitelzeile: " + console::Shown(s.DialogTitle) + "\n";
  text += "Dialogtext: " + Indented(s.DialogText) + "\n";
  text += "Infotext bei Programmstart: " + Indented(s.InfoTextBefore) + "\n";
  text += "Infotext nach dem Entpacken: " + Indented(s.InfoTextAfter) + "\n";
  text += "Programm terminiert: " + Number(s.Terminates) + "\n";
  text += "Vom Benutzer editierbar: " + Number(s.TargetEditable) + "\n";
  text += "Nach dem Programmende abr\xE4umen: " + Number(s.CleanUp) + "\n";
  return text;
}

// What the listing says of the program in front of the archive: the icon it shows, its version
// information and the level it asks Windows for.
std::string ProgramListing(const StubLookInfo& look) {
  const char* icon = look.icon == StubLookInfo::Icon::Own        ? "Tambrix-Paketsymbol"
                     : look.icon == StubLookInfo::Icon::Replaced ? "ersetzt"
                                                                 : "keines";
  std::string text = std::string("Symbol der Programmdatei: ") + icon + "\n";
  if (look.hasVersion) {
    text += "Versionsinformation: Dateiversion " +
            version_info::VersionNumberText(look.version.fileVersion) + ", Produktversion " +
            version_info::VersionNumberText(look.version.productVersion) + "\n";
    for (const auto& pair : look.version.strings) {
      text += "  " + pair.first + ": " + console::Shown(pair.second) + "\n";
    }
  } else {
    text += "Versionsinformation: keine\n";
  }
  text += "Ausf\xFChrungsebene: " + (look.level.empty() ? std::string("keine") : look.level) + "\n";
  return text;
}

// The rest of a plain listing of an archive with files: the method and totals, then one line per
// file with its sizes, date and name.
std::string EntriesListing(const ArchiveInfo& info) {
  std::string text = std::string("Methode: ") +
                     (info.method == layout::kMethodBzip2 ? "bzip2" : "gzip") +
                     ", Dateien: " + Number(info.fileCount) +
                     ", Gesamtgr\xF6\xDF"
                     "e: " +
                     Number(EntriesTotal(info));
  // The header's field holds the total in 32 bits only; shown where it is not the sum.
  if (EntriesTotal(info) != info.totalSize) text += " (Archivkopf: " + Number(info.totalSize) + ")";
  text += "\n";
  text +=
      "      Gr\xF6\xDF"
      "e    Gepackt  Datum      Zeit      Name\n";
  for (const ArchiveEntry& e : info.entries) {
    text += RightAligned(Number(e.size), 11) + RightAligned(Number(e.compressedSize), 11) + "  " +
            DateText(e.time) + "  " + console::Shown(e.name) + "\n";
  }
  return text;
}
}  // namespace

int CommandList(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
  std::string path;
  int code = kExitOk;
  ReadSwitches switches;
  if (!OneArchiveArg(args, "list", true, out, err, path, switches, code)) return code;
  FilePtr f(OpenArchive(path, err));
  if (!f) return kExitFailed;
  FileByteSource src(f.get());
  ArchiveInfo info;
  if (!ReadOrReport(src, path, info, err)) return kExitFailed;
  StubLookInfo look;
  ReadStubLook(src, look);
  if (switches.json) return ListJson(path, info, look, out, err);

  std::string text = SettingsListing(path, info) + ProgramListing(look);
  // An archive without files is judged as well: its stub may still refuse its settings.
  text += info.hasCompressedPart ? EntriesListing(info) : "Das Archiv enth\xE4lt keine Dateien.\n";
  console::Write(out, text);
  return ListingVerdict(info, path, err);
}

// ---- verify -----------------------------------------------------------------------------------

DecodeStatus DecodeEntry(ByteSource& src, const ArchiveEntry& e, const ByteSink& sink) {
  return e.method == layout::kMethodBzip2 ? DecodeBzip2Entry(src, e, sink)
                                          : DecodeGzipEntry(src, e, sink);
}

int CommandVerify(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
  std::string path;
  int code = kExitOk;
  ReadSwitches switches;
  if (!OneArchiveArg(args, "verify", false, out, err, path, switches, code)) return code;
  FilePtr f(OpenArchive(path, err));
  if (!f) return kExitFailed;
  FileByteSource src(f.get());
  ArchiveInfo info;
  if (!ReadOrReport(src, path, info, err)) return kExitFailed;

  size_t bad = 0;
  const ByteSink discard = [](const uint8_t*, size_t) { return true; };
  for (const ArchiveEntry& e : info.entries) {
    const DecodeStatus status = DecodeEntry(src, e, discard);
    if (status == DecodeStatus::Ok) {
      if (!switches.quiet) console::Write(out, "OK      " + console::Shown(e.name) + "\n");
    } else {
      ++bad;
      console::Write(out, "FEHLER  " + console::Shown(e.name) + "\n");
      Error(err, "Fehler in " + console::Shown(e.name) + ": " + DecodeProblem(status));
    }
  }
  const bool complete = !ReportIncomplete(info, err);
  if (bad > 0 || !complete) {
    Error(err, "Das Archiv " + path +
                   " ist besch\xE4"
                   "digt.");
    return kExitFailed;
  }
  // Whole data is not enough: an archive no extractor will unpack is no usable archive.
  if (ReportUnusable(info, path, err)) return kExitFailed;
  if (!switches.quiet) {
    console::Write(out, "Alle " + Number(info.entries.size()) + " Dateien sind in Ordnung.\n");
  }
  return kExitOk;
}

// ---- extract ----------------------------------------------------------------------------------

int CommandExtract(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
  std::vector<std::string> plain;
  ReadSwitches switches;
  int code = kExitOk;
  if (!ReadArgs(args, false, out, err, plain, switches, code, true)) return code;
  if (plain.size() != 2) {
    return Usage(err, "extract erwartet eine Archivdatei und ein Zielverzeichnis.");
  }
  int jobs = switches.jobs;
  if (jobs == 0) jobs = std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
  return ExtractArchive(console::PathArg(plain[0]), console::PathArg(plain[1]), out, err,
                        switches.quiet, jobs);
}
