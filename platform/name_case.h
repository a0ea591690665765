// The case fold of file names in code page 1252, as Windows compares them: two names are the
// same file when they are equal byte for byte after this fold. It pairs A-Z with a-z, the
// accented capitals 0xC0-0xDE (less the multiplication sign 0xD7) with 0xE0-0xFE, and
// Š/š, Œ/œ, Ž/ž, Ÿ/ÿ. ß, µ and the signs have no partner in the code page and stay alone.
//
// Kept in a header of its own, free of any system call, because the POSIX emulation of the
// Windows name rules (masks, ini keys) and the archive's unpack plan must fold alike, and the
// extractor includes it without linking the platform layer.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// The Unicode code point of a code page 1252 byte. The five bytes the code page leaves undefined
// (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the C1 controls of the same value, as Windows maps them, so
// every byte has a code point and the mapping is reversible.
inline uint16_t CodePointOf1252(unsigned char c) {
  // Code points of the bytes 0x80-0x9F; the rest of the code page equals Latin-1.
  static const uint16_t kHigh[32] = {
      0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80-87
      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88-8F
      0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90-97
      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98-9F
  };
  return c >= 0x80 && c <= 0x9F ? kHigh[c - 0x80] : c;
}

// The lower-case partner of a code page 1252 byte, or the byte itself.
inline unsigned char FoldCase1252(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return static_cast<unsigned char>(c + 0x20);
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<unsigned char>(c + 0x20);
  switch (c) {
    case 0x8A:
      return 0x9A;  // S caron
    case 0x8C:
      return 0x9C;  // OE
    case 0x8E:
      return 0x9E;  // Z caron
    case 0x9F:
      return 0xFF;  // Y diaeresis
    default:
      return c;
  }
}

// True when a and b are the same name after the fold.
inline bool SameNameFolded1252(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (FoldCase1252(static_cast<unsigned char>(a[i])) !=
        FoldCase1252(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

}  // namespace platform

namespace platform {

// The upper-case partner of a code page 1252 byte, or the byte itself: the reverse of
// FoldCase1252.
inline unsigned char UpperCase1252(unsigned char c) {
  if (c >= 'a' && c <= 'z') return static_cast<unsigned char>(c - 0x20);
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<unsigned char>(c - 0x20);
  switch (c) {
    case 0x9A:
      return 0x8A;  // s caron
    case 0x9C:
      return 0x8C;  // oe
    case 0x9E:
      return 0x8E;  // z caron
    case 0xFF:
      return 0x9F;  // y diaeresis
    default:
      return c;
  }
}

// The order NTFS lists the names of one folder in: by the code points of the upper-cased names
// (Windows upper-cases file names as UpperCase1252 does),
// a prefix first; names equal in that order (which one NTFS folder cannot hold) by their bytes,
// so that every listing gets one fixed order.
inline bool NameOrderLess(const std::string& a, const std::string& b) {
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    const uint16_t ka = CodePointOf1252(UpperCase1252(static_cast<unsigned char>(a[i])));
    const uint16_t kb = CodePointOf1252(UpperCase1252(static_cast<unsigned char>(b[i])));
    if (ka != kb) return ka < kb;
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

}  // namespace platform
