// The extractor's decisions that need no window: command line, names below the target, target
// paths and the reading of a command. Run under Wine, so the Windows conversions are the real ones.
#include <gtest/gtest.h>
#include <windows.h>

#include "stub/stub_logic.h"

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

TEST(StubNames, DevicesReservedCharactersAndTrailingDotsCannotBeCreated) {
  for (const wchar_t* bad : {L"CON", L"con.txt", L"Nul .log", L"COM1", L"lpt9.x", L"COM\u00b9",
                             L"LPT\u00b3.txt", L"CONIN$", L"a.", L"a ", L".", L"..", L"a:b", L"a*b",
                             L"a/b", L"a\\b", L"a\u0001b", L"a\u0081b", L""}) {
    EXPECT_FALSE(IsCreatableElement(bad)) << static_cast<int>(bad[0]);
  }
  for (const wchar_t* good : {L"console.txt", L"COM10", L"\u00dcbersicht.txt", L" lead", L"a..b",
                              L"CONX", L"\u20ac.txt"}) {
    EXPECT_TRUE(IsCreatableElement(good));
  }
}

TEST(StubNames, PlanKeepsFoldersOrFlattensToTheLastElement) {
  std::vector<ArchiveEntry> entries = {Entry("\\a\\b.txt"), Entry("\\c.txt"),
                                       Entry("\\a\\d\\\xDC.txt")};
  std::vector<std::wstring> rel;
  ASSERT_TRUE(PlanEntries(entries, true, rel).ok());
  EXPECT_EQ(rel, (std::vector<std::wstring>{L"a\\b.txt", L"c.txt", L"a\\d\\\u00dc.txt"}));
  ASSERT_TRUE(PlanEntries(entries, false, rel).ok());
  EXPECT_EQ(rel, (std::vector<std::wstring>{L"b.txt", L"c.txt", L"\u00dc.txt"}));
}

TEST(StubNames, CollisionsAsWindowsSeesThemRefuseTheArchive) {
  std::vector<std::wstring> rel;
  struct Case {
    std::vector<ArchiveEntry> entries;
    bool keepFolders;
  };
  const Case cases[] = {
      {{Entry("\\a.txt"), Entry("\\a.txt")}, true},
      {{Entry("\\Daten\\a.txt"), Entry("\\DATEN\\A.TXT")}, true},
      {{Entry("\\\xE4.txt"), Entry("\\\xC4.txt")}, true},  // a-umlaut in both cases
      {{Entry("\\d"), Entry("\\d\\x.txt")}, true},
      {{Entry("\\x\\d\\y"), Entry("\\X\\D")}, true},
      {{Entry("\\x\\r.txt"), Entry("\\y\\r.txt")}, false},
  };
  for (const Case& c : cases) {
    Outcome o = PlanEntries(c.entries, c.keepFolders, rel);
    EXPECT_EQ(o.exitCode, kExitUnpackFailed) << c.entries[0].name;
    EXPECT_EQ(o.msg, Msg::DuplicateName);
  }
  // Folders may be shared, and the same leaf in two folders is fine when folders are kept.
  std::vector<ArchiveEntry> shared = {Entry("\\x\\r.txt"), Entry("\\X\\s.txt"),
                                      Entry("\\y\\r.txt")};
  EXPECT_TRUE(PlanEntries(shared, true, rel).ok());
}

TEST(StubNames, AnUnsafeNameRefusesTheArchiveAndIsNamed) {
  std::vector<std::wstring> rel;
  for (const char* bad :
       {"\\..\\x", "x.txt", "\\\\srv\\share\\x", "\\a:b", "\\CON", "\\a\\", "\\x\x81y", "\\a/b"}) {
    std::vector<ArchiveEntry> entries = {Entry("\\ok.txt"), Entry(bad)};
    Outcome o = PlanEntries(entries, true, rel);
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
}

}  // namespace
