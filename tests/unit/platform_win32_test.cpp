// The Win32 platform layer against the system's own functions (under Wine in our test runs).
#include <gtest/gtest.h>
#include <windows.h>

#include <cctype>
#include <cstdio>
#include <map>

#include "platform/platform.h"
#include "platform/win32/wide_text.h"
#include "tests/unit/test_util.h"

using platform::DirEntry;
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

// NAME is PREFIX, one to four hex digits and ".tmp", as GetTempFileName forms its names.
bool IsPrefixHexTmp(const std::string& name, const std::string& prefix) {
  if (name.size() < prefix.size() + 5 || name.compare(0, prefix.size(), prefix) != 0) return false;
  const size_t digits = name.size() - prefix.size() - 4;
  if (digits > 4 || name.compare(name.size() - 4, 4, ".tmp") != 0) return false;
  for (size_t i = prefix.size(); i < prefix.size() + digits; ++i)
    if (!isxdigit(static_cast<unsigned char>(name[i]))) return false;
  return true;
}

// The UTF-16 form of a code page 1252 string, as the system keeps names.
std::wstring Utf16(const std::string& cp1252) {
  std::wstring w(cp1252.size(), L'\0');
  const int n = MultiByteToWideChar(1252, 0, cp1252.data(), static_cast<int>(cp1252.size()), &w[0],
                                    static_cast<int>(w.size()));
  w.resize(n);
  return w;
}

bool WriteThroughOs(const std::string& path, const std::string& bytes, const char* mode = "wb") {
  std::FILE* f = Os().Open(path, mode);
  if (f == nullptr) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

std::string ReadThroughOs(const std::string& path) {
  std::FILE* f = Os().Open(path, "rb");
  if (f == nullptr) return "<cannot open>";
  std::string data(4096, '\0');
  data.resize(std::fread(&data[0], 1, data.size(), f));
  std::fclose(f);
  return data;
}

// Clears the attributes again so the temporary directory can be removed.
class AttributeReset {
 public:
  explicit AttributeReset(std::vector<std::string> paths) : paths_(std::move(paths)) {}
  ~AttributeReset() {
    for (const std::string& p : paths_) SetFileAttributesA(p.c_str(), FILE_ATTRIBUTE_NORMAL);
  }

 private:
  std::vector<std::string> paths_;
};

// Names are code page 1252 whatever the ANSI code page (the euro sign sits where Latin-1 has a
// control character); what the code page lacks is marked, never replaced by a look-alike
// (A-macron is not A: that would name another file).
TEST(Win32Listing, NamesTheCodePageCannotWriteAreMarked) {
  TempDir dir;
  const std::wstring folder = Utf16(dir.path()) + L"\\";
  for (const char* name : {"\xFC"
                           "bersicht.txt",
                           "\x80.txt"}) {
    ASSERT_TRUE(WriteThroughOs(dir.Join(name), name));
    EXPECT_EQ(ReadThroughOs(dir.Join(name)), name);
  }
  for (const wchar_t* name : {L"\u00FCbersicht.txt", L"\u20AC.txt"}) {
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((folder + name).c_str(), &fd);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << "not found as UTF-16";
    FindClose(h);
    EXPECT_EQ(std::wstring(fd.cFileName), name);
  }
  for (const wchar_t* name : {L"\u65E5\u672C.txt", L"\u0100pfel.txt"}) {
    HANDLE h = CreateFileW((folder + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
  }
  const auto listed = ListByName(dir.path());
  ASSERT_EQ(listed.size(), 4u);
  for (const auto& kv : listed)
    EXPECT_EQ(kv.second.foreignName, kv.first == "??.txt" || kv.first == "?pfel.txt") << kv.first;
}

// Every file call works below a folder path far past MAX_PATH, where the ANSI calls and the
// runtime's fopen stop. The test takes its tree down again through the layer.
TEST(Win32Files, EveryCallWorksBelowAFolderPathPastMaxPath) {
  TempDir tmp;
  std::vector<std::string> levels{tmp.path()};
  for (char c : {'a', 'b', 'c', 'd'}) {
    levels.push_back(levels.back() + "\\" + std::string(80, c));
    ASSERT_TRUE(Os().MakeDirectory(levels.back())) << levels.back().size();
  }
  const std::string deep = levels.back(), file = deep + "\\tief.txt", temp = deep + "\\t.tmp";
  EXPECT_TRUE(Os().IsDirectory(deep));
  ASSERT_TRUE(WriteThroughOs(file, "alt"));
  ASSERT_TRUE(WriteThroughOs(temp, "neu", "wbx"));
  EXPECT_EQ(Os().Open(file, "wbx"), nullptr) << "an existing file is not created anew";
  const auto listed = ListByName(deep);
  ASSERT_EQ(listed.size(), 2u);
  EXPECT_EQ(listed.at("tief.txt").size, 3u);
  platform::FileId id, sameId;
  ASSERT_TRUE(Os().Identity(file, id));
  ASSERT_TRUE(Os().Identity(deep + "\\..\\" + std::string(80, 'd') + "/tief.txt", sameId));
  EXPECT_TRUE(id == sameId);
  platform::DosTime t, got;
  t.year1980 = 30, t.month = 7, t.day = 14, t.hour = 9, t.minute = 41, t.seconds2 = 11;
  ASSERT_TRUE(Os().SetLastWriteDosTime(file, t));
  ASSERT_TRUE(Os().LastWriteDosTime(file, got));
  EXPECT_EQ(
      std::vector<uint32_t>({got.year1980, got.month, got.day, got.hour, got.minute, got.seconds2}),
      std::vector<uint32_t>({30, 7, 14, 9, 41, 11}));

  const std::wstring fileW = L"\\\\?\\" + Utf16(file);
  ASSERT_TRUE(SetFileAttributesW(fileW.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_FALSE(Os().Replace(temp, file)) << "a read-only file is not replaced";
  ASSERT_TRUE(SetFileAttributesW(fileW.c_str(), FILE_ATTRIBUTE_NORMAL));
  ASSERT_TRUE(Os().Replace(temp, file));
  EXPECT_EQ(ReadThroughOs(file), "neu");
  EXPECT_FALSE(Os().Exists(temp));
  std::string unique;
  ASSERT_TRUE(Os().CreateUniqueTempFile(deep, "tbxmore", unique));
  EXPECT_TRUE(IsPrefixHexTmp(unique.substr(deep.size() + 1), "tbx")) << unique;
  // A name longer than a file system holds fails like any other call.
  EXPECT_FALSE(Os().MakeDirectory(deep + "\\" + std::string(300, 'x')));

  EXPECT_FALSE(Os().RemoveDirectory(deep)) << "a folder with files stays";
  EXPECT_TRUE(Os().Remove(file));
  EXPECT_TRUE(Os().Remove(unique));
  for (size_t i = levels.size() - 1; i > 0; --i) EXPECT_TRUE(Os().RemoveDirectory(levels[i]));
  EXPECT_FALSE(Os().Exists(levels[1]));
}

// Relative paths count from the current directory; '/', "." and ".." are resolved before the
// extended form, which takes none of them. Text modes still translate line ends.
TEST(Win32Files, RelativePathsWithSlashesAndDotsStillWork) {
  TempDir tmp;
  wchar_t old[MAX_PATH];
  ASSERT_NE(GetCurrentDirectoryW(MAX_PATH, old), 0u);
  ASSERT_TRUE(SetCurrentDirectoryW(Utf16(tmp.path()).c_str()));
  const bool made = Os().MakeDirectory("./sub") && Os().MakeDirectory("sub/../sub/inner");
  const bool written = WriteThroughOs("sub/inner/../r.txt", "a\n", "w");
  const std::string read = ReadThroughOs(".\\sub/./r.txt");
  const bool isDir = Os().IsDirectory("sub/inner/.");
  std::vector<DirEntry> found;
  const bool listed = Os().ListDirectory("sub/inner/..", "r.*", found);
  SetCurrentDirectoryW(old);
  EXPECT_TRUE(made && written && isDir && listed);
  EXPECT_EQ(read, "a\r\n");
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].name, "r.txt");
}

}  // namespace

TEST(Win32Listing, HiddenReadOnlyAndSystemBitsComeAsTheFileSearchDeliversThem) {
  TempDir tmp;
  const std::string hidden = tmp.Join("hidden.txt"), ro = tmp.Join("ro.txt"),
                    sys = tmp.Join("sys.txt"), dir = tmp.Join("hrdir");
  ASSERT_TRUE(WriteFile(hidden, "h"));
  ASSERT_TRUE(WriteFile(ro, "ro"));
  ASSERT_TRUE(WriteFile(sys, "sys"));
  ASSERT_TRUE(Os().MakeDirectory(dir));
  AttributeReset reset({hidden, ro, sys, dir});
  ASSERT_TRUE(SetFileAttributesA(hidden.c_str(), FILE_ATTRIBUTE_HIDDEN));
  ASSERT_TRUE(SetFileAttributesA(ro.c_str(), FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(SetFileAttributesA(sys.c_str(), FILE_ATTRIBUTE_SYSTEM));
  ASSERT_TRUE(SetFileAttributesA(dir.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY));

  const auto listed = ListByName(tmp.path());
  ASSERT_EQ(listed.size(), 4u);
  EXPECT_NE(listed.at("hidden.txt").attributes & platform::kAttrHidden, 0u);
  EXPECT_EQ(listed.at("hidden.txt").size, 1u);
  EXPECT_NE(listed.at("ro.txt").attributes & platform::kAttrReadOnly, 0u);
  EXPECT_EQ(listed.at("ro.txt").attributes & platform::kAttrHidden, 0u);
  EXPECT_NE(listed.at("sys.txt").attributes & platform::kAttrSystem, 0u);
  const uint32_t d = listed.at("hrdir").attributes;
  EXPECT_NE(d & platform::kAttrDirectory, 0u);
  EXPECT_NE(d & platform::kAttrHidden, 0u);
  // Wine keeps no read-only bit on directories; whatever the system keeps comes through.
  for (const auto& kv : listed) {
    EXPECT_EQ(kv.second.attributes, GetFileAttributesA(tmp.Join(kv.first).c_str())) << kv.first;
    EXPECT_FALSE(kv.second.special);
  }
}

TEST(Win32Listing, TheSearchPatternMayEndInASeparatorOrADriveRoot) {
  TempDir tmp;
  ASSERT_TRUE(WriteFile(tmp.Join("one.txt"), "1"));
  EXPECT_EQ(ListByName(tmp.path() + "\\").count("one.txt"), 1u);
  EXPECT_FALSE(ListByName("C:\\").empty());
  EXPECT_TRUE(Os().IsDirectory("C:\\"));
  EXPECT_TRUE(Os().IsDirectory("C:"));  // the drive's current directory
}

// A file held open elsewhere without any sharing is still told by its identity: the build asks
// for the identity of a program file that may be running.
TEST(Win32Files, IdentityOfAFileOpenWithoutSharing) {
  TempDir tmp;
  const std::string path = tmp.Join("a.bin");
  ASSERT_TRUE(WriteFile(path, "a"));
  platform::FileId before, locked;
  ASSERT_TRUE(Os().Identity(path, before));
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(Os().Identity(path, locked));
  CloseHandle(h);
  EXPECT_TRUE(before == locked);
}

TEST(Win32Times, TheDosTimeOfAFileIsItsLocalLastWriteTime) {
  TempDir tmp;
  const std::string f = tmp.Join("known.txt");
  ASSERT_TRUE(WriteFile(f, "k"));
  SYSTEMTIME st = {};
  st.wYear = 1999, st.wMonth = 12, st.wDay = 31, st.wHour = 23, st.wMinute = 58, st.wSecond = 7;
  FILETIME local, utc;
  ASSERT_TRUE(SystemTimeToFileTime(&st, &local));
  ASSERT_TRUE(LocalFileTimeToFileTime(&local, &utc));
  HANDLE h = CreateFileA(f.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(SetFileTime(h, nullptr, nullptr, &utc));
  CloseHandle(h);

  platform::DosTime d;
  ASSERT_TRUE(Os().LastWriteDosTime(f, d));
  EXPECT_EQ(d.year1980, 19u);
  EXPECT_EQ(d.month, 12u);
  EXPECT_EQ(d.day, 31u);
  EXPECT_EQ(d.hour, 23u);
  EXPECT_EQ(d.minute, 58u);
  EXPECT_EQ(d.seconds2, 3u);  // 7 seconds: DOS keeps halves
}

TEST(Win32Temp, GetTempFileNameTakesThreeCharactersOfThePrefix) {
  TempDir tmp;
  std::string path;
  ASSERT_TRUE(Os().CreateUniqueTempFile(tmp.path(), "TMBextra", path));
  const std::string base = path.substr(path.find_last_of('\\') + 1);
  // The prefix, the unique number in one to four hex digits (no leading zeros), ".tmp".
  EXPECT_TRUE(IsPrefixHexTmp(base, "TMB")) << base;
  EXPECT_TRUE(Os().Exists(path));
  // The number comes from the clock, so any width from one to four digits turns up.
  for (const char* name : {"TMB5f7.tmp", "TMB0.tmp", "TMBFFFF.tmp"})
    EXPECT_TRUE(IsPrefixHexTmp(name, "TMB")) << name;
  for (const char* name : {"TMB.tmp", "TMB12345.tmp", "TMBext1.tmp", "TMB5f7.tmpx", "TMX5f7.tmp"})
    EXPECT_FALSE(IsPrefixHexTmp(name, "TMB")) << name;
}

TEST(Win32System, WindowsDirectoriesExistAndTheSeparatorIsABackslash) {
  EXPECT_EQ(Os().Separator(), '\\');
  const std::string sys = Os().SystemDirectory(), win = Os().WindowsDirectory();
  ASSERT_FALSE(sys.empty());
  ASSERT_FALSE(win.empty());
  EXPECT_TRUE(Os().IsDirectory(sys));
  EXPECT_TRUE(Os().IsDirectory(win));
  EXPECT_EQ(Os().DriveType("C:\\"), platform::DriveKind::Fixed);
  // Paths handed back are shown in messages: drive paths, never the \\?\ form.
  const std::string program = Os().ProgramPath(), temp = Os().TempDirectory();
  EXPECT_EQ(program.compare(1, 2, ":\\"), 0) << program;
  EXPECT_EQ(temp.compare(1, 2, ":\\"), 0) << temp;
  EXPECT_TRUE(Os().Exists(program));
}

TEST(Win32System, ProfileFilesAreReadFromTheirFullPath) {
  TempDir tmp;
  const std::string ini = tmp.Join("full.ini");
  ASSERT_TRUE(WriteFile(ini, "[S]\r\nk=v\r\n"));
  EXPECT_EQ(Os().ProfileString("S", "k", "d", ini), "v");
  EXPECT_EQ(Os().ProfileInt("S", "n", 5, ini), 5);
}

// What the user types reaches the program as UTF-16; it becomes a code page 1252 string only when
// every character has a byte of its own. A look-alike would name another file (Ł is not L, a
// fullwidth or division slash is no separator), and so would a question mark.
TEST(Win32Text, TypedTextConvertsToTheCodePageExactlyOrNotAtAll) {
  struct Case {
    const wchar_t* typed;
    bool converts;
    const char* bytes;  // the code page 1252 form when it converts
  };
  const Case cases[] = {
      {L"C:\\Daten\\a b.txt", true, "C:\\Daten\\a b.txt"},
      {L"", true, ""},
      {L"\u20AC \u00DF \u00FC \u00D6", true, "\x80 \xDF \xFC \xD6"},
      {L"\u0152\u017E\u0178\u2026", true, "\x8C\x9E\x9F\x85"},  // letters in 0x80-0x9F
      {L"wer?", true, "wer?"},                                  // a question mark typed is one
      {L"ausgabe_\u0141\u00F3d\u017A.exe", false, ""},
      {L"\u0105", false, ""},                                // a-ogonek, best fit a
      {L"\u0414\u0430\u043D\u043D\u044B\u0435", false, ""},  // Cyrillic
      {L"\u65E5\u672C", false, ""},                          // CJK
      {L"C:\uFF3Cx", false, ""},                             // fullwidth backslash, best fit '\'
      {L"a\u2215b", false, ""},                              // division slash, best fit '/'
      {L"\uFF21", false, ""},                                // fullwidth A, best fit A
      {L"x\xD800y", false, ""},                              // unpaired high surrogate
      {L"x\xDC00", false, ""},                               // unpaired low surrogate
      {L"\xD83D\xDE00", false, ""},                          // a pair: outside the code page too
  };
  for (const Case& c : cases) {
    std::string out = "stale";
    EXPECT_EQ(platform::Cp1252OfUtf16(c.typed, out), c.converts) << testing::PrintToString(c.typed);
    EXPECT_EQ(out, c.bytes) << testing::PrintToString(c.typed);
    if (c.converts) {
      EXPECT_EQ(platform::Utf16OfCp1252(out), c.typed);
    }
  }
}

// The refusal names each character the code page lacks once, a surrogate pair as one.
TEST(Win32Text, CharactersOutsideTheCodePageAreListedOnceInOrder) {
  using List = std::vector<std::wstring>;
  const struct {
    const wchar_t* typed;
    List outside;
  } cases[] = {
      {L"\u0141\u00F3d\u017A\\\u0141\u00F3d\u017A", List{L"\u0141", L"\u017A"}},
      {L"\u00FCber\u20AC", List{}},
      {L"a\xD83D\xDE00"
       L"b\xD800",
       List{L"\xD83D\xDE00", L"\xD800"}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(platform::CharactersOutsideCp1252(c.typed), c.outside)
        << testing::PrintToString(c.typed);
}
