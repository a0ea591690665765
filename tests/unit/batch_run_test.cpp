#include "builder/batch_run.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/unit/fake_front_end.h"
#include "tests/unit/sfx_test_parser.h"
#include "tests/unit/test_util.h"

namespace {

using testfe::FakeFrontEnd;
using testfe::OsGuard;
using testutil::TempDir;

const std::string kSuccessLine = "Erfolg: Das Archiv wurde ordnungsgem\xE4\xDF erstellt!";

class BatchRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    BatchReport.Clear();
    BatchRunning = 0;
    // What was in force before the run, with values no batch archive may inherit.
    Settings = TInstallInf();
    Settings.SourcePaths.Add("C:\\Vorher");
    Settings.SfxName = "vorher.exe";
    Settings.SecondCommand = "zweites.exe";
    Settings.IconFile = "icon.ico";
    Settings.CleanUp = 1;
    Settings.StoreDirNames = 0;
    before_ = Settings;
    ui_.fields = before_;  // the fields show the record in force

    stubDir_ = dir_.Join("prog");
    ASSERT_TRUE(testutil::WriteFile(dir_.Join("prog/tambrix.res1"), "STUB-ONE"));
    ASSERT_TRUE(testutil::WriteFile(dir_.Join("prog/tambrix.res2"), "STUB-TWO!"));
    src_ = dir_.Join("src");
    ASSERT_TRUE(testutil::WriteFile(dir_.Join("src/a.txt"), "Inhalt"));
    ini_ = dir_.Join("tambbatch.ini");
    build_.stubDir = stubDir_;
  }
  void TearDown() override {
    Settings = TInstallInf();
    BatchReport.Clear();
  }

  void WriteIni(const std::string& text) {
    std::string crlf;
    for (char c : text) {
      if (c == '\n') crlf += '\r';
      crlf += c;
    }
    ASSERT_TRUE(testutil::WriteFile(ini_, crlf));
  }
  BatchSummary Run() { return RunBatch(ui_, ini_, build_); }
  // The summary counts each archive once, by its build's result.
  static void ExpectSummary(const BatchSummary& s, bool found, int built, int failed) {
    EXPECT_EQ(s.fileFound, found);
    EXPECT_EQ(s.built, built);
    EXPECT_EQ(s.failed, failed);
  }
  sfxtest::Archive Archive(const std::string& path) {
    sfxtest::Archive a;
    std::string why;
    EXPECT_TRUE(sfxtest::Parse(testutil::ReadFile(path), a, &why)) << path << ": " << why;
    return a;
  }
  // Settings were restored and shown last.
  void ExpectRestored() {
    EXPECT_EQ(sfxtest::ExpectedSettingsBlock(testfe::BlockOf(Settings)),
              sfxtest::ExpectedSettingsBlock(testfe::BlockOf(before_)));
    ASSERT_FALSE(ui_.shown.empty());
    EXPECT_EQ(ui_.shown.back().SfxName, "vorher.exe");
    EXPECT_EQ(BatchRunning, 0);
  }

  TempDir dir_;
  std::string stubDir_, src_, ini_;
  TInstallInf before_;
  BuildOptions build_;
  FakeFrontEnd ui_;
};

TEST_F(BatchRunTest, TwoArchivesFromGlobalDefaultsWithOneOverride) {
  const std::string a = dir_.Join("a.exe");
  const std::string b = dir_.Join("b.exe");
  WriteIni("[SFX_GLOBAL]\nNUM_SFX=2\nSOURCEPATH=" + src_ +
           "\nTARGETPATH=C:\\Ziel\nMAX_COMPRESSION=1\n\n[SFX1]\nSFX_NAME=" + a +
           "\n\n[SFX2]\nSFX_NAME=" + b + "\nMAX_COMPRESSION=0\n");
  ExpectSummary(Run(), true, 2, 0);

  const sfxtest::Archive first = Archive(a);
  EXPECT_EQ(first.settingsOffset, 8u) << "tambrix.res1";
  EXPECT_EQ(first.method, 0);
  EXPECT_EQ(first.settings.maxCompression, 1);
  const sfxtest::Archive second = Archive(b);
  EXPECT_EQ(second.settingsOffset, 9u) << "tambrix.res2";
  EXPECT_EQ(second.method, 1);
  EXPECT_EQ(second.settings.maxCompression, 0);
  for (const sfxtest::Archive* x : {&first, &second}) {
    EXPECT_EQ(x->settings.sources, std::vector<std::string>{src_});
    EXPECT_EQ(x->settings.targetDir, "C:\\Ziel");
    EXPECT_EQ(x->settings.dialogTitle, "") << "the record's default title never reaches a batch";
    EXPECT_EQ(x->settings.dialogText, "");
    EXPECT_EQ(x->settings.storeDirNames, 1);
    EXPECT_EQ(x->settings.cleanUp, 0);
    EXPECT_EQ(x->settings.secondCommand, "");
    EXPECT_EQ(x->settings.iconFile, "");
    EXPECT_EQ(x->settings.targetEditable, 1);
    EXPECT_EQ(x->fileCount, 1u);
  }

  ASSERT_EQ(ui_.reports.size(), 1u);
  EXPECT_EQ(ui_.reports[0], "\nArchivName: " + a + "\n" + kSuccessLine + "\n" +
                                "\nArchivName: " + b + "\n" + kSuccessLine + "\n");
  EXPECT_TRUE(ui_.messages.empty()) << "no message box during the run";
  EXPECT_EQ(ui_.flagAtTake, (std::vector<uint8_t>{0, 1, 1}))
      << "the fields are taken once before the run, then with BatchRunning set for each build";
  EXPECT_TRUE(ui_.started.empty()) << "nothing is started unless asked";
  EXPECT_GE(ui_.repaints, 4);
  ExpectRestored();
}

TEST_F(BatchRunTest, ArchiveSectionsOverrideAndXyzMeansAbsent) {
  WriteIni(
      "[SFX_GLOBAL]\nNUM_SFX=3\nSOURCEPATH=" + src_ +
      "\nTARGETPATH=C:\\Ziel\nCOMMAND=global.exe\nTERMINATION=1\nSFX_NAME=" + dir_.Join("g.exe") +
      "\n\n[SFX1]\nTARGETPATH=\nCOMMAND=xyz\nTERMINATION=257\nDIALOG_TITLE=Eins\n"
      "\n[SFX2]\nTERMINATION=256\nTARGET_EDITABLE=0\nSFX_NAME=" +
      dir_.Join("two.exe") + "\nSOURCEPATH=xyz\n");
  ExpectSummary(Run(), true, 3, 0);
  // The settings each build ran with, as shown in the front end before it.
  ASSERT_EQ(ui_.shown.size(), 4u);
  const TInstallInf& one = ui_.shown[0];
  EXPECT_EQ(one.TargetDir, "") << "present but empty overrides the global value";
  EXPECT_EQ(one.Command, "global.exe") << "xyz counts as absent";
  EXPECT_EQ(one.Terminates, 1) << "257 has the low byte 1";
  EXPECT_EQ(one.DialogTitle, "Eins");
  EXPECT_EQ(one.SfxName, dir_.Join("g.exe"));
  const TInstallInf& two = ui_.shown[1];
  EXPECT_EQ(two.Terminates, 0) << "256 has the low byte 0";
  EXPECT_EQ(two.TargetEditable, 0);
  EXPECT_EQ(two.TargetDir, "C:\\Ziel");
  EXPECT_EQ(two.SourcePaths.Strings, std::vector<std::string>{src_});
  EXPECT_EQ(two.DialogTitle, "");
  // [SFX3] is missing altogether: the batch defaults.
  const TInstallInf& three = ui_.shown[2];
  EXPECT_EQ(three.Terminates, 1);
  EXPECT_EQ(three.TargetDir, "C:\\Ziel");
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(ui_.shown[i].StoreDirNames, 1);
    EXPECT_EQ(ui_.shown[i].CleanUp, 0);
    EXPECT_EQ(ui_.shown[i].SecondCommand, "");
    EXPECT_EQ(ui_.shown[i].IconFile, "");
  }
  const sfxtest::Archive a = Archive(dir_.Join("two.exe"));
  EXPECT_EQ(a.settings.terminates, 0);
  EXPECT_EQ(a.settings.targetEditable, 0);
  ExpectRestored();
}

TEST_F(BatchRunTest, TextFilesAreReadUpToTheLimitOrTheFirstNul) {
  std::string big = sfxtest::Content(40000, 2);
  for (char& c : big) {
    if (c == '\0') c = '0';
  }
  ASSERT_TRUE(testutil::WriteFile(dir_.Join("big.txt"), big));
  ASSERT_TRUE(testutil::WriteFile(dir_.Join("withnul.txt"), std::string("0123456789\0rest", 15)));
  ASSERT_TRUE(testutil::WriteFile(dir_.Join("plain.txt"), "Danke\r\n"));
  const std::string out = dir_.Join("t.exe");
  WriteIni("[SFX_GLOBAL]\nNUM_SFX=2\nSOURCEPATH=" + src_ + "\nSFX_NAME=" + out +
           "\nDIALOG_TEXT=" + dir_.Join("big.txt") + "\nINFOTEXT_AFTER=" + dir_.Join("plain.txt") +
           "\n[SFX1]\nINFOTEXT_BEFORE=" + dir_.Join("withnul.txt") +
           "\n[SFX2]\nDIALOG_TEXT=" + dir_.Join("missing.txt") + "\nINFOTEXT_AFTER=\n");
  ExpectSummary(Run(), true, 2, 0);
  ASSERT_EQ(ui_.shown.size(), 3u);
  EXPECT_TRUE(ui_.shown[0].DialogText == big.substr(0, 32766));
  EXPECT_EQ(ui_.shown[0].InfoTextBefore, "0123456789");
  EXPECT_EQ(ui_.shown[0].InfoTextAfter, "Danke\r\n");
  EXPECT_EQ(ui_.shown[1].DialogText, "") << "a file that cannot be read gives an empty text";
  EXPECT_EQ(ui_.shown[1].InfoTextAfter, "");
  EXPECT_EQ(ui_.shown[1].InfoTextBefore, "");
  // The archive built last carries those texts.
  const sfxtest::Archive a = Archive(out);
  EXPECT_EQ(a.settings.dialogText, "");
  ExpectRestored();
}

TEST_F(BatchRunTest, MissingFileIsReportedAndChangesNothing) {
  ExpectSummary(Run(), false, 0, 0);
  EXPECT_EQ(ui_.messages, std::vector<std::string>{"Kann Datei tambbatch.ini nicht finden!"});
  EXPECT_TRUE(ui_.reports.empty());
  EXPECT_TRUE(ui_.shown.empty());
  EXPECT_EQ(Settings.SfxName, "vorher.exe");
}

TEST_F(BatchRunTest, NoArchivesGiveAnEmptyReport) {
  BatchReport.Add("from an earlier run");
  WriteIni("[SFX_GLOBAL]\nSOURCEPATH=" + src_ + "\n");
  ExpectSummary(Run(), true, 0, 0);
  EXPECT_EQ(ui_.reports, std::vector<std::string>{""});
  EXPECT_EQ(ui_.takes, 1) << "only the fields as they were before the run";
  ExpectRestored();
}

// NUM_SFX is read as the profile functions read it (wrapping in 32 bits); what the count comes
// to is said in the report, and a count far beyond the sections ends at once.
TEST_F(BatchRunTest, CountsAreReadAsOnWindowsAndSaidInTheReport) {
  const std::string a = dir_.Join("a.exe");
  struct Case {
    const char* count;
    int built;
    const char* note;  // the report's first line
  } cases[] = {
      {"0", 0, ""},
      {"-1", 0, "Hinweis: NUM_SFX=-1 ergibt die Anzahl -1; es wird kein Archiv erstellt."},
      {"2147483648", 0,
       "Hinweis: NUM_SFX=2147483648 ergibt die Anzahl -2147483648; es wird kein Archiv erstellt."},
      {"4294967297", 1, "Hinweis: NUM_SFX=4294967297 wird als 1 gelesen."},
      {"2147483647", 1,
       "Hinweis: Die Abschnitte [SFX1] bis [SFX2147483647] fehlen; diese Archive haben dieselben "
       "Einstellungen und werden einmal erstellt."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.count);
    BatchReport.Clear();
    ui_.reports.clear();
    WriteIni(std::string("[SFX_GLOBAL]\nNUM_SFX=") + c.count + "\nSOURCEPATH=" + src_ +
             "\nSFX_NAME=" + a + "\n");
    ExpectSummary(Run(), true, c.built, 0);
    ASSERT_EQ(ui_.reports.size(), 1u);
    const std::string report = ui_.reports[0];
    EXPECT_EQ(report.substr(0, report.find('\n')), c.note);
    EXPECT_EQ(report.find("Erfolg: ") != std::string::npos, c.built == 1) << report;
    ExpectRestored();
  }
}

// Each run of missing sections between present ones is one build of the defaults, in its place:
// the order of what the builds leave stays as written.
TEST_F(BatchRunTest, RunsOfMissingSectionsAreBuiltOnceInTheirPlace) {
  const std::string g = dir_.Join("g.exe");
  const std::string five = dir_.Join("five.exe");
  WriteIni("[SFX_GLOBAL]\nNUM_SFX=9\nSOURCEPATH=" + src_ + "\nSFX_NAME=" + g +
           "\n[sfx5]\nSFX_NAME=" + five + "\n[SFX05]\nSFX_NAME=nie.exe\n[SFX9]\n");
  ExpectSummary(Run(), true, 4, 0);
  ASSERT_EQ(ui_.reports.size(), 1u);
  const std::string ok = "\nArchivName: " + g + "\n" + kSuccessLine + "\n";
  EXPECT_EQ(ui_.reports[0],
            "Hinweis: Die Abschnitte [SFX1] bis [SFX4] fehlen; diese Archive haben dieselben "
            "Einstellungen und werden einmal erstellt.\n" +
                ok + "\nArchivName: " + five + "\n" + kSuccessLine + "\n" +
                "Hinweis: Die Abschnitte [SFX6] bis [SFX8] fehlen; diese Archive haben dieselben "
                "Einstellungen und werden einmal erstellt.\n" +
                ok + ok);
  EXPECT_TRUE(platform::Real().Exists(five));
  EXPECT_FALSE(platform::Real().Exists(dir_.Join("nie.exe")));
}

// A value that fills the 511 characters read may be only the start of what was written: that
// archive is not built, and the report names the key and its section.
TEST_F(BatchRunTest, AValueThatMayBeCutIsNotBuilt) {
  const std::string a = dir_.Join("a.exe");
  const std::string longPath = src_ + "/" + std::string(600, 'x');
  WriteIni("[SFX_GLOBAL]\nNUM_SFX=3\nSOURCEPATH=" + longPath + "\nSFX_NAME=" + a +
           "\n[SFX2]\nSOURCEPATH=" + src_ + "\n[SFX3]\nCOMMAND=" + std::string(511, 'c') + "\n");
  ExpectSummary(Run(), true, 1, 2);
  ASSERT_EQ(ui_.reports.size(), 1u);
  EXPECT_EQ(ui_.reports[0],
            "\nArchivName: " + a +
                "\nAbbruch: Der Wert von SOURCEPATH in [SFX_GLOBAL] hat 511 Zeichen oder mehr und "
                "wird nicht ganz gelesen!\n"
                "\nArchivName: " +
                a + "\n" + kSuccessLine +
                "\n\nArchivName: " + a +
                "\nAbbruch: Der Wert von COMMAND in [SFX3] hat 511 Zeichen oder mehr und wird "
                "nicht ganz gelesen!\n");
  EXPECT_EQ(Archive(a).settings.sources, std::vector<std::string>{src_});
  ExpectRestored();
}

// What the user typed since the last build is in the fields only; the run takes it into the
// record before keeping the record, so it is shown again afterwards.
TEST_F(BatchRunTest, EditsNotYetBuiltComeBackAfterTheRun) {
  ui_.fields.SfxName = "getippt.exe";
  ui_.fields.Command = "neu.bat";
  WriteIni("[SFX_GLOBAL]\nNUM_SFX=1\nSOURCEPATH=" + src_ + "\nSFX_NAME=" + dir_.Join("b.exe") +
           "\n");
  ExpectSummary(Run(), true, 1, 0);
  EXPECT_EQ(Settings.SfxName, "getippt.exe");
  EXPECT_EQ(Settings.Command, "neu.bat");
  ASSERT_FALSE(ui_.shown.empty());
  EXPECT_EQ(ui_.shown.back().SfxName, "getippt.exe");
  EXPECT_EQ(ui_.shown.back().Command, "neu.bat");
}

TEST_F(BatchRunTest, AFailingArchiveDoesNotStopTheRun) {
  const std::string ok = dir_.Join("ok.exe");
  WriteIni("[SFX_GLOBAL]\nNUM_SFX=2\nSOURCEPATH=" + src_ + "\n[SFX2]\nSFX_NAME=" + ok + "\n");
  ExpectSummary(Run(), true, 1, 1);
  ASSERT_EQ(ui_.reports.size(), 1u);
  EXPECT_EQ(ui_.reports[0],
            "\nArchivName: \nAbbruch: Es wurde noch kein Archivname angegeben!\n"
            "\nArchivName: " +
                ok + "\n" + kSuccessLine + "\n");
  EXPECT_TRUE(platform::Real().Exists(ok));
  ExpectRestored();
}

// A file that cannot be read still leaves a program file behind, but that archive was not
// built whole and counts as failed; so does one whose stub is missing.
TEST_F(BatchRunTest, ArchivesLeftIncompleteCountAsFailed) {
  const std::string bad = dir_.Join("bad/unlesbar.txt");
  ASSERT_TRUE(testutil::WriteFile(bad, "gesperrt"));
  const std::string partial = dir_.Join("partial.exe");
  const std::string whole = dir_.Join("whole.exe");
  WriteIni("[SFX_GLOBAL]\nNUM_SFX=3\nSOURCEPATH=" + src_ + "\n[SFX1]\nSOURCEPATH=" +
           dir_.Join("bad") + "\nSFX_NAME=" + partial + "\n[SFX2]\nSFX_NAME=" + whole +
           "\n[SFX3]\nMAX_COMPRESSION=1\nSFX_NAME=" + dir_.Join("nostub.exe") + "\n");
  ASSERT_TRUE(platform::Real().Remove(dir_.Join("prog/tambrix.res1")));
  testfe::RecordingOs os;
  os.failPath = bad;
  os.failMode = "rb";
  {
    OsGuard guard(&os);
    ExpectSummary(Run(), true, 1, 2);
  }
  EXPECT_TRUE(platform::Real().Exists(partial)) << "the incomplete program file is kept";
  EXPECT_TRUE(platform::Real().Exists(whole));
  ASSERT_EQ(ui_.reports.size(), 1u);
  EXPECT_EQ(ui_.reports[0], "\nArchivName: " + partial +
                                "\nFehler bei der Erstellung des Archivs!\n" +
                                "\nArchivName: " + whole + "\n" + kSuccessLine + "\n" +
                                "\nArchivName: " + dir_.Join("nostub.exe") +
                                "\nAbbruch: Kann Datei tambrix.resx nicht \xF6"
                                "ffnen!\n");
  ExpectRestored();
}

// "Anschliessend starten" holds for every build of the run; an archive that was not built is not
// started.
TEST_F(BatchRunTest, EveryArchiveBuiltIsStartedWhenAsked) {
  const std::string a = dir_.Join("a.exe");
  const std::string b = dir_.Join("b.exe");
  WriteIni("[SFX_GLOBAL]\nNUM_SFX=3\nSOURCEPATH=" + src_ + "\n[SFX1]\nSFX_NAME=" + a +
           "\n[SFX3]\nSFX_NAME=" + b + "\n");
  build_.startAfterwards = true;
  ExpectSummary(Run(), true, 2, 1);
  EXPECT_EQ(ui_.started, (std::vector<std::string>{a, b}));
  ExpectRestored();
}

// A front end whose check boxes hold only on and off, as the dialog's do.
class CheckBoxFrontEnd : public FakeFrontEnd {
 public:
  void TakeSettings(TInstallInf& settings) override {
    FakeFrontEnd::TakeSettings(settings);
    settings.Terminates = settings.Terminates != 0 ? 1 : 0;
  }
};

// Each archive's values pass through the front end's fields before its build, so their limits
// apply to batch values too; a front end without fields hands them on unchanged.
TEST_F(BatchRunTest, EachArchiveIsBuiltFromWhatTheFieldsGiveBack) {
  const std::string out = dir_.Join("t.exe");
  WriteIni("[SFX_GLOBAL]\nNUM_SFX=1\nSOURCEPATH=" + src_ + "\nTERMINATION=2\nSFX_NAME=" + out +
           "\n");
  CheckBoxFrontEnd boxes;
  ExpectSummary(RunBatch(boxes, ini_, build_), true, 1, 0);
  EXPECT_EQ(Archive(out).settings.terminates, 1) << "a check box holds on, not 2";
  ExpectSummary(Run(), true, 1, 0);
  EXPECT_EQ(Archive(out).settings.terminates, 2);
}

TEST_F(BatchRunTest, TheDefaultFileLiesBesideTheProgram) {
  testfe::RecordingOs os;
  os.programPath = dir_.Join("prog/tambrix.exe");
  OsGuard guard(&os);
  EXPECT_EQ(BatchFilePath(), dir_.Join("prog/tambbatch.ini"));
  const std::string out = dir_.Join("beside.exe");
  ASSERT_TRUE(testutil::WriteFile(
      dir_.Join("prog/tambbatch.ini"),
      "[SFX_GLOBAL]\r\nNUM_SFX=1\r\nSOURCEPATH=" + src_ + "\r\nSFX_NAME=" + out + "\r\n"));
  ExpectSummary(RunBatch(ui_), true, 1, 0);
  EXPECT_TRUE(platform::Real().Exists(out)) << "stubs found beside the program too";
  ASSERT_EQ(ui_.reports.size(), 1u);
  EXPECT_EQ(ui_.reports[0], "\nArchivName: " + out + "\n" + kSuccessLine + "\n");
}

}  // namespace
