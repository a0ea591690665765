// The extractor's unpacker and log on the real file system (under Wine): folders are entered by
// handle, a roll-back removes exactly what the run made, nothing is written over a file that
// appears meanwhile, and the log is never the program's own file.
#include <gtest/gtest.h>
#include <windows.h>

#include "stub/stub_log.h"
#include "stub/unpacker.h"
#include "tests/unit/test_util.h"

namespace {

using testutil::ReadFile;
using testutil::TempDir;

std::wstring Extended(const std::string& path) {
  return L"\\\\?\\" + std::wstring(path.begin(), path.end());
}

bool Exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Writes one whole file through the unpacker.
Outcome Put(Unpacker& u, const std::wstring& relative, const std::string& bytes) {
  Outcome o = u.BeginFile(relative);
  if (!o.ok()) return o;
  if (!u.Write(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()))
    return u.WriteFailure();
  return u.FinishFile(platform::DosTime());
}

TEST(Unpacker, FilesGoIntoTheFolderEnteredEvenWhenItIsRenamed) {
  TempDir dir;
  const std::string target = dir.Join("ziel");
  Unpacker u(Extended(target));
  ASSERT_TRUE(u.PrepareTarget().ok());
  ASSERT_TRUE(Put(u, L"d\\eins.txt", "1").ok());
  ASSERT_TRUE(MoveFileA((target + "\\d").c_str(), (target + "\\weg").c_str()));
  ASSERT_TRUE(Put(u, L"d\\zwei.txt", "2").ok());
  EXPECT_EQ(ReadFile(target + "\\weg\\zwei.txt"), "2");
  EXPECT_FALSE(Exists(target + "\\d"));
  u.Commit();
}

// A roll-back removes what the run made and puts back what it replaced, nothing else.
TEST(Unpacker, RollBackLeavesTheTargetAsItWas) {
  struct Case {
    const char* what;
    bool targetExists;
  };
  for (const Case& c : {Case{"new target", false}, Case{"existing target", true}}) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const std::string target = dir.Join("ziel");
    if (c.targetExists) {
      ASSERT_TRUE(testutil::WriteFile(target + "\\a.txt", "alt"));
      ASSERT_TRUE(testutil::WriteFile(target + "\\fremd.txt", "fremd"));
    }
    Unpacker u(Extended(target));
    ASSERT_TRUE(u.PrepareTarget().ok());
    ASSERT_TRUE(Put(u, L"a.txt", "neu").ok());
    EXPECT_EQ(u.LastReplaced(), c.targetExists);
    ASSERT_TRUE(Put(u, L"sub\\tief\\b.txt", "neu").ok());
    ASSERT_TRUE(u.BeginFile(L"sub\\c.txt").ok());  // open when the run fails
    u.RemoveCreated();
    EXPECT_EQ(Exists(target), c.targetExists);
    if (c.targetExists) {
      EXPECT_EQ(ReadFile(target + "\\a.txt"), "alt");
      EXPECT_EQ(ReadFile(target + "\\fremd.txt"), "fremd");
      WIN32_FIND_DATAA found;
      HANDLE h = FindFirstFileA((target + "\\*").c_str(), &found);
      int entries = 0;
      do entries += found.cFileName[0] != '.';
      while (FindNextFileA(h, &found));
      FindClose(h);
      EXPECT_EQ(entries, 2);  // no backup, no temporary file, no folder of the run
    }
  }
}

TEST(Unpacker, AFileThatAppearsAtANewNameIsNeitherReplacedNorRemoved) {
  TempDir dir;
  const std::string target = dir.Join("ziel");
  Unpacker u(Extended(target));
  ASSERT_TRUE(u.PrepareTarget().ok());
  ASSERT_TRUE(Put(u, L"d\\a.txt", "neu").ok());
  ASSERT_TRUE(testutil::WriteFile(target + "\\d\\b.txt", "fremd"));
  const Outcome o = Put(u, L"d\\b.txt", "neu");
  EXPECT_EQ(o.msg, Msg::WriteFile);
  u.RemoveCreated();
  EXPECT_EQ(ReadFile(target + "\\d\\b.txt"), "fremd");
  EXPECT_FALSE(Exists(target + "\\d\\a.txt"));
}

// The log is appended to or made new, but never the program's own file, however it is spelt.
TEST(RunLog, NeverWritesIntoTheProgramItself) {
  TempDir dir;
  const std::string program = dir.Join("setup.exe");
  ASSERT_TRUE(testutil::WriteFile(program, "MZ"));
  ASSERT_TRUE(testutil::WriteFile(dir.Join("alt.log"), "alt\r\n"));
  const std::wstring folder(dir.path().begin(), dir.path().end());
  struct Case {
    const wchar_t* name;
    bool opens;
  };
  for (const Case& c : {Case{L"SETUP.EXE", false}, Case{L".\\setup.exe", false},
                        Case{L"neu.log", true}, Case{L"alt.log", true}}) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.name)));
    {
      RunLog log;
      EXPECT_EQ(log.Open(folder + L"\\" + c.name, Extended(program)), c.opens);
    }
    EXPECT_EQ(ReadFile(program), "MZ");
  }
  EXPECT_EQ(ReadFile(dir.Join("neu.log")).compare(0, 3, "\xEF\xBB\xBF"), 0);
  EXPECT_EQ(ReadFile(dir.Join("alt.log")).compare(0, 5, "alt\r\n"), 0);
  EXPECT_GT(ReadFile(dir.Join("alt.log")).size(), 5u);
}

}  // namespace
