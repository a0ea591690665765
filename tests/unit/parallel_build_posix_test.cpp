// A file whose reading fails halfway, in a build on several threads: blocks of it may already be
// in the data file, and are taken back; the archive is then the one-thread build's.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <functional>
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

// Writes text to the file at path; false when it cannot.
bool WriteProcFile(const char* path, const std::string& text) {
  const int fd = open(path, O_WRONLY);
  const bool ok = fd >= 0 && write(fd, text.data(), text.size()) == ssize_t(text.size());
  if (fd >= 0) close(fd);
  return ok;
}

// Runs body in a child process of its own mount namespace (and user namespace, unless we are
// root) with a tmpfs of size bytes on dir, and returns what body returns. A child that cannot
// have such a mount returns "!" and why; one that ends abnormally, what became of it.
std::string InSmallTmpfs(const std::string& dir, uint64_t size,
                         const std::function<std::string()>& body) {
  int out[2];
  if (pipe(out) != 0) return "!no pipe";
  const uid_t uid = getuid();
  const gid_t gid = getgid();
  const pid_t child = fork();
  if (child == 0) {
    close(out[0]);
    auto say = [&](const std::string& text) {
      (void)!write(out[1], text.data(), text.size());
      _exit(0);
    };
    const bool ns =
        uid == 0 ? unshare(CLONE_NEWNS) == 0
                 : unshare(CLONE_NEWUSER | CLONE_NEWNS) == 0 &&
                       WriteProcFile("/proc/self/setgroups", "deny") &&
                       WriteProcFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") &&
                       WriteProcFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1");
    if (!ns || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("tmpfs", dir.c_str(), "tmpfs", 0, ("size=" + std::to_string(size)).c_str()) != 0) {
      say("!no namespace with a tmpfs of its own");
    }
    say(body());
  }
  close(out[1]);
  std::string got;
  char buf[4096];
  for (ssize_t n; child > 0 && (n = read(out[0], buf, sizeof buf)) > 0;) got.append(buf, size_t(n));
  close(out[0]);
  int status = 0;
  if (child < 0) return "!no child process";
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? got
                           : "the build's process ended abnormally: " + std::to_string(status);
}

// A temporary folder just large enough for the data file: a build on four threads needs no
// more room there than one on a single thread. A file whose compressed bytes a worker keeps in
// a spill file would otherwise take its room twice while it is copied into the data file.
TEST(ParallelBuildPosix, ATemporaryFolderThatFitsTheDataFileServesEveryThreadCount) {
  TempDir dir;
  ASSERT_TRUE(testutil::WriteFile(dir.Join("prog/tambrix.res2"), "MZ gzip stub"));
  ASSERT_TRUE(testutil::WriteFile(dir.Join("src/a.txt"), sfxtest::Content(5000, 1)));
  std::string noise(1500000, '\0');  // compresses to more than a worker keeps in memory
  uint32_t x = 12345;
  for (char& c : noise) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 24);
  }
  ASSERT_TRUE(testutil::WriteFile(dir.Join("src/gross.bin"), noise));
  ASSERT_TRUE(testutil::WriteFile(dir.Join("src/z.txt"), sfxtest::Content(7000, 2)));
  ASSERT_TRUE(testutil::MakeDirs(dir.Join("tmp")));

  auto build = [&](int jobs, std::string& bytes) {
    Settings = TInstallInf();
    Settings.SourcePaths.Add(dir.Join("src"));
    Settings.SfxName = dir.Join("out.exe");
    FakeFrontEnd ui;
    BuildOptions options;
    options.stubDir = dir.Join("prog");
    options.jobs = jobs;
    const BuildResult result = BuildArchive(ui, options);
    bytes = testutil::ReadFile(dir.Join("out.exe"));
    std::remove(dir.Join("out.exe").c_str());
    return "-j" + std::to_string(jobs) + ": " + std::to_string(static_cast<int>(result)) +
           (ui.messages.empty() ? std::string() : " " + ui.messages.back());
  };
  std::string reference;
  ASSERT_EQ(build(1, reference), "-j1: 0 " + std::string(kMsgSuccess));
  sfxtest::Archive a;
  ASSERT_TRUE(sfxtest::Parse(reference, a));
  // Room for the data file and two pages to spare, which no spill file fits into.
  const uint64_t room = (a.compressedPart.size() + 4095) / 4096 * 4096 + 8192;

  const std::string report = InSmallTmpfs(dir.Join("tmp"), room, [&] {
    setenv("TMPDIR", dir.Join("tmp").c_str(), 1);
    std::string text;
    for (int jobs : {1, 4}) {
      std::string bytes;
      text += build(jobs, bytes);
      text += bytes == reference ? ", same bytes" : ", other bytes";
      std::vector<platform::DirEntry> left;
      platform::Real().ListDirectory(dir.Join("tmp"), "*.*", left);
      text += ", " + std::to_string(left.size()) + " left\n";
    }
    return text;
  });
  if (report.compare(0, 1, "!") == 0) GTEST_SKIP() << "no small tmpfs to be had: " << report;
  const std::string ok = " " + std::string(kMsgSuccess) + ", same bytes, 0 left\n";
  EXPECT_EQ(report, "-j1: 0" + ok + "-j4: 0" + ok);
}

}  // namespace
