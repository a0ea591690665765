// Reading the whole resource tree, with names: for the builder and tambrixc. Kept apart from
// pe_image.cpp so that the stub, which needs one numbered resource only, links none of it.
#include <algorithm>
#include <cstring>

#include "archive/pe_image.h"
#include "archive/pe_image_internal.h"
#include "support/tus_strings.h"

namespace pe {
namespace {

// Reason texts (code page 1252).
const char kWhyTree[] =
    "Das Ressourcenverzeichnis des Programms ist besch\xE4"
    "digt (ein Eintrag zeigt aus dem Ressourcenabschnitt hinaus oder hat die falsche Art).";
const char kWhyShared[] =
    "Das Ressourcenverzeichnis des Programms ist besch\xE4"
    "digt (es verwendet Verzeichnisse oder Daten mehrfach).";

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
      : bytes_(bytes),
        rootRva_(rootRva),
        out_(out),
        entryBudget_(bytes.size() / 8),
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

bool ReadResources(ByteSource& src, const Image& image, std::vector<Resource>& out,
                   std::string* why) {
  out.clear();
  std::vector<uint8_t> bytes;
  uint32_t rva = 0;
  const char* failure = internal::LoadTree(src, image, bytes, rva);
  if (failure) {
    if (why) *why = failure;
    return false;
  }
  if (bytes.empty()) return true;
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
