// The archive build: turns Settings and a source tree into one self-extracting program file.
// It knows nothing of windows; its front end (dialog, console builder, tests) implements
// BuildFrontEnd.
#pragma once

#include <string>

#include "settings/install_inf.h"

class BuildFrontEnd {
 public:
  virtual ~BuildFrontEnd() = default;
  // Copies the front end's fields into Settings (the dialog's TakeSettings; no-op elsewhere).
  virtual void TakeSettings(TInstallInf& settings) = 0;
  // The current text of the SFX-name field, untrimmed (Settings.SfxName where there is no field).
  virtual std::string SfxNameText() = 0;
  // The source directory text, at most 259 characters from the dialog.
  virtual std::string SourceDirText() = 0;
  // State of "Maximale Kompression" and of "Anschliessend starten".
  virtual bool MaxCompressionChecked() = 0;
  virtual bool StartAfterwardsChecked() = 0;
  // Progress text for the status line; "" empties it. Shown at once.
  virtual void ShowProgress(const std::string& text) = 0;
  // A message box (interactive builds only; batch lines go to BatchReport).
  virtual void ShowMessage(const std::string& text) = 0;
  // Puts the keyboard focus on the SFX-name field.
  virtual void FocusSfxName() = 0;
  // Starts the finished program (the shell's open verb on Windows).
  virtual void StartProgram(const std::string& path) = 0;
  // Hourglass and mouse capture for the duration of the build.
  virtual void BeginWait() {}
  virtual void EndWait() {}
  // A file could not be added: its path and the reason, for front ends that name it.
  virtual void FileFailed(const std::string& /*path*/, const std::string& /*reason*/) {}
};

// The outcome of one build, for front ends that need more than the message (exit codes).
enum class BuildResult {
  Success,        // "Das Archiv wurde ordnungsgemäß erstellt!"
  NoName,         // "Es wurde noch kein Archivname angegeben!"
  StubMissing,    // "Kann Datei tambrix.resx nicht öffnen!"
  StubCopyFailed, // "Fehler bei Lesen aus Datei tambrix.resx!"
  DataCopyFailed, // "Fehler bei Lesen aus der Datendatei!"
  FileFailed,     // "Fehler bei der Erstellung des Archivs!"
  NamesRefused,   // names the extractor could not create; nothing was written
};

// Builds one archive as the "Archiv erzeugen" button does. Messages go to the front end, or to
// BatchReport while BatchRunning is set. stubDir overrides the folder of the stub files (""
// means the program's own directory).
BuildResult BuildArchive(BuildFrontEnd& ui, const std::string& stubDir = std::string());

// The German message texts.
extern const char* const kMsgNoName;
extern const char* const kMsgStubMissing;
extern const char* const kMsgStubCopy;
extern const char* const kMsgDataCopy;
extern const char* const kMsgSuccess;
extern const char* const kMsgFileFailed;
