// The Win32 platform layer against the system's own functions (under Wine in our test runs).
#include <gtest/gtest.h>
#include <windows.h>

#include <cctype>
#include <map>

#include "platform/platform.h"
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

TEST(Win32Listing, NamesTheCodePageCannotWriteAreMarked) {
  TempDir dir;
  ASSERT_TRUE(WriteFile(dir.Join("\xC4rger.txt"), "x"));  // A-umlaut: in the code page
  // Two CJK characters exist only as UTF-16 names.
  int n = MultiByteToWideChar(CP_ACP, 0, dir.path().c_str(), -1, nullptr, 0);
  std::wstring folder(n, L'\0');
  MultiByteToWideChar(CP_ACP, 0, dir.path().c_str(), -1, &folder[0], n);
  folder.resize(n - 1);
  HANDLE h = CreateFileW((folder + L"\\\u65E5\u672C.txt").c_str(), GENERIC_WRITE, 0, nullptr,
                         CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);
  std::vector<DirEntry> entries;
  ASSERT_TRUE(Os().ListDirectory(dir.path(), "*.*", entries));
  ASSERT_EQ(entries.size(), 2u);
  for (const DirEntry& e : entries) {
    EXPECT_EQ(e.foreignName, e.name != "\xC4rger.txt") << e.name;
  }
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
}

TEST(Win32System, ProfileFilesAreReadFromTheirFullPath) {
  TempDir tmp;
  const std::string ini = tmp.Join("full.ini");
  ASSERT_TRUE(WriteFile(ini, "[S]\r\nk=v\r\n"));
  EXPECT_EQ(Os().ProfileString("S", "k", "d", ini), "v");
  EXPECT_EQ(Os().ProfileInt("S", "n", 5, ini), 5);
}
