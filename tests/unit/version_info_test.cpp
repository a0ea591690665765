// The version information: the version numbers a.b.c.d, the resource the builder writes (its exact
// layout once, by hand), reading it back, and reading damaged resources without reading outside
// them.
#include "archive/version_info.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "builder/stub_resources.h"
#include "support/tus_strings.h"

namespace {

using version_info::VersionNumber;

TEST(VersionNumber, OneToFourPartsOfSixteenBitsAreTakenAndNothingElse) {
  const std::pair<const char*, VersionNumber> good[] = {{"0", {{0, 0, 0, 0}}},
                                                        {"1.2.3", {{1, 2, 3, 0}}},
                                                        {"65535.0.7.65535", {{65535, 0, 7, 65535}}},
                                                        {"007.08", {{7, 8, 0, 0}}}};
  for (const auto& [text, expected] : good) {
    VersionNumber v;
    EXPECT_TRUE(version_info::ParseVersionNumber(text, v, nullptr)) << text;
    EXPECT_EQ(v, expected) << text;
  }
  EXPECT_EQ(version_info::VersionNumberText({{1, 0, 65535, 4}}), "1.0.65535.4");
  for (const char* text : {"1.2.3.4.5", "1.x", "70000", "", "1..2", "65536", ".1", "1.", "+1", " 1",
                           "1,2", "99999999999999999999"}) {
    VersionNumber v{{9, 9, 9, 9}};
    std::string why;
    EXPECT_FALSE(version_info::ParseVersionNumber(text, v, &why)) << text;
    EXPECT_NE(why.find(std::string("\"") + text + "\""), std::string::npos) << why;
    EXPECT_EQ(v, (VersionNumber{{9, 9, 9, 9}})) << text;
  }
}

TEST(VersionInfo, BuilderRefusesBadVersionsAndTextsNamingThem) {
  const struct {
    const char* what;
    VersionTexts texts;
    std::string reason;
  } cases[] = {
      {"file version",
       {"P", "1.2", "1.x", "", "", ""},
       "Dateiversion ist ung\xFCltig. Die Versionsnummer \"1.x\""},
      {"product version", {"P", "70000", "1.2", "", "", ""}, "Produktversion ist ung\xFCltig. "},
      {"a NUL in a text", {"P", "", "", std::string("A\0B", 3), "", ""}, "CompanyName"},
      {"more than 64 KB", {std::string(40000, 'x'), "", "", "", "", ""}, "64 KB"},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> data = {7};
    std::string why;
    EXPECT_FALSE(MakeVersionInfo(c.texts, data, &why)) << c.what;
    EXPECT_NE(why.find(c.reason), std::string::npos) << c.what << ": " << why;
    EXPECT_EQ(data, std::vector<uint8_t>{7}) << c.what;
  }
}

// The ASCII text of the zero-terminated UTF-16 at offset at.
std::string Text16(const std::vector<uint8_t>& d, size_t at) {
  std::string text;
  for (; at + 2 <= d.size() && GetU16(&d[at]); at += 2) text += char(GetU16(&d[at]));
  return text;
}

// Checks wLength, wValueLength, wType and the key of the block at offset at.
void ExpectBlock(const std::vector<uint8_t>& d, size_t at, int length, int valueLength, int type,
                 const std::string& key) {
  ASSERT_LE(at + 6, d.size()) << key;
  EXPECT_EQ((std::vector<int>{GetU16(&d[at]), GetU16(&d[at + 2]), GetU16(&d[at + 4])}),
            (std::vector<int>{length, valueLength, type}))
      << key;
  EXPECT_EQ(Text16(d, at + 6), key);
}

TEST(VersionInfo, LayoutOfASmallExampleMatchesTheHandComputedOne) {
  VersionTexts texts;
  texts.productName = "AB";
  texts.fileVersion = "1.2";
  std::vector<uint8_t> d;
  std::string why;
  ASSERT_TRUE(MakeVersionInfo(texts, d, &why)) << why;
  // Root 0..300: header and key (38) padded to 40, fixed info 40..92. StringFileInfo 92..230,
  // its table 128..230, FileVersion 152..192 (value at 184), ProductName 192..230 (value at
  // 224, ending off the 4-byte grid), padding, VarFileInfo 232..300 with Translation 264..300
  // (value at 296).
  ASSERT_EQ(d.size(), 300u);
  ExpectBlock(d, 0, 300, 52, 0, "VS_VERSION_INFO");
  const uint32_t fixed[13] = {0xFEEF04BD, 0x00010000, 0x00010002, 0, 0, 0, 0x3F,
                              0,          0x00040004, 1,          0, 0, 0};
  for (int i = 0; i < 13; ++i) EXPECT_EQ(GetU32(&d[40 + 4 * i]), fixed[i]) << "field " << i;
  ExpectBlock(d, 92, 138, 0, 1, "StringFileInfo");
  ExpectBlock(d, 128, 102, 0, 1, "040704B0");
  ExpectBlock(d, 152, 40, 4, 1, "FileVersion");
  EXPECT_EQ(Text16(d, 184), "1.2");
  ExpectBlock(d, 192, 38, 3, 1, "ProductName");
  EXPECT_EQ(Text16(d, 224), "AB");
  EXPECT_EQ(GetU32(&d[228]), 0u);  // the value's zero and the padding behind it
  ExpectBlock(d, 232, 68, 0, 1, "VarFileInfo");
  ExpectBlock(d, 264, 36, 4, 0, "Translation");
  EXPECT_EQ(GetU32(&d[296]), 0x04B00407u);
}

VersionTexts FullTexts() {
  VersionTexts t;
  t.productName =
      "Installationsprogramm f\xFCr Gr\xF6\xDF"
      "en \x80";
  t.productVersion = "5.6";
  t.fileVersion = "1.2.3.4";
  t.company = "M\xFCller & S\xF6hne GmbH";
  t.description = "";  // left out
  t.copyright =
      "\xA9 2026 M\xFCller & S\xF6hne \x93Gr\xFC\xDF"
      "e\x94";
  return t;
}

TEST(VersionInfo, TextsAndVersionsRoundTripInCodePage1252) {
  std::vector<uint8_t> d;
  std::string why;
  ASSERT_TRUE(MakeVersionInfo(FullTexts(), d, &why)) << why;
  version_info::VersionInfo info;
  ASSERT_TRUE(version_info::ParseVersionInfo(d.data(), d.size(), info, &why)) << why;
  EXPECT_EQ(info.table, "040704B0");
  EXPECT_EQ(info.fileVersion, (VersionNumber{{1, 2, 3, 4}}));
  EXPECT_EQ(info.productVersion, (VersionNumber{{5, 6, 0, 0}}));
  const VersionTexts t = FullTexts();
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"CompanyName", t.company},           {"FileVersion", t.fileVersion},
      {"LegalCopyright", t.copyright},      {"ProductName", t.productName},
      {"ProductVersion", t.productVersion},
  };
  EXPECT_EQ(info.strings, expected);
  // Texts alone give versions of 0.
  ASSERT_TRUE(MakeVersionInfo({"Produkt", "", "", "", "", ""}, d, &why)) << why;
  ASSERT_TRUE(version_info::ParseVersionInfo(d.data(), d.size(), info, &why)) << why;
  EXPECT_EQ(info.fileVersion, VersionNumber{});
  EXPECT_EQ(info.productVersion, VersionNumber{});
  EXPECT_EQ(info.strings, (decltype(info.strings){{"ProductName", "Produkt"}}));
}

TEST(VersionInfo, DamagedResourcesAreRefusedNamingTheDamage) {
  std::vector<uint8_t> good;
  std::string why;
  ASSERT_TRUE(MakeVersionInfo(FullTexts(), good, &why)) << why;
  // Every cut is refused: the root's length then points past the end.
  for (size_t size = 0; size < good.size(); ++size) {
    std::vector<uint8_t> cut(good.begin(), good.begin() + size);  // exactly sized for ASan
    version_info::VersionInfo info;
    EXPECT_FALSE(version_info::ParseVersionInfo(cut.data(), cut.size(), info, &why)) << size;
    EXPECT_EQ(why.rfind("Die Versionsinformation ist besch\xE4"
                        "digt: ",
                        0),
              0u)
        << why;
  }
  const struct {
    const char* what;
    size_t offset;
    uint8_t value;
    const char* reason;
  } named[] = {
      {"root key", 6, 'W', "VS_VERSION_INFO"},
      {"fixed signature", 40, 0xBE, "FEEF04BD"},
      {"fixed info length", 2, 51, "FEEF04BD"},
      {"child length", 93, 0xFF, "passt nicht in seinen Platz"},
  };
  for (const auto& c : named) {
    std::vector<uint8_t> bad = good;
    bad[c.offset] = c.value;
    version_info::VersionInfo info;
    EXPECT_FALSE(version_info::ParseVersionInfo(bad.data(), bad.size(), info, &why)) << c.what;
    EXPECT_NE(why.find(c.reason), std::string::npos) << c.what << ": " << why;
  }
}

}  // namespace
