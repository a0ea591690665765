// The vendor's look applied to a whole stub: an empty look copies it byte for byte; an icon,
// version information and a level change exactly those resources; a bad icon or version fails
// before any byte is made. Run on a small program with our stubs' resources.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "archive/byte_source.h"
#include "archive/pe_image.h"
#include "archive/stub_look.h"
#include "archive/version_info.h"
#include "builder/stub_resources.h"
#include "icon_builder.h"
#include "pe_test_image.h"
#include "stub_manifest_bytes.h"

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

// The resources other than icons, version and manifest, as type/name/language:data.
std::vector<std::string> Untouched(const std::vector<pe::Resource>& all) {
  std::vector<std::string> rest;
  for (const pe::Resource& r : all) {
    const uint16_t t = r.type.number;
    if (t != pe::kTypeIcon && t != pe::kTypeGroupIcon && t != pe::kTypeVersion &&
        t != pe::kTypeManifest)
      rest.push_back(std::to_string(t) + "/" + std::to_string(r.name.number) + "/" +
                     std::to_string(r.language) + ":" + std::string(r.data.begin(), r.data.end()));
  }
  return rest;
}

Bytes IconFile() {
  return icontest::Ico(
      {icontest::DibEntry(16, 4), icontest::DibEntry(32, 32), icontest::PngEntry(256)});
}

// A program with the resources of our stubs: a group 1 of four icons, the manifest, the mark.
Bytes SmallStub() {
  std::vector<pe::Resource> resources = {
      testutil::TextResource(pe::kTypeRcData, 200, "Tambrix-Entpackmethode:bzip2;"),
      testutil::TextResource(
          pe::kTypeManifest, 1,
          std::string(std::begin(kStubManifestBytes), std::end(kStubManifestBytes)))};
  std::vector<IconImage> images;
  EXPECT_TRUE(ParseIconFile(icontest::Ico({icontest::DibEntry(48, 8), icontest::DibEntry(16, 1),
                                           icontest::DibEntry(24, 4), icontest::DibEntry(8, 32)}),
                            images, nullptr));
  ReplaceIcon(resources, images);
  return testutil::TinyProgramWith(resources);
}

StubLook FullLook() {
  StubLook look;
  look.iconFile = "C:\\Hersteller\\produkt.ico";
  look.version = {"Produkt", "2.1", "2.1.0.7", "M\xFCller & S\xF6hne GmbH", "", "\xA9 2026"};
  look.level = ExecutionLevel::RequireAdministrator;
  return look;
}

// Checks that customized is stub with FullLook() applied and nothing else changed.
void ExpectLookApplied(const Bytes& stub, const Bytes& customized) {
  const std::vector<pe::Resource> before = Resources(stub), after = Resources(customized);
  EXPECT_EQ(Untouched(after), Untouched(before));
  std::vector<IconImage> images;
  std::string why;
  ASSERT_TRUE(ParseIconFile(IconFile(), images, &why)) << why;
  const pe::Resource* group = pe::FindResource(after, pe::kTypeGroupIcon, 1);
  ASSERT_TRUE(group && group->data.size() == 6 + 14 * images.size());
  EXPECT_EQ(std::count_if(after.begin(), after.end(),
                          [](const pe::Resource& r) { return r.type.number == pe::kTypeIcon; }),
            long(images.size()));
  for (size_t i = 0; i < images.size(); ++i) {
    const pe::Resource* icon = pe::FindResource(after, pe::kTypeIcon, uint16_t(i + 1));
    ASSERT_NE(icon, nullptr) << i;
    EXPECT_EQ(icon->data, images[i].data) << i;
    EXPECT_EQ(group->data[6 + 14 * i + 12], i + 1);
  }
  const pe::Resource* version = pe::FindResource(after, pe::kTypeVersion, 1);
  version_info::VersionInfo info;
  ASSERT_TRUE(version && version->language == pe::kLangGerman);
  ASSERT_TRUE(
      version_info::ParseVersionInfo(version->data.data(), version->data.size(), info, &why))
      << why;
  EXPECT_EQ(version_info::VersionNumberText(info.fileVersion), "2.1.0.7");
  EXPECT_EQ(info.strings.size(), 5u);
  const pe::Resource* oldManifest = pe::FindResource(before, pe::kTypeManifest, 1);
  const pe::Resource* manifest = pe::FindResource(after, pe::kTypeManifest, 1);
  ASSERT_TRUE(manifest && oldManifest);
  std::string expected(oldManifest->data.begin(), oldManifest->data.end());
  ASSERT_TRUE(SetExecutionLevel(expected, ExecutionLevel::RequireAdministrator, &why));
  EXPECT_EQ(std::string(manifest->data.begin(), manifest->data.end()), expected);
}

TEST(CustomizeStub, AnEmptyLookCopiesAndAFullOneChangesOnlyItsResources) {
  const Bytes stub = SmallStub();
  Bytes out = {1}, again;
  std::string why;
  ASSERT_TRUE(CustomizeStub(stub, "", StubLook(), {}, out, &why)) << why;
  EXPECT_EQ(out, stub);
  ASSERT_TRUE(CustomizeStub(stub, "", FullLook(), IconFile(), out, &why)) << why;
  ExpectLookApplied(stub, out);
  ASSERT_TRUE(CustomizeStub(stub, "", FullLook(), IconFile(), again, &why)) << why;
  EXPECT_EQ(again, out) << "the same look gives the same bytes";
  // What tambrixc list shows of it.
  MemoryByteSource source(out.data(), out.size());
  StubLookInfo look;
  ASSERT_TRUE(ReadStubLook(source, look));
  EXPECT_EQ(look.icon, StubLookInfo::Icon::Replaced);
  EXPECT_TRUE(look.hasVersion);
  EXPECT_EQ(look.level, "requireAdministrator");
}

TEST(CustomizeStub, ABadIconOrVersionFailsNamingItAndMakesNothing) {
  StubLook look = FullLook();
  Bytes out = {7}, cursor = IconFile();
  cursor[2] = 2;
  std::string why;
  EXPECT_FALSE(CustomizeStub(SmallStub(), "", look, cursor, out, &why));
  EXPECT_NE(why.find("Die Symboldatei C:\\Hersteller\\produkt.ico ist nicht verwendbar. Die Datei "
                     "ist ein Mauszeiger"),
            std::string::npos)
      << why;
  look.version.fileVersion = "2.x";
  EXPECT_FALSE(CustomizeStub(SmallStub(), "", look, IconFile(), out, &why));
  EXPECT_NE(why.find("\"2.x\""), std::string::npos) << why;
  EXPECT_EQ(out, Bytes{7});
}

}  // namespace
