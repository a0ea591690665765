// TTambrixDlgClient: the one dialog of the builder, the client of the main frame. It shows and
// takes Settings, dispatches its buttons and is the front end of the build driver and the batch
// run; the archive work itself is theirs.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "app/window.h"
#include "builder/batch_run.h"

class TTambrixDlgClient : public BatchFrontEnd {
 public:
  explicit TTambrixDlgClient(int templateId);
  ~TTambrixDlgClient() override;
  TTambrixDlgClient(const TTambrixDlgClient&) = delete;
  TTambrixDlgClient& operator=(const TTambrixDlgClient&) = delete;

  // Creates the dialog as a modeless child of parent. False when the template could not be used.
  bool Create(HINSTANCE instance, HWND parent);
  // The dialog window, or nullptr before Create and after it was destroyed.
  HWND Handle() const { return hwnd_; }

  // Record to controls (ends with the clean-up rule) and controls to record. A field holding a
  // character code page 1252 lacks keeps the record's value, and a message says so.
  void ShowSettings(const TInstallInf& settings) override;
  void TakeSettings(TInstallInf& settings) override;
  // Field 105 and box 126 follow box 127: checked 127 unchecks 126 and disables both.
  void ApplyCleanUpRule();

  // The rest of the build driver's front end.
  void ShowProgress(const std::string& text) override;
  void ShowMessage(const std::string& text) override;
  void FocusSfxName() override;
  void StartProgram(const std::string& path) override;
  void BeginWait() override;
  void EndWait() override;
  void Repaint() override;
  void ShowReport(const std::string& report) override;

 private:
  using Handler = void (TTambrixDlgClient::*)();
  struct CommandEntry {
    int id;
    Handler handler;
  };
  static const CommandEntry kCommands[];

  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void Dispatch(int id, int notification);

  // Set-up (after the controls exist) and clean-up (while they still exist).
  void LoadSettings();
  void SaveSettings();

  HWND Item(int id) const { return GetDlgItem(hwnd_, id); }
  bool Checked(int id) const { return IsDlgButtonChecked(hwnd_, id) == BST_CHECKED; }
  void SetChecked(int id, bool on) { CheckDlgButton(hwnd_, id, on ? BST_CHECKED : BST_UNCHECKED); }
  void OpenProgramFile(const char* name);
  // Controls to record. False when a field holds a character code page 1252 lacks: a message
  // names the first such field and its text, ending with consequence, and the focus goes there;
  // such fields keep the record's value.
  bool TakeFields(TInstallInf& settings, const char* consequence);
  // The source directory field's text, at most 259 characters.
  std::wstring SourceDirText();
  // A build's options as the dialog sets them ("Anschliessend starten").
  BuildOptions Options();

  // Command handlers.
  void CmChooseSourceDirectory();
  void CmChooseSfxName();
  void CmChooseDialogText();
  void CmChooseInfoBefore();
  void CmChooseInfoAfter();
  void CmChooseIcon();
  void CmBuildArchive();
  void CmRunBatch();
  void CmEditControlFile();
  void CmShowHelp();
  void CmCleanUp();
  void CmOk();
  void CmCancel();

  int templateId_;
  HWND hwnd_ = nullptr;
  bool settingsSaved_ = false;
  std::unique_ptr<TWaitCursor> wait_;
};
