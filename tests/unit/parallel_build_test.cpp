// Builds on several threads: the program file is byte for byte the one-thread build's, for every
// number of threads, both methods, large files cut into bzip2 blocks, files that fail, and a
// build cancelled from outside, which leaves nothing behind.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "builder/build_driver.h"
#include "platform/platform.h"
#include "tests/unit/fake_front_end.h"
#include "tests/unit/sfx_test_parser.h"
#include "tests/unit/test_util.h"

namespace {

namespace fs = std::filesystem;
using testfe::FakeFrontEnd;
using testfe::OsGuard;
using testfe::RecordingOs;
using testutil::TempDir;

// Bytes no compressor can shrink, the same for the same seed.
std::string RandomBytes(size_t n, uint32_t seed) {
  std::string s(n, '\0');
  uint64_t x = 0x9E3779B97F4A7C15ull ^ seed;
  for (size_t i = 0; i < n; ++i) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    s[i] = static_cast<char>(x >> 24);
  }
  return s;
}

// Runs of one byte, 1 to 300 bytes long, n bytes in all.
std::string Runs(size_t n) {
  std::string s;
  s.reserve(n);
  for (uint32_t i = 0; s.size() < n; ++i) {
    s.append(std::min<size_t>((i * 37) % 300 + 1, n - s.size()), static_cast<char>(i % 251));
  }
  return s;
}

struct Built {
  BuildResult result = BuildResult::Success;
  std::string bytes;  // the program file; "" when there is none
  std::vector<std::string> messages;
  std::vector<std::pair<std::string, std::string>> failed;
};

class ParallelBuildTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    Settings = TInstallInf();
    BatchReport.Clear();
    BatchRunning = 0;
    stubDir_ = dir_.Join("prog");
    ASSERT_TRUE(testutil::WriteFile(dir_.Join("prog/tambrix.res1"), "MZ bzip2 stub"));
    ASSERT_TRUE(testutil::WriteFile(dir_.Join("prog/tambrix.res2"), "MZ gzip stub"));
    src_ = dir_.Join("src");
    ASSERT_TRUE(testutil::MakeDirs(src_));
    sfx_ = dir_.Join("out/setup.exe");
    ASSERT_TRUE(testutil::MakeDirs(dir_.Join("out")));
  }

  bool Bzip2() const { return GetParam(); }

  void Add(const std::string& rel, const std::string& content) {
    ASSERT_TRUE(testutil::WriteFile(dir_.Join("src/" + rel), content));
  }

  // A tree of many small files, empty ones, files around the size of a bzip2 block, one of long
  // runs and (large) one whose compressed form is too large to be kept in memory.
  void AddMixedTree(bool large) {
    for (int i = 0; i < 24; ++i) {
      Add("klein/d" + std::to_string(i % 5) + "/f" + std::to_string(i) + ".txt",
          sfxtest::Content(static_cast<size_t>(97 * i * i + 13), static_cast<uint32_t>(i)));
    }
    for (int i = 0; i < 4; ++i) Add("leer/e" + std::to_string(i) + ".dat", "");
    Add("bloecke/a.bin", RandomBytes(899999, 1));
    Add("bloecke/b.bin", RandomBytes(900000, 2));
    Add("bloecke/c.bin", RandomBytes(900001, 3));
    Add("bloecke/text.txt", sfxtest::Content(2700000, 4));
    Add("bloecke/laeufe.bin", std::string(1200000, 'x') + RandomBytes(5000, 5) +
                                  std::string(700000, '\0'));
    if (large) Add("gross/zufall.bin", RandomBytes(2u << 20, 6));
  }

  Built Build(int jobs, const std::atomic<bool>* cancel = nullptr, FakeFrontEnd* front = nullptr) {
    Settings = TInstallInf();
    Settings.SourcePaths.Add(src_);
    Settings.SfxName = sfx_;
    Settings.MaxCompression = Bzip2() ? 1 : 0;
    FakeFrontEnd own;
    FakeFrontEnd& ui = front != nullptr ? *front : own;
    BuildOptions options;
    options.stubDir = stubDir_;
    options.jobs = jobs;
    options.cancel = cancel;
    Built b;
    b.result = BuildArchive(ui, options);
    b.messages = ui.messages;
    b.failed = ui.failed;
    bool ok = false;
    b.bytes = testutil::ReadFile(sfx_, &ok);
    if (!ok) b.bytes.clear();
    fs::remove(fs::u8path(sfx_));
    return b;
  }

  // Files left in the output folder besides what is expected there.
  std::vector<std::string> Leftovers() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(fs::u8path(dir_.Join("out")))) {
      names.push_back(e.path().filename().u8string());
    }
    return names;
  }

  void ExpectSameAsOneThread(const Built& one, const Built& many, int jobs) {
    SCOPED_TRACE("threads: " + std::to_string(jobs));
    EXPECT_EQ(static_cast<int>(one.result), static_cast<int>(many.result));
    EXPECT_EQ(one.messages, many.messages);
    EXPECT_EQ(one.failed, many.failed);
    EXPECT_EQ(one.bytes.size(), many.bytes.size());
    EXPECT_TRUE(one.bytes == many.bytes) << "the program files differ";
  }

  TempDir dir_;
  std::string stubDir_, src_, sfx_;
};

TEST_P(ParallelBuildTest, TheProgramFileIsTheOneThreadBuildsForEveryNumberOfThreads) {
  AddMixedTree(true);
  const Built one = Build(1);
  ASSERT_EQ(static_cast<int>(one.result), static_cast<int>(BuildResult::Success));
  sfxtest::Archive archive;
  ASSERT_TRUE(sfxtest::Parse(one.bytes, archive));
  EXPECT_EQ(archive.entries.size(), 34u);
  for (int jobs : {2, 3, 8}) ExpectSameAsOneThread(one, Build(jobs), jobs);
  EXPECT_TRUE(Leftovers().empty());
}

TEST_P(ParallelBuildTest, AnEmptyTreeAndATreeOfEmptyFilesAreTheSame) {
  const Built none = Build(1);
  ExpectSameAsOneThread(none, Build(4), 4);
  for (int i = 0; i < 7; ++i) Add("n" + std::to_string(i) + "/leer.txt", "");
  const Built one = Build(1);
  ASSERT_EQ(static_cast<int>(one.result), static_cast<int>(BuildResult::Success));
  ExpectSameAsOneThread(one, Build(3), 3);
}

// Whatever keeps a file from being read, the archive ends with it as on one thread: the same
// message, the same entries before it, nothing of the files after it.
TEST_P(ParallelBuildTest, AFileThatCannotBeReadEndsTheArchiveAsOnOneThread) {
  AddMixedTree(false);
  struct Case {
    const char* what;
    std::string file;
    bool openFails;  // else it opens, but every read fails
  };
  const Case cases[] = {
      {"a small file cannot be opened", dir_.Join("src/klein/d2/f7.txt"), true},
      {"a small file cannot be read", dir_.Join("src/klein/d3/f13.txt"), false},
      {"a file cut into blocks cannot be opened", dir_.Join("src/bloecke/text.txt"), true},
      {"a file cut into blocks cannot be read", dir_.Join("src/bloecke/c.bin"), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // The C runtime on Windows reads a stream opened for appending as empty, without an error.
    if (!c.openFails && platform::Real().Separator() == '\\') continue;
    RecordingOs os;
    (c.openFails ? os.failPath : os.unreadablePath) = c.file;
    if (c.openFails) os.failMode = "rb";
    OsGuard guard(&os);
    const Built one = Build(1);
    ASSERT_EQ(static_cast<int>(one.result), static_cast<int>(BuildResult::FileFailed));
    ASSERT_EQ(one.failed.size(), 1u);
    EXPECT_EQ(one.failed[0].first, c.file);
    for (int jobs : {2, 8}) ExpectSameAsOneThread(one, Build(jobs), jobs);
    EXPECT_TRUE(Leftovers().empty());
  }
}

// Ctrl-C during a build: it stops, and neither the program file, nor its temporary file, nor the
// data file, nor a buffer of an entry stays; an older program file of the name is untouched.
TEST_P(ParallelBuildTest, ACancelledBuildLeavesNothingBehind) {
  for (int i = 0; i < 12; ++i) Add("f" + std::to_string(i) + ".bin", RandomBytes(300000, 40 + i));
  Add("gross.bin", RandomBytes(2u << 20, 60));
  ASSERT_TRUE(testutil::WriteFile(sfx_, "older archive"));
  for (int jobs : {1, 2, 4}) {
    SCOPED_TRACE("threads: " + std::to_string(jobs));
    RecordingOs os;
    OsGuard guard(&os);
    std::atomic<bool> cancel{false};
    // The front end stops the build at its first sign of progress.
    struct StoppingFrontEnd : FakeFrontEnd {
      std::atomic<bool>* flag = nullptr;
      void ShowProgress(const std::string& text) override {
        FakeFrontEnd::ShowProgress(text);
        if (!text.empty()) flag->store(true);
      }
    } ui;
    ui.flag = &cancel;
    Settings = TInstallInf();
    Settings.SourcePaths.Add(src_);
    Settings.SfxName = sfx_;
    Settings.MaxCompression = Bzip2() ? 1 : 0;
    BuildOptions options;
    options.stubDir = stubDir_;
    options.jobs = jobs;
    options.cancel = &cancel;
    EXPECT_EQ(static_cast<int>(BuildArchive(ui, options)),
              static_cast<int>(BuildResult::Cancelled));
    ASSERT_FALSE(ui.messages.empty());
    EXPECT_EQ(ui.messages.back(), kMsgCancelled);
    EXPECT_EQ(testutil::ReadFile(sfx_), "older archive");
    EXPECT_EQ(Leftovers(), std::vector<std::string>{"setup.exe"});
    EXPECT_FALSE(os.tempFiles.empty());  // the data file at least
    for (const std::string& temp : os.tempFiles) {
      EXPECT_FALSE(platform::Real().Exists(temp)) << temp;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(BothMethods, ParallelBuildTest, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? std::string("bzip2") : std::string("gzip");
                         });

// A large file is cut into blocks that are compressed apart and joined again: the entry holds the
// very stream libbz2 makes of the whole file.
TEST(ParallelBzip2Build, EveryEntryIsOneLibbz2StreamOfItsFile) {
  TempDir dir;
  Settings = TInstallInf();
  ASSERT_TRUE(testutil::WriteFile(dir.Join("prog/tambrix.res1"), "MZ stub"));
  const std::vector<std::pair<std::string, std::string>> files = {
      {"leer.bin", ""},
      {"eins.bin", "A"},
      {"z899999.bin", RandomBytes(899999, 7)},
      {"z900000.bin", RandomBytes(900000, 8)},
      {"z900001.bin", RandomBytes(900001, 9)},
      {"zufall.bin", RandomBytes(2900000, 10)},
      {"text.txt", sfxtest::Content(3100000, 11)},
      // A block of one repeated byte holds about 46 MB: this file has two blocks.
      {"nullen.bin", std::string(47u << 20, '\0')},
      // Runs of 1 to 300 bytes: a block holds far more input than a plain block.
      {"laeufe.bin", Runs(30u << 20)},
  };
  for (const auto& f : files) ASSERT_TRUE(testutil::WriteFile(dir.Join("src/" + f.first), f.second));
  Settings.SourcePaths.Add(dir.Join("src"));
  Settings.SfxName = dir.Join("out.exe");
  Settings.MaxCompression = 1;
  FakeFrontEnd ui;
  BuildOptions options;
  options.stubDir = dir.Join("prog");
  options.jobs = 2;
  ASSERT_EQ(static_cast<int>(BuildArchive(ui, options)), static_cast<int>(BuildResult::Success));
  sfxtest::Archive archive;
  ASSERT_TRUE(sfxtest::Parse(testutil::ReadFile(dir.Join("out.exe")), archive));
  ASSERT_EQ(archive.entries.size(), files.size());
  for (const sfxtest::Entry& e : archive.entries) {
    const std::string leaf = e.name.substr(e.name.rfind('\\') + 1);
    for (const auto& f : files) {
      if (f.first != leaf) continue;
      SCOPED_TRACE(leaf);
      EXPECT_EQ(e.size, f.second.size());
      EXPECT_EQ(e.compressedSize, e.data.size());
      EXPECT_TRUE(e.data == sfxtest::Bzip2(f.second)) << "not libbz2's stream of the file";
    }
  }
}

}  // namespace
