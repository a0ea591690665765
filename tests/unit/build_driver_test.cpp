#include "builder/build_driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>

#include "archive/byte_source.h"
#include "archive/stub_look.h"
#include "platform/platform.h"
#include "support/dir_scanner.h"
#include "tests/unit/fake_front_end.h"
#include "tests/unit/pe_test_image.h"
#include "tests/unit/sfx_test_parser.h"
#include "tests/unit/test_util.h"

namespace {

using testfe::FakeFrontEnd;
using testfe::OsGuard;
using testfe::RecordingOs;
using testutil::TempDir;

const std::string kSuccess = "Das Archiv wurde ordnungsgem\xE4\xDF erstellt!";
const std::string kFailed = "Fehler bei der Erstellung des Archivs!";

class BuildDriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Settings = TInstallInf();
    BatchReport.Clear();
    BatchRunning = 0;
    stubDir_ = dir_.Join("prog");
    stub1_ = "MZ bzip2 stub " + sfxtest::Content(3000, 11);
    stub2_ = "MZ gzip stub " + sfxtest::Content(2500, 12);
    ASSERT_TRUE(testutil::WriteFile(dir_.Join("prog/tambrix.res1"), stub1_));
    ASSERT_TRUE(testutil::WriteFile(dir_.Join("prog/tambrix.res2"), stub2_));
    src_ = dir_.Join("src");
    ASSERT_TRUE(testutil::MakeDirs(src_));
    sfx_ = dir_.Join("out.exe");
    ui_.fields.SfxName = sfx_;
    ui_.SetSource(src_);
  }
  void TearDown() override {
    BatchRunning = 0;
    BatchReport.Clear();
  }

  void AddSource(const std::string& rel, const std::string& content) {
    const std::string full = dir_.Join("src/" + rel);
    ASSERT_TRUE(testutil::WriteFile(full, content));
    contents_[Stored(full)] = content;
  }
  // The stored name of a file below the test's source directory: the full path from its second
  // separator on, with backslashes (the source lies deeper than the first directory level).
  static std::string Stored(const std::string& full) {
    const char sep = testutil::Sep()[0];
    const size_t first = full.find(sep);
    std::string name = full.substr(full.find(sep, first + 1));
    std::replace(name.begin(), name.end(), sep, '\\');
    return name;
  }
  // The source files in the order the scanner lists them.
  std::vector<std::string> ListedFiles() {
    TDirList list;
    list.Masks.push_back("*.*");
    list.Recursive = true;
    list.Scan(src_);
    std::vector<std::string> names;
    for (const TFileInfo& f : list.Files) names.push_back(f.Name);
    return names;
  }

  BuildResult Build() {
    OsGuard guard(&os_);
    return testfe::BuildFromFields(ui_, stubDir_);
  }
  // The dialog's build: folders that cannot be read are named and left out.
  BuildResult BuildSkippingUnreadable() {
    OsGuard guard(&os_);
    ui_.TakeSettings(Settings);
    BuildOptions options;
    options.stubDir = stubDir_;
    options.skipUnreadable = true;
    return BuildArchive(ui_, options);
  }
  // A build with the vendor's version texts and level (the icon comes from the fields).
  BuildResult BuildWithLook(const VersionTexts& version, ExecutionLevel level) {
    OsGuard guard(&os_);
    ui_.TakeSettings(Settings);
    BuildOptions options;
    options.stubDir = stubDir_;
    options.version = version;
    options.level = level;
    return BuildArchive(ui_, options);
  }
  sfxtest::Archive Parsed() {
    sfxtest::Archive a;
    std::string why;
    program_ = testutil::ReadFile(sfx_);
    EXPECT_TRUE(sfxtest::Parse(program_, a, &why)) << why;
    return a;
  }
  // Every temporary file of the build is gone: the data files it made, and any program file
  // under its temporary name beside the SFX name.
  void ExpectDataFileDeleted() { ExpectNoTemporaryFiles(); }
  void ExpectNoTemporaryFiles() {
    for (const std::string& t : os_.tempFiles) EXPECT_FALSE(platform::Real().Exists(t)) << t;
    std::vector<platform::DirEntry> left;
    ASSERT_TRUE(platform::Real().ListDirectory(dir_.path(), "tbx*.tmp", left));
    EXPECT_TRUE(left.empty()) << left.front().name;
  }

  TempDir dir_;
  std::string stubDir_, stub1_, stub2_, src_, sfx_, program_;
  std::map<std::string, std::string> contents_;  // stored name -> content
  FakeFrontEnd ui_;
  RecordingOs os_;
};

TEST_F(BuildDriverTest, Bzip2ArchiveIsLaidOutByteForByte) {
  AddSource("a.txt", "Hallo\r\nWelt\r\n");
  AddSource("sub/b.bin", sfxtest::Content(150000, 3));
  AddSource("sub/deep/empty.dat", "");
  ui_.fields.MaxCompression = 1;
  ui_.fields.SfxName = "  " + sfx_ + " ";  // the name is trimmed, the field is not
  ui_.fields.TargetDir = "  C:\\Ziel ";
  ui_.fields.Command = "setup.exe";
  ui_.fields.DialogTitle = "Titel";
  ui_.fields.Terminates = 1;
  ui_.fields.CleanUp = 1;
  ui_.fields.TargetEditable = 0;
  ui_.startAfterwards = true;

  EXPECT_EQ(Build(), BuildResult::Success);
  EXPECT_EQ(ui_.messages, std::vector<std::string>{kSuccess});
  EXPECT_EQ(ui_.beginWait, 1);
  EXPECT_EQ(ui_.endWait, 1);
  ASSERT_FALSE(ui_.progress.empty());
  EXPECT_EQ(ui_.progress.back(), "") << "the status line is emptied after compression";
  EXPECT_EQ(ui_.progress.front().rfind("Datei: ", 0), 0u);
  EXPECT_TRUE(ui_.failed.empty());
  ExpectDataFileDeleted();

  const sfxtest::Archive a = Parsed();
  EXPECT_EQ(program_.substr(0, stub1_.size()), stub1_) << "the stub is copied unchanged";
  EXPECT_EQ(a.settingsOffset, stub1_.size());
  EXPECT_EQ(Settings.SfxName, sfx_);

  sfxtest::SettingsBlock expected;
  expected.version = 1;
  expected.sources = {src_};
  expected.storeDirNames = 1;
  expected.maxCompression = 1;
  expected.targetDir = "C:\\Ziel";
  expected.sfxName = sfx_;
  expected.command = "setup.exe";
  expected.dialogText = kDefaultDialogText;
  expected.infoBefore = kDefaultInfoTextBefore;
  expected.infoAfter = kDefaultInfoTextAfter;
  expected.terminates = 1;
  expected.dialogTitle = "Titel";
  expected.targetEditable = 0;
  expected.cleanUp = 1;
  const std::string block = sfxtest::ExpectedSettingsBlock(expected);
  EXPECT_EQ(program_.substr(stub1_.size(), block.size()), block);

  ASSERT_TRUE(a.hasHeader);
  EXPECT_EQ(a.magic, "SFX2");
  EXPECT_EQ(a.fileCount, 3u);
  EXPECT_EQ(a.totalSize, 150013u);
  EXPECT_EQ(a.reserved, 0u);
  EXPECT_EQ(a.method, 0);
  ASSERT_EQ(a.entries.size(), 3u);
  EXPECT_EQ(a.leftover, "");
  for (const sfxtest::Entry& e : a.entries) {
    ASSERT_EQ(contents_.count(e.name), 1u) << e.name;
    const std::string& content = contents_[e.name];
    EXPECT_EQ(e.method, 0);
    EXPECT_EQ(e.size, content.size());
    EXPECT_TRUE(e.data == sfxtest::Bzip2(content)) << e.name;
    EXPECT_EQ(e.zeroByte, 0);
    EXPECT_EQ(e.zeroWord, 0u);
  }
  // Started once, complete and closed.
  EXPECT_EQ(ui_.started, std::vector<std::string>{sfx_});
  ASSERT_EQ(ui_.startedSize.size(), 1u);
  EXPECT_EQ(ui_.startedSize[0], static_cast<int64_t>(program_.size()));
}

// The build takes every value from Settings and its options; the front end is only told.
TEST_F(BuildDriverTest, TheRecordAloneDrivesTheBuild) {
  AddSource("a.txt", "a");
  ui_.fields = TInstallInf();  // fields that would give no name, no source and gzip
  Settings = TInstallInf();
  Settings.SourcePaths.Add(src_);
  Settings.SfxName = " " + sfx_ + "  ";
  Settings.MaxCompression = 1;
  BuildOptions options;
  options.stubDir = stubDir_;
  options.startAfterwards = true;
  {
    OsGuard guard(&os_);
    EXPECT_EQ(BuildArchive(ui_, options), BuildResult::Success);
  }
  EXPECT_EQ(ui_.takes, 0) << "the build never reads the front end's fields";
  EXPECT_EQ(Settings.SfxName, sfx_) << "trimmed in the record";
  EXPECT_EQ(ui_.messages, std::vector<std::string>{kSuccess});
  const sfxtest::Archive a = Parsed();
  EXPECT_EQ(program_.substr(0, stub1_.size()), stub1_) << "MaxCompression chose tambrix.res1";
  EXPECT_EQ(a.method, 0);
  EXPECT_EQ(a.settings.sources, std::vector<std::string>{src_});
  ASSERT_EQ(a.entries.size(), 1u);
  EXPECT_EQ(a.entries[0].name, Stored(dir_.Join("src/a.txt")));
  EXPECT_EQ(ui_.started, std::vector<std::string>{sfx_}) << "started because the options say so";
}

TEST_F(BuildDriverTest, GzipArchiveUsesTheSecondStubAndInflates) {
  AddSource("x/one.txt", sfxtest::Content(70000, 4));
  AddSource("two.txt", "zwei");
  ui_.fields.MaxCompression = 0;
  EXPECT_EQ(Build(), BuildResult::Success);
  const sfxtest::Archive a = Parsed();
  EXPECT_EQ(program_.substr(0, stub2_.size()), stub2_);
  EXPECT_EQ(a.settingsOffset, stub2_.size());
  EXPECT_EQ(a.settings.maxCompression, 0);
  EXPECT_EQ(a.method, 1);
  ASSERT_EQ(a.entries.size(), 2u);
  for (const sfxtest::Entry& e : a.entries) {
    EXPECT_EQ(e.method, 1);
    bool ok = false;
    EXPECT_TRUE(sfxtest::Gunzip(e.data, &ok) == contents_[e.name]) << e.name;
    EXPECT_TRUE(ok);
  }
  EXPECT_TRUE(ui_.started.empty()) << "not started unless asked";
}

TEST_F(BuildDriverTest, DateBlockComesFromTheLastWriteTime) {
  AddSource("dated.txt", "x");
  platform::DosTime t;
  t.seconds2 = 29;  // 14:31:59 on 7 December 2026
  t.minute = 31;
  t.hour = 14;
  t.day = 7;
  t.month = 12;
  t.year1980 = 46;
  ASSERT_TRUE(platform::Real().SetLastWriteDosTime(dir_.Join("src/dated.txt"), t));
  EXPECT_EQ(Build(), BuildResult::Success);
  const sfxtest::Archive a = Parsed();
  ASSERT_EQ(a.entries.size(), 1u);
  const uint32_t expected[6] = {29, 31, 14, 7, 12, 46};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(a.entries[0].date[i], expected[i]) << i;
}

// With every other string empty the block is 28 + n bytes plus the program's own name, which a
// build cannot leave empty.
TEST_F(BuildDriverTest, SettingsBlockWithEmptyStringsTakes28PlusNBytes) {
  for (std::string* text : {&ui_.fields.DialogText, &ui_.fields.DialogTitle,
                            &ui_.fields.InfoTextBefore, &ui_.fields.InfoTextAfter}) {
    *text = "   ";  // blanks only: trimmed to nothing
  }
  AddSource("a.txt", "a");  // an empty tree gives no archive at all
  EXPECT_EQ(Build(), BuildResult::Success);
  const sfxtest::Archive a = Parsed();
  const size_t n = src_.size();
  EXPECT_EQ(a.settings.size, 28 + n + sfx_.size());
  EXPECT_TRUE(a.hasHeader);
  // stub, block, compressed part, offset: nothing else.
  EXPECT_EQ(program_.size(), stub2_.size() + a.settings.size + a.compressedPart.size() + 4);
  const std::string zero(1, '\0');
  const std::string block = "\x01" + sfxtest::LE16(1) + sfxtest::Str(src_) + "\x01" + zero +
                            sfxtest::LE16(0) + sfxtest::Str(sfx_) + std::string(12, '\0') + zero +
                            sfxtest::LE16(0) + "\x01" + zero;
  EXPECT_EQ(program_.substr(stub2_.size(), block.size()), block);
  EXPECT_EQ(program_.substr(program_.size() - 4), sfxtest::LE32(uint32_t(stub2_.size())));
  EXPECT_EQ(ui_.messages, std::vector<std::string>{kSuccess});
}

// A source directory that is not there is a failed build naming it, not an empty archive; an
// older program file stays as it was.
TEST_F(BuildDriverTest, SourceThatIsNoDirectoryFailsTheBuildAndKeepsTheOldFile) {
  ASSERT_TRUE(testutil::WriteFile(sfx_, "old program"));
  ASSERT_TRUE(testutil::WriteFile(dir_.Join("a-file"), "x"));
  const std::string missing = dir_.Join("does-not-exist");
  const std::string file = dir_.Join("a-file");
  const std::pair<std::string, std::string> cases[] = {
      {missing, "Das Quellverzeichnis " + missing + " existiert nicht!"},
      {file, "Das Quellverzeichnis " + file + " ist kein Verzeichnis!"},
      {"", "Es wurde noch kein Quellverzeichnis angegeben!"},
  };
  for (const auto& c : cases) {
    ui_ = FakeFrontEnd();
    ui_.fields.SfxName = sfx_;
    ui_.SetSource(c.first);
    ui_.startAfterwards = true;
    EXPECT_EQ(Build(), BuildResult::SourceMissing) << c.first;
    EXPECT_EQ(ui_.messages, std::vector<std::string>{c.second});
    EXPECT_TRUE(ui_.started.empty());
    EXPECT_EQ(ui_.endWait, 1);
    EXPECT_EQ(testutil::ReadFile(sfx_), "old program");
    EXPECT_TRUE(os_.tempFiles.empty()) << "no data file is made";
    ExpectNoTemporaryFiles();
  }
}

// A build that would pack no file fails as for a missing source and says why: an empty tree, or
// one that holds nothing but the older program file of the SFX name, which is never packed into
// its successor. The older file stays.
TEST_F(BuildDriverTest, ASourceWithNothingToPackFailsAndKeepsTheOlderFile) {
  const std::string inside = dir_.Join("src/alt.exe");
  struct Case {
    const char* what;
    std::string folder;  // made empty below src, or ""
    std::string sfx;
    std::string message;
  };
  const Case cases[] = {
      {"an empty source", "", sfx_, "Das Quellverzeichnis " + src_ + " enth\xE4lt keine Dateien!"},
      {"only empty folders", "leer/auch", sfx_,
       "Das Quellverzeichnis " + src_ + " enth\xE4lt keine Dateien!"},
      {"only the older program", "", inside,
       "Das Quellverzeichnis " + src_ +
           " enth\xE4lt keine Datei au\xDF"
           "er dem Archiv " +
           inside + " selbst, das nicht in sich selbst gepackt wird!"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(src_);
    ASSERT_TRUE(testutil::MakeDirs(src_));
    if (!c.folder.empty()) {
      ASSERT_TRUE(testutil::MakeDirs(dir_.Join("src/" + c.folder)));
    }
    ASSERT_TRUE(testutil::WriteFile(c.sfx, "old program"));
    ui_ = FakeFrontEnd();
    ui_.fields.SfxName = c.sfx;
    ui_.SetSource(src_);
    ui_.startAfterwards = true;
    os_.tempFiles.clear();
    EXPECT_EQ(Build(), BuildResult::SourceEmpty);
    EXPECT_EQ(ui_.messages, std::vector<std::string>{c.message});
    EXPECT_TRUE(ui_.started.empty());
    EXPECT_EQ(testutil::ReadFile(c.sfx), "old program");
    EXPECT_TRUE(os_.tempFiles.empty()) << "no data file is made";
    ExpectNoTemporaryFiles();
  }
}

// The second of three files cannot be opened: the build stops there but completes the program
// file, whose header still announces all three, and starts it as asked.
TEST_F(BuildDriverTest, UnreadableSecondFileFailsTheBuildButCompletesTheFile) {
  AddSource("f1.txt", "eins");
  AddSource("f2.txt", "zwei!");
  AddSource("f3.txt", "drei");
  const std::vector<std::string> order = ListedFiles();
  ASSERT_EQ(order.size(), 3u);
  os_.failPath = order[1];
  os_.failMode = "rb";
  ui_.startAfterwards = true;
  ui_.fields.MaxCompression = 1;

  EXPECT_EQ(Build(), BuildResult::FileFailed);
  EXPECT_EQ(ui_.messages, std::vector<std::string>{kFailed});
  ASSERT_EQ(ui_.failed.size(), 1u);
  EXPECT_EQ(ui_.failed[0].first, order[1]);
  EXPECT_EQ(ui_.failed[0].second, "Datei kann nicht gelesen werden");
  EXPECT_EQ(ui_.started, std::vector<std::string>{sfx_});
  ExpectDataFileDeleted();

  const sfxtest::Archive a = Parsed();
  EXPECT_EQ(a.fileCount, 3u);
  EXPECT_EQ(a.totalSize, 13u);
  ASSERT_EQ(a.entries.size(), 2u);
  EXPECT_TRUE(a.entries[0].data == sfxtest::Bzip2(contents_[a.entries[0].name]));
  const sfxtest::Entry& blank = a.entries[1];
  EXPECT_EQ(blank.name, Stored(order[1]));
  EXPECT_EQ(blank.size, 0u);
  EXPECT_EQ(blank.compressedSize, 0u);
  for (uint32_t v : blank.date) EXPECT_EQ(v, 0u);
  EXPECT_EQ(a.leftover, "");
}

TEST_F(BuildDriverTest, MissingStubKeepsTheOldFileAndCreatesNothing) {
  AddSource("a.txt", "a");
  ASSERT_TRUE(testutil::WriteFile(sfx_, "old program"));
  platform::Real().Remove(dir_.Join("prog/tambrix.res2"));
  ui_.startAfterwards = true;
  EXPECT_EQ(Build(), BuildResult::StubMissing);
  EXPECT_EQ(ui_.messages, std::vector<std::string>{"Kann Datei tambrix.resx nicht \xF6"
                                                   "ffnen!"});
  EXPECT_EQ(testutil::ReadFile(sfx_), "old program");
  EXPECT_TRUE(ui_.started.empty());
  EXPECT_EQ(ui_.endWait, 1);
  ExpectNoTemporaryFiles();
}

TEST_F(BuildDriverTest, StubsAreFoundBesideTheProgramByDefault) {
  AddSource("a.txt", "a");
  os_.programPath = dir_.Join("prog/tambrix.exe");
  OsGuard guard(&os_);
  EXPECT_EQ(testfe::BuildFromFields(ui_), BuildResult::Success);
  EXPECT_EQ(testutil::ReadFile(sfx_).substr(0, stub2_.size()), stub2_);
}

TEST_F(BuildDriverTest, BlankNameAsksForANameAndTouchesNothing) {
  AddSource("a.txt", "a");
  ui_.fields.SfxName = "   ";
  ui_.startAfterwards = true;
  EXPECT_EQ(Build(), BuildResult::NoName);
  EXPECT_EQ(ui_.messages, std::vector<std::string>{"Es wurde noch kein Archivname angegeben!"});
  EXPECT_EQ(ui_.focus, 1);
  EXPECT_EQ(ui_.beginWait, 0);
  EXPECT_TRUE(os_.tempFiles.empty()) << "no data file is made";
  EXPECT_TRUE(ui_.started.empty());
  EXPECT_EQ(Settings.SfxName, "");
}

// Where the program file cannot go, the message says so and names the place, before anything is
// compressed.
TEST_F(BuildDriverTest, ProgramFileThatCannotBeCreatedIsNamed) {
  AddSource("a.txt", "a");
  const std::string folder = dir_.Join("no/such/dir") + testutil::Sep();
  sfx_ = folder + "out.exe";
  ui_.fields.SfxName = sfx_;
  ui_.startAfterwards = true;
  EXPECT_EQ(Build(), BuildResult::ProgramCreateFailed);
  EXPECT_EQ(ui_.messages, std::vector<std::string>{"Das Verzeichnis " + folder +
                                                   " f\xFCr das Archiv existiert nicht!"});
  EXPECT_TRUE(ui_.started.empty());
  EXPECT_TRUE(os_.tempFiles.empty()) << "nothing compressed for nothing";
  EXPECT_FALSE(platform::Real().Exists(sfx_));

  // The SFX name is a directory: refused, the directory untouched.
  ui_ = FakeFrontEnd();
  ui_.SetSource(src_);
  sfx_ = dir_.Join("prog");
  ui_.fields.SfxName = sfx_;
  EXPECT_EQ(Build(), BuildResult::OutputRefused);
  EXPECT_EQ(ui_.messages,
            std::vector<std::string>{"Der Archivname " + sfx_ + " bezeichnet ein Verzeichnis!"});
  EXPECT_TRUE(platform::Real().IsDirectory(sfx_));
  EXPECT_EQ(testutil::ReadFile(dir_.Join("prog/tambrix.res2")), stub2_);
}

// The data file cannot be read back: no program file, the old one kept.
TEST_F(BuildDriverTest, UnreadableDataFileLeavesNoProgramFile) {
  AddSource("a.txt", "a");
  ASSERT_TRUE(testutil::WriteFile(sfx_, "old program"));
  os_.failDataRead = true;
  ui_.startAfterwards = true;
  EXPECT_EQ(Build(), BuildResult::DataCopyFailed);
  EXPECT_EQ(ui_.messages, std::vector<std::string>{"Fehler bei Lesen aus der Datendatei!"});
  EXPECT_EQ(testutil::ReadFile(sfx_), "old program");
  EXPECT_TRUE(ui_.started.empty());
  ExpectNoTemporaryFiles();
}

TEST_F(BuildDriverTest, BatchModeWritesReportLinesInsteadOfMessages) {
  AddSource("a.txt", "a");
  BatchRunning = 1;
  EXPECT_EQ(Build(), BuildResult::Success);
  ui_.fields.SfxName = " ";
  EXPECT_EQ(Build(), BuildResult::NoName);
  ui_.fields.SfxName = sfx_;
  platform::Real().Remove(dir_.Join("prog/tambrix.res2"));
  EXPECT_EQ(Build(), BuildResult::StubMissing);
  ASSERT_TRUE(testutil::WriteFile(dir_.Join("prog/tambrix.res2"), stub2_));
  os_.failPath = dir_.Join("src/a.txt");
  EXPECT_EQ(Build(), BuildResult::FileFailed);
  os_.unreadablePath = dir_.Join("prog/tambrix.res2");
  EXPECT_EQ(Build(), BuildResult::StubCopyFailed);
  BatchRunning = 0;

  EXPECT_TRUE(ui_.messages.empty());
  const std::vector<std::string> expected = {
      "\nArchivName: " + sfx_,
      "Erfolg: " + kSuccess,
      "\nArchivName: ",
      "Abbruch: Es wurde noch kein Archivname angegeben!",
      "\nArchivName: " + sfx_,
      "Abbruch: Kann Datei tambrix.resx nicht \xF6"
      "ffnen!",
      "\nArchivName: " + sfx_,
      kFailed,
      "\nArchivName: " + sfx_,
      "Abbruch: Fehler bei Lesen aus Datei tambrix.resx!",
  };
  EXPECT_EQ(BatchReport.Strings, expected);
}

// A file the format's 32-bit sizes cannot describe is a failed file, named with its reason; the
// archive keeps the entries before it and no corrupt entry. The file is sparse and never read.
TEST_F(BuildDriverTest, FileOver2GiBIsAFailedFileWithItsReason) {
  AddSource("huge.bin", "");
  std::error_code ec;
  std::filesystem::resize_file(std::filesystem::path(dir_.Join("src/huge.bin")), 0x80000001ULL, ec);
  if (ec) GTEST_SKIP() << "no sparse file here: " << ec.message();
  EXPECT_EQ(Build(), BuildResult::FileFailed);
  ASSERT_EQ(ui_.failed.size(), 1u);
  EXPECT_EQ(ui_.failed[0].first, dir_.Join("src/huge.bin"));
  EXPECT_EQ(ui_.failed[0].second, "Datei ist zu gro\xDF f\xFCr das Archivformat (mehr als 2 GB)");
  for (const std::string& line : ui_.progress) {
    EXPECT_EQ(line, "") << "nothing of the file was read";
  }
  const sfxtest::Archive a = Parsed();
  EXPECT_EQ(a.fileCount, 1u);
  EXPECT_TRUE(a.entries.empty());
  EXPECT_EQ(a.leftover, "");
  testutil::WriteFile(dir_.Join("src/huge.bin"), "");
}

// The SFX name may name a file the builder runs on by any spelling: it is refused before anything
// is made, with the file named, and the file stays.
TEST_F(BuildDriverTest, OutputThatIsAStubOrTheRunningProgramIsRefused) {
  AddSource("a.txt", "a");
  const std::string program = dir_.Join("prog/tambrix.exe");
  ASSERT_TRUE(testutil::WriteFile(program, "MZ builder"));
  os_.programPath = program;
  const std::string sep = testutil::Sep();
  const std::string stub1 = stubDir_ + sep + "tambrix.res1";
  const std::string stub2 = stubDir_ + sep + "tambrix.res2";
  const std::pair<std::string, std::string> cases[] = {
      {stubDir_ + sep + "." + sep + "tambrix.res2", stub2},
      {dir_.Join("src") + sep + ".." + sep + "prog" + sep + "tambrix.res1", stub1},
      {stubDir_ + sep + "." + sep + "tambrix.exe", program},
  };
  for (const auto& c : cases) {
    ui_.messages.clear();
    ui_.fields.SfxName = c.first;
    EXPECT_EQ(Build(), BuildResult::OutputRefused) << c.first;
    EXPECT_EQ(ui_.messages, std::vector<std::string>{"Der Archivname " + c.first +
                                                     " bezeichnet die Programmdatei " + c.second +
                                                     "; sie wird nicht \xFC"
                                                     "berschrieben!"});
  }
  EXPECT_EQ(testutil::ReadFile(stub1), stub1_);
  EXPECT_EQ(testutil::ReadFile(stub2), stub2_);
  EXPECT_EQ(testutil::ReadFile(program), "MZ builder");
  EXPECT_TRUE(os_.tempFiles.empty());
  std::vector<platform::DirEntry> left;
  ASSERT_TRUE(platform::Real().ListDirectory(stubDir_, "tbx*.tmp", left));
  EXPECT_TRUE(left.empty());
}

// The program file inside the source tree is never packed into its successor, and a data file
// in a temporary folder inside the tree is not packed either.
TEST_F(BuildDriverTest, TheBuildsOwnFilesInsideTheSourceAreNotPacked) {
  AddSource("a.txt", "eins");
  AddSource("tmp/keep.txt", "zwei");
  sfx_ = dir_.Join("src/out.exe");
  ui_.fields.SfxName = sfx_;
  os_.tempDirectory = dir_.Join("src/tmp") + testutil::Sep();
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(Build(), BuildResult::Success) << round;
    const sfxtest::Archive a = Parsed();
    std::vector<std::string> names;
    for (const sfxtest::Entry& e : a.entries) names.push_back(e.name);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{Stored(dir_.Join("src/a.txt")),
                                               Stored(dir_.Join("src/tmp/keep.txt"))}))
        << "round " << round;
    EXPECT_EQ(a.fileCount, 2u);
  }
  ExpectNoTemporaryFiles();
  std::vector<platform::DirEntry> left;
  ASSERT_TRUE(platform::Real().ListDirectory(dir_.Join("src"), "tbx*.tmp", left));
  EXPECT_TRUE(left.empty());
}

// Directories that cannot be listed are never dropped in silence: refused and named, or, where
// the options say so, named once and left out.
TEST_F(BuildDriverTest, UnreadableFoldersAreNamed) {
  AddSource("a.txt", "a");
  AddSource("locked/x.txt", "x");
  AddSource("sub/locked2/y.txt", "y");
  ASSERT_TRUE(testutil::WriteFile(sfx_, "old program"));
  const std::string locked = dir_.Join("src/locked");
  const std::string locked2 = dir_.Join("src/sub/locked2");
  os_.unlistable = {locked, locked2};

  EXPECT_EQ(Build(), BuildResult::FoldersUnreadable);
  EXPECT_EQ(ui_.messages, std::vector<std::string>{"Der Ordner " + locked +
                                                   " und 1 weitere k\xF6nnen nicht gelesen "
                                                   "werden!"});
  EXPECT_EQ(ui_.unreadable, (std::vector<std::string>{locked, locked2}));
  EXPECT_EQ(testutil::ReadFile(sfx_), "old program");
  ExpectNoTemporaryFiles();

  // Skipped: one warning, then the build as before, without them.
  ui_.messages.clear();
  ui_.unreadable.clear();
  EXPECT_EQ(BuildSkippingUnreadable(), BuildResult::Success);
  EXPECT_EQ(ui_.messages, (std::vector<std::string>{
                              "Der Ordner " + locked +
                                  " und 1 weitere k\xF6nnen nicht gelesen werden und fehlen im "
                                  "Archiv!",
                              kSuccess}));
  const sfxtest::Archive a = Parsed();
  ASSERT_EQ(a.entries.size(), 1u);
  EXPECT_EQ(a.entries[0].name, Stored(dir_.Join("src/a.txt")));

  // One folder, in a batch run: a warning line of its own.
  os_.unlistable = {locked};
  BatchRunning = 1;
  EXPECT_EQ(BuildSkippingUnreadable(), BuildResult::Success);
  BatchRunning = 0;
  EXPECT_EQ(BatchReport.Strings,
            (std::vector<std::string>{
                "\nArchivName: " + sfx_,
                "Warnung: Der Ordner " + locked + " kann nicht gelesen werden und fehlt im Archiv!",
                "Erfolg: " + kSuccess}));
}

// A finished program takes the place of an older file of its name only at the end. Where the
// system will not replace a read-only file (Windows), the build says so and the old file stays;
// a POSIX rename replaces it as the deletion before did.
TEST_F(BuildDriverTest, AnOlderFileIsReplacedOnlyByAFinishedOne) {
  AddSource("a.txt", "a");
  ASSERT_TRUE(testutil::WriteFile(sfx_, "old program"));
  EXPECT_EQ(Build(), BuildResult::Success);
  EXPECT_EQ(Parsed().entries.size(), 1u);
  ExpectNoTemporaryFiles();

  ASSERT_TRUE(testutil::WriteFile(sfx_, "old program"));
  ASSERT_TRUE(testutil::MakeReadOnly(sfx_));
  ui_.messages.clear();
  const BuildResult result = Build();
#ifdef _WIN32
  EXPECT_EQ(result, BuildResult::ProgramCreateFailed);
  EXPECT_EQ(ui_.messages, std::vector<std::string>{"Die vorhandene Datei " + sfx_ +
                                                   " kann nicht ersetzt werden!"});
  EXPECT_EQ(testutil::ReadFile(sfx_), "old program");
#else
  EXPECT_EQ(result, BuildResult::Success);
  EXPECT_EQ(Parsed().entries.size(), 1u);
#endif
  ExpectNoTemporaryFiles();
  testutil::MakeWritable(sfx_);
}

// An Os whose new files swallow writes until they reach the disk, where they fail: the program
// file is created new under its temporary name.
class FullDiskOs : public RecordingOs {
 public:
  std::FILE* Open(const std::string& p, const char* m) override {
    if (std::string(m) == "wbx") return std::fopen("/dev/full", "wb");
    return RecordingOs::Open(p, m);
  }
};

// A program file that cannot be written whole is a failed build, never a success: it is not
// started, nothing of it is left, and the older file stays.
TEST_F(BuildDriverTest, ProgramFileThatCannotBeWrittenIsNoSuccess) {
  {
    std::FILE* full = std::fopen("/dev/full", "wb");
    if (full == nullptr) GTEST_SKIP() << "no full device here";
    std::fclose(full);
  }
  // Everything fits the stream's buffer, so the failure shows only when it is flushed.
  ASSERT_TRUE(testutil::WriteFile(dir_.Join("prog/tambrix.res2"), "MZ"));
  ASSERT_TRUE(testutil::WriteFile(sfx_, "old program"));
  AddSource("a.txt", "a");
  ui_.startAfterwards = true;
  FullDiskOs os;
  OsGuard guard(&os);
  EXPECT_EQ(testfe::BuildFromFields(ui_, stubDir_), BuildResult::ProgramWriteFailed);
  EXPECT_EQ(ui_.messages,
            std::vector<std::string>{"Fehler beim Schreiben der Programmdatei " + sfx_ + "!"});
  EXPECT_TRUE(ui_.failed.empty()) << "no source file is blamed";
  EXPECT_TRUE(ui_.started.empty());
  EXPECT_EQ(testutil::ReadFile(sfx_), "old program");
  ASSERT_EQ(os.tempFiles.size(), 1u);
  EXPECT_FALSE(platform::Real().Exists(os.tempFiles[0]));
}

}  // namespace

namespace {

// An icon, version information or level that cannot be had fails the build before anything is
// written, with a message that names the file or the value.
TEST_F(BuildDriverTest, AVendorsLookThatCannotBeHadFailsBeforeAnythingIsWritten) {
  const std::string missing = dir_.Join("fehlt.ico"), cursor = dir_.Join("zeiger.ico");
  ASSERT_TRUE(testutil::WriteFile(cursor, std::string("\0\0\2\0\1\0", 6) + std::string(16, '\0')));
  struct Case {
    std::string icon, fileVersion;
    ExecutionLevel level;
    std::string said;  // a part of the message
  } cases[] = {
      {missing, "", ExecutionLevel::AsInvoker, "Die Symboldatei " + missing + " existiert nicht!"},
      {cursor, "", ExecutionLevel::AsInvoker, "Die Symboldatei " + cursor},
      {"", "1.x", ExecutionLevel::AsInvoker, "\"1.x\""},
      // The test stubs are no programs: the message names the stub file.
      {"", "", ExecutionLevel::RequireAdministrator, "\nEntpackprogramm: " + stubDir_},
  };
  AddSource("a.txt", "a");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.said);
    ASSERT_TRUE(testutil::WriteFile(sfx_, "old program"));
    ui_.messages.clear();
    ui_.fields.IconFile = c.icon;
    VersionTexts version;
    version.fileVersion = c.fileVersion;
    EXPECT_EQ(BuildWithLook(version, c.level), BuildResult::StubLookFailed);
    ASSERT_EQ(ui_.messages.size(), 1u);
    EXPECT_NE(ui_.messages[0].find(c.said), std::string::npos) << ui_.messages[0];
    EXPECT_EQ(testutil::ReadFile(sfx_), "old program");
    ExpectNoTemporaryFiles();
  }
}

TEST_F(BuildDriverTest, AVendorsLookPutsTheRewrittenStubInFront) {
  const std::string stub = testutil::TinyProgramBytes({testutil::TextResource(
      pe::kTypeManifest, 1, "<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>")});
  ASSERT_TRUE(testutil::WriteFile(dir_.Join("prog/tambrix.res2"), stub));
  AddSource("a.txt", "a");
  VersionTexts version;
  version.productName = "Werkzeug";
  ASSERT_EQ(BuildWithLook(version, ExecutionLevel::HighestAvailable), BuildResult::Success);
  const sfxtest::Archive a = Parsed();
  ASSERT_GT(a.settingsOffset, 0u);
  EXPECT_NE(program_.substr(0, a.settingsOffset), stub);
  MemoryByteSource source(program_.data(), a.settingsOffset);
  StubLookInfo look;
  ASSERT_TRUE(ReadStubLook(source, look));
  EXPECT_EQ(look.level, "highestAvailable");
  ASSERT_TRUE(look.hasVersion);
  EXPECT_EQ(look.version.strings.at(0).second, "Werkzeug");
}

}  // namespace
