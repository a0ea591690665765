#include "settings/settings_file.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/unit/fake_front_end.h"
#include "tests/unit/sfx_test_parser.h"
#include "tests/unit/test_util.h"

namespace {

using testfe::OsGuard;
using testutil::TempDir;

std::string Encoded(const TInstallInf& r) { return sfxtest::ExpectedSettingsBlock(testfe::BlockOf(r)); }

// A record in which every field differs from its default.
TInstallInf Unusual() {
  TInstallInf r;
  r.SourcePaths.Add("C:\\Quelle");
  r.SourcePaths.Add("D:\\Zweite");
  r.StoreDirNames = 0;
  r.MaxCompression = 1;
  r.TargetDir = "C:\\Ziel";
  r.SfxName = "C:\\out.exe";
  r.Command = "setup.exe";
  r.SecondCommand = "zwei.exe";
  r.IconFile = "icon.ico";
  r.DialogText =
      "Text\r\nmit Gr\xFC\xDF"
      "en";
  r.InfoTextBefore = "vorher";
  r.InfoTextAfter = "nachher";
  r.Terminates = 1;
  r.DialogTitle = "Titel";
  r.TargetEditable = 0;
  r.CleanUp = 1;
  return r;
}

class SettingsFileTest : public ::testing::Test {
 protected:
  TempDir dir_;
  std::string path_ = dir_.Join("tambrix.dat");
};

TEST_F(SettingsFileTest, DefaultRecordWithOneEmptySourceIs248KnownBytes) {
  TInstallInf r;
  r.SourcePaths.Add("");
  ASSERT_TRUE(SaveSettingsFile(r, path_));
  const std::string dialogText =
      "Hier k\xF6nnen Sie eine begleitende Information zur Installation unterbringen.";
  const std::string before = "Dieser Text kann beim Programmstart angezeigt werden.";
  const std::string after =
      "Dieser Text kann nach einem erfolgreichen Entpackvorgang angezeigt werden.";
  std::string expected("\x01\x01\x00\x00\x00\x01\x00", 7);
  expected += std::string(10, '\0');
  expected += std::string("\x4B\x00", 2) + dialogText;
  expected += std::string("\x35\x00", 2) + before;
  expected += std::string("\x4A\x00", 2) + after;
  expected += std::string("\x00\x12\x00", 3) + "ZAL Self-Extractor";
  expected += std::string("\x01\x00", 2);
  ASSERT_EQ(expected.size(), 248u);
  EXPECT_EQ(testutil::ReadFile(path_), expected);
  EXPECT_FALSE(platform::Real().Exists(path_ + ".tmp"));
}

TEST_F(SettingsFileTest, SaveTrimsTheTextsAndLoadReadsEveryFieldBack) {
  TInstallInf r = Unusual();
  r.TargetDir = "  C:\\Ziel ";
  r.DialogTitle = " Titel  ";
  r.Command = "\tsetup.exe";  // only blanks are trimmed
  ASSERT_TRUE(SaveSettingsFile(r, path_));
  EXPECT_EQ(r.TargetDir, "C:\\Ziel") << "the record itself is trimmed";
  const std::string bytes = testutil::ReadFile(path_);
  EXPECT_NE(bytes.find(std::string("\x07\x00", 2) + "C:\\Ziel"), std::string::npos);

  TInstallInf loaded;
  ASSERT_TRUE(LoadSettingsFile(loaded, path_));
  EXPECT_EQ(Encoded(loaded), Encoded(r));
  EXPECT_EQ(loaded.Command, "\tsetup.exe");
  EXPECT_EQ(bytes, Encoded(r));
}

TEST_F(SettingsFileTest, OtherVersionsAndMissingOrEmptyFilesLeaveTheDefaults) {
  const std::string defaults = Encoded(TInstallInf());
  TInstallInf r;
  EXPECT_FALSE(LoadSettingsFile(r, dir_.Join("missing.dat")));
  EXPECT_EQ(Encoded(r), defaults);

  std::string v2 = Encoded(Unusual());
  v2[0] = '\x02';
  ASSERT_TRUE(testutil::WriteFile(path_, v2));
  EXPECT_FALSE(LoadSettingsFile(r, path_));
  EXPECT_EQ(Encoded(r), defaults);
  // Written back as version 1.
  ASSERT_TRUE(SaveSettingsFile(r, path_));
  EXPECT_EQ(testutil::ReadFile(path_)[0], '\x01');

  ASSERT_TRUE(testutil::WriteFile(path_, ""));
  EXPECT_FALSE(LoadSettingsFile(r, path_));
  EXPECT_EQ(Encoded(r), defaults);
}

// Cut the file after every byte: each field the file still holds whole is read, each field
// beyond the end keeps its default, and nothing crashes.
TEST_F(SettingsFileTest, TruncatedFilesReadWhatTheyHold) {
  const TInstallInf full = Unusual();
  const std::string bytes = Encoded(full);
  const TInstallInf defaults;

  struct Field {
    size_t size;  // encoded bytes
    std::function<bool(const TInstallInf&, const TInstallInf&)> same;
  };
  auto str = [](std::string TInstallInf::*m) {
    return [m](const TInstallInf& a, const TInstallInf& b) { return a.*m == b.*m; };
  };
  auto flag = [](uint8_t TInstallInf::*m) {
    return [m](const TInstallInf& a, const TInstallInf& b) { return a.*m == b.*m; };
  };
  const std::vector<Field> fields = {
      {1, [](const TInstallInf&, const TInstallInf&) { return true; }},  // version
      {2 + 2 + 9 + 2 + 9,
       [](const TInstallInf& a, const TInstallInf& b) {
         return a.SourcePaths.Strings == b.SourcePaths.Strings;
       }},
      {1, flag(&TInstallInf::StoreDirNames)},
      {1, flag(&TInstallInf::MaxCompression)},
      {2 + full.TargetDir.size(), str(&TInstallInf::TargetDir)},
      {2 + full.SfxName.size(), str(&TInstallInf::SfxName)},
      {2 + full.Command.size(), str(&TInstallInf::Command)},
      {2 + full.SecondCommand.size(), str(&TInstallInf::SecondCommand)},
      {2 + full.IconFile.size(), str(&TInstallInf::IconFile)},
      {2 + full.DialogText.size(), str(&TInstallInf::DialogText)},
      {2 + full.InfoTextBefore.size(), str(&TInstallInf::InfoTextBefore)},
      {2 + full.InfoTextAfter.size(), str(&TInstallInf::InfoTextAfter)},
      {1, flag(&TInstallInf::Terminates)},
      {2 + full.DialogTitle.size(), str(&TInstallInf::DialogTitle)},
      {1, flag(&TInstallInf::TargetEditable)},
      {1, flag(&TInstallInf::CleanUp)},
  };
  size_t total = 0;
  for (const Field& f : fields) total += f.size;
  ASSERT_EQ(total, bytes.size());

  for (size_t cut = 0; cut <= bytes.size(); ++cut) {
    ASSERT_TRUE(testutil::WriteFile(path_, bytes.substr(0, cut)));
    TInstallInf r;
    const bool ok = LoadSettingsFile(r, path_);
    EXPECT_EQ(ok, cut == bytes.size()) << cut;
    size_t start = 0;
    for (size_t i = 0; i < fields.size(); ++i) {
      const size_t end = start + fields[i].size;
      if (end <= cut) {
        EXPECT_TRUE(fields[i].same(r, full)) << "field " << i << " cut " << cut;
      } else if (start >= cut && i > 0) {
        EXPECT_TRUE(fields[i].same(r, defaults)) << "field " << i << " cut " << cut;
      }
      start = end;
    }
  }
}

TEST_F(SettingsFileTest, DuplicateSourcePathsAreReadAsOneAndWrittenBackWithCountOne) {
  TInstallInf twice;
  twice.SourcePaths.AllowDuplicates = true;
  twice.SourcePaths.Add("C:\\Daten");
  twice.SourcePaths.Add("C:\\Daten");
  ASSERT_TRUE(testutil::WriteFile(path_, Encoded(twice)));
  TInstallInf r;
  ASSERT_TRUE(LoadSettingsFile(r, path_));
  EXPECT_EQ(r.SourcePaths.Strings, std::vector<std::string>{"C:\\Daten"});
  ASSERT_TRUE(SaveSettingsFile(r, path_));
  const std::string bytes = testutil::ReadFile(path_);
  EXPECT_EQ(bytes.substr(1, 2 + 2 + 8), sfxtest::LE16(1) + sfxtest::Str("C:\\Daten"));
}

// An Os that breaks one step of saving.
class SaveFaultOs : public platform::ForwardingOs {
 public:
  enum class Fault { OpenTemp, WriteTemp, Replace };
  explicit SaveFaultOs(Fault f) : ForwardingOs(platform::Real()), fault_(f) {}
  std::FILE* Open(const std::string& p, const char* m) override {
    const bool temp = p.size() > 4 && p.compare(p.size() - 4, 4, ".tmp") == 0;
    if (temp && std::string(m) == "wb") {
      tempSeen = p;
      if (fault_ == Fault::OpenTemp) return nullptr;
      if (fault_ == Fault::WriteTemp) {
        // Created, but every write to it fails.
        std::FILE* f = inner_.Open(p, "wb");
        if (f) std::fclose(f);
        return inner_.Open(p, "rb");
      }
    }
    return inner_.Open(p, m);
  }
  bool Replace(const std::string& from, const std::string& to) override {
    if (fault_ == Fault::Replace) return false;
    return inner_.Replace(from, to);
  }
  std::string tempSeen;

 private:
  Fault fault_;
};

TEST_F(SettingsFileTest, FailedSaveKeepsTheOldFileWhole) {
  TInstallInf old = Unusual();
  ASSERT_TRUE(SaveSettingsFile(old, path_));
  const std::string before = testutil::ReadFile(path_);
  for (SaveFaultOs::Fault f :
       {SaveFaultOs::Fault::OpenTemp, SaveFaultOs::Fault::WriteTemp, SaveFaultOs::Fault::Replace}) {
    SaveFaultOs os(f);
    OsGuard guard(&os);
    TInstallInf r;
    r.SourcePaths.Add("neu");
    EXPECT_FALSE(SaveSettingsFile(r, path_)) << static_cast<int>(f);
    EXPECT_EQ(testutil::ReadFile(path_), before) << static_cast<int>(f);
    EXPECT_FALSE(os.tempSeen.empty());
    EXPECT_FALSE(platform::Real().Exists(os.tempSeen)) << "no temporary file is left";
    EXPECT_NE(os.tempSeen, path_);
  }
}

TEST_F(SettingsFileTest, StringsTheEncodingCannotHoldAreRefusedWhole) {
  TInstallInf r;
  r.DialogText = std::string(70000, 'x');
  std::FILE* f = platform::Real().Open(path_, "wb");
  ASSERT_NE(f, nullptr);
  EXPECT_FALSE(WriteInstallInf(r, f));
  std::fclose(f);
  EXPECT_EQ(testutil::ReadFile(path_), "") << "nothing of it is written";
  ASSERT_TRUE(testutil::WriteFile(path_, "old"));
  EXPECT_FALSE(SaveSettingsFile(r, path_));
  EXPECT_EQ(testutil::ReadFile(path_), "old");
}

TEST_F(SettingsFileTest, TheDefaultPathLiesBesideTheProgram) {
  testfe::RecordingOs os;
  os.programPath = dir_.Join("prog/tambrix.exe");
  ASSERT_TRUE(testutil::MakeDirs(dir_.Join("prog")));
  OsGuard guard(&os);
  EXPECT_EQ(SettingsFilePath(), dir_.Join("prog/tambrix.dat"));
  TInstallInf r = Unusual();
  ASSERT_TRUE(SaveSettingsFile(r));
  TInstallInf loaded;
  ASSERT_TRUE(LoadSettingsFile(loaded));
  EXPECT_EQ(Encoded(loaded), Encoded(r));
}

}  // namespace
