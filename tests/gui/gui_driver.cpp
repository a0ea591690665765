// Black-box tests of the Windows builder tambrix.exe: each test copies the real program into a
// fresh folder beside a pair of stub files, starts it, and works its dialog from outside the way a
// tester would: finds the windows, types, clicks, reads message boxes, control states and files.
//
// Environment (set by run_gui_tests.sh):
//   TAMBRIX_GUI_DIST       folder with tambrix.exe (and tambrixc.exe when it is built)
//   TAMBRIX_GUI_ARTIFACTS  folder for the screenshot
//   TAMBRIX_GUI_MARKER     a small program that leaves a file "<its path>.started" when run
//   TAMBRIX_GUI_SCREEN     the X screen the wrapper started, e.g. 799x600
//   TAMBRIX_GUI_DPI        the screen's DPI the wrapper set (96 when not set)
// Paths may be given as Unix paths; they are reached through Wine's Z: drive.
// <windows.h> has to come before the other Windows headers.
// clang-format off
#include <windows.h>
// clang-format on
#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "tests/screen_capture.h"
#include "tests/window_look.h"

namespace {

// ---- texts and ids of the program under test --------------------------------------------------

const char kTitle[] = "ZAL Gralvex Version 0.5b";
const char kFrameClass[] = "TambrixMainFrame";
const char kMsgSuccess[] = "Das Archiv wurde ordnungsgem\xE4\xDF erstellt!";
const char kMsgNoName[] = "Es wurde noch kein Archivname angegeben!";
const char kMsgStubMissing[] =
    "Kann Datei tambrix.resx nicht \xF6"
    "ffnen!";
const char kMsgFileFailed[] = "Fehler bei der Erstellung des Archivs!";
const char kMsgBatchMissing[] = "Kann Datei tambbatch.ini nicht finden!";
const char kMsgScreen[] =
    "Zum Betrieb dieses Programmes ist einen minimale Bildschirmaufl\xF6sung von 800x600 "
    "erforderlich!";
const char kDefaultDialogText[] =
    "Hier k\xF6nnen Sie eine begleitende Information zur Installation unterbringen.";
const char kDefaultDialogTitle[] = "ZAL Self-Extractor";
const char kDefaultInfoBefore[] = "Dieser Text kann beim Programmstart angezeigt werden.";
const char kDefaultInfoAfter[] =
    "Dieser Text kann nach einem erfolgreichen Entpackvorgang angezeigt werden.";

enum : int {
  kSourceDir = 101,
  kChooseSource = 102,
  kMaxCompression = 103,
  kStoreDirNames = 104,
  kTargetDir = 105,
  kSecondCommand = 106,
  kInfoBefore = 107,
  kChooseDialogText = 108,
  kBuild = 109,
  kCommand = 110,
  kDialogText = 111,
  kChooseInfoBefore = 112,
  kInfoAfter = 113,
  kChooseInfoAfter = 114,
  kIconFile = 115,
  kChooseIcon = 116,
  kSfxName = 117,
  kChooseSfxName = 118,
  kStatus = 119,
  kDialogTitle = 120,
  kStartAfterwards = 121,
  kTerminates = 122,
  kBatchStart = 123,
  kEditControlFile = 124,
  kHelp = 125,
  kTargetEditable = 126,
  kCleanUp = 127,
  kOk = 1
};

const DWORD kWaitMs = 30000;  // deadline for anything the program should do by itself

// ---- files ------------------------------------------------------------------------------------

std::string EnvPath(const char* name) {
  char buffer[4096];
  DWORD n = GetEnvironmentVariableA(name, buffer, sizeof(buffer));
  if (n == 0 || n >= sizeof(buffer)) return "";
  std::string value(buffer, n);
  if (!value.empty() && value[0] == '/') {
    for (char& c : value) {
      if (c == '/') c = '\\';
    }
    value = "Z:" + value;
  }
  while (!value.empty() && value.back() == '\\') value.pop_back();
  return value;
}

bool WriteBytes(const std::string& path, const std::string& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

std::string ReadBytes(const std::string& path, bool* ok = nullptr) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (ok != nullptr) *ok = f != nullptr;
  if (f == nullptr) return "";
  std::string bytes;
  char buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof(buffer), f)) > 0) bytes.append(buffer, n);
  std::fclose(f);
  return bytes;
}

bool Exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void RemoveTree(const std::string& dir) {
  WIN32_FIND_DATAA data;
  HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &data);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      std::string name = data.cFileName;
      if (name == "." || name == "..") continue;
      std::string path = dir + "\\" + name;
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(path);
      } else {
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(path.c_str());
      }
    } while (FindNextFileA(h, &data));
    FindClose(h);
  }
  RemoveDirectoryA(dir.c_str());
}

// A stub stand-in: recognisable bytes of a given length.
std::string StubBytes(char tag, size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + tag) & 0xFF);
  bytes[0] = 'M';
  bytes[1] = 'Z';
  return bytes;
}

// The settings record as the program writes it into tambrix.dat and into every archive,
// encoded here independently of the program's own code.
struct Record {
  std::vector<std::string> sourcePaths;
  uint8_t storeDirNames = 1;
  uint8_t maxCompression = 0;
  std::string targetDir, sfxName, command, secondCommand, iconFile;
  std::string dialogText = kDefaultDialogText;
  std::string infoBefore = kDefaultInfoBefore;
  std::string infoAfter = kDefaultInfoAfter;
  uint8_t terminates = 0;
  std::string dialogTitle = kDefaultDialogTitle;
  uint8_t targetEditable = 1;
  uint8_t cleanUp = 0;
};

void PutU16(std::string& out, size_t v) {
  out.push_back(static_cast<char>(v & 0xFF));
  out.push_back(static_cast<char>((v >> 8) & 0xFF));
}
void PutString(std::string& out, const std::string& s) {
  PutU16(out, s.size());
  out += s;
}

std::string Encode(const Record& r, uint8_t version = 1) {
  std::string out(1, static_cast<char>(version));
  PutU16(out, r.sourcePaths.size());
  for (const std::string& s : r.sourcePaths) PutString(out, s);
  out.push_back(static_cast<char>(r.storeDirNames));
  out.push_back(static_cast<char>(r.maxCompression));
  for (const std::string* s : {&r.targetDir, &r.sfxName, &r.command, &r.secondCommand, &r.iconFile,
                               &r.dialogText, &r.infoBefore, &r.infoAfter}) {
    PutString(out, *s);
  }
  out.push_back(static_cast<char>(r.terminates));
  PutString(out, r.dialogTitle);
  out.push_back(static_cast<char>(r.targetEditable));
  out.push_back(static_cast<char>(r.cleanUp));
  return out;
}

uint32_t GetU32(const std::string& bytes, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(bytes[at + i]);
  return v;
}

// Polls until condition holds or the deadline passes.
bool WaitFor(const std::function<bool()>& condition, DWORD ms = kWaitMs) {
  DWORD start = GetTickCount();
  while (true) {
    if (condition()) return true;
    if (GetTickCount() - start > ms) return false;
    Sleep(20);
  }
}

// ---- windows of another process ---------------------------------------------------------------

std::string ClassOf(HWND w) {
  char name[256] = "";
  GetClassNameA(w, name, sizeof(name));
  return name;
}

// The text of a window of the program, asked through the window itself.
std::string TextOf(HWND w, bool* ok = nullptr) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutA(w, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 10000, &length)) {
    if (ok != nullptr) *ok = false;
    return "";
  }
  std::vector<char> buffer(length + 2, '\0');
  DWORD_PTR copied = 0;
  BOOL sent =
      SendMessageTimeoutA(w, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()),
                          SMTO_ABORTIFHUNG, 10000, &copied);
  if (ok != nullptr) *ok = sent != FALSE;
  return std::string(buffer.data(), copied);
}

LRESULT Send(HWND w, UINT message, WPARAM wParam = 0, LPARAM lParam = 0, bool* ok = nullptr) {
  DWORD_PTR result = 0;
  BOOL sent = SendMessageTimeoutA(w, message, wParam, lParam, SMTO_ABORTIFHUNG, 10000, &result);
  if (ok != nullptr) *ok = sent != FALSE;
  return static_cast<LRESULT>(result);
}

std::vector<HWND> TopLevelWindowsOf(DWORD pid) {
  struct Search {
    DWORD pid;
    std::vector<HWND> found;
  } search{pid, {}};
  EnumWindows(
      [](HWND w, LPARAM p) -> BOOL {
        auto* s = reinterpret_cast<Search*>(p);
        DWORD owner = 0;
        GetWindowThreadProcessId(w, &owner);
        if (owner == s->pid && IsWindowVisible(w)) s->found.push_back(w);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// A message box of the program: a top-level dialog window captioned with the application title.
HWND FindMessageBox(DWORD pid) {
  for (HWND w : TopLevelWindowsOf(pid)) {
    if (ClassOf(w) == "#32770" && TextOf(w) == kTitle) return w;
  }
  return nullptr;
}

// Any other top-level dialog of the program (the common dialogs).
HWND FindOtherDialog(DWORD pid, HWND except = nullptr) {
  for (HWND w : TopLevelWindowsOf(pid)) {
    if (w != except && ClassOf(w) == "#32770" && TextOf(w) != kTitle) return w;
  }
  return nullptr;
}

// The message text of a box: its longest static text, read by textOf (ANSI or UTF-16).
template <typename Reader>
auto LongestStaticText(HWND box, Reader textOf) -> decltype(textOf(box)) {
  decltype(textOf(box)) best;
  for (HWND c = GetWindow(box, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
    if (ClassOf(c) == "Static") {
      auto t = textOf(c);
      if (t.size() > best.size()) best = t;
    }
  }
  return best;
}

std::string MessageBoxText(HWND box) {
  return LongestStaticText(box, [](HWND w) { return TextOf(w); });
}

// A path of the driver (in the ANSI code page) as UTF-16.
std::wstring WideOf(const std::string& text) {
  const int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
  std::wstring w(n, L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &w[0], n);
  w.resize(n > 0 ? n - 1 : 0);
  return w;
}

// Sets a window's text as typed characters arrive: in UTF-16, whatever the ANSI code page holds.
void SetWideText(HWND w, const std::wstring& text) {
  DWORD_PTR result = 0;
  SendMessageTimeoutW(w, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), SMTO_ABORTIFHUNG,
                      10000, &result);
}

// The text of a window in UTF-16, asked through the window itself.
std::wstring WideTextOf(HWND w) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(w, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 10000, &length)) return L"";
  std::vector<wchar_t> buffer(length + 2, L'\0');
  DWORD_PTR copied = 0;
  SendMessageTimeoutW(w, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()),
                      SMTO_ABORTIFHUNG, 10000, &copied);
  return std::wstring(buffer.data(), copied);
}

std::wstring WideMessageBoxText(HWND box) { return LongestStaticText(box, WideTextOf); }

// Dialog base units of "MS Sans Serif" 8 on this display, from a dialog of our own.
RECT DialogUnitsToPixels(RECT du) {
  static std::vector<WORD> tmpl;
  if (tmpl.empty()) {
    DLGTEMPLATE header = {};
    header.style = DS_SETFONT | WS_POPUP;
    header.cx = 10;
    header.cy = 10;
    tmpl.resize(sizeof(header) / sizeof(WORD));
    std::memcpy(tmpl.data(), &header, sizeof(header));
    tmpl.push_back(0);  // no menu
    tmpl.push_back(0);  // standard class
    tmpl.push_back(0);  // no title
    tmpl.push_back(8);  // point size
    for (const char* p = "MS Sans Serif"; *p; ++p) tmpl.push_back(static_cast<WORD>(*p));
    tmpl.push_back(0);
  }
  HWND dlg = CreateDialogIndirectParamA(
      GetModuleHandleA(nullptr), reinterpret_cast<LPCDLGTEMPLATEA>(tmpl.data()), nullptr,
      [](HWND, UINT, WPARAM, LPARAM) -> INT_PTR { return FALSE; }, 0);
  RECT r = du;
  if (dlg != nullptr) {
    MapDialogRect(dlg, &r);
    DestroyWindow(dlg);
  }
  return r;
}

// ---- the program under test ------------------------------------------------------------------

class Tambrix {
 public:
  ~Tambrix() { Kill(); }

  // Starts dir\tambrix.exe; showCommand < 0 leaves the start-up info alone.
  bool Start(const std::string& dir, int showCommand = -1) {
    STARTUPINFOA si = {};
    si.cb = sizeof(si);
    if (showCommand >= 0) {
      si.dwFlags = STARTF_USESHOWWINDOW;
      si.wShowWindow = static_cast<WORD>(showCommand);
    }
    std::string exe = dir + "\\tambrix.exe";
    std::string commandLine = "\"" + exe + "\"";
    if (!CreateProcessA(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                        dir.c_str(), &si, &pi_)) {
      return false;
    }
    started_ = true;
    WaitForInputIdle(pi_.hProcess, 10000);
    return true;
  }

  // Waits for the main frame and its dialog.
  bool WaitForDialog() {
    return WaitFor([this] {
      for (HWND w : TopLevelWindowsOf(pi_.dwProcessId)) {
        if (ClassOf(w) == kFrameClass) {
          frame_ = w;
          dialog_ = FindWindowExA(w, nullptr, "#32770", nullptr);
          return dialog_ != nullptr && IsWindowVisible(dialog_);
        }
      }
      return false;
    });
  }

  bool StartAndWait(const std::string& dir, int showCommand = -1) {
    return Start(dir, showCommand) && WaitForDialog();
  }

  DWORD pid() const { return pi_.dwProcessId; }
  DWORD tid() const { return pi_.dwThreadId; }
  HWND frame() const { return frame_; }
  HWND dialog() const { return dialog_; }
  HWND Item(int id) const { return GetDlgItem(dialog_, id); }

  std::string Text(int id) { return TextOf(Item(id)); }
  void SetText(int id, const std::string& text) {
    Send(Item(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
  }
  bool Checked(int id) { return Send(Item(id), BM_GETCHECK) == BST_CHECKED; }
  bool Enabled(int id) { return IsWindowEnabled(Item(id)) != FALSE; }
  // A click that opens no modal window: returns when the dialog has handled it.
  bool Click(int id) {
    bool ok = false;
    Send(Item(id), BM_CLICK, 0, 0, &ok);
    return ok;
  }
  // A click that may open a modal window: posted, so nothing here waits for it.
  void PostClick(int id) { PostMessageA(Item(id), BM_CLICK, 0, 0); }
  void SetChecked(int id, bool on) {
    if (Checked(id) != on) Click(id);
  }
  // Types characters one by one, as the keyboard would deliver them to the focused field.
  void Type(int id, const std::string& text) {
    for (char c : text) Send(Item(id), WM_CHAR, static_cast<unsigned char>(c), 1);
  }
  void Focus(int id) { Send(dialog_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(id)), TRUE); }
  // A key press through the program's message loop (and so through its dialog navigation).
  void PostKey(int id, WPARAM vk) {
    UINT scan = MapVirtualKeyA(static_cast<UINT>(vk), 0);
    PostMessageA(Item(id), WM_KEYDOWN, vk, 1 | (scan << 16));
    PostMessageA(Item(id), WM_KEYUP, vk, 1 | (scan << 16) | (3u << 30));
  }
  HWND FocusedWindow() {
    GUITHREADINFO info = {};
    info.cbSize = sizeof(info);
    GetGUIThreadInfo(pi_.dwThreadId, &info);
    return info.hwndFocus;
  }

  HWND WaitForMessageBox() {
    HWND box = nullptr;
    WaitFor([&] { return (box = FindMessageBox(pi_.dwProcessId)) != nullptr; });
    return box;
  }
  // Waits for a message box of the program, reads its text and presses its OK button.
  std::string AnswerMessageBox() {
    HWND box = WaitForMessageBox();
    if (box == nullptr) return "<no message box>";
    std::string text = MessageBoxText(box);
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    WaitFor([&] { return !IsWindow(box) || !IsWindowVisible(box); });
    return text;
  }

  bool Running() { return started_ && WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT; }
  // Waits for the program to end; its exit code, or -1 when it is still running.
  long WaitExit(DWORD ms = kWaitMs) {
    if (!started_ || WaitForSingleObject(pi_.hProcess, ms) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(pi_.hProcess, &code);
    return static_cast<long>(code);
  }
  // Ends the program the ordinary way ("Beenden") and waits for it.
  long Quit() {
    PostClick(kOk);
    return WaitExit();
  }
  void Kill() {
    if (!started_) return;
    if (Running()) {
      TerminateProcess(pi_.hProcess, 99);
      WaitForSingleObject(pi_.hProcess, 10000);
    }
    CloseHandle(pi_.hProcess);
    CloseHandle(pi_.hThread);
    started_ = false;
  }

 private:
  PROCESS_INFORMATION pi_ = {};
  bool started_ = false;
  HWND frame_ = nullptr;
  HWND dialog_ = nullptr;
};

// Runs a console program and returns its exit code (-1 when it could not run or did not end).
long RunProgram(const std::string& commandLine, const std::string& dir) {
  STARTUPINFOA si = {};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi = {};
  std::string line = commandLine;
  if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                      dir.c_str(), &si, &pi)) {
    return -1;
  }
  long result = -1;
  if (WaitForSingleObject(pi.hProcess, 120000) == WAIT_OBJECT_0) {
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    result = static_cast<long>(code);
  } else {
    TerminateProcess(pi.hProcess, 99);
  }
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  return result;
}

// ---- screen capture ---------------------------------------------------------------------------

using screencap::Capture;
using screencap::CaptureScreen;

bool SaveBmp(const Capture& cap, const std::string& path) {
  return WriteBytes(path, screencap::BmpBytes(cap));
}

// Dark pixels (text) inside a control, its border left out.
int DarkPixelsIn(HWND control) { return screencap::DarkPixelsIn(control, 3); }

// ---- fixture ----------------------------------------------------------------------------------

class GuiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dist_ = EnvPath("TAMBRIX_GUI_DIST");
    ASSERT_FALSE(dist_.empty()) << "TAMBRIX_GUI_DIST is not set";
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    char unique[MAX_PATH];
    GetTempFileNameA(temp, "gui", 0, unique);
    DeleteFileA(unique);
    dir_ = unique;
    ASSERT_TRUE(CreateDirectoryA(dir_.c_str(), nullptr));
    app_ = dir_ + "\\app";
    work_ = dir_ + "\\work";
    CreateDirectoryA(app_.c_str(), nullptr);
    CreateDirectoryA(work_.c_str(), nullptr);
    ASSERT_TRUE(
        CopyFileA((dist_ + "\\tambrix.exe").c_str(), (app_ + "\\tambrix.exe").c_str(), FALSE))
        << "no tambrix.exe in " << dist_;
    stub1_ = StubBytes('1', 4096);
    stub2_ = StubBytes('2', 3000);
    ASSERT_TRUE(WriteBytes(app_ + "\\tambrix.res1", stub1_));
    ASSERT_TRUE(WriteBytes(app_ + "\\tambrix.res2", stub2_));
  }
  void TearDown() override {
    program_.Kill();
    RemoveTree(dir_);
  }

  std::string DatPath() const { return app_ + "\\tambrix.dat"; }

  // A small source tree below work\src.
  std::string MakeSourceTree() {
    std::string src = work_ + "\\src";
    CreateDirectoryA(src.c_str(), nullptr);
    CreateDirectoryA((src + "\\sub").c_str(), nullptr);
    WriteBytes(src + "\\a.txt", "Alpha\r\n");
    WriteBytes(src + "\\sub\\b.bin", std::string(5000, 'b') + "end");
    WriteBytes(src + "\\sub\\empty.dat", "");
    return src;
  }

  // Starts the program and fills the fields a build needs; "Anschliessend starten" off.
  void StartForBuild(const std::string& src, const std::string& sfx) {
    ASSERT_TRUE(program_.StartAndWait(app_));
    program_.SetText(kSourceDir, src);
    program_.SetText(kSfxName, sfx);
    program_.SetChecked(kStartAfterwards, false);
  }

  std::string dist_, dir_, app_, work_, stub1_, stub2_;
  Tambrix program_;
};

// ---- layout -----------------------------------------------------------------------------------

struct ExpectedControl {
  int id;  // -1 for labels and frames
  const char* cls;
  const char* text;
  int x, y, w, h;
  bool visible;
};

const ExpectedControl kLayout[] = {
    {-1, "Static", "Quellverzeichnis (Unterverzeichnisse werden mit eingelesen):", 11, 13, 268, 8,
     true},
    {101, "Edit", "", 11, 24, 253, 12, true},
    {102, "Button", "Pfad...", 264, 23, 50, 14, true},
    {-1, "Static", "Zielverzeichnisvorgabe (standardm\xE4ssig wird das Tempverzeichnis benutzt):",
     11, 49, 303, 8, true},
    {105, "Edit", "", 11, 59, 253, 12, true},
    {126, "Button", "Vom Benutzer editierbar", 12, 72, 116, 12, true},
    {-1, "Static", "SFX-Name:", 11, 86, 124, 8, true},
    {117, "Edit", "", 11, 95, 253, 12, true},
    {118, "Button", "Datei...", 264, 94, 50, 14, true},
    {103, "Button", "Maximale Kompression", 12, 108, 172, 12, true},
    {-1, "Static", "Kommando nach dem Entpacken:", 12, 124, 235, 8, true},
    {110, "Edit", "", 12, 133, 253, 12, true},
    {122, "Button", "Programm terminiert", 12, 147, 80, 12, true},
    {127, "Button", "Nach dem Programmende abr\xE4umen", 92, 146, 132, 12, true},
    {-1, "Static", "Dialogtitelzeile:", 11, 173, 60, 8, true},
    {120, "Edit", kDefaultDialogTitle, 11, 181, 253, 12, true},
    {-1, "Static", "Dialogtext:", 11, 196, 80, 8, true},
    {111, "Edit", kDefaultDialogText, 11, 204, 253, 24, true},
    {108, "Button", "Datei...", 264, 204, 50, 14, true},
    {-1, "Static", "Infotext bei Programmstart:", 11, 233, 144, 8, true},
    {107, "Edit", kDefaultInfoBefore, 11, 241, 253, 24, true},
    {112, "Button", "Datei...", 264, 241, 50, 14, true},
    {-1, "Static", "Infotext nach dem Entpacken:", 11, 269, 144, 8, true},
    {113, "Edit", kDefaultInfoAfter, 11, 277, 253, 24, true},
    {114, "Button", "Datei...", 264, 277, 50, 14, true},
    {-1, "Static", "Programmsymbol:", 332, 16, 100, 8, true},
    {115, "Edit", "", 332, 26, 100, 12, true},
    {116, "Button", "Datei...", 382, 41, 50, 14, true},
    {123, "Button", "Batch-Starten", 340, 223, 84, 14, true},
    {124, "Button", "Steuerdatei bearbeiten", 340, 239, 84, 14, true},
    {109, "Button", "Archiv erzeugen", 340, 272, 84, 14, true},
    {121, "Button", "Anschliessend starten", 340, 288, 96, 12, true},
    {1, "Button", "Beenden", 340, 308, 50, 14, true},
    {125, "Button", "&Hilfe", 391, 308, 50, 14, true},
    {119, "Edit", "", 11, 310, 305, 12, true},
    {104, "Button", "Verzeichnisnamen speichern", 368, 16, 104, 12, false},
    {-1, "Static", "Zweites Kommando nach dem Entpacken:", 364, 40, -1, -1, false},
    {106, "Edit", "", 364, 48, 236, 12, false},
};

const RECT kFrames[] = {{4, 10, 318, 32},    {4, 45, 318, 119},   {4, 168, 318, 138},
                        {324, 216, 116, 44}, {324, 262, 116, 44}, {324, 10, 116, 50}};
constexpr size_t kFrameCount = sizeof(kFrames) / sizeof(kFrames[0]);

// The table's visible controls neither overlap each other nor cross the edge of an etched frame
// (each lies wholly inside or wholly outside every frame), and all lie in the 449 x 327 dialog.
// EveryControlHasItsIdClassTextPositionAndTabOrder holds the program to this table.
TEST(DialogTemplate, VisibleControlsNeitherOverlapNorCrossAFrame) {
  const RECT dialog = {0, 0, 449, 327};
  std::vector<std::pair<std::string, RECT>> visible;
  for (const ExpectedControl& c : kLayout) {
    if (!c.visible) continue;
    ASSERT_GE(c.w, 0) << c.text;
    visible.push_back(
        {std::to_string(c.id) + " \"" + c.text + "\"", RECT{c.x, c.y, c.x + c.w, c.y + c.h}});
  }
  for (size_t i = 0; i < visible.size(); ++i) {
    const RECT& a = visible[i].second;
    SCOPED_TRACE(visible[i].first);
    RECT common;
    EXPECT_TRUE(IntersectRect(&common, &a, &dialog) && EqualRect(&common, &a));
    for (size_t j = i + 1; j < visible.size(); ++j)
      EXPECT_FALSE(IntersectRect(&common, &a, &visible[j].second)) << visible[j].first;
    for (const RECT& f : kFrames) {
      const RECT frame = {f.left, f.top, f.left + f.right, f.top + f.bottom};
      if (IntersectRect(&common, &a, &frame)) {
        EXPECT_TRUE(EqualRect(&common, &a)) << "crosses the frame at " << f.left << "," << f.top;
      }
    }
  }
}

RECT PixelRectOf(HWND control, HWND dialog) {
  RECT r;
  GetWindowRect(control, &r);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

// Windows places a control at the mapped origin with the mapped size.
RECT ExpectedPixels(int x, int y, int w, int h) {
  RECT origin = DialogUnitsToPixels(RECT{x, y, 0, 0});
  RECT size = DialogUnitsToPixels(RECT{0, 0, w, h});
  return RECT{origin.left, origin.top, origin.left + size.right, origin.top + size.bottom};
}

std::string Describe(const RECT& r) {
  return std::to_string(r.left) + "," + std::to_string(r.top) + "-" + std::to_string(r.right) +
         "," + std::to_string(r.bottom);
}

TEST_F(GuiTest, EveryControlHasItsIdClassTextPositionAndTabOrder) {
  ASSERT_TRUE(program_.StartAndWait(app_));
  HWND dialog = program_.dialog();

  // Children in creation (= tab) order; the etched frames follow the table's controls.
  std::vector<HWND> children;
  for (HWND c = GetWindow(dialog, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
    children.push_back(c);
  }
  const size_t count = sizeof(kLayout) / sizeof(kLayout[0]);
  ASSERT_EQ(children.size(), count + kFrameCount);
  for (size_t i = 0; i < count; ++i) {
    const ExpectedControl& want = kLayout[i];
    HWND c = children[i];
    SCOPED_TRACE("control " + std::to_string(i) + " \"" + want.text + "\"");
    int id = GetDlgCtrlID(c);
    if (want.id > 0) {
      EXPECT_EQ(id, want.id);
    } else {
      EXPECT_TRUE(id == -1 || id == 0xFFFF) << id;
    }
    EXPECT_STRCASEEQ(ClassOf(c).c_str(), want.cls);
    EXPECT_EQ(TextOf(c), want.text);
    EXPECT_EQ(IsWindowVisible(c) != FALSE, want.visible);
    if (want.w >= 0) {
      EXPECT_EQ(Describe(PixelRectOf(c, dialog)),
                Describe(ExpectedPixels(want.x, want.y, want.w, want.h)));
    } else {
      RECT got = PixelRectOf(c, dialog);
      RECT origin = ExpectedPixels(want.x, want.y, 0, 0);
      EXPECT_EQ(got.left, origin.left);
      EXPECT_EQ(got.top, origin.top);
    }
  }
  for (size_t i = 0; i < kFrameCount; ++i) {
    HWND c = children[count + i];
    SCOPED_TRACE("frame " + std::to_string(i));
    EXPECT_STRCASEEQ(ClassOf(c).c_str(), "Static");
    EXPECT_EQ(GetWindowLongA(c, GWL_STYLE) & SS_TYPEMASK, SS_ETCHEDFRAME);
    const RECT& f = kFrames[i];
    EXPECT_EQ(Describe(PixelRectOf(c, dialog)),
              Describe(ExpectedPixels(f.left, f.top, f.right, f.bottom)));
  }

  // The dialog is 449 x 327 units and fills the frame's client area exactly.
  RECT client;
  GetClientRect(dialog, &client);
  RECT expected = ExpectedPixels(0, 0, 449, 327);
  EXPECT_EQ(client.right, expected.right);
  EXPECT_EQ(client.bottom, expected.bottom);
  RECT frameClient;
  GetClientRect(program_.frame(), &frameClient);
  EXPECT_EQ(frameClient.right, client.right);
  EXPECT_EQ(frameClient.bottom, client.bottom);
  EXPECT_EQ(TextOf(program_.frame()), kTitle);
}

// Every label, check box, button and field of the dialog shows its whole text in the dialog's
// font at the DPI of this run (96, and 144 in a run of its own).
TEST_F(GuiTest, EveryLabelAndCheckBoxShowsItsWholeText) {
  SetProcessDPIAware();  // the other program's windows in real pixels
  char value[16] = "";
  GetEnvironmentVariableA("TAMBRIX_GUI_DPI", value, sizeof(value));
  const int dpi = value[0] != '\0' ? std::atoi(value) : 96;
  HDC screen = GetDC(nullptr);
  const int seen = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  ASSERT_EQ(seen, dpi) << "the screen has not the DPI this run is for";
  ASSERT_TRUE(program_.StartAndWait(app_));
  windowlook::ExpectLaidOut(program_.dialog(), "main dialog", dpi, L"MS Sans Serif");
}

TEST_F(GuiTest, ControlStylesMatchTheirRoles) {
  ASSERT_TRUE(program_.StartAndWait(app_));
  auto style = [&](int id) {
    return static_cast<DWORD>(GetWindowLongA(program_.Item(id), GWL_STYLE));
  };
  // Only the source directory, the dialog title and the narrow icon field scroll horizontally.
  for (int id : {kSourceDir, kDialogTitle, kIconFile})
    EXPECT_TRUE(style(id) & ES_AUTOHSCROLL) << id;
  for (int id : {kTargetDir, kSfxName, kCommand, kSecondCommand, kStatus}) {
    EXPECT_FALSE(style(id) & ES_AUTOHSCROLL) << id;
    EXPECT_FALSE(style(id) & ES_MULTILINE) << id;
  }
  const DWORD multi = ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN | WS_VSCROLL;
  for (int id : {kDialogText, kInfoBefore, kInfoAfter}) EXPECT_EQ(style(id) & multi, multi) << id;
  EXPECT_TRUE(style(kStatus) & ES_READONLY);
  EXPECT_EQ(program_.Text(kStatus), "");
  for (int id : {kTargetEditable, kMaxCompression, kTerminates, kCleanUp, kStartAfterwards,
                 kStoreDirNames}) {
    EXPECT_EQ(style(id) & BS_TYPEMASK, static_cast<DWORD>(BS_AUTOCHECKBOX)) << id;
  }
  EXPECT_EQ(style(kOk) & BS_TYPEMASK, static_cast<DWORD>(BS_DEFPUSHBUTTON));
  EXPECT_EQ(Send(program_.dialog(), DM_GETDEFID), MAKELRESULT(kOk, DC_HASDEFID));

  // The frame: fixed size, no maximise box, icons set, normal window.
  DWORD frameStyle = static_cast<DWORD>(GetWindowLongA(program_.frame(), GWL_STYLE));
  EXPECT_FALSE(frameStyle & WS_THICKFRAME);
  EXPECT_FALSE(frameStyle & WS_MAXIMIZEBOX);
  EXPECT_TRUE(frameStyle & WS_CAPTION);
  // Icon resource 1 holds a small and a big picture, and the caption shows ours (the yellow
  // lightning of the parcel), not the system's default icon.
  HMODULE exe = LoadLibraryExA((app_ + "\\tambrix.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(exe, nullptr);
  EXPECT_NE(LoadImageA(exe, MAKEINTRESOURCEA(1), IMAGE_ICON, 16, 16, 0), nullptr);
  EXPECT_NE(LoadImageA(exe, MAKEINTRESOURCEA(1), IMAGE_ICON, 32, 32, 0), nullptr);
  FreeLibrary(exe);
  RECT frame;
  GetWindowRect(program_.frame(), &frame);
  RECT caption = {frame.left, frame.top, frame.left + 2 * GetSystemMetrics(SM_CYCAPTION),
                  frame.top + GetSystemMetrics(SM_CYCAPTION) + 8};
  Capture cap = CaptureScreen(caption);
  int yellow = 0;
  for (uint32_t p : cap.pixels) {
    if (((p >> 16) & 0xFF) > 200 && ((p >> 8) & 0xFF) > 170 && (p & 0xFF) < 90) ++yellow;
  }
  EXPECT_GT(yellow, 4) << "the caption does not show the program's icon";
}

TEST_F(GuiTest, MaximisedStartRequestGivesANormalWindowOfTheDialogsSize) {
  ASSERT_TRUE(program_.StartAndWait(app_, SW_SHOWMAXIMIZED));
  EXPECT_FALSE(IsZoomed(program_.frame()));
  EXPECT_FALSE(IsIconic(program_.frame()));
  RECT client;
  GetClientRect(program_.frame(), &client);
  RECT expected = ExpectedPixels(0, 0, 449, 327);
  EXPECT_EQ(client.right, expected.right);
  EXPECT_EQ(client.bottom, expected.bottom);
}

TEST_F(GuiTest, ScreenshotOfTheDialogIsKept) {
  ASSERT_TRUE(program_.StartAndWait(app_));
  program_.SetText(kSourceDir, "C:\\Quelle");
  program_.SetText(kSfxName, "C:\\Ziel\\setup.exe");
  // The fields repaint through the program's message loop; wait until both show their text.
  EXPECT_TRUE(WaitFor([&] {
    return DarkPixelsIn(program_.Item(kSourceDir)) > 0 && DarkPixelsIn(program_.Item(kSfxName)) > 0;
  }));
  RECT r;
  GetWindowRect(program_.frame(), &r);
  Capture cap = CaptureScreen(r);
  ASSERT_GT(cap.width, 0);
  // A real picture, not an empty or one-coloured area.
  std::vector<uint32_t> colours(cap.pixels);
  std::sort(colours.begin(), colours.end());
  colours.erase(std::unique(colours.begin(), colours.end()), colours.end());
  EXPECT_GT(colours.size(), 3u);
  std::string artifacts = EnvPath("TAMBRIX_GUI_ARTIFACTS");
  if (!artifacts.empty()) {
    CreateDirectoryA(artifacts.c_str(), nullptr);
    EXPECT_TRUE(SaveBmp(cap, artifacts + "\\tambrix-dialog.bmp"));
  }
}

// ---- clean-up rule, typing limits --------------------------------------------------------------

TEST_F(GuiTest, CleanUpBoxDisablesTargetFieldAndEditableBox) {
  ASSERT_TRUE(program_.StartAndWait(app_));
  program_.SetText(kTargetDir, "C:\\Ziel");
  ASSERT_TRUE(program_.Checked(kTargetEditable));
  ASSERT_TRUE(program_.Click(kCleanUp));
  EXPECT_TRUE(program_.Checked(kCleanUp));
  EXPECT_FALSE(program_.Checked(kTargetEditable));
  EXPECT_FALSE(program_.Enabled(kTargetEditable));
  EXPECT_FALSE(program_.Enabled(kTargetDir));
  EXPECT_EQ(program_.Text(kTargetDir), "C:\\Ziel");
  ASSERT_TRUE(program_.Click(kCleanUp));
  EXPECT_FALSE(program_.Checked(kCleanUp));
  EXPECT_TRUE(program_.Enabled(kTargetEditable));
  EXPECT_TRUE(program_.Enabled(kTargetDir));
  EXPECT_FALSE(program_.Checked(kTargetEditable));  // the user checks it again by hand
  ASSERT_EQ(program_.Quit(), 0);
  // The disabled field's text is still stored.
  std::string dat = ReadBytes(DatPath());
  EXPECT_NE(dat.find("C:\\Ziel"), std::string::npos);
}

TEST_F(GuiTest, LoadedCleanUpWinsOverTargetEditable) {
  Record r;
  r.sourcePaths = {""};
  r.cleanUp = 1;
  r.targetEditable = 1;
  ASSERT_TRUE(WriteBytes(DatPath(), Encode(r)));
  ASSERT_TRUE(program_.StartAndWait(app_));
  EXPECT_TRUE(program_.Checked(kCleanUp));
  EXPECT_FALSE(program_.Checked(kTargetEditable));
  EXPECT_FALSE(program_.Enabled(kTargetEditable));
  EXPECT_FALSE(program_.Enabled(kTargetDir));
  ASSERT_EQ(program_.Quit(), 0);
  r.targetEditable = 0;
  EXPECT_EQ(ReadBytes(DatPath()), Encode(r));
}

TEST_F(GuiTest, TypingStopsAt254CharactersButLoadedTextStaysWhole) {
  std::string longText(1000, 'L');
  longText += "\r\nEnde";
  Record r;
  r.sourcePaths = {""};
  r.dialogText = longText;
  ASSERT_TRUE(WriteBytes(DatPath(), Encode(r)));
  ASSERT_TRUE(program_.StartAndWait(app_));
  EXPECT_EQ(program_.Text(kDialogText), longText);

  const std::string typed(300, 'w');
  for (int id : {kSourceDir, kDialogTitle, kInfoBefore, kIconFile}) {
    program_.SetText(id, "");
    program_.Type(id, typed);
    EXPECT_EQ(program_.Text(id), std::string(254, 'w')) << id;
  }
  // Fields that do not scroll sideways stop at their width, well before the limit.
  program_.Type(kSfxName, typed);
  size_t typedIntoName = program_.Text(kSfxName).size();
  EXPECT_GT(typedIntoName, 10u);
  EXPECT_LT(typedIntoName, 254u);

  ASSERT_EQ(program_.Quit(), 0);
  std::string dat = ReadBytes(DatPath());
  EXPECT_NE(dat.find(longText), std::string::npos);
}

// ---- start and end -----------------------------------------------------------------------------

enum class CloseBy { Button, EnterInField, EnterOnCheckBox, Escape, SystemMenu, CloseMessage };

class CloseTest : public GuiTest, public ::testing::WithParamInterface<CloseBy> {};

TEST_P(CloseTest, EveryWayOfClosingSavesTheSettings) {
  ASSERT_FALSE(Exists(DatPath()));
  ASSERT_TRUE(program_.StartAndWait(app_));
  switch (GetParam()) {
    case CloseBy::Button:
      program_.PostClick(kOk);
      break;
    case CloseBy::EnterInField:
      program_.Focus(kSourceDir);
      program_.PostKey(kSourceDir, VK_RETURN);
      break;
    case CloseBy::EnterOnCheckBox:
      program_.Focus(kTerminates);
      program_.PostKey(kTerminates, VK_RETURN);
      break;
    case CloseBy::Escape:
      program_.Focus(kCommand);
      program_.PostKey(kCommand, VK_ESCAPE);
      break;
    case CloseBy::SystemMenu:
      PostMessageA(program_.frame(), WM_SYSCOMMAND, SC_CLOSE, 0);
      break;
    case CloseBy::CloseMessage:
      PostMessageA(program_.frame(), WM_CLOSE, 0, 0);
      break;
  }
  ASSERT_EQ(program_.WaitExit(), 0);
  Record defaults;
  defaults.sourcePaths = {""};
  std::string expected = Encode(defaults);
  ASSERT_EQ(expected.size(), 248u);
  EXPECT_EQ(ReadBytes(DatPath()), expected);
}

std::string CloseName(const ::testing::TestParamInfo<CloseBy>& info) {
  static const char* const kNames[] = {"Beenden", "EnterInField", "EnterOnCheckBox",
                                       "Escape",  "SystemMenu",   "CloseMessage"};
  return kNames[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(AllWays, CloseTest,
                         ::testing::Values(CloseBy::Button, CloseBy::EnterInField,
                                           CloseBy::EnterOnCheckBox, CloseBy::Escape,
                                           CloseBy::SystemMenu, CloseBy::CloseMessage),
                         CloseName);

TEST_F(GuiTest, EnterInAMultiLineFieldBreaksTheLine) {
  ASSERT_TRUE(program_.StartAndWait(app_));
  program_.SetText(kInfoAfter, "eins");
  program_.Focus(kInfoAfter);
  Send(program_.Item(kInfoAfter), EM_SETSEL, 4, 4);
  program_.PostKey(kInfoAfter, VK_RETURN);
  EXPECT_TRUE(WaitFor([&] { return program_.Text(kInfoAfter) == "eins\r\n"; }))
      << program_.Text(kInfoAfter);
  EXPECT_TRUE(program_.Running());
}

TEST_F(GuiTest, SettingsAreShownAgainAtTheNextStart) {
  ASSERT_TRUE(program_.StartAndWait(app_));
  program_.SetText(kSourceDir, "C:\\Quelle");
  program_.SetText(kTargetDir, "  C:\\Ziel ");
  program_.SetText(kSfxName, "C:\\Out\\setup.exe");
  program_.SetText(kCommand, "setup.exe /q");
  program_.SetText(kSecondCommand, "zweites.bat");
  program_.SetText(kIconFile, "icon.ico");
  program_.SetText(kDialogTitle, "Titel \xE4\xF6\xFC\xDF");
  program_.SetText(kDialogText, "Zeile 1\r\nZeile 2");
  program_.SetText(kInfoBefore, "vorher");
  program_.SetText(kInfoAfter, "nachher");
  program_.SetChecked(kMaxCompression, true);
  program_.SetChecked(kTerminates, true);
  program_.SetChecked(kStartAfterwards, false);
  program_.SetChecked(kTargetEditable, false);
  ASSERT_EQ(program_.Quit(), 0);

  Record r;
  r.sourcePaths = {"C:\\Quelle"};
  r.maxCompression = 1;
  r.targetDir = "C:\\Ziel";
  r.sfxName = "C:\\Out\\setup.exe";
  r.command = "setup.exe /q";
  r.secondCommand = "zweites.bat";
  r.iconFile = "icon.ico";
  r.dialogText = "Zeile 1\r\nZeile 2";
  r.infoBefore = "vorher";
  r.infoAfter = "nachher";
  r.terminates = 1;
  r.dialogTitle = "Titel \xE4\xF6\xFC\xDF";
  r.targetEditable = 0;
  EXPECT_EQ(ReadBytes(DatPath()), Encode(r));

  Tambrix again;
  ASSERT_TRUE(again.StartAndWait(app_));
  EXPECT_EQ(again.Text(kSourceDir), "C:\\Quelle");
  EXPECT_EQ(again.Text(kTargetDir), "C:\\Ziel");
  EXPECT_EQ(again.Text(kSfxName), "C:\\Out\\setup.exe");
  EXPECT_EQ(again.Text(kCommand), "setup.exe /q");
  EXPECT_EQ(again.Text(kSecondCommand), "zweites.bat");
  EXPECT_EQ(again.Text(kIconFile), "icon.ico");
  EXPECT_EQ(again.Text(kDialogTitle), "Titel \xE4\xF6\xFC\xDF");
  EXPECT_EQ(again.Text(kDialogText), "Zeile 1\r\nZeile 2");
  EXPECT_EQ(again.Text(kInfoBefore), "vorher");
  EXPECT_EQ(again.Text(kInfoAfter), "nachher");
  EXPECT_TRUE(again.Checked(kMaxCompression));
  EXPECT_TRUE(again.Checked(kTerminates));
  EXPECT_FALSE(again.Checked(kTargetEditable));
  EXPECT_TRUE(again.Checked(kStoreDirNames));
  EXPECT_TRUE(again.Checked(kStartAfterwards));  // checked at every start
  ASSERT_EQ(again.Quit(), 0);
  EXPECT_EQ(ReadBytes(DatPath()), Encode(r));
}

TEST_F(GuiTest, SourceDirectoryIsTakenUpTo259CharactersOtherTextsWhole) {
  ASSERT_TRUE(program_.StartAndWait(app_));
  std::string longPath = "C:\\" + std::string(300, 'q');
  std::string longCommand(400, 'c');
  program_.SetText(kSourceDir, longPath);
  program_.SetText(kCommand, longCommand);
  ASSERT_EQ(program_.Quit(), 0);
  Record r;
  r.sourcePaths = {longPath.substr(0, 259)};
  r.command = longCommand;
  EXPECT_EQ(ReadBytes(DatPath()), Encode(r));
}

TEST_F(GuiTest, UnknownSettingsVersionShowsDefaultsAndIsRewritten) {
  Record r;
  r.sourcePaths = {"C:\\Alt"};
  r.sfxName = "alt.exe";
  ASSERT_TRUE(WriteBytes(DatPath(), Encode(r, 2)));
  ASSERT_TRUE(program_.StartAndWait(app_));
  EXPECT_EQ(program_.Text(kSourceDir), "");
  EXPECT_EQ(program_.Text(kSfxName), "");
  EXPECT_EQ(program_.Text(kDialogTitle), kDefaultDialogTitle);
  ASSERT_EQ(program_.Quit(), 0);
  Record defaults;
  defaults.sourcePaths = {""};
  EXPECT_EQ(ReadBytes(DatPath()), Encode(defaults));
}

// ---- builds ------------------------------------------------------------------------------------

TEST_F(GuiTest, BuildFromTheDialogEqualsTheConsoleBuildersArchive) {
  std::string src = MakeSourceTree();
  std::string sfx = work_ + "\\setup.exe";
  StartForBuild(src, sfx);
  program_.SetText(kTargetDir, " C:\\Ziel ");
  program_.SetText(kCommand, "a.txt");
  program_.SetText(kDialogTitle, "Mein Archiv");
  program_.SetChecked(kTerminates, true);
  program_.PostClick(kBuild);
  EXPECT_EQ(program_.AnswerMessageBox(), kMsgSuccess);
  EXPECT_EQ(program_.Text(kStatus), "");
  EXPECT_EQ(program_.Text(kTargetDir), " C:\\Ziel ");  // the field keeps its text
  ASSERT_EQ(program_.Quit(), 0);

  bool ok = false;
  std::string archive = ReadBytes(sfx, &ok);
  ASSERT_TRUE(ok);
  // Stub (gzip, since "Maximale Kompression" is off), settings block, data, settings offset.
  ASSERT_GT(archive.size(), stub2_.size() + 4);
  EXPECT_EQ(archive.substr(0, stub2_.size()), stub2_);
  EXPECT_EQ(GetU32(archive, archive.size() - 4), stub2_.size());
  Record r;
  r.sourcePaths = {src};
  r.targetDir = "C:\\Ziel";
  r.sfxName = sfx;
  r.command = "a.txt";
  r.terminates = 1;
  r.dialogTitle = "Mein Archiv";
  std::string block = Encode(r);
  EXPECT_EQ(archive.substr(stub2_.size(), block.size()), block);
  // The settings file written at the end holds the same record.
  EXPECT_EQ(ReadBytes(DatPath()), block);

  // The console builder, given the same settings, stubs and tree and naming files as the dialog
  // does, writes the same bytes.
  std::string tambrixc = dist_ + "\\tambrixc.exe";
  if (!Exists(tambrixc)) GTEST_SKIP() << "tambrixc.exe is not built";
  ASSERT_TRUE(MoveFileA(sfx.c_str(), (work_ + "\\dialog.exe").c_str()));
  long code = RunProgram("\"" + tambrixc + "\" build --settings \"" + DatPath() +
                             "\" --stub-dir \"" + app_ + "\" --dialog-names",
                         work_);
  ASSERT_EQ(code, 0);
  std::string console = ReadBytes(sfx, &ok);
  ASSERT_TRUE(ok);
  EXPECT_TRUE(console == archive) << "sizes " << console.size() << " and " << archive.size();
}

// With the real extractor stubs, an archive built from the dialog passes the console builder's
// check of every entry, for both compression methods.
class RealStubTest : public GuiTest, public ::testing::WithParamInterface<bool> {};

TEST_P(RealStubTest, DialogBuildPassesVerification) {
  std::string tambrixc = dist_ + "\\tambrixc.exe";
  for (const char* stub : {"tambrix.res1", "tambrix.res2"}) {
    if (!Exists(dist_ + "\\" + stub)) GTEST_SKIP() << stub << " is not built";
    ASSERT_TRUE(CopyFileA((dist_ + "\\" + stub).c_str(), (app_ + "\\" + stub).c_str(), FALSE));
  }
  if (!Exists(tambrixc)) GTEST_SKIP() << "tambrixc.exe is not built";
  std::string src = MakeSourceTree();
  std::string sfx = work_ + "\\echt.exe";
  StartForBuild(src, sfx);
  program_.SetChecked(kMaxCompression, GetParam());
  program_.PostClick(kBuild);
  EXPECT_EQ(program_.AnswerMessageBox(), kMsgSuccess);
  ASSERT_EQ(program_.Quit(), 0);
  std::string stub = ReadBytes(app_ + (GetParam() ? "\\tambrix.res1" : "\\tambrix.res2"));
  EXPECT_EQ(ReadBytes(sfx).substr(0, stub.size()), stub);
  EXPECT_EQ(RunProgram("\"" + tambrixc + "\" verify \"" + sfx + "\"", work_), 0);
}

INSTANTIATE_TEST_SUITE_P(BothMethods, RealStubTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return std::string(info.param ? "Bzip2" : "Gzip");
                         });

TEST_F(GuiTest, MaximumCompressionUsesTheBzip2Stub) {
  std::string src = MakeSourceTree();
  std::string sfx = work_ + "\\max.exe";
  StartForBuild(src, sfx);
  program_.SetChecked(kMaxCompression, true);
  program_.PostClick(kBuild);
  EXPECT_EQ(program_.AnswerMessageBox(), kMsgSuccess);
  std::string archive = ReadBytes(sfx);
  ASSERT_GT(archive.size(), stub1_.size() + 4);
  EXPECT_EQ(archive.substr(0, stub1_.size()), stub1_);
  EXPECT_EQ(GetU32(archive, archive.size() - 4), stub1_.size());
  Record r;
  r.sourcePaths = {src};
  r.sfxName = sfx;
  r.maxCompression = 1;
  EXPECT_EQ(archive.substr(stub1_.size(), Encode(r).size()), Encode(r));
}

TEST_F(GuiTest, BlankArchiveNameIsRefusedAndFocusGoesToTheNameField) {
  std::string src = MakeSourceTree();
  StartForBuild(src, "   ");
  program_.Focus(kCommand);
  program_.PostClick(kBuild);
  EXPECT_EQ(program_.AnswerMessageBox(), kMsgNoName);
  EXPECT_TRUE(WaitFor([&] { return program_.FocusedWindow() == program_.Item(kSfxName); }));
  EXPECT_EQ(program_.Text(kSfxName), "   ");
}

// Nothing of a failed build is left in the folder of the archive: no new file, no temporary one.
// An older program of the name stays as it was.
void ExpectOnlyTheOlderFile(const std::string& folder, const std::string& sfx) {
  EXPECT_EQ(ReadBytes(sfx), "an older file");
  WIN32_FIND_DATAA data;
  HANDLE h = FindFirstFileA((folder + "\\tbx*.tmp").c_str(), &data);
  EXPECT_EQ(h, INVALID_HANDLE_VALUE) << "left behind: " << data.cFileName;
  if (h != INVALID_HANDLE_VALUE) FindClose(h);
}

TEST_F(GuiTest, MissingStubIsReportedAndTheOlderFileStays) {
  std::string src = MakeSourceTree();
  std::string sfx = work_ + "\\old.exe";
  ASSERT_TRUE(WriteBytes(sfx, "an older file"));
  ASSERT_TRUE(DeleteFileA((app_ + "\\tambrix.res2").c_str()));
  StartForBuild(src, sfx);
  program_.PostClick(kBuild);
  EXPECT_EQ(program_.AnswerMessageBox(), kMsgStubMissing);
  ExpectOnlyTheOlderFile(work_, sfx);
}

// A source folder that is not there is a failed build that names it, not an empty archive.
TEST_F(GuiTest, SourceDirectoryThatDoesNotExistIsAFailedBuild) {
  std::string sfx = work_ + "\\old.exe";
  ASSERT_TRUE(WriteBytes(sfx, "an older file"));
  const std::string missing = work_ + "\\nirgends";
  StartForBuild(missing, sfx);
  program_.PostClick(kBuild);
  EXPECT_EQ(program_.AnswerMessageBox(), "Das Quellverzeichnis " + missing + " existiert nicht!");
  ExpectOnlyTheOlderFile(work_, sfx);
  EXPECT_EQ(program_.Text(kSourceDir), missing) << "the field keeps what was typed";
}

// The archive's name may not be one of the builder's own files: the stub stays whole.
TEST_F(GuiTest, ArchiveNameThatIsTheStubIsRefused) {
  std::string src = MakeSourceTree();
  const std::string stub = app_ + "\\tambrix.res2";
  ASSERT_TRUE(Exists(stub));
  const std::string typed = app_ + "\\.\\TAMBRIX.RES2";
  StartForBuild(src, typed);
  program_.PostClick(kBuild);
  // The stub is named as the builder finds it beside itself.
  const std::string message = program_.AnswerMessageBox();
  const std::string start = "Der Archivname " + typed + " bezeichnet die Programmdatei ";
  const std::string end =
      "tambrix.res2; sie wird nicht \xFC"
      "berschrieben!";
  EXPECT_EQ(message.compare(0, start.size(), start), 0) << message;
  ASSERT_GE(message.size(), end.size());
  EXPECT_EQ(message.substr(message.size() - end.size()), end) << message;
  EXPECT_EQ(ReadBytes(stub), stub2_);
}

// The wide-character form of a long path, for the system calls that take one.
std::wstring LongPath(const std::string& path) {
  const int n = MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, nullptr, 0);
  std::wstring w(n, L'\0');
  MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, &w[0], n);
  w.resize(n - 1);
  return L"\\\\?\\" + w;
}

void RemoveLongTree(const std::wstring& dir) {
  WIN32_FIND_DATAW data;
  HANDLE h = FindFirstFileW((dir + L"\\*").c_str(), &data);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = data.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring path = dir + L"\\" + name;
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveLongTree(path);
      } else {
        DeleteFileW(path.c_str());
      }
    } while (FindNextFileW(h, &data));
    FindClose(h);
  }
  RemoveDirectoryW(dir.c_str());
}

// A new file written through the wide calls, for paths past MAX_PATH.
bool WriteLongFile(const std::string& path, const std::string& bytes) {
  HANDLE h = CreateFileW(LongPath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const BOOL ok = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(h);
  return ok && written == bytes.size();
}

// A folder deeper than MAX_PATH is read like any other: its file is packed and no message comes.
// Stored names begin at the second separator and hold at most 259 characters, so the long part of
// the path is the first folder, on the drive's root.
TEST_F(GuiTest, FolderDeeperThanMaxPathIsPacked) {
  std::string src = "C:\\tbx" + dir_.substr(dir_.find_last_of('\\') + 1);
  src.resize(203, 'l');
  const std::string deep = src + "\\" + std::string(100, 'd');
  ASSERT_TRUE(CreateDirectoryW(LongPath(src).c_str(), nullptr));
  struct Cleanup {
    std::wstring top;
    ~Cleanup() { RemoveLongTree(top); }
  } cleanup{LongPath(src)};
  ASSERT_TRUE(CreateDirectoryW(LongPath(deep).c_str(), nullptr));
  ASSERT_GT(deep.size(), static_cast<size_t>(MAX_PATH));
  ASSERT_TRUE(WriteLongFile(deep + "\\tief.txt", "tief unten"));
  ASSERT_TRUE(WriteBytes(src + "\\a.txt", "Alpha"));

  std::string sfx = work_ + "\\lang.exe";
  StartForBuild(src, sfx);
  program_.PostClick(kBuild);
  EXPECT_EQ(program_.AnswerMessageBox(), kMsgSuccess);
  ASSERT_EQ(program_.Quit(), 0);
  const std::string stored = deep.substr(src.size()) + "\\tief.txt";
  EXPECT_NE(ReadBytes(sfx).find(std::string{char(stored.size()), '\0'} + stored),
            std::string::npos);
  std::string tambrixc = dist_ + "\\tambrixc.exe";
  if (!Exists(tambrixc)) GTEST_SKIP() << "tambrixc.exe is not built";
  ASSERT_EQ(RunProgram("\"" + tambrixc + "\" extract \"" + sfx + "\" out", work_), 0);
  EXPECT_EQ(ReadBytes(work_ + "\\out" + stored), "tief unten");
  EXPECT_EQ(ReadBytes(work_ + "\\out\\a.txt"), "Alpha");
}

// Under Wine a folder whose Linux path passes Linux's limit of 4096 bytes cannot be listed. Nothing
// can be created there, so a folder x with such a folder and a file in it is made elsewhere and
// moved into a chain of folders as deep as Wine creates them: x is still read, the folder in it
// is not. It is named in one message, and the archive is built without it.
TEST_F(GuiTest, UnreadableFolderIsNamedOnceAndTheBuildGoesOn) {
  std::string src = MakeSourceTree();
  std::vector<std::string> chain{src};
  while (chain.size() < 400 &&
         CreateDirectoryW(LongPath(chain.back() + "\\" + std::string(100, 'd')).c_str(), nullptr))
    chain.push_back(chain.back() + "\\" + std::string(100, 'd'));
  ASSERT_GE(chain.size(), 4u);
  ASSERT_LT(chain.size(), 400u) << "no limit met";
  const std::string outside = work_ + "\\x", moved = chain[chain.size() - 2] + "\\x";
  const std::string inner = "\\" + std::string(200, 'f');
  ASSERT_TRUE(CreateDirectoryA(outside.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW(LongPath(outside + inner).c_str(), nullptr));
  ASSERT_TRUE(WriteLongFile(outside + inner + "\\weg.txt", "weg"));
  ASSERT_TRUE(MoveFileW(LongPath(outside).c_str(), LongPath(moved).c_str()));
  struct Cleanup {
    std::wstring moved, outside, top;
    ~Cleanup() {
      MoveFileW(moved.c_str(), outside.c_str());
      RemoveLongTree(outside);
      RemoveLongTree(top);
    }
  } cleanup{LongPath(moved), LongPath(outside), LongPath(chain[1])};

  std::string sfx = work_ + "\\lang.exe";
  StartForBuild(src, sfx);
  program_.PostClick(kBuild);
  EXPECT_EQ(program_.AnswerMessageBox(),
            "Der Ordner " + moved + inner + " kann nicht gelesen werden und fehlt im Archiv!");
  EXPECT_EQ(program_.AnswerMessageBox(), kMsgSuccess);
  const std::string archive = ReadBytes(sfx);
  EXPECT_NE(archive.find("\\src\\sub\\b.bin"), std::string::npos);
  EXPECT_EQ(archive.find("weg.txt"), std::string::npos);
}

// A name the extractor could never create ends the build before anything is written: the message
// names the file, and the older program of that name stays as it was.
TEST_F(GuiTest, NameTheCodePageCannotWriteIsRefusedAndNothingIsWritten) {
  std::string src = MakeSourceTree();
  std::string sfx = work_ + "\\old.exe";
  ASSERT_TRUE(WriteBytes(sfx, "an older file"));
  const int n = MultiByteToWideChar(CP_ACP, 0, src.c_str(), -1, nullptr, 0);
  std::wstring folder(n, L'\0');
  MultiByteToWideChar(CP_ACP, 0, src.c_str(), -1, &folder[0], n);
  folder.resize(n - 1);
  HANDLE h = CreateFileW((folder + L"\\\u65E5\u672C.txt").c_str(), GENERIC_WRITE, 0, nullptr,
                         CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);
  StartForBuild(src, sfx);
  program_.PostClick(kBuild);
  const std::string message = program_.AnswerMessageBox();
  EXPECT_NE(message.find("Codepage 1252"), std::string::npos) << message;
  EXPECT_NE(message.find(src), std::string::npos) << message;
  EXPECT_NE(message.find("Das Archiv wurde nicht erstellt"), std::string::npos) << message;
  EXPECT_EQ(ReadBytes(sfx), "an older file");
}

// What is typed into a field reaches the program as UTF-16. A path with characters code page 1252
// lacks is refused in a box that names it as typed and the field; nothing is built, neither under
// that name nor under the look-alike (Lódz) an ANSI field would have made of it.
TEST_F(GuiTest, PathOutsideTheCodePageIsRefusedByNameAndNothingIsWritten) {
  const std::string src = MakeSourceTree();
  const std::wstring work = WideOf(work_);
  const std::wstring cyrillic = work + L"\\\u0414\u0430\u043D\u043D\u044B\u0435";
  ASSERT_TRUE(CreateDirectoryW(cyrillic.c_str(), nullptr));
  struct Cleanup {
    std::wstring dir;
    ~Cleanup() { RemoveLongTree(L"\\\\?\\" + dir); }
  } cleanup{cyrillic};
  ASSERT_TRUE(WriteBytes(work_ + "\\ausgabe_L\xF3"
                                 "dz.exe",
                         "an older file"));
  const struct {
    int field;
    const wchar_t* label;
    std::wstring typed;
    const wchar_t* outside;
  } cases[] = {
      {kSfxName, L"SFX-Name", work + L"\\ausgabe_\u0141\u00F3d\u017A.exe", L"\u0141 \u017A"},
      {kSourceDir, L"Quellverzeichnis", cyrillic, L"\u0414 \u0430 \u043D \u044B \u0435"},
  };
  for (const auto& c : cases) {
    StartForBuild(src, work_ + "\\ausgabe.exe");
    SetWideText(program_.Item(c.field), c.typed);
    program_.PostClick(kBuild);
    const std::wstring refusal = L"Der Pfad \"" + c.typed + L"\" im Feld " + c.label +
                                 L" enth\u00E4lt Zeichen, die es in Codepage 1252 nicht gibt: " +
                                 c.outside +
                                 L"\nTambrix nimmt Namen und Texte nur in Codepage 1252 an. ";
    HWND box = program_.WaitForMessageBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(WideMessageBoxText(box), refusal + L"Das Archiv wurde nicht erstellt.");
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(WaitFor([&] { return program_.FocusedWindow() == program_.Item(c.field); }));
    // Closing with the path still in its field: the settings are kept without it, and a box says
    // so.
    program_.PostClick(kOk);
    box = program_.WaitForMessageBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(WideMessageBoxText(box), refusal + L"Der Wert dieses Feldes wird nicht gespeichert.");
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    ASSERT_EQ(program_.WaitExit(), 0);
    program_.Kill();
    ExpectOnlyTheOlderFile(work_, work_ +
                                      "\\ausgabe_L\xF3"
                                      "dz.exe");
    EXPECT_FALSE(Exists(work_ + "\\ausgabe.exe"));
    EXPECT_EQ(GetFileAttributesW(cases[0].typed.c_str()), INVALID_FILE_ATTRIBUTES);
  }
}

TEST_F(GuiTest, StubThatCannotBeOpenedIsReported) {
  std::string src = MakeSourceTree();
  std::string sfx = work_ + "\\x.exe";
  // A folder where the stub file should be: it exists but cannot be read.
  ASSERT_TRUE(DeleteFileA((app_ + "\\tambrix.res2").c_str()));
  ASSERT_TRUE(CreateDirectoryA((app_ + "\\tambrix.res2").c_str(), nullptr));
  StartForBuild(src, sfx);
  program_.PostClick(kBuild);
  EXPECT_EQ(program_.AnswerMessageBox(), kMsgStubMissing);
  EXPECT_FALSE(Exists(sfx));
}

TEST_F(GuiTest, FileThatCannotBeReadFailsTheBuild) {
  std::string src = MakeSourceTree();
  std::string sfx = work_ + "\\fail.exe";
  std::string locked = src + "\\a.txt";
  HANDLE h = CreateFileA(locked.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  StartForBuild(src, sfx);
  program_.PostClick(kBuild);
  std::string message = program_.AnswerMessageBox();
  CloseHandle(h);
  EXPECT_EQ(message, kMsgFileFailed);
  EXPECT_TRUE(Exists(sfx));  // completed with the entries written so far
}

TEST_F(GuiTest, ProgressIsShownDuringALargeBuildAndClearedAfterIt) {
  // Text made of a small alphabet keeps the compressor busy for a while.
  std::string src = work_ + "\\big";
  CreateDirectoryA(src.c_str(), nullptr);
  std::string chunk;
  uint32_t seed = 12345;
  for (int i = 0; i < (1 << 22); ++i) {
    seed = seed * 1103515245u + 12345u;
    chunk.push_back(static_cast<char>('a' + ((seed >> 16) % 20)));
  }
  for (int i = 0; i < 6; ++i)
    ASSERT_TRUE(WriteBytes(src + "\\part" + std::to_string(i) + ".txt", chunk));
  std::string sfx = work_ + "\\big.exe";
  StartForBuild(src, sfx);
  HWND status = program_.Item(kStatus);
  ASSERT_EQ(DarkPixelsIn(status), 0) << "status line not empty before the build";

  program_.PostClick(kBuild);
  bool seen = false;
  HWND box = nullptr;
  WaitFor(
      [&] {
        if (DarkPixelsIn(status) > 0) seen = true;
        box = FindMessageBox(program_.pid());
        return box != nullptr;
      },
      120000);
  EXPECT_TRUE(seen) << "no progress text was painted during the build";
  EXPECT_EQ(program_.AnswerMessageBox(), kMsgSuccess);
  EXPECT_EQ(program_.Text(kStatus), "");
  EXPECT_TRUE(WaitFor([&] { return DarkPixelsIn(status) == 0; }));
}

TEST_F(GuiTest, StartAfterwardsRunsTheNewProgram) {
  std::string marker = EnvPath("TAMBRIX_GUI_MARKER");
  if (marker.empty() || !Exists(marker)) GTEST_SKIP() << "no marker program";
  // The marker program stands in for the stub: the produced archive is then a program that
  // leaves a file behind when it runs.
  ASSERT_TRUE(CopyFileA(marker.c_str(), (app_ + "\\tambrix.res2").c_str(), FALSE));
  std::string src = MakeSourceTree();
  std::string sfx = work_ + "\\run.exe";
  ASSERT_TRUE(program_.StartAndWait(app_));
  program_.SetText(kSourceDir, src);
  program_.SetText(kSfxName, sfx);
  ASSERT_TRUE(program_.Checked(kStartAfterwards));
  program_.PostClick(kBuild);
  EXPECT_EQ(program_.AnswerMessageBox(), kMsgSuccess);
  EXPECT_TRUE(WaitFor([&] { return Exists(sfx + ".started"); }));
}

// ---- batch run ---------------------------------------------------------------------------------

TEST_F(GuiTest, BatchRunShowsItsReportAndRestoresTheDialog) {
  std::string src = MakeSourceTree();
  std::string out1 = work_ + "\\eins.exe";
  std::string out2 = work_ + "\\zwei.exe";
  std::string ini = "[SFX_GLOBAL]\r\nNUM_SFX=2\r\nSOURCEPATH=" + src +
                    "\r\nMAX_COMPRESSION=1\r\n[SFX1]\r\nSFX_NAME=" + out1 +
                    "\r\n[SFX2]\r\nSFX_NAME=" + out2 + "\r\nMAX_COMPRESSION=0\r\n";
  ASSERT_TRUE(WriteBytes(app_ + "\\tambbatch.ini", ini));
  Record before;
  before.sourcePaths = {"C:\\Vorher"};
  before.sfxName = "C:\\vorher.exe";
  ASSERT_TRUE(WriteBytes(DatPath(), Encode(before)));

  ASSERT_TRUE(program_.StartAndWait(app_));
  program_.SetChecked(kStartAfterwards, false);
  // Typed, never built: it comes back after the run, and it is what is saved.
  program_.SetText(kSfxName, "getippt.exe");
  program_.PostClick(kBatchStart);
  std::string report = program_.AnswerMessageBox();
  EXPECT_EQ(report, std::string("\nArchivName: ") + out1 + "\nErfolg: " + kMsgSuccess + "\n" +
                        "\nArchivName: " + out2 + "\nErfolg: " + kMsgSuccess + "\n");
  EXPECT_EQ(program_.Text(kSfxName), "getippt.exe");
  EXPECT_EQ(program_.Text(kSourceDir), "C:\\Vorher");
  EXPECT_EQ(program_.Text(kStatus), "");
  EXPECT_EQ(ReadBytes(out1).substr(0, stub1_.size()), stub1_);
  EXPECT_EQ(ReadBytes(out2).substr(0, stub2_.size()), stub2_);
  ASSERT_EQ(program_.Quit(), 0);
  Record typed = before;
  typed.sfxName = "getippt.exe";
  EXPECT_EQ(ReadBytes(DatPath()), Encode(typed));
}

TEST_F(GuiTest, BatchRunWithoutControlFileSaysSo) {
  ASSERT_TRUE(program_.StartAndWait(app_));
  program_.PostClick(kBatchStart);
  EXPECT_EQ(program_.AnswerMessageBox(), kMsgBatchMissing);
}

// ---- auxiliary buttons --------------------------------------------------------------------------

// "Hilfe" is not silent: HelpOpensTheHelpFileOrThePageOrSaysWhereItLooked covers it; nor is the
// icon's "Datei...", which opens its chooser (ChosenIconFileGoesIntoTheFieldAndTheSettings).
TEST_F(GuiTest, AuxiliaryButtonsStaySilentWhenTheirFilesAreMissing) {
  ASSERT_TRUE(program_.StartAndWait(app_));
  size_t windowsBefore = TopLevelWindowsOf(program_.pid()).size();
  // Sent, so each returns only when the program has handled it; a box of its own would block.
  for (int id : {kEditControlFile}) {
    bool ok = false;
    Send(program_.dialog(), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
         reinterpret_cast<LPARAM>(program_.Item(id)), &ok);
    EXPECT_TRUE(ok) << id;
    EXPECT_EQ(FindMessageBox(program_.pid()), nullptr) << id;
    EXPECT_EQ(TopLevelWindowsOf(program_.pid()).size(), windowsBefore) << id;
  }
  EXPECT_TRUE(program_.Running());
}

// A visible top-level window of another process whose title contains part.
HWND FindForeignWindow(DWORD ownPid, const std::string& part) {
  struct Search {
    DWORD pid;
    const std::string* part;
    HWND found;
  } search{ownPid, &part, nullptr};
  EnumWindows(
      [](HWND w, LPARAM p) -> BOOL {
        auto* s = reinterpret_cast<Search*>(p);
        DWORD owner = 0;
        GetWindowThreadProcessId(w, &owner);
        char title[512] = "";
        GetWindowTextA(w, title, sizeof(title));
        if (owner != s->pid && owner != GetCurrentProcessId() && IsWindowVisible(w) &&
            std::string(title).find(*s->part) != std::string::npos) {
          s->found = w;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

TEST_F(GuiTest, ControlFileButtonOpensTheBatchFileBesideTheProgram) {
  ASSERT_TRUE(WriteBytes(app_ + "\\tambbatch.ini", "[SFX_GLOBAL]\r\nNUM_SFX=0\r\n"));
  ASSERT_TRUE(program_.StartAndWait(app_));
  bool ok = false;
  Send(program_.dialog(), WM_COMMAND, MAKEWPARAM(kEditControlFile, BN_CLICKED),
       reinterpret_cast<LPARAM>(program_.Item(kEditControlFile)), &ok);
  EXPECT_TRUE(ok);
  // The shell opens it in the program associated with .ini files (an editor).
  HWND editor = nullptr;
  EXPECT_TRUE(WaitFor(
      [&] { return (editor = FindForeignWindow(program_.pid(), "tambbatch")) != nullptr; }));
  if (editor != nullptr) {
    DWORD editorPid = 0;
    GetWindowThreadProcessId(editor, &editorPid);
    HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, editorPid);
    if (process != nullptr) {
      TerminateProcess(process, 0);
      WaitForSingleObject(process, 10000);
      CloseHandle(process);
    }
  }
  EXPECT_EQ(FindMessageBox(program_.pid()), nullptr);
}

// Registers a program as the one the shell opens files of an extension with (a class of the
// test's own in HKEY_CLASSES_ROOT, which is where Wine's shell looks), and puts the extension's
// former class back when it goes.
class ShellHandler {
 public:
  ShellHandler(const std::string& extension, const std::string& program)
      : extension_(extension), progId_("TambrixGuiTest" + extension) {
    hadClass_ = GetDefault(extension_, &formerClass_);
    ok_ = SetDefault(progId_ + "\\shell\\open\\command", "\"" + program + "\" \"%1\"") &&
          SetDefault(extension_, progId_);
  }
  ~ShellHandler() {
    if (hadClass_) {
      SetDefault(extension_, formerClass_);
    } else {
      RegDeleteTreeA(HKEY_CLASSES_ROOT, extension_.c_str());
    }
    RegDeleteTreeA(HKEY_CLASSES_ROOT, progId_.c_str());
  }
  bool ok() const { return ok_; }

 private:
  static bool GetDefault(const std::string& key, std::string* value) {
    char buffer[512];
    LONG size = sizeof(buffer);
    if (RegQueryValueA(HKEY_CLASSES_ROOT, key.c_str(), buffer, &size) != ERROR_SUCCESS)
      return false;
    *value = buffer;
    return true;
  }
  static bool SetDefault(const std::string& key, const std::string& value) {
    HKEY h = nullptr;
    if (RegCreateKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &h,
                        nullptr) != ERROR_SUCCESS) {
      return false;
    }
    LONG set = RegSetValueExA(h, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                              static_cast<DWORD>(value.size() + 1));
    RegCloseKey(h);
    return set == ERROR_SUCCESS;
  }
  std::string extension_, progId_, formerClass_;
  bool hadClass_ = false, ok_ = false;
};

struct HelpCase {
  const char* name;
  bool hlp, page;      // which files lie beside the program
  const char* opened;  // the file the shell is asked to open; nullptr: a box says none is there
};

const HelpCase kHelpCases[] = {
    {"old help file wins", true, true, "tambrix.hlp"},
    {"only the page", false, true, "tambrix-hilfe.html"},
    {"neither", false, false, nullptr},
};

TEST_F(GuiTest, HelpOpensTheHelpFileOrThePageOrSaysWhereItLooked) {
  std::string marker = EnvPath("TAMBRIX_GUI_MARKER");
  ASSERT_TRUE(!marker.empty() && Exists(marker)) << "no marker program";
  // The page the build put beside the program in the dist folder.
  std::string page = ReadBytes(dist_ + "\\tambrix-hilfe.html");
  ASSERT_NE(page.find("<meta charset=\"utf-8\">"), std::string::npos)
      << "no help page in " << dist_;
  std::string opener = work_ + "\\opener.exe";
  ASSERT_TRUE(CopyFileA(marker.c_str(), opener.c_str(), FALSE));
  ShellHandler html(".html", opener), hlp(".hlp", opener);
  ASSERT_TRUE(html.ok() && hlp.ok());

  for (const HelpCase& c : kHelpCases) {
    SCOPED_TRACE(c.name);
    DeleteFileA((app_ + "\\tambrix.hlp").c_str());
    DeleteFileA((app_ + "\\tambrix-hilfe.html").c_str());
    DeleteFileA((opener + ".started").c_str());
    if (c.hlp) {
      ASSERT_TRUE(WriteBytes(app_ + "\\tambrix.hlp", "?_\x03"));
    }
    if (c.page) {
      ASSERT_TRUE(WriteBytes(app_ + "\\tambrix-hilfe.html", page));
    }
    Tambrix program;
    ASSERT_TRUE(program.StartAndWait(app_));
    program.PostClick(kHelp);
    if (c.opened != nullptr) {
      EXPECT_TRUE(WaitFor([&] { return Exists(opener + ".started"); }));
      EXPECT_EQ(ReadBytes(opener + ".started"), "\"" + app_ + "\\" + c.opened + "\"");
      EXPECT_EQ(FindMessageBox(program.pid()), nullptr);
    } else {
      EXPECT_EQ(program.AnswerMessageBox(),
                "Die Hilfe wurde nicht gefunden: Im Programmverzeichnis " + app_ +
                    "\\ liegt weder tambrix.hlp noch tambrix-hilfe.html.");
      EXPECT_FALSE(Exists(opener + ".started"));
    }
    EXPECT_EQ(program.Quit(), 0);
  }
}

// ---- choosers -----------------------------------------------------------------------------------

// The file name field of a common file dialog.
HWND FileNameField(HWND dialog) {
  HWND combo = GetDlgItem(dialog, 0x47C);  // cmb13
  if (combo != nullptr) {
    HWND edit = FindWindowExA(combo, nullptr, "Edit", nullptr);
    return edit != nullptr ? edit : combo;
  }
  return GetDlgItem(dialog, 0x480);  // edt1
}

// Opens the Save chooser of the SFX name: the chooser and its file name field.
void OpenSfxNameChooser(Tambrix& program, HWND* chooser, HWND* name) {
  program.PostClick(kChooseSfxName);
  ASSERT_TRUE(WaitFor([&] { return (*chooser = FindOtherDialog(program.pid())) != nullptr; }));
  ASSERT_TRUE(WaitFor([&] { return (*name = FileNameField(*chooser)) != nullptr; }));
}

// Presses OK in a chooser and answers yes to its question about creating a new file.
void AcceptChooser(Tambrix& program, HWND chooser) {
  PostMessageA(chooser, WM_COMMAND, IDOK, 0);
  ASSERT_TRUE(WaitFor([&] {
    if (!IsWindow(chooser)) return true;
    HWND question = FindOtherDialog(program.pid(), chooser);
    if (question != nullptr) PostMessageA(question, WM_COMMAND, IDYES, 0);
    return false;
  }));
}

TEST_F(GuiTest, SaveChooserStartsFromTheStoredNameAndSetsTheField) {
  Record r;
  r.sourcePaths = {""};
  r.sfxName = work_ + "\\gespeichert.exe";
  ASSERT_TRUE(WriteBytes(DatPath(), Encode(r)));
  ASSERT_TRUE(program_.StartAndWait(app_));
  program_.SetText(kSfxName, "getippt.exe");
  HWND chooser = nullptr, name = nullptr;
  ASSERT_NO_FATAL_FAILURE(OpenSfxNameChooser(program_, &chooser, &name));
  std::string initial = TextOf(name);
  EXPECT_NE(initial.find("gespeichert.exe"), std::string::npos) << initial;

  std::string chosen = work_ + "\\neu.exe";
  Send(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(chosen.c_str()));
  ASSERT_NO_FATAL_FAILURE(AcceptChooser(program_, chooser));
  EXPECT_TRUE(WaitFor([&] { return program_.Text(kSfxName) == chosen; }))
      << program_.Text(kSfxName);
  ASSERT_EQ(program_.Quit(), 0);
  r.sfxName = chosen;
  EXPECT_EQ(ReadBytes(DatPath()), Encode(r));
}

// A name chosen in the Save dialog that code page 1252 cannot hold is refused by name, and the
// field keeps what it held (never the look-alike the ANSI dialog would have returned).
TEST_F(GuiTest, SaveChooserRefusesANameOutsideTheCodePage) {
  ASSERT_TRUE(program_.StartAndWait(app_));
  program_.SetText(kSfxName, "getippt.exe");
  HWND chooser = nullptr, name = nullptr;
  ASSERT_NO_FATAL_FAILURE(OpenSfxNameChooser(program_, &chooser, &name));
  const std::wstring chosen = WideOf(work_) + L"\\\u0141\u00F3d\u017A.exe";
  SetWideText(name, chosen);
  ASSERT_NO_FATAL_FAILURE(AcceptChooser(program_, chooser));
  HWND box = program_.WaitForMessageBox();
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(WideMessageBoxText(box),
            L"Der Archivname \"" + chosen +
                L"\" enth\u00E4lt Zeichen, die es in Codepage 1252 nicht gibt: \u0141 \u017A\n"
                L"Tambrix nimmt Pfade nur in Codepage 1252 an; das Feld SFX-Name bleibt, wie es "
                L"war.");
  PostMessageA(box, WM_COMMAND, IDOK, 0);
  EXPECT_TRUE(WaitFor([&] { return !IsWindow(box); }));
  EXPECT_EQ(program_.Text(kSfxName), "getippt.exe");
  ASSERT_EQ(program_.Quit(), 0);
  EXPECT_FALSE(Exists(work_ + "\\L\xF3"
                              "dz.exe"));
}

TEST_F(GuiTest, OpenChooserLoadsTextFilesAndRemembersTheLastOne) {
  std::string big;
  for (int i = 0; big.size() < 40000; ++i) big += "Zeile " + std::to_string(i) + "\n";
  std::string textFile = work_ + "\\info.txt";
  ASSERT_TRUE(WriteBytes(textFile, big));
  ASSERT_TRUE(program_.StartAndWait(app_));

  program_.PostClick(kChooseDialogText);
  HWND chooser = nullptr;
  ASSERT_TRUE(WaitFor([&] { return (chooser = FindOtherDialog(program_.pid())) != nullptr; }));
  HWND name = nullptr;
  ASSERT_TRUE(WaitFor([&] { return (name = FileNameField(chooser)) != nullptr; }));
  Send(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(textFile.c_str()));
  PostMessageA(chooser, WM_COMMAND, IDOK, 0);
  ASSERT_TRUE(WaitFor([&] { return !IsWindow(chooser); }));
  // The first 32766 bytes, line feeds unchanged.
  EXPECT_TRUE(WaitFor([&] { return program_.Text(kDialogText).size() == 32766; }));
  EXPECT_EQ(program_.Text(kDialogText), big.substr(0, 32766));

  // The next text button starts with the file chosen last; cancelling changes nothing.
  program_.PostClick(kChooseInfoBefore);
  ASSERT_TRUE(WaitFor([&] { return (chooser = FindOtherDialog(program_.pid())) != nullptr; }));
  ASSERT_TRUE(WaitFor([&] { return (name = FileNameField(chooser)) != nullptr; }));
  EXPECT_NE(TextOf(name).find("info.txt"), std::string::npos) << TextOf(name);
  PostMessageA(chooser, WM_COMMAND, IDCANCEL, 0);
  ASSERT_TRUE(WaitFor([&] { return !IsWindow(chooser); }));
  EXPECT_EQ(program_.Text(kInfoBefore), kDefaultInfoBefore);
}

// The entries of a file chooser's type list, asked in UTF-16 as the chooser holds them.
std::vector<std::wstring> FileTypes(HWND chooser) {
  HWND types = GetDlgItem(chooser, 0x470);  // cmb1
  std::vector<std::wstring> entries;
  DWORD_PTR count = 0;
  if (types != nullptr)
    SendMessageTimeoutW(types, CB_GETCOUNT, 0, 0, SMTO_ABORTIFHUNG, 10000, &count);
  for (DWORD_PTR i = 0; i < count; ++i) {
    DWORD_PTR length = 0;
    SendMessageTimeoutW(types, CB_GETLBTEXTLEN, i, 0, SMTO_ABORTIFHUNG, 10000, &length);
    std::vector<wchar_t> text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(types, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text.data()),
                        SMTO_ABORTIFHUNG, 10000, &copied);
    entries.push_back(text.data());
  }
  return entries;
}

// The icon's "Datei...": an Open chooser for icon files that starts from the field's text; the
// chosen file goes into the field and the settings. (Cancelling and refusing a path outside code
// page 1252 are the other choosers' shared code, tested with them.)
TEST_F(GuiTest, ChosenIconFileGoesIntoTheFieldAndTheSettings) {
  Record r;
  r.sourcePaths = {""};
  r.iconFile = work_ + "\\vorher.ico";
  ASSERT_TRUE(WriteBytes(r.iconFile, "icon"));
  ASSERT_TRUE(WriteBytes(DatPath(), Encode(r)));
  const std::string chosen = work_ + "\\symbol.ico";
  ASSERT_TRUE(WriteBytes(chosen, "icon"));
  ASSERT_TRUE(program_.StartAndWait(app_));

  program_.PostClick(kChooseIcon);
  HWND chooser = nullptr, name = nullptr;
  ASSERT_TRUE(WaitFor([&] { return (chooser = FindOtherDialog(program_.pid())) != nullptr; }));
  ASSERT_TRUE(WaitFor([&] { return (name = FileNameField(chooser)) != nullptr; }));
  EXPECT_NE(TextOf(name).find("vorher.ico"), std::string::npos) << TextOf(name);
  EXPECT_EQ(FileTypes(chooser),
            (std::vector<std::wstring>{L"Symboldateien (*.ico)", L"Alle Dateien (*.*)"}));
  Send(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(chosen.c_str()));
  PostMessageA(chooser, WM_COMMAND, IDOK, 0);
  ASSERT_TRUE(WaitFor([&] { return !IsWindow(chooser); }));
  r.iconFile = chosen;
  EXPECT_TRUE(WaitFor([&] { return program_.Text(kIconFile) == r.iconFile; }))
      << program_.Text(kIconFile);
  ASSERT_EQ(program_.Quit(), 0);
  EXPECT_EQ(ReadBytes(DatPath()), Encode(r));
}

// The folder browser: a top-level dialog of the program with the title text and a tree.
HWND WaitForFolderBrowser(Tambrix& program) {
  HWND browser = nullptr;
  WaitFor([&] {
    browser = FindOtherDialog(program.pid());
    return browser != nullptr &&
           FindWindowExA(browser, nullptr, "SysTreeView32", nullptr) != nullptr;
  });
  return browser;
}

bool HasStaticText(HWND dialog, const std::string& text) {
  for (HWND c = GetWindow(dialog, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
    if (ClassOf(c) == "Static" && TextOf(c) == text) return true;
  }
  return false;
}

TEST_F(GuiTest, FolderBrowserFillsTheSourceFieldAndStartsAtTheLastChoice) {
  ASSERT_TRUE(program_.StartAndWait(app_));
  program_.SetText(kSourceDir, "C:\\getippt");

  // Cancelling changes nothing.
  program_.PostClick(kChooseSource);
  HWND browser = WaitForFolderBrowser(program_);
  ASSERT_NE(browser, nullptr);
  EXPECT_TRUE(HasStaticText(browser, "W\xE4hlen Sie ein Verzeichnis aus:"));
  PostMessageA(browser, WM_COMMAND, IDCANCEL, 0);
  ASSERT_TRUE(WaitFor([&] { return !IsWindow(browser); }));
  EXPECT_EQ(program_.Text(kSourceDir), "C:\\getippt");

  // Choose a folder below the tree's root that is a file-system directory (OK enabled).
  program_.PostClick(kChooseSource);
  browser = WaitForFolderBrowser(program_);
  ASSERT_NE(browser, nullptr);
  HWND tree = FindWindowExA(browser, nullptr, "SysTreeView32", nullptr);
  HWND ok = GetDlgItem(browser, IDOK);
  HTREEITEM root = reinterpret_cast<HTREEITEM>(Send(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0));
  ASSERT_NE(root, nullptr);
  HTREEITEM chosen = nullptr;
  for (HTREEITEM item = reinterpret_cast<HTREEITEM>(
           Send(tree, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(root)));
       item != nullptr && chosen == nullptr;
       item = reinterpret_cast<HTREEITEM>(
           Send(tree, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(item)))) {
    Send(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
    if (IsWindowEnabled(ok)) chosen = item;
  }
  ASSERT_NE(chosen, nullptr) << "no file-system folder below the root";
  PostMessageA(browser, WM_COMMAND, IDOK, 0);
  ASSERT_TRUE(WaitFor([&] { return !IsWindow(browser); }));
  std::string first;
  ASSERT_TRUE(WaitFor([&] { return (first = program_.Text(kSourceDir)) != "C:\\getippt"; }));
  DWORD attributes = GetFileAttributesA(first.c_str());
  EXPECT_TRUE(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
      << first;

  // The next browser starts at that folder, not at the field's text and not at the root.
  program_.SetText(kSourceDir, work_);
  program_.PostClick(kChooseSource);
  browser = WaitForFolderBrowser(program_);
  ASSERT_NE(browser, nullptr);
  tree = FindWindowExA(browser, nullptr, "SysTreeView32", nullptr);
  HTREEITEM selected = nullptr;
  WaitFor(
      [&] {
        selected = reinterpret_cast<HTREEITEM>(Send(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
        return selected != nullptr && selected != root;
      },
      5000);
  EXPECT_NE(selected, root);
  PostMessageA(browser, WM_COMMAND, IDOK, 0);
  ASSERT_TRUE(WaitFor([&] { return !IsWindow(browser); }));
  EXPECT_TRUE(WaitFor([&] { return program_.Text(kSourceDir) == first; }))
      << program_.Text(kSourceDir);
}

// ---- screen check (run by the wrapper on screens of the sizes named in the test)
// -----------------

class ScreenCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    dist_ = EnvPath("TAMBRIX_GUI_DIST");
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    char unique[MAX_PATH];
    GetTempFileNameA(temp, "scr", 0, unique);
    DeleteFileA(unique);
    dir_ = unique;
    CreateDirectoryA(dir_.c_str(), nullptr);
    ASSERT_TRUE(
        CopyFileA((dist_ + "\\tambrix.exe").c_str(), (dir_ + "\\tambrix.exe").c_str(), FALSE));
  }
  void TearDown() override {
    program_.Kill();
    RemoveTree(dir_);
  }
  void ExpectScreen(int width, int height) {
    ASSERT_EQ(GetSystemMetrics(SM_CXSCREEN), width) << "run this test on a screen of that size";
    ASSERT_EQ(GetSystemMetrics(SM_CYSCREEN), height) << "run this test on a screen of that size";
  }
  void ExpectRefused() {
    ASSERT_TRUE(program_.Start(dir_));
    HWND box = program_.WaitForMessageBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(MessageBoxText(box), kMsgScreen);
    for (HWND w : TopLevelWindowsOf(program_.pid())) EXPECT_NE(ClassOf(w), kFrameClass);
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(program_.WaitExit(), 0);
    EXPECT_FALSE(Exists(dir_ + "\\tambrix.dat"));
  }
  void ExpectAccepted() {
    ASSERT_TRUE(program_.StartAndWait(dir_));
    EXPECT_EQ(FindMessageBox(program_.pid()), nullptr);
    EXPECT_EQ(program_.Quit(), 0);
    EXPECT_TRUE(Exists(dir_ + "\\tambrix.dat"));
  }
  std::string dist_, dir_;
  Tambrix program_;
};

TEST_F(ScreenCheck, RefusedAt799x600) {
  ExpectScreen(799, 600);
  ExpectRefused();
}
TEST_F(ScreenCheck, RefusedAt800x599) {
  ExpectScreen(800, 599);
  ExpectRefused();
}
TEST_F(ScreenCheck, AcceptedAt800x600) {
  ExpectScreen(800, 600);
  ExpectAccepted();
}

}  // namespace
