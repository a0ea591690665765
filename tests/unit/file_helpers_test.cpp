#include "builder/file_helpers.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <set>
#include <string>

#include "platform/platform.h"
#include "support/file_access.h"
#include "tests/unit/sfx_test_parser.h"
#include "tests/unit/test_util.h"

namespace {

using testutil::TempDir;

// Installs an Os for one test and restores the real one afterwards.
struct OsGuard {
  explicit OsGuard(platform::Os* os) { platform::SetForTesting(os); }
  ~OsGuard() { platform::SetForTesting(nullptr); }
};

std::FILE* OpenReal(const std::string& path, const char* mode) {
  return platform::Real().Open(path, mode);
}

// --- CopyHandleBytes ------------------------------------------------------------------------

class CopyHandleBytesTest : public ::testing::Test {
 protected:
  // Copies count bytes of content (starting at skip) into a fresh file; returns the copy.
  std::string Copy(const std::string& content, int64_t count, bool* ok, long skip = 0,
                   long* srcPosAfter = nullptr) {
    const std::string src = dir_.Join("src.bin");
    const std::string dst = dir_.Join("dst.bin");
    EXPECT_TRUE(testutil::WriteFile(src, content));
    std::FILE* in = OpenReal(src, "rb");
    std::FILE* out = OpenReal(dst, "wb");
    EXPECT_NE(in, nullptr);
    EXPECT_NE(out, nullptr);
    std::fseek(in, skip, SEEK_SET);
    std::fwrite("HEAD", 1, 4, out);  // the copy goes to the current position
    *ok = CopyHandleBytes(in, out, count);
    if (srcPosAfter) *srcPosAfter = std::ftell(in);
    std::fclose(in);
    std::fclose(out);
    const std::string copied = testutil::ReadFile(dst);
    EXPECT_EQ(copied.substr(0, 4), "HEAD");
    return copied.substr(4);
  }
  TempDir dir_;
};

TEST_F(CopyHandleBytesTest, CopiesExactlyTheCountAcrossChunkBoundaries) {
  for (int64_t n : {int64_t{1}, int64_t{65533}, int64_t{65534}, int64_t{65535}, int64_t{131068},
                    int64_t{131069}, int64_t{200001}}) {
    const std::string content = sfxtest::Content(static_cast<size_t>(n) + 10, uint32_t(n));
    bool ok = false;
    long pos = -1;
    const std::string copied = Copy(content, n, &ok, 0, &pos);
    EXPECT_TRUE(ok) << n;
    EXPECT_EQ(copied, content.substr(0, static_cast<size_t>(n))) << n;
    EXPECT_EQ(pos, static_cast<long>(n)) << "source moved only by the bytes copied, n=" << n;
  }
}

TEST_F(CopyHandleBytesTest, StartsAtTheCurrentSourcePosition) {
  const std::string content = sfxtest::Content(70000, 7);
  bool ok = false;
  const std::string copied = Copy(content, 66000, &ok, 3000);
  EXPECT_TRUE(ok);
  EXPECT_EQ(copied, content.substr(3000, 66000));
}

TEST_F(CopyHandleBytesTest, ZeroCopiesNothingAndSucceeds) {
  bool ok = false;
  EXPECT_EQ(Copy("abc", 0, &ok), "");
  EXPECT_TRUE(ok);
}

TEST_F(CopyHandleBytesTest, NegativeCountFailsWithoutReading) {
  bool ok = true;
  long pos = -1;
  EXPECT_EQ(Copy("abcdef", -1, &ok, 0, &pos), "");
  EXPECT_FALSE(ok);
  EXPECT_EQ(pos, 0L);
}

TEST_F(CopyHandleBytesTest, ShortSourceFails) {
  // 65534 + 100 bytes present, 65534 * 2 asked: the second chunk comes up short.
  bool ok = true;
  Copy(sfxtest::Content(65634, 3), 131068, &ok);
  EXPECT_FALSE(ok);
  Copy("abc", 4, &ok);
  EXPECT_FALSE(ok);
}

TEST_F(CopyHandleBytesTest, FailedWriteAndClosedHandlesFail) {
  const std::string src = dir_.Join("src.bin");
  const std::string dst = dir_.Join("dst.bin");
  ASSERT_TRUE(testutil::WriteFile(src, "0123456789"));
  ASSERT_TRUE(testutil::WriteFile(dst, ""));
  std::FILE* in = OpenReal(src, "rb");
  std::FILE* readOnly = OpenReal(dst, "rb");  // writes to a read-only stream transfer nothing
  ASSERT_NE(in, nullptr);
  ASSERT_NE(readOnly, nullptr);
  EXPECT_FALSE(CopyHandleBytes(in, readOnly, 10));
  EXPECT_FALSE(CopyHandleBytes(nullptr, readOnly, 10));
  EXPECT_FALSE(CopyHandleBytes(in, nullptr, 10));
  std::fclose(in);
  std::fclose(readOnly);
}

// --- MakeTempName ---------------------------------------------------------------------------

TEST(MakeTempName, CreatesAnEmptyUniqueFileInTheTemporaryDirectory) {
  const std::string a = MakeTempName("zal");
  const std::string b = MakeTempName("zal");
  ASSERT_FALSE(a.empty());
  ASSERT_FALSE(b.empty());
  EXPECT_NE(a, b);
  bool ok = false;
  EXPECT_EQ(testutil::ReadFile(a, &ok), "");
  EXPECT_TRUE(ok) << "the file is created";
  const std::string dir = platform::Real().TempDirectory();
  EXPECT_EQ(a.compare(0, dir.size(), dir), 0) << a;
  const std::string base = a.substr(a.find_last_of("\\/") + 1);
  EXPECT_EQ(base.substr(0, 3), "zal") << base;
  platform::Real().Remove(a);
  platform::Real().Remove(b);
}

// A system seen through Windows eyes: c:\temp is mapped to a test directory, the temporary
// directory and the drive kind are chosen by the test, and every call is recorded.
class TempNameOs : public platform::ForwardingOs {
 public:
  explicit TempNameOs(const TempDir& dir, char sep = '\\')
      : ForwardingOs(platform::Real()), dir_(dir), sep_(sep) {}
  char Separator() const override { return sep_; }
  bool Exists(const std::string& p) override {
    if (IsFallback(p)) {
      if (allFallbackNamesTaken && p.size() > 10) return true;
      return inner_.Exists(Map(p));
    }
    if (p == tempDir) return tempDirExists;
    return inner_.Exists(p);
  }
  bool MakeDirectory(const std::string& p) override {
    madeDirs.push_back(p);
    return !failMakeDirectory && inner_.MakeDirectory(Map(p));
  }
  std::FILE* Open(const std::string& p, const char* m) override {
    opened.push_back(p);
    return inner_.Open(Map(p), m);
  }
  std::string TempDirectory() override { return tempDir; }
  platform::DriveKind DriveType(const std::string& root) override {
    roots.push_back(root);
    return drive;
  }
  bool CreateUniqueTempFile(const std::string& d, const std::string& pre, std::string& p) override {
    uniqueCalls.push_back(d + "|" + pre);
    if (failUnique) return false;
    p = d + pre.substr(0, 3) + "1A2B.tmp";
    return true;
  }
  std::string RuntimeTempName() override { return "runtime-name"; }

  std::string tempDir = "Q:\\tmp\\";
  bool tempDirExists = true;
  platform::DriveKind drive = platform::DriveKind::Fixed;
  bool failUnique = false;
  bool failMakeDirectory = false;
  bool allFallbackNamesTaken = false;
  std::vector<std::string> madeDirs, opened, roots, uniqueCalls;

  // Where c:\temp lives for this test.
  std::string FallbackDir() const { return dir_.Join("ctemp"); }

 private:
  static bool IsFallback(const std::string& p) { return p.compare(0, 7, "c:\\temp") == 0; }
  std::string Map(const std::string& p) const {
    if (!IsFallback(p)) return p;
    std::string rest = p.substr(7);
    for (char& c : rest) {
      if (c == '\\') c = testutil::Sep()[0];
    }
    return FallbackDir() + rest;
  }
  const TempDir& dir_;
  char sep_;
};

TEST(MakeTempName, UsesTheSystemUniqueFileWhenTheTemporaryDirectoryIsUsable) {
  TempDir dir;
  TempNameOs os(dir);
  OsGuard guard(&os);
  EXPECT_EQ(MakeTempName("zalxyz"), "Q:\\tmp\\zal1A2B.tmp");
  ASSERT_EQ(os.roots.size(), 1u);
  EXPECT_EQ(os.roots[0], "Q:\\");
  ASSERT_EQ(os.uniqueCalls.size(), 1u);
  EXPECT_EQ(os.uniqueCalls[0], "Q:\\tmp\\|zalxyz");

  os.failUnique = true;
  EXPECT_EQ(MakeTempName("zal"), "") << "a failing system call leaves the name empty";
}

TEST(MakeTempName, CdRomOrMissingTemporaryDirectoryFallsBackToCTemp) {
  for (int missing = 0; missing < 2; ++missing) {
    TempDir dir;
    TempNameOs os(dir);
    if (missing) {
      os.tempDirExists = false;
    } else {
      os.drive = platform::DriveKind::CdRom;
    }
    OsGuard guard(&os);
    EXPECT_EQ(MakeTempName("abc"), "c:\\temp\\ZAL0.tmp") << "fixed prefix whatever was passed";
    EXPECT_TRUE(os.uniqueCalls.empty());
    ASSERT_EQ(os.madeDirs.size(), 1u);
    EXPECT_EQ(os.madeDirs[0], "c:\\temp");
    bool ok = false;
    EXPECT_EQ(testutil::ReadFile(os.FallbackDir() + testutil::Sep() + "ZAL0.tmp", &ok), "");
    EXPECT_TRUE(ok) << "the fallback file is created empty";

    // The next free number is taken; the existing directory is not made again.
    EXPECT_EQ(MakeTempName("abc"), "c:\\temp\\ZAL1.tmp");
    EXPECT_EQ(os.madeDirs.size(), 1u);
  }
}

TEST(MakeTempName, LastFallbackIsTheRuntimeName) {
  TempDir dir;
  {
    TempNameOs os(dir);
    os.tempDirExists = false;
    os.failMakeDirectory = true;
    OsGuard guard(&os);
    EXPECT_EQ(MakeTempName("zal"), "runtime-name");
    EXPECT_TRUE(os.opened.empty()) << "nothing is created on the last fallback";
  }
  {
    TempNameOs os(dir);
    os.tempDirExists = false;
    ASSERT_TRUE(testutil::MakeDirs(os.FallbackDir()));
    os.allFallbackNamesTaken = true;
    OsGuard guard(&os);
    EXPECT_EQ(MakeTempName("zal"), "runtime-name");
    EXPECT_TRUE(os.opened.empty());
  }
  {
    // POSIX has no c:\temp: straight to the runtime name.
    TempNameOs os(dir, '/');
    os.tempDir = "/no/such/dir/";
    os.tempDirExists = false;
    OsGuard guard(&os);
    EXPECT_EQ(MakeTempName("zal"), "runtime-name");
    EXPECT_TRUE(os.madeDirs.empty());
  }
}

}  // namespace
