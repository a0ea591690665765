#include "builder/batch_run.h"

#include <climits>
#include <map>
#include <set>

#include "platform/platform.h"
#include "support/file_access.h"
#include "support/util_var_man.h"

const char* const kMsgBatchMissing = "Kann Datei tambbatch.ini nicht finden!";

namespace {

const char* const kGlobalSection = "SFX_GLOBAL";
// The default text that marks a key as absent in an archive's section.
const char* const kAbsent = "xyz";

// The profile functions look for a bare file name in the Windows directory, not in the current
// one: give such a name an explicit directory.
std::string ProfilePath(const std::string& path, char sep) {
  if (path.find_first_of("\\/:") != std::string::npos) return path;
  return std::string(".") + sep + path;
}

// The contents of the text file named by fileName (empty when it names no readable file).
std::string TextOfFile(const std::string& fileName) {
  std::string text;
  ReadTextFile(fileName.c_str(), text);
  return text;
}

// The profile functions read a text through a 512-byte buffer: a value that fills it may have
// been cut, and a cut path or command would build or start something else.
constexpr size_t kLongestValue = 511;

// The numbers n for which the file holds a section "SFXn" as the run names them (no leading
// zeros; section names compare case-insensitively).
std::set<long long> ArchiveSections(const std::vector<std::string>& names) {
  std::set<long long> numbers;
  for (const std::string& name : names) {
    if (name.size() < 4 || name.size() > 13 || (name[0] | 0x20) != 's' ||
        (name[1] | 0x20) != 'f' || (name[2] | 0x20) != 'x' || name[3] == '0')
      continue;
    long long n = 0;
    size_t i = 3;
    for (; i < name.size() && name[i] >= '0' && name[i] <= '9'; ++i) n = n * 10 + (name[i] - '0');
    if (i == name.size() && n <= INT_MAX) numbers.insert(n);
  }
  return numbers;
}

uint8_t Low8(int value) { return static_cast<uint8_t>(static_cast<unsigned>(value) & 0xFF); }

// Clears BatchRunning however a build ends.
struct BatchFlag {
  BatchFlag() { BatchRunning = 1; }
  ~BatchFlag() { BatchRunning = 0; }
};

}  // namespace

std::string BatchFilePath() { return TUtilVarMan().ProgramDir + "tambbatch.ini"; }

std::string JoinedBatchReport() {
  std::string report;
  for (const std::string& line : BatchReport.Strings) {
    report += line;
    report += '\n';
  }
  return report;
}

namespace {

// The batch file as the profile functions read it, and the values of it that filled the read
// buffer (by key: the section where each one was read).
class BatchIni {
 public:
  BatchIni(platform::Os& os, const std::string& file)
      : os_(os), ini_(ProfilePath(file, os.Separator())) {}

  // NUM_SFX as the profile functions read it: it wraps in 32 bits, as on Windows.
  int Count() const { return os_.ProfileInt(kGlobalSection, "NUM_SFX", 0, ini_); }
  std::string CountText() const { return os_.ProfileString(kGlobalSection, "NUM_SFX", "", ini_); }
  std::set<long long> Sections() const { return ArchiveSections(os_.ProfileSectionNames(ini_)); }

  // The record every archive starts from: the [SFX_GLOBAL] values, and fixed values for the
  // fields no key sets.
  TInstallInf Defaults();
  // Settings for archive number n: the defaults with its own section's keys over them. Returns
  // the values that may have been cut, by key (empty: all read whole).
  std::map<std::string, std::string> ReadArchive(long long n, const TInstallInf& defaults);

 private:
  std::string GlobalValue(const char* key) {
    std::string v = os_.ProfileString(kGlobalSection, key, "", ini_);
    if (v.size() >= kLongestValue) cutDefaults_[key] = "[SFX_GLOBAL]";
    return v;
  }
  uint8_t GlobalFlag(const char* key, int def) const {
    return Low8(os_.ProfileInt(kGlobalSection, key, def, ini_));
  }

  platform::Os& os_;
  const std::string ini_;
  std::map<std::string, std::string> cutDefaults_;
};

TInstallInf BatchIni::Defaults() {
  TInstallInf defaults;
  defaults.SourcePaths.Clear();
  defaults.SourcePaths.Add(GlobalValue("SOURCEPATH"));
  defaults.TargetDir = GlobalValue("TARGETPATH");
  defaults.Command = GlobalValue("COMMAND");
  defaults.Terminates = GlobalFlag("TERMINATION", 0);
  defaults.TargetEditable = GlobalFlag("TARGET_EDITABLE", 1);
  defaults.SfxName = GlobalValue("SFX_NAME");
  defaults.MaxCompression = GlobalFlag("MAX_COMPRESSION", 0);
  defaults.DialogTitle = GlobalValue("DIALOG_TITLE");
  defaults.DialogText = TextOfFile(GlobalValue("DIALOG_TEXT"));
  defaults.InfoTextBefore = TextOfFile(GlobalValue("INFOTEXT_BEFORE"));
  defaults.InfoTextAfter = TextOfFile(GlobalValue("INFOTEXT_AFTER"));
  // No keys exist for these: every batch archive gets the same.
  defaults.StoreDirNames = 1;
  defaults.SecondCommand.clear();
  defaults.IconFile.clear();
  defaults.CleanUp = 0;
  return defaults;
}

std::map<std::string, std::string> BatchIni::ReadArchive(long long n, const TInstallInf& defaults) {
  Settings = defaults;
  std::map<std::string, std::string> cut = cutDefaults_;
  const std::string section = "SFX" + std::to_string(n);
  // A text key is present when its value differs from the absent marker (empty included).
  auto text = [&](const char* key, std::string& value) {
    const std::string v = os_.ProfileString(section, key, kAbsent, ini_);
    if (v == kAbsent) return false;
    if (v.size() >= kLongestValue) {
      cut[key] = "[" + section + "]";
    } else {
      cut.erase(key);
    }
    value = v;
    return true;
  };
  auto flag = [&](const char* key, uint8_t def) {
    return Low8(os_.ProfileInt(section, key, def, ini_));
  };
  std::string value;
  if (text("SOURCEPATH", value)) {
    Settings.SourcePaths.Clear();
    Settings.SourcePaths.Add(value);
  }
  if (text("TARGETPATH", value)) Settings.TargetDir = value;
  if (text("COMMAND", value)) Settings.Command = value;
  Settings.Terminates = flag("TERMINATION", defaults.Terminates);
  Settings.TargetEditable = flag("TARGET_EDITABLE", defaults.TargetEditable);
  if (text("SFX_NAME", value)) Settings.SfxName = value;
  Settings.MaxCompression = flag("MAX_COMPRESSION", defaults.MaxCompression);
  if (text("DIALOG_TITLE", value)) Settings.DialogTitle = value;
  if (text("DIALOG_TEXT", value)) Settings.DialogText = TextOfFile(value);
  if (text("INFOTEXT_BEFORE", value)) Settings.InfoTextBefore = TextOfFile(value);
  if (text("INFOTEXT_AFTER", value)) Settings.InfoTextAfter = TextOfFile(value);
  return cut;
}

// A hint in the report when NUM_SFX does not read as written.
void ReportCount(int count, const std::string& countText) {
  if (count < 0) {
    BatchReport.Add("Hinweis: NUM_SFX=" + countText + " ergibt die Anzahl " +
                    std::to_string(count) + "; es wird kein Archiv erstellt.");
  } else if (!countText.empty() && std::to_string(count) != countText) {
    BatchReport.Add("Hinweis: NUM_SFX=" + countText + " wird als " + std::to_string(count) +
                    " gelesen.");
  }
}

// The number of the archive after i. Archives whose section is missing have nothing but the
// batch defaults, so a run of them one after the other builds the same file again and again:
// one build of each run gives the same result. That keeps a count like 2147483647 from running
// for days.
long long NextArchive(long long i, int count, const std::set<long long>& present) {
  if (present.count(i)) return i + 1;
  const auto after = present.upper_bound(i);
  const long long next =
      after == present.end() || *after > count ? static_cast<long long>(count) + 1 : *after;
  if (next - 1 > i) {
    BatchReport.Add("Hinweis: Die Abschnitte [SFX" + std::to_string(i) + "] bis [SFX" +
                    std::to_string(next - 1) +
                    "] fehlen; diese Archive haben dieselben Einstellungen und werden "
                    "einmal erstellt.");
  }
  return next;
}

// An archive with a value that may have been cut is not built: the value read may be only the
// start of the one written.
void ReportCut(const std::map<std::string, std::string>& cut) {
  BatchReport.Add("\nArchivName: " + Settings.SfxName);
  BatchReport.Add("Abbruch: Der Wert von " + cut.begin()->first + " in " + cut.begin()->second +
                  " hat " + std::to_string(kLongestValue) +
                  " Zeichen oder mehr und wird nicht ganz gelesen!");
}

// Builds the archive Settings describes, shown in the front end's fields first.
void BuildOne(BatchFrontEnd& ui, const BuildOptions& build, BatchSummary& summary) {
  ui.ShowSettings(Settings);
  ui.Repaint();
  BatchFlag running;
  ui.TakeSettings(Settings);
  if (BuildArchive(ui, build) == BuildResult::Success) {
    ++summary.built;
  } else {
    ++summary.failed;
  }
  ui.Repaint();
}

}  // namespace

BatchSummary RunBatch(BatchFrontEnd& ui, const std::string& iniPath, const BuildOptions& build) {
  BatchSummary summary;
  // What the user typed since the last build comes back after the run: the fields go into the
  // record before it is kept.
  ui.TakeSettings(Settings);
  const TInstallInf saved = Settings;

  const std::string file = iniPath.empty() ? BatchFilePath() : iniPath;
  if (!FileExists(file)) {
    ui.ShowMessage(kMsgBatchMissing);
    return summary;
  }
  summary.fileFound = true;
  BatchIni ini(platform::Current(), file);
  const int count = ini.Count();
  const TInstallInf defaults = ini.Defaults();
  BatchReport.Clear();
  ReportCount(count, ini.CountText());
  const std::set<long long> present = ini.Sections();

  for (long long i = 1, next = 1; i <= count; i = next) {
    next = NextArchive(i, count, present);
    const std::map<std::string, std::string> cut = ini.ReadArchive(i, defaults);
    if (!cut.empty()) {
      ReportCut(cut);
      ++summary.failed;
      continue;
    }
    if (build.cancel != nullptr && build.cancel->load()) break;  // Ctrl-C: no further builds
    BuildOne(ui, build, summary);
  }

  Settings = saved;
  ui.ShowSettings(Settings);
  ui.ShowReport(JoinedBatchReport());
  return summary;
}
