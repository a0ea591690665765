// The extractor's unpacker and log on the real file system (under Wine): folders are entered by
// handle, a roll-back removes exactly what the run made, nothing is written over a file that
// appears meanwhile, and the log is never the program's own file.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <vector>

#include "stub/parallel_unpack.h"
#include "stub/stub_log.h"
#include "stub/stub_logic.h"
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

// A stand-in for a decoder: entry i (its headerOffset) gives size bytes of one letter, in pieces of
// 1000, and the entry g_damaged is damaged halfway through.
size_t g_damaged = static_cast<size_t>(-1);
DecodeStatus FakeDecode(ByteSource&, const ArchiveEntry& e, const ByteSink& sink) {
  const std::string piece(1000, static_cast<char>('a' + e.headerOffset % 26));
  for (size_t done = 0; done < e.size; done += piece.size()) {
    if (e.headerOffset == g_damaged && done >= e.size / 2) return DecodeStatus::Damaged;
    const size_t n = std::min<size_t>(piece.size(), e.size - done);
    if (!sink(reinterpret_cast<const uint8_t*>(piece.data()), n)) return DecodeStatus::SinkFailed;
  }
  return DecodeStatus::Ok;
}

// On several threads the files, the order of the log and the first failure are those of one
// thread, and a roll-back leaves the target as it was, whatever finished first.
TEST(UnpackInParallel, ResultsComeInTheArchivesOrderAndAFailureRollsBackEverything) {
  struct Case {
    const char* what;
    unsigned threads;
    size_t damaged;  // none: kNoEntry
    bool cancel;
    bool targetExists;
  };
  constexpr size_t kNone = Unpacker::kNoEntry;
  for (const Case& c : {Case{"2 threads, whole", 2, kNone, false, true},
                        Case{"8 threads, whole, new target", 8, kNone, false, false},
                        Case{"2 threads, first entry damaged", 2, 0, false, true},
                        Case{"8 threads, middle entry damaged", 8, 30, false, true},
                        Case{"3 threads, last entry damaged", 3, 59, false, false},
                        Case{"4 threads, cancelled", 4, kNone, true, true}}) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const std::string target = dir.Join("ziel");
    if (c.targetExists) {
      ASSERT_TRUE(testutil::WriteFile(target + "\\d1\\f1.txt", "alt"));
      ASSERT_TRUE(testutil::WriteFile(target + "\\d1\\f58.txt", "alt"));
    }
    ASSERT_TRUE(testutil::WriteFile(dir.Join("archiv"), "x"));
    HANDLE archive = CreateFileA(dir.Join("archiv").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                 nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(archive, INVALID_HANDLE_VALUE);
    // Earlier entries are larger, so that later ones tend to be done first.
    std::vector<ArchiveEntry> entries(60);
    for (size_t i = 0; i < entries.size(); ++i) {
      entries[i].name = "\\d" + std::to_string(i % 3) + "\\f" + std::to_string(i) + ".txt";
      entries[i].size = static_cast<uint32_t>((60 - i) * 3000 + i);
      entries[i].headerOffset = i;
    }
    g_damaged = c.damaged;
    std::vector<size_t> done;
    UnpackHooks hooks;
    hooks.relativeOf = [&](size_t i) { return RelativePath(entries[i].name, true); };
    hooks.done = [&](size_t i, bool written, bool) {
      EXPECT_TRUE(written);
      done.push_back(i);
    };
    hooks.damaged = [&](DecodeStatus, size_t i) {
      return Fail(kExitDamaged, Msg::EntryDamaged, RelativePath(entries[i].name, true));
    };
    if (c.cancel) hooks.tick = [](uint64_t) { return false; };
    Unpacker u(Extended(target));
    ASSERT_TRUE(u.PrepareTarget().ok());
    std::vector<size_t> existing;
    ASSERT_TRUE(u.FindExisting(entries.size(), hooks.relativeOf, false, existing).ok());
    const Outcome o = UnpackInParallel(entries, archive, &FakeDecode, &u, {}, c.threads, hooks);
    CloseHandle(archive);
    const size_t reached = c.damaged == kNone ? entries.size() : c.damaged;
    if (c.cancel) {
      EXPECT_EQ(o.exitCode, kExitCancelled);
    } else if (c.damaged != kNone) {
      EXPECT_EQ(o.exitCode, kExitDamaged);
      EXPECT_EQ(o.arg, RelativePath(entries[c.damaged].name, true));
    } else {
      EXPECT_TRUE(o.ok());
    }
    if (!c.cancel) {
      ASSERT_EQ(done.size(), reached);
      for (size_t i = 0; i < reached; ++i) EXPECT_EQ(done[i], i);
    }
    if (o.ok()) {
      u.Commit();
      for (size_t i = 0; i < entries.size(); ++i)
        EXPECT_EQ(ReadFile(target + "\\d" + std::to_string(i % 3) + "\\f" + std::to_string(i) +
                           ".txt"),
                  std::string(entries[i].size, static_cast<char>('a' + i % 26)));
      continue;
    }
    u.RemoveCreated();
    EXPECT_EQ(Exists(target), c.targetExists);
    if (!c.targetExists) continue;
    EXPECT_EQ(ReadFile(target + "\\d1\\f1.txt"), "alt");
    EXPECT_EQ(ReadFile(target + "\\d1\\f58.txt"), "alt");
    EXPECT_FALSE(Exists(target + "\\d0"));
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA((target + "\\d1\\*").c_str(), &found);
    int names = 0;
    do names += found.cFileName[0] != '.';
    while (FindNextFileA(h, &found));
    FindClose(h);
    EXPECT_EQ(names, 2);  // no backup, no temporary file, no file of the run
  }
  g_damaged = static_cast<size_t>(-1);
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
