// The builder refuses, before it writes or removes anything, a Linux tree whose archive the
// extractor would refuse on Windows: names that collide there, names Windows cannot hold, names
// code page 1252 cannot write. The tree is made with POSIX names (UTF-8 on disk).
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "archive/stored_name.h"
#include "builder/batch_run.h"
#include "builder/build_driver.h"
#include "builder/source_names.h"
#include "platform/posix/cp1252.h"
#include "tests/unit/fake_front_end.h"
#include "tests/unit/sfx_test_parser.h"
#include "tests/unit/test_util.h"

namespace {

namespace fs = std::filesystem;
using testfe::FakeFrontEnd;
using testfe::OsGuard;
using testfe::RecordingOs;

class SourceNamesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Settings = TInstallInf();
    BatchReport.Clear();
    BatchRunning = 0;
    ASSERT_TRUE(testutil::WriteFile(dir_.Join("prog/tambrix.res1"), "MZ bzip2 stub"));
    ASSERT_TRUE(testutil::WriteFile(dir_.Join("prog/tambrix.res2"), "MZ gzip stub"));
    ASSERT_TRUE(testutil::MakeDirs(dir_.Join("src")));
    ASSERT_TRUE(testutil::WriteFile(dir_.Join("src/ok.txt"), "harmlos"));
    ui_.fields.SfxName = dir_.Join("out.exe");
    ui_.SetSource(dir_.Join("src"));
  }
  void TearDown() override { BatchRunning = 0; }

  void Add(const std::string& utf8Rel) {
    ASSERT_TRUE(testutil::WriteFile(dir_.Join("src/" + utf8Rel), "x")) << utf8Rel;
  }
  BuildResult Build() {
    OsGuard guard(&os_);
    return testfe::BuildFromFields(ui_, dir_.Join("prog"));
  }
  // The build was refused with one message naming every given part, and wrote nothing.
  void ExpectRefused(const std::vector<std::string>& named) {
    ASSERT_TRUE(testutil::WriteFile(dir_.Join("out.exe"), "older program"));
    EXPECT_EQ(Build(), BuildResult::NamesRefused);
    ASSERT_EQ(ui_.messages.size(), 1u);
    const std::string& m = ui_.messages[0];
    for (const std::string& part : named) EXPECT_NE(m.find(part), std::string::npos) << m;
    EXPECT_NE(m.find(kMsgNamesRefused), std::string::npos) << m;
    // Nothing was written and nothing was removed: no data file, the older program untouched.
    EXPECT_TRUE(os_.tempFiles.empty());
    EXPECT_EQ(testutil::ReadFile(dir_.Join("out.exe")), "older program");
    EXPECT_EQ(ui_.beginWait, ui_.endWait);
  }

  testutil::TempDir dir_;
  FakeFrontEnd ui_;
  RecordingOs os_;
};

TEST_F(SourceNamesTest, NamesThatDifferOnlyInCaseAreRefusedAsAPair) {
  Add("Liesmich.txt");
  Add("liesmich.txt");
  ExpectRefused({"src/Liesmich.txt\"", "src/liesmich.txt\"", "\" und \""});
}

TEST_F(SourceNamesTest, CaseTwinsBeyondAsciiAreRefused) {
  Add("\xC5\x92.txt");  // the OE ligature, and below it its small letter
  Add("\xC5\x93.txt");
  ExpectRefused({"src/\x8C.txt", "src/\x9C.txt"});
}

TEST_F(SourceNamesTest, FoldersThatDifferOnlyInCaseMeetAndAFileMayNotStandForAFolder) {
  Add("Daten/a.txt");
  Add("DATEN/b.txt");
  EXPECT_EQ(Build(), BuildResult::Success) << (ui_.messages.empty() ? "" : ui_.messages[0]);
  ui_.messages.clear();
  os_.tempFiles.clear();
  Add("d");
  Add("D/x.txt");
  ExpectRefused({"src/d\"", "src/D/x.txt\""});
}

TEST_F(SourceNamesTest, NamesWindowsCannotHoldAreRefusedByName) {
  for (const char* bad : {"nul.txt", "Com1", "trail.", "blank ", "x:y", "ctl\x01.txt", "st*r",
                          "a\\..\\..\\evil.txt", "sub\\x.txt"}) {
    SCOPED_TRACE(bad);
    fs::remove_all(dir_.Join("src"));
    ASSERT_TRUE(testutil::MakeDirs(dir_.Join("src")));
    Add(bad);
    ui_.messages.clear();
    os_.tempFiles.clear();
    ExpectRefused({std::string("src/") + bad});
  }
}

TEST_F(SourceNamesTest, NamesOutsideTheCodePageAreRefused) {
  Add("\xE6\x97\xA5\xE6\x9C\xAC.txt");  // two CJK characters
  ExpectRefused({"Codepage 1252"});
  fs::remove_all(dir_.Join("src"));
  ASSERT_TRUE(testutil::MakeDirs(dir_.Join("src/\xCE\xB1")));  // a Greek folder
  Add("\xCE\xB1/a.txt");
  ui_.messages.clear();
  ExpectRefused({"Codepage 1252"});
}

// Names from Latin-1 file systems: bytes that are no UTF-8 but each a character of code page 1252
// are that code page's name and are packed as they are; beside the same name in UTF-8 they are a
// pair like any other. Bytes neither encoding reads are refused, and the message says why.
TEST_F(SourceNamesTest, RawCodePageNamesArePackedAndUndefinedBytesRefused) {
  struct Case {
    const char* what;
    std::vector<std::string> files;  // below src, as bytes on disk
    bool packed;
    // Packed: the raw file's stored name ends so, and it reads back as this UTF-8 name.
    // Refused: parts of the message.
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"a Latin-1 file",
       {"raw/sub/gr\xFC\xDF.txt"},
       true,
       {"\\raw\\sub\\gr\xFC\xDF.txt", "raw\\sub\\gr\xC3\xBC\xC3\x9F.txt"}},
      {"a Latin-1 folder",
       {"d\xFC/\xC3\xA4.txt"},
       true,
       {"\\d\xFC\\\xE4.txt", "d\xC3\xBC\\\xC3\xA4.txt"}},
      {"beside its UTF-8 twin",
       {"gr\xFC\xDF.txt", "gr\xC3\xBC\xC3\x9F.txt"},
       false,
       {"Die Dateien \"" + dir_.Join("src/gr\xFC\xDF.txt") + "\"",
        "src/gr\xFC\xDF.txt\" (auf der Platte Codepage 1252, nicht UTF-8)", "denselben Namen"}},
      {"an undefined byte",
       {"a\x81.txt"},
       false,
       {"\"" + dir_.Join("src/a\x81.txt") +
        "\" ist weder UTF-8 noch Codepage 1252: das Byte 0x81 "
        "ist in Codepage 1252 kein Zeichen."}},
      {"an undefined byte in a folder", {"\x9D\xE4/x.txt"}, false, {"src/\x9D\xE4/x.txt", "0x9D"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(dir_.Join("src"));
    fs::remove(dir_.Join("out.exe"));
    ASSERT_TRUE(testutil::WriteFile(dir_.Join("src/ok.txt"), "harmlos"));
    for (const std::string& f : c.files) Add(f);
    ui_.messages.clear();
    os_.tempFiles.clear();
    if (!c.packed) {
      ExpectRefused(c.expected);
      continue;
    }
    ASSERT_EQ(Build(), BuildResult::Success) << (ui_.messages.empty() ? "" : ui_.messages[0]);
    sfxtest::Archive a;
    ASSERT_TRUE(sfxtest::Parse(testutil::ReadFile(dir_.Join("out.exe")), a));
    ASSERT_EQ(a.entries.size(), 2u);
    const sfxtest::Entry& raw =
        a.entries[0].name.find("ok.txt") == std::string::npos ? a.entries[0] : a.entries[1];
    const std::string& suffix = c.expected[0];
    ASSERT_GE(raw.name.size(), suffix.size());
    EXPECT_EQ(raw.name.substr(raw.name.size() - suffix.size()), suffix);
    const std::string shown = platform::posix::Cp1252ToUtf8(raw.name);
    EXPECT_EQ(shown.substr(shown.size() - c.expected[1].size()), c.expected[1]);
    bool ok = false;
    EXPECT_EQ(sfxtest::Gunzip(raw.data, &ok), "x");
    EXPECT_TRUE(ok);
  }
}

TEST_F(SourceNamesTest, StoredNamesBeyond259BytesAreRefused) {
  const std::string folder(120, 'v');
  ASSERT_TRUE(testutil::MakeDirs(dir_.Join("src/" + folder)));
  Add(folder + "/" + std::string(140, 'f'));
  ExpectRefused({"259"});
}

TEST_F(SourceNamesTest, FlatUnpackingRefusesTheSameLeafInTwoFolders) {
  Add("x/r.txt");
  Add("y/R.TXT");
  ui_.fields.StoreDirNames = 1;
  EXPECT_EQ(Build(), BuildResult::Success);
  ui_.messages.clear();
  os_.tempFiles.clear();
  ui_.fields.StoreDirNames = 0;
  ExpectRefused({"src/x/r.txt", "src/y/R.TXT", "ohne Verzeichnisnamen"});
}

TEST_F(SourceNamesTest, ABatchRunReportsTheRefusalAndBuildsTheOtherArchives) {
  ASSERT_TRUE(testutil::MakeDirs(dir_.Join("twins")));
  ASSERT_TRUE(testutil::WriteFile(dir_.Join("twins/a.txt"), "1"));
  ASSERT_TRUE(testutil::WriteFile(dir_.Join("twins/A.txt"), "2"));
  const std::string ini =
      "[SFX_GLOBAL]\r\nNUM_SFX=2\r\n[SFX1]\r\nSOURCEPATH=" + dir_.Join("twins") +
      "\r\nSFX_NAME=" + dir_.Join("t.exe") + "\r\n[SFX2]\r\nSOURCEPATH=" + dir_.Join("src") +
      "\r\nSFX_NAME=" + dir_.Join("s.exe") + "\r\n";
  ASSERT_TRUE(testutil::WriteFile(dir_.Join("tambbatch.ini"), ini));
  OsGuard guard(&os_);
  BuildOptions build;
  build.stubDir = dir_.Join("prog");
  const BatchSummary summary = RunBatch(ui_, dir_.Join("tambbatch.ini"), build);
  EXPECT_EQ(summary.built, 1);
  EXPECT_EQ(summary.failed, 1);
  ASSERT_EQ(ui_.reports.size(), 1u);
  const std::string& report = ui_.reports[0];
  EXPECT_NE(report.find("Abbruch: "), std::string::npos) << report;
  EXPECT_NE(report.find("twins/a.txt"), std::string::npos) << report;
  EXPECT_NE(report.find("twins/A.txt"), std::string::npos) << report;
  EXPECT_FALSE(fs::exists(dir_.Join("t.exe")));
  EXPECT_TRUE(fs::exists(dir_.Join("s.exe")));
}

TEST(SourceNames, ManyProblemsAreCountedBeyondTheTenShown) {
  std::vector<TFileInfo> files;
  for (int i = 0; i < 25; ++i) files.emplace_back("/s/d/nul." + std::to_string(i), 1);
  std::string message;
  ASSERT_FALSE(CheckSourceNames(files, "/s/d", '/', true, message));
  EXPECT_NE(message.find("... und 15 weitere."), std::string::npos) << message;
  files.clear();
  files.emplace_back("/s/d/a.txt", 1);
  files.emplace_back("/s/d/b/a.txt", 1);
  EXPECT_TRUE(CheckSourceNames(files, "/s/d", '/', true, message));
}

}  // namespace
