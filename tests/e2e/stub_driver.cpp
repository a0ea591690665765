// Black-box tests of the extractor's windows, run under wine64 and Xvfb. The archives are made
// beforehand by stub_tests.sh into the folder named by TAMBRIX_STUB_CASES; this program starts
// each one like a user would, finds its windows, reads their texts, types into the target field
// and clicks buttons (posted, so that a modal box opening on the click cannot block the driver).
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "stub/stub_ids.h"

namespace {

constexpr DWORD kTimeoutMs = 60000;

std::wstring CasesDir() {
  wchar_t buf[32768];
  DWORD n = GetEnvironmentVariableW(L"TAMBRIX_STUB_CASES", buf, 32768);
  return std::wstring(buf, n);
}

std::wstring Join(const std::wstring& a, const std::wstring& b) { return a + L"\\" + b; }

bool Exists(const std::wstring& p) {
  return GetFileAttributesW(p.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string ReadAll(const std::wstring& p) {
  HANDLE h = CreateFileW(p.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return std::string();
  std::string s(GetFileSize(h, nullptr), '\0');
  DWORD got = 0;
  if (!s.empty()) ReadFile(h, &s[0], static_cast<DWORD>(s.size()), &got, nullptr);
  CloseHandle(h);
  s.resize(got);
  return s;
}

std::wstring Text(HWND h) {
  wchar_t buf[8192];
  DWORD_PTR n = 0;
  if (!SendMessageTimeoutW(h, WM_GETTEXT, 8192, reinterpret_cast<LPARAM>(buf), SMTO_ABORTIFHUNG,
                           5000, &n))
    return std::wstring();
  return std::wstring(buf, static_cast<size_t>(n));
}

std::wstring ClassOf(HWND h) {
  wchar_t buf[256];
  int n = GetClassNameW(h, buf, 256);
  return std::wstring(buf, n > 0 ? n : 0);
}

// Polls COND until it holds or the time-out passes; whether it held.
template <typename Cond>
bool WaitUntil(Cond cond, DWORD ms = kTimeoutMs) {
  const DWORD start = GetTickCount();
  while (!cond()) {
    if (GetTickCount() - start >= ms) return false;
    Sleep(20);
  }
  return true;
}

void Click(HWND dialog, int id) {
  PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

// One started extractor; killed if a test leaves it running.
class Extractor {
 public:
  explicit Extractor(const std::wstring& exe, const std::wstring& args = L"") {
    std::wstring line = L"\"" + Join(CasesDir(), exe) + L"\"" + (args.empty() ? L"" : L" " + args);
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    started_ = CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr,
                              CasesDir().c_str(), &si, &pi_) != 0;
  }
  ~Extractor() {
    if (started_ && WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT)
      TerminateProcess(pi_.hProcess, 99);
    if (started_) {
      CloseHandle(pi_.hProcess);
      CloseHandle(pi_.hThread);
    }
  }
  bool started() const { return started_; }
  // The exit code, or -1 when it did not end in time.
  int Wait(DWORD ms = kTimeoutMs) {
    if (WaitForSingleObject(pi_.hProcess, ms) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(pi_.hProcess, &code);
    return static_cast<int>(code);
  }
  // A visible top-level dialog of the process: the main window (it has the target field) or a
  // message box (it has not). nullptr after the time-out or when the process ended.
  HWND WaitForDialog(bool main, DWORD ms = kTimeoutMs) {
    DWORD start = GetTickCount();
    while (GetTickCount() - start < ms) {
      Search s{pi_.dwProcessId, main, nullptr};
      EnumWindows(Visit, reinterpret_cast<LPARAM>(&s));
      if (s.found) return s.found;
      if (WaitForSingleObject(pi_.hProcess, 50) == WAIT_OBJECT_0) return nullptr;
    }
    return nullptr;
  }

 private:
  struct Search {
    DWORD pid;
    bool main;
    HWND found;
  };
  static BOOL CALLBACK Visit(HWND h, LPARAM lp) {
    auto* s = reinterpret_cast<Search*>(lp);
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    if (pid != s->pid || !IsWindowVisible(h) || ClassOf(h) != L"#32770") return TRUE;
    bool isMain = GetDlgItem(h, IDC_STUB_TARGET) != nullptr;
    if (isMain != s->main) return TRUE;
    s->found = h;
    return FALSE;
  }
  PROCESS_INFORMATION pi_ = {};
  bool started_ = false;
};

// The message text of a message box: its longest static text.
std::wstring BoxText(HWND box) {
  std::wstring best;
  for (HWND c = GetWindow(box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
    if (ClassOf(c) != L"Static") continue;
    std::wstring t = Text(c);
    if (t.size() > best.size()) best = t;
  }
  return best;
}

bool IsReadOnly(HWND edit) { return (GetWindowLongW(edit, GWL_STYLE) & ES_READONLY) != 0; }

TEST(StubWindow, ShowsTitleTextAndAnEditableExpandedTarget) {
  Extractor x(L"title.exe");
  ASSERT_TRUE(x.started());
  HWND main = x.WaitForDialog(true);
  ASSERT_TRUE(main);
  EXPECT_EQ(Text(main), L"Testtitel");
  EXPECT_NE(Text(GetDlgItem(main, IDC_STUB_TEXT)).find(L"Umlauten: \u00e4\u00f6\u00fc\u00df"),
            std::wstring::npos);
  std::wstring target = Text(GetDlgItem(main, IDC_STUB_TARGET));
  wchar_t temp[MAX_PATH];
  DWORD n = GetEnvironmentVariableW(L"TEMP", temp, MAX_PATH);
  EXPECT_EQ(target, std::wstring(temp, n) + L"\\tbx-title");
  EXPECT_FALSE(IsReadOnly(GetDlgItem(main, IDC_STUB_TARGET)));
  EXPECT_TRUE(IsWindowVisible(GetDlgItem(main, IDC_STUB_BROWSE)));
  Click(main, IDCANCEL);
  EXPECT_EQ(x.Wait(), 1);
  EXPECT_FALSE(Exists(target));
}

TEST(StubWindow, TargetIsReadOnlyWhenNotEditableAndTitleDefaultsToFileName) {
  Extractor x(L"readonly.exe");
  HWND main = x.WaitForDialog(true);
  ASSERT_TRUE(main);
  EXPECT_EQ(Text(main), L"readonly.exe");
  EXPECT_TRUE(IsReadOnly(GetDlgItem(main, IDC_STUB_TARGET)));
  EXPECT_FALSE(IsWindowVisible(GetDlgItem(main, IDC_STUB_BROWSE)));
  EXPECT_EQ(Text(GetDlgItem(main, IDC_STUB_TARGET)), Join(CasesDir(), L"ro-target"));
  Click(main, IDCANCEL);
  EXPECT_EQ(x.Wait(), 1);
  EXPECT_FALSE(Exists(Join(CasesDir(), L"ro-target")));
}

TEST(StubWindow, CancelOnTheInfoTextBeforeEndsWithExitCodeOne) {
  Extractor x(L"before.exe");
  HWND box = x.WaitForDialog(false);
  ASSERT_TRUE(box);
  EXPECT_EQ(BoxText(box), L"Bitte zuerst lesen.");
  EXPECT_EQ(Text(box), L"Vorher");
  Click(box, IDCANCEL);
  EXPECT_EQ(x.Wait(), 1);
  EXPECT_FALSE(Exists(Join(CasesDir(), L"before-target")));
}

TEST(StubWindow, FullRunShowsBothInfoTextsRunsTheCommandAndCleansUpOnlyItsOwnFiles) {
  const std::wstring target = Join(CasesDir(), L"full-target");
  ASSERT_TRUE(Exists(Join(target, L"keep.txt")));
  Extractor x(L"full.exe");
  HWND box = x.WaitForDialog(false);
  ASSERT_TRUE(box);
  EXPECT_EQ(BoxText(box), L"Vorher");
  Click(box, IDOK);
  HWND main = x.WaitForDialog(true);
  ASSERT_TRUE(main);
  SendMessageTimeoutW(GetDlgItem(main, IDC_STUB_TARGET), WM_SETTEXT, 0,
                      reinterpret_cast<LPARAM>(target.c_str()), SMTO_ABORTIFHUNG, 5000, nullptr);
  Click(main, IDOK);
  HWND after = x.WaitForDialog(false);
  ASSERT_TRUE(after);
  EXPECT_EQ(BoxText(after), L"Fertig entpackt");
  // While the box is open the files are there; the command has not started yet.
  EXPECT_TRUE(Exists(Join(target, L"daten\\a.txt")));
  EXPECT_FALSE(Exists(Join(target, L"ran.txt")));
  Click(after, IDOK);
  EXPECT_EQ(x.Wait(), 0);
  // The command ran in the target, its child ended before the clean-up, and the clean-up took
  // exactly the unpacked files and folders.
  std::string ran = ReadAll(Join(target, L"ran.txt"));
  EXPECT_NE(ran.find("|program="), std::string::npos) << ran;
  EXPECT_NE(ran.find("full-target|program="), std::string::npos) << ran;
  EXPECT_TRUE(Exists(Join(target, L"child.txt")));
  EXPECT_EQ(ReadAll(Join(target, L"keep.txt")), "vorher da");
  EXPECT_FALSE(Exists(Join(target, L"stub_marker.exe")));
  EXPECT_FALSE(Exists(Join(target, L"daten\\a.txt")));
  EXPECT_FALSE(Exists(Join(target, L"daten")));
}

TEST(StubWindow, CancelWhileUnpackingRemovesWhatWasWritten) {
  const std::wstring target = Join(CasesDir(), L"big-target");
  Extractor x(L"big.exe", L"/D=\"" + target + L"\"");
  HWND main = x.WaitForDialog(true);
  ASSERT_TRUE(main);
  EXPECT_EQ(Text(GetDlgItem(main, IDC_STUB_TARGET)), target);
  Click(main, IDOK);
  // Unpacking has begun once the unpack button is disabled and the progress bar shows. The
  // extractor does the one after the other, so wait for the state itself, not for the first sign.
  HWND ok = GetDlgItem(main, IDOK), progress = GetDlgItem(main, IDC_STUB_PROGRESS);
  ASSERT_TRUE(WaitUntil([&] { return !IsWindowEnabled(ok) && IsWindowVisible(progress); }))
      << "the progress bar did not show";
  Click(main, IDCANCEL);
  EXPECT_EQ(x.Wait(), 1);
  EXPECT_FALSE(Exists(target));
}

TEST(StubWindow, TestRunReportsTheResultInABox) {
  Extractor x(L"test.exe", L"/T");
  HWND box = x.WaitForDialog(false);
  ASSERT_TRUE(box);
  EXPECT_NE(BoxText(box).find(L"in Ordnung (3 Dateien"), std::wstring::npos)
      << BoxText(box).c_str();
  Click(box, IDOK);
  EXPECT_EQ(x.Wait(), 0);
}

TEST(StubWindow, DamagedDataIsReportedAndNothingStays) {
  const std::wstring target = Join(CasesDir(), L"damaged-target");
  Extractor x(L"damaged.exe", L"/D=\"" + target + L"\"");
  HWND main = x.WaitForDialog(true);
  ASSERT_TRUE(main);
  Click(main, IDOK);
  HWND box = x.WaitForDialog(false);
  ASSERT_TRUE(box);
  EXPECT_NE(BoxText(box).find(L"besch\u00e4digt"), std::wstring::npos);
  Click(box, IDOK);
  EXPECT_EQ(x.Wait(), 2);
  EXPECT_FALSE(Exists(target));
}

TEST(StubWindow, AnArchiveForTheOtherStubIsRefusedBeforeTheDialog) {
  Extractor x(L"method.exe");
  HWND box = x.WaitForDialog(false);
  ASSERT_TRUE(box);
  const std::wstring text = BoxText(box);
  EXPECT_NE(text.find(L"nur mit gzip gepackte Archive"), std::wstring::npos) << text.c_str();
  EXPECT_NE(text.find(L"Maximale Kompression: 1"), std::wstring::npos) << text.c_str();
  Click(box, IDOK);
  EXPECT_EQ(x.Wait(), 2);
}

TEST(StubWindow, AReadOnlyFileIsNamedAndNothingStays) {
  const std::wstring target = Join(CasesDir(), L"rofile-target");
  Extractor x(L"rofile.exe", L"/D=\"" + target + L"\"");
  HWND main = x.WaitForDialog(true);
  ASSERT_TRUE(main);
  Click(main, IDOK);
  HWND box = x.WaitForDialog(false);
  ASSERT_TRUE(box);
  const std::wstring text = BoxText(box);
  EXPECT_NE(text.find(L"rofile-target\\z.txt ist schreibgesch\u00fctzt"), std::wstring::npos)
      << text.c_str();
  Click(box, IDOK);
  EXPECT_EQ(x.Wait(), 3);
  EXPECT_EQ(ReadAll(Join(target, L"z.txt")), "alt");
  EXPECT_FALSE(Exists(Join(target, L"a.txt")));
}

TEST(StubWindow, ACommandThatIsNotFoundGetsTheExtractorsOwnMessage) {
  const std::wstring target = Join(CasesDir(), L"nocmd-target");
  Extractor x(L"nocmd.exe", L"/D=\"" + target + L"\"");
  HWND main = x.WaitForDialog(true);
  ASSERT_TRUE(main);
  Click(main, IDOK);
  HWND box = x.WaitForDialog(false);
  ASSERT_TRUE(box);
  EXPECT_EQ(BoxText(box), L"Das Kommando evilcmd konnte nicht gestartet werden.");
  Click(box, IDOK);
  EXPECT_EQ(x.Wait(), 4);
  EXPECT_TRUE(Exists(Join(target, L"a.txt")));
}

}  // namespace
