#include "app/main_dialog.h"

#include <shellapi.h>

#include "app/choosers.h"
#include "app/window_text.h"
#include "builder/parallel_compressor.h"
#include "platform/win32/wide_text.h"
#include "resources/resource.h"
#include "settings/settings_file.h"
#include "support/util_var_man.h"

namespace {

// Every edit takes at most this many typed characters; text set by the program is not cut.
constexpr int kTypedTextLimit = 254;

const int kEditIds[] = {IDC_SOURCE_DIR, IDC_TARGET_DIR,  IDC_SECOND_COMMAND, IDC_INFO_BEFORE,
                        IDC_COMMAND,    IDC_DIALOG_TEXT, IDC_INFO_AFTER,     IDC_ICON_FILE,
                        IDC_SFX_NAME,   IDC_STATUS,      IDC_DIALOG_TITLE};

// A field whose text goes into the record. A path, and a line, is named in a refusal as typed;
// a text of several lines only by its field.
enum class FieldKind { Path, Line, Lines };
struct RecordField {
  int id;
  std::string TInstallInf::*member;
  const char* label;
  FieldKind kind;
};
const RecordField kRecordFields[] = {
    {IDC_TARGET_DIR, &TInstallInf::TargetDir, "Zielverzeichnisvorgabe", FieldKind::Path},
    {IDC_SFX_NAME, &TInstallInf::SfxName, "SFX-Name", FieldKind::Path},
    {IDC_ICON_FILE, &TInstallInf::IconFile, "Programmsymbol", FieldKind::Path},
    {IDC_COMMAND, &TInstallInf::Command, "Kommando nach dem Entpacken", FieldKind::Line},
    {IDC_SECOND_COMMAND, &TInstallInf::SecondCommand, "Zweites Kommando nach dem Entpacken",
     FieldKind::Line},
    {IDC_DIALOG_TEXT, &TInstallInf::DialogText, "Dialogtext", FieldKind::Lines},
    {IDC_INFO_BEFORE, &TInstallInf::InfoTextBefore, "Infotext bei Programmstart", FieldKind::Lines},
    {IDC_INFO_AFTER, &TInstallInf::InfoTextAfter, "Infotext nach dem Entpacken", FieldKind::Lines},
    {IDC_DIALOG_TITLE, &TInstallInf::DialogTitle, "Dialogtitelzeile", FieldKind::Line},
};

const char kOnlyCodePage[] = "Tambrix nimmt Namen und Texte nur in Codepage 1252 an. ";
const char kNotBuilt[] = "Das Archiv wurde nicht erstellt.";
const char kBatchNotStarted[] = "Die Batch-Verarbeitung wurde nicht gestartet.";
const char kNotSaved[] = "Der Wert dieses Feldes wird nicht gespeichert.";

// How a refusal names a field's text: "Der Pfad "..." im Feld SFX-Name".
std::wstring FieldSubject(const char* label, FieldKind kind, const std::wstring& typed) {
  const std::wstring field = platform::Utf16OfCp1252(std::string(" im Feld ") + label);
  if (kind == FieldKind::Lines) return L"Der Text" + field;
  return (kind == FieldKind::Path ? L"Der Pfad \"" : L"Der Text \"") + typed + L"\"" + field;
}

// Whether path names an existing file (not a folder).
bool IsFile(const std::string& path) {
  DWORD attributes = GetFileAttributesW(platform::Utf16OfCp1252(path).c_str());
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
  // A Unicode dialog: its fields keep what is typed or pasted in UTF-16, so that a character code
  // page 1252 lacks is seen and refused, not changed into a look-alike on the way in.
  HWND created = CreateDialogParamW(instance, MAKEINTRESOURCEW(templateId_), parent, DialogProc,
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

void TTambrixDlgClient::TakeSettings(TInstallInf& settings) { TakeFields(settings, kNotSaved); }

bool TTambrixDlgClient::TakeFields(TInstallInf& settings, const char* consequence) {
  // The first field the code page cannot hold is named; it and any other such field keep the
  // record's value.
  int refused = 0;
  std::wstring refusedSubject, refusedText;
  const auto refuse = [&](int id, const std::wstring& subject, const std::wstring& typed) {
    if (refused != 0) return;
    refused = id;
    refusedSubject = subject;
    refusedText = typed;
  };
  std::string source;
  const std::wstring typedSource = SourceDirText();
  if (platform::Cp1252OfUtf16(typedSource, source)) {
    settings.SourcePaths.Clear();
    settings.SourcePaths.Add(source);
  } else {
    refuse(IDC_SOURCE_DIR, FieldSubject("Quellverzeichnis", FieldKind::Path, typedSource),
           typedSource);
  }
  for (const RecordField& field : kRecordFields) {
    if (GetWindowTextString(settings.*field.member, Item(field.id))) continue;
    const std::wstring typed = WindowTextWide(Item(field.id));
    refuse(field.id, FieldSubject(field.label, field.kind, typed), typed);
  }
  settings.StoreDirNames = Checked(IDC_STORE_DIR_NAMES) ? 1 : 0;
  settings.MaxCompression = Checked(IDC_MAX_COMPRESSION) ? 1 : 0;
  settings.Terminates = Checked(IDC_TERMINATES) ? 1 : 0;
  settings.TargetEditable = Checked(IDC_TARGET_EDITABLE) ? 1 : 0;
  settings.CleanUp = Checked(IDC_CLEAN_UP) ? 1 : 0;
  if (refused == 0) return true;
  // While the dialog closes (the settings are being saved) the box stands on its own.
  const HWND owner = settingsSaved_ ? nullptr : hwnd_;
  ShowOutsideCodePage(owner, refusedSubject, refusedText, std::string(kOnlyCodePage) + consequence);
  if (owner != nullptr)
    SendMessageW(hwnd_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(refused)), TRUE);
  return false;
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

std::wstring TTambrixDlgClient::SourceDirText() {
  // Read through a path buffer: at most 259 characters.
  wchar_t buffer[MAX_PATH] = L"";
  GetWindowTextW(Item(IDC_SOURCE_DIR), buffer, MAX_PATH);
  return buffer;
}

BuildOptions TTambrixDlgClient::Options() {
  BuildOptions options;
  options.startAfterwards = Checked(IDC_START_AFTERWARDS);
  // The dialog names what it cannot read in one message and builds without it.
  options.skipUnreadable = true;
  // One thread per processor, as tambrixc: the archive is the same for any number, and the status
  // line is written by the thread that writes the archive (this one).
  options.jobs = DefaultJobs();
  return options;
}

void TTambrixDlgClient::ShowProgress(const std::string& text) {
  HWND status = Item(IDC_STATUS);
  SetWindowTextString(text, status);
  UpdateWindow(status);  // the build does not return to the message loop
}

void TTambrixDlgClient::ShowMessage(const std::string& text) {
  MessageBoxExW(hwnd_, platform::Utf16OfCp1252(text).c_str(),
                platform::Utf16OfCp1252(kAppTitle).c_str(), MB_OK | MB_ICONINFORMATION, 0);
}

void TTambrixDlgClient::FocusSfxName() {
  SendMessageA(hwnd_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(IDC_SFX_NAME)), TRUE);
}

void TTambrixDlgClient::StartProgram(const std::string& path) {
  ShellExecuteW(hwnd_, nullptr, platform::Utf16OfCp1252(path).c_str(), nullptr, nullptr,
                SW_SHOWNORMAL);
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
  ShellExecuteW(hwnd_, nullptr, platform::Utf16OfCp1252(path).c_str(), nullptr, nullptr,
                SW_SHOWNORMAL);
}

void TTambrixDlgClient::CmChooseSourceDirectory() { ChooseSourceDirectory(hwnd_); }
void TTambrixDlgClient::CmChooseSfxName() { ChooseSfxName(hwnd_); }
void TTambrixDlgClient::CmChooseDialogText() { ChooseTextFile(hwnd_, IDC_DIALOG_TEXT); }
void TTambrixDlgClient::CmChooseInfoBefore() { ChooseTextFile(hwnd_, IDC_INFO_BEFORE); }
void TTambrixDlgClient::CmChooseInfoAfter() { ChooseTextFile(hwnd_, IDC_INFO_AFTER); }
void TTambrixDlgClient::CmChooseIcon() { ChooseIconFile(hwnd_); }
void TTambrixDlgClient::CmBuildArchive() {
  // The build reads the record only: the fields go into it first.
  if (TakeFields(Settings, kNotBuilt)) BuildArchive(*this, Options());
}
void TTambrixDlgClient::CmRunBatch() {
  // What was typed comes back after the run, so it has to be something the record can keep.
  if (TakeFields(Settings, kBatchNotStarted)) RunBatch(*this, std::string(), Options());
}
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
  HINSTANCE opened = ShellExecuteW(hwnd_, nullptr, platform::Utf16OfCp1252(path).c_str(), nullptr,
                                   nullptr, SW_SHOWNORMAL);
  if (reinterpret_cast<INT_PTR>(opened) <= 32)
    ShowMessage("Die Hilfeseite " + path +
                " konnte nicht ge\xF6"
                "ffnet werden.");
}
void TTambrixDlgClient::CmCleanUp() { ApplyCleanUpRule(); }
void TTambrixDlgClient::CmOk() { DestroyWindow(hwnd_); }
void TTambrixDlgClient::CmCancel() { DestroyWindow(hwnd_); }
