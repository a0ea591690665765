// A tiny reader of produced program files for the tests, written apart from the product's own
// reader so that a fault shared by writer and reader cannot hide. It reads the tail offset, the
// settings block, the archive header and every entry, and keeps what is left over after the last
// whole entry.
#pragma once

#include <bzlib.h>
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace sfxtest {

inline uint32_t U16(const std::string& b, size_t at) {
  return uint32_t(uint8_t(b[at])) | (uint32_t(uint8_t(b[at + 1])) << 8);
}
inline uint32_t U32(const std::string& b, size_t at) { return U16(b, at) | (U16(b, at + 2) << 16); }
inline std::string LE16(uint32_t v) { return std::string{char(v & 0xFF), char((v >> 8) & 0xFF)}; }
inline std::string LE32(uint32_t v) { return LE16(v & 0xFFFF) + LE16(v >> 16); }
// A string as the settings block encodes it.
inline std::string Str(const std::string& s) { return LE16(uint32_t(s.size())) + s; }

struct SettingsBlock {
  uint8_t version = 0;
  std::vector<std::string> sources;
  uint8_t storeDirNames = 0, maxCompression = 0;
  std::string targetDir, sfxName, command, secondCommand, iconFile, dialogText, infoBefore,
      infoAfter;
  uint8_t terminates = 0;
  std::string dialogTitle;
  uint8_t targetEditable = 0, cleanUp = 0;
  size_t size = 0;  // bytes the block took
};

struct Entry {
  std::string name;
  uint32_t date[6] = {};
  uint32_t size = 0, compressedSize = 0;
  uint8_t method = 0, zeroByte = 0;
  uint32_t zeroWord = 0;
  std::string data;  // the compressed bytes
};

struct Archive {
  uint32_t settingsOffset = 0;
  SettingsBlock settings;
  std::string compressedPart;  // everything between the settings block and the tail
  bool hasHeader = false;
  std::string magic;
  uint32_t fileCount = 0, totalSize = 0, reserved = 0;
  uint8_t method = 0;
  std::vector<Entry> entries;
  std::string leftover;  // bytes after the last whole entry
};

// Parses one settings block at pos; false when it runs past end.
inline bool ParseSettings(const std::string& b, size_t pos, size_t end, SettingsBlock& s) {
  const size_t start = pos;
  auto u8 = [&](uint8_t& v) {
    if (pos + 1 > end) return false;
    v = uint8_t(b[pos++]);
    return true;
  };
  auto str = [&](std::string& v) {
    if (pos + 2 > end) return false;
    const size_t n = U16(b, pos);
    pos += 2;
    if (pos + n > end) return false;
    v = b.substr(pos, n);
    pos += n;
    return true;
  };
  if (!u8(s.version)) return false;
  if (pos + 2 > end) return false;
  const size_t count = U16(b, pos);
  pos += 2;
  s.sources.assign(count, std::string());
  for (std::string& src : s.sources) {
    if (!str(src)) return false;
  }
  bool ok = u8(s.storeDirNames) && u8(s.maxCompression) && str(s.targetDir) && str(s.sfxName) &&
            str(s.command) && str(s.secondCommand) && str(s.iconFile) && str(s.dialogText) &&
            str(s.infoBefore) && str(s.infoAfter) && u8(s.terminates) && str(s.dialogTitle) &&
            u8(s.targetEditable) && u8(s.cleanUp);
  s.size = pos - start;
  return ok;
}

// Parses a whole program file. False (with why) when the frame does not hold together.
inline bool Parse(const std::string& b, Archive& a, std::string* why = nullptr) {
  auto fail = [&](const char* w) {
    if (why) *why = w;
    return false;
  };
  if (b.size() < 4) return fail("shorter than the tail");
  const size_t tail = b.size() - 4;
  a.settingsOffset = U32(b, tail);
  if (a.settingsOffset > tail) return fail("offset beyond the file");
  if (!ParseSettings(b, a.settingsOffset, tail, a.settings)) return fail("settings block cut");
  size_t pos = a.settingsOffset + a.settings.size;
  a.compressedPart = b.substr(pos, tail - pos);
  if (pos == tail) return true;
  if (tail - pos < 17) return fail("archive header cut");
  a.hasHeader = true;
  a.magic = b.substr(pos, 4);
  a.fileCount = U32(b, pos + 4);
  a.totalSize = U32(b, pos + 8);
  a.reserved = U32(b, pos + 12);
  a.method = uint8_t(b[pos + 16]);
  pos += 17;
  while (pos < tail) {
    if (tail - pos < 2) break;
    const size_t n = U16(b, pos);
    if (tail - pos < 40 + n) break;
    Entry e;
    e.name = b.substr(pos + 2, n);
    const size_t p = pos + 2 + n;
    for (int i = 0; i < 6; ++i) e.date[i] = U32(b, p + 4 * i);
    e.size = U32(b, p + 24);
    e.compressedSize = U32(b, p + 28);
    e.method = uint8_t(b[p + 32]);
    e.zeroByte = uint8_t(b[p + 33]);
    e.zeroWord = U32(b, p + 34);
    if (tail - (p + 38) < e.compressedSize) break;
    e.data = b.substr(p + 38, e.compressedSize);
    a.entries.push_back(e);
    pos = p + 38 + e.compressedSize;
  }
  a.leftover = b.substr(pos, tail - pos);
  return true;
}

// The settings block the writer must produce for these values, built by hand.
inline std::string ExpectedSettingsBlock(const SettingsBlock& s) {
  std::string out(1, char(s.version));
  out += LE16(uint32_t(s.sources.size()));
  for (const std::string& src : s.sources) out += Str(src);
  out += char(s.storeDirNames);
  out += char(s.maxCompression);
  for (const std::string* t : {&s.targetDir, &s.sfxName, &s.command, &s.secondCommand, &s.iconFile,
                               &s.dialogText, &s.infoBefore, &s.infoAfter}) {
    out += Str(*t);
  }
  out += char(s.terminates);
  out += Str(s.dialogTitle);
  out += char(s.targetEditable);
  out += char(s.cleanUp);
  return out;
}

// bzip2 -9 of data in one call.
inline std::string Bzip2(const std::string& data) {
  std::vector<char> out(data.size() + data.size() / 100 + 700);
  unsigned int outLen = static_cast<unsigned int>(out.size());
  const int rc = BZ2_bzBuffToBuffCompress(out.data(), &outLen, const_cast<char*>(data.data()),
                                          static_cast<unsigned int>(data.size()), 9, 0, 0);
  if (rc != BZ_OK) return "<bzip2 failed>";
  return std::string(out.data(), outLen);
}

// Inflates one gzip file; ok tells whether it was one whole, valid gzip file and nothing else.
inline std::string Gunzip(const std::string& gz, bool* ok) {
  *ok = false;
  z_stream zs;
  std::memset(&zs, 0, sizeof zs);
  if (inflateInit2(&zs, 31) != Z_OK) return std::string();
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(gz.data()));
  zs.avail_in = static_cast<uInt>(gz.size());
  std::string out;
  char buf[16384];
  int rc;
  do {
    zs.next_out = reinterpret_cast<Bytef*>(buf);
    zs.avail_out = sizeof buf;
    rc = inflate(&zs, Z_NO_FLUSH);
    out.append(buf, sizeof buf - zs.avail_out);
  } while (rc == Z_OK);
  *ok = rc == Z_STREAM_END && zs.avail_in == 0;
  inflateEnd(&zs);
  return out;
}

// The bytes of a bzip2 stream decompressed; ok tells whether the stream was whole.
inline std::string Bunzip2(const std::string& bz, size_t expected, bool* ok) {
  std::vector<char> out(expected + 1);
  unsigned int outLen = static_cast<unsigned int>(out.size());
  const int rc = BZ2_bzBuffToBuffDecompress(out.data(), &outLen, const_cast<char*>(bz.data()),
                                            static_cast<unsigned int>(bz.size()), 0, 0);
  *ok = rc == BZ_OK;
  return std::string(out.data(), *ok ? outLen : 0);
}

// Deterministic test content: text-like runs mixed with noise, so both compressors have work.
inline std::string Content(size_t n, uint32_t seed) {
  std::string s(n, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < n; ++i) {
    x = x * 1103515245u + 12345u;
    const uint32_t r = x >> 16;
    s[i] = (i / 97) % 3 == 0 ? char(r & 0xFF) : char('a' + (i % 23));
  }
  return s;
}

}  // namespace sfxtest
