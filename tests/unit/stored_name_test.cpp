// The name rules: how a stored name is made, what it may be before anything is created from it,
// and where the entries of one archive land below a target.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archive/stored_name.h"
#include "platform/name_case.h"

namespace {

TEST(SafeName, OrdinaryNamesAreAcceptedAndSplit) {
  std::vector<std::string> parts;
  ASSERT_TRUE(IsSafeStoredName("\\a.txt", &parts));
  EXPECT_EQ(parts, std::vector<std::string>{"a.txt"});
  ASSERT_TRUE(
      IsSafeStoredName("\\sub\\dir\\\xDC"
                       "bersicht.txt",
                       &parts));
  EXPECT_EQ(parts, (std::vector<std::string>{"sub", "dir",
                                             "\xDC"
                                             "bersicht.txt"}));
  for (const char* name :
       {"\\M\xE4rz.doc", "\\.profile", "\\a b\\c d.txt", "\\x..y", "\\Projekt\\a", "\\CONFIG.SYS",
        "\\console", "\\COM10", "\\LPT", "\\nul2.txt", "\\ leading blank",
        "\\stra\xDF"
        "e"}) {
    EXPECT_TRUE(IsSafeStoredName(name)) << name;
  }
}

TEST(SafeName, ParentAndCurrentDirectoryElementsAreRefused) {
  for (const char* name : {"\\..", "\\..\\evil", "\\a\\..\\..\\evil", "\\a\\..", "\\.", "\\a\\.\\b",
                           "\\...", "\\a\\.. "}) {
    EXPECT_FALSE(IsSafeStoredName(name)) << name;
  }
}

TEST(SafeName, AbsoluteDriveAndUncPathsAreRefused) {
  for (const char* name :
       {"C:\\evil", "\\C:\\evil", "\\\\server\\share\\evil", "\\\\?\\C:\\x", "evil.txt",
        "sub\\evil.txt", "/etc/passwd", "\\/etc/passwd", "\\a/../../evil", "\\a/b"}) {
    EXPECT_FALSE(IsSafeStoredName(name)) << name;
  }
}

TEST(SafeName, StreamsAndWildcardsAreRefused) {
  for (const char* name : {"\\a.txt:stream", "\\a.txt::$DATA", "\\a<b", "\\a>b", "\\a|b", "\\a\"b",
                           "\\a?b", "\\a*b"}) {
    EXPECT_FALSE(IsSafeStoredName(name)) << name;
  }
}

TEST(SafeName, DeviceNamesAreRefusedWithAnyExtensionAndCase) {
  for (const char* name : {"\\CON", "\\con", "\\PRN.txt", "\\aux.c", "\\NUL", "\\sub\\nul.tar.gz",
                           "\\COM1", "\\com9.log", "\\LPT1", "\\lpt5.txt", "\\CON .txt",
                           "\\COM\xB9", "\\LPT\xB2.txt", "\\CONIN$", "\\conout$", "\\COM0"}) {
    EXPECT_FALSE(IsSafeStoredName(name)) << name;
  }
}

TEST(SafeName, ShortenedEmptyAndControlElementsAreRefused) {
  for (const std::string& name :
       {std::string(""), std::string("\\"), std::string("\\a\\\\b"), std::string("\\a\\"),
        std::string("\\trailing."), std::string("\\trailing "), std::string("\\dir.\\a"),
        std::string("\\a\tb"), std::string("\\a\nb"), std::string("\\a\x7F"),
        std::string("\\a\0b", 4)}) {
    EXPECT_FALSE(IsSafeStoredName(name)) << name;
  }
}

TEST(SafeName, LengthLimitIs259Bytes) {
  const std::string longest = "\\" + std::string(128, 'a') + "\\" + std::string(129, 'b');
  ASSERT_EQ(longest.size(), 259u);
  EXPECT_TRUE(IsSafeStoredName(longest));
  EXPECT_FALSE(IsSafeStoredName(longest + "b"));
}

// Windows creates no element longer than 255 characters, wherever it stands in the name.
TEST(SafeName, ElementLimitIs255Bytes) {
  const std::string e255(255, 'e'), e256(256, 'e'), e258(258, 'e');
  const struct {
    std::string name;
    bool safe;
  } cases[] = {
      {"\\" + e255, true},
      {"\\" + e256, false},
      {"\\" + e258, false},
      {"\\" + e255.substr(0, 1) + "\\" + e255, true},
      {"\\" + e256 + "\\a", false},                      // a folder element
      {"\\" + std::string(251, '\xE4') + ".txt", true},  // one byte per character
      {"\\" + std::string(252, '\xE4') + ".txt", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsSafeStoredName(c.name), c.safe) << c.name.size();
  EXPECT_FALSE(PlanUnpack({"\\ok.txt", "\\" + e258}, true).empty());
}

TEST(SafeName, RefusedNameLeavesPartsUntouched) {
  std::vector<std::string> parts{"unchanged"};
  EXPECT_FALSE(IsSafeStoredName("\\ok\\..\\evil", &parts));
  EXPECT_EQ(parts, std::vector<std::string>{"unchanged"});
}

// --- StoredNameOf ---------------------------------------------------------------------------

TEST(StoredNameOf, DropsDriveAndFirstDirectoryLevel) {
  struct Case {
    const char* full;
    const char* source;
    const char* stored;
  };
  const Case cases[] = {
      {"C:\\Daten\\sub\\a.txt", "C:\\Daten", "\\sub\\a.txt"},
      {"C:\\Daten\\a.txt", "C:\\Daten\\", "\\a.txt"},
      {"C:\\Daten\\Projekt\\a.txt", "C:\\Daten\\Projekt", "\\Projekt\\a.txt"},
      {"C:\\Daten\\Projekt\\x\\y\\a.txt", "C:\\Daten\\Projekt", "\\Projekt\\x\\y\\a.txt"},
      // UNC: everything after the first backslash, server name included.
      {"\\\\server\\share\\dir\\a.txt", "\\\\server\\share\\dir", "\\server\\share\\dir\\a.txt"},
      // A drive root keeps the whole relative path, so \a.txt and \sub\b.txt stay apart.
      {"C:\\a.txt", "C:\\", "\\a.txt"},
      {"C:\\sub\\b.txt", "C:\\", "\\sub\\b.txt"},
      {"C:\\sub\\deeper\\b.txt", "C:\\", "\\sub\\deeper\\b.txt"},
      // A relative source without separators keeps its relative path too.
      {"Daten\\a.txt", "Daten", "\\a.txt"},
      {"Daten\\sub\\a.txt", "Daten", "\\sub\\a.txt"},
      {"a.txt", "", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(StoredNameOf(c.full, c.source, '\\'), c.stored) << c.full << " from " << c.source;
  }
}

TEST(StoredNameOf, PosixPathsGiveBackslashNames) {
  EXPECT_EQ(StoredNameOf("/home/u/data/sub/a.txt", "/home/u/data", '/'), "\\u\\data\\sub\\a.txt");
  EXPECT_EQ(StoredNameOf("/data/a.txt", "/data", '/'), "\\a.txt");
  EXPECT_EQ(StoredNameOf("/data/x/a.txt", "/data/", '/'), "\\x\\a.txt");
  // "/" as the source: the whole relative path below it.
  EXPECT_EQ(StoredNameOf("/a.txt", "/", '/'), "\\a.txt");
  EXPECT_EQ(StoredNameOf("/sub/b.txt", "/", '/'), "\\sub\\b.txt");
  EXPECT_EQ(StoredNameOf("./sub/b.txt", ".", '/'), "\\sub\\b.txt");
  // A backslash inside a POSIX name still counts as a separator, as the rule reads backslashes.
  EXPECT_EQ(StoredNameOf("/data/a\\b.txt", "/data", '/'), "\\a\\b.txt");
}

TEST(StoredNameOf, BackslashesInsidePosixNamesAreFound) {
  EXPECT_TRUE(HasBackslashInName("/data/a\\..\\..\\evil.txt", "/data", '/'));
  EXPECT_TRUE(HasBackslashInName("/data/sub\\x/b.txt", "/data", '/'));
  EXPECT_FALSE(HasBackslashInName("/data/sub/b.txt", "/data", '/'));
  // On Windows a backslash only ever separates.
  EXPECT_FALSE(HasBackslashInName("C:\\Daten\\sub\\a.txt", "C:\\Daten", '\\'));
}

// --- the case fold --------------------------------------------------------------------------

TEST(NameFold, PairsExactlyTheLettersWindowsPairs) {
  // Every pair of bytes that fold alike, counted: 26 ASCII letters, 30 accented letters of
  // 0xC0-0xDE (0xD7 and 0xDF have no partner) and the four of 0x8A-0x9F.
  int pairs = 0;
  for (int a = 0; a < 256; ++a) {
    for (int b = a + 1; b < 256; ++b) {
      if (platform::FoldCase1252(a) == platform::FoldCase1252(b)) ++pairs;
    }
  }
  EXPECT_EQ(pairs, 26 + 30 + 4);
  const std::pair<unsigned char, unsigned char> partners[] = {
      {'A', 'a'}, {0x8A, 0x9A}, {0x8C, 0x9C}, {0x8E, 0x9E}, {0x9F, 0xFF}, {0xC0, 0xE0},
      {0xD6, 0xF6}, {0xDE, 0xFE}};
  for (auto [upper, lower] : partners) {
    EXPECT_EQ(platform::FoldCase1252(upper), platform::FoldCase1252(lower)) << int(upper);
  }
  for (unsigned char alone : {0xD7, 0xF7, 0xDF, 0xB5, 0x80}) {
    EXPECT_EQ(platform::FoldCase1252(alone), alone) << int(alone);
  }
}

// --- the unpack plan ------------------------------------------------------------------------

std::vector<PlanProblem> Plan(const std::vector<std::string>& names, bool keepFolders = true) {
  return PlanUnpack(names, keepFolders);
}

TEST(UnpackPlan, DistinctNamesPassAndFoldersMayBeShared) {
  EXPECT_TRUE(Plan({"\\a\\b.txt", "\\A\\c.txt", "\\a\\d\\e.txt", "\\f.txt"}).empty());
  EXPECT_EQ(UnpackPath("\\a\\d\\e.txt", true), "a\\d\\e.txt");
  EXPECT_EQ(UnpackPath("\\a\\d\\e.txt", false), "e.txt");
  EXPECT_EQ(UnpackPath("\\a\\..\\e.txt", true), "");
}

TEST(UnpackPlan, NamesEqualUnderTheFoldAreOneFile) {
  struct Case {
    std::string first, second;
  };
  const Case cases[] = {{"\\a.txt", "\\A.txt"},           {"\\\x8C.txt", "\\\x9C.txt"},
                        {"\\\x8A", "\\\x9A"},               {"\\\x8E", "\\\x9E"},
                        {"\\\x9F", "\\\xFF"},               {"\\\xC4rger", "\\\xE4rger"},
                        {"\\Daten\\a.txt", "\\DATEN\\A.TXT"}, {"\\x.txt", "\\x.txt"}};
  for (const Case& c : cases) {
    const std::vector<PlanProblem> p = Plan({"\\ok", c.first, c.second});
    ASSERT_EQ(p.size(), 1u) << c.first;
    EXPECT_EQ(p[0].kind, NameConflict::SameFile);
    EXPECT_EQ(p[0].other, 1u);
    EXPECT_EQ(p[0].entry, 2u);
  }
  // Letters that only look alike stay apart.
  EXPECT_TRUE(Plan({"\\\xDF", "\\ss", "\\\xB5", "\\\xD7", "\\\xF7"}).empty());
}

TEST(UnpackPlan, FlatUnpackingCollidesOnTheLastElement) {
  const std::vector<std::string> names = {"\\x\\r.txt", "\\y\\R.TXT"};
  EXPECT_TRUE(Plan(names, true).empty());
  const std::vector<PlanProblem> p = Plan(names, false);
  ASSERT_EQ(p.size(), 1u);
  EXPECT_EQ(p[0].kind, NameConflict::SameFile);
}

TEST(UnpackPlan, AFileCannotStandWhereAFolderIsNeeded) {
  const std::vector<PlanProblem> p = Plan({"\\d\\x.txt", "\\D"});
  ASSERT_EQ(p.size(), 1u);
  EXPECT_EQ(p[0].kind, NameConflict::FileIsFolder);
  EXPECT_EQ(p[0].entry, 1u);
  EXPECT_EQ(p[0].other, 0u);
  // Flat, there are no folders to collide with.
  EXPECT_TRUE(Plan({"\\d\\x.txt", "\\D"}, false).empty());
}

TEST(UnpackPlan, UnsafeNamesAreReportedEachInEntryOrder) {
  const std::vector<PlanProblem> p = Plan({"\\ok", "\\..\\evil", "\\nul.txt", "\\x\x81y", "\\ok"});
  ASSERT_EQ(p.size(), 3u);
  for (size_t k = 0; k < 3; ++k) {
    EXPECT_EQ(p[k].kind, NameConflict::Unsafe);
    EXPECT_EQ(p[k].entry, k + 1);
  }
}

TEST(UnpackPlan, EveryExtraCopyIsNamedWithTheFirst) {
  const std::vector<std::string> names = {"\\a", "\\b", "\\A", "\\a"};
  const std::vector<PlanProblem> p = Plan(names);
  ASSERT_EQ(p.size(), 2u);
  const auto nameAt = [&](size_t i) -> const std::string& { return names[i]; };
  EXPECT_EQ(DescribeProblem(p[0], nameAt),
            "Zwei Eintr\xE4ge ergeben beim Entpacken dieselbe Datei: \\a und \\A");
  EXPECT_EQ(p[1].entry, 3u);
  EXPECT_EQ(p[1].other, 0u);
}

TEST(SafeName, UndefinedCodePageBytesAndClockAreRefused) {
  for (const char* name : {"\\a\x81", "\\a\x8D", "\\a\x8F", "\\a\x90", "\\a\x9D", "\\CLOCK$",
                           "\\a\\b", "\\a/b"}) {
    EXPECT_FALSE(IsCreatableElement(std::string(name).substr(1))) << name;
  }
  for (const char* name : {"\x80.txt", "\x8C", "\x9F", "\xFF", " lead", "a..b"}) {
    EXPECT_TRUE(IsCreatableElement(name)) << name;
  }
}

}  // namespace
