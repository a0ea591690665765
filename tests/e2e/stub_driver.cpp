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
#include "tests/e2e/stub_look.h"

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
  SetTarget(main, target);
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

TEST(StubWindow, CancelWhileUnpackingAsksThenRemovesWhatWasWrittenAndSaysSo) {
  const std::wstring target = Join(CasesDir(), L"big-target");
  Extractor x(L"big.exe", TargetSwitch(target));
  HWND main = StartUnpacking(x, target);
  ASSERT_TRUE(main) << "the progress bar did not show";
  Click(main, IDCANCEL);
  HWND question = x.WaitForDialog(false);
  ASSERT_TRUE(question);
  EXPECT_EQ(BoxText(question), L"Entpacken abbrechen?");
  EXPECT_EQ(Text(GetDlgItem(question, IDYES)), L"&Ja");
  EXPECT_TRUE(KeepScreenshot(question, L"cancel-question"));
  ExpectLaidOut(question, "cancel question");
  EXPECT_EQ(Text(GetDlgItem(question, IDNO)), L"&Nein");
  Click(question, IDYES);
  ASSERT_TRUE(WaitUntil([&] { return !IsWindow(question); }));
  HWND told = x.WaitForDialog(false);
  ASSERT_TRUE(told);
  const std::wstring text = BoxText(told);
  EXPECT_NE(text.find(L"abgebrochen"), std::wstring::npos) << text.c_str();
  EXPECT_NE(text.find(L"nichts zur\u00fcckgelassen"), std::wstring::npos) << text.c_str();
  EXPECT_TRUE(KeepScreenshot(told, L"cancelled"));
  ExpectLaidOut(told, "cancelled");
  // Everything is gone while the message is still open.
  EXPECT_FALSE(Exists(target));
  Click(told, IDOK);
  EXPECT_EQ(x.Wait(), 1);
  EXPECT_FALSE(Exists(target));
}

TEST(StubWindow, SayingNoToTheCancelQuestionFinishesTheUnpacking) {
  const std::wstring target = Join(CasesDir(), L"big-target-2");
  Extractor x(L"big.exe", TargetSwitch(target));
  HWND main = StartUnpacking(x, target);
  ASSERT_TRUE(main) << "the progress bar did not show";
  PostMessageW(main, WM_CLOSE, 0, 0);  // the window's close box asks the same question
  HWND question = x.WaitForDialog(false);
  ASSERT_TRUE(question);
  EXPECT_EQ(BoxText(question), L"Entpacken abbrechen?");
  Click(question, IDNO);
  EXPECT_EQ(x.Wait(), 0);
  EXPECT_EQ(ReadAll(Join(target, L"a.txt")), "a");
  EXPECT_EQ(ReadAll(Join(target, L"zufall.bin")).size(), 48000000u);
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
  Extractor x(L"damaged.exe", TargetSwitch(target));
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

// Waits until the box is closed and the main window takes input again: the dialog is back.
bool BackAtTheDialog(HWND main, HWND box) {
  return WaitUntil([&] {
    return !IsWindow(box) && IsWindowEnabled(main) && IsWindowEnabled(GetDlgItem(main, IDOK));
  });
}

TEST(StubWindow, AReadOnlyFileIsNamedBeforeAnythingIsWrittenAndTheDialogComesBack) {
  const std::wstring target = Join(CasesDir(), L"rofile-target");
  Extractor x(L"rofile.exe", TargetSwitch(target));
  HWND main = x.WaitForDialog(true);
  ASSERT_TRUE(main);
  Click(main, IDOK);
  HWND box = x.WaitForDialog(false);
  ASSERT_TRUE(box);
  const std::wstring text = BoxText(box);
  EXPECT_NE(text.find(L"rofile-target\\z.txt ist schreibgesch\u00fctzt"), std::wstring::npos)
      << text.c_str();
  EXPECT_TRUE(KeepScreenshot(box, L"readonly-file"));
  ExpectLaidOut(box, "read-only file");
  EXPECT_FALSE(Exists(Join(target, L"a.txt")));
  Click(box, IDOK);
  ASSERT_TRUE(BackAtTheDialog(main, box));
  EXPECT_EQ(Text(GetDlgItem(main, IDC_STUB_TARGET)), target);
  Click(main, IDCANCEL);
  EXPECT_EQ(x.Wait(), 1);
  EXPECT_EQ(ReadAll(Join(target, L"z.txt")), "alt");
  EXPECT_FALSE(Exists(Join(target, L"a.txt")));
}

TEST(StubWindow, ACommandThatIsNotFoundGetsTheExtractorsOwnMessage) {
  const std::wstring target = Join(CasesDir(), L"nocmd-target");
  Extractor x(L"nocmd.exe", TargetSwitch(target));
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

// ---- the choices the dialog offers ------------------------------------------------------------

// A target that cannot be used brings the dialog back with the target as typed, until one can.
TEST(StubChoices, AnUnusableTargetIsNamedAsTypedAndCanBeCorrected) {
  const std::wstring good = Join(CasesDir(), L"target-ok");
  Extractor x(L"target.exe", L"/D=Q:\\nirgends");
  HWND main = x.WaitForDialog(true);
  ASSERT_TRUE(main);
  const struct {
    std::wstring typed, reason;
  } wrong[] = {
      {L"Q:\\nirgends", L"Das Laufwerk Q: ist nicht vorhanden."},
      {Join(CasesDir(), L"afile\\sub"), Join(CasesDir(), L"afile") + L" ist eine Datei"},
      {L"Z:\\sys\\tbx-ziel", L"Z:\\sys\\tbx-ziel konnte nicht angelegt werden."},
  };
  for (const auto& w : wrong) {
    SetTarget(main, w.typed);
    Click(main, IDOK);
    HWND box = x.WaitForDialog(false);
    ASSERT_TRUE(box) << "no message for " << std::string(w.typed.begin(), w.typed.end());
    const std::wstring text = BoxText(box);
    EXPECT_NE(text.find(L"\"" + w.typed + L"\""), std::wstring::npos) << text.c_str();
    EXPECT_NE(text.find(w.reason), std::wstring::npos) << text.c_str();
    if (w.typed == L"Q:\\nirgends") {
      EXPECT_TRUE(KeepScreenshot(box, L"target-error"));
      ExpectLaidOut(box, "target error");
    }
    Click(box, IDOK);
    ASSERT_TRUE(BackAtTheDialog(main, box));
    EXPECT_EQ(Text(GetDlgItem(main, IDC_STUB_TARGET)), w.typed);
  }
  SetTarget(main, good);
  Click(main, IDOK);
  EXPECT_EQ(x.Wait(), 0);
  EXPECT_EQ(ReadAll(Join(good, L"a.txt")), "a");
  EXPECT_EQ(ReadAll(Join(CasesDir(), L"afile")), "x");
}

// Existing files: one question for all of them; Abbrechen goes back to the dialog and changes
// nothing, Ersetzen replaces them all.
TEST(StubChoices, ReplacingIsAskedOnceForAllFilesAndCanBeDeclined) {
  const std::wstring target = Join(CasesDir(), L"replace-target");
  const std::wstring log = Join(CasesDir(), L"replace.log");
  Extractor x(L"replace.exe", TargetSwitch(target) + L" \"/L=" + log + L"\"");
  HWND main = x.WaitForDialog(true);
  ASSERT_TRUE(main);
  for (int round = 0; round < 2; ++round) {
    Click(main, IDOK);
    HWND box = x.WaitForDialog(false);
    ASSERT_TRUE(box);
    const std::wstring text = BoxText(box);
    EXPECT_NE(text.find(L"schon 8 der Dateien"), std::wstring::npos) << text.c_str();
    for (const wchar_t* name : {L"a.txt", L"b.txt", L"c.txt", L"d.txt", L"e.txt"})
      EXPECT_NE(text.find(name), std::wstring::npos) << text.c_str();
    EXPECT_EQ(text.find(L"f.txt"), std::wstring::npos) << text.c_str();
    EXPECT_NE(text.find(L"und 3 weitere"), std::wstring::npos) << text.c_str();
    EXPECT_EQ(Text(GetDlgItem(box, IDOK)), L"&Ersetzen");
    EXPECT_EQ(Text(GetDlgItem(box, IDCANCEL)), L"Abbrechen");
    if (round == 0) {
      EXPECT_TRUE(KeepScreenshot(box, L"replace-files"));
      ExpectLaidOut(box, "replace question");
    }
    if (round == 0) {
      Click(box, IDCANCEL);
      ASSERT_TRUE(BackAtTheDialog(main, box));
      EXPECT_EQ(ReadAll(Join(target, L"a.txt")), "alt");
      EXPECT_EQ(ReadAll(Join(target, L"sub\\h.txt")), "alt");
    } else {
      Click(box, IDOK);
    }
  }
  EXPECT_EQ(x.Wait(), 0);
  EXPECT_EQ(ReadAll(Join(target, L"a.txt")), "neu");
  EXPECT_EQ(ReadAll(Join(target, L"sub\\h.txt")), "neu");
  EXPECT_EQ(ReadAll(Join(target, L"new.txt")), "neu");
  const std::string written = ReadAll(log);
  EXPECT_NE(written.find("ersetzt: a.txt"), std::string::npos) << written;
  EXPECT_NE(written.find("geschrieben: new.txt"), std::string::npos) << written;
  EXPECT_NE(written.find("Ergebnis: Erfolg"), std::string::npos) << written;
}

TEST(StubChoices, OneExistingFileIsNamedAlone) {
  const std::wstring target = Join(CasesDir(), L"one-target");
  Extractor x(L"replace.exe", TargetSwitch(target));
  HWND main = x.WaitForDialog(true);
  ASSERT_TRUE(main);
  Click(main, IDOK);
  HWND box = x.WaitForDialog(false);
  ASSERT_TRUE(box);
  const std::wstring text = BoxText(box);
  EXPECT_NE(text.find(L"diese Datei schon"), std::wstring::npos) << text.c_str();
  EXPECT_NE(text.find(L"sub\\h.txt"), std::wstring::npos) << text.c_str();
  EXPECT_NE(text.find(L"Soll sie ersetzt werden?"), std::wstring::npos) << text.c_str();
  Click(box, IDOK);
  EXPECT_EQ(x.Wait(), 0);
  EXPECT_EQ(ReadAll(Join(target, L"sub\\h.txt")), "neu");
}

TEST(StubChoices, KeepingExistingFilesAsksNothing) {
  const std::wstring target = Join(CasesDir(), L"skip-target");
  Extractor x(L"replace.exe", L"/O=skip " + TargetSwitch(target));
  HWND main = x.WaitForDialog(true);
  ASSERT_TRUE(main);
  Click(main, IDOK);
  EXPECT_EQ(x.Wait(), 0) << "a question was asked";
  EXPECT_EQ(ReadAll(Join(target, L"a.txt")), "alt");
  EXPECT_EQ(ReadAll(Join(target, L"b.txt")), "neu");
}

// A document the shell has no program for: only the extractor's own message is shown.
TEST(StubChoices, ACommandTheShellCannotOpenGetsOnlyTheExtractorsMessage) {
  const std::wstring target = Join(CasesDir(), L"nodoc-target");
  Extractor x(L"nodoc.exe", TargetSwitch(target));
  HWND main = x.WaitForDialog(true);
  ASSERT_TRUE(main);
  Click(main, IDOK);
  HWND box = x.WaitForDialog(false);
  ASSERT_TRUE(box);
  EXPECT_EQ(BoxText(box), L"Das Kommando notiz.tbxkeinprogramm konnte nicht gestartet werden.");
  EXPECT_TRUE(KeepScreenshot(box, L"command-failed"));
  ExpectLaidOut(box, "command failed");
  // The main window is gone by now; the box is the process's one window.
  ASSERT_TRUE(WaitUntil([&] { return !IsWindow(main); }));
  const std::vector<HWND> shown = VisibleWindowsOf(x.pid());
  EXPECT_EQ(shown.size(), 1u);
  for (HWND w : shown) EXPECT_EQ(w, box) << Text(w).c_str();
  Click(box, IDOK);
  EXPECT_EQ(x.Wait(), 4);
  EXPECT_TRUE(Exists(Join(target, L"notiz.tbxkeinprogramm")));
}

TEST(StubChoices, AnArchiveCutShortAsksForANewDownload) {
  Extractor x(L"cut.exe");
  HWND box = x.WaitForDialog(false);
  ASSERT_TRUE(box);
  const std::wstring text = BoxText(box);
  EXPECT_NE(text.find(L"cut.exe ist unvollst\u00e4ndig"), std::wstring::npos) << text.c_str();
  EXPECT_NE(text.find(L"erneut herunter"), std::wstring::npos) << text.c_str();
  EXPECT_TRUE(KeepScreenshot(box, L"cut-off"));
  ExpectLaidOut(box, "cut-off archive");
  Click(box, IDOK);
  EXPECT_EQ(x.Wait(), 2);
}

TEST(StubChoices, ALogThatCannotBeWrittenIsMentionedAndTheRunGoesOn) {
  const std::wstring target = Join(CasesDir(), L"nolog-target");
  Extractor x(L"target.exe", L"/L=Z:\\sys\\tbx.log " + TargetSwitch(target));
  HWND box = x.WaitForDialog(false);
  ASSERT_TRUE(box);
  const std::wstring text = BoxText(box);
  EXPECT_NE(text.find(L"Das Protokoll Z:\\sys\\tbx.log kann nicht geschrieben werden"),
            std::wstring::npos)
      << text.c_str();
  EXPECT_TRUE(KeepScreenshot(box, L"log-warning"));
  ExpectLaidOut(box, "log warning");
  Click(box, IDOK);
  HWND main = x.WaitForDialog(true);
  ASSERT_TRUE(main);
  Click(main, IDOK);
  EXPECT_EQ(x.Wait(), 0);
  EXPECT_EQ(ReadAll(Join(target, L"a.txt")), "a");
}

}  // namespace
