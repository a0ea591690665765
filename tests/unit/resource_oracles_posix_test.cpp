// Our icon reading and version information against the tools of other makers: icotool lists an
// .ico file with the sizes ParseIconFile reports, and windres compiles the same version
// information to the same bytes MakeVersionInfo writes.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "builder/stub_resources.h"
#include "icon_builder.h"
#include "support/tus_strings.h"
#include "test_util.h"

namespace {

// The output of a shell command; false when it could not run or did not exit with 0.
bool RunCommand(const std::string& command, std::string& output) {
  output.clear();
  std::FILE* p = popen(command.c_str(), "r");
  if (!p) return false;
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, p)) > 0;) output.append(buffer, n);
  return pclose(p) == 0;
}

bool HaveTool(const std::string& name) {
  std::string out;
  return RunCommand("command -v " + name + " >/dev/null 2>&1", out);
}

TEST(IconOracle, IcotoolListsTheSizesTheParserReports) {
  if (!HaveTool("icotool")) GTEST_SKIP() << "icotool (icoutils) is not installed";
  using icontest::DibEntry;
  icontest::Entry noFields = DibEntry(32, 8), png = icontest::PngEntry(256);
  noFields.planes = noFields.bits = 0;
  png.planes = png.bits = 0;
  const std::vector<std::vector<icontest::Entry>> files = {
      {DibEntry(16, 4), noFields, DibEntry(48, 32), png},
      {DibEntry(256, 1), DibEntry(24, 24)},
  };
  testutil::TempDir dir;
  for (size_t f = 0; f < files.size(); ++f) {
    const std::vector<uint8_t> bytes = icontest::Ico(files[f]);
    const std::string path = dir.Join("t" + std::to_string(f) + ".ico");
    ASSERT_TRUE(testutil::WriteFile(path, std::string(bytes.begin(), bytes.end())));
    std::vector<IconImage> images;
    std::string why, listing;
    ASSERT_TRUE(ParseIconFile(bytes, images, &why)) << why;
    ASSERT_TRUE(RunCommand("icotool -l '" + path + "'", listing)) << listing;
    // icotool gives 2^bits colours from 8 bits on; the group's colour count is 0 there.
    std::string expected;
    for (size_t i = 0; i < images.size(); ++i) {
      const IconImage& m = images[i];
      const int colors = m.bitCount == 8 ? 256 : m.colorCount;
      expected += "--icon --index=" + std::to_string(i + 1) +
                  " --width=" + std::to_string(m.width ? m.width : 256) +
                  " --height=" + std::to_string(m.height ? m.height : 256) +
                  " --bit-depth=" + std::to_string(m.bitCount) +
                  " --palette-size=" + std::to_string(colors) + "\n";
    }
    EXPECT_EQ(listing, expected) << "file " << f;
  }
}

// The data of the second resource of a .res file (the first is the empty one windres writes).
std::vector<uint8_t> SecondResource(const std::string& res) {
  const auto* p = reinterpret_cast<const uint8_t*>(res.data());
  if (res.size() < 40) return {};
  const size_t first = GetU32(p + 4) + ((GetU32(p) + 3) & ~3u);
  if (first + 8 > res.size()) return {};
  const size_t size = GetU32(p + first), header = GetU32(p + first + 4);
  if (first + header + size > res.size()) return {};
  return std::vector<uint8_t>(p + first + header, p + first + header + size);
}

TEST(VersionOracle, WindresCompilesTheSameVersionInformation) {
  const char* windres = "x86_64-w64-mingw32-windres";
  if (!HaveTool(windres)) GTEST_SKIP() << windres << " (binutils-mingw-w64) is not installed";
  VersionTexts t;
  t.company = "M\xFCller & S\xF6hne GmbH";
  t.description =
      "Installationsprogramm f\xFCr \x80 und \x93Gr\xF6\xDF"
      "e\x94";
  t.fileVersion = "1.2.3.4";
  t.copyright = "\xA9 2026";
  t.productName = "Produkt";
  t.productVersion = "5.6";
  std::vector<uint8_t> ours;
  std::string why;
  ASSERT_TRUE(MakeVersionInfo(t, ours, &why)) << why;

  std::string rc =
      "#pragma code_page(1252)\nLANGUAGE 0x07, 0x01\n1 VERSIONINFO\nFILEVERSION 1,2,3,4\n"
      "PRODUCTVERSION 5,6,0,0\nFILEFLAGSMASK 0x3F\nFILEFLAGS 0\nFILEOS 0x40004\nFILETYPE 1\n"
      "FILESUBTYPE 0\nBEGIN\n BLOCK \"StringFileInfo\"\n BEGIN\n  BLOCK \"040704B0\"\n  BEGIN\n";
  for (const auto& [key, text] : {std::pair{"CompanyName", t.company},
                                  {"FileDescription", t.description},
                                  {"FileVersion", t.fileVersion},
                                  {"LegalCopyright", t.copyright},
                                  {"ProductName", t.productName},
                                  {"ProductVersion", t.productVersion}})
    rc += std::string("   VALUE \"") + key + "\", \"" + text + "\"\n";
  rc +=
      "  END\n END\n BLOCK \"VarFileInfo\"\n BEGIN\n  VALUE \"Translation\", 0x0407, 1200\n"
      " END\nEND\n";
  testutil::TempDir dir;
  ASSERT_TRUE(testutil::WriteFile(dir.Join("v.rc"), rc));
  std::string output;
  ASSERT_TRUE(RunCommand(
      std::string(windres) + " -O res '" + dir.Join("v.rc") + "' '" + dir.Join("v.res") + "' 2>&1",
      output))
      << output;
  EXPECT_EQ(ours, SecondResource(testutil::ReadFile(dir.Join("v.res"))));
}

}  // namespace
