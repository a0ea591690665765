#include "builder/compressor.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/unit/sfx_test_parser.h"
#include "tests/unit/test_util.h"

namespace {

using testutil::TempDir;

struct OsGuard {
  explicit OsGuard(platform::Os* os) { platform::SetForTesting(os); }
  ~OsGuard() { platform::SetForTesting(nullptr); }
};

// Reads a data file (archive header and entries) with the tests' own parser: it is framed as a
// program file with an empty stub and a minimal settings block.
sfxtest::Archive ParseDataFile(const std::string& data) {
  sfxtest::SettingsBlock s;
  s.version = 1;
  const std::string program = sfxtest::ExpectedSettingsBlock(s) + data + sfxtest::LE32(0);
  sfxtest::Archive a;
  std::string why;
  EXPECT_TRUE(sfxtest::Parse(program, a, &why)) << why;
  return a;
}

// What zlib's own gzip-file writer produces for content, opened with mode "wb9 ", written in
// chunks of the given size.
std::string GzipFileWriter(const TempDir& dir, const std::string& content, size_t chunk) {
  const std::string path = dir.Join("reference.gz");
  gzFile gz = gzopen(path.c_str(), "wb9 ");
  EXPECT_NE(gz, nullptr);
  if (gz == nullptr) return std::string();
  for (size_t at = 0; at < content.size(); at += chunk) {
    const size_t n = std::min(chunk, content.size() - at);
    EXPECT_EQ(gzwrite(gz, content.data() + at, static_cast<unsigned>(n)), static_cast<int>(n));
  }
  EXPECT_EQ(gzclose(gz), Z_OK);
  return testutil::ReadFile(path);
}

class CompressorTest : public ::testing::Test {
 protected:
  // A compressor as the build driver sets it up.
  void SetUpCompressor(TCompressor& c, uint8_t method) {
    c.OutputPath = dataPath_;
    c.Method = method;
    c.Buffer.assign(64000, 0);
    c.StatusWindow = [this](const std::string& line) { progress_.push_back(line); };
  }
  std::string Source(const std::string& name, const std::string& content) {
    const std::string path = dir_.Join(name);
    EXPECT_TRUE(testutil::WriteFile(path, content));
    return path;
  }
  bool Add(TCompressor& c, const std::string& path, const std::string& stored) {
    c.SourcePath = path;
    c.StoredName = stored;
    return c.AddFile();
  }

  TempDir dir_;
  std::string dataPath_ = dir_.Join("data.tmp");
  std::vector<std::string> progress_;
};

TEST_F(CompressorTest, GzipEntriesAreTheBytesOfZlibsGzipFileWriter) {
  const size_t sizes[] = {0, 1, 100, 63999, 64000, 64001, 200000, 1000003};
  std::vector<std::string> contents;
  TCompressor c;
  SetUpCompressor(c, 1);
  c.FileCount = static_cast<int32_t>(std::size(sizes));
  for (size_t i = 0; i < std::size(sizes); ++i) {
    contents.push_back(sfxtest::Content(sizes[i], uint32_t(i + 1)));
    const std::string path = Source("g" + std::to_string(i) + ".bin", contents.back());
    ASSERT_TRUE(Add(c, path, "\\g" + std::to_string(i) + ".bin")) << c.LastError;
  }
  c.Close();
  const sfxtest::Archive a = ParseDataFile(testutil::ReadFile(dataPath_));
  ASSERT_EQ(a.entries.size(), contents.size());
  EXPECT_EQ(a.leftover, "");
  for (size_t i = 0; i < contents.size(); ++i) {
    const sfxtest::Entry& e = a.entries[i];
    EXPECT_EQ(e.method, 1);
    EXPECT_EQ(e.size, contents[i].size());
    EXPECT_EQ(e.compressedSize, e.data.size());
    // Identical to the gzip-file writer, however the input is handed to it.
    EXPECT_TRUE(e.data == GzipFileWriter(dir_, contents[i], 64000)) << "size " << sizes[i];
    EXPECT_TRUE(e.data == GzipFileWriter(dir_, contents[i], 4096)) << "size " << sizes[i];
    bool ok = false;
    EXPECT_TRUE(sfxtest::Gunzip(e.data, &ok) == contents[i]) << "size " << sizes[i];
    EXPECT_TRUE(ok);
  }
}

TEST_F(CompressorTest, Bzip2EntriesAreTheBytesOfBzip2Minus9) {
  const size_t sizes[] = {0, 1, 64000, 250000, 1000003};
  TCompressor c;
  SetUpCompressor(c, 0);
  std::vector<std::string> contents;
  for (size_t i = 0; i < std::size(sizes); ++i) {
    contents.push_back(sfxtest::Content(sizes[i], uint32_t(100 + i)));
    const std::string path = Source("b" + std::to_string(i) + ".bin", contents.back());
    ASSERT_TRUE(Add(c, path, "\\b" + std::to_string(i))) << c.LastError;
  }
  c.Close();
  const sfxtest::Archive a = ParseDataFile(testutil::ReadFile(dataPath_));
  ASSERT_EQ(a.entries.size(), contents.size());
  EXPECT_EQ(a.method, 0);
  for (size_t i = 0; i < contents.size(); ++i) {
    const sfxtest::Entry& e = a.entries[i];
    EXPECT_EQ(e.method, 0);
    EXPECT_EQ(e.size, contents[i].size());
    EXPECT_TRUE(e.data == sfxtest::Bzip2(contents[i])) << "size " << sizes[i];
  }
}

TEST_F(CompressorTest, DataFileHoldsHeaderThenFilledInEntries) {
  const std::string a1 = Source("one.txt", "Hallo Welt\r\n");
  const std::string a2 = Source("two.txt", std::string(70000, 'x'));
  platform::DosTime t;
  t.seconds2 = 29;
  t.minute = 31;
  t.hour = 14;
  t.day = 7;
  t.month = 12;
  t.year1980 = 46;
  ASSERT_TRUE(platform::Real().SetLastWriteDosTime(a1, t));
  t.seconds2 = 0;
  t.minute = 0;
  t.hour = 0;
  t.day = 1;
  t.month = 1;
  t.year1980 = 30;
  ASSERT_TRUE(platform::Real().SetLastWriteDosTime(a2, t));

  TCompressor c;
  SetUpCompressor(c, 1);
  c.FileCount = 2;
  c.TotalSize = 70012;
  ASSERT_TRUE(Add(c, a1, "\\Daten\\one.txt"));
  ASSERT_TRUE(Add(c, a2, "\\Daten\\two.txt"));
  c.Close();
  EXPECT_EQ(c.OutFile, nullptr);
  EXPECT_EQ(c.InFile, nullptr);
  EXPECT_TRUE(c.Buffer.empty()) << "Close releases the buffer";

  const std::string bytes = testutil::ReadFile(dataPath_);
  ASSERT_GE(bytes.size(), 17u);
  EXPECT_EQ(bytes.substr(0, 17), std::string("SFX2") + sfxtest::LE32(2) + sfxtest::LE32(70012) +
                                     sfxtest::LE32(0) + std::string(1, '\x01'));
  const sfxtest::Archive a = ParseDataFile(bytes);
  ASSERT_EQ(a.entries.size(), 2u);
  EXPECT_EQ(a.leftover, "");
  EXPECT_EQ(a.entries[0].name, "\\Daten\\one.txt");
  EXPECT_EQ(a.entries[1].name, "\\Daten\\two.txt");
  const uint32_t first[6] = {29, 31, 14, 7, 12, 46};
  const uint32_t second[6] = {0, 0, 0, 1, 1, 30};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(a.entries[0].date[i], first[i]) << i;
    EXPECT_EQ(a.entries[1].date[i], second[i]) << i;
  }
  for (const sfxtest::Entry& e : a.entries) {
    EXPECT_EQ(e.zeroByte, 0);
    EXPECT_EQ(e.zeroWord, 0u);
  }
  EXPECT_EQ(a.entries[1].size, 70000u);
  // The first header sits right behind the archive header: name length 14, the name.
  EXPECT_EQ(bytes.substr(17, 16), sfxtest::LE16(14) + "\\Daten\\one.txt");
}

TEST_F(CompressorTest, ProgressAfterEachChunkWithTruncatingPercentages) {
  const std::string big = Source("big.bin", sfxtest::Content(150000, 5));
  const std::string exact = Source("exact.bin", std::string(64000, 'e'));
  const std::string one = Source("one.bin", "1");
  const std::string empty = Source("empty.bin", "");
  TCompressor c;
  SetUpCompressor(c, 0);
  c.TotalSize = 300000;
  ASSERT_TRUE(Add(c, big, "\\big"));
  ASSERT_TRUE(Add(c, exact, "\\exact"));
  ASSERT_TRUE(Add(c, empty, "\\empty"));
  ASSERT_TRUE(Add(c, one, "\\one"));
  const std::vector<std::string> expected = {
      "Datei: " + big + ", 42 Prozent, Total: 21 Prozent",
      "Datei: " + big + ", 85 Prozent, Total: 42 Prozent",
      "Datei: " + big + ", 100 Prozent, Total: 50 Prozent",
      "Datei: " + exact + ", 100 Prozent, Total: 71 Prozent",
      // the empty file shows nothing; one byte is 100 percent of itself
      "Datei: " + one + ", 100 Prozent, Total: 71 Prozent",
  };
  EXPECT_EQ(progress_, expected);
  EXPECT_EQ(c.BytesDone, 214001);
}

TEST_F(CompressorTest, TotalPercentageStaysWithinZeroToHundred) {
  const std::string f = Source("f.bin", std::string(100, 'f'));
  {
    TCompressor c;  // TotalSize 0: divisor 1, shown as 100 rather than 10000
    SetUpCompressor(c, 1);
    c.TotalSize = 0;
    ASSERT_TRUE(Add(c, f, "\\f"));
    ASSERT_EQ(progress_.size(), 1u);
    EXPECT_EQ(progress_[0], "Datei: " + f + ", 100 Prozent, Total: 100 Prozent");
  }
  progress_.clear();
  {
    // A tree over 4 GiB: the wrapped 32-bit total would mislead; the exact total is used.
    TCompressor c;
    SetUpCompressor(c, 1);
    c.TotalSize = 1;
    c.TrueTotalSize = 5000000000ULL;
    c.BytesDone = 2500000000LL;
    ASSERT_TRUE(Add(c, f, "\\f"));
    ASSERT_EQ(progress_.size(), 1u);
    EXPECT_EQ(progress_[0], "Datei: " + f + ", 100 Prozent, Total: 50 Prozent");
  }
  progress_.clear();
  {
    // Without a status line nothing is reported and nothing breaks.
    TCompressor c;
    SetUpCompressor(c, 0);
    c.StatusWindow = nullptr;
    ASSERT_TRUE(Add(c, f, "\\f"));
    EXPECT_TRUE(progress_.empty());
  }
}

TEST_F(CompressorTest, EmptyStoredNameFailsBeforeAnythingIsWritten) {
  const std::string f = Source("f.bin", "abc");
  TCompressor c;
  SetUpCompressor(c, 0);
  EXPECT_FALSE(Add(c, f, ""));
  EXPECT_FALSE(platform::Real().Exists(dataPath_));
  c.SourcePath.clear();
  c.StoredName = "\\f";
  EXPECT_FALSE(c.AddFile());
  EXPECT_FALSE(platform::Real().Exists(dataPath_));
}

TEST_F(CompressorTest, UnopenableSourceLeavesABlankHeaderAndFails) {
  const std::string good = Source("good.txt", "good");
  TCompressor c;
  SetUpCompressor(c, 1);
  c.FileCount = 2;
  ASSERT_TRUE(Add(c, good, "\\good.txt"));
  EXPECT_FALSE(Add(c, dir_.Join("missing.txt"), "\\missing.txt"));
  EXPECT_EQ(c.LastError, "Datei kann nicht gelesen werden");
  c.Close();
  const sfxtest::Archive a = ParseDataFile(testutil::ReadFile(dataPath_));
  ASSERT_EQ(a.entries.size(), 2u);
  const sfxtest::Entry& blank = a.entries[1];
  EXPECT_EQ(blank.name, "\\missing.txt");
  for (uint32_t v : blank.date) EXPECT_EQ(v, 0u);
  EXPECT_EQ(blank.size, 0u);
  EXPECT_EQ(blank.compressedSize, 0u);
  EXPECT_EQ(blank.method, 1);
  EXPECT_EQ(a.leftover, "");
}

TEST_F(CompressorTest, StoredNamesLongerThan259BytesAreRefused) {
  const std::string f = Source("f.bin", "abc");
  TCompressor c;
  SetUpCompressor(c, 1);
  const std::string longest = "\\" + std::string(258, 'n');
  ASSERT_TRUE(Add(c, f, longest));
  EXPECT_FALSE(Add(c, f, longest + "n"));
  EXPECT_FALSE(c.LastError.empty());
  c.Close();
  const sfxtest::Archive a = ParseDataFile(testutil::ReadFile(dataPath_));
  ASSERT_EQ(a.entries.size(), 1u) << "nothing of the refused entry is written";
  EXPECT_EQ(a.entries[0].name, longest);
  EXPECT_EQ(a.leftover, "");
}

// A file the 32-bit size fields cannot describe fails before its header is written. The file is
// sparse, so nothing of it is ever read.
TEST_F(CompressorTest, FilesOver2GiBFailBeforeTheirEntry) {
  const std::string huge = dir_.Join("huge.bin");
  ASSERT_TRUE(testutil::WriteFile(huge, ""));
  std::error_code ec;
  std::filesystem::resize_file(std::filesystem::path(huge), 0x80000000ULL, ec);
  if (ec) GTEST_SKIP() << "no sparse file here: " << ec.message();
  const std::string small = Source("small.bin", "small");
  for (uint8_t method : {uint8_t{0}, uint8_t{1}}) {
    TCompressor c;
    SetUpCompressor(c, method);
    ASSERT_TRUE(Add(c, small, "\\small.bin"));
    EXPECT_FALSE(Add(c, huge, "\\huge.bin"));
    EXPECT_EQ(c.LastError, "Datei ist zu gro\xDF f\xFCr das Archivformat (mehr als 2 GB)");
    c.Close();
    const sfxtest::Archive a = ParseDataFile(testutil::ReadFile(dataPath_));
    ASSERT_EQ(a.entries.size(), 1u);
    EXPECT_EQ(a.entries[0].name, "\\small.bin");
    EXPECT_EQ(a.leftover, "");
  }
  testutil::WriteFile(huge, "");
}

// An Os whose data file can be opened but not written.
class ReadOnlyDataOs : public platform::ForwardingOs {
 public:
  explicit ReadOnlyDataOs(const std::string& data) : ForwardingOs(platform::Real()), data_(data) {}
  std::FILE* Open(const std::string& p, const char* m) override {
    if (p == data_ && std::string(m) == "wb") {
      testutil::WriteFile(p, "");
      return inner_.Open(p, "rb");
    }
    return inner_.Open(p, m);
  }

 private:
  std::string data_;
};

// A data file that grows beyond DataLimit fails the file that took it there, as too large, not
// as a failed write; up to the limit every file is added.
TEST_F(CompressorTest, ADataFileBeyondItsLimitFailsAsTooLarge) {
  const std::string files[2] = {Source("a.bin", sfxtest::Content(30000, 3)),
                                Source("b.bin", sfxtest::Content(20000, 4))};
  // Adds both files under limit: how many were added, and the data file's end after each.
  auto addBoth = [&](uint64_t limit, std::vector<uint64_t>& ends) {
    TCompressor c;
    SetUpCompressor(c, 1);
    c.DataLimit = limit;
    int added = 0;
    while (added < 2 && Add(c, files[added], "\\f" + std::to_string(added))) {
      ends.push_back(static_cast<uint64_t>(platform::Tell64(c.OutFile)));
      ++added;
    }
    EXPECT_EQ(c.TooLarge, added < 2) << limit;
    EXPECT_FALSE(c.OutputFailed) << limit;
    EXPECT_EQ(c.LastError, added < 2 ? "Das Archiv wird 4 GiB gro\xDF oder gr\xF6\xDF"
                                       "er"
                                     : "");
    return added;
  };
  std::vector<uint64_t> ends;
  ASSERT_EQ(addBoth(0, ends), 2);  // no limit
  const std::pair<uint64_t, int> cases[] = {
      {ends[1], 2}, {ends[1] - 1, 1}, {ends[0], 1}, {ends[0] - 1, 0}, {1, 0}};
  for (const auto& c : cases) {
    std::vector<uint64_t> unused;
    EXPECT_EQ(addBoth(c.first, unused), c.second) << "limit " << c.first;
  }
}

TEST_F(CompressorTest, UnwritableDataFileFails) {
  const std::string f = Source("f.bin", sfxtest::Content(10000, 9));
  for (uint8_t method : {uint8_t{0}, uint8_t{1}}) {
    ReadOnlyDataOs os(dataPath_);
    OsGuard guard(&os);
    TCompressor c;
    SetUpCompressor(c, method);
    EXPECT_FALSE(Add(c, f, "\\f.bin"));
    EXPECT_FALSE(c.LastError.empty());
  }
  TCompressor c;
  SetUpCompressor(c, 1);
  c.OutputPath = dir_.Join("no/such/dir/data.tmp");
  EXPECT_FALSE(Add(c, f, "\\f.bin"));
}

}  // namespace
