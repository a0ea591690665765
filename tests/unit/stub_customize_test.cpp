// The vendor's look applied to a whole stub: an empty look copies it byte for byte; an icon,
// version information and a level change exactly those resources; a bad icon fails before any
// byte is made. Run on a small program with our stubs' resources and, natively, on the built
// stubs.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "archive/byte_source.h"
#include "archive/pe_image.h"
#include "archive/version_info.h"
#include "builder/stub_resources.h"
#include "icon_builder.h"
#include "pe_test_image.h"
#include "stub_manifest_bytes.h"
#include "support/tus_strings.h"
#include "test_util.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::vector<pe::Resource> Resources(const Bytes& program) {
  MemoryByteSource source(program.data(), program.size());
  pe::Image image;
  std::vector<pe::Resource> resources;
  std::string why;
  EXPECT_TRUE(pe::ReadImage(source, image));
  EXPECT_TRUE(pe::ReadResources(source, image, resources, &why)) << why;
  return resources;
}

// A resource for comparisons: type/name/language and its data.
std::string Describe(const pe::Resource& r) {
  return std::to_string(r.type.number) + "/" + std::to_string(r.name.number) + "/" +
         std::to_string(r.language) + ":" + std::string(r.data.begin(), r.data.end());
}

// Every resource other than those of the given types.
std::vector<std::string> Others(const std::vector<pe::Resource>& all,
                                const std::vector<uint16_t>& types) {
  std::vector<std::string> rest;
  for (const pe::Resource& r : all)
    if (std::find(types.begin(), types.end(), r.type.number) == types.end())
      rest.push_back(Describe(r));
  return rest;
}

// A program with the resources of our stubs: three icons in group 1, the manifest, the mark.
Bytes SmallStub() {
  const std::string manifest(std::begin(kStubManifestBytes), std::end(kStubManifestBytes));
  std::vector<pe::Resource> resources = {
      testutil::TextResource(pe::kTypeIcon, 1, "old icon 1"),
      testutil::TextResource(pe::kTypeIcon, 2, "old icon 2"),
      testutil::TextResource(pe::kTypeIcon, 3, "old icon 3"),
      testutil::TextResource(pe::kTypeRcData, 200, "Tambrix-Entpackmethode:bzip2;"),
      testutil::TextResource(pe::kTypeManifest, 1, manifest),
  };
  Bytes group;
  icontest::Put16(group, 0), icontest::Put16(group, 1), icontest::Put16(group, 3);
  for (uint16_t id = 1; id <= 3; ++id) {
    group.insert(group.end(), {32, 32, 0, 0});
    icontest::Put16(group, 1), icontest::Put16(group, 32), icontest::Put32(group, 10);
    icontest::Put16(group, id);
  }
  pe::Resource g = testutil::TextResource(pe::kTypeGroupIcon, 1, "");
  g.data = group;
  resources.push_back(g);
  return testutil::TinyProgramWith(resources);
}

StubLook FullLook() {
  StubLook look;
  look.iconFile = "C:\\Hersteller\\produkt.ico";
  look.version.productName = "Produkt";
  look.version.productVersion = "2.1";
  look.version.fileVersion = "2.1.0.7";
  look.version.company = "M\xFCller & S\xF6hne GmbH";
  look.version.copyright = "\xA9 2026";
  look.level = ExecutionLevel::RequireAdministrator;
  return look;
}

// Checks that customized is stub with exactly the look's resources changed.
void ExpectLookApplied(const Bytes& stub, const Bytes& customized, const Bytes& iconFile) {
  const std::vector<pe::Resource> before = Resources(stub), after = Resources(customized);
  EXPECT_EQ(
      Others(after, {pe::kTypeIcon, pe::kTypeGroupIcon, pe::kTypeVersion, pe::kTypeManifest}),
      Others(before, {pe::kTypeIcon, pe::kTypeGroupIcon, pe::kTypeVersion, pe::kTypeManifest}));
  std::vector<IconImage> images;
  std::string why;
  ASSERT_TRUE(ParseIconFile(iconFile, images, &why)) << why;
  const pe::Resource* group = pe::FindResource(after, pe::kTypeGroupIcon, 1);
  ASSERT_NE(group, nullptr);
  ASSERT_EQ(group->data.size(), 6 + 14 * images.size());
  size_t icons = 0;
  for (const pe::Resource& r : after) icons += r.type.number == pe::kTypeIcon;
  EXPECT_EQ(icons, images.size());
  for (size_t i = 0; i < images.size(); ++i) {
    const pe::Resource* icon = pe::FindResource(after, pe::kTypeIcon, uint16_t(i + 1));
    ASSERT_NE(icon, nullptr) << i;
    EXPECT_EQ(icon->data, images[i].data) << i;
    EXPECT_EQ(GetU16(&group->data[6 + 14 * i + 12]), i + 1);
  }
  const pe::Resource* version = pe::FindResource(after, pe::kTypeVersion, 1);
  ASSERT_NE(version, nullptr);
  EXPECT_EQ(version->language, pe::kLangGerman);
  version_info::VersionInfo info;
  ASSERT_TRUE(
      version_info::ParseVersionInfo(version->data.data(), version->data.size(), info, &why))
      << why;
  EXPECT_EQ(version_info::VersionNumberText(info.fileVersion), "2.1.0.7");
  EXPECT_EQ(info.strings.at(0),
            (std::pair<std::string, std::string>("CompanyName", "M\xFCller & S\xF6hne GmbH")));
  const pe::Resource* oldManifest = pe::FindResource(before, pe::kTypeManifest, 1);
  const pe::Resource* manifest = pe::FindResource(after, pe::kTypeManifest, 1);
  ASSERT_NE(manifest, nullptr);
  ASSERT_NE(oldManifest, nullptr);
  std::string expected(oldManifest->data.begin(), oldManifest->data.end());
  ASSERT_TRUE(SetExecutionLevel(expected, ExecutionLevel::RequireAdministrator, &why));
  EXPECT_EQ(std::string(manifest->data.begin(), manifest->data.end()), expected);
  EXPECT_NE(expected.find("level=\"requireAdministrator\""), std::string::npos);
}

Bytes IconFile() {
  return icontest::Ico(
      {icontest::DibEntry(16, 4), icontest::DibEntry(32, 32), icontest::PngEntry(256)});
}

TEST(CustomizeStub, AnEmptyLookCopiesTheStubByteForByte) {
  const Bytes stub = SmallStub();
  Bytes out = {1};
  std::string why;
  ASSERT_TRUE(CustomizeStub(stub, StubLook(), {}, out, &why)) << why;
  EXPECT_EQ(out, stub);
}

TEST(CustomizeStub, IconVersionAndLevelChangeOnlyTheirResources) {
  const Bytes stub = SmallStub();
  Bytes out;
  std::string why;
  ASSERT_TRUE(CustomizeStub(stub, FullLook(), IconFile(), out, &why)) << why;
  ExpectLookApplied(stub, out, IconFile());
  Bytes again;
  ASSERT_TRUE(CustomizeStub(stub, FullLook(), IconFile(), again, &why)) << why;
  EXPECT_EQ(again, out) << "the same look gives the same bytes";
}

TEST(CustomizeStub, EachPartAloneLeavesTheOthers) {
  const Bytes stub = SmallStub();
  const std::vector<pe::Resource> before = Resources(stub);
  const struct {
    const char* what;
    void (*set)(StubLook&);
    std::vector<uint16_t> changed;
  } cases[] = {
      {"icon", [](StubLook& l) { l.iconFile = "a.ico"; }, {pe::kTypeIcon, pe::kTypeGroupIcon}},
      {"version", [](StubLook& l) { l.version.description = "D"; }, {pe::kTypeVersion}},
      {"level",
       [](StubLook& l) { l.level = ExecutionLevel::HighestAvailable; },
       {pe::kTypeManifest}},
  };
  for (const auto& c : cases) {
    StubLook look;
    c.set(look);
    Bytes out;
    std::string why;
    ASSERT_TRUE(CustomizeStub(stub, look, IconFile(), out, &why)) << c.what << ": " << why;
    const std::vector<pe::Resource> after = Resources(out);
    EXPECT_EQ(Others(after, c.changed), Others(before, c.changed)) << c.what;
    EXPECT_NE(Others(after, {}), Others(before, {})) << c.what;
  }
}

TEST(CustomizeStub, ABadIconOrVersionFailsNamingItAndMakesNothing) {
  const Bytes stub = SmallStub();
  StubLook look = FullLook();
  Bytes out = {7}, cursor = IconFile();
  cursor[2] = 2;
  std::string why;
  EXPECT_FALSE(CustomizeStub(stub, look, cursor, out, &why));
  EXPECT_NE(why.find("C:\\Hersteller\\produkt.ico"), std::string::npos) << why;
  EXPECT_NE(why.find("Mauszeiger"), std::string::npos) << why;
  EXPECT_EQ(out, Bytes{7});
  look.version.fileVersion = "2.x";
  EXPECT_FALSE(CustomizeStub(stub, look, IconFile(), out, &why));
  EXPECT_NE(why.find("\"2.x\""), std::string::npos) << why;
  EXPECT_EQ(out, Bytes{7});
}

TEST(CustomizeStub, AStubWithAppendedDataIsRefused) {
  Bytes stub = SmallStub();
  stub.push_back(0);
  Bytes out = {7};
  std::string why;
  EXPECT_FALSE(CustomizeStub(stub, FullLook(), IconFile(), out, &why));
  EXPECT_FALSE(why.empty());
  EXPECT_EQ(out, Bytes{7});
}

// The stubs the Windows presets built, when they were.
class BuiltStub : public ::testing::TestWithParam<const char*> {};

TEST_P(BuiltStub, TakesTheLookAndKeepsItsMethodMark) {
#ifndef TAMBRIX_BUILD_ROOT
  GTEST_SKIP() << "the built stubs are looked at by the native tests only";
#else
  const std::string path = std::string(TAMBRIX_BUILD_ROOT) + "/" + GetParam();
  std::ifstream in(path, std::ios::binary);
  if (!in) GTEST_SKIP() << path << " is not built (build its preset to test it)";
  const Bytes stub((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  Bytes out;
  std::string why;
  ASSERT_TRUE(CustomizeStub(stub, FullLook(), IconFile(), out, &why)) << why;
  ExpectLookApplied(stub, out, IconFile());
  ASSERT_TRUE(CustomizeStub(stub, StubLook(), {}, out, &why)) << why;
  EXPECT_EQ(out, stub);
#endif
}

INSTANTIATE_TEST_SUITE_P(Stubs, BuiltStub,
                         ::testing::Values("win64/stub/tambrix.res1", "win64/stub/tambrix.res2",
                                           "win32/stub/tambrix.res1", "win32/stub/tambrix.res2"));

}  // namespace
