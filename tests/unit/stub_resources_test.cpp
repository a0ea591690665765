// The vendor's look: which .ico files are taken and which refused, how the icon group of a stub is
// replaced and the elevation level in the stub's manifest.
#include "builder/stub_resources.h"

#include <gtest/gtest.h>

#include <algorithm>
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

// entry after change.
template <typename Change>
Entry Changed(Entry entry, Change change) {
  change(entry);
  return entry;
}

std::vector<uint8_t> Cut(std::vector<uint8_t> bytes, size_t size) {
  bytes.resize(size);
  return bytes;
}

TEST(IconFile, UsableIconsGiveTheirImagesWithFieldsFromTheImages) {
  const auto noFields = [](Entry& e) { e.width = 64, e.planes = e.bits = 0; };  // a lying width
  const struct {
    const char* what;
    std::vector<uint8_t> file;
    std::vector<std::vector<int>> fields;  // per image: width, height, colours, planes, bits
  } cases[] = {
      {"BMP images of 16, 32 and 48 px",
       Ico({DibEntry(16, 4), DibEntry(32, 32), DibEntry(48, 32)}),
       {{16, 16, 16, 1, 4}, {32, 32, 0, 1, 32}, {48, 48, 0, 1, 32}}},
      {"BMP with 0 and a wrong width in the directory",
       Ico({Changed(DibEntry(32, 8), noFields)}),
       {{32, 32, 0, 1, 8}}},
      {"256 px PNG with 0 in the directory",
       Ico({Changed(PngEntry(256), noFields)}),
       {{0, 0, 0, 1, 32}}},
      {"PNGs of a 4-bit palette and of 16-bit grey and alpha",
       Ico({Entry{16, 16, 0, 0, 0, icontest::Png(16, 16, 4, 3)},
            Entry{48, 48, 0, 0, 0, icontest::Png(48, 48, 16, 4)}}),
       {{16, 16, 16, 1, 4}, {48, 48, 0, 1, 32}}},
      {"BMP of 256 px, 1 bit", Ico({DibEntry(256, 1)}), {{0, 0, 2, 1, 1}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<IconImage> images;
    std::string why;
    ASSERT_TRUE(ParseIconFile(c.file, images, &why)) << why;
    ASSERT_EQ(images.size(), c.fields.size());
    for (size_t i = 0; i < images.size(); ++i) {
      const IconImage& m = images[i];
      EXPECT_EQ((std::vector<int>{m.width, m.height, m.colorCount, m.planes, m.bitCount}),
                c.fields[i]);
      // The image's bytes as the file holds them, where its directory entry says.
      const uint32_t size = GetU32(&c.file[6 + 16 * i + 8]), at = GetU32(&c.file[6 + 16 * i + 12]);
      EXPECT_EQ(m.data, std::vector<uint8_t>(c.file.begin() + at, c.file.begin() + at + size));
    }
  }
}

TEST(IconFile, UnusableFilesAreRefusedNamingTheReasonAndLeaveTheImages) {
  const Entry dib = DibEntry(16, 4), dib32 = DibEntry(32, 32);
  const std::string mark = "Tambrix-Entpackmethode:gzip;";
  const struct {
    const char* what;
    std::vector<uint8_t> file;
    const char* reason;  // a part of the message
  } cases[] = {
      {"cursor", Ico({dib32}, 2), "Mauszeiger"},
      {"another type", Ico({dib32}, 3), "keine Symboldatei"},
      {"no images", Ico({}), "keine Bilder"},
      {"truncated header", {0, 0, 1, 0}, "zu kurz"},
      {"truncated directory", Cut(Ico({dib, dib32}), 30), "im Verzeichnis ihrer 2 Bilder"},
      {"image past the end", Cut(Ico({dib}), Ico({dib}).size() - 1), "Bild 1 reicht"},
      {"offset + size overflow",
       Ico({Changed(dib, [](Entry& e) { e.offset = 0xFFFFFF00u, e.size = 0x200; })}),
       "mehr als 4 GB"},
      {"image inside the directory", Ico({Changed(dib, [](Entry& e) { e.offset = 2; })}),
       "im Verzeichnis der"},
      {"empty image", Ico({Changed(dib, [](Entry& e) { e.data.clear(); })}), "leer"},
      {"PNG of 257 px", Ico({PngEntry(257)}), "257 x 257"},
      {"PNG of 512 x 16 px", Ico({Entry{0, 16, 0, 1, 32, icontest::Png(512, 16)}}),
       "h\xF6"
       "chstens 256 x 256"},
      {"PNG of a bad bit depth", Ico({Entry{16, 16, 0, 1, 32, icontest::Png(16, 16, 3, 6)}}),
       "Farbtiefe 3"},
      {"cut PNG header", Ico({Entry{16, 16, 0, 1, 32, Cut(icontest::Png(16, 16), 20)}}), "IHDR"},
      {"DIB header of 12 bytes", Ico({Changed(dib, [](Entry& e) { e.data[0] = 12; })}), "hier 12"},
      {"AND mask missing", Ico({Changed(dib32, [](Entry& e) { e.data.resize(40 + 4096); })}),
       "braucht 4264 Bytes"},
      {"odd DIB height", Ico({Entry{16, 16, 0, 1, 4, icontest::Dib(16, 16, 4, 33)}}), "16 x 33"},
      {"DIB of 300 px", Ico({Entry{0, 16, 0, 1, 1, icontest::Dib(300, 16, 1)}}), "300 x 32"},
      {"DIB of 7 bits", Ico({Changed(dib, [](Entry& e) { e.data[14] = 7; })}), "7 Bit"},
      {"method mark in the second image",
       Ico({dib,
            Changed(dib32, [&](Entry& e) { std::copy(mark.begin(), mark.end(), &e.data[99]); })}),
       "Bild 2 enth\xE4lt den Text \"Tambrix-Entpackmethode:\""},
  };
  for (const auto& c : cases) {
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

TEST(IconFile, EveryCutOfAnIconIsRefused) {
  const std::vector<uint8_t> good = Ico({DibEntry(16, 4), PngEntry(32)});
  for (size_t size = 0; size < good.size(); ++size) {
    std::vector<IconImage> images;
    std::string why;
    EXPECT_FALSE(ParseIconFile(Cut(good, size), images, &why)) << size;  // sized for ASan
    EXPECT_FALSE(why.empty()) << size;
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

// Every resource as type/name/language, sorted.
std::vector<std::string> Keys(const std::vector<pe::Resource>& all) {
  std::vector<std::string> keys;
  for (const pe::Resource& r : all)
    keys.push_back(std::to_string(r.type.number) + "/" + std::to_string(r.name.number) + "/" +
                   std::to_string(r.language));
  std::sort(keys.begin(), keys.end());
  return keys;
}

TEST(ReplaceIcon, GroupOneIsReplacedAndItsImagesTakeTheLowestFreeNumbers) {
  // Group 1 (US English) names images 1 to 3; image 3 is also group 7's, image 5 is no group's.
  const std::vector<uint8_t> old = {9, 9, 9};
  std::vector<pe::Resource> resources = {Res(3, 1, old),
                                         Res(3, 2, old),
                                         Res(3, 3, old),
                                         Res(3, 5, old),
                                         Res(14, 1, Group({1, 2, 3}), 0x409),
                                         Res(14, 7, Group({3}))};
  std::vector<IconImage> images;
  std::string why;
  ASSERT_TRUE(ParseIconFile(Ico({DibEntry(16, 4), DibEntry(32, 32), PngEntry(256)}), images, &why));
  ReplaceIcon(resources, images);
  EXPECT_EQ(Keys(resources),
            (std::vector<std::string>{"14/1/1033", "14/7/1031", "3/1/1033", "3/2/1033", "3/3/1031",
                                      "3/4/1033", "3/5/1031"}));
  const uint16_t newIds[] = {1, 2, 4};
  for (const pe::Resource& r : resources) {
    if (r.type.number == pe::kTypeGroupIcon && r.name.number == 1) {
      ASSERT_EQ(r.data.size(), 6 + 14 * images.size());
      EXPECT_EQ(std::vector<uint8_t>(r.data.begin(), r.data.begin() + 6),
                (std::vector<uint8_t>{0, 0, 1, 0, 3, 0}));
      for (size_t i = 0; i < images.size(); ++i) {
        const uint8_t* e = &r.data[6 + 14 * i];
        const IconImage& m = images[i];
        EXPECT_EQ((std::vector<int>{e[0], e[1], e[2], e[3], GetU16(e + 4), GetU16(e + 6),
                                    int(GetU32(e + 8)), GetU16(e + 12)}),
                  (std::vector<int>{m.width, m.height, m.colorCount, 0, m.planes, m.bitCount,
                                    int(m.data.size()), newIds[i]}));
      }
    }
    for (size_t i = 0; i < images.size(); ++i) {
      if (r.type.number == pe::kTypeIcon && r.name.number == newIds[i]) {
        EXPECT_EQ(r.data, images[i].data);
      }
    }
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

}  // namespace
