// Black-box tests of the extractor's windows, run under wine64 and Xvfb. The archives are made
// beforehand by stub_tests.sh into the folder named by TAMBRIX_STUB_CASES; this program starts
// each one like a user would, finds its windows, reads their texts, types into the target field
// and clicks buttons (posted, so that a modal box opening on the click cannot block the driver).
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "stub/stub_ids.h"
#include "tests/e2e/stub_driver.h"

namespace {

using namespace stubtest;

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
  EXPECT_TRUE(KeepScreenshot(main, L"dialog"));
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
  EXPECT_TRUE(KeepScreenshot(box, L"test-result"));
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
  EXPECT_TRUE(KeepScreenshot(box, L"error-method"));
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
