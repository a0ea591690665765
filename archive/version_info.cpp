#include "archive/version_info.h"

#include "platform/name_case.h"
#include "support/tus_strings.h"

namespace version_info {
namespace {

constexpr size_t kHeaderSize = 6;  // wLength, wValueLength, wType
constexpr size_t kFixedInfoSize = 52;
constexpr uint16_t kTypeBinary = 0, kTypeText = 1;

const char kRootKey[] = "VS_VERSION_INFO";
const char kStringFileInfoKey[] = "StringFileInfo";
const char kVarFileInfoKey[] = "VarFileInfo";
const char kTranslationKey[] = "Translation";

size_t Align4(size_t n) { return (n + 3) & ~size_t(3); }

void SetWhy(std::string* why, const std::string& text) {
  if (why) *why = text;
}

// --- writing ---------------------------------------------------------------------------------

// Appends UTF-16 units of a code page 1252 text (or an ASCII key) and its terminating zero.
void PutText(std::vector<uint8_t>& out, const std::string& text) {
  for (unsigned char c : text) {
    const uint16_t unit = platform::CodePointOf1252(c);
    out.push_back(static_cast<uint8_t>(unit));
    out.push_back(static_cast<uint8_t>(unit >> 8));
  }
  out.push_back(0);
  out.push_back(0);
}

void PadTo4(std::vector<uint8_t>& out) {
  while (out.size() % 4) out.push_back(0);
}

// Starts a block (4-aligned) with its key; returns where it starts. wLength is set by EndBlock.
size_t BeginBlock(std::vector<uint8_t>& out, const std::string& key, uint16_t valueLength,
                  uint16_t type) {
  PadTo4(out);
  const size_t start = out.size();
  out.resize(start + kHeaderSize);
  PutU16(&out[start + 2], valueLength);
  PutU16(&out[start + 4], type);
  PutText(out, key);
  PadTo4(out);
  return start;
}

// Sets the block's wLength; false when it does not fit 16 bits.
bool EndBlock(std::vector<uint8_t>& out, size_t start) {
  const size_t length = out.size() - start;
  if (length > 0xFFFF) return false;
  PutU16(&out[start], static_cast<uint16_t>(length));
  return true;
}

void PutFixedInfo(std::vector<uint8_t>& out, const VersionInfo& info) {
  const auto high = [](const VersionNumber& v) { return uint32_t(v.part[0]) << 16 | v.part[1]; };
  const auto low = [](const VersionNumber& v) { return uint32_t(v.part[2]) << 16 | v.part[3]; };
  const uint32_t fields[13] = {
      kFixedSignature,
      0x00010000,  // structure version 1.0
      high(info.fileVersion),
      low(info.fileVersion),
      high(info.productVersion),
      low(info.productVersion),
      0x3F,        // file flags mask: every defined flag
      0,           // file flags: a release build
      0x00040004,  // VOS_NT_WINDOWS32
      1,           // VFT_APP
      0,           // no subtype
      0,
      0,  // no file date
  };
  const size_t at = out.size();
  out.resize(at + kFixedInfoSize);
  for (int i = 0; i < 13; ++i) PutU32(&out[at + 4 * i], fields[i]);
}

bool PutStringFileInfo(std::vector<uint8_t>& out, const VersionInfo& info) {
  const size_t sfi = BeginBlock(out, kStringFileInfoKey, 0, kTypeText);
  const size_t table = BeginBlock(out, kGermanUnicodeTable, 0, kTypeText);
  for (const auto& pair : info.strings) {
    // The value's length in WCHARs, its terminating zero included.
    if (pair.second.size() + 1 > 0xFFFF) return false;
    const size_t s =
        BeginBlock(out, pair.first, static_cast<uint16_t>(pair.second.size() + 1), kTypeText);
    PutText(out, pair.second);
    if (!EndBlock(out, s)) return false;
  }
  return EndBlock(out, table) && EndBlock(out, sfi);
}

bool PutVarFileInfo(std::vector<uint8_t>& out) {
  const size_t vfi = BeginBlock(out, kVarFileInfoKey, 0, kTypeText);
  const size_t var = BeginBlock(out, kTranslationKey, 4, kTypeBinary);
  const size_t at = out.size();
  out.resize(at + 4);
  PutU16(&out[at], kLanguageGerman);
  PutU16(&out[at + 2], kCodePageUnicode);
  return EndBlock(out, var) && EndBlock(out, vfi);
}

// --- reading ---------------------------------------------------------------------------------

// One block as found in the data; every offset lies inside [start, end].
struct Block {
  size_t start = 0, end = 0;
  uint16_t valueLength = 0, type = 0;
  std::u16string key;
  size_t valueStart = 0, childrenStart = 0;
};

const char kMsgDamaged[] =
    "Die Versionsinformation ist besch\xE4"
    "digt: ";

std::string At(size_t offset) { return " (Offset " + std::to_string(offset) + ")."; }

// Reads the block at pos, which must end by limit.
bool ReadBlock(const uint8_t* data, size_t pos, size_t limit, Block& b, std::string* why) {
  if (limit < kHeaderSize || pos > limit - kHeaderSize) {
    SetWhy(why, kMsgDamaged + std::string("ein Block endet vor seinem Kopf") + At(pos));
    return false;
  }
  const size_t length = GetU16(data + pos);
  if (length < kHeaderSize || length > limit - pos) {
    SetWhy(why, kMsgDamaged + std::string("die L\xE4nge ") + std::to_string(length) +
                    " eines Blocks passt nicht in seinen Platz" + At(pos));
    return false;
  }
  b.start = pos;
  b.end = pos + length;
  b.valueLength = GetU16(data + pos + 2);
  b.type = GetU16(data + pos + 4);
  b.key.clear();
  size_t p = pos + kHeaderSize;
  for (;; p += 2) {
    if (p + 2 > b.end) {
      SetWhy(why, kMsgDamaged + std::string("der Name eines Blocks endet nicht") + At(pos));
      return false;
    }
    const uint16_t unit = GetU16(data + p);
    if (unit == 0) break;
    b.key.push_back(static_cast<char16_t>(unit));
  }
  b.valueStart = Align4(p + 2) < b.end ? Align4(p + 2) : b.end;
  const size_t valueBytes = b.type == kTypeText ? size_t(b.valueLength) * 2 : b.valueLength;
  if (b.type != kTypeText && valueBytes > b.end - b.valueStart) {
    SetWhy(why, kMsgDamaged +
                    std::string("der Wert eines Blocks reicht \xFC"
                                "ber sein Ende") +
                    At(pos));
    return false;
  }
  // A text whose length was counted in bytes by its writer is read up to the block's end.
  const size_t valueEnd = valueBytes > b.end - b.valueStart ? b.end : b.valueStart + valueBytes;
  b.childrenStart = Align4(valueEnd) < b.end ? Align4(valueEnd) : b.end;
  return true;
}

bool KeyIs(const Block& b, const char* key) {
  size_t i = 0;
  for (; key[i]; ++i)
    if (i >= b.key.size() || b.key[i] != static_cast<unsigned char>(key[i])) return false;
  return i == b.key.size();
}

// The code page 1252 byte of a UTF-16 unit, or '?' when the code page has none.
char ByteOf(uint16_t unit) {
  if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF)) return static_cast<char>(unit);
  for (int b = 0x80; b <= 0x9F; ++b)
    if (platform::CodePointOf1252(static_cast<unsigned char>(b)) == unit)
      return static_cast<char>(b);
  return '?';
}

// UTF-16 units to code page 1252, up to the first zero; a surrogate pair gives one '?'.
std::string Narrow(const uint8_t* data, size_t from, size_t to) {
  std::string text;
  for (size_t p = from; p + 2 <= to; p += 2) {
    const uint16_t unit = GetU16(data + p);
    if (unit == 0) break;
    if (unit >= 0xD800 && unit <= 0xDBFF && p + 4 <= to) {
      const uint16_t next = GetU16(data + p + 2);
      if (next >= 0xDC00 && next <= 0xDFFF) p += 2;
    }
    text.push_back(ByteOf(unit));
  }
  return text;
}

std::string Narrow(const std::u16string& key) {
  std::string text;
  for (char16_t unit : key) text.push_back(ByteOf(unit));
  return text;
}

// Calls visit for each child block of parent; false when one is damaged.
template <typename Visit>
bool ForEachChild(const uint8_t* data, const Block& parent, std::string* why, Visit visit) {
  size_t pos = parent.childrenStart;
  while (pos < parent.end && parent.end - pos >= kHeaderSize) {
    Block child;
    if (!ReadBlock(data, pos, parent.end, child, why) || !visit(child)) return false;
    pos = Align4(child.end);
  }
  return true;
}

bool ReadStringTable(const uint8_t* data, const Block& table, VersionInfo& out, std::string* why) {
  if (out.table.empty()) out.table = Narrow(table.key);
  return ForEachChild(data, table, why, [&](const Block& s) {
    const size_t valueBytes = s.type == kTypeText ? size_t(s.valueLength) * 2 : s.valueLength;
    const size_t end = valueBytes < s.end - s.valueStart ? s.valueStart + valueBytes : s.end;
    out.strings.emplace_back(Narrow(s.key), Narrow(data, s.valueStart, end));
    return true;
  });
}

}  // namespace

bool operator==(const VersionNumber& a, const VersionNumber& b) {
  for (int i = 0; i < 4; ++i)
    if (a.part[i] != b.part[i]) return false;
  return true;
}

bool ParseVersionNumber(const std::string& text, VersionNumber& out, std::string* why) {
  VersionNumber v;
  int parts = 0;
  size_t i = 0;
  bool ok = !text.empty();
  while (ok) {
    uint32_t value = 0;
    size_t digits = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) {
      value = value * 10 + static_cast<uint32_t>(text[i] - '0');
      if (value > 0xFFFF) break;
    }
    if (digits == 0 || value > 0xFFFF || parts == 4) {
      ok = false;
      break;
    }
    v.part[parts++] = static_cast<uint16_t>(value);
    if (i == text.size()) break;
    ok = text[i++] == '.';
  }
  if (!ok) {
    SetWhy(why, "Die Versionsnummer \"" + text +
                    "\" ist keine Zahl der Form a.b.c.d: ein bis vier Teile von 0 bis 65535, "
                    "durch Punkte getrennt.");
    return false;
  }
  out = v;
  return true;
}

std::string VersionNumberText(const VersionNumber& v) {
  return std::to_string(v.part[0]) + "." + std::to_string(v.part[1]) + "." +
         std::to_string(v.part[2]) + "." + std::to_string(v.part[3]);
}

bool BuildVersionInfo(const VersionInfo& info, std::vector<uint8_t>& out, std::string* why) {
  for (const auto& pair : info.strings) {
    if (pair.first.find('\0') != std::string::npos || pair.second.find('\0') != std::string::npos) {
      SetWhy(why, "Der Text f\xFCr " + pair.first.substr(0, pair.first.find('\0')) +
                      " der Versionsinformation enth\xE4lt ein Nullzeichen.");
      return false;
    }
  }
  std::vector<uint8_t> data;
  const size_t root = BeginBlock(data, kRootKey, kFixedInfoSize, kTypeBinary);
  PutFixedInfo(data, info);
  if (!PutStringFileInfo(data, info) || !PutVarFileInfo(data) || !EndBlock(data, root)) {
    SetWhy(why,
           "Die Texte der Versionsinformation sind zu lang: zusammen passen sie nicht in "
           "64 KB.");
    return false;
  }
  out.swap(data);
  return true;
}

bool ParseVersionInfo(const uint8_t* data, size_t size, VersionInfo& out, std::string* why) {
  VersionInfo info;
  Block root;
  if (!ReadBlock(data, 0, size, root, why)) return false;
  if (!KeyIs(root, kRootKey)) {
    SetWhy(why, kMsgDamaged + std::string("der erste Block hei\xDF"
                                          "t nicht VS_VERSION_INFO."));
    return false;
  }
  if (root.valueLength != 0) {
    if (root.valueLength != kFixedInfoSize || root.end - root.valueStart < kFixedInfoSize ||
        GetU32(data + root.valueStart) != kFixedSignature) {
      SetWhy(why, kMsgDamaged + std::string("die festen Versionsangaben fehlen oder tragen nicht "
                                            "die Kennung FEEF04BD."));
      return false;
    }
    const uint8_t* fixed = data + root.valueStart;
    const auto put = [](VersionNumber& v, uint32_t high, uint32_t low) {
      v.part[0] = static_cast<uint16_t>(high >> 16);
      v.part[1] = static_cast<uint16_t>(high);
      v.part[2] = static_cast<uint16_t>(low >> 16);
      v.part[3] = static_cast<uint16_t>(low);
    };
    put(info.fileVersion, GetU32(fixed + 8), GetU32(fixed + 12));
    put(info.productVersion, GetU32(fixed + 16), GetU32(fixed + 20));
  }
  const bool ok = ForEachChild(data, root, why, [&](const Block& child) {
    if (!KeyIs(child, kStringFileInfoKey)) return true;  // VarFileInfo and anything else
    return ForEachChild(data, child, why, [&](const Block& table) {
      return ReadStringTable(data, table, info, why);
    });
  });
  if (!ok) return false;
  out = std::move(info);
  return true;
}

}  // namespace version_info
