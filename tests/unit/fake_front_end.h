// A front end for driving builds and batch runs in tests: its "fields" behave like the dialog's
// controls (ShowSettings fills them, TakeSettings reads them back), and everything the driver
// reports to it is recorded. BuildFromFields builds as the dialog's button does.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "builder/batch_run.h"
#include "builder/build_driver.h"
#include "platform/platform.h"
#include "tests/unit/sfx_test_parser.h"

namespace testfe {

class FakeFrontEnd : public BatchFrontEnd {
 public:
  void TakeSettings(TInstallInf& settings) override {
    ++takes;
    flagAtTake.push_back(BatchRunning);
    const std::string source =
        fields.SourcePaths.Count() > 0 ? fields.SourcePaths.At(0) : std::string();
    settings = fields;
    settings.SourcePaths.Clear();
    settings.SourcePaths.Add(source);
  }
  void ShowProgress(const std::string& text) override { progress.push_back(text); }
  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  void FocusSfxName() override { ++focus; }
  void StartProgram(const std::string& path) override {
    started.push_back(path);
    // The program must be complete and closed when it is started.
    std::FILE* f = platform::Real().Open(path, "rb");
    startedSize.push_back(f ? platform::StreamSize(f) : -1);
    if (f) std::fclose(f);
  }
  void BeginWait() override { ++beginWait; }
  void EndWait() override { ++endWait; }
  void FileFailed(const std::string& path, const std::string& reason) override {
    failed.emplace_back(path, reason);
  }
  void FolderUnreadable(const std::string& path) override { unreadable.push_back(path); }
  void ShowSettings(const TInstallInf& settings) override {
    fields = settings;
    shown.push_back(settings);
  }
  void Repaint() override { ++repaints; }
  void ShowReport(const std::string& report) override { reports.push_back(report); }

  // The source directory as the dialog's field holds it.
  void SetSource(const std::string& dir) {
    fields.SourcePaths.Clear();
    fields.SourcePaths.Add(dir);
  }

  TInstallInf fields;
  bool startAfterwards = false;  // the box "Anschliessend starten"
  int takes = 0, focus = 0, beginWait = 0, endWait = 0, repaints = 0;
  std::vector<uint8_t> flagAtTake;
  std::vector<std::string> progress, messages, started, reports;
  std::vector<int64_t> startedSize;
  std::vector<std::pair<std::string, std::string>> failed;
  std::vector<std::string> unreadable;
  std::vector<TInstallInf> shown;
};

// What the dialog's "Archiv erzeugen" does: the fields into Settings, then the build, with the
// box "Anschliessend starten" and the given stub folder as its options.
inline BuildResult BuildFromFields(FakeFrontEnd& ui, const std::string& stubDir = std::string()) {
  ui.TakeSettings(Settings);
  BuildOptions options;
  options.startAfterwards = ui.startAfterwards;
  options.stubDir = stubDir;
  return BuildArchive(ui, options);
}

// Installs an Os for one test and restores the real one afterwards.
struct OsGuard {
  explicit OsGuard(platform::Os* os) { platform::SetForTesting(os); }
  ~OsGuard() { platform::SetForTesting(nullptr); }
};

// Records the temporary files made and can refuse to open one path in one mode.
class RecordingOs : public platform::ForwardingOs {
 public:
  RecordingOs() : ForwardingOs(platform::Real()) {}
  // A parallel build calls from several threads.
  bool CreateUniqueTempFile(const std::string& d, const std::string& pre, std::string& p) override {
    const bool ok = inner_.CreateUniqueTempFile(d, pre, p);
    const std::lock_guard<std::mutex> lock(mutex_);
    if (ok) tempFiles.push_back(p);
    return ok;
  }
  std::FILE* Open(const std::string& p, const char* m) override {
    if (p == failPath && (failMode.empty() || failMode == m)) return nullptr;
    // Opened, but every read fails.
    if (p == unreadablePath && std::string(m) == "rb") return inner_.Open(p, "ab");
    if (failDataRead && std::string(m) == "rb") {
      const std::lock_guard<std::mutex> lock(mutex_);
      if (!tempFiles.empty() && p == tempFiles.back()) return nullptr;
    }
    return inner_.Open(p, m);
  }
  std::string ProgramPath() override {
    return programPath.empty() ? inner_.ProgramPath() : programPath;
  }
  std::string TempDirectory() override {
    return tempDirectory.empty() ? inner_.TempDirectory() : tempDirectory;
  }
  bool ListDirectory(const std::string& d, const std::string& m,
                     std::vector<platform::DirEntry>& o) override {
    for (const std::string& u : unlistable) {
      if (u == d) return false;
    }
    return inner_.ListDirectory(d, m, o);
  }

  std::vector<std::string> tempFiles;
  std::string failPath, failMode, unreadablePath;
  bool failDataRead = false;
  std::string programPath;
  std::string tempDirectory;            // with a trailing separator; "" for the real one
  std::vector<std::string> unlistable;  // directories whose listing fails

 private:
  std::mutex mutex_;
};

// The record as the tests' own settings-block encoder sees it.
inline sfxtest::SettingsBlock BlockOf(const TInstallInf& r) {
  sfxtest::SettingsBlock b;
  b.version = 1;
  b.sources = r.SourcePaths.Strings;
  b.storeDirNames = r.StoreDirNames;
  b.maxCompression = r.MaxCompression;
  b.targetDir = r.TargetDir;
  b.sfxName = r.SfxName;
  b.command = r.Command;
  b.secondCommand = r.SecondCommand;
  b.iconFile = r.IconFile;
  b.dialogText = r.DialogText;
  b.infoBefore = r.InfoTextBefore;
  b.infoAfter = r.InfoTextAfter;
  b.terminates = r.Terminates;
  b.dialogTitle = r.DialogTitle;
  b.targetEditable = r.TargetEditable;
  b.cleanUp = r.CleanUp;
  return b;
}

}  // namespace testfe
