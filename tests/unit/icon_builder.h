// Small builders of .ico files for the tests: BMP-style and PNG images and the file around them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace icontest {

inline void Put16(std::vector<uint8_t>& v, uint32_t x) {
  v.push_back(uint8_t(x)), v.push_back(uint8_t(x >> 8));
}
inline void Put32(std::vector<uint8_t>& v, uint32_t x) { Put16(v, x), Put16(v, x >> 16); }
inline void Put32Big(std::vector<uint8_t>& v, uint32_t x) {
  for (int s = 24; s >= 0; s -= 8) v.push_back(uint8_t(x >> s));
}

// A BMP-style image of w x h pixels: header, colour table, XOR and AND masks, the pixels a
// pattern so that images differ. heightField 0 means the usual 2 * h.
inline std::vector<uint8_t> Dib(uint32_t w, uint32_t h, uint16_t bits, uint32_t heightField = 0) {
  std::vector<uint8_t> d;
  Put32(d, 40), Put32(d, w), Put32(d, heightField ? heightField : 2 * h);
  Put16(d, 1), Put16(d, bits);
  for (int i = 0; i < 6; ++i) Put32(d, 0);  // compression, sizes, resolution, colours
  const uint32_t palette = bits <= 8 ? 1u << bits : 0;
  const size_t pixels = palette * 4 + (w * bits + 31) / 32 * 4 * h + (w + 31) / 32 * 4 * h;
  for (size_t i = 0; i < pixels; ++i) d.push_back(uint8_t(i * 7 + w));
  return d;
}

// A PNG's signature, IHDR and IEND (the checksums left 0: only the header is read).
inline std::vector<uint8_t> Png(uint32_t w, uint32_t h, uint8_t depth = 8, uint8_t colorType = 6) {
  std::vector<uint8_t> d = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A,
                            0,    0,   0,   13,  'I',  'H',  'D',  'R'};
  Put32Big(d, w), Put32Big(d, h);
  d.insert(d.end(),
           {depth, colorType, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 'I', 'E', 'N', 'D', 0, 0, 0, 0});
  return d;
}

// One directory entry of an .ico file and its image. offset and size override the computed ones
// when not 0.
struct Entry {
  uint8_t width = 0, height = 0, colors = 0;
  uint16_t planes = 0, bits = 0;
  std::vector<uint8_t> data;
  uint32_t offset = 0, size = 0;
};

// Entries whose directory fields agree with a DIB or PNG of that size (256 written as 0).
inline Entry DibEntry(uint32_t side, uint16_t bits) {
  return Entry{uint8_t(side), uint8_t(side),        uint8_t(bits < 8 ? 1 << bits : 0), 1,
               bits,          Dib(side, side, bits)};
}
inline Entry PngEntry(uint32_t side) {
  return Entry{uint8_t(side), uint8_t(side), 0, 1, 32, Png(side, side)};
}

// The .ico file of entries; type 1 is an icon, 2 a cursor.
inline std::vector<uint8_t> Ico(const std::vector<Entry>& entries, uint16_t type = 1) {
  std::vector<uint8_t> f;
  Put16(f, 0), Put16(f, type), Put16(f, uint32_t(entries.size()));
  uint32_t at = uint32_t(6 + 16 * entries.size());
  for (const Entry& e : entries) {
    f.insert(f.end(), {e.width, e.height, e.colors, 0});
    Put16(f, e.planes), Put16(f, e.bits);
    Put32(f, e.size ? e.size : uint32_t(e.data.size()));
    Put32(f, e.offset ? e.offset : at);
    at += uint32_t(e.data.size());
  }
  for (const Entry& e : entries) f.insert(f.end(), e.data.begin(), e.data.end());
  return f;
}

}  // namespace icontest
