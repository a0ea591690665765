// The rewrite of a stub's resource section. The section keeps its place; only .reloc may follow
// it, and .reloc moves by whole file and section alignments with its bytes unchanged (they hold
// RVAs of pages in front of the resources, which do not move). Everything else that would have to
// be moved or patched is refused rather than guessed at.
#include <algorithm>
#include <cstring>

#include "archive/pe_image.h"
#include "support/tus_strings.h"

namespace pe {
namespace {

// Reason texts (code page 1252).
const char kWhyNotProgram[] =
    "Das Entpackprogramm ist kein vollst\xE4ndiges Windows-Programm mit Ressourcenabschnitt.";
const char kWhySigned[] =
    "Das Entpackprogramm ist signiert; seine Ressourcen lassen sich nicht ersetzen, ohne die "
    "Signatur ung\xFCltig zu machen.";
const char kWhyAppended[] =
    "Hinter dem Ende des Entpackprogramms folgen weitere Daten (etwa ein Archiv oder "
    "Debug-Informationen); seine Ressourcen lassen sich nicht ersetzen.";
const char kWhyTooLarge[] = "Das Entpackprogramm w\xFCrde mit den neuen Ressourcen zu gro\xDF.";
const char kLayout[] = "Der Aufbau des Entpackprogramms erlaubt keinen Ersatz der Ressourcen: ";

constexpr uint32_t kScnInitializedData = 0x40;
constexpr uint32_t kDirResource = 2, kDirSecurity = 4, kDirBaseReloc = 5, kDirDebug = 6;
// Offsets inside the optional header (alike in PE32 and PE32+).
constexpr size_t kOptInitializedData = 8, kOptSizeOfImage = 56, kOptCheckSum = 64;

RewriteStatus Refuse(RewriteStatus status, const std::string& text, std::string* why) {
  if (why) *why = text;
  return status;
}

uint64_t AlignUp(uint64_t v, uint64_t alignment) {
  return (v + alignment - 1) / alignment * alignment;
}
bool IsPowerOfTwo(uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

std::string SectionName(const Section& s) { return std::string("\"") + s.name + "\""; }

// A resource id for messages: the number, or the name with what is not ASCII as '?'.
std::string Describe(const ResourceId& id) {
  if (id.name.empty()) return std::to_string(id.number);
  std::string text = "\"";
  for (char16_t c : id.name) text += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
  return text + "\"";
}

// Where the rewrite may work: the index of the resource section and of .reloc behind it (or -1).
struct Plan {
  size_t rsrc = 0;
  int reloc = -1;
};

// The file offset of an RVA inside a section's file-backed bytes, or 0 when it has none.
uint64_t FileOffset(const Image& image, uint32_t rva) {
  for (const Section& s : image.sections) {
    if (rva >= s.virtualAddress && rva - s.virtualAddress < s.rawSize)
      return uint64_t(s.rawStart) + (rva - s.virtualAddress);
  }
  return 0;
}

// The sections: ascending, aligned, and nothing but .reloc behind the resource section.
bool CheckSections(const std::vector<uint8_t>& program, const Image& image, Plan& plan,
                   std::string& why) {
  if (!IsPowerOfTwo(image.fileAlignment) || image.fileAlignment < 512 ||
      !IsPowerOfTwo(image.sectionAlignment) || image.sectionAlignment < image.fileAlignment) {
    why = "die Ausrichtung der Abschnitte ist ungew\xF6hnlich.";
    return false;
  }
  const std::vector<Section>& sections = image.sections;
  if (sections.size() != GetU16(&program[image.peHeader + 6])) {
    why =
        "das Programm hat mehr Abschnitte, als Windows l\xE4"
        "dt.";
    return false;
  }
  for (size_t i = 1; i < sections.size(); ++i) {
    if (sections[i].virtualAddress <= sections[i - 1].virtualAddress) {
      why = "die Abschnitte liegen nicht aufsteigend im Speicher.";
      return false;
    }
  }
  const Section& rsrc = sections[plan.rsrc];
  if (rsrc.rawStart % image.fileAlignment != 0 || rsrc.rawSize == 0) {
    why = "der Ressourcenabschnitt liegt nicht ausgerichtet in der Datei.";
    return false;
  }
  for (size_t i = plan.rsrc + 1; i < sections.size(); ++i) {
    const Section& s = sections[i];
    if (std::strcmp(s.name, ".reloc") != 0 || plan.reloc >= 0) {
      why = "hinter dem Ressourcenabschnitt liegt der Abschnitt " + SectionName(s) +
            " (nur .reloc l\xE4sst sich verschieben).";
      return false;
    }
    plan.reloc = static_cast<int>(i);
    if (s.virtualAddress % image.sectionAlignment != 0 ||
        (s.rawSize != 0 && s.rawStart != uint64_t(rsrc.rawStart) + rsrc.rawSize)) {
      why = "der Abschnitt .reloc schlie\xDFt nicht an den Ressourcenabschnitt an.";
      return false;
    }
  }
  for (size_t i = 0; i < plan.rsrc; ++i) {
    if (sections[i].rawSize != 0 && sections[i].rawStart >= rsrc.rawStart) {
      why = "die Daten des Abschnitts " + SectionName(sections[i]) +
            " liegen in der Datei hinter dem Ressourcenabschnitt.";
      return false;
    }
  }
  return true;
}

// The data directories: none but resources and relocations may reach the resource section or
// what follows it, and the debug directory may not name file offsets there.
bool CheckDirectories(const std::vector<uint8_t>& program, const Image& image, const Plan& plan,
                      std::string& why) {
  const Section& rsrc = image.sections[plan.rsrc];
  for (uint32_t i = 0; i < image.directoryCount; ++i) {
    if (i == kDirResource || i == kDirSecurity || image.directorySize[i] == 0) continue;
    const uint64_t end = uint64_t(image.directoryRva[i]) + image.directorySize[i];
    if (i == kDirBaseReloc) {
      const Section* reloc = plan.reloc >= 0 ? &image.sections[plan.reloc] : nullptr;
      if (!reloc || image.directoryRva[i] < reloc->virtualAddress ||
          end > uint64_t(reloc->virtualAddress) + std::max(reloc->virtualSize, reloc->rawSize)) {
        why = "das Verzeichnis der Adresskorrekturen liegt nicht im Abschnitt .reloc.";
        return false;
      }
    } else if (end > rsrc.virtualAddress) {
      why = "das Datenverzeichnis " + std::to_string(i) +
            " zeigt in oder hinter den Ressourcenabschnitt.";
      return false;
    }
  }
  if (image.directoryCount > kDirDebug && image.directorySize[kDirDebug] != 0) {
    const uint64_t at = FileOffset(image, image.directoryRva[kDirDebug]);
    const uint32_t count = image.directorySize[kDirDebug] / 28;
    if (at == 0 || at + uint64_t(count) * 28 > program.size()) {
      why =
          "das Debug-Verzeichnis liegt au\xDF"
          "erhalb der Datei.";
      return false;
    }
    for (uint32_t i = 0; i < count; ++i) {
      const uint8_t* entry = &program[at + 28 * i];
      const uint64_t size = GetU32(entry + 16), rva = GetU32(entry + 20), raw = GetU32(entry + 24);
      if (size != 0 && ((rva != 0 && rva + size > rsrc.virtualAddress) ||
                        (raw != 0 && raw + size > rsrc.rawStart))) {
        why = "Debug-Daten liegen hinter dem Beginn des Ressourcenabschnitts.";
        return false;
      }
    }
  }
  if (GetU32(&program[image.peHeader + 4 + 8]) != 0) {  // PointerToSymbolTable
    why = "das Programm enth\xE4lt eine Symboltabelle.";
    return false;
  }
  return true;
}

// The base relocations: every block well formed and none patching a page of the resources or
// behind them, which would move.
bool CheckRelocations(const std::vector<uint8_t>& program, const Image& image, const Plan& plan,
                      std::string& why) {
  if (image.directoryCount <= kDirBaseReloc || image.directorySize[kDirBaseReloc] == 0) return true;
  const uint64_t at = FileOffset(image, image.directoryRva[kDirBaseReloc]);
  const uint64_t size = image.directorySize[kDirBaseReloc];
  const uint32_t limit = image.sections[plan.rsrc].virtualAddress;
  if (at == 0 || at + size > program.size()) {
    why =
        "die Adresskorrekturen liegen au\xDF"
        "erhalb der Datei.";
    return false;
  }
  for (uint64_t pos = 0; pos + 8 <= size;) {
    const uint32_t page = GetU32(&program[at + pos]), blockSize = GetU32(&program[at + pos + 4]);
    if (blockSize < 8 || blockSize % 2 != 0 || blockSize > size - pos) {
      why =
          "die Adresskorrekturen sind besch\xE4"
          "digt.";
      return false;
    }
    for (uint64_t e = 8; e + 2 <= blockSize; e += 2) {
      const uint16_t item = GetU16(&program[at + pos + e]);
      const unsigned type = item >> 12, width = type == 10 ? 8 : 4;  // DIR64, else HIGHLOW
      if (type != 0 && uint64_t(page) + (item & 0xFFF) + width > limit) {
        why = "eine Adresskorrektur betrifft den Ressourcenabschnitt oder was ihm folgt.";
        return false;
      }
    }
    pos += blockSize;
  }
  return true;
}

// The resources in the loader's order, or false (why set) when two share type, name and
// language or a name does not fit its length field.
bool SortResources(const std::vector<Resource>& resources, std::vector<const Resource*>& sorted,
                   std::string& why) {
  sorted.clear();
  for (const Resource& r : resources) {
    if (r.type.name.size() > 0xFFFF || r.name.name.size() > 0xFFFF) {
      why = "Der Name einer Ressource ist zu lang.";
      return false;
    }
    sorted.push_back(&r);
  }
  const auto less = [](const Resource* a, const Resource* b) {
    if (a->type < b->type || b->type < a->type) return a->type < b->type;
    if (a->name < b->name || b->name < a->name) return a->name < b->name;
    return a->language < b->language;
  };
  std::stable_sort(sorted.begin(), sorted.end(), less);
  for (size_t i = 1; i < sorted.size(); ++i) {
    if (!less(sorted[i - 1], sorted[i])) {
      why = "Die Ressource Typ " + Describe(sorted[i]->type) + ", Name " +
            Describe(sorted[i]->name) + ", Sprache " + std::to_string(sorted[i]->language) +
            " ist doppelt angegeben.";
      return false;
    }
  }
  return true;
}

bool SameId(const ResourceId& a, const ResourceId& b) { return !(a < b) && !(b < a); }

// Builds the resource section for sorted resources at rva: the directory tables breadth first
// (root, one per type, one per type and name), the names, the data entries, then the data, each
// item aligned to 8. Every field that could vary (time stamps, versions) is zero.
class SectionBuilder {
 public:
  SectionBuilder(const std::vector<const Resource*>& sorted, uint32_t rva)
      : sorted_(sorted), rva_(rva) {}

  // False when the section would not fit 32-bit offsets.
  bool Build(std::vector<uint8_t>& out) {
    Group();
    uint64_t tables = 16 + 8 * uint64_t(types_.size());
    for (const Type& t : types_) tables += 16 + 8 * uint64_t(t.names.size());
    for (const Type& t : types_)
      for (const Name& n : t.names) tables += 16 + 8 * uint64_t(n.count);
    uint64_t names = 0;
    for (const Type& t : types_) {
      names += NameBytes(sorted_[t.first]->type);
      for (const Name& n : t.names) names += NameBytes(sorted_[n.first]->name);
    }
    const uint64_t entries = AlignUp(tables + names, 8);
    uint64_t end = entries + 16 * uint64_t(sorted_.size());
    for (const Resource* r : sorted_) end = AlignUp(end, 8) + r->data.size();
    if (end > 0x7FFFFFFF || uint64_t(rva_) + end > 0xFFFFFFFFu) return false;
    out.assign(static_cast<size_t>(end), 0);
    out_ = &out;
    Lay(static_cast<uint32_t>(tables), static_cast<uint32_t>(entries));
    return true;
  }

 private:
  struct Name {
    size_t first = 0, count = 0;  // resources [first, first + count) share type and name
  };
  struct Type {
    size_t first = 0;
    std::vector<Name> names;
  };

  static uint64_t NameBytes(const ResourceId& id) {
    return id.name.empty() ? 0 : 2 + 2 * uint64_t(id.name.size());
  }

  void Group() {
    for (size_t i = 0; i < sorted_.size(); ++i) {
      const Resource& r = *sorted_[i];
      if (types_.empty() || !SameId(sorted_[types_.back().first]->type, r.type)) {
        types_.push_back(Type{i, {}});
      }
      std::vector<Name>& names = types_.back().names;
      if (names.empty() || !SameId(sorted_[names.back().first]->name, r.name)) {
        names.push_back(Name{i, 0});
      }
      ++names.back().count;
    }
  }

  void Put16(uint32_t at, uint16_t v) { PutU16(&(*out_)[at], v); }
  void Put32(uint32_t at, uint32_t v) { PutU32(&(*out_)[at], v); }

  // A directory header at table with its counts of named and numbered entries.
  void Header(uint32_t table, size_t named, size_t numbered) {
    Put16(table + 12, static_cast<uint16_t>(named));
    Put16(table + 14, static_cast<uint16_t>(numbered));
  }

  // Entry i of the table at table: id (a name is written at nameAt, which then advances) and
  // target (a subdirectory offset with the high bit, or a data entry offset).
  void Entry(uint32_t table, size_t i, const ResourceId& id, uint32_t target, uint32_t& nameAt) {
    const uint32_t at = table + 16 + 8 * static_cast<uint32_t>(i);
    if (id.name.empty()) {
      Put32(at, id.number);
    } else {
      Put32(at, 0x80000000u | nameAt);
      Put16(nameAt, static_cast<uint16_t>(id.name.size()));
      for (size_t k = 0; k < id.name.size(); ++k) Put16(nameAt + 2 + 2 * k, id.name[k]);
      nameAt += 2 + 2 * static_cast<uint32_t>(id.name.size());
    }
    Put32(at + 4, target);
  }

  void Lay(uint32_t tablesEnd, uint32_t entriesStart) {
    uint32_t nameAt = tablesEnd;
    // Offsets of the type tables and of the language tables, breadth first.
    uint32_t next = 16 + 8 * static_cast<uint32_t>(types_.size());
    std::vector<uint32_t> typeTables, langTables;
    for (const Type& t : types_) {
      typeTables.push_back(next);
      next += 16 + 8 * static_cast<uint32_t>(t.names.size());
    }
    for (const Type& t : types_)
      for (const Name& n : t.names) {
        langTables.push_back(next);
        next += 16 + 8 * static_cast<uint32_t>(n.count);
      }
    size_t named = 0;
    for (const Type& t : types_) named += !sorted_[t.first]->type.name.empty();
    Header(0, named, types_.size() - named);
    for (size_t ti = 0; ti < types_.size(); ++ti)
      Entry(0, ti, sorted_[types_[ti].first]->type, 0x80000000u | typeTables[ti], nameAt);
    size_t lang = 0;
    uint32_t dataEntry = entriesStart;
    uint64_t dataAt = entriesStart + 16 * uint64_t(sorted_.size());
    for (size_t ti = 0; ti < types_.size(); ++ti) {
      const Type& t = types_[ti];
      named = 0;
      for (const Name& n : t.names) named += !sorted_[n.first]->name.name.empty();
      Header(typeTables[ti], named, t.names.size() - named);
      for (size_t ni = 0; ni < t.names.size(); ++ni, ++lang) {
        const Name& n = t.names[ni];
        Entry(typeTables[ti], ni, sorted_[n.first]->name, 0x80000000u | langTables[lang], nameAt);
        Header(langTables[lang], 0, n.count);
        for (size_t li = 0; li < n.count; ++li) {
          const Resource& r = *sorted_[n.first + li];
          Entry(langTables[lang], li, ResourceId{r.language, {}}, dataEntry, nameAt);
          dataAt = AlignUp(dataAt, 8);
          Put32(dataEntry, rva_ + static_cast<uint32_t>(dataAt));
          Put32(dataEntry + 4, static_cast<uint32_t>(r.data.size()));
          Put32(dataEntry + 8, r.codePage);
          if (!r.data.empty()) std::memcpy(&(*out_)[dataAt], r.data.data(), r.data.size());
          dataAt += r.data.size();
          dataEntry += 16;
        }
      }
    }
  }

  const std::vector<const Resource*>& sorted_;
  uint32_t rva_;
  std::vector<Type> types_;
  std::vector<uint8_t>* out_ = nullptr;
};

// The image with the new section in place of the old one's bytes, .reloc moved behind it and
// every header field that depends on them set.
RewriteStatus Assemble(const std::vector<uint8_t>& program, const Image& image, const Plan& plan,
                       const std::vector<uint8_t>& section, std::vector<uint8_t>& out,
                       std::string* why) {
  const Section& rsrc = image.sections[plan.rsrc];
  const uint64_t newRaw = AlignUp(section.size(), image.fileAlignment);
  const uint64_t relocVa =
      AlignUp(uint64_t(rsrc.virtualAddress) + section.size(), image.sectionAlignment);
  const uint64_t tailStart = uint64_t(rsrc.rawStart) + rsrc.rawSize;
  const uint64_t total = rsrc.rawStart + newRaw + (program.size() - tailStart);
  std::vector<Section> sections = image.sections;
  sections[plan.rsrc].virtualSize = static_cast<uint32_t>(section.size());
  sections[plan.rsrc].rawSize = static_cast<uint32_t>(newRaw);
  int64_t deltaVa = 0;
  if (plan.reloc >= 0) {
    Section& reloc = sections[plan.reloc];
    deltaVa = int64_t(relocVa) - int64_t(reloc.virtualAddress);
    if (relocVa + std::max(reloc.virtualSize, reloc.rawSize) > 0xFFFFFFFFu)
      return Refuse(RewriteStatus::TooLarge, kWhyTooLarge, why);
    reloc.virtualAddress = static_cast<uint32_t>(relocVa);
    if (reloc.rawSize != 0) reloc.rawStart = static_cast<uint32_t>(rsrc.rawStart + newRaw);
  }
  uint64_t initialized = 0;
  for (const Section& s : sections)
    if (s.characteristics & kScnInitializedData) initialized += s.rawSize;
  const Section& last = sections.back();
  const uint64_t sizeOfImage =
      AlignUp(uint64_t(last.virtualAddress) + (last.virtualSize ? last.virtualSize : last.rawSize),
              image.sectionAlignment);
  if (total > 0x7FFFFFFF || sizeOfImage > 0xFFFFFFFFu || initialized > 0xFFFFFFFFu)
    return Refuse(RewriteStatus::TooLarge, kWhyTooLarge, why);

  out.clear();
  out.reserve(static_cast<size_t>(total));
  out.insert(out.end(), program.begin(), program.begin() + rsrc.rawStart);
  out.insert(out.end(), section.begin(), section.end());
  out.resize(static_cast<size_t>(rsrc.rawStart + newRaw), 0);
  out.insert(out.end(), program.begin() + static_cast<ptrdiff_t>(tailStart), program.end());

  const uint64_t table = image.optionalHeader + image.optionalSize;
  for (size_t i = 0; i < sections.size(); ++i) {
    uint8_t* h = &out[table + 40 * i];
    PutU32(h + 8, sections[i].virtualSize);
    PutU32(h + 12, sections[i].virtualAddress);
    PutU32(h + 16, sections[i].rawSize);
    PutU32(h + 20, sections[i].rawStart);
  }
  uint8_t* opt = &out[image.optionalHeader];
  PutU32(opt + kOptInitializedData, static_cast<uint32_t>(initialized));
  PutU32(opt + kOptSizeOfImage, static_cast<uint32_t>(sizeOfImage));
  const size_t dirsAt = image.pe32plus ? 112 : 96;
  PutU32(opt + dirsAt + 8 * kDirResource + 4, static_cast<uint32_t>(section.size()));
  if (image.directoryCount > kDirBaseReloc && image.directorySize[kDirBaseReloc] != 0) {
    PutU32(opt + dirsAt + 8 * kDirBaseReloc,
           static_cast<uint32_t>(image.directoryRva[kDirBaseReloc] + deltaVa));
  }
  PutU32(opt + kOptCheckSum, 0);
  PutU32(opt + kOptCheckSum, ImageChecksum(out, image.optionalHeader + kOptCheckSum));
  return RewriteStatus::Ok;
}

}  // namespace

uint32_t ImageChecksum(const std::vector<uint8_t>& image, uint64_t checksumOffset) {
  uint64_t sum = 0;
  for (size_t i = 0; i < image.size(); i += 2) {
    uint32_t word = image[i];
    if (i + 1 < image.size()) word |= uint32_t(image[i + 1]) << 8;
    if (i == checksumOffset || i == checksumOffset + 2) word = 0;
    sum += word;
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint32_t>(sum + image.size());
}

RewriteStatus RewriteResources(const std::vector<uint8_t>& program,
                               const std::vector<Resource>& resources, std::vector<uint8_t>& out,
                               std::string* why) {
  out.clear();
  MemoryByteSource src(program.data(), program.size());
  Image image;
  if (!ReadImage(src, image) || image.directoryCount <= kDirResource ||
      image.directoryRva[kDirResource] == 0 || image.sections.empty() ||
      program.size() < image.imageEnd) {
    return Refuse(RewriteStatus::NotAProgram, kWhyNotProgram, why);
  }
  if (image.CertificateStart() != 0 || image.CertificateLength() != 0)
    return Refuse(RewriteStatus::Signed, kWhySigned, why);
  if (program.size() > image.imageEnd)
    return Refuse(RewriteStatus::AppendedData, kWhyAppended, why);

  Plan plan;
  bool found = false;
  for (size_t i = 0; i < image.sections.size(); ++i) {
    if (image.sections[i].virtualAddress == image.directoryRva[kDirResource]) {
      plan.rsrc = i;
      found = true;
    }
  }
  std::string problem = "das Ressourcenverzeichnis beginnt nicht am Anfang eines Abschnitts.";
  if (!found || !CheckSections(program, image, plan, problem) ||
      !CheckDirectories(program, image, plan, problem) ||
      !CheckRelocations(program, image, plan, problem)) {
    return Refuse(RewriteStatus::LayoutUnsupported, kLayout + problem, why);
  }

  std::vector<const Resource*> sorted;
  if (!SortResources(resources, sorted, problem))
    return Refuse(RewriteStatus::InvalidResources, problem, why);
  std::vector<uint8_t> section;
  SectionBuilder builder(sorted, image.sections[plan.rsrc].virtualAddress);
  if (!builder.Build(section)) return Refuse(RewriteStatus::TooLarge, kWhyTooLarge, why);
  return Assemble(program, image, plan, section, out, why);
}

}  // namespace pe
