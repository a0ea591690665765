// The vendor's look: which .ico files are taken and which refused, how the icon group of a stub is
// replaced, the elevation level in the stub's manifest and when a look asks for nothing.
#include "builder/stub_resources.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "icon_builder.h"
#include "stub_manifest_bytes.h"
#include "support/tus_strings.h"
#include "test_util.h"

namespace {

using icontest::DibEntry;
using icontest::Entry;
using icontest::Ico;
using icontest::PngEntry;

struct GoodIcon {
  const char* what;
  std::vector<uint8_t> file;
  // Expected group fields per image: width, height, colour count, planes, bit count.
  std::vector<std::vector<int>> fields;
};

TEST(IconFile, UsableIconsGiveTheirImagesWithFieldsFromTheImages) {
  Entry noPlanes = DibEntry(32, 8);
  noPlanes.planes = 0, noPlanes.bits = 0;
  Entry pngNoBits = PngEntry(256);
  pngNoBits.planes = 0, pngNoBits.bits = 0;
  Entry lyingWidth = DibEntry(32, 32);
  lyingWidth.width = 64, lyingWidth.bits = 8;
  Entry palettePng{16, 16, 0, 0, 0, icontest::Png(16, 16, 4, 3)};
  Entry greyAlphaPng{48, 48, 0, 0, 0, icontest::Png(48, 48, 16, 4)};
  const std::vector<GoodIcon> cases = {
      {"three BMP images 16/32/48 px",
       Ico({DibEntry(16, 4), DibEntry(32, 32), DibEntry(48, 32)}),
       {{16, 16, 16, 1, 4}, {32, 32, 0, 1, 32}, {48, 48, 0, 1, 32}}},
      {"planes and bit count 0 in the directory", Ico({noPlanes}), {{32, 32, 0, 1, 8}}},
      {"256 px PNG with 0 in the directory", Ico({PngEntry(256)}), {{0, 0, 0, 1, 32}}},
      {"256 px PNG, bit count 0 in the directory", Ico({pngNoBits}), {{0, 0, 0, 1, 32}}},
      {"directory lies about width and bit count", Ico({lyingWidth}), {{32, 32, 0, 1, 32}}},
      {"palette PNG of 4 bits", Ico({palettePng}), {{16, 16, 16, 1, 4}}},
      {"grey and alpha PNG of 16 bits", Ico({greyAlphaPng}), {{48, 48, 0, 1, 32}}},
      {"BMP 256 px", Ico({DibEntry(256, 1)}), {{0, 0, 2, 1, 1}}},
  };
  for (const GoodIcon& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<IconImage> images;
    std::string why;
    ASSERT_TRUE(ParseIconFile(c.file, images, &why)) << why;
    ASSERT_EQ(images.size(), c.fields.size());
    for (size_t i = 0; i < images.size(); ++i) {
      const IconImage& m = images[i];
      EXPECT_EQ((std::vector<int>{m.width, m.height, m.colorCount, m.planes, m.bitCount}),
                c.fields[i])
          << "image " << i;
      // The image's bytes as the file holds them, at the place its directory entry names.
      const uint32_t offset = GetU32(&c.file[6 + 16 * i + 12]);
      ASSERT_LE(offset + m.data.size(), c.file.size());
      EXPECT_TRUE(std::equal(m.data.begin(), m.data.end(), c.file.begin() + offset));
      EXPECT_EQ(m.data.size(), GetU32(&c.file[6 + 16 * i + 8]));
    }
  }
}

struct BadIcon {
  const char* what;
  std::vector<uint8_t> file;
  const char* reason;  // a part of the message
};

std::vector<BadIcon> BadIcons() {
  std::vector<BadIcon> cases;
  cases.push_back({"cursor", Ico({DibEntry(32, 32)}, 2), "Mauszeiger"});
  cases.push_back({"another type", Ico({DibEntry(32, 32)}, 3), "keine Symboldatei"});
  cases.push_back({"no images", Ico({}), "keine Bilder"});
  cases.push_back({"truncated header", {0, 0, 1, 0}, "zu kurz"});
  std::vector<uint8_t> cutDirectory = Ico({DibEntry(16, 4), DibEntry(32, 32)});
  cutDirectory.resize(6 + 16 + 8);
  cases.push_back({"truncated directory", cutDirectory, "im Verzeichnis ihrer 2 Bilder"});
  std::vector<uint8_t> pastEnd = Ico({DibEntry(16, 4)});
  pastEnd.pop_back();
  cases.push_back({"image past the end", pastEnd, "Dateiende"});
  Entry overflow = DibEntry(16, 4);
  overflow.offset = 0xFFFFFF00u, overflow.size = 0x200;
  cases.push_back({"offset + size overflow", Ico({overflow}), "mehr als 4 GB"});
  Entry insideDirectory = DibEntry(16, 4);
  insideDirectory.offset = 2;
  cases.push_back({"image inside the directory", Ico({insideDirectory}), "im Verzeichnis der"});
  Entry empty = DibEntry(16, 4);
  empty.data.clear();
  cases.push_back({"empty image", Ico({empty}), "leer"});
  cases.push_back({"PNG of 257 px", Ico({PngEntry(257)}), "257 x 257"});
  cases.push_back({"PNG of 512 x 16 px", Ico({Entry{0, 16, 0, 1, 32, icontest::Png(512, 16)}}),
                   "h\xF6"
                   "chstens 256 x 256"});
  cases.push_back({"PNG of bad bit depth",
                   Ico({Entry{16, 16, 0, 1, 32, icontest::Png(16, 16, 3, 6)}}), "Farbtiefe 3"});
  std::vector<uint8_t> cutPng = icontest::Png(16, 16);
  cutPng.resize(20);
  cases.push_back({"cut PNG header", Ico({Entry{16, 16, 0, 1, 32, cutPng}}), "IHDR"});
  Entry coreHeader = DibEntry(16, 4);
  coreHeader.data[0] = 12;
  cases.push_back({"DIB header of 12 bytes", Ico({coreHeader}), "hier 12"});
  Entry shortPixels = DibEntry(32, 32);
  shortPixels.data.resize(40 + 32 * 32 * 4);  // the AND mask is missing
  cases.push_back({"pixels past the image", Ico({shortPixels}), "braucht 4264 Bytes"});
  Entry oddHeight = DibEntry(16, 4);
  oddHeight.data = icontest::Dib(16, 16, 4, 33);
  cases.push_back({"odd DIB height", Ico({oddHeight}), "16 x 33"});
  Entry tooWide = DibEntry(16, 4);
  tooWide.data = icontest::Dib(300, 16, 1);
  cases.push_back({"DIB of 300 px", Ico({tooWide}), "300 x 32"});
  Entry badBits = DibEntry(16, 4);
  badBits.data[14] = 7;
  cases.push_back({"DIB of 7 bits", Ico({badBits}), "7 Bit"});
  Entry marked = DibEntry(32, 32);
  const std::string mark = "Tambrix-Entpackmethode:gzip;";
  std::copy(mark.begin(), mark.end(), marked.data.begin() + 100);
  cases.push_back(
      {"method mark in the pixels", Ico({DibEntry(16, 4), marked}), "Tambrix-Entpackmethode:"});
  return cases;
}

TEST(IconFile, UnusableFilesAreRefusedNamingTheReasonAndLeaveTheImages) {
  for (const BadIcon& c : BadIcons()) {
    SCOPED_TRACE(c.what);
    std::vector<IconImage> images(1);
    images[0].data = {1, 2, 3};
    std::string why;
    EXPECT_FALSE(ParseIconFile(c.file, images, &why));
    EXPECT_NE(why.find(c.reason), std::string::npos) << why;
    ASSERT_EQ(images.size(), 1u);
    EXPECT_EQ(images[0].data, (std::vector<uint8_t>{1, 2, 3}));
  }
}

TEST(IconFile, TheFailingImageIsNamedByItsNumber) {
  std::vector<uint8_t> file = Ico({DibEntry(16, 4), DibEntry(32, 32), PngEntry(300)});
  std::vector<IconImage> images;
  std::string why;
  EXPECT_FALSE(ParseIconFile(file, images, &why));
  EXPECT_EQ(why.rfind("Bild 3 ", 0), 0u) << why;
}

TEST(IconFile, EveryCutOfAnIconIsRefusedAndNoByteMakesTheParserReadOutside) {
  const std::vector<uint8_t> good = Ico({DibEntry(16, 4), PngEntry(32)});
  for (size_t size = 0; size < good.size(); ++size) {
    const std::vector<uint8_t> cut(good.begin(), good.begin() + size);  // exactly sized for ASan
    std::vector<IconImage> images;
    std::string why;
    EXPECT_FALSE(ParseIconFile(cut, images, &why)) << size;
    EXPECT_FALSE(why.empty()) << size;
  }
  for (size_t i = 0; i < good.size(); ++i) {
    for (uint8_t value : {uint8_t(0x00), uint8_t(0x7F), uint8_t(0xFF)}) {
      std::vector<uint8_t> bad = good;
      bad[i] = value;
      std::vector<IconImage> images;
      std::string why;
      if (!ParseIconFile(bad, images, &why)) continue;
      size_t total = 0;
      for (const IconImage& m : images) total += m.data.size();
      EXPECT_LE(total, bad.size()) << i;
    }
  }
}

// --- the icon group of a stub -----------------------------------------------------------------

pe::Resource Res(uint16_t type, uint16_t name, std::vector<uint8_t> data,
                 uint16_t language = pe::kLangGerman) {
  pe::Resource r;
  r.type.number = type;
  r.name.number = name;
  r.language = language;
  r.data = std::move(data);
  return r;
}

// An RT_GROUP_ICON naming the images ids.
std::vector<uint8_t> Group(const std::vector<uint16_t>& ids) {
  std::vector<uint8_t> d;
  icontest::Put16(d, 0), icontest::Put16(d, 1), icontest::Put16(d, uint32_t(ids.size()));
  for (uint16_t id : ids) {
    d.insert(d.end(), {32, 32, 0, 0});
    icontest::Put16(d, 1), icontest::Put16(d, 32), icontest::Put32(d, 100), icontest::Put16(d, id);
  }
  return d;
}

const pe::Resource* Find(const std::vector<pe::Resource>& all, uint16_t type, uint16_t name) {
  const pe::Resource* found = nullptr;
  for (const pe::Resource& r : all)
    if (r.type.name.empty() && r.type.number == type && r.name.name.empty() &&
        r.name.number == name) {
      EXPECT_EQ(found, nullptr) << "two resources " << type << "/" << name;
      found = &r;
    }
  return found;
}

// The resources other than icons and icon groups, each as type/name/language and its data.
std::vector<std::string> OtherThanIcons(const std::vector<pe::Resource>& all) {
  std::vector<std::string> rest;
  for (const pe::Resource& r : all)
    if (r.type.number != pe::kTypeIcon && r.type.number != pe::kTypeGroupIcon)
      rest.push_back(std::to_string(r.type.number) + "/" + std::to_string(r.name.number) + "/" +
                     std::to_string(r.language) + ":" + std::string(r.data.begin(), r.data.end()));
  return rest;
}

struct GroupCase {
  const char* what;
  std::vector<pe::Resource> resources;
  std::vector<uint16_t> newIds;        // the ids the new images must get
  std::vector<uint16_t> remainingOld;  // RT_ICON ids of the old ones that must stay
};

TEST(ReplaceIcon, GroupOneIsReplacedAndItsImagesTakeTheLowestFreeNumbers) {
  const std::vector<uint8_t> old = {9, 9, 9};
  std::vector<GroupCase> cases = {
      {"our stubs: images 1..3 of group 1",
       {Res(3, 1, old), Res(3, 2, old), Res(3, 3, old), Res(14, 1, Group({1, 2, 3})),
        Res(24, 1, {'<', '/', '>'})},
       {1, 2, 3},
       {}},
      {"an image of another group stays, as does an image of no group",
       {Res(3, 1, old), Res(3, 2, old), Res(3, 3, old), Res(3, 5, old),
        Res(14, 1, Group({1, 2, 3})), Res(14, 7, Group({3}))},
       {1, 2, 4},
       {3, 5}},
      {"no icon group at all", {Res(3, 1, old), Res(24, 1, {'x'})}, {2, 3, 4}, {1}},
  };
  Entry png = PngEntry(256);
  const std::vector<IconImage> images = [&] {
    std::vector<IconImage> parsed;
    std::string why;
    EXPECT_TRUE(ParseIconFile(Ico({DibEntry(16, 4), DibEntry(32, 32), png}), parsed, &why));
    return parsed;
  }();
  ASSERT_EQ(images.size(), 3u);
  for (GroupCase& c : cases) {
    SCOPED_TRACE(c.what);
    const std::vector<std::string> otherThanIcons = OtherThanIcons(c.resources);
    ReplaceIcon(c.resources, images);
    const pe::Resource* group = Find(c.resources, pe::kTypeGroupIcon, 1);
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(group->language, pe::kLangGerman);
    ASSERT_EQ(group->data.size(), 6 + 14 * images.size());
    EXPECT_EQ(GetU16(&group->data[0]), 0);
    EXPECT_EQ(GetU16(&group->data[2]), 1);
    EXPECT_EQ(GetU16(&group->data[4]), images.size());
    for (size_t i = 0; i < images.size(); ++i) {
      const uint8_t* e = &group->data[6 + 14 * i];
      EXPECT_EQ((std::vector<int>{e[0], e[1], e[2], e[3], GetU16(e + 4), GetU16(e + 6)}),
                (std::vector<int>{images[i].width, images[i].height, images[i].colorCount, 0,
                                  images[i].planes, images[i].bitCount}));
      EXPECT_EQ(GetU32(e + 8), images[i].data.size());
      EXPECT_EQ(GetU16(e + 12), c.newIds[i]);
      const pe::Resource* icon = Find(c.resources, pe::kTypeIcon, c.newIds[i]);
      ASSERT_NE(icon, nullptr);
      EXPECT_EQ(icon->data, images[i].data);
      EXPECT_EQ(icon->language, pe::kLangGerman);
    }
    size_t icons = 0;
    for (const pe::Resource& r : c.resources) icons += r.type.number == pe::kTypeIcon;
    EXPECT_EQ(icons, images.size() + c.remainingOld.size());
    for (uint16_t id : c.remainingOld) {
      const pe::Resource* kept = Find(c.resources, pe::kTypeIcon, id);
      ASSERT_NE(kept, nullptr) << id;
      EXPECT_EQ(kept->data, old);
    }
    EXPECT_EQ(OtherThanIcons(c.resources), otherThanIcons);
  }
}

// --- the manifest's level -----------------------------------------------------------------------

std::string StubManifest() {
  return std::string(std::begin(kStubManifestBytes), std::end(kStubManifestBytes));
}

TEST(ExecutionLevel, EachLevelChangesOnlyTheLevelOfTheStubManifest) {
  const std::string original = StubManifest();
  const std::string before = "<requestedExecutionLevel level=\"asInvoker\"";
  const size_t at = original.find(before);
  ASSERT_NE(at, std::string::npos);
  for (ExecutionLevel level : {ExecutionLevel::AsInvoker, ExecutionLevel::HighestAvailable,
                               ExecutionLevel::RequireAdministrator}) {
    SCOPED_TRACE(ExecutionLevelName(level));
    std::string manifest = original;
    std::string why;
    ASSERT_TRUE(SetExecutionLevel(manifest, level, &why)) << why;
    std::string expected = original;
    expected.replace(
        at, before.size(),
        std::string("<requestedExecutionLevel level=\"") + ExecutionLevelName(level) + "\"");
    EXPECT_EQ(manifest, expected);
  }
}

TEST(ExecutionLevel, ManifestsWithoutOneLevelAttributeAreRefused) {
  const std::string original = StubManifest();
  const size_t at = original.find("<requestedExecutionLevel");
  const size_t end = original.find("/>", at) + 2;
  ASSERT_NE(at, std::string::npos);
  const std::string element = original.substr(at, end - at);
  const std::string without = original.substr(0, at) + original.substr(end);
  const struct {
    const char* what;
    std::string manifest;
    const char* reason;
  } cases[] = {
      {"no element", without, "kein Element requestedExecutionLevel"},
      {"only in a comment",
       original.substr(0, at) + "<!-- " + element + " -->" + original.substr(end), "kein Element"},
      {"two elements", original.substr(0, end) + element + original.substr(end), "2 Elemente"},
      {"no level attribute", "<a><requestedExecutionLevel uiAccess=\"false\"/></a>",
       "kein Attribut"},
      {"a longer attribute name only", "<requestedExecutionLevel xlevel='asInvoker'/>",
       "kein Attribut"},
      {"unclosed value", "<requestedExecutionLevel level=\"asInvoker/>", "kein Attribut"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string manifest = c.manifest;
    std::string why;
    EXPECT_FALSE(SetExecutionLevel(manifest, ExecutionLevel::RequireAdministrator, &why));
    EXPECT_EQ(manifest, c.manifest);
    EXPECT_NE(why.find(c.reason), std::string::npos) << why;
    EXPECT_NE(why.find("requireAdministrator"), std::string::npos) << why;
  }
}

TEST(ExecutionLevel, PrefixedElementsAndSingleQuotesAreSet) {
  std::string manifest = "<v3:requestedExecutionLevel uiAccess='false' level = 'asInvoker' />";
  std::string why;
  ASSERT_TRUE(SetExecutionLevel(manifest, ExecutionLevel::HighestAvailable, &why)) << why;
  EXPECT_EQ(manifest, "<v3:requestedExecutionLevel uiAccess='false' level = 'highestAvailable' />");
}

TEST(ExecutionLevel, OnlyTheThreeNamesAreParsed) {
  const struct {
    const char* text;
    bool ok;
    ExecutionLevel level;
  } cases[] = {
      {"asInvoker", true, ExecutionLevel::AsInvoker},
      {"highestAvailable", true, ExecutionLevel::HighestAvailable},
      {"requireAdministrator", true, ExecutionLevel::RequireAdministrator},
      {"requireadministrator", false, {}},
      {"", false, {}},
      {" asInvoker", false, {}},
      {"admin", false, {}},
  };
  for (const auto& c : cases) {
    ExecutionLevel level = ExecutionLevel::HighestAvailable;
    EXPECT_EQ(ParseExecutionLevel(c.text, level), c.ok) << c.text;
    EXPECT_EQ(level, c.ok ? c.level : ExecutionLevel::HighestAvailable) << c.text;
  }
}

TEST(StubLook, OnlyALookThatAsksForNothingIsEmpty) {
  StubLook look;
  EXPECT_TRUE(look.Empty());
  const std::vector<void (*)(StubLook&)> changes = {
      [](StubLook& l) { l.iconFile = "a.ico"; },
      [](StubLook& l) { l.version.productName = "P"; },
      [](StubLook& l) { l.version.productVersion = "1"; },
      [](StubLook& l) { l.version.fileVersion = "1"; },
      [](StubLook& l) { l.version.company = "C"; },
      [](StubLook& l) { l.version.description = "D"; },
      [](StubLook& l) { l.version.copyright = "\xA9"; },
      [](StubLook& l) { l.level = ExecutionLevel::HighestAvailable; },
      [](StubLook& l) { l.level = ExecutionLevel::RequireAdministrator; },
  };
  for (size_t i = 0; i < changes.size(); ++i) {
    StubLook changed;
    changes[i](changed);
    EXPECT_FALSE(changed.Empty()) << i;
  }
}

}  // namespace
