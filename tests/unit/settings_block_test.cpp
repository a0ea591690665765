// The settings block's field table as its three users see it: the writer, the settings file's
// tolerant reader and the archive reader's strict parser. Expected bytes come from the tests' own
// encoder, which lists the record's members by hand, so a field the table leaves out, repeats or
// puts in the wrong place shows up as different bytes.
#include "settings/settings_block.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "archive/archive_reader.h"
#include "platform/platform.h"
#include "settings/settings_file.h"
#include "tests/unit/fake_front_end.h"
#include "tests/unit/sfx_test_parser.h"
#include "tests/unit/test_util.h"

namespace {

using testutil::TempDir;

const char kWhySettings[] = "Die Archiveinstellungen sind unvollst\xE4ndig oder ung\xFCltig.";
const char kWhyVersion[] = "Die Archiveinstellungen haben eine unbekannte Version.";

std::string Expected(const TInstallInf& r) {
  return sfxtest::ExpectedSettingsBlock(testfe::BlockOf(r));
}

class SettingsBlockTest : public ::testing::Test {
 protected:
  // What WriteInstallInf writes for r; ok tells whether it said it succeeded.
  std::string Written(const TInstallInf& r, bool* ok = nullptr) {
    std::FILE* f = platform::Real().Open(path_, "wb");
    EXPECT_NE(f, nullptr);
    if (f == nullptr) return std::string();
    const bool written = WriteInstallInf(r, f);
    std::fclose(f);
    if (ok != nullptr) *ok = written;
    return testutil::ReadFile(path_);
  }
  // The settings file's reader over bytes.
  bool ReadTolerant(const std::string& bytes, TInstallInf& r) {
    EXPECT_TRUE(testutil::WriteFile(path_, bytes));
    std::FILE* f = platform::Real().Open(path_, "rb");
    EXPECT_NE(f, nullptr);
    if (f == nullptr) return false;
    const bool ok = ReadInstallInf(r, f);
    std::fclose(f);
    return ok;
  }
  // The archive reader over a program file of a two-byte stub, bytes as its settings block and
  // no compressed part.
  static ReadStatus ReadStrict(const std::string& block, TInstallInf& r, std::string* why) {
    const std::string program = "MZ" + block + sfxtest::LE32(2);
    MemoryByteSource src(program.data(), program.size());
    ArchiveInfo info;
    const ReadStatus status = ReadArchive(src, info, why);
    r = info.settings;
    return status;
  }

  TempDir dir_;
  std::string path_ = dir_.Join("block.dat");
};

// One change per member of the record, listed here apart from the table.
std::vector<std::pair<const char*, std::function<void(TInstallInf&)>>> MemberChanges() {
  return {
      {"SourcePaths",
       [](TInstallInf& r) {
         r.SourcePaths.Add("C:\\Quelle");
         r.SourcePaths.Add("D:\\Zweite \xC4nderung");
       }},
      {"StoreDirNames", [](TInstallInf& r) { r.StoreDirNames = 0xF1; }},
      {"MaxCompression", [](TInstallInf& r) { r.MaxCompression = 0xF2; }},
      {"TargetDir", [](TInstallInf& r) { r.TargetDir = "C:\\Ziel"; }},
      {"SfxName", [](TInstallInf& r) { r.SfxName = "C:\\out.exe"; }},
      {"Command", [](TInstallInf& r) { r.Command = "setup.exe /q"; }},
      {"SecondCommand", [](TInstallInf& r) { r.SecondCommand = "zwei.exe"; }},
      {"IconFile", [](TInstallInf& r) { r.IconFile = "icon.ico"; }},
      {"DialogText", [](TInstallInf& r) { r.DialogText = "Text\r\nmit Gr\xFC\xDF"; }},
      {"InfoTextBefore", [](TInstallInf& r) { r.InfoTextBefore = "vorher"; }},
      {"InfoTextAfter", [](TInstallInf& r) { r.InfoTextAfter = ""; }},
      {"Terminates", [](TInstallInf& r) { r.Terminates = 0xF3; }},
      {"DialogTitle", [](TInstallInf& r) { r.DialogTitle = "Titel"; }},
      {"TargetEditable", [](TInstallInf& r) { r.TargetEditable = 0xF4; }},
      {"CleanUp", [](TInstallInf& r) { r.CleanUp = 0xF5; }},
  };
}

TEST_F(SettingsBlockTest, EveryMemberIsWrittenInItsPlaceAndReadBackByBothReaders) {
  const auto changes = MemberChanges();
  TInstallInf all;
  for (const auto& change : changes) {
    TInstallInf r;
    change.second(r);
    change.second(all);
    const std::string bytes = Written(r);
    EXPECT_EQ(bytes, Expected(r)) << change.first;

    TInstallInf tolerant;
    EXPECT_TRUE(ReadTolerant(bytes, tolerant)) << change.first;
    EXPECT_EQ(Expected(tolerant), Expected(r)) << change.first;

    TInstallInf strict;
    std::string why;
    EXPECT_EQ(ReadStrict(bytes, strict, &why), ReadStatus::Ok) << change.first << ": " << why;
    EXPECT_EQ(Expected(strict), Expected(r)) << change.first;
  }
  // Every member changed at once: the readers start from defaults, so nothing can come back
  // right by accident.
  const std::string bytes = Written(all);
  EXPECT_EQ(bytes, Expected(all));
  TInstallInf tolerant;
  ASSERT_TRUE(ReadTolerant(bytes, tolerant));
  EXPECT_EQ(Expected(tolerant), bytes);
  TInstallInf strict;
  ASSERT_EQ(ReadStrict(bytes, strict, nullptr), ReadStatus::Ok);
  EXPECT_EQ(Expected(strict), bytes);
}

// The tolerant reader keeps what a cut file holds; the archive reader refuses the block.
TEST_F(SettingsBlockTest, StrictReaderRefusesTheBlockCutAtAnyByteAndOtherVersions) {
  TInstallInf r;
  for (const auto& change : MemberChanges()) change.second(r);
  const std::string bytes = Written(r);
  for (size_t cut = 1; cut < bytes.size(); ++cut) {
    TInstallInf read;
    std::string why;
    EXPECT_EQ(ReadStrict(bytes.substr(0, cut), read, &why), ReadStatus::NotAnArchive) << cut;
    EXPECT_EQ(why, kWhySettings) << cut;
  }
  std::string other = bytes;
  other[0] = static_cast<char>(kSettingsBlockVersion + 1);
  TInstallInf read;
  std::string why;
  EXPECT_EQ(ReadStrict(other, read, &why), ReadStatus::NotAnArchive);
  EXPECT_EQ(why, kWhyVersion);
  EXPECT_FALSE(ReadTolerant(other, read));
}

TEST_F(SettingsBlockTest, EveryStringAndTheListMustFitTheSixteenBitCounts) {
  for (const SettingsField& field : kSettingsFields) {
    if (field.kind != SettingsFieldKind::String) continue;
    TInstallInf r;
    r.*field.text = std::string(kMaxEncodedLength, 's');
    EXPECT_TRUE(FitsSettingsBlock(r));
    bool ok = false;
    const std::string bytes = Written(r, &ok);
    EXPECT_TRUE(ok);
    // The longest length is 0xFFFF, read as a count, not as -1.
    TInstallInf strict;
    EXPECT_EQ(ReadStrict(bytes, strict, nullptr), ReadStatus::Ok);
    EXPECT_EQ(strict.*field.text, r.*field.text);
    TInstallInf tolerant;
    EXPECT_TRUE(ReadTolerant(bytes, tolerant));
    EXPECT_EQ(tolerant.*field.text, r.*field.text);

    r.*field.text += 's';
    EXPECT_FALSE(FitsSettingsBlock(r));
    EXPECT_EQ(Written(r, &ok), "") << "nothing of a record that does not fit is written";
    EXPECT_FALSE(ok);
  }

  TInstallInf list;
  list.SourcePaths.Strings.assign(kMaxEncodedStrings, "s");
  EXPECT_TRUE(FitsSettingsBlock(list));
  list.SourcePaths.Strings.push_back("t");
  EXPECT_FALSE(FitsSettingsBlock(list));
  bool ok = true;
  EXPECT_EQ(Written(list, &ok), "");
  EXPECT_FALSE(ok);

  TInstallInf longPath;
  longPath.SourcePaths.Add("a");
  longPath.SourcePaths.Add(std::string(kMaxEncodedLength + 1, 'p'));
  EXPECT_FALSE(FitsSettingsBlock(longPath));
}

}  // namespace
