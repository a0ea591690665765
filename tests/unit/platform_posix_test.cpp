// The POSIX platform layer's own concerns: UTF-8 names behind code page 1252 strings, FIFOs,
// sockets and symbolic links and the ini reader's details.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <map>

#include "platform/platform.h"
#include "platform/posix/cp1252.h"
#include "platform/posix/ini_reader.h"
#include "tests/unit/test_util.h"

using platform::DirEntry;
using platform::posix::Cp1252ToUtf8;
using platform::posix::Utf8ToCp1252;
using testutil::ReadFile;
using testutil::TempDir;
using testutil::WriteFile;

namespace {

platform::Os& Os() { return platform::Real(); }

std::map<std::string, DirEntry> ListByName(const std::string& dir) {
  std::vector<DirEntry> entries;
  EXPECT_TRUE(Os().ListDirectory(dir, "*.*", entries));
  std::map<std::string, DirEntry> byName;
  for (const DirEntry& e : entries) byName.emplace(e.name, e);
  return byName;
}

// Restores an environment variable when it goes out of scope.
class EnvGuard {
 public:
  explicit EnvGuard(const char* name) : name_(name) {
    const char* v = std::getenv(name);
    had_ = v != nullptr;
    if (had_) old_ = v;
  }
  ~EnvGuard() {
    if (had_)
      setenv(name_, old_.c_str(), 1);
    else
      unsetenv(name_);
  }

 private:
  const char* name_;
  bool had_ = false;
  std::string old_;
};

}  // namespace

// --- code page conversion --------------------------------------------------------------------

TEST(Cp1252, GermanLettersAndTheEuroSignConvertToUtf8AndBack) {
  const std::string cp = "\xE4\xF6\xFC\xC4\xD6\xDC\xDF \x80";
  const std::string utf8 = Cp1252ToUtf8(cp);
  EXPECT_EQ(utf8, "\xC3\xA4\xC3\xB6\xC3\xBC\xC3\x84\xC3\x96\xC3\x9C\xC3\x9F \xE2\x82\xAC");
  std::string back;
  EXPECT_TRUE(Utf8ToCp1252(utf8, back));
  EXPECT_EQ(back, cp);
}

TEST(Cp1252, EveryByteSurvivesTheRoundTrip) {
  std::string all;
  for (int c = 1; c < 256; ++c) all += static_cast<char>(c);
  std::string back;
  ASSERT_TRUE(Utf8ToCp1252(Cp1252ToUtf8(all), back));
  EXPECT_EQ(back, all);
}

TEST(Cp1252, InvalidUtf8AndForeignCharactersPassThroughUnchanged) {
  const char* const cases[] = {
      "\xE4rger",          // Latin-1, not UTF-8
      "a\xC0\xAF",         // overlong '/'
      "\xED\xA0\x80",      // a surrogate
      "x\xE2\x82",         // cut short
      "\xE4\xB8\xAD.txt",  // U+4E2D: no such character in code page 1252
      "\xC2\x81",          // U+0081 is the undefined byte 0x81: valid
  };
  for (const char* c : cases) {
    std::string out;
    const bool converted = Utf8ToCp1252(c, out);
    if (std::string(c) == "\xC2\x81") {
      EXPECT_TRUE(converted);
      EXPECT_EQ(out, "\x81");
    } else {
      EXPECT_FALSE(converted) << c;
      EXPECT_EQ(out, c);
    }
  }
}

TEST(Cp1252, MasksIgnoreCaseOfAccentedLettersToo) {
  using platform::posix::MatchMask;
  EXPECT_TRUE(MatchMask("\xE4rger.TXT", "\xC4*.txt"));
  EXPECT_TRUE(MatchMask("readme", "readme.*"));
  EXPECT_TRUE(MatchMask("a.b.c", "*.c"));
  EXPECT_TRUE(MatchMask("abc", "a?c"));
  EXPECT_FALSE(MatchMask("ac", "a?c"));
  EXPECT_FALSE(MatchMask("abc.txt", "*.tx"));
  EXPECT_TRUE(MatchMask("", "*"));
}

// --- names on disk ---------------------------------------------------------------------------

TEST(PosixNames, Utf8NamesOnDiskAreDeliveredAndReachedInCodePage1252) {
  TempDir tmp;
  ASSERT_TRUE(WriteFile(tmp.path() + "/Gr\xC3\xB6\xC3\x9F"
                                     "e.txt",
                        "utf8"));
  const auto listed = ListByName(tmp.path());
  ASSERT_EQ(listed.count("Gr\xF6\xDF"
                         "e.txt"),
            1u);
  const std::string cpPath = tmp.path() +
                             "/Gr\xF6\xDF"
                             "e.txt";
  EXPECT_TRUE(Os().Exists(cpPath));
  std::FILE* f = Os().Open(cpPath, "rb");
  ASSERT_NE(f, nullptr);
  char buf[8] = {};
  EXPECT_EQ(std::fread(buf, 1, sizeof buf, f), 4u);
  std::fclose(f);
  EXPECT_EQ(std::string(buf), "utf8");

  // A file created through the layer gets a UTF-8 name, also inside a directory whose name
  // needed converting.
  ASSERT_TRUE(Os().MakeDirectory(tmp.path() + "/\xC4nderung"));
  std::FILE* out = Os().Open(tmp.path() + "/\xC4nderung/\x80uro.txt", "wb");
  ASSERT_NE(out, nullptr);
  std::fclose(out);
  EXPECT_TRUE(ReadFile(tmp.path() + "/\xC3\x84nderung/\xE2\x82\xAC"
                                    "uro.txt")
                  .empty());
  bool ok = false;
  ReadFile(tmp.path() +
               "/\xC3\x84nderung/\xE2\x82\xAC"
               "uro.txt",
           &ok);
  EXPECT_TRUE(ok);
}

TEST(PosixNames, NamesThatCannotBeConvertedRoundTripByteForByte) {
  TempDir tmp;
  const std::string latin1 = "\xE4rger.txt";       // not UTF-8
  const std::string foreign = "\xE4\xB8\xAD.txt";  // UTF-8 outside the code page
  const std::string rawDir = "d\xFC";              // a directory with a Latin-1 name
  ASSERT_TRUE(WriteFile(tmp.path() + "/" + latin1, "latin1"));
  ASSERT_TRUE(WriteFile(tmp.path() + "/" + foreign, "foreign"));
  ASSERT_TRUE(WriteFile(tmp.path() + "/" + rawDir + "/inner \xC3\xA4.txt", "inner"));

  const auto listed = ListByName(tmp.path());
  ASSERT_EQ(listed.count(latin1), 1u);
  ASSERT_EQ(listed.count(foreign), 1u);
  ASSERT_EQ(listed.count(rawDir), 1u);
  EXPECT_NE(listed.at(rawDir).attributes & platform::kAttrDirectory, 0u);

  for (const auto& kv :
       std::map<std::string, std::string>{{latin1, "latin1"}, {foreign, "foreign"}}) {
    std::FILE* f = Os().Open(tmp.path() + "/" + kv.first, "rb");
    ASSERT_NE(f, nullptr) << kv.first;
    std::string got(16, '\0');
    got.resize(std::fread(&got[0], 1, got.size(), f));
    std::fclose(f);
    EXPECT_EQ(got, kv.second);
  }
  // A raw directory name followed by a converted file name.
  const auto inner = ListByName(tmp.path() + "/" + rawDir);
  ASSERT_EQ(inner.count("inner \xE4.txt"), 1u);
  EXPECT_TRUE(Os().Exists(tmp.path() + "/" + rawDir + "/inner \xE4.txt"));
  EXPECT_TRUE(Os().Remove(tmp.path() + "/" + rawDir + "/inner \xE4.txt"));
  EXPECT_TRUE(Os().RemoveDirectory(tmp.path() + "/" + rawDir));
}

// --- special files and links -----------------------------------------------------------------

TEST(PosixSpecialFiles, FifosAndSocketsAreListedAsSpecialAndNeverOpened) {
  TempDir tmp;
  const std::string fifo = tmp.path() + "/pipe";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string sock = tmp.path() + "/sock";
  const int s = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(s, 0);
  sockaddr_un addr = {};
  addr.sun_family = AF_UNIX;
  ASSERT_LT(sock.size(), sizeof addr.sun_path);
  std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", sock.c_str());
  ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);

  const auto listed = ListByName(tmp.path());
  ASSERT_EQ(listed.count("pipe"), 1u);
  ASSERT_EQ(listed.count("sock"), 1u);
  EXPECT_TRUE(listed.at("pipe").special);
  EXPECT_TRUE(listed.at("sock").special);
  EXPECT_EQ(listed.at("pipe").attributes & platform::kAttrDirectory, 0u);

  // Opening a FIFO without a writer would block for ever; the layer refuses at once.
  EXPECT_EQ(Os().Open(fifo, "rb"), nullptr);
  EXPECT_EQ(Os().Open(fifo, "wb"), nullptr);
  EXPECT_EQ(Os().Open(sock, "rb"), nullptr);
  EXPECT_EQ(Os().Open("/dev/null", "rb"), nullptr);
  EXPECT_EQ(Os().Open(tmp.path(), "rb"), nullptr);  // nor a directory
  close(s);
}

TEST(PosixSpecialFiles, LinksToDirectoriesAreReparsePointsAndLinksToFilesAreTheFiles) {
  TempDir tmp;
  ASSERT_TRUE(WriteFile(tmp.path() + "/target.txt", "123456789"));
  ASSERT_TRUE(Os().MakeDirectory(tmp.path() + "/dir"));
  ASSERT_EQ(symlink("target.txt", (tmp.path() + "/file-link").c_str()), 0);
  ASSERT_EQ(symlink("dir", (tmp.path() + "/dir-link").c_str()), 0);
  ASSERT_EQ(symlink("nowhere", (tmp.path() + "/dangling").c_str()), 0);

  const auto listed = ListByName(tmp.path());
  EXPECT_EQ(listed.count("dangling"), 0u);
  ASSERT_EQ(listed.count("file-link"), 1u);
  EXPECT_EQ(listed.at("file-link").size, 9u);
  EXPECT_FALSE(listed.at("file-link").special);
  EXPECT_EQ(listed.at("file-link").attributes & platform::kAttrDirectory, 0u);
  ASSERT_EQ(listed.count("dir-link"), 1u);
  EXPECT_EQ(
      listed.at("dir-link").attributes & (platform::kAttrDirectory | platform::kAttrReparsePoint),
      platform::kAttrDirectory | platform::kAttrReparsePoint);
  EXPECT_EQ(listed.at("dir").attributes & platform::kAttrReparsePoint, 0u);
  EXPECT_TRUE(Os().Exists(tmp.path() + "/dangling"));  // the name is taken
  EXPECT_TRUE(Os().IsDirectory(tmp.path() + "/dir-link"));
}

TEST(PosixSpecialFiles, DotNamesAreHiddenAndMissingWriteBitsReadOnly) {
  TempDir tmp;
  ASSERT_TRUE(WriteFile(tmp.path() + "/.hidden", "h"));
  ASSERT_TRUE(Os().MakeDirectory(tmp.path() + "/.hiddendir"));
  ASSERT_TRUE(Os().MakeDirectory(tmp.path() + "/rodir"));
  ASSERT_TRUE(WriteFile(tmp.path() + "/plain", "p"));
  ASSERT_EQ(chmod((tmp.path() + "/rodir").c_str(), 0555), 0);
  const auto listed = ListByName(tmp.path());
  EXPECT_EQ(listed.at(".hidden").attributes, platform::kAttrHidden);
  EXPECT_EQ(listed.at(".hiddendir").attributes, platform::kAttrHidden | platform::kAttrDirectory);
  EXPECT_EQ(listed.at("rodir").attributes, platform::kAttrReadOnly | platform::kAttrDirectory);
  EXPECT_EQ(listed.at("plain").attributes, 0u);
  chmod((tmp.path() + "/rodir").c_str(), 0755);
}

// --- system values ---------------------------------------------------------------------------

TEST(PosixSystem, TempDirectoryFollowsTmpdirAndAlwaysEndsWithASlash) {
  EnvGuard guard("TMPDIR");
  setenv("TMPDIR", "/some/where", 1);
  EXPECT_EQ(Os().TempDirectory(), "/some/where/");
  setenv("TMPDIR", "/some/where/", 1);
  EXPECT_EQ(Os().TempDirectory(), "/some/where/");
  unsetenv("TMPDIR");
  EXPECT_EQ(Os().TempDirectory(), "/tmp/");
}

TEST(PosixSystem, DriveTypesAndTheWindowsOnlyValues) {
  TempDir tmp;
  EXPECT_EQ(Os().DriveType("/"), platform::DriveKind::Fixed);
  EXPECT_EQ(Os().DriveType(tmp.path() + "/missing/"), platform::DriveKind::NoRootDir);
  EXPECT_EQ(Os().SystemDirectory(), "");
  EXPECT_EQ(Os().WindowsDirectory(), "");
  EXPECT_EQ(Os().Separator(), '/');
  const platform::ScreenInfo s = Os().Screen();
  EXPECT_EQ(s.width, 0);
  EXPECT_EQ(s.height, 0);
}

TEST(PosixSystem, DosTimesKeepOddSecondsAsHalves) {
  TempDir tmp;
  const std::string f = tmp.path() + "/t";
  ASSERT_TRUE(WriteFile(f, "t"));
  struct tm tm = {};
  tm.tm_year = 2010 - 1900, tm.tm_mon = 2, tm.tm_mday = 4, tm.tm_hour = 5, tm.tm_min = 6,
  tm.tm_sec = 59, tm.tm_isdst = -1;
  const time_t t = mktime(&tm);
  struct timespec times[2] = {{t, 0}, {t, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, f.c_str(), times, 0), 0);
  platform::DosTime d;
  ASSERT_TRUE(Os().LastWriteDosTime(f, d));
  EXPECT_EQ(d.year1980, 30u);
  EXPECT_EQ(d.month, 3u);
  EXPECT_EQ(d.day, 4u);
  EXPECT_EQ(d.hour, 5u);
  EXPECT_EQ(d.minute, 6u);
  EXPECT_EQ(d.seconds2, 29u);
}

// --- ini reader details ----------------------------------------------------------------------

TEST(IniReader, IntegersFollowTheSystemParser) {
  using platform::posix::ParseProfileInt;
  EXPECT_EQ(ParseProfileInt("  42"), 42);
  EXPECT_EQ(ParseProfileInt("\t-0x10"), -16);
  EXPECT_EQ(ParseProfileInt("0x"), 0);
  EXPECT_EQ(ParseProfileInt("0X10"), 0);  // only a lower-case prefix counts
  EXPECT_EQ(ParseProfileInt("0b101"), 5);
  EXPECT_EQ(ParseProfileInt("0o17"), 15);
  EXPECT_EQ(ParseProfileInt("019"), 19);  // no octal without the prefix
  EXPECT_EQ(ParseProfileInt("- 5"), 0);
  EXPECT_EQ(ParseProfileInt("2147483648"), static_cast<int>(0x80000000u));
  EXPECT_EQ(ParseProfileInt(""), 0);
}

TEST(IniReader, ByteOrderMarksAreHonoured) {
  using platform::posix::IniTextToCp1252;
  using platform::posix::ProfileStringFromText;
  const std::string utf8 = IniTextToCp1252("\xEF\xBB\xBF[S]\r\nk=\xC3\xA4\xE4\xB8\xAD\r\n");
  EXPECT_EQ(ProfileStringFromText(utf8, "S", "k", ""), "\xE4?");
  const std::string utf16("\xFF\xFE[\0S\0]\0\n\0k\0=\0\xE4\0\xAC\x20", 18);
  EXPECT_EQ(ProfileStringFromText(IniTextToCp1252(utf16), "s", "K", ""), "\xE4\x80");
  EXPECT_EQ(ProfileStringFromText("[S]\nk=\xE4", "S", "k", ""), "\xE4");  // plain code page
}

TEST(IniReader, ASectionLineWithoutClosingBracketIsAnOrdinaryLine) {
  using platform::posix::ProfileStringFromText;
  const std::string text = "[A]\n[broken=1\nk=a\n[B]x\nk=b\n";
  EXPECT_EQ(ProfileStringFromText(text, "A", "k", "-"), "a");
  EXPECT_EQ(ProfileStringFromText(text, "A", "[broken", "-"), "1");
  EXPECT_EQ(ProfileStringFromText(text, "B", "k", "-"), "b");  // text after ']' is ignored
}

// --- the target tree and links -----------------------------------------------------------------

namespace {

using platform::TreeEntry;

// A link anywhere on the way is never followed: not as a folder, whichever spelling leads to it,
// and not as the last name, which rename replaces as a link.
TEST(PosixTargetTree, NoLinkBelowTheRootIsFollowed) {
  TempDir tmp;
  ASSERT_TRUE(testutil::MakeDirs(tmp.Join("outside")));
  ASSERT_TRUE(WriteFile(tmp.Join("outside/secret.txt"), "geheim"));
  ASSERT_TRUE(testutil::MakeDirs(tmp.Join("root/real")));
  ASSERT_EQ(symlink(tmp.Join("outside").c_str(), tmp.Join("root/link").c_str()), 0);
  ASSERT_EQ(symlink(tmp.Join("outside/secret.txt").c_str(), tmp.Join("root/real/f.txt").c_str()),
            0);
  auto tree = Os().OpenTree(tmp.Join("root"));
  ASSERT_NE(tree, nullptr);
  EXPECT_EQ(tree->Kind({"link"}), TreeEntry::Other);
  EXPECT_EQ(tree->Kind({"link", "secret.txt"}), TreeEntry::Other);
  EXPECT_EQ(tree->Kind({"real", "f.txt"}), TreeEntry::Other);
  EXPECT_FALSE(tree->MakeDirectory({"link", "x"}));
  std::string temp;
  EXPECT_EQ(tree->CreateTemp({"link"}, "tbx", temp), nullptr);
  EXPECT_FALSE(tree->Remove({"link", "secret.txt"}));
  platform::DosTime t;
  EXPECT_FALSE(tree->SetLastWriteDosTime({"link", "secret.txt"}, t));

  std::FILE* f = tree->CreateTemp({"real"}, "tbx", temp);
  ASSERT_NE(f, nullptr);
  std::fputs("neu", f);
  std::fclose(f);
  ASSERT_TRUE(tree->Replace({"real"}, temp, "f.txt"));
  EXPECT_EQ(ReadFile(tmp.Join("outside/secret.txt")), "geheim");
  EXPECT_EQ(ReadFile(tmp.Join("root/real/f.txt")), "neu");
  struct stat st;
  ASSERT_EQ(lstat(tmp.Join("root/real/f.txt").c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode)) << "the link itself was replaced";
  EXPECT_EQ(std::vector<std::string>(), [&] {
    std::vector<std::string> names;
    std::vector<DirEntry> entries;
    Os().ListDirectory(tmp.Join("outside"), "*.*", entries);
    for (const DirEntry& e : entries) names.push_back(e.name);
    names.erase(std::remove(names.begin(), names.end(), "secret.txt"), names.end());
    return names;
  }()) << "nothing was written outside";
}

// A folder entered once is used as the folder it was: swapped for a link afterwards, the files
// still go into it and not where the link points.
TEST(PosixTargetTree, AFolderSwappedForALinkAfterwardsIsNotFollowed) {
  TempDir tmp;
  ASSERT_TRUE(testutil::MakeDirs(tmp.Join("outside")));
  ASSERT_TRUE(testutil::MakeDirs(tmp.Join("root/sub")));
  auto tree = Os().OpenTree(tmp.Join("root"));
  ASSERT_NE(tree, nullptr);
  std::string temp;
  std::FILE* f = tree->CreateTemp({"sub"}, "tbx", temp);
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  ASSERT_EQ(rename(tmp.Join("root/sub").c_str(), tmp.Join("root/moved").c_str()), 0);
  ASSERT_EQ(symlink(tmp.Join("outside").c_str(), tmp.Join("root/sub").c_str()), 0);
  ASSERT_TRUE(tree->Replace({"sub"}, temp, "a.txt"));
  EXPECT_TRUE(Os().Exists(tmp.Join("root/moved/a.txt")));
  EXPECT_FALSE(Os().Exists(tmp.Join("outside/a.txt")));
}

}  // namespace
