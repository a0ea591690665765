// The support library: string lists and their encodings, the environment snapshot and the
// directory scanner.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "platform/name_case.h"
#include "platform/platform.h"
#include "support/dir_scanner.h"
#include "support/tus_strings.h"
#include "support/util_var_man.h"
#include "tests/unit/test_util.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

using testutil::ReadFile;
using testutil::TempDir;
using testutil::WriteFile;

namespace {

std::string Bytes(std::initializer_list<int> b) {
  std::string s;
  for (int c : b) s += static_cast<char>(c);
  return s;
}

// Writes with fn into a fresh file and returns what reached it.
template <typename Fn>
std::string Encoded(Fn fn) {
  TempDir tmp;
  const std::string path = tmp.Join("enc.bin");
  std::FILE* f = std::fopen(path.c_str(), "wb");
  EXPECT_NE(f, nullptr);
  if (!f) return std::string();
  EXPECT_TRUE(fn(f));
  std::fclose(f);
  return ReadFile(path);
}

// A stream holding bytes, positioned at its start; closes and removes itself.
class Stream {
 public:
  explicit Stream(const std::string& bytes) {
    path_ = tmp_.Join("in.bin");
    WriteFile(path_, bytes);
    f_ = std::fopen(path_.c_str(), "rb");
  }
  ~Stream() {
    if (f_) std::fclose(f_);
  }
  std::FILE* get() const { return f_; }
  long Position() const { return std::ftell(f_); }

 private:
  TempDir tmp_;
  std::string path_;
  std::FILE* f_ = nullptr;
};

TUSStrings List(bool dups, std::initializer_list<const char*> items) {
  TUSStrings l(dups);
  for (const char* s : items) l.Add(s);
  return l;
}

}  // namespace

// --- TUSStrings ------------------------------------------------------------------------------

TEST(TUSStrings, RefusingListsDropEqualStringsButKeepOtherCase) {
  TUSStrings l(false);
  EXPECT_EQ(l.Add("C:\\Quelle"), 0);
  EXPECT_EQ(l.Add("C:\\Quelle"), -1);
  EXPECT_EQ(l.Count(), 1);
  EXPECT_EQ(l.Add("c:\\quelle"), 1);  // byte-exact comparison
  EXPECT_EQ(l.Find("c:\\quelle"), 1);
  EXPECT_EQ(l.Find("C:\\QUELLE"), -1);
  EXPECT_EQ(l.Add(""), 2);
  EXPECT_EQ(l.Add(""), -1);
}

TEST(TUSStrings, AcceptingListsAppendAndReportTheFirstEqualIndex) {
  TUSStrings l(true);
  EXPECT_EQ(l.Add("x"), 0);
  EXPECT_EQ(l.Add("y"), 1);
  EXPECT_EQ(l.Add("x"), 0);  // appended, but the first x is at 0
  ASSERT_EQ(l.Count(), 3);
  EXPECT_EQ(l.At(2), "x");
  l.Clear();
  EXPECT_EQ(l.Count(), 0);
  EXPECT_EQ(l.Add("z"), 0);
}

TEST(TUSStrings, AssignmentKeepsTheTargetsDuplicateRule) {
  const TUSStrings source = List(true, {"a", "b", "a", "c", "b"});
  TUSStrings refusing(false);
  refusing.Add("old");
  refusing = source;
  EXPECT_FALSE(refusing.AllowDuplicates);
  EXPECT_EQ(refusing.Strings, (std::vector<std::string>{"a", "b", "c"}));

  TUSStrings accepting(true);
  accepting = List(false, {"p", "q"});
  EXPECT_TRUE(accepting.AllowDuplicates);
  EXPECT_EQ(accepting.Strings, (std::vector<std::string>{"p", "q"}));

  TUSStrings& alias = accepting;
  accepting = alias;  // self-assignment changes nothing
  EXPECT_EQ(accepting.Strings, (std::vector<std::string>{"p", "q"}));

  const TUSStrings copy(source);  // a copy holds the same strings in the same order
  EXPECT_EQ(copy.Strings, source.Strings);
}

// The index behind Find follows every way the list changes: Add, Clear, strings appended to
// the vector directly, and a vector that shrank.
TEST(TUSStrings, FindFollowsTheListThroughEveryChange) {
  TUSStrings l(false);
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(l.Add("p" + std::to_string(i)), i);
  EXPECT_EQ(l.Add("p500"), -1);
  EXPECT_EQ(l.Find("p999"), 999);
  l.Clear();
  EXPECT_EQ(l.Find("p1"), -1);
  l.Strings.assign({"b", "a", "b"});  // as a test or a reader may fill it
  EXPECT_EQ(l.Find("a"), 1);
  EXPECT_EQ(l.Find("b"), 0);
  l.Strings.resize(1);
  EXPECT_EQ(l.Find("a"), -1);
  EXPECT_EQ(l.Add("a"), 1);
  EXPECT_EQ(l.Add("b"), -1);
  const TUSStrings copy(l);
  EXPECT_EQ(copy.Find("a"), 1);
}

// A list of the most strings the encoding carries, all different, reads back whole and in order
// (each Add checks for an equal string: a pairwise check made this take seconds).
TEST(StringEncoding, TheLongestListReadsBackWhole) {
  TUSStrings list(false);
  for (int i = 0; i < kMaxEncodedStrings; ++i) list.Add("C:\\Quelle\\" + std::to_string(i));
  std::FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  ASSERT_TRUE(WriteStrings(list, f));
  std::rewind(f);
  TUSStrings back(false);
  EXPECT_TRUE(ReadStrings(back, f));
  std::fclose(f);
  EXPECT_EQ(back.Strings, list.Strings);
}

TEST(TUSStrings, AppendingAListToItselfDoublesItOnce) {
  TUSStrings l = List(true, {"a", "b"});
  l.Append(l);
  EXPECT_EQ(l.Strings, (std::vector<std::string>{"a", "b", "a", "b"}));
  TUSStrings r = List(false, {"a", "b"});
  r.Append(r);
  EXPECT_EQ(r.Strings, (std::vector<std::string>{"a", "b"}));
}

// --- encodings -------------------------------------------------------------------------------

TEST(StringEncoding, StringsAndListsAreWrittenByteForByte) {
  EXPECT_EQ(Encoded([](std::FILE* f) { return WriteString("", f); }), Bytes({0, 0}));
  EXPECT_EQ(Encoded([](std::FILE* f) { return WriteString("abc", f); }),
            Bytes({3, 0, 'a', 'b', 'c'}));
  EXPECT_EQ(Encoded([](std::FILE* f) { return WriteString(std::string(300, 'q'), f); }),
            Bytes({0x2C, 0x01}) + std::string(300, 'q'));
  EXPECT_EQ(Encoded([](std::FILE* f) { return WriteStrings(TUSStrings(false), f); }),
            Bytes({0, 0}));
  EXPECT_EQ(Encoded([](std::FILE* f) {
              return WriteStrings(List(false, {"a", "bc"}), f);
            }),
            Bytes({2, 0, 1, 0, 'a', 2, 0, 'b', 'c'}));
  EXPECT_EQ(Encoded([](std::FILE* f) { return WriteString("\xE4\xF6\xFC\xDF", f); }),
            Bytes({4, 0, 0xE4, 0xF6, 0xFC, 0xDF}));
}

TEST(StringEncoding, OverlongStringsAreCutConsistentlyWithTheirLength) {
  const std::string big(70000, 'w');  // 70000 mod 65536 = 4464
  const std::string enc = Encoded([&](std::FILE* f) { return WriteString(big, f); });
  ASSERT_EQ(enc.size(), 2u + 4464u);
  EXPECT_EQ(enc.substr(0, 2), Bytes({0x70, 0x11}));
  Stream in(enc);
  std::string back;
  EXPECT_TRUE(ReadString(back, in.get()));
  EXPECT_EQ(back, std::string(4464, 'w'));
}

TEST(StringEncoding, ListsBeyondTheSignedCountAreCutSoTheCountMatches) {
  TUSStrings many(true);
  for (int i = 0; i < kMaxEncodedStrings + 5; ++i) many.Add("s");
  const std::string enc = Encoded([&](std::FILE* f) { return WriteStrings(many, f); });
  ASSERT_EQ(enc.size(), 2u + 3u * kMaxEncodedStrings);
  EXPECT_EQ(enc.substr(0, 2), Bytes({0xFF, 0x7F}));
  Stream in(enc);
  TUSStrings back(true);
  EXPECT_TRUE(ReadStrings(back, in.get()));
  EXPECT_EQ(back.Count(), kMaxEncodedStrings);
}

TEST(StringEncoding, ReadingAppliesTheListsDuplicateRule) {
  const std::string enc = Bytes({2, 0, 1, 0, 'a', 1, 0, 'a'});
  {
    Stream in(enc);
    TUSStrings l(false);
    l.Add("stale");
    EXPECT_TRUE(ReadStrings(l, in.get()));
    EXPECT_EQ(l.Strings, (std::vector<std::string>{"a"}));
  }
  {
    Stream in(enc);
    TUSStrings l(true);
    EXPECT_TRUE(ReadStrings(l, in.get()));
    EXPECT_EQ(l.Strings, (std::vector<std::string>{"a", "a"}));
  }
}

TEST(StringEncoding, RoundTripsKeepEveryByte) {
  std::string all;
  for (int c = 1; c < 256; ++c) all += static_cast<char>(c);
  const TUSStrings list = List(false, {"", "C:\\Quelle", all.c_str(), "line\r\nbreak"});
  const std::string enc = Encoded([&](std::FILE* f) { return WriteStrings(list, f); });
  Stream in(enc);
  TUSStrings back(false);
  EXPECT_TRUE(ReadStrings(back, in.get()));
  EXPECT_EQ(back.Strings, list.Strings);
  EXPECT_EQ(in.Position(), static_cast<long>(enc.size()));
}

TEST(StringEncoding, CutInputGivesDefinedShortResults) {
  std::string s = "stale";
  {
    Stream in("");
    EXPECT_FALSE(ReadString(s, in.get()));
    EXPECT_EQ(s, "");
  }
  {
    Stream in(Bytes({5}));  // half a length
    s = "stale";
    EXPECT_FALSE(ReadString(s, in.get()));
    EXPECT_EQ(s, "");
  }
  {
    Stream in(Bytes({5, 0, 'a', 'b'}));  // text cut short
    EXPECT_FALSE(ReadString(s, in.get()));
    EXPECT_EQ(s, "ab");
  }
  {
    Stream in(Bytes({3, 0, 1, 0, 'a', 2, 0, 'b'}));  // the second string is cut, no third
    TUSStrings l(true);
    EXPECT_FALSE(ReadStrings(l, in.get()));
    EXPECT_EQ(l.Strings, (std::vector<std::string>{"a"}));
  }
  {
    Stream in("");
    TUSStrings l = List(true, {"stale"});
    EXPECT_FALSE(ReadStrings(l, in.get()));
    EXPECT_EQ(l.Count(), 0);
  }
}

TEST(StringEncoding, AHugeCountWithoutStringsEndsAtTheEndOfTheFile) {
  {
    Stream in(Bytes({0xFF, 0x7F}));  // 32767 strings announced, none there
    TUSStrings l(true);
    EXPECT_FALSE(ReadStrings(l, in.get()));
    EXPECT_EQ(l.Count(), 0);
  }
  {
    Stream in(Bytes({0xFF, 0xFF, 1, 0, 'a'}));  // negative as a signed count: no strings
    TUSStrings l(true);
    ReadStrings(l, in.get());
    EXPECT_EQ(l.Count(), 0);
    EXPECT_EQ(in.Position(), 2);
  }
  {
    Stream in(Bytes({0xFF, 0xFF}));  // the longest string announced, nothing behind
    std::string s;
    EXPECT_FALSE(ReadString(s, in.get()));
    EXPECT_EQ(s, "");
  }
}

TEST(StringEncoding, WritesToAStreamThatRefusesThemFail) {
  TempDir tmp;
  const std::string path = tmp.Join("ro.bin");
  ASSERT_TRUE(WriteFile(path, ""));
  std::FILE* f = std::fopen(path.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  EXPECT_FALSE(WriteString("abc", f));
  EXPECT_FALSE(WriteStrings(List(false, {"a"}), f));
  std::fclose(f);
}

TEST(StringEncoding, LittleEndianPrimitives) {
  uint8_t b[4];
  PutU16(b, 0xBEEF);
  EXPECT_EQ(b[0], 0xEF);
  EXPECT_EQ(b[1], 0xBE);
  EXPECT_EQ(GetU16(b), 0xBEEF);
  PutU32(b, 0x12345678u);
  EXPECT_EQ(b[0], 0x78);
  EXPECT_EQ(b[3], 0x12);
  EXPECT_EQ(GetU32(b), 0x12345678u);
  EXPECT_EQ(Encoded([](std::FILE* f) { return WriteU32(f, 0xA1B2C3D4u); }),
            Bytes({0xD4, 0xC3, 0xB2, 0xA1}));
  Stream in(Bytes({0x34, 0x12, 0x99}));
  uint16_t v16 = 0;
  EXPECT_TRUE(ReadU16(in.get(), v16));
  EXPECT_EQ(v16, 0x1234);
  uint32_t v32 = 7;
  EXPECT_FALSE(ReadU32(in.get(), v32));
  EXPECT_EQ(v32, 7u);  // unchanged when the stream ends early
}

// --- TUtilVarMan -----------------------------------------------------------------------------

TEST(UtilVarMan, TheProgramDirectoryEndsAtTheLastSeparator) {
  EXPECT_EQ(DirectoryOfProgram("C:\\Tool\\prog.exe", '\\'), "C:\\Tool\\");
  EXPECT_EQ(DirectoryOfProgram("C:\\prog.exe", '\\'), "C:\\");
  EXPECT_EQ(DirectoryOfProgram("\\\\server\\share\\prog.exe", '\\'), "\\\\server\\share\\");
  EXPECT_EQ(DirectoryOfProgram("prog.exe", '\\'), "");
  EXPECT_EQ(DirectoryOfProgram("/opt/tambrix/bin/tambrixc", '/'), "/opt/tambrix/bin/");
  EXPECT_EQ(DirectoryOfProgram("C:/odd/prog.exe", '\\'), "");  // only backslashes on Windows
}

TEST(UtilVarMan, TheWindowsDirectoryGetsExactlyOneTrailingBackslash) {
  EXPECT_EQ(NormaliseWindowsDir("C:\\WINDOWS"), "C:\\WINDOWS\\");
  EXPECT_EQ(NormaliseWindowsDir("C:\\WINDOWS\\"), "C:\\WINDOWS\\");
  EXPECT_EQ(NormaliseWindowsDir("C:\\WINDOWS\\\\\\"), "C:\\WINDOWS\\");
  EXPECT_EQ(NormaliseWindowsDir(""), "");
}

namespace {

// An environment as a test describes it.
class FakeEnvironment : public platform::ForwardingOs {
 public:
  FakeEnvironment() : ForwardingOs(platform::Real()) {}
  char Separator() const override { return sep; }
  std::string ProgramPath() override { return program; }
  platform::ScreenInfo Screen() override { return screen; }
  std::string SystemDirectory() override { return system; }
  std::string WindowsDirectory() override { return windows; }
  std::string UserProfileString(const std::string& section, const std::string& key,
                                const std::string& def) override {
    if (section != "intl") return def;
    const auto it = intl.find(key);
    return it == intl.end() ? def : it->second;
  }

  char sep = '\\';
  std::string program = "C:\\Tool\\prog.exe";
  platform::ScreenInfo screen{1024, 768, 16, 2};
  std::string system = "C:\\WINDOWS\\system32";
  std::string windows = "C:\\WINDOWS";
  std::map<std::string, std::string> intl;
};

class InstalledOs {
 public:
  explicit InstalledOs(platform::Os* os) { platform::SetForTesting(os); }
  ~InstalledOs() { platform::SetForTesting(nullptr); }
};

}  // namespace

TEST(UtilVarMan, ASnapshotTakesEveryValueFromThePlatform) {
  FakeEnvironment env;
  env.intl = {{"sDate", "/x"}, {"sDecimal", "."}, {"sTime", ":"}};
  InstalledOs installed(&env);
  const TUtilVarMan v;
  EXPECT_EQ(v.ProgramDir, "C:\\Tool\\");
  EXPECT_EQ(v.ProgramDirString, "C:\\Tool\\");
  EXPECT_EQ(v.ScreenWidth, 1024);
  EXPECT_EQ(v.ScreenHeight, 768);
  EXPECT_EQ(v.ColorBits, 32);  // bits per pixel times planes
  EXPECT_EQ(v.SystemDir, "C:\\WINDOWS\\system32");
  EXPECT_TRUE(v.SystemDirOk);
  EXPECT_EQ(v.WindowsDir, "C:\\WINDOWS\\");
  EXPECT_EQ(std::string(v.DateSep), "/");  // first character only
  EXPECT_EQ(std::string(v.DecimalSep), ".");
  EXPECT_EQ(std::string(v.TimeSep), ":");
}

TEST(UtilVarMan, AbsentValuesKeepTheirDefaults) {
  FakeEnvironment env;
  env.system.clear();
  env.windows.clear();
  env.screen = platform::ScreenInfo();
  InstalledOs installed(&env);
  const TUtilVarMan v;
  EXPECT_EQ(std::string(v.DateSep), ".");
  EXPECT_EQ(std::string(v.DecimalSep), ",");
  EXPECT_EQ(std::string(v.TimeSep), ",");  // a comma, as it always was
  EXPECT_EQ(v.SystemDir, "");
  EXPECT_FALSE(v.SystemDirOk);
  EXPECT_EQ(v.WindowsDir, "");
  EXPECT_EQ(v.ColorBits, 0);
  EXPECT_EQ(v.Instance, nullptr);
}

TEST(UtilVarMan, PosixSeparatorsAndLongProgramPaths) {
  FakeEnvironment env;
  env.sep = '/';
  const std::string dir = "/" + std::string(300, 'd') + "/";
  env.program = dir + "tambrixc";
  InstalledOs installed(&env);
  const TUtilVarMan v;
  EXPECT_EQ(v.ProgramDir, dir);  // never a cut path that names another directory
}

TEST(UtilVarMan, TheRealProgramDirectoryHoldsThisTest) {
  const TUtilVarMan v;
  ASSERT_FALSE(v.ProgramDir.empty());
  EXPECT_EQ(v.ProgramDir.back(), platform::Real().Separator());
  EXPECT_TRUE(platform::Real().IsDirectory(v.ProgramDir));
}

// --- TDirList --------------------------------------------------------------------------------

namespace {

// Delivers every listing sorted by name (or reversed), so the scanner's own order shows.
class OrderedOs : public platform::ForwardingOs {
 public:
  explicit OrderedOs(bool reverse) : ForwardingOs(platform::Real()), reverse_(reverse) {}
  bool ListDirectory(const std::string& dir, const std::string& mask,
                     std::vector<platform::DirEntry>& out) override {
    std::vector<platform::DirEntry> entries;
    if (!inner_.ListDirectory(dir, mask, entries)) return false;
    std::sort(entries.begin(), entries.end(),
              [&](const platform::DirEntry& a, const platform::DirEntry& b) {
                return reverse_ ? a.name > b.name : a.name < b.name;
              });
    out.insert(out.end(), entries.begin(), entries.end());
    ++calls;
    return true;
  }
  int calls = 0;

 private:
  bool reverse_;
};

std::vector<std::string> Scan(const std::string& start, bool sorted = false) {
  TDirList list;
  list.Masks.push_back("*.*");
  list.Recursive = true;
  list.Sorted = sorted;
  list.Scan(start);
  std::vector<std::string> names;
  for (const TFileInfo& f : list.Result()) names.push_back(f.Name);
  return names;
}

// Builds the tree of the usual example below root.
void MakeExampleTree(const TempDir& tmp) {
  ASSERT_TRUE(WriteFile(tmp.Join("src/a.txt"), "a"));
  ASSERT_TRUE(WriteFile(tmp.Join("src/one/b.txt"), "bb"));
  ASSERT_TRUE(WriteFile(tmp.Join("src/one/two/c.txt"), "ccc"));
  ASSERT_TRUE(WriteFile(tmp.Join("src/three/d.txt"), "dddd"));
  ASSERT_TRUE(WriteFile(tmp.Join("src/z.txt"), "zzzzz"));
}

}  // namespace

TEST(DirScanner, DepthFirstPreOrderWithEachDirectorysOwnFilesFirst) {
  TempDir tmp;
  MakeExampleTree(tmp);
  OrderedOs os(false);
  InstalledOs installed(&os);
  const std::string src = tmp.Join("src");
  EXPECT_EQ(Scan(src), (std::vector<std::string>{
                           tmp.Join("src/a.txt"), tmp.Join("src/z.txt"), tmp.Join("src/one/b.txt"),
                           tmp.Join("src/one/two/c.txt"), tmp.Join("src/three/d.txt")}));
}

TEST(DirScanner, EveryFolderIsListedInOneOrderWhateverTheFileSystemGives) {
  TempDir tmp;
  MakeExampleTree(tmp);
  const std::string src = tmp.Join("src");
  std::vector<std::string> forward;
  {
    OrderedOs os(false);
    InstalledOs installed(&os);
    forward = Scan(src);
  }
  OrderedOs os(true);
  InstalledOs installed(&os);
  EXPECT_EQ(Scan(src), forward);
  EXPECT_EQ(forward, (std::vector<std::string>{
                         tmp.Join("src/a.txt"), tmp.Join("src/z.txt"), tmp.Join("src/one/b.txt"),
                         tmp.Join("src/one/two/c.txt"), tmp.Join("src/three/d.txt")}));
  // The sorted result orders by name, byte by byte.
  std::vector<std::string> sorted = Scan(src, true);
  EXPECT_TRUE(std::is_sorted(sorted.begin(), sorted.end()));
  EXPECT_EQ(sorted.size(), 5u);
}

TEST(DirScanner, NamesAreOrderedAsNtfsOrdersThemCaseInsensitively) {
  TempDir tmp;
  // Upper and lower case mixed, '_' (after the letters once upper-cased) and a prefix of
  // another name; listed by the file system in reverse byte order.
  for (const char* name : {"_unten.txt", "Zeta.txt", "beta.txt", "Alpha.txt", "alpha"}) {
    ASSERT_TRUE(WriteFile(tmp.Join("src/") + name, "x"));
  }
  OrderedOs os(true);
  InstalledOs installed(&os);
  const std::string prefix = tmp.Join("src/");
  std::vector<std::string> names;
  for (const std::string& path : Scan(tmp.Join("src"))) names.push_back(path.substr(prefix.size()));
  EXPECT_EQ(names,
            (std::vector<std::string>{"alpha", "Alpha.txt", "beta.txt", "Zeta.txt", "_unten.txt"}));
}

TEST(NameOrder, UpperCasedCodePointsDecideAndBytesBreakTies) {
  using platform::NameOrderLess;
  EXPECT_TRUE(NameOrderLess("a.txt", "B.txt"));
  EXPECT_FALSE(NameOrderLess("B.txt", "a.txt"));
  EXPECT_TRUE(NameOrderLess("Z", "_"));        // '_' sorts after every letter
  EXPECT_TRUE(NameOrderLess("z", "\xE4"));     // ä (as Ä) after z
  EXPECT_TRUE(NameOrderLess("\xE4", "\xFF"));  // Ä before ÿ (as Ÿ, U+0178)
  EXPECT_TRUE(NameOrderLess("\xFF", "\x80"));  // Ÿ before the Euro sign (U+20AC)
  EXPECT_TRUE(NameOrderLess("\xDF", "\x9A"));  // ß (U+00DF) before š (as Š, U+0160)
  EXPECT_TRUE(NameOrderLess("ab", "ab.txt"));  // a prefix first
  // Names equal without case (one NTFS folder cannot hold both) still get one fixed order.
  EXPECT_TRUE(NameOrderLess("Ab", "ab"));
  EXPECT_FALSE(NameOrderLess("ab", "Ab"));
  EXPECT_FALSE(NameOrderLess("ab", "ab"));
}

TEST(DirScanner, SizesCallCountAndATrailingSeparator) {
  TempDir tmp;
  MakeExampleTree(tmp);
  TDirList list;
  list.Masks.push_back("*.*");
  list.Recursive = true;
  list.Scan(tmp.Join("src"));
  EXPECT_EQ(list.CallCount, 4);  // src, one, two, three
  EXPECT_EQ(list.TotalSize, 15);
  EXPECT_EQ(list.TrueTotalSize, 15u);
  std::vector<std::string> plain;
  for (const TFileInfo& f : list.Files) plain.push_back(f.Name);
  std::sort(plain.begin(), plain.end());
  std::vector<std::string> withSep = Scan(tmp.Join("src") + testutil::Sep());
  std::sort(withSep.begin(), withSep.end());
  EXPECT_EQ(withSep, plain);
  for (const TFileInfo& f : list.Files) {
    EXPECT_EQ(static_cast<uint64_t>(f.Size), f.TrueSize);
    EXPECT_EQ(ReadFile(f.Name).size(), f.TrueSize) << f.Name;
  }
}

TEST(DirScanner, EmptyDirectoriesAddNothingButTheirSubdirectoriesAreWalked) {
  TempDir tmp;
  ASSERT_TRUE(testutil::MakeDirs(tmp.Join("src/empty/deeper")));
  ASSERT_TRUE(WriteFile(tmp.Join("src/empty/deeper/f"), "f"));
  EXPECT_EQ(Scan(tmp.Join("src")), (std::vector<std::string>{tmp.Join("src/empty/deeper/f")}));
}

TEST(DirScanner, AnEmptyOrMissingStartPathGivesNothing) {
  TempDir tmp;
  OrderedOs os(false);
  InstalledOs installed(&os);
  EXPECT_TRUE(Scan("").empty());
  EXPECT_TRUE(Scan(tmp.Join("missing")).empty());
  TDirList list;
  list.Masks.push_back("*.*");
  list.Recursive = true;
  list.Scan("");
  EXPECT_EQ(list.TotalSize, 0);
  EXPECT_EQ(list.TrueTotalSize, 0u);
}

TEST(DirScanner, NamesThatDifferOnlyInCaseAreBothListed) {
  TempDir tmp;
  ASSERT_TRUE(WriteFile(tmp.Join("src/Name.txt"), "1"));
  if (!WriteFile(tmp.Join("src/name.txt"), "2") || ReadFile(tmp.Join("src/Name.txt")) != "1") {
    GTEST_SKIP() << "this file system ignores case";
  }
  EXPECT_EQ(Scan(tmp.Join("src")).size(), 2u);
}

TEST(DirScanner, HiddenAndReadOnlyDirectoriesAreDescendedAndTheirFilesListed) {
  TempDir tmp;
#ifdef _WIN32
  ASSERT_TRUE(WriteFile(tmp.Join("src/hdir/h.txt"), "h"));
  ASSERT_TRUE(WriteFile(tmp.Join("src/rdir/r.txt"), "r"));
  ASSERT_TRUE(WriteFile(tmp.Join("src/sdir/s.txt"), "s"));
  ASSERT_TRUE(WriteFile(tmp.Join("src/hidden.txt"), "x"));
  const std::string hdir = tmp.Join("src/hdir"), rdir = tmp.Join("src/rdir"),
                    sdir = tmp.Join("src/sdir"), hidden = tmp.Join("src/hidden.txt");
  ASSERT_TRUE(SetFileAttributesA(hdir.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(SetFileAttributesA(rdir.c_str(), FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(SetFileAttributesA(sdir.c_str(), FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE));
  ASSERT_TRUE(SetFileAttributesA(hidden.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
  std::vector<std::string> got = Scan(tmp.Join("src"));
  for (const std::string& p : {hdir, rdir, sdir, hidden}) {
    SetFileAttributesA(p.c_str(), FILE_ATTRIBUTE_NORMAL);
  }
  std::sort(got.begin(), got.end());
  EXPECT_EQ(got,
            (std::vector<std::string>{tmp.Join("src/hdir/h.txt"), tmp.Join("src/hidden.txt"),
                                      tmp.Join("src/rdir/r.txt"), tmp.Join("src/sdir/s.txt")}));
#else
  ASSERT_TRUE(WriteFile(tmp.Join("src/.hdir/h.txt"), "h"));
  ASSERT_TRUE(WriteFile(tmp.Join("src/rdir/r.txt"), "r"));
  ASSERT_TRUE(WriteFile(tmp.Join("src/.hidden.txt"), "x"));
  ASSERT_EQ(chmod(tmp.Join("src/rdir").c_str(), 0555), 0);  // read-only, still searchable
  std::vector<std::string> got = Scan(tmp.Join("src"));
  chmod(tmp.Join("src/rdir").c_str(), 0755);
  std::sort(got.begin(), got.end());
  EXPECT_EQ(got, (std::vector<std::string>{tmp.Join("src/.hdir/h.txt"), tmp.Join("src/.hidden.txt"),
                                           tmp.Join("src/rdir/r.txt")}));
#endif
}

namespace {

// Adds entries that a real tree cannot easily hold here: a link to a directory, a device, and
// files of several GiB.
class InjectingOs : public platform::ForwardingOs {
 public:
  InjectingOs() : ForwardingOs(platform::Real()) {}
  bool ListDirectory(const std::string& dir, const std::string& mask,
                     std::vector<platform::DirEntry>& out) override {
    if (!inner_.ListDirectory(dir, mask, out)) return false;
    for (platform::DirEntry& e : out) {
      if (e.name.compare(0, 4, "huge") == 0) e.size = hugeSize;
    }
    platform::DirEntry link;
    link.name = "loop";
    link.attributes = platform::kAttrDirectory | platform::kAttrReparsePoint;
    out.push_back(link);
    platform::DirEntry device;
    device.name = "device";
    device.special = true;
    out.push_back(device);
    return true;
  }
  uint64_t hugeSize = 3ull << 30;
};

}  // namespace

TEST(DirScanner, LinksToDirectoriesAndSpecialFilesAreNeitherListedNorDescended) {
  TempDir tmp;
  ASSERT_TRUE(WriteFile(tmp.Join("src/sub/f.txt"), "f"));
  InjectingOs os;
  InstalledOs installed(&os);
  TDirList list;
  list.Masks.push_back("*.*");
  list.Recursive = true;
  list.Scan(tmp.Join("src"));
  std::vector<std::string> names;
  for (const TFileInfo& f : list.Files) names.push_back(f.Name);
  EXPECT_EQ(names, (std::vector<std::string>{tmp.Join("src/sub/f.txt")}));
  EXPECT_EQ(list.CallCount, 2);  // src and sub, never "loop"
}

TEST(DirScanner, TotalSizeWrapsIn32BitsWhileTheTrueTotalIsExact) {
  TempDir tmp;
  ASSERT_TRUE(WriteFile(tmp.Join("src/huge1"), "1"));
  ASSERT_TRUE(WriteFile(tmp.Join("src/huge2"), "2"));
  ASSERT_TRUE(WriteFile(tmp.Join("src/small"), "123"));
  InjectingOs os;
  InstalledOs installed(&os);
  TDirList list;
  list.Masks.push_back("*.*");
  list.Recursive = true;
  list.Scan(tmp.Join("src"));
  ASSERT_EQ(list.Files.size(), 3u);
  EXPECT_EQ(list.TrueTotalSize, (6ull << 30) + 3);
  EXPECT_EQ(list.TotalSize, static_cast<int32_t>(0x80000003u));  // 6 GiB + 3 mod 2^32
  for (const TFileInfo& f : list.Files) {
    if (f.TrueSize == (3ull << 30)) {
      EXPECT_EQ(f.Size, static_cast<int32_t>(0xC0000000u));
    }
  }
}

#ifndef _WIN32
TEST(DirScanner, RealLinksAndFifosOnPosix) {
  TempDir tmp;
  ASSERT_TRUE(WriteFile(tmp.Join("src/sub/f.txt"), "f"));
  ASSERT_TRUE(WriteFile(tmp.Join("outside/o.txt"), "o"));
  ASSERT_EQ(symlink(tmp.Join("outside").c_str(), tmp.Join("src/link").c_str()), 0);
  ASSERT_EQ(symlink("..", tmp.Join("src/sub/up").c_str()), 0);  // would loop
  ASSERT_EQ(symlink("sub/f.txt", tmp.Join("src/flink").c_str()), 0);
  ASSERT_EQ(mkfifo(tmp.Join("src/fifo").c_str(), 0600), 0);
  std::vector<std::string> got = Scan(tmp.Join("src"));
  std::sort(got.begin(), got.end());
  EXPECT_EQ(got, (std::vector<std::string>{tmp.Join("src/flink"), tmp.Join("src/sub/f.txt")}));
}
#endif
