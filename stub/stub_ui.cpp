#include "stub/stub_ui.h"

#include <commctrl.h>
#include <shlobj.h>

#include "stub/stub_ids.h"
#include "stub/stub_logic.h"
#include "stub/stub_text.h"

namespace {

constexpr DWORD kUpdateInterval = 50;  // ms between display updates while unpacking
constexpr int kProgressRange = 1000;

int CALLBACK BrowseCallback(HWND hwnd, UINT msg, LPARAM, LPARAM data) {
  if (msg == BFFM_INITIALIZED && data) SendMessageW(hwnd, BFFM_SETSELECTIONW, TRUE, data);
  return 0;
}

std::wstring WindowText(HWND h) {
  int n = GetWindowTextLengthW(h);
  std::wstring s(static_cast<size_t>(n) + 1, L'\0');
  n = GetWindowTextW(h, &s[0], n + 1);
  s.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return s;
}

}  // namespace

void LoadCommonControls() {
  // comctl32 is not among the DLLs Windows always takes from the system folder, so it is not
  // imported; loaded by name it comes from the side-by-side store the manifest names.
  HMODULE m = LoadLibraryW(L"comctl32.dll");
  if (!m) return;
  typedef BOOL(WINAPI * InitFn)(const INITCOMMONCONTROLSEX*);
  auto init = reinterpret_cast<InitFn>(
      reinterpret_cast<void (*)()>(GetProcAddress(m, "InitCommonControlsEx")));
  INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_PROGRESS_CLASS};
  if (init) init(&icc);
}

StubWindow::StubWindow(HINSTANCE instance, const std::wstring& title)
    : instance_(instance), title_(title) {}

StubWindow::~StubWindow() { Close(); }

bool StubWindow::Create() {
  if (hwnd_) return true;
  CreateDialogParamW(instance_, MAKEINTRESOURCEW(IDD_STUB_MAIN), nullptr, DialogProc,
                     reinterpret_cast<LPARAM>(this));
  if (!hwnd_) return false;
  SetWindowTextW(hwnd_, title_.c_str());
  return true;
}

INT_PTR CALLBACK StubWindow::DialogProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_INITDIALOG) {
    SetWindowLongPtrW(hwnd, DWLP_USER, lp);
    reinterpret_cast<StubWindow*>(lp)->hwnd_ = hwnd;
  }
  auto* self = reinterpret_cast<StubWindow*>(GetWindowLongPtrW(hwnd, DWLP_USER));
  return self ? self->HandleMessage(msg, wp, lp) : FALSE;
}

INT_PTR StubWindow::HandleMessage(UINT msg, WPARAM wp, LPARAM) {
  switch (msg) {
    case WM_INITDIALOG:
      return TRUE;
    case WM_COMMAND:
      OnCommand(LOWORD(wp));
      return TRUE;
    case WM_CLOSE:
      OnCancel();
      return TRUE;
  }
  return FALSE;
}

void StubWindow::OnCommand(int id) {
  switch (id) {
    case IDOK:
      OnUnpack();
      break;
    case IDCANCEL:
      OnCancel();
      break;
    case IDC_STUB_BROWSE:
      OnBrowse();
      break;
  }
}

void StubWindow::OnUnpack() {
  if (working_) return;
  if (ExpandVariables(WindowText(GetDlgItem(hwnd_, IDC_STUB_TARGET))).empty()) {
    Outcome missing = Fail(kExitUnpackFailed, Msg::TargetMissing);
    ShowBox(hwnd_, MessageText(missing), title_, MB_OK | MB_ICONWARNING);
    return;
  }
  choice_ = Choice::Unpack;
}

void StubWindow::OnCancel() {
  if (!working_) {
    choice_ = Choice::Cancel;
    return;
  }
  if (cancelled_ || asking_) return;
  // The box runs its own message loop; the unpacking loop that dispatched this click waits here.
  asking_ = true;
  const int answer = ShowBox(hwnd_, UiText(kTextCancelQuestion), title_,
                             MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2);
  asking_ = false;
  if (answer == IDYES) cancelled_ = true;
}

void StubWindow::OnBrowse() {
  std::wstring current = ExpandVariables(WindowText(GetDlgItem(hwnd_, IDC_STUB_TARGET)));
  std::wstring caption = UiText(kTextBrowse);
  BROWSEINFOW bi = {};
  bi.hwndOwner = hwnd_;
  bi.lpszTitle = caption.c_str();
  bi.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
  bi.lpfn = BrowseCallback;
  bi.lParam = reinterpret_cast<LPARAM>(current.c_str());
  LPITEMIDLIST pidl = SHBrowseForFolderW(&bi);
  if (!pidl) return;
  wchar_t path[MAX_PATH];  // the size this shell function requires
  if (SHGetPathFromIDListW(pidl, path)) SetDlgItemTextW(hwnd_, IDC_STUB_TARGET, path);
  CoTaskMemFree(pidl);
}

bool StubWindow::AskTarget(const std::wstring& text, std::wstring& target, bool editable) {
  if (!Create()) return false;
  SetDlgItemTextW(hwnd_, IDC_STUB_TEXT, text.c_str());
  SetDlgItemTextW(hwnd_, IDC_STUB_TARGET, target.c_str());
  if (!editable) {
    SendDlgItemMessageW(hwnd_, IDC_STUB_TARGET, EM_SETREADONLY, TRUE, 0);
    ShowWindow(GetDlgItem(hwnd_, IDC_STUB_BROWSE), SW_HIDE);
  }
  ShowWindow(hwnd_, SW_SHOW);
  SetForegroundWindow(hwnd_);
  SendMessageW(hwnd_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(hwnd_, IDOK)), TRUE);
  choice_ = Choice::Waiting;
  while (choice_ == Choice::Waiting) {
    MSG m;
    BOOL r = GetMessageW(&m, nullptr, 0, 0);
    if (r == 0 || r == -1) {
      choice_ = Choice::Cancel;
      break;
    }
    if (!IsDialogMessageW(hwnd_, &m)) {
      TranslateMessage(&m);
      DispatchMessageW(&m);
    }
  }
  if (choice_ != Choice::Unpack) return false;
  target = WindowText(GetDlgItem(hwnd_, IDC_STUB_TARGET));
  return true;
}

bool StubWindow::BeginProgress(const std::wstring& text, uint64_t total) {
  if (!Create()) return false;
  if (!text.empty()) {
    SetDlgItemTextW(hwnd_, IDC_STUB_TEXT, text.c_str());
    ShowWindow(GetDlgItem(hwnd_, IDC_STUB_TARGET_LABEL), SW_HIDE);
    ShowWindow(GetDlgItem(hwnd_, IDC_STUB_TARGET), SW_HIDE);
    ShowWindow(GetDlgItem(hwnd_, IDC_STUB_BROWSE), SW_HIDE);
  }
  SendDlgItemMessageW(hwnd_, IDC_STUB_TARGET, EM_SETREADONLY, TRUE, 0);
  EnableWindow(GetDlgItem(hwnd_, IDC_STUB_BROWSE), FALSE);
  SendMessageW(hwnd_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(hwnd_, IDCANCEL)), TRUE);
  EnableWindow(GetDlgItem(hwnd_, IDOK), FALSE);
  SendDlgItemMessageW(hwnd_, IDC_STUB_PROGRESS, PBM_SETRANGE32, 0, kProgressRange);
  SendDlgItemMessageW(hwnd_, IDC_STUB_PROGRESS, PBM_SETPOS, 0, 0);
  ShowWindow(GetDlgItem(hwnd_, IDC_STUB_PROGRESS), SW_SHOW);
  ShowWindow(GetDlgItem(hwnd_, IDC_STUB_CURRENT), SW_SHOW);
  if (!IsWindowVisible(hwnd_)) {
    ShowWindow(hwnd_, SW_SHOW);
    SetForegroundWindow(hwnd_);
  }
  working_ = true;
  cancelled_ = false;
  total_ = total;
  done_ = 0;
  lastUpdate_ = GetTickCount();
  Update();
  Pump();
  return true;
}

void StubWindow::SetCurrent(const std::wstring& name) {
  current_ = name;
  currentChanged_ = true;
}

bool StubWindow::Tick(uint64_t done) {
  done_ = done;
  DWORD now = GetTickCount();
  if (now - lastUpdate_ >= kUpdateInterval) {
    lastUpdate_ = now;
    Update();
    Pump();
  }
  return !cancelled_;
}

void StubWindow::Update() {
  if (!hwnd_) return;
  if (currentChanged_) {
    SetDlgItemTextW(hwnd_, IDC_STUB_CURRENT, current_.c_str());
    currentChanged_ = false;
  }
  int pos = total_ ? static_cast<int>(done_ * kProgressRange / total_) : 0;
  SendDlgItemMessageW(hwnd_, IDC_STUB_PROGRESS, PBM_SETPOS, pos, 0);
}

void StubWindow::Pump() {
  MSG m;
  while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
    if (m.message == WM_QUIT) {
      cancelled_ = true;
      PostQuitMessage(static_cast<int>(m.wParam));
      break;
    }
    if (!hwnd_ || !IsDialogMessageW(hwnd_, &m)) {
      TranslateMessage(&m);
      DispatchMessageW(&m);
    }
  }
}

void StubWindow::Close() {
  if (hwnd_) {
    DestroyWindow(hwnd_);
    hwnd_ = nullptr;
  }
}
