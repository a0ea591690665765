// The PE module: the resource tree read from real stubs and small programs, the loader's order,
// the layout of a written resource section and what the rewrite refuses. Rewritten stubs are
// held to pefile's reading in tests/e2e/pe_oracle.py.
#include "archive/pe_image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "archive/archive_layout.h"
#include "archive/stub_look.h"
#include "support/tus_strings.h"
#include "tests/unit/pe_test_image.h"

namespace {

using Bytes = std::vector<uint8_t>;

pe::ResourceId Num(uint16_t n) { return pe::ResourceId{n, {}}; }
pe::ResourceId Named(const char16_t* s) { return pe::ResourceId{0, s}; }

pe::Resource Res(pe::ResourceId type, pe::ResourceId name, uint16_t lang, size_t size, char fill) {
  pe::Resource r;
  r.type = type;
  r.name = name;
  r.language = lang;
  r.data.assign(size, static_cast<uint8_t>(fill));
  return r;
}

std::string Key(const pe::Resource& r) {
  const auto id = [](const pe::ResourceId& i) {
    return i.name.empty() ? std::to_string(i.number) : std::string(i.name.begin(), i.name.end());
  };
  return id(r.type) + "/" + id(r.name) + "/" + std::to_string(r.language);
}

std::vector<pe::Resource> Read(const Bytes& program, pe::Image* imageOut = nullptr) {
  MemoryByteSource src(program.data(), program.size());
  pe::Image image;
  std::vector<pe::Resource> out;
  std::string why;
  EXPECT_TRUE(pe::ReadImage(src, image));
  EXPECT_TRUE(pe::ReadResources(src, image, out, &why)) << why;
  if (imageOut) *imageOut = image;
  return out;
}

const pe::Section* SectionNamed(const pe::Image& image, const char* name) {
  for (const pe::Section& s : image.sections)
    if (std::strcmp(s.name, name) == 0) return &s;
  return nullptr;
}

// --- the built stubs -----------------------------------------------------------------------

struct BuiltStub {
  const char* path;  // below the build folder
  const char* method;
};

class BuiltStubTest : public ::testing::TestWithParam<BuiltStub> {
 protected:
  // The stub's bytes; skips the test when its preset was not built.
  void Load(Bytes& stub) {
#ifndef TAMBRIX_BUILD_ROOT
    (void)stub;
    GTEST_SKIP() << "the built stubs are looked at by the native tests only";
#else
    const std::string path = std::string(TAMBRIX_BUILD_ROOT) + "/" + GetParam().path;
    std::ifstream in(path, std::ios::binary);
    if (!in) GTEST_SKIP() << path << " is not built (build its preset to test it)";
    stub.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    ASSERT_FALSE(stub.empty()) << path;
#endif
  }
};

TEST_P(BuiltStubTest, MeetsTheRewritesConditionsAndNamesItsMethod) {
  Bytes stub;
  Load(stub);
  if (IsSkipped() || HasFatalFailure()) return;
  pe::Image image;
  const std::vector<pe::Resource> resources = Read(stub, &image);
  EXPECT_EQ(GetU32(&stub[image.optionalHeader + 64]),
            pe::ImageChecksum(stub, image.optionalHeader + 64))
      << "the linker's checksum and ours agree";
  const pe::Resource* mark =
      pe::FindResource(resources, pe::kTypeRcData, layout::kStubMethodResource);
  ASSERT_NE(mark, nullptr);
  EXPECT_EQ(std::string(mark->data.begin(), mark->data.end()),
            std::string(layout::kStubMethodMark) + GetParam().method + ";");
  Bytes out;
  std::string why;
  EXPECT_EQ(pe::RewriteResources(stub, resources, out, &why), pe::RewriteStatus::Ok) << why;
  // Readers know our parcel icon by its fingerprint: a new icon in resources/ must update it.
  MemoryByteSource source(stub.data(), stub.size());
  StubLookInfo look;
  ASSERT_TRUE(ReadStubLook(source, look));
  EXPECT_EQ(look.icon, StubLookInfo::Icon::Own) << std::hex << IconFingerprint(resources);
  EXPECT_FALSE(look.hasVersion);
  EXPECT_EQ(look.level, "asInvoker");
}

INSTANTIATE_TEST_SUITE_P(Stubs, BuiltStubTest,
                         ::testing::Values(BuiltStub{"win64/stub/tambrix.res1", "bzip2"},
                                           BuiltStub{"win64/stub/tambrix.res2", "gzip"},
                                           BuiltStub{"win32/stub/tambrix.res1", "bzip2"},
                                           BuiltStub{"win32/stub/tambrix.res2", "gzip"}),
                         [](const ::testing::TestParamInfo<BuiltStub>& info) {
                           std::string name = info.param.path;
                           name = name.substr(0, 5) + "_" + info.param.method;
                           return name;
                         });

// --- order and layout --------------------------------------------------------------------

TEST(PeImageTest, IdsCompareInTheLoadersOrder) {
  const struct {
    pe::ResourceId a, b;
    bool less;
  } cases[] = {
      {Named(u"ZZ"), Num(1), true},  // names before numbers
      {Num(1), Named(u"A"), false},
      {Num(2), Num(10), true},
      {Num(10), Num(2), false},
      {Named(u"b"), Named(u"C"), true},   // upper case: B < C, though 'b' > 'C'
      {Named(u"a"), Named(u"A"), false},  // the same under upper case
      {Named(u"A"), Named(u"a"), false},
      {Named(u"AB"), Named(u"ABC"), true},
      {Named(u"\u00E4"), Named(u"\u00C5"), true},  // a umlaut is upper 0xC4, before 0xC5
      {Named(u"\u00C5"), Named(u"\u00E4"), false},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(cases[i].a < cases[i].b, cases[i].less) << "case " << i;
  }
}

TEST(PeImageTest, DirectoriesAreSortedOnEveryLevel) {
  // Given in no order; the tree holds them named first (upper-case order), then by number, on
  // the type, the name and the language level. The reader gives them in the tree's order.
  const std::vector<pe::Resource> given = {
      Res(Num(24), Num(1), 0x0409, 3, 'a'),
      Res(Named(u"vendor"), Named(u"b"), 0x0407, 5, 'b'),
      Res(Num(3), Num(2), 0x0407, 7, 'c'),
      Res(Named(u"VENDOR2"), Num(7), 0x0407, 1, 'd'),
      Res(Num(24), Num(1), 0x0407, 9, 'e'),
      Res(Num(3), Named(u"ICON"), 0x0407, 2, 'f'),
      Res(Named(u"vendor"), Named(u"A"), 0x0407, 4, 'g'),
      Res(Named(u"vendor"), Num(4), 0x0407, 6, 'h'),
      Res(Num(3), Num(1), 0x0407, 8, 'i'),
      Res(Num(24), Num(1), 0x0000, 10, 'j'),
  };
  const char* const order[] = {"vendor/A/1031", "vendor/b/1031", "vendor/4/1031", "VENDOR2/7/1031",
                               "3/ICON/1031",   "3/1/1031",      "3/2/1031",      "24/1/0",
                               "24/1/1031",     "24/1/1033"};
  const Bytes out = testutil::TinyProgramWith(given);
  pe::Image image;
  const std::vector<pe::Resource> got = Read(out, &image);
  ASSERT_EQ(got.size(), std::size(order));
  for (size_t i = 0; i < got.size(); ++i) EXPECT_EQ(Key(got[i]), order[i]) << i;
  // One numbered resource straight from the tree: the first language, or nothing.
  const struct {
    uint16_t type, name;
    std::vector<uint8_t> data;  // empty: none
  } lookups[] = {{3, 2, Bytes(7, 'c')}, {24, 1, Bytes(10, 'j')}, {3, 99, {}}, {10, 1, {}}};
  MemoryByteSource src(out.data(), out.size());
  for (const auto& l : lookups) {
    std::vector<uint8_t> data{1};
    EXPECT_EQ(pe::ReadResourceData(src, image, l.type, l.name, data), !l.data.empty());
    EXPECT_TRUE(data == l.data) << l.type << "/" << l.name;
  }
  // The root's header counts the named types apart from the numbered ones.
  const pe::Section* rsrc = SectionNamed(image, ".rsrc");
  ASSERT_NE(rsrc, nullptr);
  EXPECT_EQ(GetU16(&out[rsrc->rawStart + 12]), 2);
  EXPECT_EQ(GetU16(&out[rsrc->rawStart + 14]), 2);
}

TEST(PeImageTest, ResourceDataIsAlignedAndTheSectionPadded) {
  const std::vector<pe::Resource> given = {Res(Num(10), Num(1), 0x0407, 5, 'x'),
                                           Res(Num(10), Num(2), 0x0407, 3, 'y'),
                                           Res(Num(10), Named(u"N"), 0x0407, 0, 'z')};
  const Bytes out = testutil::TinyProgramWith(given);
  pe::Image image;
  Read(out, &image);
  const pe::Section* rsrc = SectionNamed(image, ".rsrc");
  ASSERT_NE(rsrc, nullptr);
  // Root (16 + 8), one type table (16 + 3 * 8), three language tables (3 * 24), the name "N"
  // (4), padding to 8, three data entries (48), then 5 + 3 + 3 (padding) bytes of data.
  const uint32_t entries = 24 + 40 + 72 + 4 + 4;
  EXPECT_EQ(rsrc->virtualSize, entries + 48 + 8 + 3);
  for (uint32_t i = 0; i < 3; ++i) {
    const uint32_t dataRva = GetU32(&out[rsrc->rawStart + entries + 16 * i]);
    EXPECT_EQ(dataRva % 8, 0u) << i;
  }
  EXPECT_TRUE(std::all_of(out.begin() + rsrc->rawStart + rsrc->virtualSize,
                          out.begin() + rsrc->rawStart + rsrc->rawSize,
                          [](uint8_t b) { return b == 0; }))
      << "zero padding";
}

// --- refusals -----------------------------------------------------------------------------

void Set32(Bytes& p, size_t at, uint32_t v) { PutU32(&p[at], v); }
constexpr size_t kOpt = 0x58, kDirs = kOpt + 112, kSections = kOpt + 240;

TEST(PeImageTest, RewriteRefusesWhatItCannotKeep) {
  using S = pe::RewriteStatus;
  const struct {
    const char* what;
    void (*change)(Bytes&);
    std::vector<pe::Resource> resources;
    S status;
  } cases[] = {
      {"not a program",
       [](Bytes& p) {
         p.assign({'M', 'Z'});
       },
       {},
       S::NotAProgram},
      {"a program cut short", [](Bytes& p) { p.resize(0x700); }, {}, S::NotAProgram},
      {"no resource directory", [](Bytes& p) { Set32(p, kDirs + 16, 0); }, {}, S::NotAProgram},
      {"signed",
       [](Bytes& p) {
         Set32(p, kDirs + 32, static_cast<uint32_t>(p.size()));
         Set32(p, kDirs + 36, 16);
         p.resize(p.size() + 16, 1);
       },
       {},
       S::Signed},
      {"an archive behind the program",
       [](Bytes& p) { p.resize(p.size() + 100, 'a'); },
       {},
       S::AppendedData},
      {"another section behind .rsrc",
       [](Bytes& p) { std::memcpy(&p[kSections + 80], ".data\0\0", 7); },
       {},
       S::LayoutUnsupported},
      {"the import directory in .rsrc",
       [](Bytes& p) {
         Set32(p, kDirs + 8, 0x2008);
         Set32(p, kDirs + 12, 8);
       },
       {},
       S::LayoutUnsupported},
      {"debug data behind .rsrc",
       [](Bytes& p) {
         Set32(p, kDirs + 48, 0x1100);  // a debug directory in .text ...
         Set32(p, kDirs + 52, 28);
         Set32(p, 0x300 + 16, 0x10);  // ... whose data lies in .reloc's file bytes
         Set32(p, 0x300 + 24, 0x700);
       },
       {},
       S::LayoutUnsupported},
      {"a relocation in .rsrc",
       [](Bytes& p) { Set32(p, 0x600, 0x2000); },
       {},
       S::LayoutUnsupported},
      {"a symbol table", [](Bytes& p) { Set32(p, 0x4C, 0x7F0); }, {}, S::LayoutUnsupported},
      {"two alike resources",
       [](Bytes&) {},
       {testutil::TextResource(10, 1, "a"), testutil::TextResource(10, 1, "b")},
       S::InvalidResources},
      {"names alike but for case",
       [](Bytes&) {},
       {Res(Named(u"Vendor"), Num(1), 0, 1, 'a'), Res(Named(u"VENDOR"), Num(1), 0, 1, 'b')},
       S::InvalidResources},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes program = testutil::TinyProgram();
    c.change(program);
    Bytes out{1, 2, 3};
    std::string why;
    EXPECT_EQ(pe::RewriteResources(program, c.resources, out, &why), c.status);
    EXPECT_TRUE(out.empty());
    EXPECT_FALSE(why.empty());
  }
}

// --- damaged trees ------------------------------------------------------------------------

// The tiny program with its resource section replaced by tree (at RVA 0x2000, 0x200 bytes).
Bytes WithTree(const std::vector<uint32_t>& tree) {
  Bytes p = testutil::TinyProgram();
  std::fill(p.begin() + 0x400, p.begin() + 0x600, 0);
  for (size_t i = 0; i < tree.size(); ++i) Set32(p, 0x400 + 4 * i, tree[i]);
  Set32(p, kSections + 40 + 8, 0x200);  // virtual size
  Set32(p, kDirs + 20, 0x200);
  return p;
}

TEST(PeImageTest, DamagedTreesAreRefusedWithAReason) {
  constexpr uint32_t D = 0x80000000u;
  // Root with one numbered type -> name table at 0x20 -> language table at 0x40 -> data entry at
  // 0x60 -> 4 bytes at 0x70.
  const std::vector<uint32_t> sound = {0,      0, 0, 1 << 16, 10,    D | 0x20, 0, 0,  // 0x00
                                       0,      0, 0, 1 << 16, 1,     D | 0x40, 0, 0,  // 0x20
                                       0,      0, 0, 1 << 16, 0x407, 0x60,     0, 0,  // 0x40
                                       0x2070, 4, 0, 0};                              // 0x60
  // The one-resource reader follows only the path to 10/1; damage beside it is not its concern.
  const struct {
    const char* what;
    size_t word;  // which word of the sound tree changes
    uint32_t value;
    bool pathDamaged;
  } cases[] = {
      {"more entries than the section holds", 3, 0x7FFF << 16, true},
      {"a subdirectory outside the section", 5, D | 0x1F8, true},
      {"data outside the section", 24, 0x2400, true},
      {"data in front of the section", 24, 0x1F00, true},
      {"a language naming a directory", 21, D | 0x60, true},
      {"a type naming data", 5, 0x60, true},
      {"a name outside the section", 4, D | 0x1FF, true},
      {"data shared beyond the section's size", 25, 0x180, false},
  };
  {
    const Bytes p = WithTree(sound);
    const std::vector<pe::Resource> got = Read(p);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(Key(got[0]), "10/1/1031");
  }
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint32_t> tree = sound;
    tree[c.word] = c.value;
    if (c.word == 25) {  // a second type sharing the name table, so the data is counted twice
      tree[3] = 2 << 16;
      tree[6] = 11;
      tree[7] = D | 0x20;
    }
    const Bytes p = WithTree(tree);
    MemoryByteSource src(p.data(), p.size());
    pe::Image image;
    ASSERT_TRUE(pe::ReadImage(src, image));
    std::vector<pe::Resource> out(1);
    std::string why;
    EXPECT_FALSE(pe::ReadResources(src, image, out, &why));
    EXPECT_TRUE(out.empty());
    EXPECT_NE(why.find("Ressourcenverzeichnis"), std::string::npos) << why;
    std::vector<uint8_t> data;
    EXPECT_EQ(pe::ReadResourceData(src, image, 10, 1, data), !c.pathDamaged);
  }
}

}  // namespace
