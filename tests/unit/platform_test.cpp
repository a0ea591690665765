// The platform layer's behaviour as both builds must show it: natively against the POSIX layer,
// under Wine against the Win32 layer (and so against Wine's own profile functions, which the
// POSIX ini reader must read alike).
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <set>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "tests/unit/test_util.h"

namespace fs = std::filesystem;
using platform::DirEntry;
using testutil::ReadFile;
using testutil::TempDir;
using testutil::WriteFile;

namespace {

platform::Os& Os() { return platform::Real(); }

std::map<std::string, DirEntry> ListByName(const std::string& dir, const std::string& mask) {
  std::vector<DirEntry> entries;
  EXPECT_TRUE(Os().ListDirectory(dir, mask, entries)) << dir << " " << mask;
  std::map<std::string, DirEntry> byName;
  for (const DirEntry& e : entries) {
    EXPECT_TRUE(byName.emplace(e.name, e).second) << "listed twice: " << e.name;
  }
  return byName;
}

std::set<std::string> Names(const std::map<std::string, DirEntry>& m) {
  std::set<std::string> names;
  for (const auto& kv : m) names.insert(kv.first);
  return names;
}

std::string BaseName(const std::string& path) {
  const size_t cut = path.find_last_of("\\/");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

TEST(PlatformFiles, ExistsAndIsDirectoryTellFilesDirectoriesAndMissingNamesApart) {
  TempDir tmp;
  ASSERT_TRUE(WriteFile(tmp.Join("file.txt"), "x"));
  EXPECT_TRUE(Os().Exists(tmp.Join("file.txt")));
  EXPECT_FALSE(Os().IsDirectory(tmp.Join("file.txt")));
  EXPECT_TRUE(Os().Exists(tmp.path()));
  EXPECT_TRUE(Os().IsDirectory(tmp.path()));
  EXPECT_FALSE(Os().Exists(tmp.Join("missing")));
  EXPECT_FALSE(Os().IsDirectory(tmp.Join("missing")));
  EXPECT_FALSE(Os().Exists(""));
}

TEST(PlatformFiles, ListDirectoryDeliversEveryEntryWithSizeAndDirectoryBit) {
  TempDir tmp;
  ASSERT_TRUE(WriteFile(tmp.Join("a.txt"), "12345"));
  ASSERT_TRUE(WriteFile(tmp.Join("B.TXT"), ""));
  ASSERT_TRUE(WriteFile(tmp.Join("c.dat"), std::string(70000, 'z')));
  ASSERT_TRUE(WriteFile(tmp.Join("noext"), "1"));
  ASSERT_TRUE(Os().MakeDirectory(tmp.Join("sub")));

  const auto all = ListByName(tmp.path(), "*.*");
  EXPECT_EQ(Names(all), (std::set<std::string>{"a.txt", "B.TXT", "c.dat", "noext", "sub"}));
  EXPECT_EQ(all.at("a.txt").size, 5u);
  EXPECT_EQ(all.at("B.TXT").size, 0u);
  EXPECT_EQ(all.at("c.dat").size, 70000u);
  EXPECT_EQ(all.at("a.txt").attributes & platform::kAttrDirectory, 0u);
  EXPECT_NE(all.at("sub").attributes & platform::kAttrDirectory, 0u);
  EXPECT_EQ(all.at("sub").attributes & platform::kAttrReparsePoint, 0u);
  for (const auto& kv : all) EXPECT_FALSE(kv.second.special) << kv.first;

  EXPECT_EQ(Names(ListByName(tmp.path(), "*")), Names(all));
  // Masks compare without regard to case; '?' stands for one character.
  EXPECT_EQ(Names(ListByName(tmp.path(), "*.txt")), (std::set<std::string>{"a.txt", "B.TXT"}));
  EXPECT_EQ(Names(ListByName(tmp.path(), "?.DAT")), (std::set<std::string>{"c.dat"}));
  EXPECT_EQ(Names(ListByName(tmp.path(), "no*")), (std::set<std::string>{"noext"}));
  EXPECT_TRUE(ListByName(tmp.path(), "*.none").empty());
}

TEST(PlatformFiles, ListDirectoryFailsOnlyWhenTheDirectoryCannotBeSearched) {
  TempDir tmp;
  std::vector<DirEntry> entries;
  EXPECT_FALSE(Os().ListDirectory(tmp.Join("missing"), "*.*", entries));
  EXPECT_TRUE(Os().ListDirectory(tmp.path(), "*.*", entries));  // empty, but searchable
  EXPECT_TRUE(entries.empty());
}

TEST(PlatformFiles, ReadOnlyFileCarriesTheReadOnlyBit) {
  TempDir tmp;
  ASSERT_TRUE(WriteFile(tmp.Join("ro.txt"), "r"));
  ASSERT_TRUE(WriteFile(tmp.Join("rw.txt"), "w"));
  fs::permissions(tmp.Join("ro.txt"),
                  fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  const auto all = ListByName(tmp.path(), "*.*");
  EXPECT_NE(all.at("ro.txt").attributes & platform::kAttrReadOnly, 0u);
  EXPECT_EQ(all.at("rw.txt").attributes & platform::kAttrReadOnly, 0u);
}

TEST(PlatformFiles, OpenRemoveAndDirectoriesBehaveLikeTheSystemCalls) {
  TempDir tmp;
  const std::string f = tmp.Join("data.bin");
  std::FILE* out = Os().Open(f, "wb");
  ASSERT_NE(out, nullptr);
  ASSERT_EQ(std::fwrite("\x00\x01\r\n\x1a", 1, 5, out), 5u);  // binary: no translation
  std::fclose(out);
  EXPECT_EQ(ReadFile(f), std::string("\x00\x01\r\n\x1a", 5));
  EXPECT_EQ(Os().Open(tmp.Join("missing"), "rb"), nullptr);

  EXPECT_TRUE(Os().Remove(f));
  EXPECT_FALSE(Os().Exists(f));
  EXPECT_FALSE(Os().Remove(f));

  const std::string d = tmp.Join("dir");
  EXPECT_TRUE(Os().MakeDirectory(d));
  EXPECT_FALSE(Os().MakeDirectory(d));  // exists already
  ASSERT_TRUE(WriteFile(tmp.Join("dir/inner"), "i"));
  EXPECT_FALSE(Os().RemoveDirectory(d));  // not empty
  EXPECT_FALSE(Os().Remove(d));           // a directory is not a file
  EXPECT_TRUE(Os().Remove(tmp.Join("dir/inner")));
  EXPECT_TRUE(Os().RemoveDirectory(d));
  EXPECT_FALSE(Os().Exists(d));
}

TEST(PlatformFiles, ReplaceOverwritesTheTargetOrLeavesBothWhole) {
  TempDir tmp;
  const std::string from = tmp.Join("new.bin"), to = tmp.Join("old.bin");
  ASSERT_TRUE(WriteFile(from, "new contents"));
  ASSERT_TRUE(WriteFile(to, "old contents that are longer"));
  EXPECT_TRUE(Os().Replace(from, to));
  EXPECT_EQ(ReadFile(to), "new contents");
  EXPECT_FALSE(Os().Exists(from));

  // A missing source: the target stays as it was.
  EXPECT_FALSE(Os().Replace(tmp.Join("missing"), to));
  EXPECT_EQ(ReadFile(to), "new contents");

  // A directory in the way of the target: both stay.
  ASSERT_TRUE(WriteFile(from, "again"));
  ASSERT_TRUE(Os().MakeDirectory(tmp.Join("blocker")));
  ASSERT_TRUE(WriteFile(tmp.Join("blocker/keep"), "k"));
  EXPECT_FALSE(Os().Replace(from, tmp.Join("blocker")));
  EXPECT_EQ(ReadFile(from), "again");
  EXPECT_EQ(ReadFile(tmp.Join("blocker/keep")), "k");
}

// A read-only target: POSIX renames over it (the folder's rights decide), Windows refuses and
// keeps both files.
TEST(PlatformFiles, ReplaceOverAReadOnlyFileFollowsTheSystem) {
  TempDir tmp;
  const std::string from = tmp.Join("new.bin"), to = tmp.Join("old.bin");
  ASSERT_TRUE(WriteFile(from, "new"));
  ASSERT_TRUE(WriteFile(to, "old"));
  ASSERT_TRUE(testutil::MakeReadOnly(to));
#ifdef _WIN32
  EXPECT_FALSE(Os().Replace(from, to));
  EXPECT_EQ(ReadFile(to), "old");
  EXPECT_EQ(ReadFile(from), "new");
#else
  EXPECT_TRUE(Os().Replace(from, to));
  EXPECT_EQ(ReadFile(to), "new");
#endif
  testutil::MakeWritable(to);
}

// "wbx" makes a new file and never opens one that is there, whatever it holds.
TEST(PlatformFiles, ExclusiveCreationNeverOpensAnExistingFile) {
  TempDir tmp;
  const std::string path = tmp.Join("new.bin");
  std::FILE* f = Os().Open(path, "wbx");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(std::fwrite("abc", 1, 3, f), 3u);
  EXPECT_EQ(std::fclose(f), 0);
  EXPECT_EQ(ReadFile(path), "abc");
  EXPECT_EQ(Os().Open(path, "wbx"), nullptr);
  EXPECT_EQ(ReadFile(path), "abc") << "not truncated";
  EXPECT_EQ(Os().Open(tmp.Join("no/such/dir/x"), "wbx"), nullptr);
}

// A file is the same file by any path that leads to it, and only by those.
TEST(PlatformFiles, IdentityTellsTheSameFileByAnyPathAndOthersApart) {
  TempDir tmp;
  const std::string sep = testutil::Sep();
  ASSERT_TRUE(WriteFile(tmp.Join("dir/a.bin"), "a"));
  ASSERT_TRUE(WriteFile(tmp.Join("dir/b.bin"), "a"));  // same bytes, another file
  platform::FileId a, again, b, dir;
  ASSERT_TRUE(Os().Identity(tmp.Join("dir/a.bin"), a));
  ASSERT_TRUE(
      Os().Identity(tmp.Join("dir") + sep + "." + sep + ".." + sep + "dir" + sep + "a.bin", again));
  EXPECT_TRUE(a == again);
  ASSERT_TRUE(Os().Identity(tmp.Join("dir/b.bin"), b));
  EXPECT_TRUE(a != b);
  ASSERT_TRUE(Os().Identity(tmp.Join("dir"), dir)) << "directories have one too";
  EXPECT_TRUE(dir != a);
  platform::FileId none;
  EXPECT_FALSE(Os().Identity(tmp.Join("dir/missing"), none));
  EXPECT_FALSE(Os().Identity("", none));
#ifdef _WIN32
  platform::FileId upper;
  ASSERT_TRUE(Os().Identity(tmp.Join("DIR/A.BIN"), upper));
  EXPECT_TRUE(a == upper) << "names compare without case on Windows";
#else
  ASSERT_EQ(symlink("a.bin", tmp.Join("dir/link").c_str()), 0);
  platform::FileId linked;
  ASSERT_TRUE(Os().Identity(tmp.Join("dir/link"), linked));
  EXPECT_TRUE(a == linked) << "a link is its target";
#endif
}

TEST(PlatformTemp, TempDirectoryEndsWithTheSeparatorAndExists) {
  const std::string dir = Os().TempDirectory();
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(dir.back(), Os().Separator());
  EXPECT_TRUE(Os().IsDirectory(dir));
}

TEST(PlatformTemp, UniqueTempFilesAreNewEmptyAndNamedFromThreePrefixCharacters) {
  TempDir tmp;
  std::set<std::string> seen;
  for (int i = 0; i < 20; ++i) {
    std::string path;
    ASSERT_TRUE(Os().CreateUniqueTempFile(tmp.path(), "abcxyz", path));
    EXPECT_TRUE(seen.insert(path).second) << "name given twice: " << path;
    EXPECT_EQ(path.substr(0, tmp.path().size()), tmp.path());
    const std::string base = BaseName(path);
    EXPECT_EQ(base.substr(0, 3), "abc") << base;
    EXPECT_EQ(base.find('x'), std::string::npos) << base;  // only three characters of the prefix
    ASSERT_GE(base.size(), 4u);
    EXPECT_EQ(Lower(base.substr(base.size() - 4)), ".tmp") << base;
    bool ok = false;
    EXPECT_EQ(ReadFile(path, &ok), "");
    EXPECT_TRUE(ok) << "not created: " << path;
  }
  std::string path;
  ASSERT_TRUE(Os().CreateUniqueTempFile(tmp.path(), "x", path));
  EXPECT_EQ(BaseName(path).substr(0, 1), "x");
  EXPECT_FALSE(Os().CreateUniqueTempFile(tmp.Join("missing"), "abc", path));
}

TEST(PlatformTemp, RuntimeTempNamesAreFreshAndNotCreated) {
  const std::string a = Os().RuntimeTempName();
  const std::string b = Os().RuntimeTempName();
  ASSERT_FALSE(a.empty());
  EXPECT_NE(a, b);
  EXPECT_FALSE(Os().Exists(a));
  EXPECT_FALSE(Os().Exists(b));
}

TEST(PlatformSystem, TheRootOfTheTempDirectoryIsAFixedDrive) {
  const std::string temp = Os().TempDirectory();
  const std::string root = Os().Separator() == '\\' ? temp.substr(0, 3) : std::string("/");
  EXPECT_EQ(Os().DriveType(root), platform::DriveKind::Fixed) << root;
}

TEST(PlatformSystem, ProgramPathNamesThisTestProgram) {
  const std::string path = Os().ProgramPath();
  EXPECT_TRUE(Os().Exists(path)) << path;
  EXPECT_FALSE(Os().IsDirectory(path));
  std::string base = Lower(BaseName(path));
  if (base.size() > 4 && base.substr(base.size() - 4) == ".exe") base.resize(base.size() - 4);
  EXPECT_EQ(base, "platform_test");
}

TEST(PlatformSystem, AnAbsentUserProfileKeyGivesTheDefault) {
  EXPECT_EQ(Os().UserProfileString("TambrixNoSuchSection", "NoSuchKey", "dflt"), "dflt");
  EXPECT_EQ(Os().UserProfileString("TambrixNoSuchSection", "NoSuchKey", ""), "");
}

// --- profile (ini) files ---------------------------------------------------------------------

class ProfileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string longValue(600, 'L');
    const std::string text =
        "Orphan=before any section\r\n"
        "[Main]\r\n"
        "Plain=hello\r\n"
        "  Spaced   =   value with inner  spaces   \r\n"
        "Tabbed\t=\tt v\t\r\n"
        "Quoted=\"  quoted with blanks  \"\r\n"
        "Single='single'\r\n"
        "Mixed=\"mixed'\r\n"
        "OnlyQuote=\"\r\n"
        "EmptyQuotes=\"\"\r\n"
        "Inner=a \"b\" c\r\n"
        "Empty=\r\n"
        "NoEquals\r\n"
        ";Comment=commented out\r\n"
        "Equals=a=b\r\n"
        "Number=42\r\n"
        "Hex=0x1F\r\n"
        "Neg=-17\r\n"
        "Plus=+8\r\n"
        "Trailing=12abc\r\n"
        "Word=abc\r\n"
        "Wrap=4294967297\r\n"
        "QuotedNum=\" 33\"\r\n"
        "Dup=first\r\n"
        "dup=second\r\n"
        "Long=" +
        longValue +
        "\r\n"
        "Exact511=" +
        std::string(511, 'e') +
        "\r\n"
        "Exact512=" +
        std::string(512, 'f') +
        "\r\n"
        "\r\n"
        "[main]\r\n"
        "Dup=third\r\n"
        "Plain=other\r\n"
        "OnlyLater=later\r\n"
        "\r\n"
        "[Umlaut\xC4]\r\n"
        "Key\xE4=\xF6\xFC\xDF\r\n"
        "[Unix]\n"
        "lf=only line feeds\n"
        "last=no line end";
    file_ = tmp_.Join("test.ini");
    ASSERT_TRUE(WriteFile(file_, text));
  }
  std::string Get(const std::string& section, const std::string& key,
                  const std::string& def = "dflt") {
    return Os().ProfileString(section, key, def, file_);
  }
  int Int(const std::string& section, const std::string& key, int def = -99) {
    return Os().ProfileInt(section, key, def, file_);
  }

  TempDir tmp_;
  std::string file_;
};

TEST_F(ProfileTest, SectionAndKeyNamesCompareWithoutCaseAndWithoutBlanks) {
  EXPECT_EQ(Get("Main", "Plain"), "hello");
  EXPECT_EQ(Get("MAIN", "plain"), "hello");
  EXPECT_EQ(Get("main", "PLAIN"), "hello");
  EXPECT_EQ(Get("Main", "  Plain  "), "hello");
  // Names and values with code page 1252 letters. (Wine folds only ASCII letters, so the accented
  // letters keep their case here.)
  EXPECT_EQ(Get("UMLAUT\xC4", "kEY\xE4"), "\xF6\xFC\xDF");
}

TEST_F(ProfileTest, BlanksAroundKeysAndValuesAreStripped) {
  EXPECT_EQ(Get("Main", "Spaced"), "value with inner  spaces");
  EXPECT_EQ(Get("Main", "Tabbed"), "t v");
  EXPECT_EQ(Get("Main", "Equals"), "a=b");
  EXPECT_EQ(Get("Unix", "lf"), "only line feeds");
  EXPECT_EQ(Get("Unix", "last"), "no line end");
}

TEST_F(ProfileTest, OnePairOfEqualSurroundingQuotesIsRemoved) {
  EXPECT_EQ(Get("Main", "Quoted"), "  quoted with blanks  ");
  EXPECT_EQ(Get("Main", "Single"), "single");
  EXPECT_EQ(Get("Main", "Mixed"), "\"mixed'");
  EXPECT_EQ(Get("Main", "OnlyQuote"), "\"");
  EXPECT_EQ(Get("Main", "EmptyQuotes"), "");
  EXPECT_EQ(Get("Main", "Inner"), "a \"b\" c");
}

TEST_F(ProfileTest, AbsentFileSectionOrKeyGivesTheDefault) {
  EXPECT_EQ(Get("Main", "Missing"), "dflt");
  EXPECT_EQ(Get("Nowhere", "Plain"), "dflt");
  EXPECT_EQ(Os().ProfileString("Main", "Plain", "dflt", tmp_.Join("missing.ini")), "dflt");
  EXPECT_EQ(Get("Main", "Orphan"), "dflt");    // a key before every section belongs to none
  EXPECT_EQ(Get("Main", "Comment"), "dflt");   // behind ';'
  EXPECT_EQ(Get("Main", "NoEquals"), "dflt");  // a line without '=' has no value
  EXPECT_EQ(Get("Main", "Empty"), "");         // an empty value is a value
  EXPECT_EQ(Get("Main", "Missing", "dflt   "), "dflt");  // trailing blanks of the default go
  EXPECT_EQ(Get("Main", "Missing", ""), "");
}

TEST_F(ProfileTest, TheFirstSectionAndTheFirstKeyOfANameWin) {
  EXPECT_EQ(Get("Main", "Dup"), "first");
  EXPECT_EQ(Get("Main", "Plain"), "hello");
  EXPECT_EQ(Get("Main", "OnlyLater"), "dflt");  // a repeated section is not searched
}

TEST_F(ProfileTest, ValuesAreCutTo511Characters) {
  EXPECT_EQ(Get("Main", "Long"), std::string(511, 'L'));
  EXPECT_EQ(Get("Main", "Exact511"), std::string(511, 'e'));
  EXPECT_EQ(Get("Main", "Exact512"), std::string(511, 'f'));
  EXPECT_EQ(Get("Main", "Missing", std::string(700, 'd')), std::string(511, 'd'));
}

TEST_F(ProfileTest, IntegersParseLikeTheWindowsProfileFunctions) {
  EXPECT_EQ(Int("Main", "Number"), 42);
  EXPECT_EQ(Int("main", "NUMBER"), 42);
  EXPECT_EQ(Int("Main", "Hex"), 31);
  EXPECT_EQ(Int("Main", "Neg"), -17);
  EXPECT_EQ(Int("Main", "Plus"), 8);
  EXPECT_EQ(Int("Main", "Trailing"), 12);  // stops at the first non-digit
  EXPECT_EQ(Int("Main", "Word"), 0);       // not a number at all
  EXPECT_EQ(Int("Main", "Wrap"), 1);       // 32-bit arithmetic
  EXPECT_EQ(Int("Main", "QuotedNum"), 33);
  EXPECT_EQ(Int("Main", "Empty"), -99);  // empty value: the default
  EXPECT_EQ(Int("Main", "Missing"), -99);
  EXPECT_EQ(Int("Main", "NoEquals"), -99);
  EXPECT_EQ(Os().ProfileInt("Main", "Number", 7, tmp_.Join("missing.ini")), 7);
}

// --- file times ------------------------------------------------------------------------------

TEST(PlatformTimes, ASetDosTimeReadsBackUnchanged) {
  TempDir tmp;
  const std::string f = tmp.Join("timed.txt");
  ASSERT_TRUE(WriteFile(f, "t"));
  platform::DosTime want;
  want.year1980 = 21, want.month = 7, want.day = 15, want.hour = 13, want.minute = 45,
  want.seconds2 = 29;
  ASSERT_TRUE(Os().SetLastWriteDosTime(f, want));
  platform::DosTime got;
  ASSERT_TRUE(Os().LastWriteDosTime(f, got));
  EXPECT_EQ(got.year1980, 21u);
  EXPECT_EQ(got.month, 7u);
  EXPECT_EQ(got.day, 15u);
  EXPECT_EQ(got.hour, 13u);
  EXPECT_EQ(got.minute, 45u);
  EXPECT_EQ(got.seconds2, 29u);

  platform::DosTime winter;  // a date in the other half of the year, near the start of DOS time
  winter.year1980 = 0, winter.month = 1, winter.day = 2, winter.hour = 0, winter.minute = 0,
  winter.seconds2 = 1;
  ASSERT_TRUE(Os().SetLastWriteDosTime(f, winter));
  ASSERT_TRUE(Os().LastWriteDosTime(f, got));
  EXPECT_EQ(got.year1980, 0u);
  EXPECT_EQ(got.month, 1u);
  EXPECT_EQ(got.day, 2u);
  EXPECT_EQ(got.hour, 0u);
  EXPECT_EQ(got.minute, 0u);
  EXPECT_EQ(got.seconds2, 1u);
}

// "YYYY-MM-DD hh:mm:ss" of a DOS time, for comparisons that name the whole moment.
std::string DosText(const platform::DosTime& t) {
  char text[32];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", 1980 + t.year1980, t.month,
                t.day, t.hour, t.minute, t.seconds2 * 2);
  return text;
}

TEST(PlatformTimes, UtcSecondsBecomeDosTimesAcrossLeapDaysAndTheRangesEnds) {
  using platform::DosTimeOfUtcSeconds;
  EXPECT_EQ(DosText(DosTimeOfUtcSeconds(0)), "1980-01-01 00:00:00");          // before 1980
  EXPECT_EQ(DosText(DosTimeOfUtcSeconds(315532800)), "1980-01-01 00:00:00");  // its start
  EXPECT_EQ(DosText(DosTimeOfUtcSeconds(951825599)), "2000-02-29 11:59:58");  // leap 400
  EXPECT_EQ(DosText(DosTimeOfUtcSeconds(1700000000)), "2023-11-14 22:13:20");
  EXPECT_EQ(DosText(DosTimeOfUtcSeconds(1709251199)), "2024-02-29 23:59:58");
  EXPECT_EQ(DosText(DosTimeOfUtcSeconds(1709251200)), "2024-03-01 00:00:00");
  EXPECT_EQ(DosText(DosTimeOfUtcSeconds(4107542400)), "2100-03-01 00:00:00");  // no leap day
  EXPECT_EQ(DosText(DosTimeOfUtcSeconds(4354819199)), "2107-12-31 23:59:58");  // its end
  EXPECT_EQ(DosText(DosTimeOfUtcSeconds(9999999999)), "2107-12-31 23:59:58");
}

TEST(PlatformTimes, LastWriteSecondsIsTheTimeSet) {
  TempDir tmp;
  const std::string f = tmp.Join("seconds.txt");
  ASSERT_TRUE(WriteFile(f, "s"));
  int64_t seconds = 0;
  ASSERT_TRUE(Os().LastWriteSeconds(f, seconds));
  const int64_t now = static_cast<int64_t>(std::time(nullptr));
  EXPECT_LE(std::llabs(seconds - now), 600) << "a new file's time is about now";
  // The local DOS time set reads back as the same moment: one day later is 86400 seconds later.
  platform::DosTime t;
  t.year1980 = 44, t.month = 6, t.day = 1, t.hour = 12;
  ASSERT_TRUE(Os().SetLastWriteDosTime(f, t));
  int64_t first = 0;
  ASSERT_TRUE(Os().LastWriteSeconds(f, first));
  t.day = 2;
  ASSERT_TRUE(Os().SetLastWriteDosTime(f, t));
  int64_t second = 0;
  ASSERT_TRUE(Os().LastWriteSeconds(f, second));
  EXPECT_EQ(second - first, 86400);
  EXPECT_FALSE(Os().LastWriteSeconds(tmp.Join("missing"), seconds));
}

TEST(PlatformTimes, TimesOutsideTheDosRangeAreClampedAndBadInputFails) {
  TempDir tmp;
  const std::string f = tmp.Join("old.txt");
  ASSERT_TRUE(WriteFile(f, "o"));
  const auto now = fs::last_write_time(f);
  fs::last_write_time(f, now - std::chrono::hours(24 * 366 * 70));  // before 1980
  platform::DosTime got;
  ASSERT_TRUE(Os().LastWriteDosTime(f, got));
  EXPECT_EQ(got.year1980, 0u);
  EXPECT_EQ(got.month, 1u);
  EXPECT_EQ(got.day, 1u);
  EXPECT_EQ(got.hour + got.minute + got.seconds2, 0u);

  fs::last_write_time(f, now + std::chrono::hours(24 * 366 * 120));  // after 2107
  ASSERT_TRUE(Os().LastWriteDosTime(f, got));
  EXPECT_EQ(got.year1980, 127u);
  EXPECT_EQ(got.month, 12u);
  EXPECT_EQ(got.day, 31u);
  EXPECT_EQ(got.hour, 23u);
  EXPECT_EQ(got.minute, 59u);
  EXPECT_EQ(got.seconds2, 29u);

  EXPECT_FALSE(Os().LastWriteDosTime(tmp.Join("missing"), got));
  platform::DosTime bad;
  bad.month = 13;
  EXPECT_FALSE(Os().SetLastWriteDosTime(f, bad));
  EXPECT_FALSE(Os().SetLastWriteDosTime(tmp.Join("missing"), platform::DosTime()));
}

// --- 64-bit stream positions -----------------------------------------------------------------

TEST(PlatformStreams, PositionsAndSizesBeyond4GiBInASparseFile) {
  TempDir tmp;
  const std::string f = tmp.Join("sparse.bin");
  std::FILE* out = Os().Open(f, "wb");
  ASSERT_NE(out, nullptr);
  const int64_t far = (int64_t(5) << 30) + 123;  // 5 GiB: beyond both 2 and 4 GiB
  ASSERT_TRUE(platform::Seek64(out, far, SEEK_SET));
  EXPECT_EQ(platform::Tell64(out), far);
  ASSERT_EQ(std::fputc('!', out), '!');
  ASSERT_EQ(std::fclose(out), 0);

  std::FILE* in = Os().Open(f, "rb");
  ASSERT_NE(in, nullptr);
  ASSERT_TRUE(platform::Seek64(in, 10, SEEK_SET));
  EXPECT_EQ(platform::StreamSize(in), far + 1);
  EXPECT_EQ(platform::Tell64(in), 10);  // StreamSize leaves the position alone
  ASSERT_TRUE(platform::Seek64(in, -1, SEEK_END));
  EXPECT_EQ(std::fgetc(in), '!');
  std::fclose(in);

  const auto listed = ListByName(tmp.path(), "*.*");
  EXPECT_EQ(listed.at("sparse.bin").size, static_cast<uint64_t>(far + 1));
}

namespace {

// The section names of an ini file come in file order, as written between the brackets, however
// many there are (the system call fills a buffer that has to grow for them).
TEST(PlatformProfiles, SectionNamesComeInFileOrder) {
  TempDir tmp;
  const std::string ini = tmp.Join("batch.ini");
  std::string text = "[SFX_GLOBAL]\r\nNUM_SFX=3\r\n[sfx2]\r\nk=v\r\n";
  std::vector<std::string> expected = {"SFX_GLOBAL", "sfx2"};
  for (int i = 0; i < 2000; ++i) {
    text += "[SFX" + std::to_string(1000 + i) + "]\r\n";
    expected.push_back("SFX" + std::to_string(1000 + i));
  }
  ASSERT_TRUE(WriteFile(ini, text));
  EXPECT_EQ(Os().ProfileSectionNames(ini), expected);
  EXPECT_TRUE(Os().ProfileSectionNames(tmp.Join("missing.ini")).empty());
}

}  // namespace

namespace {

using platform::TreeEntry;

// The target tree of this platform, and the generic one every platform can fall back on (built
// on the path calls), behave the same for everything that is not a link.
class TargetTreeTest : public ::testing::TestWithParam<bool> {
 protected:
  std::unique_ptr<platform::TargetTree> Open(const std::string& root) {
    return GetParam() ? Os().OpenTree(root) : Os().platform::Os::OpenTree(root);
  }
  TempDir tmp_;
};

TEST_P(TargetTreeTest, EveryStepWorksBelowTheRootAndSaysWhatItFound) {
  ASSERT_TRUE(WriteFile(tmp_.Join("file.txt"), "alt"));
  ASSERT_TRUE(WriteFile(tmp_.Join("locked.txt"), "fest"));
  ASSERT_TRUE(testutil::MakeReadOnly(tmp_.Join("locked.txt")));
  auto tree = Open(tmp_.path());
  ASSERT_NE(tree, nullptr);
  EXPECT_EQ(tree->Kind({}), TreeEntry::Directory);
  EXPECT_EQ(tree->Kind({"file.txt"}), TreeEntry::File);
  EXPECT_EQ(tree->Kind({"locked.txt"}), TreeEntry::ReadOnlyFile);
  EXPECT_EQ(tree->Kind({"missing"}), TreeEntry::None);
  EXPECT_EQ(tree->Kind({"file.txt", "below"}), TreeEntry::Other) << "a file is no folder";
  EXPECT_EQ(tree->Kind({"missing", "below"}), TreeEntry::Other);

  ASSERT_TRUE(tree->MakeDirectory({"sub"}));
  ASSERT_TRUE(tree->MakeDirectory({"sub",
                                   "\xFC"
                                   "ber"}));
  EXPECT_FALSE(tree->MakeDirectory({"sub"})) << "it exists";
  EXPECT_FALSE(tree->MakeDirectory({"nothing", "x"})) << "no parent";
  const platform::TargetTree::Path folder = {"sub",
                                             "\xFC"
                                             "ber"};
  EXPECT_EQ(tree->Kind(folder), TreeEntry::Directory);

  std::string temp;
  std::FILE* f = tree->CreateTemp(folder, "tbx", temp);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(temp.compare(0, 3, "tbx"), 0) << temp;
  EXPECT_EQ(std::fputs("neu", f) >= 0, true);
  ASSERT_EQ(std::fclose(f), 0);
  ASSERT_TRUE(tree->Replace(folder, temp, "a.txt"));
  const platform::TargetTree::Path file = {"sub",
                                           "\xFC"
                                           "ber",
                                           "a.txt"};
  EXPECT_EQ(tree->Kind(file), TreeEntry::File);
  const std::string shown = tree->Display(file);
  const char sep = Os().Separator();
  EXPECT_EQ(shown, tmp_.path() + sep + "sub" + sep + "\xFC" + "ber" + sep + "a.txt");
  std::FILE* in = Os().Open(shown, "rb");
  ASSERT_NE(in, nullptr) << "the path shown is the file's own";
  char got[8] = {};
  EXPECT_EQ(std::fread(got, 1, sizeof got, in), 3u);
  std::fclose(in);
  EXPECT_EQ(std::string(got), "neu");

  platform::DosTime t;
  t.year1980 = 33, t.month = 7, t.day = 14, t.hour = 9, t.minute = 30, t.seconds2 = 5;
  ASSERT_TRUE(tree->SetLastWriteDosTime(file, t));
  platform::DosTime back;
  ASSERT_TRUE(Os().LastWriteDosTime(shown, back));
  EXPECT_EQ(back.year1980, 33u);
  EXPECT_EQ(back.minute, 30u);
  EXPECT_EQ(back.seconds2, 5u);

  // The folder can go and come again; nothing stale is kept of it.
  EXPECT_FALSE(tree->RemoveDirectory(folder)) << "not empty";
  ASSERT_TRUE(tree->Remove(file));
  ASSERT_TRUE(tree->RemoveDirectory(folder));
  EXPECT_EQ(tree->Kind(folder), TreeEntry::None);
  ASSERT_TRUE(tree->MakeDirectory(folder));
  f = tree->CreateTemp(folder, "tbx", temp);
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  EXPECT_TRUE(tree->Remove({"sub",
                            "\xFC"
                            "ber",
                            temp}));
  testutil::MakeWritable(tmp_.Join("locked.txt"));

  EXPECT_EQ(Open(tmp_.Join("file.txt")), nullptr) << "a file is no root";
  EXPECT_EQ(Open(tmp_.Join("missing")), nullptr);
}

INSTANTIATE_TEST_SUITE_P(OwnAndGeneric, TargetTreeTest, ::testing::Bool());

}  // namespace
