#include "tests/unit/pe_test_image.h"

#include <gtest/gtest.h>

#include <cstring>

#include "support/tus_strings.h"

namespace testutil {

std::vector<uint8_t> TinyProgram() {
  std::vector<uint8_t> p(0x800, 0);
  const auto u16 = [&p](size_t at, uint16_t v) { PutU16(&p[at], v); };
  const auto u32 = [&p](size_t at, uint32_t v) { PutU32(&p[at], v); };
  p[0] = 'M';
  p[1] = 'Z';
  u32(0x3C, 0x40);
  std::memcpy(&p[0x40], "PE\0\0", 4);
  u16(0x44, 0x8664);  // Machine
  u16(0x46, 3);       // NumberOfSections
  u16(0x54, 240);     // SizeOfOptionalHeader
  u16(0x56, 0x22);    // executable, large addresses
  const size_t opt = 0x58;
  u16(opt, 0x20b);
  u32(opt + 4, 0x200);        // SizeOfCode
  u32(opt + 8, 0x400);        // SizeOfInitializedData
  u32(opt + 16, 0x1000);      // AddressOfEntryPoint
  u32(opt + 20, 0x1000);      // BaseOfCode
  u32(opt + 24, 0x40000000);  // ImageBase (low half)
  u32(opt + 32, 0x1000);      // SectionAlignment
  u32(opt + 36, 0x200);       // FileAlignment
  u16(opt + 40, 6);           // operating system version
  u16(opt + 48, 6);           // subsystem version
  u32(opt + 56, 0x4000);      // SizeOfImage
  u32(opt + 60, 0x200);       // SizeOfHeaders
  u16(opt + 68, 2);           // Windows GUI
  u32(opt + 72, 0x100000);
  u32(opt + 80, 0x1000);
  u32(opt + 88, 0x100000);
  u32(opt + 96, 0x1000);
  u32(opt + 108, 16);              // NumberOfRvaAndSizes
  u32(opt + 112 + 8 * 2, 0x2000);  // resources
  u32(opt + 112 + 8 * 2 + 4, 16);
  u32(opt + 112 + 8 * 5, 0x3000);  // base relocations
  u32(opt + 112 + 8 * 5 + 4, 12);
  const struct {
    const char* name;
    uint32_t va, vsize, raw, characteristics;
  } sections[] = {{".text", 0x1000, 0x10, 0x200, 0x60000020},
                  {".rsrc", 0x2000, 0x10, 0x400, 0x40000040},
                  {".reloc", 0x3000, 0x0C, 0x600, 0x42000040}};
  size_t at = opt + 240;
  for (const auto& s : sections) {
    std::memcpy(&p[at], s.name, std::strlen(s.name));
    u32(at + 8, s.vsize);
    u32(at + 12, s.va);
    u32(at + 16, 0x200);
    u32(at + 20, s.raw);
    u32(at + 36, s.characteristics);
    at += 40;
  }
  p[0x200] = 0xC3;     // ret
  u32(0x600, 0x1000);  // one block for the page of .text
  u32(0x604, 12);
  u16(0x608, (10 << 12) | 0x008);  // a 64-bit address at .text + 8
  u32(opt + 64, pe::ImageChecksum(p, opt + 64));
  return p;
}

std::vector<uint8_t> TinyProgramWith(const std::vector<pe::Resource>& resources) {
  std::vector<uint8_t> out;
  std::string why;
  EXPECT_EQ(pe::RewriteResources(TinyProgram(), resources, out, &why), pe::RewriteStatus::Ok)
      << why;
  return out;
}

std::string TinyProgramBytes(const std::vector<pe::Resource>& resources) {
  const std::vector<uint8_t> program = TinyProgramWith(resources);
  return std::string(program.begin(), program.end());
}

pe::Resource TextResource(uint16_t type, uint16_t name, const std::string& text) {
  pe::Resource r;
  r.type.number = type;
  r.name.number = name;
  r.language = pe::kLangGerman;
  r.data.assign(text.begin(), text.end());
  return r;
}

}  // namespace testutil
