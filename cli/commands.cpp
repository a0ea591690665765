#include "cli/commands.h"

#include "archive/archive_layout.h"
#include "builder/batch_run.h"
#include "builder/build_driver.h"
#include "builder/parallel_compressor.h"
#include "cli/command_args.h"
#include "cli/console_front_end.h"
#include "cli/console_text.h"
#include "platform/platform.h"
#include "settings/settings_file.h"
#include "support/file_access.h"
#include "support/util_var_man.h"

using namespace cli;

namespace {

const char kSkipUnreadableHint[] =
    "Mit --skip-unreadable wird das Archiv ohne diese Ordner erstellt.";

// SOURCE_DATE_EPOCH, the reproducible-builds convention: the latest file time an archive
// stores, in seconds since 1970. -1 when unset or empty; false (after a message) when it is no
// such number.
bool SourceDateEpoch(int64_t& latest, std::FILE* err) {
  latest = -1;
  const char* value = std::getenv("SOURCE_DATE_EPOCH");
  if (value == nullptr || *value == '\0') return true;
  const std::string text = value;
  bool number = text.size() <= 12;
  for (char c : text) {
    if (c < '0' || c > '9') number = false;
  }
  if (!number) {
    Error(err, "SOURCE_DATE_EPOCH ist keine Zahl von Sekunden seit 1970: " + console::Shown(text));
    return false;
  }
  latest = std::stoll(text);
  return true;
}

// An option's text as the record keeps texts: code page 1252, lines ending in CR LF as in a
// text the dialog's fields hold. False when the text has characters the code page lacks.
bool RecordText(const std::string& arg, std::string& text) {
  std::string converted;
  if (!console::TextArg(arg, converted)) return false;
  text.clear();
  for (size_t i = 0; i < converted.size(); ++i) {
    if (converted[i] == '\n' && (i == 0 || converted[i - 1] != '\r')) text += '\r';
    text += converted[i];
  }
  return true;
}

// Splits "--name=value" into name and value; other arguments keep hasValue false.
struct Option {
  std::string name;
  std::string value;
  bool hasValue = false;
};
Option SplitOption(const std::string& arg) {
  Option o;
  const size_t eq = arg.find('=');
  if (arg.compare(0, 2, "--") == 0 && eq != std::string::npos) {
    o.name = arg.substr(0, eq);
    o.value = arg.substr(eq + 1);
    o.hasValue = true;
  } else {
    o.name = arg;
  }
  return o;
}

// Takes the value of an option that needs one, from "--x=v" or the next argument.
bool TakeValue(const std::vector<std::string>& args, size_t& i, Option& o) {
  if (o.hasValue) return true;
  if (i + 1 >= args.size()) return false;
  o.value = args[++i];
  o.hasValue = true;
  return true;
}

// What build and batch share of their command lines: the switches of every console build.
struct ConsoleBuildSwitches {
  std::string stubDir;
  bool skipUnreadable = false;
  bool quiet = false;
  int jobs = DefaultJobs();
};

// Takes args[i] (and its value) when it is a switch of every console build: --help, -q,
// -j N, --stub-dir DIR, --skip-unreadable. True when it was one; exitCode is then set when the
// command ends with it (help shown, or a usage error), else left at -1.
bool BuildSwitch(const std::vector<std::string>& args, size_t& i, std::FILE* out, std::FILE* err,
                 ConsoleBuildSwitches& switches, int& exitCode) {
  exitCode = -1;
  if (IsHelp(args[i])) {
    console::Write(out, HelpText());
    exitCode = kExitOk;
    return true;
  }
  if (IsQuiet(args[i])) {
    switches.quiet = true;
    return true;
  }
  std::string problem;
  if (JobsOption(args, i, switches.jobs, problem)) {
    if (!problem.empty()) exitCode = Usage(err, problem);
    return true;
  }
  Option o = SplitOption(args[i]);
  if (o.name == "--stub-dir") {
    if (!TakeValue(args, i, o)) {
      exitCode = Usage(err, "Die Option --stub-dir braucht einen Wert.");
    } else {
      switches.stubDir = console::PathArg(o.value);
    }
    return true;
  }
  if (o.name == "--skip-unreadable") {
    if (o.hasValue) {
      exitCode = Usage(err, "Die Option --skip-unreadable hat keinen Wert.");
    } else {
      switches.skipUnreadable = true;
    }
    return true;
  }
  return false;
}

// The folder of the stub files when --stub-dir is not given: the program's own directory, or,
// when neither stub is there, the package's place beside it (<prefix>/bin/tambrixc finds them in
// <prefix>/lib/tambrix). "" leaves the build to its default, the program's own directory.
std::string DefaultStubDir() {
  platform::Os& os = platform::Current();
  const std::string own = TUtilVarMan().ProgramDir;
  const auto holdsStub = [&os](const std::string& dir) {
    return os.Exists(dir + layout::kStubBzip2) || os.Exists(dir + layout::kStubGzip);
  };
  if (own.empty() || holdsStub(own) || os.Separator() != '/') return std::string();
  const std::string packaged = own + "../lib/tambrix/";
  return holdsStub(packaged) ? packaged : std::string();
}

// The build options of a console build: the switches, the stub folder found, SOURCE_DATE_EPOCH
// and a Ctrl-C handler.
BuildOptions ConsoleBuildOptions(const ConsoleBuildSwitches& switches, int64_t latestTime) {
  BuildOptions build;
  build.stubDir = switches.stubDir.empty() ? DefaultStubDir() : switches.stubDir;
  build.skipUnreadable = switches.skipUnreadable;
  build.jobs = switches.jobs;
  build.latestTime = latestTime;
  build.cancel = console::CatchInterrupt();
  return build;
}

}  // namespace

// ---- dispatch ---------------------------------------------------------------------------------

int RunTambrixc(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
  // Options before the command: -q applies to the command, --help and --version answer alone.
  bool quiet = false;
  size_t i = 0;
  for (; i < args.size() && IsOptionLike(args[i]); ++i) {
    const std::string& a = args[i];
    if (a == "--version" || a == "-V") {
      console::Write(out, std::string("tambrixc ") + TAMBRIX_VERSION + "\n");
      return kExitOk;
    }
    if (IsHelp(a)) {
      console::Write(out, HelpText());
      return kExitOk;
    }
    if (IsQuiet(a)) {
      quiet = true;
      continue;
    }
    return Usage(err, "Unbekannte Option: " + a);
  }
  if (i >= args.size()) return Usage(err, "Kein Befehl angegeben.");
  const std::string& command = args[i];
  std::vector<std::string> rest(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
  if (quiet) rest.insert(rest.begin(), "--quiet");
  if (command == "help" || command == "/?") {
    console::Write(out, HelpText());
    return kExitOk;
  }
  if (command == "build") return CommandBuild(rest, out, err);
  if (command == "batch") return CommandBatch(rest, out, err);
  if (command == "list") return CommandList(rest, out, err);
  if (command == "verify") return CommandVerify(rest, out, err);
  if (command == "extract") return CommandExtract(rest, out, err);
  return Usage(err, "Unbekannter Befehl: " + command);
}

// ---- build ------------------------------------------------------------------------------------

namespace {

// What build's command line asks for. The options that fill the record are applied in their order
// after the starting record is chosen, so they are collected first.
struct BuildRequest {
  std::string settingsFile;
  ConsoleBuildSwitches switches;
  bool haveSource = false;
  bool haveSfx = false;
  bool dialogNames = false;
  std::vector<Option> options;  // the record's options, in command-line order
  VersionTexts version;         // --product-name and the other version texts
  ExecutionLevel level = ExecutionLevel::AsInvoker;
};

// The options that fill the produced program's version information, and the field each fills.
struct VersionOption {
  const char* name;
  std::string VersionTexts::*field;
};
const VersionOption kVersionOptions[] = {
    {"--product-name", &VersionTexts::productName},
    {"--product-version", &VersionTexts::productVersion},
    {"--file-version", &VersionTexts::fileVersion},
    {"--company", &VersionTexts::company},
    {"--description", &VersionTexts::description},
    {"--copyright", &VersionTexts::copyright},
};

// Takes o when it asks for the produced program's version information or elevation level. True
// when it was one; exitCode is then set after a usage message when its value cannot be used.
bool TakeLookOption(const Option& o, BuildRequest& request, std::FILE* err, int& exitCode) {
  exitCode = -1;
  if (o.name == "--execution-level") {
    if (!ParseExecutionLevel(o.value, request.level)) {
      exitCode = Usage(err,
                       "Die Option --execution-level kennt nur asInvoker, highestAvailable "
                       "und requireAdministrator, nicht: " +
                           o.value);
    }
    return true;
  }
  for (const VersionOption& v : kVersionOptions) {
    if (o.name != v.name) continue;
    if (!RecordText(o.value, request.version.*v.field)) {
      exitCode =
          Usage(err, "Der Wert von " + o.name +
                         " enth\xE4lt Zeichen, die in Codepage 1252 nicht darstellbar sind.");
    }
    return true;
  }
  return false;
}

// Checks that o is an option of build and takes its value when it needs one. The exit code
// after a usage message when it is unknown or its value is missing or superfluous, else -1.
int TakeBuildOption(const std::vector<std::string>& args, size_t& i, Option& o, std::FILE* err) {
  static const char* const kWithValue[] = {"--source",         "--sfx",
                                           "--target-dir",     "--command",
                                           "--second-command", "--title",
                                           "--text",           "--text-file",
                                           "--info-before",    "--info-before-file",
                                           "--info-after",     "--info-after-file",
                                           "--settings",       "--icon",
                                           "--product-name",   "--product-version",
                                           "--file-version",   "--company",
                                           "--description",    "--copyright",
                                           "--execution-level"};
  static const char* const kFlags[] = {"--max-compression",    "--terminates", "--clean-up",
                                       "--no-target-editable", "--flat",       "--dialog-names"};
  bool known = false;
  for (const char* name : kWithValue) {
    if (o.name == name) {
      known = true;
      if (!TakeValue(args, i, o))
        return Usage(err, "Die Option " + o.name + " braucht einen Wert.");
    }
  }
  for (const char* name : kFlags) {
    if (o.name == name) {
      known = true;
      if (o.hasValue) return Usage(err, "Die Option " + o.name + " hat keinen Wert.");
    }
  }
  if (!known) return Usage(err, "Unbekannte Option: " + args[i]);
  return -1;
}

// Reads build's command line into request. The exit code when the command ends with it (help
// shown, or a usage error), else -1.
int ReadBuildArgs(const std::vector<std::string>& args, std::FILE* out, std::FILE* err,
                  BuildRequest& request) {
  bool optionsEnded = false;
  for (size_t i = 0; i < args.size(); ++i) {
    if (optionsEnded || !IsOptionLike(args[i])) {
      return Usage(err, "build nimmt nur Optionen, kein Argument: " + args[i]);
    }
    if (args[i] == "--") {
      optionsEnded = true;
      continue;
    }
    int exitCode = -1;
    if (BuildSwitch(args, i, out, err, request.switches, exitCode)) {
      if (exitCode >= 0) return exitCode;
      continue;
    }
    Option o = SplitOption(args[i]);
    exitCode = TakeBuildOption(args, i, o, err);
    if (exitCode >= 0) return exitCode;
    if (TakeLookOption(o, request, err, exitCode)) {
      if (exitCode >= 0) return exitCode;
    } else if (o.name == "--settings") {
      request.settingsFile = console::PathArg(o.value);
    } else if (o.name == "--dialog-names") {
      request.dialogNames = true;
    } else {
      if (o.name == "--source") request.haveSource = true;
      if (o.name == "--sfx") request.haveSfx = true;
      request.options.push_back(o);
    }
  }
  return -1;
}

// The record a console build starts from, loaded from settingsFile when one is named. The exit
// code after a message when that file is missing or invalid, else -1.
int StartingRecord(const std::string& settingsFile, TInstallInf& record, std::FILE* err) {
  // A console build starts from an empty record: the dialog's placeholder texts are for
  // someone who edits them, not for whoever runs an archive built by a script.
  record.DialogText.clear();
  record.DialogTitle.clear();
  record.InfoTextBefore.clear();
  record.InfoTextAfter.clear();
  if (settingsFile.empty()) return -1;
  if (!FileExists(settingsFile)) {
    Error(err, "Kann Datei " + settingsFile + " nicht finden!");
    return kExitFailed;
  }
  if (!LoadSettingsFile(record, settingsFile)) {
    Error(err, "Die Einstellungsdatei " + settingsFile + " ist ung\xFCltig oder unvollst\xE4ndig.");
    return kExitFailed;
  }
  return -1;
}

// The value of o as the record keeps it: a path as the system names it, any other text in code
// page 1252. False after a message when the text has characters the code page lacks.
bool OptionValue(const Option& o, std::string& text, std::FILE* err) {
  const bool isPath = o.name == "--source" || o.name == "--sfx" || o.name == "--icon" ||
                      o.name == "--text-file" || o.name == "--info-before-file" ||
                      o.name == "--info-after-file";
  if (isPath) {
    text = console::PathArg(o.value);
    return true;
  }
  if (RecordText(o.value, text)) return true;
  Error(err, "Der Wert von " + o.name +
                 " enth\xE4lt Zeichen, die in Codepage 1252 nicht darstellbar sind.");
  return false;
}

// Sets the field of record that o names. The exit code after a message when its value cannot be
// used (a character outside code page 1252, a text file that is not there), else -1.
int ApplyBuildOption(const Option& o, TInstallInf& record, std::FILE* err) {
  std::string text;
  if (!OptionValue(o, text, err)) return kExitUsage;
  if (o.name == "--source") {
    record.SourcePaths.Clear();
    record.SourcePaths.Add(text);
  } else if (o.name == "--sfx") {
    record.SfxName = text;
  } else if (o.name == "--icon") {
    record.IconFile = text;
  } else if (o.name == "--target-dir") {
    record.TargetDir = text;
  } else if (o.name == "--command") {
    record.Command = text;
  } else if (o.name == "--second-command") {
    record.SecondCommand = text;
  } else if (o.name == "--title") {
    record.DialogTitle = text;
  } else if (o.name == "--text") {
    record.DialogText = text;
  } else if (o.name == "--info-before") {
    record.InfoTextBefore = text;
  } else if (o.name == "--info-after") {
    record.InfoTextAfter = text;
  } else if (o.name == "--text-file" || o.name == "--info-before-file" ||
             o.name == "--info-after-file") {
    if (!FileExists(text)) {
      Error(err, "Kann Datei " + text + " nicht finden!");
      return kExitFailed;
    }
    std::string& field = o.name == "--text-file"          ? record.DialogText
                         : o.name == "--info-before-file" ? record.InfoTextBefore
                                                          : record.InfoTextAfter;
    field.clear();
    ReadTextFile(text.c_str(), field);
  } else if (o.name == "--max-compression") {
    record.MaxCompression = 1;
  } else if (o.name == "--terminates") {
    record.Terminates = 1;
  } else if (o.name == "--clean-up") {
    record.CleanUp = 1;
  } else if (o.name == "--no-target-editable") {
    record.TargetEditable = 0;
  } else if (o.name == "--flat") {
    record.StoreDirNames = 0;
  }
  return -1;
}

}  // namespace

// Reads the command line, chooses the starting record, applies the options to it in order and
// builds the archive from it.
int CommandBuild(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
  BuildRequest request;
  int exitCode = ReadBuildArgs(args, out, err, request);
  if (exitCode >= 0) return exitCode;
  TInstallInf record;
  exitCode = StartingRecord(request.settingsFile, record, err);
  if (exitCode >= 0) return exitCode;
  const bool fromSettings = !request.settingsFile.empty();
  if (!request.haveSource && !fromSettings) return Usage(err, "Die Option --source fehlt.");
  if (!request.haveSfx && !fromSettings) return Usage(err, "Die Option --sfx fehlt.");
  int64_t latestTime = -1;
  if (!SourceDateEpoch(latestTime, err)) return kExitUsage;
  for (const Option& o : request.options) {
    exitCode = ApplyBuildOption(o, record, err);
    if (exitCode >= 0) return exitCode;
  }

  Settings = record;
  ConsoleFrontEnd ui(out, err, console::IsTerminal(err), request.switches.quiet);
  BuildOptions build = ConsoleBuildOptions(request.switches, latestTime);
  build.names = request.dialogNames ? NameRule::Dialog : NameRule::BelowSource;
  build.version = request.version;
  build.level = request.level;
  const BuildResult result = BuildArchive(ui, build);
  if (result == BuildResult::FoldersUnreadable) Error(err, kSkipUnreadableHint);
  if (result == BuildResult::Cancelled) return kExitInterrupted;
  return result == BuildResult::Success ? kExitOk : kExitFailed;
}

// ---- batch ------------------------------------------------------------------------------------

int CommandBatch(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
  std::string iniPath;
  ConsoleBuildSwitches switches;
  bool haveFile = false;
  bool optionsEnded = false;
  for (size_t i = 0; i < args.size(); ++i) {
    if (!optionsEnded && IsOptionLike(args[i])) {
      if (args[i] == "--") {
        optionsEnded = true;
        continue;
      }
      int exitCode = -1;
      if (!BuildSwitch(args, i, out, err, switches, exitCode)) {
        return Usage(err, "Unbekannte Option: " + args[i]);
      }
      if (exitCode >= 0) return exitCode;
    } else if (!haveFile) {
      iniPath = console::PathArg(args[i]);
      haveFile = true;
    } else {
      return Usage(err, "Zu viele Argumente: " + args[i]);
    }
  }
  int64_t latestTime = -1;
  if (!SourceDateEpoch(latestTime, err)) return kExitUsage;
  // Without a file name: the control file of the current directory, else the one beside the
  // program. The message names every place looked at.
  if (!haveFile) {
    const std::string here = "tambbatch.ini";
    const std::string besideProgram = BatchFilePath();
    if (FileExists(here)) {
      iniPath = here;
    } else if (FileExists(besideProgram)) {
      iniPath = besideProgram;
    } else {
      Error(err, std::string(kMsgBatchMissing) + "\nGesucht im aktuellen Verzeichnis und als " +
                     besideProgram + ".");
      return kExitFailed;
    }
  } else if (!FileExists(iniPath)) {
    Error(err, "Kann Datei " + iniPath + " nicht finden!");
    return kExitFailed;
  }
  ConsoleFrontEnd ui(out, err, console::IsTerminal(err), switches.quiet);
  const BuildOptions build = ConsoleBuildOptions(switches, latestTime);
  const BatchSummary summary = RunBatch(ui, iniPath, build);
  if (build.cancel->load()) return kExitInterrupted;
  const bool ok = summary.fileFound && summary.failed == 0;
  // A quiet batch still shows its report when a build failed: it says which one and why.
  if (switches.quiet && !ok) console::Write(out, ui.Report);
  return ok ? kExitOk : kExitFailed;
}
