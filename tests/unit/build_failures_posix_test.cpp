// Builds that fail on the way: a disk that fills up at every step of writing the program file or
// the data file, and a tree deeper than the system's path limit. Whatever fails, nothing of the
// build is left and an older program file stays as it was.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "archive/archive_layout.h"
#include "builder/build_driver.h"
#include "platform/platform.h"
#include "tests/unit/fake_front_end.h"
#include "tests/unit/hooked_stream_posix.h"
#include "tests/unit/sfx_test_parser.h"
#include "tests/unit/test_util.h"

namespace {

using testfe::FakeFrontEnd;
using testfe::OsGuard;
using testutil::TempDir;

// A folder on a disk that holds only so many more bytes: every stream opened for writing below it
// draws on one budget, and a write beyond it fails as on a full disk (with what fitted written).
class FillingDiskOs : public testfe::RecordingOs {
 public:
  FillingDiskOs(const std::string& folder, int64_t budget) : folder_(folder), left_(budget) {}

  std::FILE* Open(const std::string& p, const char* m) override {
    std::FILE* f = RecordingOs::Open(p, m);
    if (f == nullptr || std::string(m) == "rb" || p.compare(0, folder_.size(), folder_) != 0) {
      return f;
    }
    int64_t* left = &left_;
    return testutil::HookedStream(
        f, m, testutil::ReadHook(),
        [left](std::FILE* file, const char* buf, size_t n) -> ssize_t {
          const size_t allowed = static_cast<size_t>(std::min<int64_t>(*left, n));
          if (allowed == 0 && n > 0) {
            errno = ENOSPC;
            return 0;
          }
          const size_t written = std::fwrite(buf, 1, allowed, file);
          *left -= static_cast<int64_t>(written);
          return static_cast<ssize_t>(written);
        });
  }

 private:
  std::string folder_;
  int64_t left_;
};

class BuildFailureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Settings = TInstallInf();
    BatchReport.Clear();
    BatchRunning = 0;
    ASSERT_TRUE(testutil::WriteFile(dir_.Join("prog/tambrix.res1"),
                                    "MZ" + sfxtest::Content(70000, 5)));
    ASSERT_TRUE(testutil::MakeDirs(out_));
    ASSERT_TRUE(testutil::MakeDirs(tmp_));
    ASSERT_TRUE(testutil::WriteFile(dir_.Join("src/a.txt"), sfxtest::Content(150000, 6)));
    ASSERT_TRUE(testutil::WriteFile(dir_.Join("src/sub/b.txt"), sfxtest::Content(90000, 7)));
    ASSERT_TRUE(testutil::WriteFile(dir_.Join("src/sub/empty"), ""));
  }

  // One build as the dialog starts it, on os; the temporary folder is tmp_.
  BuildResult Build(testfe::RecordingOs& os) {
    os.tempDirectory = tmp_ + "/";
    ui_ = FakeFrontEnd();
    ui_.SetSource(dir_.Join("src"));
    ui_.fields.SfxName = sfx_;
    ui_.fields.MaxCompression = 1;
    ui_.startAfterwards = true;
    OsGuard guard(&os);
    return testfe::BuildFromFields(ui_, dir_.Join("prog"));
  }
  // A build with room enough: its bytes and what they hold.
  void BuildWhole(std::string& whole, sfxtest::Archive& a) {
    testfe::RecordingOs plain;
    ASSERT_EQ(Build(plain), BuildResult::Success);
    whole = testutil::ReadFile(sfx_);
    ASSERT_TRUE(sfxtest::Parse(whole, a, nullptr));
  }
  static std::vector<std::string> Names(const std::string& dir) {
    std::vector<platform::DirEntry> entries;
    EXPECT_TRUE(platform::Real().ListDirectory(dir, "*.*", entries));
    std::vector<std::string> names;
    for (const platform::DirEntry& e : entries) names.push_back(e.name);
    return names;
  }
  // Every budget below need that a disk filling up can stop at: each of the first and last
  // bytes, around the given marks, and a stride through the rest.
  static std::vector<int64_t> Budgets(int64_t need, const std::vector<int64_t>& marks) {
    std::vector<int64_t> b = {0, 1, need - 1, need - 4, need - 5};
    for (int64_t m : marks) {
      for (int64_t d = -2; d <= 2; ++d) b.push_back(m + d);
    }
    for (int64_t x = 4093; x < need; x += 8191) b.push_back(x);
    std::vector<int64_t> inside;
    for (int64_t x : b) {
      if (x >= 0 && x < need) inside.push_back(x);
    }
    return inside;
  }
  void ExpectNothingLeft(const std::string& what) {
    EXPECT_EQ(Names(out_), std::vector<std::string>{"out.exe"}) << what;
    EXPECT_EQ(testutil::ReadFile(sfx_), "old program") << what;
    EXPECT_TRUE(Names(tmp_).empty()) << what;
    EXPECT_TRUE(ui_.started.empty()) << what;
    EXPECT_TRUE(ui_.failed.empty()) << what << ": no source file is blamed";
    EXPECT_EQ(ui_.endWait, 1) << what;
  }

  TempDir dir_;
  std::string out_ = dir_.Join("out");
  std::string tmp_ = dir_.Join("tmp");
  std::string sfx_ = dir_.Join("out/out.exe");
  FakeFrontEnd ui_;
};

TEST_F(BuildFailureTest, AFullOutputDiskAtAnyByteLeavesNothingAndKeepsTheOldFile) {
  std::string whole;
  sfxtest::Archive a;
  ASSERT_NO_FATAL_FAILURE(BuildWhole(whole, a));
  const int64_t need = static_cast<int64_t>(whole.size());
  const int64_t stub = static_cast<int64_t>(a.settingsOffset);
  const int64_t part = stub + static_cast<int64_t>(a.settings.size);

  ASSERT_TRUE(testutil::WriteFile(sfx_, "old program"));
  for (int64_t budget : Budgets(need, {stub, part})) {
    FillingDiskOs os(out_, budget);
    const std::string what = "budget " + std::to_string(budget) + " of " + std::to_string(need);
    EXPECT_EQ(Build(os), BuildResult::ProgramWriteFailed) << what;
    EXPECT_EQ(ui_.messages,
              std::vector<std::string>{"Fehler beim Schreiben der Programmdatei " + sfx_ + "!"})
        << what;
    ExpectNothingLeft(what);
  }
  FillingDiskOs room(out_, need);
  EXPECT_EQ(Build(room), BuildResult::Success) << "exactly room enough";
  EXPECT_TRUE(testutil::ReadFile(sfx_) == whole);
}

TEST_F(BuildFailureTest, AFullTemporaryFolderAtAnyByteLeavesNothingAndKeepsTheOldFile) {
  // The data file's size: the program file less stub, settings block and offset.
  std::string whole;
  sfxtest::Archive a;
  ASSERT_NO_FATAL_FAILURE(BuildWhole(whole, a));
  const int64_t need = static_cast<int64_t>(a.compressedPart.size());
  ASSERT_GT(need, 64000) << "more than one chunk and one stream buffer";
  std::vector<int64_t> marks;
  int64_t rewritten = 0;  // each entry header is written blank first, then filled in
  int64_t end = layout::kArchiveHeaderSize;
  marks.push_back(end);
  for (const sfxtest::Entry& e : a.entries) {
    rewritten += static_cast<int64_t>(layout::kEntryFixedSize + e.name.size());
    end += static_cast<int64_t>(layout::kEntryFixedSize + e.name.size() + e.data.size());
    marks.push_back(end);
  }

  ASSERT_TRUE(testutil::WriteFile(sfx_, "old program"));
  for (int64_t budget : Budgets(need, marks)) {
    FillingDiskOs os(tmp_, budget);
    const std::string what = "budget " + std::to_string(budget) + " of " + std::to_string(need);
    EXPECT_EQ(Build(os), BuildResult::DataWriteFailed) << what;
    ASSERT_EQ(ui_.messages.size(), 1u) << what;
    const std::string prefix = "Fehler beim Schreiben der Datendatei " + tmp_ + "/zal";
    EXPECT_EQ(ui_.messages[0].compare(0, prefix.size(), prefix), 0) << ui_.messages[0];
    ExpectNothingLeft(what);
  }
  FillingDiskOs room(tmp_, need + rewritten);
  EXPECT_EQ(Build(room), BuildResult::Success) << "exactly room enough";
  EXPECT_TRUE(testutil::ReadFile(sfx_) == whole);
}

// A read-only stream that claims size bytes and holds none on disk: head, then 'x' to the end.
std::FILE* FakeSizedStream(uint64_t size, const std::string& head) {
  struct Fake {
    uint64_t size;
    std::string head;
    uint64_t pos;
  };
  cookie_io_functions_t io{};
  io.read = [](void* c, char* buf, size_t n) -> ssize_t {
    Fake* f = static_cast<Fake*>(c);
    const size_t k = static_cast<size_t>(std::min<uint64_t>(n, f->size - f->pos));
    std::memset(buf, 'x', k);
    for (uint64_t at = f->pos; at < f->head.size() && at < f->pos + k; ++at) {
      buf[at - f->pos] = f->head[static_cast<size_t>(at)];
    }
    f->pos += k;
    return static_cast<ssize_t>(k);
  };
  io.seek = [](void* c, off64_t* offset, int whence) -> int {
    Fake* f = static_cast<Fake*>(c);
    const int64_t base = whence == SEEK_SET   ? 0
                         : whence == SEEK_CUR ? static_cast<int64_t>(f->pos)
                                              : static_cast<int64_t>(f->size);
    if (base + *offset < 0) return -1;
    f->pos = static_cast<uint64_t>(base + *offset);
    *offset = static_cast<off64_t>(f->pos);
    return 0;
  };
  io.close = [](void* c) -> int {
    delete static_cast<Fake*>(c);
    return 0;
  };
  return fopencookie(new Fake{size, head, 0}, "rb", io);
}

// The program file as a stream that lets the first skip bytes pass by without writing them and
// writes the rest to file, while its position counts every byte: a program file of gigabytes
// whose end is on disk.
std::FILE* SkippingStream(std::FILE* file, uint64_t skip, uint64_t* written) {
  struct Sink {
    std::FILE* file;
    uint64_t skip;
    uint64_t pos;
    uint64_t* written;
  };
  cookie_io_functions_t io{};
  io.write = [](void* c, const char* buf, size_t n) -> ssize_t {
    Sink* s = static_cast<Sink*>(c);
    size_t passed = 0;
    if (s->pos < s->skip) passed = static_cast<size_t>(std::min<uint64_t>(n, s->skip - s->pos));
    if (passed < n && std::fwrite(buf + passed, 1, n - passed, s->file) != n - passed) return 0;
    s->pos += n;
    *s->written += n;
    return static_cast<ssize_t>(n);
  };
  io.seek = [](void* c, off64_t* offset, int whence) -> int {
    Sink* s = static_cast<Sink*>(c);
    if (whence != SEEK_CUR || *offset != 0) return -1;  // only telling is needed
    *offset = static_cast<off64_t>(s->pos);
    return 0;
  };
  io.close = [](void* c) -> int {
    Sink* s = static_cast<Sink*>(c);
    const int r = std::fclose(s->file);
    delete s;
    return r;
  };
  return fopencookie(new Sink{file, skip, 0, written}, "wb", io);
}

// Sizes no disk here holds, through the platform seam: the bzip2 stub and the data file as
// read by the program file's writer claim what the test says (0: their own), and the bytes
// written to the program file are counted, past the claimed stub only put on disk.
class FakeSizeOs : public testfe::RecordingOs {
 public:
  FakeSizeOs(const std::string& tmp, uint64_t stubSize, uint64_t dataSize)
      : tmp_(tmp), stubSize_(stubSize), dataSize_(dataSize) {}

  std::FILE* Open(const std::string& p, const char* m) override {
    const std::string mode = m;
    const bool stub = p.size() > 12 && p.compare(p.size() - 12, 12, "tambrix.res1") == 0;
    if (mode == "rb" && stub && stubSize_ != 0) return FakeSizedStream(stubSize_, "MZ");
    if (mode == "rb" && dataSize_ != 0 && p.compare(0, tmp_.size(), tmp_) == 0) {
      return FakeSizedStream(dataSize_, "SFX2");
    }
    std::FILE* f = RecordingOs::Open(p, m);
    if (f == nullptr || mode != "wbx") return f;
    return SkippingStream(f, stubSize_, &programBytes);
  }

  uint64_t programBytes = 0;  // written to program files

 private:
  std::string tmp_;
  uint64_t stubSize_, dataSize_;
};

// Windows starts no program file of 4 GiB or more: such an archive is refused with its size
// before a byte of the program file is written, and nothing is left.
TEST_F(BuildFailureTest, AnArchiveOf4GiBOrMoreIsRefusedBeforeTheProgramFileIsWritten) {
  std::string whole;
  sfxtest::Archive a;
  ASSERT_NO_FATAL_FAILURE(BuildWhole(whole, a));
  const uint64_t around = whole.size() - a.compressedPart.size();  // stub, settings, offset
  const uint64_t kLimit = uint64_t(1) << 32;
  const std::pair<uint64_t, std::string> cases[] = {
      {kLimit, "4.294.967.296"},
      {kLimit + 1, "4.294.967.297"},
      {uint64_t(5) << 30, "5.368.709.120"},
  };
  ASSERT_TRUE(testutil::WriteFile(sfx_, "old program"));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.second);
    FakeSizeOs os(tmp_, 0, c.first - around);
    EXPECT_EQ(Build(os), BuildResult::ArchiveTooLarge);
    EXPECT_EQ(ui_.messages,
              std::vector<std::string>{"Das Archiv " + sfx_ + " w\xE4re " + c.second +
                                       " Bytes gro\xDF; Windows startet keine Programmdatei ab "
                                       "4 GiB (4.294.967.296 Bytes). Es wurde nicht erstellt!"});
    EXPECT_EQ(os.programBytes, 0u);
    ExpectNothingLeft(c.second);
  }
}

// Beside a stub that leaves little room below 4 GiB, the compression stops at the file that
// takes the data file past it, on one thread as on several, and says so.
TEST_F(BuildFailureTest, TheCompressionStopsOnceTheArchivePasses4GiB) {
  ASSERT_TRUE(testutil::WriteFile(sfx_, "old program"));
  std::vector<std::string> shown;
  for (int jobs : {1, 3}) {
    SCOPED_TRACE(jobs);
    FakeSizeOs os((tmp_ + "/"), (uint64_t(1) << 32) - 2000, 0);
    os.tempDirectory = tmp_ + "/";
    ui_ = FakeFrontEnd();
    ui_.SetSource(dir_.Join("src"));
    ui_.fields.SfxName = sfx_;
    ui_.fields.MaxCompression = 1;
    OsGuard guard(&os);
    ui_.TakeSettings(Settings);
    BuildOptions options;
    options.stubDir = dir_.Join("prog");
    options.jobs = jobs;
    EXPECT_EQ(BuildArchive(ui_, options), BuildResult::ArchiveTooLarge);
    ASSERT_EQ(ui_.messages.size(), 1u);
    shown.push_back(ui_.messages[0]);
    EXPECT_EQ(shown.back().rfind("Das Archiv " + sfx_ + " w\xE4re mindestens 4.29", 0), 0u)
        << shown.back();
    EXPECT_EQ(os.programBytes, 0u);
    ExpectNothingLeft("jobs " + std::to_string(jobs));
  }
  EXPECT_EQ(shown[0], shown[1]);
}

// Offsets past 2 GiB are written as the unsigned 32-bit values they are: a stub that claims
// 2 GiB and more gives a program file whose last four bytes point just past it.
TEST_F(BuildFailureTest, ASettingsOffsetPast2GiBIsWrittenWhole) {
  const uint64_t stub = (uint64_t(1) << 31) + 12345;
  FakeSizeOs os(tmp_, stub, 0);
  ASSERT_EQ(Build(os), BuildResult::Success) << (ui_.messages.empty() ? "" : ui_.messages[0]);
  const std::string tail = testutil::ReadFile(sfx_);  // what follows the stub
  ASSERT_GT(tail.size(), 4u);
  EXPECT_EQ(os.programBytes, stub + tail.size());
  EXPECT_EQ(sfxtest::U32(tail, tail.size() - 4), static_cast<uint32_t>(stub));
  sfxtest::SettingsBlock settings;
  ASSERT_TRUE(sfxtest::ParseSettings(tail, 0, tail.size() - 4, settings));
  EXPECT_EQ(settings.sfxName, sfx_);
  EXPECT_TRUE(Names(tmp_).empty());
}

// Creates a chain of directories below base whose full path passes PATH_MAX, one level at a time
// relative to the last (the path itself is too long for any call), with a file at the bottom.
// Returns the number of levels made.
int MakeDeepTree(const std::string& base, const std::string& level) {
  int fd = open(base.c_str(), O_RDONLY | O_DIRECTORY);
  int levels = 0;
  size_t length = base.size();
  while (fd >= 0 && length <= PATH_MAX + level.size()) {
    if (mkdirat(fd, level.c_str(), 0777) != 0) break;
    const int next = openat(fd, level.c_str(), O_RDONLY | O_DIRECTORY);
    close(fd);
    fd = next;
    length += level.size() + 1;
    ++levels;
  }
  if (fd >= 0) {
    const int file = openat(fd, "tief.txt", O_WRONLY | O_CREAT, 0666);
    if (file >= 0) {
      (void)!write(file, "unten", 5);
      close(file);
    }
    close(fd);
  }
  return levels;
}

// Removes what MakeDeepTree made, from the bottom up.
void RemoveDeepTree(int dirFd, const std::string& level, int levels) {
  if (levels == 0) {
    unlinkat(dirFd, "tief.txt", 0);
    return;
  }
  const int next = openat(dirFd, level.c_str(), O_RDONLY | O_DIRECTORY);
  if (next >= 0) {
    RemoveDeepTree(next, level, levels - 1);
    close(next);
  }
  unlinkat(dirFd, level.c_str(), AT_REMOVEDIR);
}

// A folder whose path the system cannot take is named, and the build fails unless told to skip.
TEST_F(BuildFailureTest, AFolderBeyondThePathLimitIsNamedNotDropped) {
  const std::string level(200, 'd');
  const std::string src = dir_.Join("src");
  const int levels = MakeDeepTree(src, level);
  ASSERT_GT(static_cast<size_t>(levels) * (level.size() + 1), static_cast<size_t>(PATH_MAX));
  struct Cleanup {
    std::string src, level;
    int levels;
    ~Cleanup() {
      const int fd = open(src.c_str(), O_RDONLY | O_DIRECTORY);
      if (fd >= 0) {
        RemoveDeepTree(fd, level, levels);
        close(fd);
      }
    }
  } cleanup{src, level, levels};

  ASSERT_TRUE(testutil::WriteFile(sfx_, "old program"));
  testfe::RecordingOs os;
  EXPECT_EQ(Build(os), BuildResult::FoldersUnreadable);
  ASSERT_EQ(ui_.unreadable.size(), 1u);
  EXPECT_GT(ui_.unreadable[0].size(), static_cast<size_t>(PATH_MAX) - level.size() - 1);
  EXPECT_EQ(ui_.messages, std::vector<std::string>{"Der Ordner " + ui_.unreadable[0] +
                                                   " kann nicht gelesen werden!"});
  ExpectNothingLeft("deep tree");
}

}  // namespace
