// The console builder's commands, run in-process on real files: build, list, verify, extract and
// batch, their exit codes, and the refusal of damaged and hostile archives.
#include <gtest/gtest.h>
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "archive/archive_layout.h"
#include "archive/archive_reader.h"
#include "archive/file_byte_source.h"
#include "cli/commands.h"
#include "cli/console_front_end.h"
#include "cli/console_text.h"
#include "platform/platform.h"
#include "settings/install_inf.h"
#include "settings/settings_file.h"
#include "support/tus_strings.h"
#include "tests/e2e/cli_fixture.h"
#include "tests/unit/pe_test_image.h"
#include "tests/unit/test_util.h"

namespace {

TEST_F(CliTest, BuildListVerifyExtractRoundTripsBothMethods) {
  MakeSourceTree();
  for (bool bzip2 : {true, false}) {
    const std::string archive = BuildArchive(bzip2 ? "b.exe" : "g.exe", bzip2);
    const std::string stub =
        testutil::ReadFile(dir_.Join(bzip2 ? "stubs/tambrix.res1" : "stubs/tambrix.res2"));
    EXPECT_EQ(testutil::ReadFile(archive).compare(0, stub.size(), stub), 0);

    RunResult r = Run({"list", archive});
    EXPECT_EQ(r.code, kExitOk) << r.err;
    EXPECT_NE(r.out.find(bzip2 ? "Methode: bzip2" : "Methode: gzip"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("150000"), std::string::npos);
    EXPECT_NE(r.out.find("\\sub\\leer.dat"), std::string::npos) << r.out;

    r = Run({"verify", archive});
    EXPECT_EQ(r.code, kExitOk) << r.err;
    EXPECT_NE(r.out.find("Alle 4 Dateien sind in Ordnung."), std::string::npos) << r.out;

    const std::string target = dir_.Join(bzip2 ? "out-b" : "out-g");
    r = Run({"extract", archive, target});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    EXPECT_EQ(TreeOf(target), TreeOf(dir_.Join("src")));
  }
}

TEST_F(CliTest, ExtractSetsTheFileTimeFromTheDateBlock) {
  ASSERT_TRUE(testutil::WriteFile(dir_.Join("time.exe"), HandMadeArchive({{"\\t.txt", "x"}})));
  ASSERT_EQ(Run({"extract", "time.exe", "out"}).code, kExitOk);
  platform::DosTime t;
  ASSERT_TRUE(platform::Real().LastWriteDosTime(dir_.Join("out/t.txt"), t));
  EXPECT_EQ(t.year1980, 46u);
  EXPECT_EQ(t.month, 12u);
  EXPECT_EQ(t.day, 7u);
  EXPECT_EQ(t.hour, 14u);
  EXPECT_EQ(t.minute, 31u);
  EXPECT_EQ(t.seconds2, 29u);
}

TEST_F(CliTest, BuildTakesTheOptionsIntoTheSettingsBlock) {
  MakeSourceTree();
  ASSERT_TRUE(
      testutil::WriteFile(dir_.Join("text.txt"), std::string("Zeile 1\r\nZeile 2\0Rest", 22)));
  const RunResult r =
      Run({"build", "--source", "src", "--sfx", "o.exe", "--stub-dir", stubs_, "--target-dir",
           Arg1252("C:\\Zi\xE9l"), "--command=setup.exe /q", "--title",
           Arg1252("Gr\xF6\xDF"
                   "e"),
           "--text-file", "text.txt", "--terminates", "--clean-up", "--no-target-editable"});
  ASSERT_EQ(r.code, kExitOk) << r.err;
  std::FILE* f = std::fopen(dir_.Join("o.exe").c_str(), "rb");
  ASSERT_NE(f, nullptr);
  FileByteSource src(f);
  ArchiveInfo info;
  ASSERT_EQ(ReadArchive(src, info), ReadStatus::Ok);
  std::fclose(f);
  EXPECT_EQ(info.settings.TargetDir, "C:\\Zi\xE9l");
  EXPECT_EQ(info.settings.Command, "setup.exe /q");
  EXPECT_EQ(info.settings.DialogTitle,
            "Gr\xF6\xDF"
            "e");
  EXPECT_EQ(info.settings.DialogText, "Zeile 1\r\nZeile 2");
  EXPECT_EQ(info.settings.InfoTextBefore, "");  // a console build starts from empty texts
  EXPECT_EQ(info.settings.Terminates, 1);
  EXPECT_EQ(info.settings.CleanUp, 1);
  EXPECT_EQ(info.settings.TargetEditable, 0);
  EXPECT_EQ(info.settings.MaxCompression, 0);
  EXPECT_EQ(info.settings.StoreDirNames, 1);
  EXPECT_EQ(info.method, 1);
}

TEST_F(CliTest, BuildStartsFromANamedSettingsFile) {
  MakeSourceTree();
  TInstallInf record;
  record.SourcePaths.Add("src");
  record.SfxName = "aus-datei.exe";
  record.MaxCompression = 1;
  record.DialogTitle = "Aus der Datei";
  ASSERT_TRUE(SaveSettingsFile(record, dir_.Join("tambrix.dat")));
  const RunResult r = Run(
      {"build", "--settings", dir_.Join("tambrix.dat"), "--stub-dir", stubs_, "--command", "go"});
  ASSERT_EQ(r.code, kExitOk) << r.err;
  std::FILE* f = std::fopen(dir_.Join("aus-datei.exe").c_str(), "rb");
  ASSERT_NE(f, nullptr);
  FileByteSource src(f);
  ArchiveInfo info;
  ASSERT_EQ(ReadArchive(src, info), ReadStatus::Ok);
  std::fclose(f);
  EXPECT_EQ(info.method, 0);
  EXPECT_EQ(info.settings.DialogTitle, "Aus der Datei");
  EXPECT_EQ(info.settings.Command, "go");

  EXPECT_EQ(Run({"build", "--settings", dir_.Join("fehlt.dat"), "--stub-dir", stubs_}).code,
            kExitFailed);
}

TEST_F(CliTest, BuildFailuresGiveTheGermanMessageAndExitOne) {
  MakeSourceTree();
  RunResult r =
      Run({"build", "--source", "src", "--sfx", "x.exe", "--stub-dir", dir_.Join("none")});
  EXPECT_EQ(r.code, kExitFailed);
  EXPECT_NE(r.err.find("tambrix.resx"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(dir_.Join("x.exe")));

  r = Run({"build", "--source", "gibt-es-nicht", "--sfx", "x.exe", "--stub-dir", stubs_});
  EXPECT_EQ(r.code, kExitFailed);
  EXPECT_FALSE(fs::exists(dir_.Join("x.exe")));

  r = Run({"build", "--source", "src", "--sfx", "   ", "--stub-dir", stubs_});
  EXPECT_EQ(r.code, kExitFailed);
  EXPECT_NE(r.err.find("Es wurde noch kein Archivname angegeben!"), std::string::npos) << r.err;
}

// An Os on which some directories cannot be listed, as with missing rights.
class UnlistableOs : public platform::ForwardingOs {
 public:
  explicit UnlistableOs(std::vector<std::string> dirs)
      : ForwardingOs(platform::Real()), dirs_(std::move(dirs)) {}
  bool ListDirectory(const std::string& d, const std::string& m,
                     std::vector<platform::DirEntry>& o) override {
    for (const std::string& dir : dirs_) {
      if (d == dir) return false;
    }
    return inner_.ListDirectory(d, m, o);
  }

 private:
  std::vector<std::string> dirs_;
};

// A folder the scanner cannot read fails the console build, naming each one; --skip-unreadable
// builds without them after a warning.
TEST_F(CliTest, UnreadableFoldersFailTheBuildUnlessSkipped) {
  MakeSourceTree();
  const std::string sep = testutil::Sep();
  const std::string sub = "src" + sep + "sub";
  const std::string deep = sub + sep + "deep";
  UnlistableOs os({deep});
  platform::SetForTesting(&os);
  RunResult r = Run({"build", "--source", "src", "--sfx", "x.exe", "--stub-dir", stubs_});
  EXPECT_EQ(r.code, kExitFailed);
  EXPECT_NE(r.err.find("Ordner " + deep + ": kann nicht gelesen werden"), std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("Der Ordner " + deep + " kann nicht gelesen werden!"), std::string::npos);
  EXPECT_NE(r.err.find("--skip-unreadable"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(dir_.Join("x.exe")));

  r = Run({"build", "--source", "src", "--sfx", "x.exe", "--stub-dir", stubs_,
           "--skip-unreadable"});
  platform::SetForTesting(nullptr);
  EXPECT_EQ(r.code, kExitOk) << r.err;
  EXPECT_NE(r.err.find("kann nicht gelesen werden und fehlt im Archiv!"), std::string::npos)
      << r.err;
  const RunResult listed = Run({"list", "x.exe"});
  EXPECT_EQ(listed.code, kExitOk);
  EXPECT_NE(listed.out.find("b.bin"), std::string::npos) << listed.out;
  EXPECT_EQ(listed.out.find("bersicht.txt"), std::string::npos) << listed.out;
}

// A folder whose full path is longer than MAX_PATH is packed, listed and unpacked like any other.
// The stored names stay short: they begin below the source as typed.
TEST_F(CliTest, FolderDeeperThanMaxPathIsBuiltListedAndExtracted) {
  platform::Os& os = platform::Real();
  const std::string sep = testutil::Sep();
  const std::string source = std::string(200, 'q') + sep + std::string(100, 'r');
  const std::string deep = source + sep + "tief", file = deep + sep + "t.txt";
  const std::vector<std::string> folders{std::string(200, 'q'), source, deep};
  for (const std::string& folder : folders) ASSERT_TRUE(os.MakeDirectory(folder));
  ASSERT_GT(dir_.path().size() + 1 + deep.size(), 300u);
  std::FILE* f = os.Open(file, "wb");
  ASSERT_NE(f, nullptr);
  EXPECT_GE(std::fputs("tief unten", f), 0);
  ASSERT_EQ(std::fclose(f), 0);

  RunResult r = Run({"build", "--source", source, "--sfx", "lang.exe", "--stub-dir", stubs_});
  EXPECT_EQ(r.code, kExitOk) << r.err;
  r = Run({"list", "lang.exe"});
  EXPECT_EQ(r.code, kExitOk) << r.err;
  EXPECT_NE(r.out.find("\\tief\\t.txt"), std::string::npos) << r.out;
  r = Run({"extract", "lang.exe", "out"});
  EXPECT_EQ(r.code, kExitOk) << r.err;
  EXPECT_EQ(testutil::ReadFile(dir_.Join("out/tief/t.txt")), "tief unten");

  // The runtime's own calls cannot take the tree down again on Windows; the layer can.
  EXPECT_TRUE(os.Remove(file));
  for (auto it = folders.rbegin(); it != folders.rend(); ++it) EXPECT_TRUE(os.RemoveDirectory(*it));
}

// The output may not be a folder, nor a stub file by another spelling; a source must be a
// folder. Each is refused with the path named, and nothing changes.
TEST_F(CliTest, OutputAndSourceThatCannotBeUsedAreNamed) {
  MakeSourceTree();
  const std::string sep = testutil::Sep();
  const std::string stub = stubs_ + sep + "." + sep + "tambrix.res2";
  RunResult r = Run({"build", "--source", "src", "--sfx", stub, "--stub-dir", stubs_});
  EXPECT_EQ(r.code, kExitFailed);
  EXPECT_NE(r.err.find("Der Archivname " + stub + " bezeichnet die Programmdatei"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(testutil::ReadFile(dir_.Join("stubs/tambrix.res2")), "MZ placeholder gzip stub!");

  r = Run({"build", "--source", "src", "--sfx", "src", "--stub-dir", stubs_});
  EXPECT_EQ(r.code, kExitFailed);
  EXPECT_NE(r.err.find("Der Archivname src bezeichnet ein Verzeichnis!"), std::string::npos)
      << r.err;

  const std::string file = "src" + sep + "a.txt";
  r = Run({"build", "--source", file, "--sfx", "x.exe", "--stub-dir", stubs_});
  EXPECT_EQ(r.code, kExitFailed);
  EXPECT_NE(r.err.find("Das Quellverzeichnis " + file + " ist kein Verzeichnis!"),
            std::string::npos)
      << r.err;
  EXPECT_FALSE(fs::exists(dir_.Join("x.exe")));

  // The archive inside its own source: the second build does not pack the first.
  const std::string inside = "src" + sep + "out.exe";
  ASSERT_EQ(Run({"build", "--source", "src", "--sfx", inside, "--stub-dir", stubs_}).code,
            kExitOk);
  ASSERT_EQ(Run({"build", "--source", "src", "--sfx", inside, "--stub-dir", stubs_}).code,
            kExitOk);
  const RunResult listed = Run({"list", inside});
  EXPECT_EQ(listed.out.find("out.exe", listed.out.find("a.txt")), std::string::npos)
      << listed.out;
}

TEST_F(CliTest, UsageErrorsExitTwo) {
  EXPECT_EQ(Run({}).code, kExitUsage);
  EXPECT_EQ(Run({"pack"}).code, kExitUsage);
  RunResult r = Run({"build", "--source", "src", "--sfx", "x.exe", "--fast"});
  EXPECT_EQ(r.code, kExitUsage);
  EXPECT_NE(r.err.find("--fast"), std::string::npos);
  EXPECT_EQ(Run({"build", "--source"}).code, kExitUsage);
  EXPECT_EQ(Run({"build", "--sfx", "x.exe"}).code, kExitUsage);
  EXPECT_EQ(Run({"build", "--source", "src", "--sfx", "x.exe", "--terminates=1"}).code, kExitUsage);
  EXPECT_EQ(Run({"list"}).code, kExitUsage);
  EXPECT_EQ(Run({"verify", "a", "b"}).code, kExitUsage);
  EXPECT_EQ(Run({"extract", "a"}).code, kExitUsage);
  EXPECT_EQ(Run({"batch", "--x"}).code, kExitUsage);
  EXPECT_FALSE(fs::exists(dir_.Join("x.exe")));
}

TEST_F(CliTest, ThreadsAreAskedForInEveryFormAndGiveTheSameArchive) {
  MakeSourceTree();
  const std::vector<std::string> build{"build", "--source", "src", "--sfx",
                                       "out.exe", "--stub-dir", stubs_, "--max-compression"};
  auto with = [&](std::vector<std::string> extra) {
    std::vector<std::string> args = build;
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  };
  ASSERT_EQ(Run(with({"-j1"})).code, kExitOk);
  const std::string one = testutil::ReadFile(dir_.Join("out.exe"));
  ASSERT_FALSE(one.empty());
  for (const std::vector<std::string>& form :
       {std::vector<std::string>{"-j", "3"}, {"-j2"}, {"--jobs=4"}, {"--jobs", "2"}, {}}) {
    const RunResult r = Run(with(form));
    EXPECT_EQ(r.code, kExitOk) << r.err;
    EXPECT_TRUE(testutil::ReadFile(dir_.Join("out.exe")) == one)
        << (form.empty() ? std::string("default") : form[0]);
  }
  for (const std::vector<std::string>& bad :
       {std::vector<std::string>{"-j0"}, {"-j"}, {"-jx"}, {"--jobs=257"}, {"--jobs="}, {"-j-1"}}) {
    const RunResult r = Run(with(bad));
    EXPECT_EQ(r.code, kExitUsage) << bad[0];
    EXPECT_NE(r.err.find("Die Option -j braucht eine Zahl von 1 bis 256."), std::string::npos)
        << bad[0] << ": " << r.err;
  }
  EXPECT_EQ(Run({"batch", "-j0"}).code, kExitUsage);
}

TEST_F(CliTest, HelpNamesEveryCommandAndOption) {
  const RunResult r = Run({"--help"});
  EXPECT_EQ(r.code, kExitOk);
  for (const char* word : {"build", "batch", "list", "verify", "extract", "--source", "--sfx",
                           "--max-compression", "--target-dir", "--command", "--title",
                           "--text-file", "--info-before-file", "--info-after-file", "--terminates",
                           "--clean-up", "--no-target-editable", "--settings", "--stub-dir",
                           "--skip-unreadable", "--jobs"}) {
    EXPECT_NE(r.out.find(word), std::string::npos) << word;
  }
  EXPECT_EQ(Run({"build", "--help"}).code, kExitOk);
}

TEST_F(CliTest, ExtractRefusesUnsafeNamesBeforeWritingAnything) {
  ASSERT_TRUE(testutil::WriteFile(dir_.Join("evil.txt"), "sentinel"));
  const std::vector<std::string> badNames{
      "\\..\\evil.txt", "\\a\\..\\..\\evil.txt", "\\C:\\evil.txt",      "\\\\server\\evil.txt",
      "\\CON",          "\\ok.txt:stream",       "\\sub/../../evil.txt"};
  for (const std::string& bad : badNames) {
    ASSERT_TRUE(testutil::WriteFile(
        dir_.Join("evil.exe"), HandMadeArchive({{"\\ok.txt", "harmlos"}, {bad, "overwritten"}})));
    const RunResult r = Run({"extract", "evil.exe", dir_.Join("out/inner")});
    EXPECT_EQ(r.code, kExitFailed) << bad;
    EXPECT_NE(r.err.find("Unsicherer Dateiname"), std::string::npos) << r.err;
    EXPECT_EQ(testutil::ReadFile(dir_.Join("evil.txt")), "sentinel");
    EXPECT_FALSE(fs::exists(dir_.Join("out"))) << bad;
  }
  // Whole data with a name no extractor creates is no usable archive for verify and list either.
  for (const char* command : {"verify", "list"}) {
    const RunResult r = Run({command, "evil.exe"});
    EXPECT_EQ(r.code, kExitFailed) << command;
    EXPECT_NE(r.err.find("Unsicherer Dateiname"), std::string::npos) << r.err;
  }
}

// Control characters in stored names never reach the terminal: list, verify and extract show
// them as <XX>, in their listings and in their messages alike.
TEST_F(CliTest, ControlCharactersInNamesAreShownEscaped) {
  const std::string title = "\\ok\x1B]0;pwned\x07.txt";
  const std::string c1 = std::string("\\b") + '\x9D' + ".txt";  // a C1 control once converted
  ASSERT_TRUE(testutil::WriteFile(dir_.Join("esc.exe"),
                                  HandMadeArchive({{title, "eins"}, {c1, "zwei"}})));
  for (const char* command : {"list", "verify", "extract"}) {
    SCOPED_TRACE(command);
    std::vector<std::string> args{command, "esc.exe"};
    if (std::string(command) == "extract") args.push_back("out");
    const RunResult r = Run(args);
    EXPECT_EQ(r.code, kExitFailed) << "names with control characters are never unpacked";
    const std::string all = r.out + r.err;
    EXPECT_EQ(all.find('\x1B'), std::string::npos) << all;
    EXPECT_EQ(all.find('\x07'), std::string::npos) << all;
    EXPECT_EQ(all.find("\xC2\x9D"), std::string::npos) << all;
    EXPECT_EQ(all.find('\x9D'), std::string::npos) << all;
    EXPECT_NE(all.find("<1B>]0;pwned<07>.txt"), std::string::npos) << all;
  }
  EXPECT_FALSE(fs::exists(dir_.Join("out")));
}

TEST_F(CliTest, ExtractRefusesCollidingNames) {
  ASSERT_TRUE(testutil::WriteFile(dir_.Join("dup.exe"),
                                  HandMadeArchive({{"\\a.txt", "eins"}, {"\\a.txt", "zwei"}})));
  EXPECT_EQ(Run({"extract", "dup.exe", "out"}).code, kExitFailed);
  ASSERT_TRUE(testutil::WriteFile(dir_.Join("fd.exe"),
                                  HandMadeArchive({{"\\a", "datei"}, {"\\a\\b.txt", "darunter"}})));
  EXPECT_EQ(Run({"extract", "fd.exe", "out"}).code, kExitFailed);
  EXPECT_FALSE(fs::exists(dir_.Join("out")));
}

// The extractor compares names as Windows does, so every reader refuses what it refuses, on
// Linux too: one of the two files would silently replace the other on the user's machine.
TEST_F(CliTest, NamesDifferingOnlyInCaseAreOneFileForEveryReader) {
  const std::vector<std::vector<std::pair<std::string, std::string>>> archives = {
      {{"\\Liesmich.txt", "eins"}, {"\\liesmich.txt", "zwei"}},
      {{"\\\x8C.txt", "eins"}, {"\\\x9C.txt", "zwei"}},  // the OE ligature in both cases
      {{"\\Daten\\\xC4.txt", "eins"}, {"\\DATEN\\\xE4.txt", "zwei"}},
      {{"\\d", "datei"}, {"\\D\\x.txt", "darunter"}},  // a file where a folder must go
  };
  const RunResult named = [&] {
    EXPECT_TRUE(testutil::WriteFile(dir_.Join("case.exe"), HandMadeArchive(archives[0])));
    return Run({"extract", "case.exe", "out"});
  }();
  EXPECT_NE(named.err.find("\\Liesmich.txt und \\liesmich.txt"), std::string::npos) << named.err;
  for (const auto& files : archives) {
    ASSERT_TRUE(testutil::WriteFile(dir_.Join("case.exe"), HandMadeArchive(files)));
    for (const char* command : {"verify", "list"}) {
      EXPECT_EQ(Run({command, "case.exe"}).code, kExitFailed) << command << " " << files[0].first;
    }
    const RunResult r = Run({"extract", "case.exe", "out"});
    EXPECT_EQ(r.code, kExitFailed) << files[0].first;
    EXPECT_NE(r.err.find("Das Archiv wird nicht entpackt."), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir_.Join("out")));
  }
}

TEST_F(CliTest, WithoutFolderNamesEveryFileLandsInTheTargetAndLeavesMustDiffer) {
  ASSERT_TRUE(testutil::WriteFile(
      dir_.Join("flat.exe"),
      HandMadeArchive({{"\\x\\eins.txt", "1"}, {"\\y\\z\\zwei.txt", "2"}}, false)));
  ASSERT_EQ(Run({"verify", "flat.exe"}).code, kExitOk);
  ASSERT_EQ(Run({"extract", "flat.exe", "out"}).code, kExitOk);
  const std::map<std::string, std::string> expected{{"eins.txt", "1"}, {"zwei.txt", "2"}};
  EXPECT_EQ(TreeOf(dir_.Join("out")), expected);

  // The same leaf in two folders: one file would replace the other.
  ASSERT_TRUE(testutil::WriteFile(
      dir_.Join("clash.exe"),
      HandMadeArchive({{"\\x\\r.txt", "1"}, {"\\y\\R.TXT", "2"}}, false)));
  EXPECT_EQ(Run({"verify", "clash.exe"}).code, kExitFailed);
  EXPECT_EQ(Run({"extract", "clash.exe", "out2"}).code, kExitFailed);
  EXPECT_FALSE(fs::exists(dir_.Join("out2")));
  // Kept in their folders, they do not meet.
  ASSERT_TRUE(testutil::WriteFile(
      dir_.Join("kept.exe"), HandMadeArchive({{"\\x\\r.txt", "1"}, {"\\y\\R.TXT", "2"}})));
  EXPECT_EQ(Run({"extract", "kept.exe", "out3"}).code, kExitOk);
}

TEST_F(CliTest, ExtractDoesNotFollowALinkedDirectory) {
  ASSERT_TRUE(testutil::MakeDirs(dir_.Join("outside")));
  ASSERT_TRUE(testutil::MakeDirs(dir_.Join("out")));
  std::error_code ec;
  fs::create_directory_symlink(dir_.Join("outside"), dir_.Join("out/sub"), ec);
  if (ec) GTEST_SKIP() << "no symbolic links here";
  ASSERT_TRUE(testutil::WriteFile(dir_.Join("link.exe"),
                                  HandMadeArchive({{"\\sub\\planted.txt", "boese"}})));
  EXPECT_EQ(Run({"extract", "link.exe", "out"}).code, kExitFailed);
  EXPECT_FALSE(fs::exists(dir_.Join("outside/planted.txt")));
}

// A folder may exist under two spellings on Linux: its raw code page byte and its UTF-8 form.
// With a real folder under the one and a link under the other, the extractor must not write
// through the link, for every letter the two spellings differ in.
TEST_F(CliTest, ExtractFollowsNoLinkWhateverTheSpellingOfTheFolder) {
  if (OnWindows()) GTEST_SKIP() << "names on disk are not UTF-8 here";
  ASSERT_TRUE(testutil::MakeDirs(dir_.Join("outside")));
  for (int byte = 0xC0; byte <= 0xFF; ++byte) {
    SCOPED_TRACE(byte);
    const std::string raw(1, static_cast<char>(byte));
    const fs::path out = fs::path(dir_.Join("out"));
    fs::remove_all(out);
    fs::create_directories(out / raw);  // the raw byte: no valid UTF-8
    fs::create_directory_symlink(dir_.Join("outside"), out / Arg1252(raw));
    ASSERT_TRUE(testutil::WriteFile(
        dir_.Join("link.exe"), HandMadeArchive({{"\\" + raw + "\\planted.txt", "boese"}})));
    const RunResult r = Run({"extract", "link.exe", "out"});
    EXPECT_EQ(r.code, kExitFailed) << r.out;
    EXPECT_NE(r.err.find("ist kein Verzeichnis (oder ein Verweis)"), std::string::npos) << r.err;
    EXPECT_TRUE(fs::is_empty(dir_.Join("outside")));
    EXPECT_TRUE(fs::is_empty(out / raw));
  }
}

// An existing read-only file is not replaced, as the extractor on Windows refuses it; nothing
// of the run stays.
TEST_F(CliTest, ExtractDoesNotReplaceAReadOnlyFile) {
  ASSERT_TRUE(testutil::WriteFile(dir_.Join("out/b.txt"), "alt"));
  ASSERT_TRUE(testutil::MakeReadOnly(dir_.Join("out/b.txt")));
  ASSERT_TRUE(testutil::WriteFile(
      dir_.Join("ro.exe"),
      HandMadeArchive({{"\\neu\\a.txt", "eins"}, {"\\b.txt", "zwei"}, {"\\c.txt", "drei"}})));
  const RunResult r = Run({"extract", "ro.exe", "out"});
  testutil::MakeWritable(dir_.Join("out/b.txt"));
  EXPECT_EQ(r.code, kExitFailed);
  EXPECT_NE(r.err.find("b.txt ist schreibgesch"), std::string::npos) << r.err;
  EXPECT_EQ(testutil::ReadFile(dir_.Join("out/b.txt")), "alt");
  EXPECT_EQ(TreeOf(dir_.Join("out")), (std::map<std::string, std::string>{{"b.txt", "alt"}}));
}

TEST_F(CliTest, DamagedEntryLeavesNoPartialFile) {
  std::string big;
  for (int i = 0; i < 300000; ++i) big += static_cast<char>((i * 7) ^ (i >> 5));
  std::string bytes = HandMadeArchive({{"\\eins.txt", "erste Datei"}, {"\\zwei.bin", big}});
  bytes[bytes.size() - 40] ^= 0x10;  // inside the last entry's data
  ASSERT_TRUE(testutil::WriteFile(dir_.Join("bad.exe"), bytes));

  RunResult r = Run({"verify", "bad.exe"});
  EXPECT_EQ(r.code, kExitFailed);
  EXPECT_NE(r.err.find("zwei.bin"), std::string::npos) << r.err;

  // A target this run created goes again whole.
  r = Run({"extract", "bad.exe", "out"});
  EXPECT_EQ(r.code, kExitFailed);
  EXPECT_NE(r.err.find("zwei.bin"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(dir_.Join("out")));

  // In a target that was there, only what was there stays: no partial, temporary or first file.
  ASSERT_TRUE(testutil::MakeDirs(dir_.Join("had")));
  ASSERT_TRUE(testutil::WriteFile(dir_.Join("had/alt.txt"), "vorher"));
  r = Run({"extract", "bad.exe", "had"});
  EXPECT_EQ(r.code, kExitFailed);
  const std::map<std::string, std::string> expected{{"alt.txt", "vorher"}};
  EXPECT_EQ(TreeOf(dir_.Join("had")), expected);
}

TEST_F(CliTest, VerifyAndListReportIncompleteAndForeignFiles) {
  std::string bytes = HandMadeArchive({{"\\a.txt", "eins"}, {"\\b.txt", "zwei"}});
  ASSERT_TRUE(testutil::WriteFile(dir_.Join("good.exe"), bytes));
  EXPECT_EQ(Run({"verify", "good.exe"}).code, kExitOk);
  // The header plans three files, two are present: what a build leaves when a file failed.
  const size_t header = bytes.find("SFX2");
  bytes[header + 4] = 3;
  ASSERT_TRUE(testutil::WriteFile(dir_.Join("short.exe"), bytes));
  RunResult r = Run({"verify", "short.exe"});
  EXPECT_EQ(r.code, kExitFailed);
  EXPECT_NE(r.err.find("2 von 3"), std::string::npos) << r.err;
  EXPECT_EQ(Run({"list", "short.exe"}).code, kExitFailed);
  EXPECT_EQ(Run({"extract", "short.exe", "out"}).code, kExitFailed);
  EXPECT_FALSE(fs::exists(dir_.Join("out")));

  ASSERT_TRUE(testutil::WriteFile(dir_.Join("plain.txt"), "kein Archiv"));
  EXPECT_EQ(Run({"verify", "plain.txt"}).code, kExitFailed);
  EXPECT_EQ(Run({"list", "plain.txt"}).code, kExitFailed);
  EXPECT_EQ(Run({"verify", "fehlt.exe"}).code, kExitFailed);
  // Truncated: never a success.
  ASSERT_TRUE(testutil::WriteFile(dir_.Join("cut.exe"), bytes.substr(0, bytes.size() - 9)));
  EXPECT_EQ(Run({"verify", "cut.exe"}).code, kExitFailed);
}

// Every entry below root: files with their bytes and last-write time, folders as such.
std::map<std::string, std::pair<std::string, fs::file_time_type>> Snapshot(const fs::path& root) {
  std::map<std::string, std::pair<std::string, fs::file_time_type>> all;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
       ++it) {
    const std::string rel = fs::relative(it->path(), root).generic_u8string();
    all[rel] = it->is_directory() ? std::make_pair(std::string("<dir>"), fs::file_time_type())
                                  : std::make_pair(testutil::ReadFile(it->path().string()),
                                                   fs::last_write_time(it->path()));
  }
  return all;
}

// A run that fails after it replaced files leaves the target as it found it: the old files with
// their content and times, nothing new, no backup. The same archive without its fault replaces
// them and leaves no backup either.
TEST_F(CliTest, FailedExtractPutsReplacedFilesBack) {
  std::string big;
  for (int i = 0; i < 300000; ++i) big += static_cast<char>((i * 7) ^ (i >> 5));
  const std::vector<std::pair<std::string, std::string>> files{
      {"\\a.txt", "neu a"}, {"\\sub\\b.txt", "neu b"}, {"\\neu\\c.txt", "neu c"}, {"\\z.bin", big}};
  const struct {
    const char* what;
    bool readOnlyLast;  // z.bin is there and read-only
    bool damageLast;    // z.bin's data are damaged
  } cases[] = {{"read-only file in the way", true, false}, {"damaged data", false, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const fs::path out = dir_.Join("out");
    fs::remove_all(out);
    const auto old = fs::file_time_type::clock::now() - std::chrono::hours(24 * 400);
    for (const char* name : {"a.txt", "sub/b.txt", "z.bin"}) {
      if (std::string(name) == "z.bin" && !c.readOnlyLast) continue;
      ASSERT_TRUE(testutil::WriteFile((out / name).string(), std::string("alt ") + name));
      fs::last_write_time(out / name, old);
    }
    if (c.readOnlyLast) {
      ASSERT_TRUE(testutil::MakeReadOnly((out / "z.bin").string()));
    }
    std::string bytes = HandMadeArchive(files);
    if (c.damageLast) bytes[bytes.size() - 40] ^= 0x10;  // inside z.bin's data
    ASSERT_TRUE(testutil::WriteFile(dir_.Join("back.exe"), bytes));
    const auto before = Snapshot(out);

    const RunResult r = Run({"extract", "back.exe", out.string()});
    EXPECT_EQ(r.code, kExitFailed);
    EXPECT_NE(r.err.find("ersetzte Dateien haben wieder ihren alten Inhalt"), std::string::npos)
        << r.err;
    EXPECT_EQ(Snapshot(out), before);
    if (c.readOnlyLast) testutil::MakeWritable((out / "z.bin").string());

    ASSERT_TRUE(testutil::WriteFile(dir_.Join("good.exe"), HandMadeArchive(files)));
    ASSERT_EQ(Run({"extract", "good.exe", out.string()}).code, kExitOk);
    const std::map<std::string, std::string> now{
        {"a.txt", "neu a"}, {"sub/b.txt", "neu b"}, {"neu/c.txt", "neu c"}, {"z.bin", big}};
    EXPECT_EQ(TreeOf(out), now);
  }
}

// On several threads extract writes the same files and says the same, in the same order, as on
// one; a damaged entry in the middle takes back what the threads wrote before and after it.
TEST_F(CliTest, ExtractOnSeveralThreadsMatchesOneThread) {
  std::string big;
  for (int i = 0; i < 300000; ++i) big += static_cast<char>((i * 7) ^ (i >> 5));
  std::vector<std::pair<std::string, std::string>> files;
  for (int i = 0; i < 120; ++i)
    files.push_back({"\\d" + std::to_string(i % 4) + "\\f" + std::to_string(i) + ".txt",
                     std::string(i * 50, static_cast<char>('a' + i % 26))});
  files.insert(files.begin() + 60, {"\\mitte.bin", big});
  const std::string good = HandMadeArchive(files);
  std::string bad = good;
  const size_t name = bad.find("\\mitte.bin");
  ASSERT_NE(name, std::string::npos);
  const size_t length = 10, at = name - 2;  // the entry's header: name length, name, fields, data
  const uint32_t packed = static_cast<uint8_t>(bad[at + 30 + length]) |
                          static_cast<uint8_t>(bad[at + 31 + length]) << 8 |
                          static_cast<uint8_t>(bad[at + 32 + length]) << 16;
  bad[at + 40 + length + packed / 2] ^= 0x10;
  const struct {
    const char* what;
    const std::string& archive;
    int code;
  } cases[] = {{"whole", good, kExitOk}, {"damaged in the middle", bad, kExitFailed}};
  // The old files get one time for every run, whole seconds a year back: the C runtime of the
  // Windows build sets whole seconds and silently ignores the clock's epoch (year 2174), which
  // would leave each run's files with the second they were written in.
  const auto oldTime = std::chrono::floor<std::chrono::seconds>(fs::file_time_type::clock::now() -
                                                                std::chrono::hours(24 * 365));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(testutil::WriteFile(dir_.Join("j.exe"), c.archive));
    RunResult first;
    std::map<std::string, std::pair<std::string, fs::file_time_type>> firstTree;
    for (const char* jobs : {"1", "2", "8"}) {
      SCOPED_TRACE(jobs);
      const fs::path out = dir_.Join("out");
      fs::remove_all(out);
      ASSERT_TRUE(testutil::WriteFile((out / "d1" / "f1.txt").string(), "alt"));
      ASSERT_TRUE(testutil::WriteFile((out / "d1" / "f101.txt").string(), "alt"));
      for (const char* old : {"d1/f1.txt", "d1/f101.txt"}) {
        fs::last_write_time(out / old, oldTime);
        ASSERT_EQ(fs::last_write_time(out / old), oldTime);
      }
      const auto before = Snapshot(out);
      const RunResult r = Run({"extract", "-j", jobs, "j.exe", out.string()});
      EXPECT_EQ(r.code, c.code) << r.err;
      if (c.code != kExitOk) {
        EXPECT_EQ(Snapshot(out), before);
      }
      if (std::string(jobs) == "1") {
        first = r;
        firstTree = Snapshot(out);
        continue;
      }
      EXPECT_EQ(r.out, first.out);
      EXPECT_EQ(r.err, first.err);
      EXPECT_EQ(Snapshot(out), firstTree);
    }
  }
}

// The header's total is a 32-bit field: list and list --json show the sum of the entries, and
// the header's value beside it where the field wrapped. The sizes are those the entries claim.
TEST_F(CliTest, ListShowsTheSumOfTheEntriesBesideTheHeaderTotal) {
  const struct {
    std::vector<uint32_t> sizes;
    const char* total;
    const char* header;  // shown beside the total, or nullptr
  } cases[] = {
      {{2000000000u, 2000000000u, 1294967296u}, "5294967296", "1000000000"},
      {{2147483647u, 2147483647u, 2u}, "4294967296", "0"},
      {{7u, 1u, 2u}, "10", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.total);
    std::string bytes = HandMadeArchive({{"\\a", "1"}, {"\\b", "2"}, {"\\c", "3"}});
    const auto put32 = [&bytes](size_t at, uint64_t v) {
      for (int k = 0; k < 4; ++k) bytes[at + k] = static_cast<char>((v >> (8 * k)) & 0xFF);
    };
    const size_t header = bytes.find("SFX2");
    uint64_t sum = 0;
    size_t at = header + 17;  // the first entry: name length, name, 38 bytes, data
    for (uint32_t size : c.sizes) {
      const size_t fields = at + 2 + static_cast<unsigned char>(bytes[at]);
      size_t packed = 0;
      for (int k = 3; k >= 0; --k)
        packed = packed << 8 | static_cast<unsigned char>(bytes[fields + 28 + k]);
      put32(fields + 24, size);
      sum += size;
      at = fields + 38 + packed;
    }
    put32(header + 8, sum);
    ASSERT_TRUE(testutil::WriteFile(dir_.Join("sizes.exe"), bytes));

    RunResult r = Run({"list", "sizes.exe"});
    EXPECT_EQ(r.code, kExitOk) << r.err;
    const std::string line = std::string("e: ") + c.total;  // the end of "Gesamtgroesse: "
    EXPECT_NE(r.out.find(c.header ? line + " (Archivkopf: " + c.header + ")\n" : line + "\n"),
              std::string::npos)
        << r.out;
    r = Run({"list", "--json", "sizes.exe"});
    EXPECT_EQ(r.code, kExitOk) << r.err;
    EXPECT_NE(r.out.find(std::string("\"totalSize\": ") + c.total + ","), std::string::npos);
    EXPECT_NE(r.out.find(std::string("\"headerTotalSize\": ") + (c.header ? c.header : c.total)),
              std::string::npos)
        << r.out;
  }
}

// Without files an archive is still judged by its stub: list, list --json and verify agree.
TEST_F(CliTest, AnArchiveWithoutFilesIsJudgedByItsStubInEveryReader) {
  const struct {
    const char* stubMethod;  // named by the stub's mark; MaxCompression is 0 (gzip)
    int code;
  } cases[] = {{"gzip", kExitOk}, {"bzip2", kExitFailed}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stubMethod);
    const std::string stub = testutil::TinyProgramBytes(
        {testutil::TextResource(pe::kTypeRcData, layout::kStubMethodResource,
                                std::string("Tambrix-Entpackmethode:") + c.stubMethod + ";")});
    ASSERT_TRUE(testutil::WriteFile(dir_.Join("empty.exe"), HandMadeArchive({}, true, stub, true)));
    for (const std::vector<std::string>& args : {std::vector<std::string>{"list", "empty.exe"},
                                                 {"list", "--json", "empty.exe"},
                                                 {"verify", "empty.exe"}}) {
      const RunResult r = Run(args);
      EXPECT_EQ(r.code, c.code) << args[1] << r.err;
      if (c.code != kExitOk) {
        EXPECT_NE(r.err.find("entpackt nur bzip2"), std::string::npos) << r.err;
      }
    }
  }
}

TEST_F(CliTest, BatchRunsEveryArchiveAndCountsSuccesses) {
  MakeSourceTree();
  const std::string ini =
      "[SFX_GLOBAL]\r\nNUM_SFX=2\r\nSOURCEPATH=src\r\nMAX_COMPRESSION=1\r\n"
      "[SFX1]\r\nSFX_NAME=eins.exe\r\n[SFX2]\r\nSFX_NAME=zwei.exe\r\nMAX_COMPRESSION=0\r\n";
  ASSERT_TRUE(testutil::WriteFile(dir_.Join("tambbatch.ini"), ini));
  RunResult r = Run({"batch", dir_.Join("tambbatch.ini"), "--stub-dir", stubs_});
  EXPECT_EQ(r.code, kExitOk) << r.err;
  // The joined report, as the console shows code page 1252 text.
  EXPECT_EQ(r.out, Arg1252("\nArchivName: eins.exe\nErfolg: Das Archiv wurde ordnungsgem\xE4\xDF "
                           "erstellt!\n\nArchivName: zwei.exe\nErfolg: Das Archiv wurde "
                           "ordnungsgem\xE4\xDF erstellt!\n"));
  EXPECT_NE(r.out.find("ArchivName: eins.exe"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("ArchivName: zwei.exe"), std::string::npos) << r.out;
  EXPECT_EQ(Run({"verify", "eins.exe"}).code, kExitOk);
  EXPECT_EQ(Run({"verify", "zwei.exe"}).code, kExitOk);

  // The second archive without a name: the run goes on, but not every archive succeeded.
  ASSERT_TRUE(testutil::WriteFile(
      dir_.Join("teil.ini"),
      "[SFX_GLOBAL]\r\nNUM_SFX=2\r\nSOURCEPATH=src\r\n[SFX1]\r\nSFX_NAME=drei.exe\r\n[SFX2]\r\n"));
  r = Run({"batch", dir_.Join("teil.ini"), "--stub-dir", stubs_});
  EXPECT_EQ(r.code, kExitFailed);
  EXPECT_NE(r.out.find("Abbruch: Es wurde noch kein Archivname angegeben!"), std::string::npos)
      << r.out;
  EXPECT_TRUE(fs::exists(dir_.Join("drei.exe")));

  r = Run({"batch", dir_.Join("fehlt.ini")});
  EXPECT_EQ(r.code, kExitFailed);
  EXPECT_NE(r.err.find("tambrixc: Kann Datei " + dir_.Join("fehlt.ini") + " nicht finden!"),
            std::string::npos)
      << r.err;
}

TEST(ConsoleText, ControlCharactersAreShownInHexOnlyWhereTheyCouldSteerATerminal) {
  EXPECT_EQ(console::Shown("a\x1B[2Jb"), "a<1B>[2Jb");
  EXPECT_EQ(console::Shown(std::string("\0\t\n\r\x7F", 5)), "<00><09><0A><0D><7F>");
  EXPECT_EQ(console::Shown("\x81\x8D\x8F\x90\x9D"), "<81><8D><8F><90><9D>");
  // Every character the code page defines stays as it is, the Euro sign and umlauts included.
  EXPECT_EQ(console::Shown("\x80\x9B\xE4\xFF C:\\x1b"), "\x80\x9B\xE4\xFF C:\\x1b");
  // Texts keep their lines and tabs; a line ends in "\r\n" or "\n", a lone "\r" is shown.
  EXPECT_EQ(console::ShownText("eins\r\nzwei\n\tdrei\rvier\x1B"),
            "eins\nzwei\n\tdrei<0D>vier<1B>");
}

TEST(ConsoleFrontEnd, MessagesGoToTheErrorStreamInTheConsoleEncoding) {
  testutil::TempDir dir;
  std::FILE* out = std::fopen(dir.Join("o").c_str(), "w+b");
  std::FILE* err = std::fopen(dir.Join("e").c_str(), "w+b");
  {
    ConsoleFrontEnd quiet(out, err, false);
    quiet.ShowProgress("Datei: a, 50 Prozent, Total: 10 Prozent");
    quiet.ShowMessage("Das Archiv wurde ordnungsgem\xE4\xDF erstellt!");
    quiet.FileFailed("C:\\x.bin", "zu gro\xDF");
    quiet.ShowReport("\nArchivName: a\n");
    EXPECT_EQ(quiet.Messages.size(), 2u);
  }
  std::fclose(out);
  std::fclose(err);
  const std::string errText = testutil::ReadFile(dir.Join("e"));
  const std::string expected =
      OnWindows() ? "tambrixc: Das Archiv wurde ordnungsgem\xE4\xDF erstellt!\n"
                  : "tambrixc: Das Archiv wurde ordnungsgem\xC3\xA4\xC3\x9F erstellt!\n";
  EXPECT_EQ(errText.substr(0, expected.size()), expected);
  EXPECT_NE(errText.find("C:\\x.bin"), std::string::npos);
  EXPECT_EQ(testutil::ReadFile(dir.Join("o")), "\nArchivName: a\n");

  // With a progress line, each update overwrites the last and a message clears it first.
  err = std::fopen(dir.Join("p").c_str(), "w+b");
  {
    ConsoleFrontEnd loud(nullptr, err, true);
    loud.ShowProgress("Datei: lang, 1 Prozent");
    loud.ShowProgress("kurz");
    loud.ShowMessage("fertig");
  }
  std::fclose(err);
  EXPECT_EQ(
      testutil::ReadFile(dir.Join("p")),
      "\rDatei: lang, 1 Prozent\rkurz                  \r" + std::string(22, ' ') +
          "\rtambrixc: fertig\n");
}

}  // namespace
