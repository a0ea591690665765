#include "app/window.h"

#include "app/main_dialog.h"
#include "resources/resource.h"

// ---- TWaitCursor ------------------------------------------------------------------------------

TWaitCursor::TWaitCursor(HWND capture) {
  if (capture != nullptr) {
    SetCapture(capture);
    captured_ = true;
  }
  previous_ = SetCursor(LoadCursorA(nullptr, IDC_WAIT));
}

TWaitCursor::~TWaitCursor() {
  SetCursor(previous_);
  if (captured_) ReleaseCapture();
}

// ---- TSDIDecFrame -----------------------------------------------------------------------------

const char TSDIDecFrame::kClassName[] = "TambrixMainFrame";

TSDIDecFrame::TSDIDecFrame(HWND parent, const char* title,
                           std::unique_ptr<TTambrixDlgClient> client)
    : parent_(parent), title_(title != nullptr ? title : ""), client_(std::move(client)) {
  if (!client_) client_ = std::make_unique<TTambrixDlgClient>(IDD_TAMBRIX);
}

TSDIDecFrame::~TSDIDecFrame() {
  if (hwnd_ != nullptr) DestroyWindow(hwnd_);
  if (bigIcon_ != nullptr) DestroyIcon(bigIcon_);
  if (smallIcon_ != nullptr) DestroyIcon(smallIcon_);
}

HWND TSDIDecFrame::ClientHandle() const { return client_ ? client_->Handle() : nullptr; }

bool TSDIDecFrame::Create(HINSTANCE instance, int showCommand) {
  if (iconId_ != 0) {
    bigIcon_ =
        static_cast<HICON>(LoadImageA(instance, MAKEINTRESOURCEA(iconId_), IMAGE_ICON,
                                      GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0));
    smallIcon_ = static_cast<HICON>(LoadImageA(instance, MAKEINTRESOURCEA(iconId_), IMAGE_ICON,
                                               GetSystemMetrics(SM_CXSMICON),
                                               GetSystemMetrics(SM_CYSMICON), 0));
  }

  WNDCLASSEXA windowClass = {};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = instance;
  windowClass.hIcon = bigIcon_;
  windowClass.hIconSm = smallIcon_;
  windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = kClassName;
  if (!RegisterClassExA(&windowClass) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
    return false;
  }

  // An explicit position: with CW_USEDEFAULT the start-up show request would decide the state.
  hwnd_ = CreateWindowExA(0, kClassName, title_.c_str(), style_, 0, 0, 640, 480, parent_, nullptr,
                          instance, this);
  if (hwnd_ == nullptr) return false;
  if (!client_->Create(instance, hwnd_)) return false;

  if (bigIcon_ != nullptr) SendMessageA(hwnd_, WM_SETICON, ICON_BIG, (LPARAM)bigIcon_);
  if (smallIcon_ != nullptr) SendMessageA(hwnd_, WM_SETICON, ICON_SMALL, (LPARAM)smallIcon_);
  if (shrinkToClient_) FitToClient();
  SetWindowPos(ClientHandle(), nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  ShowWindow(ClientHandle(), SW_SHOW);
  ShowWindow(hwnd_, showCommand);
  // Windows may apply the starter's show request to the first ShowWindow; the frame is never
  // meant to open maximised or minimised, so the normalised command is applied once more.
  if (showCommand == SW_SHOWNORMAL && (IsZoomed(hwnd_) || IsIconic(hwnd_))) {
    ShowWindow(hwnd_, SW_SHOWNORMAL);
  }
  UpdateWindow(hwnd_);
  return true;
}

void TSDIDecFrame::FitToClient() {
  RECT client;
  GetWindowRect(ClientHandle(), &client);
  RECT frame = {0, 0, client.right - client.left, client.bottom - client.top};
  AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongPtrA(hwnd_, GWL_STYLE)), FALSE,
                     static_cast<DWORD>(GetWindowLongPtrA(hwnd_, GWL_EXSTYLE)));
  int width = frame.right - frame.left;
  int height = frame.bottom - frame.top;
  // Centred on the work area of the primary screen, its caption kept on screen.
  RECT work = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
  int x = work.left + ((work.right - work.left) - width) / 2;
  int y = work.top + ((work.bottom - work.top) - height) / 2;
  if (x < work.left) x = work.left;
  if (y < work.top) y = work.top;
  SetWindowPos(hwnd_, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

bool TSDIDecFrame::PreProcessMessage(MSG& msg) {
  HWND dialog = ClientHandle();
  return dialog != nullptr && IsDialogMessageW(dialog, &msg);
}

LRESULT CALLBACK TSDIDecFrame::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  TSDIDecFrame* self;
  if (message == WM_NCCREATE) {
    self = static_cast<TSDIDecFrame*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    self->hwnd_ = hwnd;
  } else {
    self = reinterpret_cast<TSDIDecFrame*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  }
  if (self == nullptr) return DefWindowProcA(hwnd, message, wParam, lParam);
  LRESULT result = self->HandleMessage(message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
    self->hwnd_ = nullptr;
  }
  return result;
}

LRESULT TSDIDecFrame::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CLOSE:
      // The dialog goes first (it saves the settings); it then asks the frame to close again.
      if (ClientHandle() != nullptr) {
        DestroyWindow(ClientHandle());
      } else {
        DestroyWindow(hwnd_);
      }
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    case WM_ACTIVATE:
      if (LOWORD(wParam) == WA_INACTIVE) {
        HWND focus = GetFocus();
        if (focus != nullptr && IsChild(hwnd_, focus)) lastFocus_ = focus;
      } else if (ClientHandle() != nullptr) {
        HWND target = (lastFocus_ != nullptr && IsWindow(lastFocus_) && IsChild(hwnd_, lastFocus_))
                          ? lastFocus_
                          : GetNextDlgTabItem(ClientHandle(), nullptr, FALSE);
        if (target != nullptr) SetFocus(target);
      }
      return 0;
    case WM_SETFOCUS:
      if (ClientHandle() != nullptr) {
        HWND target = (lastFocus_ != nullptr && IsWindow(lastFocus_) && IsChild(hwnd_, lastFocus_))
                          ? lastFocus_
                          : GetNextDlgTabItem(ClientHandle(), nullptr, FALSE);
        if (target != nullptr) SetFocus(target);
      }
      return 0;
    default:
      return DefWindowProcA(hwnd_, message, wParam, lParam);
  }
}

// ---- TTambrixApp ------------------------------------------------------------------------------

TTambrixApp::TTambrixApp(const char* name, HINSTANCE instance, int showCommand)
    : name_(name), instance_(instance), showCommand_(showCommand) {}

TTambrixApp::~TTambrixApp() = default;

void TTambrixApp::InitMainWindow() {
  showCommand_ = NormaliseShowCommand(showCommand_);
  mainWindow_ = std::make_unique<TSDIDecFrame>(nullptr, name_.c_str(), nullptr);
  mainWindow_->SetShrinkToClient(true);
  mainWindow_->ClearStyle(WS_THICKFRAME | WS_MAXIMIZEBOX);
  mainWindow_->SetIconResource(IDI_TAMBRIX);
}

int TTambrixApp::Run() {
  InitMainWindow();
  if (!mainWindow_->Create(instance_, showCommand_)) return 1;
  MSG msg;
  int status;
  // A Unicode loop: a typed character code page 1252 lacks reaches the dialog's fields whole.
  while ((status = GetMessageW(&msg, nullptr, 0, 0)) > 0) {
    if (!mainWindow_->PreProcessMessage(msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  return status < 0 ? 1 : static_cast<int>(msg.wParam);
}
