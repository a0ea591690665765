#include "archive/batch_run.h"

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

BatchSummary RunBatch(BatchFrontEnd& ui, const std::string& iniPath, const BuildOptions& build) {
  platform::Os& os = platform::Current();
  BatchSummary summary;
  TInstallInf saved;
  TInstallInf defaults;
  // What the user typed since the last build comes back after the run: the fields go into the
  // record before it is kept.
  ui.TakeSettings(Settings);
  saved = Settings;

  const std::string file = iniPath.empty() ? BatchFilePath() : iniPath;
  if (!FileExists(file)) {
    ui.ShowMessage(kMsgBatchMissing);
    return summary;
  }
  summary.fileFound = true;
  const std::string ini = ProfilePath(file, os.Separator());

  auto globalText = [&](const char* key) { return os.ProfileString(kGlobalSection, key, "", ini); };
  auto globalInt = [&](const char* key, int def) {
    return os.ProfileInt(kGlobalSection, key, def, ini);
  };

  const int count = globalInt("NUM_SFX", 0);

  defaults.SourcePaths.Clear();
  defaults.SourcePaths.Add(globalText("SOURCEPATH"));
  defaults.TargetDir = globalText("TARGETPATH");
  defaults.Command = globalText("COMMAND");
  defaults.Terminates = Low8(globalInt("TERMINATION", 0));
  defaults.TargetEditable = Low8(globalInt("TARGET_EDITABLE", 1));
  defaults.SfxName = globalText("SFX_NAME");
  defaults.MaxCompression = Low8(globalInt("MAX_COMPRESSION", 0));
  defaults.DialogTitle = globalText("DIALOG_TITLE");
  defaults.DialogText = TextOfFile(globalText("DIALOG_TEXT"));
  defaults.InfoTextBefore = TextOfFile(globalText("INFOTEXT_BEFORE"));
  defaults.InfoTextAfter = TextOfFile(globalText("INFOTEXT_AFTER"));
  // No keys exist for these: every batch archive gets the same.
  defaults.StoreDirNames = 1;
  defaults.SecondCommand.clear();
  defaults.IconFile.clear();
  defaults.CleanUp = 0;

  BatchReport.Clear();

  for (int i = 1; i <= count; ++i) {
    Settings = defaults;
    const std::string section = "SFX" + std::to_string(i);
    // A text key is present when its value differs from the absent marker (empty included).
    auto text = [&](const char* key, std::string& value) {
      const std::string v = os.ProfileString(section, key, kAbsent, ini);
      if (v == kAbsent) return false;
      value = v;
      return true;
    };
    auto flag = [&](const char* key, uint8_t def) {
      return Low8(os.ProfileInt(section, key, def, ini));
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

    ui.ShowSettings(Settings);
    ui.Repaint();
    {
      BatchFlag running;
      ui.TakeSettings(Settings);
      if (BuildArchive(ui, build) == BuildResult::Success) {
        ++summary.built;
      } else {
        ++summary.failed;
      }
      ui.Repaint();
    }
  }

  Settings = saved;
  ui.ShowSettings(Settings);
  ui.ShowReport(JoinedBatchReport());
  return summary;
}
