// Reading what every reader needs of a stub (the stub itself among them): the headers and one
// numbered resource. The whole tree with names is read in pe_image_tree.cpp.
#include "archive/pe_image.h"

#include <algorithm>
#include <cstring>

#include "archive/pe_image_internal.h"
#include "support/tus_strings.h"

namespace pe {
namespace {

// Reason texts (code page 1252).
const char kWhyIo[] = "Das Programm konnte nicht gelesen werden.";
const char kWhyOutside[] =
    "Das Ressourcenverzeichnis des Programms liegt au\xDF"
    "erhalb seiner Abschnitte.";

// Loaders refuse more sections than this.
constexpr unsigned kMaxSections = 96;

}  // namespace

const char* internal::LoadTree(ByteSource& src, const Image& image, std::vector<uint8_t>& bytes,
                               uint32_t& rva) {
  if (image.directoryCount <= 2 || image.directoryRva[2] == 0 || image.directorySize[2] == 0)
    return nullptr;
  rva = image.directoryRva[2];
  // The section whose file-backed bytes hold the root directory; the tree must stay inside them.
  const Section* home = nullptr;
  for (const Section& s : image.sections) {
    if (rva >= s.virtualAddress && rva - s.virtualAddress < s.rawSize) home = &s;
  }
  if (!home) return kWhyOutside;
  uint32_t span = home->rawSize;
  if (home->virtualSize != 0) span = std::min(span, home->virtualSize);
  const uint32_t skip = rva - home->virtualAddress;
  if (skip >= span) return kWhyOutside;
  const uint64_t start = uint64_t(home->rawStart) + skip;
  const uint32_t length = span - skip;
  if (start > src.Size() || length > src.Size() - start) return kWhyIo;
  bytes.resize(length);
  if (!src.ReadAt(start, bytes.data(), bytes.size())) {
    bytes.clear();
    return kWhyIo;
  }
  return nullptr;
}

bool ReadImage(ByteSource& src, Image& image) {
  image = Image();
  uint8_t dos[64];
  if (!src.ReadAt(0, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') return false;
  const uint64_t at = GetU32(dos + 0x3C);
  uint8_t coff[24];  // "PE\0\0" and the file header
  if (at < sizeof dos || !src.ReadAt(at, coff, sizeof coff) ||
      std::memcmp(coff, "PE\0\0", 4) != 0) {
    return false;
  }
  const unsigned sectionCount = GetU16(coff + 4 + 2);
  image.peHeader = at;
  image.optionalSize = GetU16(coff + 4 + 16);
  image.optionalHeader = at + sizeof coff;
  uint8_t opt[240] = {};
  const size_t optRead = std::min<size_t>(image.optionalSize, sizeof opt);
  if (optRead < 96 || !src.ReadAt(image.optionalHeader, opt, optRead)) return false;
  size_t countAt = 0;
  switch (GetU16(opt)) {
    case 0x10b:
      countAt = 92;
      break;
    case 0x20b:
      countAt = 108;
      image.pe32plus = true;
      break;
    default:
      return false;
  }
  image.sectionAlignment = GetU32(opt + 32);
  image.fileAlignment = GetU32(opt + 36);
  image.sizeOfHeaders = GetU32(opt + 60);
  const size_t dirsAt = countAt + 4;
  const uint32_t declared = countAt + 4 <= optRead ? GetU32(opt + countAt) : 0;
  const size_t fit = optRead > dirsAt ? (optRead - dirsAt) / 8 : 0;
  image.directoryCount = static_cast<uint32_t>(std::min<size_t>({declared, fit, 16}));
  for (uint32_t i = 0; i < image.directoryCount; ++i) {
    image.directoryRva[i] = GetU32(opt + dirsAt + 8 * i);
    image.directorySize[i] = GetU32(opt + dirsAt + 8 * i + 4);
  }
  image.imageEnd = image.sizeOfHeaders;
  const uint64_t table = image.optionalHeader + image.optionalSize;
  for (unsigned i = 0; i < sectionCount && i < kMaxSections; ++i) {
    uint8_t raw[40];
    if (!src.ReadAt(table + 40 * i, raw, sizeof raw)) return false;
    Section s;
    std::memcpy(s.name, raw, 8);
    s.virtualSize = GetU32(raw + 8);
    s.virtualAddress = GetU32(raw + 12);
    s.rawSize = GetU32(raw + 16);
    s.rawStart = GetU32(raw + 20);
    s.characteristics = GetU32(raw + 36);
    if (s.rawSize)
      image.imageEnd = std::max<uint64_t>(image.imageEnd, uint64_t(s.rawStart) + s.rawSize);
    image.sections.push_back(s);
  }
  return true;
}

uint64_t CertificateTableStart(ByteSource& src) {
  const uint64_t size = src.Size();
  Image image;
  if (!ReadImage(src, image)) return 0;
  const uint64_t start = image.CertificateStart(), length = image.CertificateLength();
  if (length == 0 || start <= image.optionalHeader + image.optionalSize || start >= size ||
      start + length != size) {
    return 0;
  }
  return start;
}

bool ReadResourceData(ByteSource& src, const Image& image, uint16_t type, uint16_t name,
                      std::vector<uint8_t>& out) {
  out.clear();
  std::vector<uint8_t> bytes;
  uint32_t rva = 0;
  if (internal::LoadTree(src, image, bytes, rva) || bytes.empty()) return false;
  const auto fits = [&bytes](uint64_t offset, uint64_t n) {
    return offset <= bytes.size() && n <= bytes.size() - offset;
  };
  const uint32_t wanted[2] = {type, name};
  uint32_t offset = 0;
  for (int level = 0; level < 3; ++level) {
    if (!fits(offset, 16)) return false;
    const uint8_t* table = &bytes[offset];
    const uint32_t named = GetU16(table + 12), count = named + GetU16(table + 14);
    if (!fits(offset + 16, uint64_t(count) * 8)) return false;
    // Numbered entries follow the named ones; any language will do.
    uint32_t i = named;
    while (i < count && level < 2 && GetU32(table + 16 + 8 * i) != wanted[level]) ++i;
    if (i == count) return false;
    const uint32_t target = GetU32(table + 16 + 8 * i + 4);
    if (((target & 0x80000000u) != 0) != (level < 2)) return false;
    offset = target & 0x7FFFFFFFu;
  }
  if (!fits(offset, 16)) return false;
  const uint32_t dataRva = GetU32(&bytes[offset]), size = GetU32(&bytes[offset + 4]);
  if (dataRva < rva || !fits(dataRva - rva, size)) return false;
  out.assign(bytes.begin() + (dataRva - rva), bytes.begin() + (dataRva - rva) + size);
  return true;
}

}  // namespace pe
