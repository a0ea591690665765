// A file whose reading fails halfway, in a build on several threads: blocks of it may already be
// in the data file, and are taken back; the archive is then the one-thread build's.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <string>

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

// Opens one file as a stream whose reads fail (EIO) once limit bytes have been read.
class FailingHalfwayOs : public platform::ForwardingOs {
 public:
  FailingHalfwayOs(const std::string& path, long limit)
      : ForwardingOs(platform::Real()), path_(path), limit_(limit) {}

  std::FILE* Open(const std::string& p, const char* m) override {
    std::FILE* f = inner_.Open(p, m);
    if (f == nullptr || p != path_ || std::string(m) != "rb") return f;
    const long limit = limit_;
    return testutil::HookedStream(
        f, "rb",
        [limit](std::FILE* file, char* buf, size_t n) -> ssize_t {
          const long pos = ftell(file);
          if (pos >= limit) {
            errno = EIO;
            return -1;
          }
          const size_t allowed = std::min<size_t>(n, static_cast<size_t>(limit - pos));
          return static_cast<ssize_t>(std::fread(buf, 1, allowed, file));
        },
        testutil::WriteHook());
  }

 private:
  std::string path_;
  long limit_;
};

TEST(ParallelBuildPosix, AReadFailingHalfwayGivesTheOneThreadArchive) {
  TempDir dir;
  ASSERT_TRUE(testutil::WriteFile(dir.Join("prog/tambrix.res1"), "MZ bzip2 stub"));
  ASSERT_TRUE(testutil::WriteFile(dir.Join("prog/tambrix.res2"), "MZ gzip stub"));
  for (int i = 0; i < 6; ++i) {
    ASSERT_TRUE(testutil::WriteFile(dir.Join("src/f" + std::to_string(i) + ".txt"),
                                    sfxtest::Content(40000 + 1000 * i, i)));
  }
  const std::string broken = dir.Join("src/mitte/gross.txt");
  ASSERT_TRUE(testutil::WriteFile(broken, sfxtest::Content(3300000, 77)));
  // Past the second block of the file: two blocks are written before the read fails.
  FailingHalfwayOs os(broken, 2500000);
  OsGuard guard(&os);
  for (int bzip2 = 0; bzip2 < 2; ++bzip2) {
    std::string bytes[2];
    std::vector<std::pair<std::string, std::string>> failed[2];
    for (int run = 0; run < 2; ++run) {
      SCOPED_TRACE(std::string(bzip2 ? "bzip2" : "gzip") + (run ? ", 3 threads" : ", 1 thread"));
      Settings = TInstallInf();
      Settings.SourcePaths.Add(dir.Join("src"));
      Settings.SfxName = dir.Join("out.exe");
      Settings.MaxCompression = bzip2;
      FakeFrontEnd ui;
      BuildOptions options;
      options.stubDir = dir.Join("prog");
      options.jobs = run == 0 ? 1 : 3;
      EXPECT_EQ(static_cast<int>(BuildArchive(ui, options)),
                static_cast<int>(BuildResult::FileFailed));
      bytes[run] = testutil::ReadFile(dir.Join("out.exe"));
      failed[run] = ui.failed;
      std::remove(dir.Join("out.exe").c_str());
    }
    ASSERT_EQ(failed[0].size(), 1u);
    EXPECT_EQ(failed[0][0].first, broken);
    EXPECT_EQ(failed[0], failed[1]);
    EXPECT_FALSE(bytes[0].empty());
    EXPECT_TRUE(bytes[0] == bytes[1]) << (bzip2 ? "bzip2" : "gzip") << ": the archives differ";
  }
}

}  // namespace
