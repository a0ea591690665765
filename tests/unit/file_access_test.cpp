#include "support/file_access.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/unit/sfx_test_parser.h"
#include "tests/unit/test_util.h"

namespace {

using testutil::TempDir;

// --- FileExists -----------------------------------------------------------------------------

TEST(FileExists, FilesAndDirectoriesExistMissingAndNullDoNot) {
  TempDir dir;
  const std::string file = dir.Join("a.txt");
  ASSERT_TRUE(testutil::WriteFile(file, "x"));
  EXPECT_TRUE(FileExists(file));
  EXPECT_TRUE(FileExists(dir.path()));
  EXPECT_FALSE(FileExists(dir.Join("missing.txt")));
  EXPECT_FALSE(FileExists(static_cast<const char*>(nullptr)));
}

// --- ReadTextFile ---------------------------------------------------------------------------

TEST(ReadTextFile, ReadsAtMost32766BytesUpToTheFirstNul) {
  TempDir dir;
  const std::string big = dir.Join("big.txt");
  const std::string content = sfxtest::Content(40000, 1);
  std::string noNul = content;
  for (char& c : noNul) {
    if (c == '\0') c = 'z';
  }
  ASSERT_TRUE(testutil::WriteFile(big, noNul));
  std::string text = "old";
  ReadTextFile(big.c_str(), text);
  EXPECT_EQ(text, noNul.substr(0, 32766));

  const std::string nul = dir.Join("withnul.txt");
  ASSERT_TRUE(testutil::WriteFile(nul, std::string("0123456789\0abc", 14)));
  ReadTextFile(nul.c_str(), text);
  EXPECT_EQ(text, "0123456789");

  // Line breaks and code page 1252 bytes stay as they are.
  const std::string raw = dir.Join("raw.txt");
  ASSERT_TRUE(testutil::WriteFile(raw,
                                  "Zeile 1\r\nGr\xFC\xDF"
                                  "e\r\n"));
  ReadTextFile(raw.c_str(), text);
  EXPECT_EQ(text,
            "Zeile 1\r\nGr\xFC\xDF"
            "e\r\n");

  const std::string empty = dir.Join("empty.txt");
  ASSERT_TRUE(testutil::WriteFile(empty, ""));
  ReadTextFile(empty.c_str(), text);
  EXPECT_EQ(text, "");
}

TEST(ReadTextFile, MissingNameOrFileLeavesTheTextUnchanged) {
  TempDir dir;
  std::string text = "kept";
  ReadTextFile(nullptr, text);
  EXPECT_EQ(text, "kept");
  ReadTextFile("", text);
  EXPECT_EQ(text, "kept");
  ReadTextFile(dir.Join("missing.txt").c_str(), text);
  EXPECT_EQ(text, "kept");
}

}  // namespace
