// The extractor's decisions that need no window: command line, names below the target, target
// paths and the reading of a command. Run under Wine, so the Windows conversions are the real ones.
#include <gtest/gtest.h>
#include <windows.h>

#include "archive/stored_name.h"
#include "platform/name_case.h"
#include "stub/stub_logic.h"
#include "tests/unit/test_util.h"

namespace {

ArchiveEntry Entry(const std::string& name) {
  ArchiveEntry e;
  e.name = name;
  return e;
}

TEST(StubOptions, SwitchesAreCaseInsensitiveAndTheTargetKeepsBlanksInQuotes) {
  StubOptions o = ParseOptions(L"\"C:\\x y\\setup.exe\" /s -n /T \"/D=C:\\Mein Ziel\"");
  EXPECT_TRUE(o.silent);
  EXPECT_TRUE(o.noCommands);
  EXPECT_TRUE(o.test);
  EXPECT_FALSE(o.help);
  EXPECT_TRUE(o.hasTarget);
  EXPECT_EQ(o.target, L"C:\\Mein Ziel");

  o = ParseOptions(L"setup.exe /D=\"C:\\a b\\\" /N");
  EXPECT_EQ(o.target, L"C:\\a b\\");  // a trailing backslash stays a backslash
  EXPECT_TRUE(o.noCommands);
}

TEST(StubOptions, EmptyTargetAndUnknownArgumentsAreIgnored) {
  StubOptions o = ParseOptions(L"setup.exe /D= /X foo /?");
  EXPECT_FALSE(o.hasTarget);
  EXPECT_FALSE(o.silent);
  EXPECT_TRUE(o.help);
  EXPECT_TRUE(SplitArguments(L"setup.exe").empty());
  EXPECT_EQ(SplitArguments(L"\"a b.exe\"   eins  \"zwei drei\"").size(), 2u);
}

TEST(StubOptions, WhatFollowsTheSeparatorIsHandedOnAndNeverReadAsASwitch) {
  StubOptions o = ParseOptions(L"setup.exe /w -- /S /N /T /D=C:\\x \"/L=y.log\" /? /O=bogus /W");
  EXPECT_TRUE(o.wait);
  EXPECT_FALSE(o.silent || o.noCommands || o.test || o.help || o.hasTarget);
  EXPECT_TRUE(o.logPath.empty());
  EXPECT_TRUE(o.badSwitch.empty());
  EXPECT_EQ(o.passOn, L"/S /N /T /D=C:\\x \"/L=y.log\" /? /O=bogus /W");
  EXPECT_FALSE(ParseOptions(L"setup.exe /S -- /W").wait);
}

TEST(StubOptions, ExistingFilesAreKeptOnlyOnRequestAndAnUnknownChoiceIsRefused) {
  EXPECT_FALSE(ParseOptions(L"setup.exe /S").keepExisting);
  EXPECT_TRUE(ParseOptions(L"setup.exe /O=skip").keepExisting);
  EXPECT_TRUE(ParseOptions(L"setup.exe -o=SKIP").keepExisting);
  EXPECT_FALSE(ParseOptions(L"setup.exe /O=skip /O=replace").keepExisting);  // the last one wins
  StubOptions o = ParseOptions(L"setup.exe /O=sometimes /O=skip");
  EXPECT_EQ(o.badSwitch, L"/O=sometimes");
  EXPECT_EQ(ParseOptions(L"setup.exe /O=").badSwitch, L"/O=");
  EXPECT_TRUE(ParseOptions(L"setup.exe /O=skip").badSwitch.empty());
}

TEST(StubOptions, ThreadsFromOneToEightAnythingElseIsRefused) {
  struct Case {
    const wchar_t* line;
    unsigned threads;
    bool bad;
  };
  for (const Case& c : {Case{L"setup.exe /S", 0, false}, Case{L"setup.exe /J=1", 1, false},
                        Case{L"setup.exe -j=8", 8, false}, Case{L"setup.exe /J=0", 0, true},
                        Case{L"setup.exe /J=9", 0, true}, Case{L"setup.exe /J=12", 0, true},
                        Case{L"setup.exe /J=", 0, true}, Case{L"setup.exe /J=zwei", 0, true}}) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.line)));
    const StubOptions o = ParseOptions(c.line);
    EXPECT_EQ(o.threads, c.threads);
    EXPECT_EQ(o.badSwitch.empty(), !c.bad);
  }
}

TEST(StubOptions, TheLogPathKeepsBlanksInQuotes) {
  EXPECT_EQ(ParseOptions(L"setup.exe \"/L=C:\\Mein Protokoll.txt\" /S").logPath,
            L"C:\\Mein Protokoll.txt");
  EXPECT_EQ(ParseOptions(L"setup.exe /l=log.txt").logPath, L"log.txt");
  EXPECT_TRUE(ParseOptions(L"setup.exe /S").logPath.empty());
}

TEST(StubTexts, TheReplaceQuestionCountsAndListsTheFirstNames) {
  const std::wstring one = ReplaceQuestion({L"a.txt"}, 1);
  EXPECT_NE(one.find(L"diese Datei schon"), std::wstring::npos);
  EXPECT_NE(one.find(L"a.txt"), std::wstring::npos);
  EXPECT_NE(one.find(L"Soll sie ersetzt werden?"), std::wstring::npos);
  const std::wstring many = ReplaceQuestion({L"a.txt", L"sub\\b.txt"}, 1234);
  EXPECT_NE(many.find(L"schon 1234 der Dateien"), std::wstring::npos);
  EXPECT_NE(many.find(L"sub\\b.txt"), std::wstring::npos);
  EXPECT_NE(many.find(L"... und 1232 weitere"), std::wstring::npos);
  EXPECT_NE(many.find(L"Sollen sie ersetzt werden?"), std::wstring::npos);
  // All names shown: no "weitere" line.
  EXPECT_EQ(ReplaceQuestion({L"a", L"b"}, 2).find(L"weitere"), std::wstring::npos);
}

TEST(StubTexts, WindowsErrorsAreNamedInWordsWithTheirNumber) {
  EXPECT_EQ(ErrorWords(ERROR_ACCESS_DENIED), L"Grund: Zugriff verweigert (Windows-Fehler 5).");
  EXPECT_EQ(ErrorWords(ERROR_DISK_FULL), L"Grund: Datentr\u00e4ger voll (Windows-Fehler 112).");
  EXPECT_EQ(ErrorWords(ERROR_SHARING_VIOLATION),
            L"Grund: die Datei wird von einem anderen Programm benutzt (Windows-Fehler 32).");
  EXPECT_EQ(ErrorWords(4321), L"Grund: Windows-Fehler 4321.");
  EXPECT_EQ(Decimal(0), L"0");
  EXPECT_EQ(Decimal(18446744073709551615ull), L"18446744073709551615");
}

// The extractor judges names by the shared rules on code page 1252 bytes. These two tests hold
// those rules against Windows' own view of every byte, as the extractor sees it after Widen.
TEST(StubNames, EveryByteIsCreatableExactlyWhenWindowsCanHoldIt) {
  for (int b = 1; b < 256; ++b) {
    const std::string element = std::string("a") + static_cast<char>(b) + "b";
    const wchar_t w = Widen(std::string(1, static_cast<char>(b)))[0];
    const bool windowsRefuses = w < 0x20 || (w >= 0x7F && w <= 0x9F) || wcschr(L"<>:\"/\\|?*", w);
    EXPECT_EQ(IsCreatableElement(element), !windowsRefuses) << "byte " << b;
  }
}

TEST(StubNames, TheSharedCaseFoldAgreesWithWindowsOnAllBytes) {
  std::wstring wide[256];
  for (int b = 0; b < 256; ++b) wide[b] = Widen(std::string(1, static_cast<char>(b)));
  int pairs = 0;
  for (int a = 1; a < 256; ++a) {
    for (int b = 1; b < 256; ++b) {
      const bool windowsSame =
          CompareStringOrdinal(wide[a].c_str(), -1, wide[b].c_str(), -1, TRUE) == CSTR_EQUAL;
      const bool sharedSame = platform::FoldCase1252(a) == platform::FoldCase1252(b);
      EXPECT_EQ(sharedSame, windowsSame) << "bytes " << a << " and " << b;
      if (a < b && sharedSame) ++pairs;
    }
  }
  EXPECT_EQ(pairs, 60);
}

TEST(StubNames, PlanKeepsFoldersOrFlattensToTheLastElement) {
  std::vector<ArchiveEntry> entries = {Entry("\\a\\b.txt"), Entry("\\c.txt"),
                                       Entry("\\a\\d\\\xDC.txt")};
  ASSERT_TRUE(PlanEntries(entries, true).ok());
  ASSERT_TRUE(PlanEntries(entries, false).ok());
  EXPECT_EQ(RelativePath(entries[2].name, true), L"a\\d\\\u00dc.txt");
  EXPECT_EQ(RelativePath(entries[2].name, false), L"\u00dc.txt");
  EXPECT_EQ(RelativePath("\\..\\x", true), L"");
}

TEST(StubNames, CollisionsAsWindowsSeesThemRefuseTheArchive) {
  struct Case {
    std::vector<ArchiveEntry> entries;
    bool keepFolders;
  };
  const Case cases[] = {
      {{Entry("\\a.txt"), Entry("\\a.txt")}, true},
      {{Entry("\\Daten\\a.txt"), Entry("\\DATEN\\A.TXT")}, true},
      {{Entry("\\\xE4.txt"), Entry("\\\xC4.txt")}, true},  // a-umlaut in both cases
      {{Entry("\\\x8C.txt"), Entry("\\\x9C.txt")}, true},  // OE ligature in both cases
      {{Entry("\\\x9F"), Entry("\\\xFF")}, true},          // Y diaeresis in both cases
      {{Entry("\\d"), Entry("\\d\\x.txt")}, true},
      {{Entry("\\x\\d\\y"), Entry("\\X\\D")}, true},
      {{Entry("\\x\\r.txt"), Entry("\\y\\r.txt")}, false},
  };
  for (const Case& c : cases) {
    Outcome o = PlanEntries(c.entries, c.keepFolders);
    EXPECT_EQ(o.exitCode, kExitUnpackFailed) << c.entries[0].name;
    EXPECT_EQ(o.msg, Msg::DuplicateName);
  }
  // Folders may be shared, and the same leaf in two folders is fine when folders are kept.
  std::vector<ArchiveEntry> shared = {Entry("\\x\\r.txt"), Entry("\\X\\s.txt"),
                                      Entry("\\y\\r.txt")};
  EXPECT_TRUE(PlanEntries(shared, true).ok());
}

TEST(StubNames, AnUnsafeNameRefusesTheArchiveAndIsNamed) {
  for (const char* bad :
       {"\\..\\x", "x.txt", "\\\\srv\\share\\x", "\\a:b", "\\CON", "\\a\\", "\\x\x81y", "\\a/b"}) {
    std::vector<ArchiveEntry> entries = {Entry("\\ok.txt"), Entry(bad)};
    Outcome o = PlanEntries(entries, true);
    EXPECT_EQ(o.exitCode, kExitUnpackFailed) << bad;
    EXPECT_EQ(o.msg, Msg::UnsafeName) << bad;
    EXPECT_NE(MessageText(o).find(Widen(bad)), std::wstring::npos) << bad;
  }
}

TEST(StubPaths, ExtendedFormsForDrivesAndSharesButNeverDevices) {
  EXPECT_EQ(ExtendedPath(L"C:\\Ziel"), L"\\\\?\\C:\\Ziel");
  EXPECT_EQ(ExtendedPath(L"\\\\srv\\share\\Ziel"), L"\\\\?\\UNC\\srv\\share\\Ziel");
  EXPECT_EQ(ExtendedPath(L"\\\\?\\C:\\x"), L"\\\\?\\C:\\x");
  EXPECT_EQ(ExtendedPath(L"\\\\.\\PhysicalDrive0"), L"");
  EXPECT_EQ(ExtendedPath(L"relative"), L"");
  EXPECT_EQ(DisplayPath(L"\\\\?\\UNC\\srv\\share\\Ziel"), L"\\\\srv\\share\\Ziel");
  EXPECT_EQ(DisplayPath(L"\\\\?\\C:\\x"), L"C:\\x");
  EXPECT_EQ(FullPath(L"C:\\a\\b\\..\\c\\"), L"C:\\a\\c");
  EXPECT_EQ(FullPath(L"C:\\"), L"C:\\");
}

TEST(StubPaths, VariablesAreExpandedAndBlanksTrimmed) {
  SetEnvironmentVariableW(L"TBX_UNIT_VAR", L"C:\\Wert");
  EXPECT_EQ(ExpandVariables(L"  %TBX_UNIT_VAR%\\Ziel  "), L"C:\\Wert\\Ziel");
  EXPECT_EQ(ExpandVariables(L"%TBX_UNSET_VAR%"), L"%TBX_UNSET_VAR%");
  EXPECT_EQ(ExpandVariables(L"   "), L"");
}

TEST(StubCommands, ReadingsOfQuotedAndUnquotedCommands) {
  auto r = CommandReadings(L"  \"Mein Setup.exe\"  /q  ");
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].program, L"Mein Setup.exe");
  EXPECT_EQ(r[0].args, L"/q");

  r = CommandReadings(L"Mein Setup.exe /q \"x y\"");
  ASSERT_EQ(r.size(), 5u);  // every blank, even one inside quotes, then the whole line
  EXPECT_EQ(r[0].program, L"Mein");
  EXPECT_EQ(r[0].args, L"Setup.exe /q \"x y\"");
  EXPECT_EQ(r[1].program, L"Mein Setup.exe");
  EXPECT_EQ(r[1].args, L"/q \"x y\"");
  EXPECT_EQ(r.back().program, L"Mein Setup.exe /q \"x y\"");

  r = CommandReadings(L"\"unclosed name");
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].program, L"unclosed name");
  EXPECT_TRUE(CommandReadings(L"   ").empty());
}

TEST(StubCommands, ProgramsAreQuotedAndOnlyExeAndComStartDirectly) {
  EXPECT_EQ(BuildCommandLine(L"C:\\a b\\x.exe", L""), L"\"C:\\a b\\x.exe\"");
  EXPECT_EQ(BuildCommandLine(L"C:\\x.exe", L"/q \"y z\""), L"\"C:\\x.exe\" /q \"y z\"");
  EXPECT_TRUE(IsDirectProgram(L"C:\\A.EXE"));
  EXPECT_TRUE(IsDirectProgram(L"x.com"));
  EXPECT_FALSE(IsDirectProgram(L"x.bat"));
  EXPECT_FALSE(IsDirectProgram(L"liesmich.txt"));
  EXPECT_FALSE(IsDirectProgram(L"exe"));
  EXPECT_TRUE(IsBatchFile(L"C:\\a b\\RUN.BAT"));
  EXPECT_TRUE(IsBatchFile(L"x.cmd"));
  EXPECT_FALSE(IsBatchFile(L"x.bat.exe"));
  EXPECT_FALSE(IsBatchFile(L"bat"));
}

TEST(StubCommands, OnlyASchemeOfTwoOrMoreCharactersMakesAUrl) {
  for (const wchar_t* url : {L"http://example.com/a", L"HTTPS://x.y", L"mailto:a@b.de",
                             L"ftp://h/f", L"ms-settings:display", L"svn+ssh://h/r", L"x1:y"})
    EXPECT_TRUE(IsUrl(url)) << url;
  for (const wchar_t* notUrl :
       {L"C:\\x\\evilcmd.exe", L"c:evilcmd", L"evilcmd", L"1http://x", L"http:", L":x",
        L"\\\\srv\\share\\x.exe", L"a b:c", L"-x:y", L"\u00e4x:y", L"", L"sub\\x:y"})
    EXPECT_FALSE(IsUrl(notUrl)) << notUrl;
}

TEST(StubCommands, AbsolutePathsHaveADriveRootOrAreUnc) {
  EXPECT_TRUE(IsAbsolutePath(L"C:\\x.exe"));
  EXPECT_TRUE(IsAbsolutePath(L"z:\\"));
  EXPECT_TRUE(IsAbsolutePath(L"\\\\srv\\share\\x.exe"));
  EXPECT_FALSE(IsAbsolutePath(L"C:x.exe"));
  EXPECT_FALSE(IsAbsolutePath(L"\\x.exe"));
  EXPECT_FALSE(IsAbsolutePath(L"\\\\\\x"));
  EXPECT_FALSE(IsAbsolutePath(L"1:\\x"));
  EXPECT_FALSE(IsAbsolutePath(L"x.exe"));
}

TEST(StubCommands, PathFoldersLeaveOutEmptyRelativeOwnAndCurrentEntries) {
  const std::wstring path =
      L"C:\\Tools;;  ;.;bin;..\\up;\"C:\\Mit Blank\";c:\\STUB\\;C:\\Arbeit\\.\\;"
      L"C:\\Arbeit\\sub\\..;D:rel;\\rooted;\\\\srv\\share\\bin;C:\\\u00c4rger;"
      L"C:\\Tools\\..\\Stub";
  const std::vector<std::wstring> folders =
      SearchFolders(path, ExcludedFolders({L"C:\\Stub", L"C:\\arbeit\\", L"C:\\\u00e4rger"}));
  const std::vector<std::wstring> expected = {L"C:\\Tools", L"C:\\Mit Blank",
                                              L"\\\\srv\\share\\bin"};
  EXPECT_EQ(folders, expected);
  EXPECT_TRUE(SearchFolders(L"", ExcludedFolders({L"C:\\Stub"})).empty());
  // Another spelling of an excluded folder is still that folder.
  EXPECT_TRUE(SearchFolders(L"\\\\?\\C:\\Stub;\\\\?\\c:\\arbeit\\x\\..",
                            ExcludedFolders({L"C:\\Stub", L"C:\\Arbeit"}))
                  .empty());
  EXPECT_EQ(SearchFolders(L"\\\\?\\C:\\Werkzeug;\\\\.\\C:\\Dev", ExcludedFolders({L"C:\\Stub"})),
            std::vector<std::wstring>{L"C:\\Werkzeug"});
  EXPECT_EQ(SearchFolders(L"C:\\Stub", ExcludedFolders({})),
            std::vector<std::wstring>{L"C:\\Stub"});
}

TEST(StubCommands, ANameIsAFileInTheTargetOnlyWhileItStaysBelowIt) {
  struct Case {
    const wchar_t* target;
    const wchar_t* program;
    const wchar_t* expected;  // "" when the name is no file in the target
  };
  const Case cases[] = {
      {L"C:\\Ziel", L"setup.exe", L"C:\\Ziel\\setup.exe"},
      {L"C:\\Ziel", L"\\setup.exe", L"C:\\Ziel\\setup.exe"},
      {L"C:\\Ziel", L".\\sub\\setup.exe", L"C:\\Ziel\\sub\\setup.exe"},
      {L"C:\\Ziel", L"sub\\..\\setup.exe", L"C:\\Ziel\\setup.exe"},
      {L"C:\\Ziel", L"sub/../setup", L"C:\\Ziel\\setup"},
      {L"C:\\Ziel\\", L"..\\Ziel\\setup.exe", L"C:\\Ziel\\setup.exe"},  // back inside
      {L"C:\\Ziel", L"..\\x.exe", L""},
      {L"C:\\Ziel", L"\\..\\x.exe", L""},
      {L"C:\\Ziel", L"../x.exe", L""},
      {L"C:\\Ziel", L"sub\\..\\..\\x.exe", L""},
      {L"C:\\Daten\\Ziel", L"..\\..\\Downloads\\evilcmd.exe", L""},
      {L"C:\\Ziel", L"..\\Ziel2\\x.exe", L""},  // a sibling that starts with the same letters
      {L"C:\\Ziel", L"sub\\..", L""},           // the target itself is no file in it
      {L"C:\\Ziel", L".", L""},
      {L"C:\\Ziel", L"\\", L""},
      {L"C:\\Ziel", L"", L""},
      {L"C:\\Ziel", L"C:\\Ziel\\setup.exe", L""},  // absolute: a rule of its own
      {L"C:\\Ziel", L"\\\\srv\\share\\x.exe", L""},
      {L"\\\\srv\\share\\Ziel", L"..\\x.exe", L""},
      {L"\\\\srv\\share\\Ziel", L"a\\x.exe", L"\\\\srv\\share\\Ziel\\a\\x.exe"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(TargetProgramPath(c.target, c.program), c.expected)
        << "target " << c.target << ", program " << c.program;

  // A variable that holds ".." is judged after it is expanded, as the extractor does.
  SetEnvironmentVariableW(L"TBX_UNIT_UP", L"..");
  EXPECT_EQ(TargetProgramPath(L"C:\\Ziel", ExpandVariables(L"%TBX_UNIT_UP%\\x.exe")), L"");
}

std::wstring Wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

TEST(StubCommands, AnExcludedFolderIsKnownByItsIdentityUnderAnySpelling) {
  testutil::TempDir tmp;
  const std::wstring own = Wide(tmp.path()) + L"\\Ordner des Archivs";
  const std::wstring other = Wide(tmp.path()) + L"\\Werkzeuge";
  ASSERT_TRUE(CreateDirectoryW(own.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW(other.c_str(), nullptr));
  std::wstring shortName(MAX_PATH, L'\0');
  shortName.resize(GetShortPathNameW(own.c_str(), &shortName[0], MAX_PATH));
  ASSERT_FALSE(shortName.empty());
  // An 8.3 name is another spelling of the folder only when the file system makes one.
  ASSERT_FALSE(FullPath(shortName) == FullPath(own)) << "no short name for " << own;

  const FolderIdentity id = IdentityOf(own);
  EXPECT_TRUE(id.known);
  EXPECT_TRUE(SameIdentity(id, IdentityOf(shortName)));
  EXPECT_TRUE(SameIdentity(id, IdentityOf(own + L"\\.\\")));
  EXPECT_FALSE(SameIdentity(id, IdentityOf(other)));
  EXPECT_FALSE(IdentityOf(own + L"\\fehlt").known);
  EXPECT_FALSE(SameIdentity(FolderIdentity(), FolderIdentity()));

  const ExcludedFolders excluded({own, L"C:\\gibt\\es\\nicht"});
  EXPECT_TRUE(excluded.Holds(FullPath(shortName)));
  EXPECT_EQ(SearchFolders(shortName + L";" + other + L";\"" + shortName + L"\"", excluded),
            std::vector<std::wstring>{other});
  // Taken when the set was made: the folder is still left out after it went away.
  ASSERT_TRUE(RemoveDirectoryW(own.c_str()));
  EXPECT_TRUE(excluded.Holds(own));
}

TEST(StubCommands, AppPathsKeysForBareProgramNamesAndTheirRegisteredPaths) {
  const std::wstring base = L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\";
  EXPECT_EQ(AppPathsKey(L"evilcmd"), base + L"evilcmd.exe");
  EXPECT_EQ(AppPathsKey(L"Tool.EXE"), base + L"Tool.EXE");
  for (const wchar_t* none :
       {L"", L"x.bat", L"liesmich.txt", L"sub\\x.exe", L"C:x.exe", L"a/b.exe", L".exe", L"\"x.exe"})
    EXPECT_EQ(AppPathsKey(none), L"") << none;

  SetEnvironmentVariableW(L"TBX_UNIT_APP", L"C:\\Programme\\Werkzeug");
  EXPECT_EQ(AppPathsProgram(L"\"%TBX_UNIT_APP%\\w.exe\""), L"C:\\Programme\\Werkzeug\\w.exe");
  EXPECT_EQ(AppPathsProgram(L"  C:\\a\\..\\b\\x.exe  "), L"C:\\b\\x.exe");
  EXPECT_EQ(AppPathsProgram(L"\"C:\\Mit Blank\\x.exe\" /arg"), L"C:\\Mit Blank\\x.exe");
  EXPECT_EQ(AppPathsProgram(L"x.exe"), L"");
  EXPECT_EQ(AppPathsProgram(L"%TBX_UNSET_APP%\\x.exe"), L"");
  EXPECT_EQ(AppPathsProgram(L""), L"");
}

}  // namespace
