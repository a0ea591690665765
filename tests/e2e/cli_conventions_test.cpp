// The console builder as a tool for scripts: its conventions (version, quiet, "--", one message
// prefix, the success line), the defaults of a console build, stored names below the source,
// reproducible output and list --json.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/archive_reader.h"
#include "archive/file_byte_source.h"
#include "archive/stored_name.h"
#include "cli/commands.h"
#include "cli/console_front_end.h"
#include "platform/platform.h"
#include "settings/install_inf.h"
#include "settings/settings_file.h"
#include "tests/e2e/cli_fixture.h"
#include "tests/unit/test_util.h"

namespace {

// Sets an environment variable for the life of the object; unset again afterwards.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) { Set(value.c_str()); }
  ~ScopedEnv() { Set(nullptr); }

 private:
  void Set(const char* value) {
#ifdef _WIN32
    _putenv_s(name_, value != nullptr ? value : "");
#else
    if (value != nullptr) {
      setenv(name_, value, 1);
    } else {
      unsetenv(name_);
    }
#endif
  }
  const char* name_;
};

ArchiveInfo ReadInfo(const std::string& path) {
  ArchiveInfo info;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  EXPECT_NE(f, nullptr) << path;
  if (f == nullptr) return info;
  FileByteSource src(f);
  EXPECT_EQ(ReadArchive(src, info), ReadStatus::Ok) << path;
  std::fclose(f);
  return info;
}

std::vector<std::string> NamesOf(const ArchiveInfo& info) {
  std::vector<std::string> names;
  for (const ArchiveEntry& e : info.entries) names.push_back(e.name);
  return names;
}

// Every line of text (a program's stderr) begins with "tambrixc: ", and exactly once.
void ExpectEveryLinePrefixed(const std::string& text) {
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    EXPECT_EQ(line.compare(0, 10, "tambrixc: "), 0) << line;
    EXPECT_EQ(line.find("tambrixc: ", 10), std::string::npos) << line;
    EXPECT_EQ(line.find("tambrixc tambrixc"), std::string::npos) << line;
    start = end + 1;
  }
}

TEST_F(CliTest, VersionHelpQuietAndTheEndOfOptions) {
  for (const char* v : {"--version", "-V"}) {
    const RunResult r = Run({v});
    EXPECT_EQ(r.code, kExitOk);
    EXPECT_EQ(r.out, std::string("tambrixc ") + TAMBRIX_TEST_VERSION + "\n");
    EXPECT_EQ(r.err, "");
  }
  EXPECT_NE(Run({"-h"}).out.find("tambrixc build"), std::string::npos);

  MakeSourceTree();
  // Quiet before the command or among its options: nothing at all on success.
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"-q", "build", "--source", "src", "--sfx", "q1.exe", "--stub-dir",
                                 stubs_},
        std::vector<std::string>{"build", "--quiet", "--source", "src", "--sfx", "q2.exe",
                                 "--stub-dir", stubs_}}) {
    const RunResult r = Run(args);
    EXPECT_EQ(r.code, kExitOk) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
  }
  RunResult r = Run({"-q", "verify", "q1.exe"});
  EXPECT_EQ(r.code, kExitOk);
  EXPECT_EQ(r.out + r.err, "");
  r = Run({"extract", "-q", "q1.exe", "quiet-out"});
  EXPECT_EQ(r.code, kExitOk);
  EXPECT_EQ(r.out + r.err, "");
  EXPECT_TRUE(fs::exists(dir_.Join("quiet-out/a.txt")));
  // A quiet failure still says why.
  r = Run({"-q", "build", "--source", "fehlt", "--sfx", "x.exe", "--stub-dir", stubs_});
  EXPECT_EQ(r.code, kExitFailed);
  EXPECT_NE(r.err.find("fehlt"), std::string::npos) << r.err;

  // After "--" a name that starts with '-' is a name.
  fs::copy_file(dir_.Join("q1.exe"), dir_.Join("-archiv.exe"));
  r = Run({"verify", "--", "-archiv.exe"});
  EXPECT_EQ(r.code, kExitOk) << r.err;
  r = Run({"extract", "--", "-archiv.exe", "-ziel"});
  EXPECT_EQ(r.code, kExitOk) << r.err;
  EXPECT_TRUE(fs::exists(dir_.Join("-ziel/a.txt")));
  r = Run({"verify", "-archiv.exe"});
  EXPECT_EQ(r.code, kExitUsage);
  EXPECT_NE(r.err.find("Unbekannte Option: -archiv.exe"), std::string::npos) << r.err;
}

TEST_F(CliTest, EveryMessageLineBeginsWithTheProgramNameOnce) {
  MakeSourceTree();
  const std::vector<std::vector<std::string>> calls = {
      {"list"},                      // usage error
      {"list", "a", "b"},            // usage error
      {"extract", "nur-eins.exe"},   // usage error
      {"frobnicate"},                // unknown command
      {"build", "--source", "src"},  // missing option
      {"build", "--source", "src", "--sfx", "x.exe", "--bogus"},
      {"verify", "fehlt.exe"},  // run-time error
      {"build", "--source", "src", "--sfx", "nichtda/x.exe", "--stub-dir", stubs_},
      {"build", "--source", "src", "--sfx", "s.exe", "--stub-dir", stubs_},  // success line
  };
  for (const std::vector<std::string>& args : calls) {
    const RunResult r = Run(args);
    EXPECT_FALSE(r.err.empty()) << args[0];
    ExpectEveryLinePrefixed(r.err);
  }
}

TEST_F(CliTest, TheSuccessLineNamesTheFileTheCountAndTheSize) {
  MakeSourceTree();
  const RunResult r = Run({"build", "--source", "src", "--sfx", "o.exe", "--stub-dir", stubs_});
  ASSERT_EQ(r.code, kExitOk) << r.err;
  const uint64_t size = fs::file_size(dir_.Join("o.exe"));
  EXPECT_EQ(r.err, Arg1252("tambrixc: Das Archiv wurde ordnungsgem\xE4\xDF erstellt: o.exe, "
                           "4 Dateien, ") +
                       GermanSize(size) + "\n");
}

TEST(GermanNumbers, CountsAndSizesAsWindowsShowsThem) {
  EXPECT_EQ(GermanCount(0), "0");
  EXPECT_EQ(GermanCount(999), "999");
  EXPECT_EQ(GermanCount(8555), "8.555");
  EXPECT_EQ(GermanCount(1234567), "1.234.567");
  EXPECT_EQ(GermanSize(1), "1 Byte");
  EXPECT_EQ(GermanSize(1023), "1.023 Bytes");
  EXPECT_EQ(GermanSize(1024), "1,0 KB");
  EXPECT_EQ(GermanSize(1536), "1,5 KB");
  EXPECT_EQ(GermanSize(28835840), "27,5 MB");
  // Just below a unit, the rounded figure moves up to it rather than showing 1.024,0 KB.
  EXPECT_EQ(GermanSize(1048575), "1,0 MB");
  EXPECT_EQ(GermanSize(1048000), "1.023,4 KB");
  EXPECT_EQ(GermanSize(uint64_t(5) << 30), "5,0 GB");
}

TEST_F(CliTest, AConsoleBuildStartsEmptyAndTakesInlineTexts) {
  MakeSourceTree();
  RunResult r = Run({"build", "--source", "src", "--sfx", "leer.exe", "--stub-dir", stubs_});
  ASSERT_EQ(r.code, kExitOk) << r.err;
  ArchiveInfo info = ReadInfo(dir_.Join("leer.exe"));
  EXPECT_EQ(info.settings.DialogText, "");
  EXPECT_EQ(info.settings.DialogTitle, "");
  EXPECT_EQ(info.settings.InfoTextBefore, "");
  EXPECT_EQ(info.settings.InfoTextAfter, "");
  EXPECT_EQ(info.settings.TargetEditable, 1);
  EXPECT_EQ(info.settings.StoreDirNames, 1);

  r = Run({"build", "--source", "src", "--sfx", "texte.exe", "--stub-dir", stubs_, "--text",
           Arg1252("Zeile 1\nZeile 2 \xFC"), "--info-before=Vorher", "--info-after",
           "Nachher\r\nEnde", "--second-command", "aufraeumen.bat", "--flat", "--target-dir",
           "C:\\Ziel"});
  ASSERT_EQ(r.code, kExitOk) << r.err;
  info = ReadInfo(dir_.Join("texte.exe"));
  EXPECT_EQ(info.settings.DialogText, "Zeile 1\r\nZeile 2 \xFC");  // lines end as in the dialog
  EXPECT_EQ(info.settings.InfoTextBefore, "Vorher");
  EXPECT_EQ(info.settings.InfoTextAfter, "Nachher\r\nEnde");
  EXPECT_EQ(info.settings.SecondCommand, "aufraeumen.bat");
  EXPECT_EQ(info.settings.TargetDir, "C:\\Ziel");
  EXPECT_EQ(info.settings.StoreDirNames, 0);
  // Flat: every file lands in the target itself.
  r = Run({"extract", "texte.exe", "flach"});
  ASSERT_EQ(r.code, kExitOk) << r.err;
  EXPECT_TRUE(fs::exists(dir_.Join("flach/b.bin")));
  EXPECT_FALSE(fs::exists(dir_.Join("flach/sub")));

  // A settings file is the starting record as it stands, its texts included.
  TInstallInf saved;
  saved.DialogText = "Aus der Datei";
  saved.SourcePaths.Add("src");
  saved.SfxName = "aus-datei.exe";
  ASSERT_TRUE(SaveSettingsFile(saved, dir_.Join("e.dat")));
  r = Run({"build", "--settings", "e.dat", "--stub-dir", stubs_});
  ASSERT_EQ(r.code, kExitOk) << r.err;
  info = ReadInfo(dir_.Join("aus-datei.exe"));
  EXPECT_EQ(info.settings.DialogText, "Aus der Datei");
  EXPECT_EQ(info.settings.InfoTextBefore, kDefaultInfoTextBefore);
}

TEST_F(CliTest, NamesAreRelativeToTheSourceHoweverItIsTyped) {
  MakeSourceTree();
  const char sep = platform::Real().Separator();
  const std::string absolute = dir_.Join("src");
  const std::vector<std::string> sources = {"src", std::string("src") + sep, absolute,
                                            absolute + sep, std::string(".") + sep + "src"};
  std::vector<std::string> expected;
  for (size_t i = 0; i < sources.size(); ++i) {
    const std::string name = "rel" + std::to_string(i) + ".exe";
    const RunResult r = Run({"build", "--source", sources[i], "--sfx", name, "--stub-dir", stubs_});
    ASSERT_EQ(r.code, kExitOk) << sources[i] << ": " << r.err;
    const std::vector<std::string> names = NamesOf(ReadInfo(dir_.Join(name)));
    if (i == 0) {
      expected = names;
      ASSERT_EQ(names.size(), 4u);
      EXPECT_EQ(names[0], "\\a.txt");
      for (const std::string& n : names) EXPECT_EQ(n.find("src"), std::string::npos) << n;
    }
    EXPECT_EQ(names, expected) << sources[i];
  }

  // --dialog-names cuts the full path at its second separator, as the dialog does: the folders
  // of the absolute path below its first level are kept.
  RunResult r = Run({"build", "--source", absolute, "--sfx", "dialog.exe", "--stub-dir", stubs_,
                     "--dialog-names"});
  ASSERT_EQ(r.code, kExitOk) << r.err;
  const std::vector<std::string> dialogNames = NamesOf(ReadInfo(dir_.Join("dialog.exe")));
  ASSERT_EQ(dialogNames.size(), 4u);
  EXPECT_EQ(dialogNames[0], StoredNameOf(absolute + sep + "a.txt", absolute, sep));
  EXPECT_GT(dialogNames[0].size(), std::string("\\src\\a.txt").size()) << dialogNames[0];

  // The batch run names files as the dialog does.
  ASSERT_TRUE(testutil::WriteFile(dir_.Join("b.ini"),
                                  "[SFX_GLOBAL]\r\nNUM_SFX=1\r\nSOURCEPATH=" + absolute +
                                      "\r\n[SFX1]\r\nSFX_NAME=" + dir_.Join("batch.exe") + "\r\n"));
  r = Run({"batch", dir_.Join("b.ini"), "--stub-dir", stubs_});
  ASSERT_EQ(r.code, kExitOk) << r.out << r.err;
  EXPECT_EQ(NamesOf(ReadInfo(dir_.Join("batch.exe"))), dialogNames);
}

TEST_F(CliTest, SourceDateEpochLimitsTheStoredTimesInUtc) {
  ASSERT_TRUE(testutil::WriteFile(dir_.Join("src/neu.txt"), "neu"));
  ASSERT_TRUE(testutil::WriteFile(dir_.Join("src/alt.txt"), "alt"));
  fs::last_write_time(dir_.Join("src/alt.txt"), fs::last_write_time(dir_.Join("src/alt.txt")) -
                                                    std::chrono::hours(24 * 3650));
  int64_t oldSeconds = 0;
  ASSERT_TRUE(platform::Real().LastWriteSeconds(dir_.Join("src/alt.txt"), oldSeconds));
  {
    // 2023-11-14 22:13:20 UTC: newer than the old file, older than the new one.
    ScopedEnv epoch("SOURCE_DATE_EPOCH", std::to_string(oldSeconds + 86400));
    const RunResult r = Run({"build", "--source", "src", "--sfx", "t.exe", "--stub-dir", stubs_});
    ASSERT_EQ(r.code, kExitOk) << r.err;
  }
  const ArchiveInfo info = ReadInfo(dir_.Join("t.exe"));
  ASSERT_EQ(info.entries.size(), 2u);
  ASSERT_EQ(info.entries[0].name, "\\alt.txt");
  const platform::DosTime old = platform::DosTimeOfUtcSeconds(oldSeconds);
  const platform::DosTime limit = platform::DosTimeOfUtcSeconds(oldSeconds + 86400);
  EXPECT_EQ(info.entries[0].time.day, old.day);
  EXPECT_EQ(info.entries[0].time.hour, old.hour);
  EXPECT_EQ(info.entries[0].time.seconds2, old.seconds2);
  EXPECT_EQ(info.entries[1].time.day, limit.day);
  EXPECT_EQ(info.entries[1].time.hour, limit.hour);
  EXPECT_EQ(info.entries[1].time.minute, limit.minute);
  EXPECT_EQ(info.entries[1].time.year1980, limit.year1980);

  ScopedEnv bad("SOURCE_DATE_EPOCH", "morgen");
  const RunResult r = Run({"build", "--source", "src", "--sfx", "u.exe", "--stub-dir", stubs_});
  EXPECT_EQ(r.code, kExitUsage);
  EXPECT_NE(r.err.find("SOURCE_DATE_EPOCH"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(dir_.Join("u.exe")));
}

TEST_F(CliTest, TwoCopiesOfATreeMadeInDifferentOrdersBuildTheSameBytes) {
  // The same files, created in opposite orders and at different times, in two parent folders:
  // built from the same relative names with a time limit, the archives are equal.
  const std::vector<std::string> files = {"b/zwei.txt", "A/eins.txt", "a.txt", "C.txt",
                                          "b/x/y.txt"};
  for (int copy = 0; copy < 2; ++copy) {
    const std::string root = dir_.Join(copy == 0 ? "erste" : "zweite");
    for (size_t k = 0; k < files.size(); ++k) {
      const std::string& f = copy == 0 ? files[k] : files[files.size() - 1 - k];
      ASSERT_TRUE(testutil::WriteFile(root + "/tree/" + f, "Inhalt von " + f));
    }
  }
  ScopedEnv epoch("SOURCE_DATE_EPOCH", "1700000000");
  std::string bytes[2];
  for (int copy = 0; copy < 2; ++copy) {
    const fs::path here = fs::current_path();
    fs::current_path(dir_.Join(copy == 0 ? "erste" : "zweite"));
    const RunResult r = Run({"build", "--source", "tree", "--sfx", "r.exe", "--stub-dir", stubs_,
                             "--max-compression", "-j2"});
    fs::current_path(here);
    ASSERT_EQ(r.code, kExitOk) << r.err;
    bytes[copy] = testutil::ReadFile(dir_.Join(copy == 0 ? "erste/r.exe" : "zweite/r.exe"));
  }
  EXPECT_FALSE(bytes[0].empty());
  EXPECT_TRUE(bytes[0] == bytes[1]) << "the two archives differ";
  const ArchiveInfo info = ReadInfo(dir_.Join("erste/r.exe"));
  EXPECT_EQ(NamesOf(info), (std::vector<std::string>{"\\a.txt", "\\C.txt", "\\A\\eins.txt",
                                                     "\\b\\zwei.txt", "\\b\\x\\y.txt"}));
}

TEST_F(CliTest, TheMissingStubAndBatchFileAreNamedWithThePathsLookedAt) {
  MakeSourceTree();
  const std::string nowhere = dir_.Join("keine-stubs");
  RunResult r = Run({"build", "--source", "src", "--sfx", "o.exe", "--stub-dir", nowhere});
  EXPECT_EQ(r.code, kExitFailed);
  EXPECT_NE(r.err.find(nowhere + platform::Real().Separator() + "tambrix.res2"), std::string::npos)
      << r.err;

  r = Run({"batch", "--stub-dir", stubs_});
  EXPECT_EQ(r.code, kExitFailed);
  EXPECT_NE(r.err.find("Kann Datei tambbatch.ini nicht finden!"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("aktuellen Verzeichnis"), std::string::npos) << r.err;
  // The control file of the current directory is the one run.
  ASSERT_TRUE(testutil::WriteFile(
      dir_.Join("tambbatch.ini"),
      "[SFX_GLOBAL]\r\nNUM_SFX=1\r\nSOURCEPATH=src\r\n[SFX1]\r\nSFX_NAME=hier.exe\r\n"));
  r = Run({"batch", "--stub-dir", stubs_});
  EXPECT_EQ(r.code, kExitOk) << r.out << r.err;
  EXPECT_TRUE(fs::exists(dir_.Join("hier.exe")));
  // Quiet: a batch that succeeds says nothing; one that fails shows its report.
  r = Run({"batch", "-q", "--stub-dir", stubs_});
  EXPECT_EQ(r.code, kExitOk);
  EXPECT_EQ(r.out + r.err, "");
  r = Run({"batch", "-q", "--stub-dir", nowhere});
  EXPECT_EQ(r.code, kExitFailed);
  EXPECT_NE(r.out.find("Abbruch"), std::string::npos) << r.out;
}

TEST_F(CliTest, WrongPathsAreBlamedForWhatIsWrongWithThem) {
  MakeSourceTree();
  fs::create_directories(dir_.Join("ordner"));
  const std::string sep(1, platform::Real().Separator());
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{"--source", "src", "--sfx", "nichtda" + sep + "x.exe"},
       "Das Verzeichnis nichtda" + sep + " f\xFCr das Archiv existiert nicht!"},
      {{"--source", "src", "--sfx", "ordner"}, "Der Archivname ordner bezeichnet ein Verzeichnis!"},
      {{"--source", "src" + sep + "a.txt", "--sfx", "x.exe"},
       "Das Quellverzeichnis src" + sep + "a.txt ist kein Verzeichnis!"},
      {{"--source", "fehlt", "--sfx", "x.exe"}, "Das Quellverzeichnis fehlt existiert nicht!"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"build", "--stub-dir", stubs_};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const RunResult r = Run(args);
    EXPECT_EQ(r.code, kExitFailed);
    EXPECT_EQ(r.err, Arg1252("tambrixc: " + c.message + "\n")) << c.message;
    EXPECT_EQ(r.err.find("tambrix.resx"), std::string::npos) << "the stub is not to blame";
  }
  EXPECT_FALSE(fs::exists(dir_.Join("x.exe")));
}

TEST_F(CliTest, ListAsJsonGivesSettingsAndEntriesInAsciiEscapes) {
  MakeSourceTree();
  RunResult r = Run({"build", "--source", "src", "--sfx", "j.exe", "--stub-dir", stubs_, "--title",
                     Arg1252("\xC4rger \"zitiert\""), "--text", "a\nb"});
  ASSERT_EQ(r.code, kExitOk) << r.err;
  r = Run({"list", "--json", "j.exe"});
  ASSERT_EQ(r.code, kExitOk) << r.err;
  for (unsigned char c : r.out) EXPECT_LT(c, 0x80) << "not ASCII";
  EXPECT_EQ(r.out.front(), '{');
  EXPECT_NE(r.out.find("\"dialogTitle\": \"\\u00C4rger \\\"zitiert\\\"\""), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("\"dialogText\": \"a\\r\\nb\""), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"method\": \"gzip\""), std::string::npos);
  EXPECT_NE(r.out.find("\"fileCount\": 4"), std::string::npos);
  EXPECT_NE(r.out.find("{\"name\": \"\\\\sub\\\\deep\\\\\\u00DCbersicht.txt\", \"size\": 6,"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("\"complete\": true,\n  \"problem\": null\n}\n"), std::string::npos);

  // An archive the extractor refuses says so in the document and in the exit code.
  ASSERT_TRUE(testutil::WriteFile(dir_.Join("bad.exe"),
                                  HandMadeArchive({{"\\x.txt", "1"}, {"\\X.TXT", "2"}})));
  r = Run({"list", "--json", "bad.exe"});
  EXPECT_EQ(r.code, kExitFailed);
  EXPECT_NE(r.out.find("\"problem\": \""), std::string::npos) << r.out;
  EXPECT_EQ(Run({"verify", "--json", "j.exe"}).code, kExitUsage);
}

}  // namespace
