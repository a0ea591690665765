#include "app/main_dialog.h"

#include <shellapi.h>

#include "app/choosers.h"
#include "app/window_text.h"
#include "resources/resource.h"
#include "settings/settings_file.h"
#include "support/util_var_man.h"

namespace {

// Every edit takes at most this many typed characters; text set by the program is not cut.
constexpr int kTypedTextLimit = 254;

const int kEditIds[] = {IDC_SOURCE_DIR, IDC_TARGET_DIR,  IDC_SECOND_COMMAND, IDC_INFO_BEFORE,
                        IDC_COMMAND,    IDC_DIALOG_TEXT, IDC_INFO_AFTER,     IDC_ICON_FILE,
                        IDC_SFX_NAME,   IDC_STATUS,      IDC_DIALOG_TITLE};

// Whether path names an existing file (not a folder).
bool IsFile(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

// One entry per command; clicks on any other control are left to the controls themselves.
const TTambrixDlgClient::CommandEntry TTambrixDlgClient::kCommands[] = {
    {IDC_CHOOSE_SOURCE, &TTambrixDlgClient::CmChooseSourceDirectory},
    {IDC_CHOOSE_SFX_NAME, &TTambrixDlgClient::CmChooseSfxName},
    {IDC_CHOOSE_DIALOG_TEXT, &TTambrixDlgClient::CmChooseDialogText},
    {IDC_CHOOSE_INFO_BEFORE, &TTambrixDlgClient::CmChooseInfoBefore},
    {IDC_CHOOSE_INFO_AFTER, &TTambrixDlgClient::CmChooseInfoAfter},
    {IDC_CHOOSE_ICON, &TTambrixDlgClient::CmChooseIcon},
    {IDC_BUILD, &TTambrixDlgClient::CmBuildArchive},
    {IDC_BATCH_START, &TTambrixDlgClient::CmRunBatch},
    {IDC_EDIT_CONTROL_FILE, &TTambrixDlgClient::CmEditControlFile},
    {IDC_HELP_BUTTON, &TTambrixDlgClient::CmShowHelp},
    {IDC_CLEAN_UP, &TTambrixDlgClient::CmCleanUp},
    {IDOK, &TTambrixDlgClient::CmOk},
    {IDCANCEL, &TTambrixDlgClient::CmCancel},
};

TTambrixDlgClient::TTambrixDlgClient(int templateId) : templateId_(templateId) {}

TTambrixDlgClient::~TTambrixDlgClient() {
  if (hwnd_ != nullptr) DestroyWindow(hwnd_);
}

bool TTambrixDlgClient::Create(HINSTANCE instance, HWND parent) {
  HWND created = CreateDialogParamA(instance, MAKEINTRESOURCEA(templateId_), parent, DialogProc,
                                    reinterpret_cast<LPARAM>(this));
  return created != nullptr;
}

INT_PTR CALLBACK TTambrixDlgClient::DialogProc(HWND hwnd, UINT message, WPARAM wParam,
                                               LPARAM lParam) {
  TTambrixDlgClient* self;
  if (message == WM_INITDIALOG) {
    self = reinterpret_cast<TTambrixDlgClient*>(lParam);
    SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
    self->hwnd_ = hwnd;
  } else {
    self = reinterpret_cast<TTambrixDlgClient*>(GetWindowLongPtrA(hwnd, DWLP_USER));
  }
  if (self == nullptr) return FALSE;
  INT_PTR result = self->HandleMessage(message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrA(hwnd, DWLP_USER, 0);
    self->hwnd_ = nullptr;
  }
  return result;
}

INT_PTR TTambrixDlgClient::HandleMessage(UINT message, WPARAM wParam, LPARAM /*lParam*/) {
  switch (message) {
    case WM_INITDIALOG:
      LoadSettings();
      return TRUE;  // focus on the first control
    case WM_COMMAND:
      Dispatch(LOWORD(wParam), HIWORD(wParam));
      return TRUE;
    case WM_DESTROY: {
      SaveSettings();
      // The frame closes with its client.
      HWND frame = GetParent(hwnd_);
      if (frame != nullptr) PostMessageA(frame, WM_CLOSE, 0, 0);
      return TRUE;
    }
    default:
      return FALSE;
  }
}

void TTambrixDlgClient::Dispatch(int id, int notification) {
  if (notification != BN_CLICKED) return;
  for (const CommandEntry& entry : kCommands) {
    if (entry.id == id) {
      (this->*entry.handler)();
      return;
    }
  }
}

void TTambrixDlgClient::LoadSettings() {
  for (int id : kEditIds) SendDlgItemMessageA(hwnd_, id, EM_LIMITTEXT, kTypedTextLimit, 0);
  SetChecked(IDC_START_AFTERWARDS, true);  // checked at every start, never stored
  LoadSettingsFile(Settings);
  ShowSettings(Settings);
}

void TTambrixDlgClient::SaveSettings() {
  // Runs once, however the dialog was closed.
  if (settingsSaved_) return;
  settingsSaved_ = true;
  TakeSettings(Settings);
  SaveSettingsFile(Settings);
}

void TTambrixDlgClient::ShowSettings(const TInstallInf& settings) {
  SetDlgItemTextA(hwnd_, IDC_SOURCE_DIR, "");
  if (settings.SourcePaths.Count() > 0) {
    SetWindowTextString(settings.SourcePaths.At(0), Item(IDC_SOURCE_DIR));
  }
  // A two-state box shows any non-zero flag as checked.
  SetChecked(IDC_STORE_DIR_NAMES, settings.StoreDirNames != 0);
  SetChecked(IDC_MAX_COMPRESSION, settings.MaxCompression != 0);
  SetChecked(IDC_TERMINATES, settings.Terminates != 0);
  SetChecked(IDC_TARGET_EDITABLE, settings.TargetEditable != 0);
  SetChecked(IDC_CLEAN_UP, settings.CleanUp != 0);
  SetWindowTextString(settings.TargetDir, Item(IDC_TARGET_DIR));
  SetWindowTextString(settings.SfxName, Item(IDC_SFX_NAME));
  SetWindowTextString(settings.IconFile, Item(IDC_ICON_FILE));
  SetWindowTextString(settings.Command, Item(IDC_COMMAND));
  SetWindowTextString(settings.SecondCommand, Item(IDC_SECOND_COMMAND));
  SetWindowTextString(settings.DialogText, Item(IDC_DIALOG_TEXT));
  SetWindowTextString(settings.InfoTextBefore, Item(IDC_INFO_BEFORE));
  SetWindowTextString(settings.InfoTextAfter, Item(IDC_INFO_AFTER));
  SetWindowTextString(settings.DialogTitle, Item(IDC_DIALOG_TITLE));
  ApplyCleanUpRule();
}

void TTambrixDlgClient::TakeSettings(TInstallInf& settings) {
  settings.SourcePaths.Clear();
  settings.SourcePaths.Add(SourceDirText());
  settings.StoreDirNames = Checked(IDC_STORE_DIR_NAMES) ? 1 : 0;
  settings.MaxCompression = Checked(IDC_MAX_COMPRESSION) ? 1 : 0;
  settings.Terminates = Checked(IDC_TERMINATES) ? 1 : 0;
  settings.TargetEditable = Checked(IDC_TARGET_EDITABLE) ? 1 : 0;
  settings.CleanUp = Checked(IDC_CLEAN_UP) ? 1 : 0;
  GetWindowTextString(settings.TargetDir, Item(IDC_TARGET_DIR));
  GetWindowTextString(settings.SfxName, Item(IDC_SFX_NAME));
  GetWindowTextString(settings.IconFile, Item(IDC_ICON_FILE));
  GetWindowTextString(settings.Command, Item(IDC_COMMAND));
  GetWindowTextString(settings.SecondCommand, Item(IDC_SECOND_COMMAND));
  GetWindowTextString(settings.DialogText, Item(IDC_DIALOG_TEXT));
  GetWindowTextString(settings.InfoTextBefore, Item(IDC_INFO_BEFORE));
  GetWindowTextString(settings.InfoTextAfter, Item(IDC_INFO_AFTER));
  GetWindowTextString(settings.DialogTitle, Item(IDC_DIALOG_TITLE));
}

void TTambrixDlgClient::ApplyCleanUpRule() {
  EnableWindow(Item(IDC_TARGET_DIR), TRUE);
  EnableWindow(Item(IDC_TARGET_EDITABLE), TRUE);
  if (Checked(IDC_CLEAN_UP)) {
    SetChecked(IDC_TARGET_EDITABLE, false);
    EnableWindow(Item(IDC_TARGET_DIR), FALSE);
    EnableWindow(Item(IDC_TARGET_EDITABLE), FALSE);
  }
}

std::string TTambrixDlgClient::SourceDirText() {
  // Read through a path buffer: at most 259 characters.
  char buffer[MAX_PATH] = "";
  GetWindowTextA(Item(IDC_SOURCE_DIR), buffer, MAX_PATH);
  return buffer;
}

BuildOptions TTambrixDlgClient::Options() {
  BuildOptions options;
  options.startAfterwards = Checked(IDC_START_AFTERWARDS);
  // The dialog names what it cannot read in one message and builds without it.
  options.skipUnreadable = true;
  return options;
}

void TTambrixDlgClient::ShowProgress(const std::string& text) {
  HWND status = Item(IDC_STATUS);
  SetWindowTextString(text, status);
  UpdateWindow(status);  // the build does not return to the message loop
}

void TTambrixDlgClient::ShowMessage(const std::string& text) {
  MessageBoxExA(hwnd_, text.c_str(), kAppTitle, MB_OK | MB_ICONINFORMATION, 0);
}

void TTambrixDlgClient::FocusSfxName() {
  SendMessageA(hwnd_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(IDC_SFX_NAME)), TRUE);
}

void TTambrixDlgClient::StartProgram(const std::string& path) {
  ShellExecuteA(hwnd_, nullptr, path.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void TTambrixDlgClient::BeginWait() { wait_ = std::make_unique<TWaitCursor>(hwnd_); }

void TTambrixDlgClient::EndWait() { wait_.reset(); }

void TTambrixDlgClient::Repaint() { UpdateWindow(hwnd_); }

void TTambrixDlgClient::ShowReport(const std::string& report) {
  BringWindowToTop(hwnd_);
  ShowMessage(report);
}

void TTambrixDlgClient::OpenProgramFile(const char* name) {
  // The shell's answer is not checked: a missing file or association stays silent.
  TUtilVarMan environment;
  std::string path = environment.ProgramDir + name;
  ShellExecuteA(hwnd_, nullptr, path.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void TTambrixDlgClient::CmChooseSourceDirectory() { ChooseSourceDirectory(hwnd_); }
void TTambrixDlgClient::CmChooseSfxName() { ChooseSfxName(hwnd_); }
void TTambrixDlgClient::CmChooseDialogText() { ChooseTextFile(hwnd_, IDC_DIALOG_TEXT); }
void TTambrixDlgClient::CmChooseInfoBefore() { ChooseTextFile(hwnd_, IDC_INFO_BEFORE); }
void TTambrixDlgClient::CmChooseInfoAfter() { ChooseTextFile(hwnd_, IDC_INFO_AFTER); }
void TTambrixDlgClient::CmChooseIcon() {}  // the icon file cannot be chosen in this version
void TTambrixDlgClient::CmBuildArchive() {
  // The build reads the record only: the fields go into it first.
  TakeSettings(Settings);
  BuildArchive(*this, Options());
}
void TTambrixDlgClient::CmRunBatch() { RunBatch(*this, std::string(), Options()); }
void TTambrixDlgClient::CmEditControlFile() { OpenProgramFile("tambbatch.ini"); }
void TTambrixDlgClient::CmShowHelp() {
  // An old help file beside the program wins; else the shipped page opens in the browser.
  TUtilVarMan environment;
  const std::string& dir = environment.ProgramDir;
  std::string path = dir + "tambrix.hlp";
  if (!IsFile(path)) path = dir + "tambrix-hilfe.html";
  if (!IsFile(path)) {
    ShowMessage("Die Hilfe wurde nicht gefunden: Im Programmverzeichnis " + dir +
                " liegt weder tambrix.hlp noch tambrix-hilfe.html.");
    return;
  }
  HINSTANCE opened = ShellExecuteA(hwnd_, nullptr, path.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
  if (reinterpret_cast<INT_PTR>(opened) <= 32)
    ShowMessage("Die Hilfeseite " + path +
                " konnte nicht ge\xF6"
                "ffnet werden.");
}
void TTambrixDlgClient::CmCleanUp() { ApplyCleanUpRule(); }
void TTambrixDlgClient::CmOk() { DestroyWindow(hwnd_); }
void TTambrixDlgClient::CmCancel() { DestroyWindow(hwnd_); }
