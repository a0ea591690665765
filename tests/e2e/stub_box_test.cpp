// The extractor's message window and the look of its windows at the screen's DPI, driven from
// outside like stub_driver.cpp: info texts short and long, results and errors, every control
// inside its window and every label fitting its control. The driver runs once per screen DPI;
// TAMBRIX_STUB_DPI names the one this run must see.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "stub/stub_ids.h"
#include "tests/e2e/stub_driver.h"
#include "tests/e2e/stub_look.h"

namespace {

using namespace stubtest;


// A run meant for 144 dpi that silently got 96 would prove nothing: the whole run fails.
class ScreenDpi : public ::testing::Environment {
 public:
  void SetUp() override {
    SetProcessDPIAware();
    ASSERT_GT(ExpectedDpi(), 0) << "TAMBRIX_STUB_DPI is not set";
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    ASSERT_EQ(dpi, ExpectedDpi()) << "the screen has not the DPI this run is for";
  }
};
[[maybe_unused]] const auto* const kScreenDpi =
    ::testing::AddGlobalTestEnvironment(new ScreenDpi);

// A button of a message window: visible, enabled, in the window's client area and on the
// screen's work area.
void ExpectUsableButton(HWND box, int id, const wchar_t* label) {
  SCOPED_TRACE(testing::Message() << "button " << id);
  HWND b = GetDlgItem(box, id);
  ASSERT_TRUE(b);
  EXPECT_EQ(Text(b), label);
  EXPECT_TRUE(IsWindowVisible(b));
  EXPECT_TRUE(IsWindowEnabled(b));
  EXPECT_TRUE(Inside(InParent(b), ClientSize(box)));
  RECT onScreen;
  GetWindowRect(b, &onScreen);
  EXPECT_TRUE(Inside(onScreen, WorkArea())) << Describe(onScreen);
}

std::wstring FromCp1252(const std::string& s) {
  std::wstring w(s.size(), L'\0');
  int n = MultiByteToWideChar(1252, 0, s.data(), static_cast<int>(s.size()), &w[0],
                              static_cast<int>(w.size()));
  w.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return w;
}

std::wstring WithCrLf(const std::wstring& s) {
  std::wstring out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == L'\n' && (i == 0 || s[i - 1] != L'\r')) out += L'\r';
    out += s[i];
  }
  return out;
}

// The info text of the long case as the archive holds it, as the window must show it.
std::wstring CaseText(const wchar_t* file) {
  return WithCrLf(FromCp1252(ReadAll(Join(CasesDir(), file))));
}

// The share of c's pixels on the screen that have the colour of a dialog's background.
double DialogColouredShare(HWND c) {
  RECT r;
  GetWindowRect(c, &r);
  const Capture cap = CaptureScreen(r);
  const COLORREF face = GetSysColor(COLOR_BTNFACE);
  const uint32_t rgb = (GetRValue(face) << 16) | (GetGValue(face) << 8) | GetBValue(face);
  size_t same = 0;
  for (uint32_t p : cap.pixels) same += p == rgb;
  return cap.pixels.empty() ? 0.0 : static_cast<double>(same) / cap.pixels.size();
}

HWND FocusOf(HWND window) {
  GUITHREADINFO info = {};
  info.cbSize = sizeof(info);
  if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info)) return nullptr;
  return info.hwndFocus;
}

int DefaultButton(HWND dialog) {
  DWORD_PTR id = 0;
  SendMessageTimeoutW(dialog, DM_GETDEFID, 0, 0, SMTO_ABORTIFHUNG, 5000, &id);
  return HIWORD(id) == DC_HASDEFID ? LOWORD(id) : 0;
}

// A text too tall for the screen: the window keeps to the work area with its buttons in view,
// and the whole text scrolls inside its control.
void ExpectScrollingBox(HWND box, const std::wstring& text) {
  ExpectLaidOut(box, "long message window");
  HWND edit = GetDlgItem(box, IDC_BOX_TEXT);
  ASSERT_TRUE(edit);
  EXPECT_EQ(Text(edit), text);
  EXPECT_TRUE(Style(edit) & ES_READONLY);
  EXPECT_TRUE(Style(edit) & WS_VSCROLL);
  RECT outer;
  GetWindowRect(edit, &outer);
  EXPECT_GE((outer.right - outer.left) - ClientSize(edit).right, GetSystemMetrics(SM_CXVSCROLL))
      << "no room taken by a scroll bar";
  const DialogFont font(ExpectedDpi());
  const int lines = Lines(edit), visible = ClientSize(edit).bottom / font.lineHeight();
  EXPECT_GT(lines, visible) << "the text fits without scrolling";
  EXPECT_GT(visible, 0);
  EXPECT_EQ(FirstVisibleLine(edit), 0);
  SendMessageTimeoutW(edit, WM_VSCROLL, SB_BOTTOM, 0, SMTO_ABORTIFHUNG, 5000, nullptr);
  const int first = FirstVisibleLine(edit);
  EXPECT_GT(first, 0) << "scrolling did not move the text";
  EXPECT_GE(first + visible, lines) << "the last line is not reached";
  SendMessageTimeoutW(edit, WM_VSCROLL, SB_TOP, 0, SMTO_ABORTIFHUNG, 5000, nullptr);
  EXPECT_EQ(FirstVisibleLine(edit), 0);
}

TEST(StubLook, TheMainWindowScalesWithTheDpiAndCutsNothingOff) {
  Extractor x(L"title.exe");
  HWND main = x.WaitForDialog(true);
  ASSERT_TRUE(main);
  ExpectLaidOut(main, "main window");
  // The template (300 x 178 dialog units) sized by the font of this DPI: so the measurements
  // above used the dialog's own font.
  const DialogFont font(ExpectedDpi()), at96(96);
  const RECT client = ClientSize(main);
  EXPECT_NEAR(client.right, MulDiv(300, font.baseX(), 4), 1);
  EXPECT_NEAR(client.bottom, MulDiv(178, font.baseY(), 8), 1);
  const double ratio = static_cast<double>(client.bottom) / MulDiv(178, at96.baseY(), 8);
  if (ExpectedDpi() == 96) {
    EXPECT_DOUBLE_EQ(ratio, 1.0);
  } else {
    const double scale = ExpectedDpi() / 96.0;
    EXPECT_GT(ratio, scale * 0.85) << "the window does not grow with the DPI";
    EXPECT_LT(ratio, scale * 1.15) << "the window grows more than the DPI";
    EXPECT_GT(font.lineHeight(), at96.lineHeight());
  }
  Click(main, IDCANCEL);
  EXPECT_EQ(x.Wait(), 1);
}

TEST(StubLook, TheProgressDisplayCutsNothingOff) {
  const std::wstring target = Join(CasesDir(), L"many-target");
  Extractor x(L"many.exe", TargetSwitch(target));
  HWND main = StartUnpacking(x, target);
  ASSERT_TRUE(main) << "the progress bar did not show";
  ExpectLaidOut(main, "progress display");
  EXPECT_TRUE(KeepScreenshot(main, L"progress"));
  // Cancelling asks first, then says what was done.
  Click(main, IDCANCEL);
  HWND question = x.WaitForDialog(false);
  ASSERT_TRUE(question);
  ExpectLaidOut(question, "cancel question");
  Click(question, IDYES);
  ASSERT_TRUE(WaitUntil([&] { return !IsWindow(question); }));
  HWND told = x.WaitForDialog(false);
  ASSERT_TRUE(told);
  ExpectLaidOut(told, "cancelled message");
  Click(told, IDOK);
  EXPECT_EQ(x.Wait(), 1);
  EXPECT_FALSE(Exists(target));
}

TEST(StubBox, LongInfoTextsScrollInsideTheWorkAreaWithTheirButtonsInView) {
  const std::wstring target = Join(CasesDir(), L"info-long-target");
  Extractor x(L"info-long.exe");
  HWND before = x.WaitForDialog(false);
  ASSERT_TRUE(before);
  EXPECT_EQ(ClassOf(before), L"#32770");
  EXPECT_EQ(Text(before), L"Lange Hinweise");
  ExpectScrollingBox(before, CaseText(L"info-before-long.txt"));
  ExpectUsableButton(before, IDOK, L"OK");
  ExpectUsableButton(before, IDCANCEL, L"Abbrechen");
  EXPECT_TRUE(KeepScreenshot(before, L"info-before-long"));
  Click(before, IDOK);

  HWND main = x.WaitForDialog(true);
  ASSERT_TRUE(main);
  Click(main, IDOK);
  // The text after unpacking ends its lines in LF alone; the window shows them as lines.
  HWND after = x.WaitForDialog(false);
  ASSERT_TRUE(after);
  ExpectScrollingBox(after, CaseText(L"info-after-long.txt"));
  ExpectUsableButton(after, IDOK, L"OK");
  EXPECT_FALSE(GetDlgItem(after, IDCANCEL)) << "a message to confirm has one button";
  EXPECT_TRUE(KeepScreenshot(after, L"info-after-long"));
  Click(after, IDOK);
  EXPECT_EQ(x.Wait(), 0);
  EXPECT_EQ(ReadAll(Join(target, L"a.txt")), "a");
}

TEST(StubBox, AShortInfoTextLooksLikeAMessageBoxAndAbbrechenEndsTheRun) {
  SIZE longBox = {};
  {
    Extractor x(L"info-long.exe");
    HWND box = x.WaitForDialog(false);
    ASSERT_TRUE(box);
    RECT r;
    GetWindowRect(box, &r);
    longBox = SIZE{r.right - r.left, r.bottom - r.top};
    Click(box, IDCANCEL);
    EXPECT_EQ(x.Wait(), 1);
  }
  Extractor x(L"before.exe");
  HWND box = x.WaitForDialog(false);
  ASSERT_TRUE(box);
  ExpectLaidOut(box, "short message window");
  HWND edit = GetDlgItem(box, IDC_BOX_TEXT);
  ASSERT_TRUE(edit);
  EXPECT_EQ(Text(edit), L"Bitte zuerst lesen.");
  EXPECT_FALSE(Style(edit) & WS_VSCROLL);
  EXPECT_FALSE(Style(edit) & WS_BORDER);
  EXPECT_FALSE(GetWindowLongW(edit, GWL_EXSTYLE) & WS_EX_CLIENTEDGE);
  EXPECT_GE(Lines(edit), 1);
  EXPECT_LE(Lines(edit), 2);
  RECT r;
  GetWindowRect(box, &r);
  EXPECT_LT(r.right - r.left, longBox.cx);
  EXPECT_LT(r.bottom - r.top, longBox.cy);
  HWND icon = GetDlgItem(box, IDC_BOX_ICON);
  ASSERT_TRUE(icon);
  EXPECT_TRUE(IsWindowVisible(icon));
  EXPECT_GE(ClientSize(icon).right, GetSystemMetrics(SM_CXICON));
  ExpectUsableButton(box, IDOK, L"OK");
  ExpectUsableButton(box, IDCANCEL, L"Abbrechen");
  // The default button has the focus; nothing of the text is selected.
  EXPECT_EQ(DefaultButton(box), IDOK);
  EXPECT_EQ(FocusOf(box), GetDlgItem(box, IDOK));
  DWORD start = 1, end = 2;
  SendMessageTimeoutW(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                      reinterpret_cast<LPARAM>(&end), SMTO_ABORTIFHUNG, 5000, nullptr);
  EXPECT_EQ(start, end) << "text selected";
  // With no window of the extractor behind it the box stands alone, in front.
  EXPECT_FALSE(GetWindow(box, GW_OWNER));
  EXPECT_TRUE(GetWindowLongW(box, GWL_EXSTYLE) & WS_EX_APPWINDOW);
  EXPECT_TRUE(WaitUntil([&] { return GetForegroundWindow() == box; })) << "not in front";
  EXPECT_TRUE(KeepScreenshot(box, L"info-before-short"));
  // The text stands on the dialog's background, not in a white field (the text's own pixels
  // are the rest).
  EXPECT_GT(DialogColouredShare(edit), 0.7);
  Click(box, IDCANCEL);
  EXPECT_EQ(x.Wait(), 1);
  EXPECT_FALSE(Exists(Join(CasesDir(), L"before-target")));
}

TEST(StubBox, AWordLongerThanALineIsBrokenInsideTheWindow) {
  Extractor x(L"info-word.exe");
  HWND box = x.WaitForDialog(false);
  ASSERT_TRUE(box);
  ExpectLaidOut(box, "a long word");
  HWND edit = GetDlgItem(box, IDC_BOX_TEXT);
  EXPECT_EQ(Text(edit).find(L"Bitte lesen: C:\\Unterordner\\Unterordner"), 0u);
  EXPECT_GE(Lines(edit), 3);
  EXPECT_FALSE(Style(edit) & WS_VSCROLL);
  ExpectUsableButton(box, IDOK, L"OK");
  EXPECT_TRUE(KeepScreenshot(box, L"info-before-word"));
  Click(box, IDCANCEL);
  EXPECT_EQ(x.Wait(), 1);
}

TEST(StubBox, ABoxOverTheMainWindowIsModalToItAndCentredOnIt) {
  Extractor x(L"title.exe");
  HWND main = x.WaitForDialog(true);
  ASSERT_TRUE(main);
  // Entpacken without a target: the warning belongs to the main window.
  SetTarget(main, L"");
  Click(main, IDOK);
  HWND box = x.WaitForDialog(false);
  ASSERT_TRUE(box);
  ExpectLaidOut(box, "warning over the main window");
  EXPECT_EQ(GetWindow(box, GW_OWNER), main);
  EXPECT_FALSE(GetWindowLongW(box, GWL_EXSTYLE) & WS_EX_APPWINDOW) << "a second task bar button";
  EXPECT_FALSE(IsWindowEnabled(main)) << "the main window takes input behind its box";
  RECT m, b;
  GetWindowRect(main, &m);
  GetWindowRect(box, &b);
  EXPECT_NEAR((b.left + b.right) / 2, (m.left + m.right) / 2, 1);
  EXPECT_NEAR((b.top + b.bottom) / 2, (m.top + m.bottom) / 2, 1);
  Click(box, IDOK);
  EXPECT_TRUE(WaitUntil([&] { return IsWindowEnabled(main) != FALSE; }));
  EXPECT_TRUE(IsWindowVisible(main));
  Click(main, IDCANCEL);
  EXPECT_EQ(x.Wait(), 1);
}

TEST(StubBox, EscapeAndClosingAnswerAsTheButtonsDo) {
  {
    // Asked to go on (OK or Abbrechen): Escape cancels the run.
    Extractor x(L"before.exe");
    HWND box = x.WaitForDialog(false);
    ASSERT_TRUE(box);
    PostMessageW(GetDlgItem(box, IDOK), WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_EQ(x.Wait(), 1);
  }
  {
    // Told a result (OK alone): Escape confirms it.
    Extractor x(L"test.exe", L"/T");
    HWND box = x.WaitForDialog(false);
    ASSERT_TRUE(box);
    PostMessageW(GetDlgItem(box, IDOK), WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_EQ(x.Wait(), 0);
  }
  {
    // Closing the window cancels as Abbrechen does.
    Extractor x(L"before.exe");
    HWND box = x.WaitForDialog(false);
    ASSERT_TRUE(box);
    PostMessageW(box, WM_CLOSE, 0, 0);
    EXPECT_EQ(x.Wait(), 1);
  }
}

TEST(StubBox, ResultsAndErrorsUseTheSameWindow) {
  {
    Extractor x(L"test.exe", L"/T");
    HWND box = x.WaitForDialog(false);
    ASSERT_TRUE(box);
    ExpectLaidOut(box, "test result");
    EXPECT_NE(BoxText(box).find(L"in Ordnung"), std::wstring::npos);
    EXPECT_TRUE(IsWindowVisible(GetDlgItem(box, IDC_BOX_ICON)));
    ExpectUsableButton(box, IDOK, L"OK");
    EXPECT_FALSE(GetDlgItem(box, IDCANCEL));
    Click(box, IDOK);
    EXPECT_EQ(x.Wait(), 0);
  }
  {
    Extractor x(L"method.exe");
    HWND box = x.WaitForDialog(false);
    ASSERT_TRUE(box);
    ExpectLaidOut(box, "error");
    const std::wstring text = BoxText(box);
    EXPECT_NE(text.find(L"nur mit gzip gepackte Archive"), std::wstring::npos) << text.c_str();
    // The reader's reason stands on a line of its own.
    EXPECT_NE(text.find(L"\r\n"), std::wstring::npos);
    EXPECT_GE(Lines(GetDlgItem(box, IDC_BOX_TEXT)), 2);
    ExpectUsableButton(box, IDOK, L"OK");
    Click(box, IDOK);
    EXPECT_EQ(x.Wait(), 2);
  }
}

// The kinds of box no archive case shows, through the extractor's code and resources alone.
std::wstring Probe(UINT flags) { return std::to_wstring(flags); }

TEST(StubBox, AQuestionHasJaAndNeinAndItsOwnFirstLabelAndDefault) {
  {
    Extractor x(L"stub_box_probe.exe", Probe(MB_YESNO | MB_ICONQUESTION));
    HWND box = x.WaitForDialog(false);
    ASSERT_TRUE(box);
    EXPECT_EQ(Text(box), L"Probe");
    ExpectLaidOut(box, "question");
    ExpectUsableButton(box, IDYES, L"&Ja");
    ExpectUsableButton(box, IDNO, L"&Nein");
    EXPECT_FALSE(GetDlgItem(box, IDOK));
    EXPECT_FALSE(GetDlgItem(box, IDCANCEL));
    EXPECT_TRUE(IsWindowVisible(GetDlgItem(box, IDC_BOX_ICON)));
    EXPECT_EQ(DefaultButton(box), IDYES);
    EXPECT_EQ(FocusOf(box), GetDlgItem(box, IDYES));
    Click(box, IDYES);
    EXPECT_EQ(x.Wait(), IDYES);
  }
  {
    Extractor x(L"stub_box_probe.exe", Probe(MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) +
                                           L" &Ersetzen");
    HWND box = x.WaitForDialog(false);
    ASSERT_TRUE(box);
    ExpectLaidOut(box, "question with its own first label");
    ExpectUsableButton(box, IDYES, L"&Ersetzen");
    ExpectUsableButton(box, IDNO, L"&Nein");
    EXPECT_EQ(DefaultButton(box), IDNO);
    EXPECT_EQ(FocusOf(box), GetDlgItem(box, IDNO));
    EXPECT_TRUE(KeepScreenshot(box, L"question-replace"));
    // Enter answers the default, the second button.
    PostMessageW(GetDlgItem(box, IDNO), WM_KEYDOWN, VK_RETURN, 0);
    EXPECT_EQ(x.Wait(), IDNO);
  }
  {
    Extractor x(L"stub_box_probe.exe", Probe(MB_YESNO | MB_ICONQUESTION));
    HWND box = x.WaitForDialog(false);
    ASSERT_TRUE(box);
    PostMessageW(GetDlgItem(box, IDYES), WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_EQ(x.Wait(), IDNO) << "Escape on a question";
  }
  {
    Extractor x(L"stub_box_probe.exe", Probe(MB_YESNO | MB_ICONQUESTION));
    HWND box = x.WaitForDialog(false);
    ASSERT_TRUE(box);
    PostMessageW(box, WM_CLOSE, 0, 0);
    EXPECT_EQ(x.Wait(), IDNO) << "closing a question";
  }
  {
    Extractor x(L"stub_box_probe.exe", Probe(MB_OKCANCEL | MB_DEFBUTTON2) + L" &Weiter");
    HWND box = x.WaitForDialog(false);
    ASSERT_TRUE(box);
    ExpectUsableButton(box, IDOK, L"&Weiter");
    ExpectUsableButton(box, IDCANCEL, L"Abbrechen");
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(box, IDC_BOX_ICON))) << "an icon nobody asked for";
    EXPECT_EQ(DefaultButton(box), IDCANCEL);
    PostMessageW(GetDlgItem(box, IDCANCEL), WM_KEYDOWN, VK_RETURN, 0);
    EXPECT_EQ(x.Wait(), IDCANCEL);
  }
}

}  // namespace
