#include "archive/pe_image.h"

#include <algorithm>
#include <cstring>

#include "support/tus_strings.h"

namespace pe {
namespace {

// Reason texts (code page 1252).
const char kWhyIo[] = "Das Programm konnte nicht gelesen werden.";
const char kWhyOutside[] =
    "Das Ressourcenverzeichnis des Programms liegt au\xDF"
    "erhalb seiner Abschnitte.";
const char kWhyTree[] =
    "Das Ressourcenverzeichnis des Programms ist besch\xE4"
    "digt (ein Eintrag zeigt aus dem Ressourcenabschnitt hinaus oder hat die falsche Art).";
const char kWhyShared[] =
    "Das Ressourcenverzeichnis des Programms ist besch\xE4"
    "digt (es verwendet Verzeichnisse oder Daten mehrfach).";

// Loaders refuse more sections than this.
constexpr unsigned kMaxSections = 96;

// The upper case of a UTF-16 unit for the ordering of named entries: ASCII and Latin-1 letters,
// which is what resource names hold in practice; other units compare as they are.
char16_t Upper(char16_t c) {
  if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 0x20);
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 0x20);
  if (c == 0xFF) return 0x178;
  return c;
}

// Walks a resource tree held in memory (the resource section's bytes from the root directory
// on). Every directory, name and data entry must lie inside those bytes, and a tree may visit no
// more entries and no more data than the section can hold without sharing: a tree whose entries
// point at one another many times would otherwise multiply into any number of resources.
class TreeWalker {
 public:
  TreeWalker(const std::vector<uint8_t>& bytes, uint32_t rootRva, std::vector<Resource>& out)
      : bytes_(bytes), rootRva_(rootRva), out_(out), entryBudget_(bytes.size() / 8),
        dataBudget_(bytes.size()) {}

  // Reads the directory at offset on level (0 type, 1 name, 2 language); false when damaged,
  // with why set.
  bool Directory(uint32_t offset, int level, Resource& path) {
    if (!Fits(offset, 16)) return Fail(kWhyTree);
    const uint8_t* table = &bytes_[offset];
    const uint32_t count = uint32_t(GetU16(table + 12)) + GetU16(table + 14);
    if (!Fits(offset + 16, uint64_t(count) * 8)) return Fail(kWhyTree);
    if (count > entryBudget_) return Fail(kWhyShared);
    entryBudget_ -= count;
    for (uint32_t i = 0; i < count; ++i) {
      const uint8_t* entry = table + 16 + 8 * i;
      ResourceId id;
      if (!Id(GetU32(entry), id)) return false;
      const uint32_t target = GetU32(entry + 4);
      const bool isDirectory = (target & 0x80000000u) != 0;
      if (isDirectory != (level < 2)) return Fail(kWhyTree);
      if (level == 0) path.type = id;
      if (level == 1) path.name = id;
      if (level == 2) {
        if (!id.name.empty()) return Fail(kWhyTree);
        path.language = id.number;
        if (!Data(target, path)) return false;
      } else if (!Directory(target & 0x7FFFFFFFu, level + 1, path)) {
        return false;
      }
    }
    return true;
  }

  const char* why() const { return why_; }

 private:
  bool Fits(uint64_t offset, uint64_t n) const {
    return offset <= bytes_.size() && n <= bytes_.size() - offset;
  }
  bool Fail(const char* why) {
    why_ = why;
    return false;
  }

  // An entry's name field: a number, or (high bit set) the offset of a counted UTF-16 string.
  bool Id(uint32_t field, ResourceId& id) {
    if ((field & 0x80000000u) == 0) {
      if (field > 0xFFFF) return Fail(kWhyTree);
      id.number = static_cast<uint16_t>(field);
      return true;
    }
    const uint32_t at = field & 0x7FFFFFFFu;
    if (!Fits(at, 2)) return Fail(kWhyTree);
    const uint32_t length = GetU16(&bytes_[at]);
    if (length == 0 || !Fits(at + 2, uint64_t(length) * 2)) return Fail(kWhyTree);
    id.name.resize(length);
    for (uint32_t i = 0; i < length; ++i) id.name[i] = GetU16(&bytes_[at + 2 + 2 * i]);
    return true;
  }

  // A data entry: the data's RVA, its size and code page; the data must lie in the section.
  bool Data(uint32_t offset, Resource& path) {
    if (!Fits(offset, 16)) return Fail(kWhyTree);
    const uint8_t* entry = &bytes_[offset];
    const uint32_t rva = GetU32(entry), size = GetU32(entry + 4);
    if (rva < rootRva_ || !Fits(rva - rootRva_, size)) return Fail(kWhyTree);
    if (size > dataBudget_) return Fail(kWhyShared);
    dataBudget_ -= size;
    path.codePage = GetU32(entry + 8);
    const uint8_t* data = &bytes_[rva - rootRva_];
    path.data.assign(data, data + size);
    out_.push_back(path);
    return true;
  }

  const std::vector<uint8_t>& bytes_;
  uint32_t rootRva_;
  std::vector<Resource>& out_;
  uint64_t entryBudget_, dataBudget_;
  const char* why_ = kWhyTree;
};

}  // namespace

bool operator==(const ResourceId& a, const ResourceId& b) {
  return a.name.empty() == b.name.empty() &&
         (a.name.empty() ? a.number == b.number : a.name == b.name);
}

bool operator<(const ResourceId& a, const ResourceId& b) {
  if (a.name.empty() != b.name.empty()) return !a.name.empty();
  if (a.name.empty()) return a.number < b.number;
  const size_t n = std::min(a.name.size(), b.name.size());
  for (size_t i = 0; i < n; ++i) {
    const char16_t x = Upper(a.name[i]), y = Upper(b.name[i]);
    if (x != y) return x < y;
  }
  return a.name.size() < b.name.size();
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
    if (s.rawSize) image.imageEnd = std::max<uint64_t>(image.imageEnd, uint64_t(s.rawStart) + s.rawSize);
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

bool ReadResources(ByteSource& src, const Image& image, std::vector<Resource>& out,
                   std::string* why) {
  out.clear();
  if (image.directoryCount <= 2 || image.directoryRva[2] == 0 || image.directorySize[2] == 0)
    return true;
  const uint32_t rva = image.directoryRva[2];
  // The section whose file-backed bytes hold the root directory; the tree must stay inside them.
  const Section* home = nullptr;
  for (const Section& s : image.sections) {
    if (rva >= s.virtualAddress && rva - s.virtualAddress < s.rawSize) home = &s;
  }
  if (!home) {
    if (why) *why = kWhyOutside;
    return false;
  }
  uint32_t span = home->rawSize;
  if (home->virtualSize != 0) span = std::min(span, home->virtualSize);
  const uint32_t skip = rva - home->virtualAddress;
  if (skip >= span) {
    if (why) *why = kWhyOutside;
    return false;
  }
  const uint64_t start = uint64_t(home->rawStart) + skip;
  const uint32_t length = span - skip;
  if (start > src.Size() || length > src.Size() - start) {
    if (why) *why = kWhyIo;
    return false;
  }
  std::vector<uint8_t> bytes(length);
  if (!src.ReadAt(start, bytes.data(), bytes.size())) {
    if (why) *why = kWhyIo;
    return false;
  }
  TreeWalker walker(bytes, rva, out);
  Resource path;
  if (!walker.Directory(0, 0, path)) {
    out.clear();
    if (why) *why = walker.why();
    return false;
  }
  return true;
}

const Resource* FindResource(const std::vector<Resource>& resources, uint16_t type, uint16_t name) {
  for (const Resource& r : resources) {
    if (r.type.name.empty() && r.type.number == type && r.name.name.empty() &&
        r.name.number == name)
      return &r;
  }
  return nullptr;
}

}  // namespace pe
