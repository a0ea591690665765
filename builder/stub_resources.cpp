// The pure parts of the vendor's look: the .ico file, the icon group, the version information and
// the manifest level. Nothing here reads a file or a PE image (builder/stub_customize.cpp does).
#include "builder/stub_resources.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "archive/archive_layout.h"
#include "archive/version_info.h"
#include "support/tus_strings.h"

namespace {

void SetWhy(std::string* why, const std::string& text) {
  if (why) *why = text;
}

// --- the .ico file -----------------------------------------------------------------------------

constexpr size_t kIcoHeaderSize = 6;    // reserved, type, count
constexpr size_t kIcoEntrySize = 16;    // the file's directory entry
constexpr size_t kGroupEntrySize = 14;  // RT_GROUP_ICON's entry: the file offset becomes an id
constexpr size_t kDibHeaderMin = 40;    // BITMAPINFOHEADER
constexpr uint32_t kMaxIconSide = 256;
const uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

uint32_t GetU32BigEndian(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

std::string ImageName(size_t index) { return "Bild " + std::to_string(index + 1); }

// What an image's own header says about it.
struct ImageFacts {
  uint32_t width = 0, height = 0;
  uint16_t bitCount = 0;
  uint32_t colors = 0;  // palette entries, for the group's colour count
};

// The facts of a PNG image from its IHDR. False, with why, for a damaged header or an image
// over 256 px.
bool ReadPngFacts(const std::vector<uint8_t>& d, const std::string& name, ImageFacts& f,
                  std::string* why) {
  // Signature, IHDR length and type, width, height, bit depth, colour type.
  if (d.size() < 8 + 8 + 10 || GetU32BigEndian(&d[8]) != 13 || std::memcmp(&d[12], "IHDR", 4)) {
    SetWhy(why, name + " ist ein PNG ohne g\xFCltigen Kopf (IHDR).");
    return false;
  }
  f.width = GetU32BigEndian(&d[16]);
  f.height = GetU32BigEndian(&d[20]);
  const unsigned depth = d[24], colorType = d[25];
  unsigned channels = 0;
  bool depthOk = false;
  switch (colorType) {
    case 0:  // grey
      channels = 1, depthOk = depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
      break;
    case 3:  // palette
      channels = 1, depthOk = depth == 1 || depth == 2 || depth == 4 || depth == 8;
      break;
    case 2:  // RGB
    case 4:  // grey and alpha
    case 6:  // RGBA
      channels = colorType == 2 ? 3 : colorType == 4 ? 2 : 4, depthOk = depth == 8 || depth == 16;
      break;
  }
  if (!depthOk) {
    SetWhy(why, name + " ist ein PNG mit der ung\xFCltigen Farbtiefe " + std::to_string(depth) +
                    " beim Farbtyp " + std::to_string(colorType) + ".");
    return false;
  }
  if (f.width == 0 || f.height == 0 || f.width > kMaxIconSide || f.height > kMaxIconSide) {
    SetWhy(why, name + " ist ein PNG von " + std::to_string(f.width) + " x " +
                    std::to_string(f.height) +
                    " Pixeln; ein Symbol darf h\xF6"
                    "chstens 256 x 256 Pixel gro\xDF sein.");
    return false;
  }
  f.bitCount = static_cast<uint16_t>(depth * channels);
  f.colors = colorType == 3 && depth < 8 ? 1u << depth : 0;
  return true;
}

// The facts of a BMP-style image (BITMAPINFOHEADER, colour table, XOR and AND masks). False, with
// why, when the header is not one Windows draws or the image's pixels do not fit its data.
bool ReadDibFacts(const std::vector<uint8_t>& d, const std::string& name, ImageFacts& f,
                  std::string* why) {
  const uint32_t headerSize = d.size() >= 4 ? GetU32(&d[0]) : 0;
  if (d.size() < kDibHeaderMin || headerSize < kDibHeaderMin || headerSize > d.size()) {
    SetWhy(why, name +
                    " hat keinen g\xFCltigen Bildkopf (BITMAPINFOHEADER von mindestens 40 "
                    "Bytes, hier " +
                    std::to_string(headerSize) + ").");
    return false;
  }
  const int32_t width = static_cast<int32_t>(GetU32(&d[4]));
  const int32_t height2 = static_cast<int32_t>(GetU32(&d[8]));  // XOR and AND masks together
  const uint16_t planes = GetU16(&d[12]), bits = GetU16(&d[14]);
  const uint32_t compression = GetU32(&d[16]), colorsUsed = GetU32(&d[32]);
  if (width < 1 || width > int32_t(kMaxIconSide) || height2 < 2 ||
      height2 > int32_t(2 * kMaxIconSide) || height2 % 2) {
    SetWhy(why, name +
                    " hat die ung\xFCltigen Ma\xDF"
                    "e " +
                    std::to_string(width) + " x " + std::to_string(height2) +
                    " (erlaubt: 1 bis 256 Pixel breit, die doppelte H\xF6he von 2 bis 512).");
    return false;
  }
  const bool bitsOk = bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
  // BI_RGB, or BI_BITFIELDS for 16 and 32 bits.
  const bool compressionOk = compression == 0 || (compression == 3 && (bits == 16 || bits == 32));
  if (planes != 1 || !bitsOk || !compressionOk || colorsUsed > 256) {
    SetWhy(why, name + " hat ein Bildformat, das Windows als Symbol nicht zeichnet (Ebenen " +
                    std::to_string(planes) + ", " + std::to_string(bits) + " Bit, Kompression " +
                    std::to_string(compression) + ", " + std::to_string(colorsUsed) + " Farben).");
    return false;
  }
  const uint64_t w = uint32_t(width), h = uint32_t(height2) / 2;
  const uint64_t palette = colorsUsed ? colorsUsed : bits <= 8 ? 1u << bits : 0;
  const uint64_t masks = compression == 3 && headerSize == kDibHeaderMin ? 12 : 0;
  const uint64_t xorBytes = (w * bits + 31) / 32 * 4 * h;
  const uint64_t andBytes = (w + 31) / 32 * 4 * h;
  const uint64_t need = headerSize + masks + palette * 4 + xorBytes + andBytes;
  if (need > d.size()) {
    SetWhy(why, name + " (" + std::to_string(w) + " x " + std::to_string(h) + " Pixel, " +
                    std::to_string(bits) + " Bit) braucht " + std::to_string(need) +
                    " Bytes, die Datei gibt ihm nur " + std::to_string(d.size()) + ".");
    return false;
  }
  f.width = uint32_t(w);
  f.height = uint32_t(h);
  f.bitCount = bits;
  f.colors = bits < 8 ? uint32_t(palette) : 0;
  return true;
}

// Checks one directory entry and copies its image. False, with why, for an image that cannot be
// read or used.
bool ReadIconImage(const std::vector<uint8_t>& bytes, size_t directoryEnd, size_t index,
                   IconImage& image, std::string* why) {
  const uint8_t* e = &bytes[kIcoHeaderSize + index * kIcoEntrySize];
  const std::string name = ImageName(index);
  const uint32_t size = GetU32(e + 8), offset = GetU32(e + 12);
  const uint64_t end = uint64_t(offset) + size;
  if (end > 0xFFFFFFFFu) {
    SetWhy(why, name + ": Position " + std::to_string(offset) +
                    " und Gr\xF6\xDF"
                    "e " +
                    std::to_string(size) +
                    " laufen \xFC"
                    "ber (zusammen mehr als 4 GB).");
    return false;
  }
  if (end > bytes.size()) {
    SetWhy(why, name +
                    " reicht \xFC"
                    "ber das Dateiende hinaus (Position " +
                    std::to_string(offset) +
                    ", Gr\xF6\xDF"
                    "e " +
                    std::to_string(size) + ", die Datei hat " + std::to_string(bytes.size()) +
                    " Bytes).");
    return false;
  }
  if (size == 0 || offset < directoryEnd) {
    SetWhy(why, name + " ist leer oder liegt im Verzeichnis der Datei (Position " +
                    std::to_string(offset) +
                    ", Gr\xF6\xDF"
                    "e " +
                    std::to_string(size) + ").");
    return false;
  }
  image.data.assign(bytes.begin() + offset, bytes.begin() + end);
  ImageFacts f;
  const bool png = image.data.size() >= 8 && !std::memcmp(image.data.data(), kPngSignature, 8);
  if (png ? !ReadPngFacts(image.data, name, f, why) : !ReadDibFacts(image.data, name, f, why))
    return false;
  const char* mark = layout::kStubMethodMark;
  if (std::search(image.data.begin(), image.data.end(), mark, mark + std::strlen(mark)) !=
      image.data.end()) {
    SetWhy(why, name + " enth\xE4lt den Text \"" + mark +
                    "\", an dem tambrixc das Entpackprogramm erkennt.");
    return false;
  }
  // The image's own header decides: a directory entry that says otherwise is not believed.
  image.width = static_cast<uint8_t>(f.width == kMaxIconSide ? 0 : f.width);
  image.height = static_cast<uint8_t>(f.height == kMaxIconSide ? 0 : f.height);
  image.colorCount = static_cast<uint8_t>(f.colors < 256 ? f.colors : 0);
  image.planes = 1;
  image.bitCount = f.bitCount;
  return true;
}

}  // namespace

// --- the texts and levels ------------------------------------------------------------------------

bool VersionTexts::Empty() const {
  return productName.empty() && productVersion.empty() && fileVersion.empty() && company.empty() &&
         description.empty() && copyright.empty();
}

bool StubLook::Empty() const {
  return iconFile.empty() && version.Empty() && level == ExecutionLevel::AsInvoker;
}

const char* ExecutionLevelName(ExecutionLevel level) {
  switch (level) {
    case ExecutionLevel::HighestAvailable:
      return "highestAvailable";
    case ExecutionLevel::RequireAdministrator:
      return "requireAdministrator";
    case ExecutionLevel::AsInvoker:
      break;
  }
  return "asInvoker";
}

bool ParseExecutionLevel(const std::string& text, ExecutionLevel& level) {
  for (ExecutionLevel l : {ExecutionLevel::AsInvoker, ExecutionLevel::HighestAvailable,
                           ExecutionLevel::RequireAdministrator}) {
    if (text == ExecutionLevelName(l)) {
      level = l;
      return true;
    }
  }
  return false;
}

// --- the icon ------------------------------------------------------------------------------------

bool ParseIconFile(const std::vector<uint8_t>& bytes, std::vector<IconImage>& images,
                   std::string* why) {
  if (bytes.size() < kIcoHeaderSize) {
    SetWhy(why, "Die Datei ist mit " + std::to_string(bytes.size()) +
                    " Bytes zu kurz f\xFCr den Kopf einer Symboldatei.");
    return false;
  }
  const uint16_t reserved = GetU16(&bytes[0]), type = GetU16(&bytes[2]), count = GetU16(&bytes[4]);
  if (reserved == 0 && type == 2) {
    SetWhy(why, "Die Datei ist ein Mauszeiger (Typ 2), kein Symbol.");
    return false;
  }
  if (reserved != 0 || type != 1) {
    SetWhy(why, "Die Datei ist keine Symboldatei (Kopf " + std::to_string(reserved) + ", Typ " +
                    std::to_string(type) + ").");
    return false;
  }
  if (count == 0) {
    SetWhy(why, "Die Symboldatei enth\xE4lt keine Bilder.");
    return false;
  }
  if (bytes.size() < kIcoHeaderSize + kIcoEntrySize * count) {
    SetWhy(why, "Die Datei endet im Verzeichnis ihrer " + std::to_string(count) + " Bilder.");
    return false;
  }
  std::vector<IconImage> result(count);
  for (size_t i = 0; i < count; ++i)
    if (!ReadIconImage(bytes, kIcoHeaderSize + kIcoEntrySize * count, i, result[i], why))
      return false;
  images.swap(result);
  return true;
}

namespace {

bool IsNumbered(const pe::ResourceId& id, uint16_t number) {
  return id.name.empty() && id.number == number;
}

// The RT_ICON numbers an icon group names.
std::set<uint16_t> ImagesOfGroup(const pe::Resource& group) {
  std::set<uint16_t> ids;
  const size_t n = group.data.size() >= kIcoHeaderSize ? GetU16(&group.data[4]) : 0;
  for (size_t i = 0; i < n && kIcoHeaderSize + (i + 1) * kGroupEntrySize <= group.data.size(); ++i)
    ids.insert(GetU16(&group.data[kIcoHeaderSize + i * kGroupEntrySize + 12]));
  return ids;
}

// Removes icon group 1 (every language) and the images only it names; returns the language of
// the first group 1 found, German when there was none.
uint16_t RemoveGroupOne(std::vector<pe::Resource>& resources) {
  std::set<uint16_t> oldImages, keptImages;
  uint16_t language = pe::kLangGerman;
  bool found = false;
  for (const pe::Resource& r : resources) {
    if (!IsNumbered(r.type, pe::kTypeGroupIcon)) continue;
    const bool ours = IsNumbered(r.name, 1);
    if (ours && !found) language = r.language, found = true;
    for (uint16_t id : ImagesOfGroup(r)) (ours ? oldImages : keptImages).insert(id);
  }
  for (uint16_t id : keptImages) oldImages.erase(id);
  const auto old = [&](const pe::Resource& r) {
    if (IsNumbered(r.type, pe::kTypeGroupIcon)) return IsNumbered(r.name, 1);
    return IsNumbered(r.type, pe::kTypeIcon) && r.name.name.empty() &&
           oldImages.count(r.name.number) > 0;
  };
  resources.erase(std::remove_if(resources.begin(), resources.end(), old), resources.end());
  return language;
}

}  // namespace

void ReplaceIcon(std::vector<pe::Resource>& resources, const std::vector<IconImage>& images) {
  const uint16_t language = RemoveGroupOne(resources);
  std::set<uint32_t> used;
  for (const pe::Resource& r : resources)
    if (IsNumbered(r.type, pe::kTypeIcon) && r.name.name.empty()) used.insert(r.name.number);

  pe::Resource group;
  group.type.number = pe::kTypeGroupIcon;
  group.name.number = 1;
  group.language = language;
  group.data.resize(kIcoHeaderSize + kGroupEntrySize * images.size());
  PutU16(&group.data[2], 1);
  PutU16(&group.data[4], static_cast<uint16_t>(images.size()));
  uint32_t next = 1;  // a .ico holds at most 65535 images, a stub a handful of icons
  for (size_t i = 0; i < images.size(); ++i) {
    while (used.count(next)) ++next;
    const IconImage& image = images[i];
    uint8_t* e = &group.data[kIcoHeaderSize + i * kGroupEntrySize];
    e[0] = image.width, e[1] = image.height, e[2] = image.colorCount, e[3] = 0;
    PutU16(e + 4, image.planes);
    PutU16(e + 6, image.bitCount);
    PutU32(e + 8, static_cast<uint32_t>(image.data.size()));
    PutU16(e + 12, static_cast<uint16_t>(next));
    pe::Resource icon;
    icon.type.number = pe::kTypeIcon;
    icon.name.number = static_cast<uint16_t>(next++);
    icon.language = language;
    icon.data = image.data;
    resources.push_back(std::move(icon));
  }
  resources.push_back(std::move(group));
}

// --- the version information ---------------------------------------------------------------------

bool MakeVersionInfo(const VersionTexts& texts, std::vector<uint8_t>& data, std::string* why) {
  version_info::VersionInfo info;
  std::string reason;
  if (!texts.fileVersion.empty() &&
      !version_info::ParseVersionNumber(texts.fileVersion, info.fileVersion, &reason)) {
    SetWhy(why, "Die Dateiversion ist ung\xFCltig. " + reason);
    return false;
  }
  if (!texts.productVersion.empty() &&
      !version_info::ParseVersionNumber(texts.productVersion, info.productVersion, &reason)) {
    SetWhy(why, "Die Produktversion ist ung\xFCltig. " + reason);
    return false;
  }
  const std::pair<const char*, const std::string*> keys[] = {
      {"CompanyName", &texts.company},     {"FileDescription", &texts.description},
      {"FileVersion", &texts.fileVersion}, {"LegalCopyright", &texts.copyright},
      {"ProductName", &texts.productName}, {"ProductVersion", &texts.productVersion},
  };
  for (const auto& key : keys)
    if (!key.second->empty()) info.strings.emplace_back(key.first, *key.second);
  return version_info::BuildVersionInfo(info, data, why);
}

// --- the manifest --------------------------------------------------------------------------------

namespace {

constexpr char kLevelElement[] = "requestedExecutionLevel";

bool IsXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Where the value of the level attribute of the element whose start tag begins at tag lies:
// [valueStart, valueEnd). False when the tag has no such attribute or is not closed.
bool FindLevelValue(const std::string& m, size_t tag, size_t& valueStart, size_t& valueEnd) {
  size_t p = tag;
  while (p < m.size() && !IsXmlSpace(m[p]) && m[p] != '/' && m[p] != '>') ++p;  // the name
  for (;;) {
    while (p < m.size() && IsXmlSpace(m[p])) ++p;
    if (p >= m.size() || m[p] == '/' || m[p] == '>') return false;
    const size_t nameStart = p;
    while (p < m.size() && !IsXmlSpace(m[p]) && m[p] != '=' && m[p] != '/' && m[p] != '>') ++p;
    const std::string name = m.substr(nameStart, p - nameStart);
    while (p < m.size() && IsXmlSpace(m[p])) ++p;
    if (p >= m.size() || m[p] != '=') return false;
    ++p;
    while (p < m.size() && IsXmlSpace(m[p])) ++p;
    if (p >= m.size() || (m[p] != '"' && m[p] != '\'')) return false;
    const size_t close = m.find(m[p], p + 1);
    if (close == std::string::npos) return false;
    if (name == "level") {
      valueStart = p + 1;
      valueEnd = close;
      return true;
    }
    p = close + 1;
  }
}

// Where the start tags of elements named kLevelElement (with or without a prefix) begin, at their
// name; comments, processing instructions and CDATA are skipped.
std::vector<size_t> FindLevelElements(const std::string& m) {
  std::vector<size_t> found;
  const size_t nameLength = std::strlen(kLevelElement);
  for (size_t p = m.find('<'); p != std::string::npos; p = m.find('<', p)) {
    const char* skipTo = m.compare(p, 4, "<!--") == 0        ? "-->"
                         : m.compare(p, 9, "<![CDATA[") == 0 ? "]]>"
                         : m.compare(p, 2, "<?") == 0        ? "?>"
                                                             : nullptr;
    if (skipTo) {
      p = m.find(skipTo, p + 2);
      if (p == std::string::npos) break;
      continue;
    }
    size_t nameEnd = ++p;
    while (nameEnd < m.size() && !IsXmlSpace(m[nameEnd]) && m[nameEnd] != '/' && m[nameEnd] != '>')
      ++nameEnd;
    const size_t colon = m.rfind(':', nameEnd - 1);
    const size_t local = colon != std::string::npos && colon >= p ? colon + 1 : p;
    if (nameEnd - local == nameLength && m.compare(local, nameLength, kLevelElement) == 0)
      found.push_back(p);
  }
  return found;
}

}  // namespace

bool SetExecutionLevel(std::string& manifest, ExecutionLevel level, std::string* why) {
  const std::vector<size_t> elements = FindLevelElements(manifest);
  if (elements.size() != 1) {
    const std::string what =
        elements.empty() ? "kein Element" : std::to_string(elements.size()) + " Elemente";
    SetWhy(why, "Das Manifest des Entpackprogramms enth\xE4lt " + what + " " + kLevelElement +
                    "; die Rechtestufe " + ExecutionLevelName(level) +
                    " kann nicht eingetragen werden.");
    return false;
  }
  size_t valueStart = 0, valueEnd = 0;
  if (!FindLevelValue(manifest, elements[0], valueStart, valueEnd)) {
    SetWhy(why, std::string("Das Element ") + kLevelElement +
                    " im Manifest des Entpackprogramms hat kein Attribut level; die Rechtestufe " +
                    ExecutionLevelName(level) + " kann nicht eingetragen werden.");
    return false;
  }
  manifest.replace(valueStart, valueEnd - valueStart, ExecutionLevelName(level));
  return true;
}
