// A small window layer over Win32 for the builder: the application object, the main frame and
// the hourglass guard. The dialog client is in main_dialog.h.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

class TTambrixDlgClient;

// Shows the hourglass while it lives and, given a window, captures the mouse for it.
class TWaitCursor {
 public:
  explicit TWaitCursor(HWND capture = nullptr);
  virtual ~TWaitCursor();
  TWaitCursor(const TWaitCursor&) = delete;
  TWaitCursor& operator=(const TWaitCursor&) = delete;

 private:
  HCURSOR previous_ = nullptr;
  bool captured_ = false;
};

// The show command the main window uses: anything but hide (0) and show-minimised-without-
// activation (7) becomes show normal (1).
inline int NormaliseShowCommand(int showCommand) {
  return (showCommand == SW_HIDE || showCommand == SW_SHOWMINNOACTIVE) ? showCommand
                                                                       : SW_SHOWNORMAL;
}

// The main frame: a fixed-size top-level window that fits itself around its one client, the
// main dialog, and closes when that dialog is destroyed.
class TSDIDecFrame {
 public:
  // client nullptr: the frame makes its own TTambrixDlgClient on template 2000.
  TSDIDecFrame(HWND parent, const char* title, std::unique_ptr<TTambrixDlgClient> client);
  ~TSDIDecFrame();
  TSDIDecFrame(const TSDIDecFrame&) = delete;
  TSDIDecFrame& operator=(const TSDIDecFrame&) = delete;

  // Window traits to apply before Create.
  void SetShrinkToClient(bool on) { shrinkToClient_ = on; }
  void ClearStyle(DWORD bits) { style_ &= ~bits; }
  void SetIconResource(int id) { iconId_ = id; }

  // Creates the frame and its client and shows the frame with showCommand. False on failure.
  bool Create(HINSTANCE instance, int showCommand);
  HWND Handle() const { return hwnd_; }
  // Lets the client dialog handle keyboard navigation (Tab, Enter, Escape) of msg.
  bool PreProcessMessage(MSG& msg);

  static const char kClassName[];

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void FitToClient();
  HWND ClientHandle() const;

  HWND parent_;
  std::string title_;
  std::unique_ptr<TTambrixDlgClient> client_;
  DWORD style_ = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
  bool shrinkToClient_ = false;
  int iconId_ = 0;
  HICON bigIcon_ = nullptr;
  HICON smallIcon_ = nullptr;
  HWND hwnd_ = nullptr;
  HWND lastFocus_ = nullptr;  // the control to give the focus back to on activation
};

// The application: makes the main window, runs the message loop until it closes.
class TTambrixApp {
 public:
  TTambrixApp(const char* name, HINSTANCE instance, int showCommand);
  ~TTambrixApp();
  // Creates the main window and runs the message loop; returns the loop's exit code.
  int Run();

 private:
  void InitMainWindow();

  std::string name_;
  HINSTANCE instance_;
  int showCommand_;
  std::unique_ptr<TSDIDecFrame> mainWindow_;
};
