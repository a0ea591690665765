// The name rules for unpacking: what a stored name may be before anything is created from it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archive/archive_reader.h"

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
  const std::string longest = "\\" + std::string(258, 'a');
  EXPECT_TRUE(IsSafeStoredName(longest));
  EXPECT_FALSE(IsSafeStoredName(longest + "a"));
}

TEST(SafeName, RefusedNameLeavesPartsUntouched) {
  std::vector<std::string> parts{"unchanged"};
  EXPECT_FALSE(IsSafeStoredName("\\ok\\..\\evil", &parts));
  EXPECT_EQ(parts, std::vector<std::string>{"unchanged"});
}

}  // namespace
