// Our reading of .ico files against another maker's: icotool lists the icons our test writes with
// the sizes and bit counts ParseIconFile reports.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "builder/stub_resources.h"
#include "icon_builder.h"
#include "test_util.h"

namespace {

TEST(IconOracle, IcotoolListsTheSizesTheParserReports) {
  if (std::system("command -v icotool >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "icotool (icoutils) is not installed";
  using icontest::DibEntry;
  icontest::Entry noFields = DibEntry(32, 8);
  noFields.planes = noFields.bits = 0;
  testutil::TempDir dir;
  for (const auto& entries :
       {std::vector<icontest::Entry>{DibEntry(16, 4), noFields, DibEntry(48, 32)},
        std::vector<icontest::Entry>{DibEntry(256, 1), DibEntry(24, 24)}}) {
    const std::vector<uint8_t> bytes = icontest::Ico(entries);
    std::vector<IconImage> images;
    std::string why, expected, listing;
    ASSERT_TRUE(ParseIconFile(bytes, images, &why)) << why;
    for (size_t i = 0; i < images.size(); ++i) {
      const IconImage& m = images[i];  // icotool counts 256 colours for 8 bits, the group 0
      expected += "--icon --index=" + std::to_string(i + 1) +
                  " --width=" + std::to_string(m.width ? m.width : 256) +
                  " --height=" + std::to_string(m.height ? m.height : 256) +
                  " --bit-depth=" + std::to_string(m.bitCount) +
                  " --palette-size=" + std::to_string(m.bitCount == 8 ? 256 : m.colorCount) + "\n";
    }
    ASSERT_TRUE(testutil::WriteFile(dir.Join("t.ico"), std::string(bytes.begin(), bytes.end())));
    std::FILE* p = popen(("icotool -l '" + dir.Join("t.ico") + "'").c_str(), "r");
    ASSERT_NE(p, nullptr);
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, p)) > 0;) listing.append(buffer, n);
    EXPECT_EQ(pclose(p), 0);
    EXPECT_EQ(listing, expected);
  }
}

}  // namespace
